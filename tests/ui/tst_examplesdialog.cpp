#include "uitestsupport.h"

#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QJsonObject>
#include <QMenu>

using namespace UiTest;

namespace {

Repository::ExamplePtr example(const QString &path, const QString &webUrl = {},
                               const QString &name = {}, const QString &description = {})
{
    return Repository::ExamplePtr::create(QJsonObject{
        {"id", 1}, {"path", path}, {"name", name.isEmpty() ? path : name},
        {"last_activity_at", "2026-03-01T10:00:00Z"}, {"web_url", webUrl},
        {"description", description}});
}

} // namespace

class tst_ExamplesDialog : public QObject
{
    Q_OBJECT

private slots:
    void items()
    {
        const Repository::Examples examples{
            example("zeta", "https://git.example/g/zeta", "Zeta %2 demo", "Shows %1 things"),
            example("alpha"), example("Beta")};
        ExamplesDialog dialog(examples, nullptr);
        QCOMPARE(dialog.windowTitle(), "Select Examples to Install");
        QListWidget *list = dialog.findChild<QListWidget *>("examplesListWidget");
        QCOMPARE(texts(list), (QStringList{"Beta", "alpha", "zeta"})); // capitals first

        // Placeholders inside the server's texts are shown as they are.
        const auto row = [](const QString &label, const QString &value) {
            return QString("<tr><td style=\"width: 40%;\">%1:&nbsp;</td>"
                           "<td style=\"width: 60%;\">%2</td></tr>").arg(label, value);
        };
        const auto updated = examples.first()->lastActivity().toLocalTime().toString(Qt::TextDate);
        QCOMPARE(list->item(2)->toolTip(), "<table><tbody>" + row("Name", "Zeta %2 demo")
                 + row("Description", "Shows %1 things") + row("Updated", updated)
                 + row("Location", "https://git.example/g/zeta") + "</tbody></table>");
    }

    void selection_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QStringList>("clicked");
        QTest::addColumn<QString>("filter"); // typed after clicking
        QTest::addColumn<QStringList>("visible");
        QTest::addColumn<QStringList>("selected");

        const QStringList paths{"alpha", "alpine", "beta"};
        QTest::newRow("two chosen") << paths << QStringList{"alpha", "beta"} << "" << paths
                                    << QStringList{"alpha", "beta"};
        QTest::newRow("hidden by the filter")
            << paths << QStringList{"alpine", "beta"} << "alp" << QStringList{"alpha", "alpine"}
            << QStringList{"alpine"};
        QTest::newRow("any case, inside the text")
            << QStringList{"beta", "Alpha-One", "gamma", "ALPHABET"} << QStringList{} << "PHA"
            << QStringList{"ALPHABET", "Alpha-One"} << QStringList{};
    }

    void selection()
    {
        QFETCH(QStringList, paths);
        QFETCH(QStringList, clicked);
        QFETCH(QString, filter);
        QFETCH(QStringList, visible);
        QFETCH(QStringList, selected);

        Repository::Examples examples;
        for (const QString &path : std::as_const(paths))
            examples.append(example(path));
        ExamplesDialog dialog(examples, nullptr);
        QListWidget *list = dialog.findChild<QListWidget *>("examplesListWidget");
        QStringList shown;
        QTimer::singleShot(0, &dialog, [&] {
            auto edit = dialog.findChild<QLineEdit *>("filterLineEdit");
            QTest::keyClicks(edit, "zz"); // a filter that was there before
            edit->clear();
            ctrlClick(list, clicked);
            QTest::keyClicks(edit, filter);
            shown = texts(list, true);
            auto buttons = dialog.findChild<QDialogButtonBox *>("buttonBox");
            QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
            if (dialog.isVisible())
                dialog.done(-1);
        });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QCOMPARE(shown, visible);
        QCOMPARE(dialog.selectedExamples(), QSet<QString>(selected.cbegin(), selected.cend()));
    }

    void openLocation_data()
    {
        QTest::addColumn<bool>("onItem"); // else on empty space: no menu
        QTest::addColumn<bool>("choose"); // else the menu is dismissed

        QTest::newRow("chosen") << true << true;
        QTest::newRow("dismissed") << true << false;
        QTest::newRow("empty space") << false << true;
    }

    // Only web pages are opened: a location from the server could start a local program.
    void openLocation()
    {
        QFETCH(bool, onItem);
        QFETCH(bool, choose);

        QLoggingCategory::setFilterRules("zel.tidepool.plugin.debug=true");
        m_opened.clear();
        for (const char *scheme : {"http", "https", "file", "vscode"})
            QDesktopServices::setUrlHandler(scheme, this, "open");
        ExamplesDialog dialog({example("web", "HTTPS://git.example/g/web"),
                               example("local", "file:///tmp/local"),
                               example("handler", "vscode://open/x"),
                               example("plain", "http://git.example/g/plain")},
                              nullptr);
        dialog.resize(400, 500);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QListWidget *list = dialog.findChild<QListWidget *>("examplesListWidget");
        list->selectAll();
        if (choose && onItem) {
            QTest::ignoreMessage(QtDebugMsg, "Unable to open location: \"handler\"");
            QTest::ignoreMessage(QtDebugMsg, "Unable to open location: \"local\"");
        }
        bool shown = false;
        QTimer::singleShot(0, &dialog, [&] {
            if (auto menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                const QList<QAction *> actions = menu->actions();
                shown = actions.size() == 1 && actions.first()->text() == "Open location...";
                if (choose)
                    QTest::keyClick(menu, Qt::Key_Down);
                QTest::keyClick(menu, choose ? Qt::Key_Return : Qt::Key_Escape);
            }
        });
        const QPoint pos = onItem ? list->visualItemRect(list->item(0)).center()
                                  : QPoint(5, list->viewport()->height() - 5);
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, list->viewport()->mapToGlobal(pos));
        QApplication::sendEvent(list->viewport(), &event);
        QCoreApplication::processEvents();
        for (const char *scheme : {"http", "https", "file", "vscode"})
            QDesktopServices::unsetUrlHandler(scheme);

        QCOMPARE(shown, onItem);
        std::sort(m_opened.begin(), m_opened.end()); // each opened once
        QList<QUrl> web{QUrl("http://git.example/g/plain"), QUrl("https://git.example/g/web")};
        QCOMPARE(m_opened, choose && onItem ? web : QList<QUrl>());
    }

public slots:
    void open(const QUrl &url) { m_opened.append(url); } // what the desktop is asked to open

private:
    QList<QUrl> m_opened;
};

QTEST_MAIN(tst_ExamplesDialog)

#include "tst_examplesdialog.moc"
