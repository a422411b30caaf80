#include <coreplugin/dialogs/ioptionspage.h>

#include <QAbstractButton>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QRegularExpression>

namespace Core {
namespace Internal {

class IOptionsPageWidgetPrivate
{
public:
    std::function<void()> onApply;
    std::function<void()> onCancel;
    std::function<void()> onFinish;
};

class IOptionsPagePrivate
{
public:
    Utils::Id id;
    Utils::Id category;
    QString displayName;
    IOptionsPage::WidgetCreator widgetCreator;
    QPointer<QWidget> widget;
    bool registered = false;
};

struct Category
{
    QString displayName;
    Utils::FilePath iconPath;
};

static QList<IOptionsPage *> &optionsPages()
{
    static QList<IOptionsPage *> pages;
    return pages;
}

static QHash<Utils::Id, Category> &categories()
{
    static QHash<Utils::Id, Category> theCategories;
    return theCategories;
}

} // namespace Internal

IOptionsPageWidget::IOptionsPageWidget()
    : d(std::make_unique<Internal::IOptionsPageWidgetPrivate>())
{}

IOptionsPageWidget::~IOptionsPageWidget() = default;

void IOptionsPageWidget::setOnApply(const std::function<void()> &func)
{
    d->onApply = func;
}

void IOptionsPageWidget::setOnCancel(const std::function<void()> &func)
{
    d->onCancel = func;
}

void IOptionsPageWidget::setOnFinish(const std::function<void()> &func)
{
    d->onFinish = func;
}

void IOptionsPageWidget::apply()
{
    if (d->onApply)
        d->onApply();
}

void IOptionsPageWidget::cancel()
{
    if (d->onCancel)
        d->onCancel();
}

void IOptionsPageWidget::finish()
{
    if (d->onFinish)
        d->onFinish();
}

IOptionsPage::IOptionsPage(bool registerGlobally)
    : d(std::make_unique<Internal::IOptionsPagePrivate>())
{
    if (registerGlobally) {
        Internal::optionsPages().append(this);
        d->registered = true;
    }
}

IOptionsPage::~IOptionsPage()
{
    if (d->registered)
        Internal::optionsPages().removeOne(this);
    // A widget that was handed to a dialog belongs to it; one that never was is ours.
    if (d->widget && !d->widget->parent())
        delete d->widget;
}

void IOptionsPage::registerCategory(Utils::Id id, const QString &displayName,
                                    const Utils::FilePath &iconPath)
{
    Internal::categories().insert(id, {displayName, iconPath});
}

const QList<IOptionsPage *> IOptionsPage::allOptionsPages()
{
    return Internal::optionsPages();
}

Utils::Id IOptionsPage::id() const
{
    return d->id;
}

QString IOptionsPage::displayName() const
{
    return d->displayName;
}

Utils::Id IOptionsPage::category() const
{
    return d->category;
}

QString IOptionsPage::displayCategory() const
{
    return Internal::categories().value(d->category).displayName;
}

Utils::FilePath IOptionsPage::categoryIconPath() const
{
    return Internal::categories().value(d->category).iconPath;
}

void IOptionsPage::setWidgetCreator(const WidgetCreator &widgetCreator)
{
    d->widgetCreator = widgetCreator;
}

QWidget *IOptionsPage::widget()
{
    if (!d->widget && d->widgetCreator)
        d->widget = d->widgetCreator();
    return d->widget;
}

void IOptionsPage::apply()
{
    if (auto widget = qobject_cast<IOptionsPageWidget *>(d->widget))
        widget->apply();
}

void IOptionsPage::cancel()
{
    if (auto widget = qobject_cast<IOptionsPageWidget *>(d->widget))
        widget->cancel();
}

void IOptionsPage::finish()
{
    if (auto widget = qobject_cast<IOptionsPageWidget *>(d->widget))
        widget->finish();
    delete d->widget;
}

bool IOptionsPage::matches(const QRegularExpression &regexp) const
{
    if (d->displayName.contains(regexp))
        return true;
    const QStringList words = keywords();
    for (const QString &keyword : words) {
        if (keyword.contains(regexp))
            return true;
    }
    return false;
}

QStringList IOptionsPage::keywords() const
{
    // Without explicit keywords, the texts of an existing widget's labels, buttons and groups.
    QStringList words;
    if (!d->widget)
        return words;
    const auto labels = d->widget->findChildren<QLabel *>();
    for (const QLabel *label : labels)
        words.append(label->text());
    const auto buttons = d->widget->findChildren<QAbstractButton *>();
    for (const QAbstractButton *button : buttons)
        words.append(button->text());
    const auto groups = d->widget->findChildren<QGroupBox *>();
    for (const QGroupBox *group : groups)
        words.append(group->title());
    words.removeAll(QString());
    for (QString &word : words)
        word.remove(QLatin1Char('&'));
    return words;
}

void IOptionsPage::setId(Utils::Id id)
{
    d->id = id;
}

void IOptionsPage::setDisplayName(const QString &displayName)
{
    d->displayName = displayName;
}

void IOptionsPage::setCategory(Utils::Id category)
{
    d->category = category;
}

} // namespace Core
