#pragma once

#include <coreplugin/core_global.h>

#include <utils/filepath.h>
#include <utils/id.h>

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

QT_BEGIN_NAMESPACE
class QRegularExpression;
QT_END_NAMESPACE

namespace Core {

namespace Internal { class IOptionsPagePrivate; class IOptionsPageWidgetPrivate; }

class IOptionsPage;

// The widget of an options page. The page forwards apply, cancel and finish to it; the defaults
// call the functions given with setOnApply(), setOnCancel() and setOnFinish().
class CORE_EXPORT IOptionsPageWidget : public QWidget
{
    Q_OBJECT

public:
    IOptionsPageWidget();
    ~IOptionsPageWidget() override;

    void setOnApply(const std::function<void()> &func);
    void setOnCancel(const std::function<void()> &func);
    void setOnFinish(const std::function<void()> &func);

protected:
    friend class IOptionsPage;
    virtual void apply();
    virtual void cancel();
    virtual void finish();

private:
    std::unique_ptr<Internal::IOptionsPageWidgetPrivate> d;
};

// A page of the options dialog. Pages constructed with registerGlobally are listed by
// allOptionsPages() from construction until destruction. The widget is created on first use.
class CORE_EXPORT IOptionsPage
{
    Q_DISABLE_COPY_MOVE(IOptionsPage)

public:
    explicit IOptionsPage(bool registerGlobally = true);
    virtual ~IOptionsPage();

    static void registerCategory(Utils::Id id, const QString &displayName,
                                 const Utils::FilePath &iconPath);
    static const QList<IOptionsPage *> allOptionsPages();

    Utils::Id id() const;
    QString displayName() const;
    Utils::Id category() const;
    QString displayCategory() const;
    Utils::FilePath categoryIconPath() const;

    using WidgetCreator = std::function<QWidget *()>;
    void setWidgetCreator(const WidgetCreator &widgetCreator);

    virtual QWidget *widget();
    virtual void apply();
    virtual void cancel();
    virtual void finish();

    virtual bool matches(const QRegularExpression &regexp) const;

protected:
    virtual QStringList keywords() const;

    void setId(Utils::Id id);
    void setDisplayName(const QString &displayName);
    void setCategory(Utils::Id category);

private:
    std::unique_ptr<Internal::IOptionsPagePrivate> d;
};

} // namespace Core
