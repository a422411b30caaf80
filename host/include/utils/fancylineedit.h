#pragma once

#include "utils_global.h"

#include "completinglineedit.h"
#include "storekey.h"

#include <QIcon>

#include <memory>

QT_BEGIN_NAMESPACE
class QAbstractButton;
QT_END_NAMESPACE

namespace Utils {

namespace Internal { class FancyLineEditPrivate; }

// A line edit with an optional button at each side. In filter mode it is a search box: a search
// icon on the left, a button that clears the text on the right, and filterChanged() as the text
// changes.
class QTCREATOR_UTILS_EXPORT FancyLineEdit : public CompletingLineEdit
{
    Q_OBJECT

public:
    enum Side { Left = 0, Right = 1 };
    Q_ENUM(Side)

    explicit FancyLineEdit(QWidget *parent = nullptr);
    ~FancyLineEdit() override;

    void setTextKeepingActiveCursor(const QString &text);

    QIcon buttonIcon(Side side) const;
    void setButtonIcon(Side side, const QIcon &icon);

    void setButtonVisible(Side side, bool visible);
    bool isButtonVisible(Side side) const;
    QAbstractButton *button(Side side) const;

    void setButtonToolTip(Side side, const QString &);

    // Remembers entered texts under historyKey in the user settings and offers them for completion.
    void setHistoryCompleter(const Utils::Key &historyKey, bool restoreLastItemFromHistory = false);
    void onEditingFinished();

    void setFiltering(bool on);
    bool isFiltering() const;

    bool isValid() const;

signals:
    void buttonClicked(FancyLineEdit::Side side);
    void leftButtonClicked();
    void rightButtonClicked();

    void filterChanged(const QString &);

    void validChanged(bool validState);
    void validReturnPressed();

protected:
    void resizeEvent(QResizeEvent *e) override;

private:
    void iconClicked(FancyLineEdit::Side side);
    void updateMargins();
    void updateButtonPositions();

    std::unique_ptr<Internal::FancyLineEditPrivate> d;
};

} // namespace Utils
