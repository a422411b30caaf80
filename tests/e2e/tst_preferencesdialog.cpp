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
    const QPointer<QWidget> generalWidget = general.m_widget, examplesWidget = examples.m_widget;
    QVERIFY(generalWidget && examplesWidget && !fonts.m_widget);
    dialog->show();
    for (const QDialogButtonBox::StandardButton button : clicks) {
        QTest::mouseClick(dialog->findChild<QDialogButtonBox *>()->button(button), Qt::LeftButton);
        if (button == QDialogButtonBox::Apply)
            QVERIFY(generalWidget && examplesWidget && dialog->isVisible());
    }
    QCOMPARE(log, expected);
    // finish() destroyed the widgets; the dialog closed and deleted itself.
    QVERIFY(!generalWidget && !examplesWidget);
    QTRY_VERIFY(!dialog);
}

QTEST_MAIN(tst_PreferencesDialog)
#include "tst_preferencesdialog.moc"
