#include <utils/fancylineedit.h>

#include <coreplugin/icore.h>
#include <utils/qtcsettings.h>

#include <QAbstractButton>
#include <QCompleter>
#include <QResizeEvent>
#include <QStringListModel>
#include <QStyle>
#include <QToolButton>

namespace Utils {
namespace Internal {

class FancyLineEditPrivate
{
public:
    QToolButton *buttons[2] = {nullptr, nullptr};
    bool buttonVisible[2] = {false, false};
    bool isFiltering = false;
    QString lastFilterText;
    QString oldPlaceholderText;
    Key historyKey;
    QStringListModel *historyModel = nullptr;
};

static constexpr int maxHistoryItems = 50;

} // namespace Internal

FancyLineEdit::FancyLineEdit(QWidget *parent)
    : CompletingLineEdit(parent)
    , d(std::make_unique<Internal::FancyLineEditPrivate>())
{
    for (int i = 0; i < 2; ++i) {
        auto button = new QToolButton(this);
        button->setCursor(Qt::ArrowCursor);
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRaise(true);
        button->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0px; }"));
        button->hide();
        const Side side = Side(i);
        connect(button, &QToolButton::clicked, this, [this, side] { iconClicked(side); });
        d->buttons[i] = button;
    }
    connect(this, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (!d->isFiltering)
            return;
        setButtonVisible(Right, !text.isEmpty());
        if (text != d->lastFilterText) {
            d->lastFilterText = text;
            emit filterChanged(text);
        }
    });
    connect(this, &QLineEdit::returnPressed, this, [this] {
        if (isValid())
            emit validReturnPressed();
    });
    connect(this, &QLineEdit::editingFinished, this, &FancyLineEdit::onEditingFinished);
}

FancyLineEdit::~FancyLineEdit() = default;

void FancyLineEdit::setTextKeepingActiveCursor(const QString &text)
{
    const int position = cursorPosition();
    setText(text);
    setCursorPosition(qMin(position, int(text.size())));
}

QIcon FancyLineEdit::buttonIcon(Side side) const
{
    return d->buttons[side]->icon();
}

void FancyLineEdit::setButtonIcon(Side side, const QIcon &icon)
{
    d->buttons[side]->setIcon(icon);
    updateMargins();
}

void FancyLineEdit::setButtonVisible(Side side, bool visible)
{
    d->buttonVisible[side] = visible;
    d->buttons[side]->setVisible(visible);
    updateMargins();
}

bool FancyLineEdit::isButtonVisible(Side side) const
{
    return d->buttonVisible[side];
}

QAbstractButton *FancyLineEdit::button(Side side) const
{
    return d->buttons[side];
}

void FancyLineEdit::setButtonToolTip(Side side, const QString &tip)
{
    d->buttons[side]->setToolTip(tip);
}

void FancyLineEdit::setHistoryCompleter(const Key &historyKey, bool restoreLastItemFromHistory)
{
    d->historyKey = Key("CompleterHistory/") + historyKey;
    QStringList history;
    if (QtcSettings *settings = Core::ICore::settings())
        history = settings->value(d->historyKey).toStringList();
    if (!d->historyModel) {
        d->historyModel = new QStringListModel(this);
        auto completer = new QCompleter(d->historyModel, this);
        completer->setCaseSensitivity(Qt::CaseInsensitive);
        setCompleter(completer);
    }
    d->historyModel->setStringList(history);
    if (restoreLastItemFromHistory && !history.isEmpty())
        setText(history.first());
}

void FancyLineEdit::onEditingFinished()
{
    if (!d->historyModel || d->historyKey.isEmpty())
        return;
    const QString entry = text().trimmed();
    if (entry.isEmpty())
        return;
    QStringList history = d->historyModel->stringList();
    history.removeAll(entry);
    history.prepend(entry);
    while (history.size() > Internal::maxHistoryItems)
        history.removeLast();
    d->historyModel->setStringList(history);
    if (QtcSettings *settings = Core::ICore::settings())
        settings->setValue(d->historyKey, history);
}

void FancyLineEdit::setFiltering(bool on)
{
    if (on == d->isFiltering)
        return;
    d->isFiltering = on;
    if (on) {
        d->lastFilterText = text();
        d->oldPlaceholderText = placeholderText();
        setPlaceholderText(tr("Filter"));
        QIcon search = QIcon::fromTheme(QStringLiteral("edit-find"));
        if (search.isNull())
            search = style()->standardIcon(QStyle::SP_FileDialogContentsView);
        setButtonIcon(Left, search);
        setButtonVisible(Left, true);
        setButtonIcon(Right, style()->standardIcon(QStyle::SP_LineEditClearButton));
        setButtonToolTip(Right, tr("Clear text"));
        setButtonVisible(Right, !text().isEmpty());
        connect(this, &FancyLineEdit::rightButtonClicked, this, &QLineEdit::clear,
                Qt::UniqueConnection);
    } else {
        disconnect(this, &FancyLineEdit::rightButtonClicked, this, &QLineEdit::clear);
        setPlaceholderText(d->oldPlaceholderText);
        setButtonVisible(Left, false);
        setButtonVisible(Right, false);
    }
}

bool FancyLineEdit::isFiltering() const
{
    return d->isFiltering;
}

bool FancyLineEdit::isValid() const
{
    // No validation function is supported: every text is valid.
    return true;
}

void FancyLineEdit::resizeEvent(QResizeEvent *e)
{
    CompletingLineEdit::resizeEvent(e);
    updateButtonPositions();
}

void FancyLineEdit::iconClicked(Side side)
{
    emit buttonClicked(side);
    if (side == Left)
        emit leftButtonClicked();
    else
        emit rightButtonClicked();
}

void FancyLineEdit::updateMargins()
{
    const int buttonWidth = height() > 0 ? height() : 22;
    setTextMargins(d->buttonVisible[Left] ? buttonWidth : 0, 0,
                   d->buttonVisible[Right] ? buttonWidth : 0, 0);
    updateButtonPositions();
}

void FancyLineEdit::updateButtonPositions()
{
    const QRect area = rect();
    const int size = area.height();
    d->buttons[Left]->setGeometry(area.left(), area.top(), size, size);
    d->buttons[Right]->setGeometry(area.right() - size + 1, area.top(), size, size);
}

} // namespace Utils
