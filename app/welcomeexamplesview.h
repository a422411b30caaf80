#pragma once

#include "examplecatalog.h"

#include <QWidget>

QT_BEGIN_NAMESPACE
class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
QT_END_NAMESPACE

namespace Utils { class FancyLineEdit; }

namespace Shell {

// The Welcome screen's "Examples" page: the example sets registered in "Help/InstalledExamples"
// in a combo box, the examples of the chosen set with their images, a filter, and the details of
// the selected example. The sets are read again when the help system finishes its set-up, the
// manifests whenever documentation changes.
class WelcomeExamplesView : public QWidget
{
    Q_OBJECT

public:
    explicit WelcomeExamplesView(QWidget *parent = nullptr);

    QList<ExampleSet> sets() const { return m_sets; }
    QList<ExampleItem> shownExamples() const;   // the visible examples of the chosen set
    QString currentSetName() const;
    bool selectSet(const QString &displayName);

    void reloadSets();
    void rescan();
    void setFilter(const QString &text);

    static QPixmap thumbnail(const QString &imageUrl, const QString &name, int size);

signals:
    void exampleOpened(const Shell::ExampleItem &item);

private:
    void updateList();
    void showDetails();
    void openCurrent();
    const ExampleItem *currentItem() const;

    QComboBox *m_setCombo = nullptr;
    Utils::FancyLineEdit *m_filter = nullptr;
    QListWidget *m_list = nullptr;
    QLabel *m_image = nullptr;
    QLabel *m_title = nullptr;
    QLabel *m_description = nullptr;
    QLabel *m_tags = nullptr;
    QLabel *m_project = nullptr;
    QLabel *m_files = nullptr;
    QLabel *m_problems = nullptr;
    QPushButton *m_openButton = nullptr;

    QList<ExampleSet> m_sets;
    QList<ExampleItem> m_items;   // every example of the chosen set, hidden ones included
    QStringList m_scanErrors;
};

} // namespace Shell
