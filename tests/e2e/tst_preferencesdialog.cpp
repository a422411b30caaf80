#include <preferencesdialog.h>

#include <coreplugin/dialogs/ioptionspage.h>

#include <QDialogButtonBox>
#include <QPushButton>
#include <QtTest>

using namespace Shell;

// A page that records what the dialog does with it, in order.
class RecordingPage final : public Core::IOptionsPage
{
public:
    RecordingPage(const char *id, const QString &name, QStringList *log)
    {
        setId(id);
        setCategory("A.Core");
        setDisplayName(name);
        setWidgetCreator([this, log, name] {
            m_widget = new Core::IOptionsPageWidget;
            m_widget->setOnApply([log, name] { log->append(name + ":apply"); });
            m_widget->setOnCancel([log, name] { log->append(name + ":cancel"); });
            m_widget->setOnFinish([log, name] { log->append(name + ":finish"); });
            return m_widget.get();
        });
    }

    QPointer<Core::IOptionsPageWidget> m_widget;
};

class tst_PreferencesDialog : public QObject
{
    Q_OBJECT

private slots:
    void buttons_data();
    void buttons();
};

void tst_PreferencesDialog::buttons_data()
{
    QTest::addColumn<QList<QDialogButtonBox::StandardButton>>("clicks");
    QTest::addColumn<QStringList>("expected");

    // The dialog opens on General; Examples is visited too, Fonts never.
    QTest::newRow("OK") << QList{QDialogButtonBox::Ok}
        << QStringList{"General:apply", "Examples:apply", "General:finish", "Examples:finish"};
    QTest::newRow("Apply keeps the dialog open, then Cancel")
        << QList{QDialogButtonBox::Apply, QDialogButtonBox::Cancel}
        << QStringList{"General:apply", "Examples:apply", "General:cancel", "Examples:cancel",
                       "General:finish", "Examples:finish"};
}

void tst_PreferencesDialog::buttons()
{
    QFETCH(QList<QDialogButtonBox::StandardButton>, clicks);
    QFETCH(QStringList, expected);
    Core::IOptionsPage::registerCategory("A.Core", "Environment", {});
    QStringList log;
    RecordingPage general("A.General", "General", &log);
    RecordingPage examples("B.Examples", "Examples", &log);
    RecordingPage fonts("C.Fonts", "Fonts", &log);

    QPointer<PreferencesDialog> dialog = new PreferencesDialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QVERIFY(dialog->showPage("B.Examples"));
    QVERIFY(general.m_widget && examples.m_widget && !fonts.m_widget);
    dialog->show();
    for (const QDialogButtonBox::StandardButton button : clicks) {
        QTest::mouseClick(dialog->findChild<QDialogButtonBox *>()->button(button), Qt::LeftButton);
        if (button == QDialogButtonBox::Apply)
            QVERIFY(general.m_widget && examples.m_widget && dialog->isVisible());
    }
    QCOMPARE(log, expected);
    // finish() destroyed the widgets; the dialog closed and deleted itself.
    QVERIFY(!general.m_widget && !examples.m_widget);
    QTRY_VERIFY(!dialog);
}

QTEST_MAIN(tst_PreferencesDialog)
#include "tst_preferencesdialog.moc"
