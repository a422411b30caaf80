#include <preferencesdialog.h>

#include <coreplugin/dialogs/ioptionspage.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

using namespace Shell;

// A page that records what the dialog does with it, in order.
class RecordingPage final : public Core::IOptionsPage
{
public:
    RecordingPage(const char *id, const char *category, const QString &name, QStringList *log)
    {
        setId(id);
        setCategory(category);
        setDisplayName(name);
        setWidgetCreator([this, log, name] {
            auto widget = new Core::IOptionsPageWidget;
            widget->setOnApply([log, name] { log->append(name + ":apply"); });
            widget->setOnCancel([log, name] { log->append(name + ":cancel"); });
            widget->setOnFinish([log, name] { log->append(name + ":finish"); });
            m_widget = widget;
            return widget;
        });
    }

    QPointer<QWidget> m_widget;
};

class tst_PreferencesDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pagesAreGroupedByCategory();
    void buttons_data();
    void buttons();
    void deletingTheDialogCancels();

private:
    QStringList m_log;
    std::unique_ptr<RecordingPage> m_general;
    std::unique_ptr<RecordingPage> m_examples;
    std::unique_ptr<RecordingPage> m_fonts;
};

void tst_PreferencesDialog::initTestCase()
{
    Core::IOptionsPage::registerCategory("H.Help", "Help", {});
    Core::IOptionsPage::registerCategory("A.Core", "Environment", {});
    m_examples = std::make_unique<RecordingPage>("Z.Examples", "H.Help", "Examples", &m_log);
    m_general = std::make_unique<RecordingPage>("A.General", "A.Core", "General", &m_log);
    m_fonts = std::make_unique<RecordingPage>("B.Fonts", "A.Core", "Fonts", &m_log);
}

void tst_PreferencesDialog::pagesAreGroupedByCategory()
{
    PreferencesDialog dialog;
    auto tree = dialog.findChild<QTreeWidget *>();
    QVERIFY(tree);
    QCOMPARE(tree->topLevelItemCount(), 2);
    QCOMPARE(tree->topLevelItem(0)->text(0), "Environment");
    QCOMPARE(tree->topLevelItem(0)->childCount(), 2);
    QCOMPARE(tree->topLevelItem(0)->child(0)->text(0), "General");
    QCOMPARE(tree->topLevelItem(0)->child(1)->text(0), "Fonts");
    QCOMPARE(tree->topLevelItem(1)->text(0), "Help");
    QCOMPARE(tree->topLevelItem(1)->child(0)->text(0), "Examples");
    // The first page is shown, so its widget exists.
    QCOMPARE(dialog.currentPage(), m_general.get());
    m_log.clear();
}

void tst_PreferencesDialog::buttons_data()
{
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<QStringList>("expected");

    // The dialog opens on General; Examples is visited too, Fonts never.
    QTest::newRow("OK applies and finishes the visited pages")
        << QStringList{"ok"}
        << QStringList{"General:apply", "Examples:apply", "General:finish", "Examples:finish"};
    QTest::newRow("Cancel cancels and finishes them")
        << QStringList{"cancel"}
        << QStringList{"General:cancel", "Examples:cancel", "General:finish", "Examples:finish"};
    QTest::newRow("Apply keeps the dialog open, OK applies again")
        << QStringList{"apply", "ok"}
        << QStringList{"General:apply", "Examples:apply", "General:apply", "Examples:apply",
                       "General:finish", "Examples:finish"};
    QTest::newRow("Apply, then Cancel")
        << QStringList{"apply", "cancel"}
        << QStringList{"General:apply", "Examples:apply", "General:cancel", "Examples:cancel",
                       "General:finish", "Examples:finish"};
}

void tst_PreferencesDialog::buttons()
{
    QFETCH(QStringList, clicks);
    QFETCH(QStringList, expected);
    m_log.clear();

    auto dialog = new PreferencesDialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<PreferencesDialog> guard(dialog);
    QVERIFY(dialog->showPage("Z.Examples"));
    QCOMPARE(dialog->currentPage(), m_examples.get());
    const QPointer<QWidget> general = m_general->m_widget;
    const QPointer<QWidget> examples = m_examples->m_widget;
    QVERIFY(general && examples);
    QVERIFY(!m_fonts->m_widget);
    dialog->show();

    auto box = dialog->findChild<QDialogButtonBox *>();
    for (const QString &click : clicks) {
        const auto which = click == "ok"       ? QDialogButtonBox::Ok
                           : click == "apply" ? QDialogButtonBox::Apply
                                              : QDialogButtonBox::Cancel;
        QTest::mouseClick(box->button(which), Qt::LeftButton);
        if (click == "apply")
            QVERIFY(general && examples && dialog->isVisible());
    }
    QCOMPARE(m_log, expected);
    // finish() destroyed the widgets; the dialog closed itself.
    QVERIFY(!general);
    QVERIFY(!examples);
    QTRY_VERIFY(!guard);
}

void tst_PreferencesDialog::deletingTheDialogCancels()
{
    m_log.clear();
    {
        PreferencesDialog dialog;
        QVERIFY(dialog.showPage("B.Fonts"));
    }
    QCOMPARE(m_log, QStringList({"General:cancel", "Fonts:cancel", "General:finish", "Fonts:finish"}));
    QVERIFY(!m_general->m_widget);
    QVERIFY(!m_fonts->m_widget);
}

QTEST_MAIN(tst_PreferencesDialog)
#include "tst_preferencesdialog.moc"
