#include "ui/examplesdialog.h"

#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QJsonObject>
#include <QKeyEvent>
#include <QListWidget>
#include <QLoggingCategory>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <utils/fancylineedit.h>

using namespace Tidepool::Internal;

namespace {

Repository::ExamplePtr example(const QString &path, const QString &webUrl = {},
                               const QString &name = {}, const QString &description = {})
{
    QJsonObject json{{"id", 1},
                     {"path", path},
                     {"name", name.isEmpty() ? path : name},
                     {"last_activity_at", "2026-03-01T10:00:00.000Z"},
                     {"web_url", webUrl}};
    if (!description.isNull())
        json.insert("description", description);
    return Repository::ExamplePtr::create(json);
}

QListWidget *listOf(QWidget *dialog)
{
    return dialog->findChild<QListWidget *>("examplesListWidget");
}

QStringList visibleTexts(QListWidget *list)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row) {
        if (!list->item(row)->isHidden())
            texts.append(list->item(row)->text());
    }
    return texts;
}

// Ctrl-clicks every item whose text is in texts, the way a user picks several entries.
void ctrlClick(QListWidget *list, const QStringList &texts)
{
    for (int row = 0; row < list->count(); ++row) {
        QListWidgetItem *item = list->item(row);
        if (!texts.contains(item->text()))
            continue;
        list->scrollToItem(item);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          list->visualItemRect(item).center());
    }
}

// Records the locations that the desktop is asked to open.
class UrlSink : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened.append(url); }
};

} // namespace

class tst_ExamplesDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void items();
    void selection_data();
    void selection();
    void filter_data();
    void filter();
    void hiddenItemsAreNotChosen();
    void webLocation_data();
    void webLocation();
    void openLocationOpensOnlyWebPages();
};

void tst_ExamplesDialog::initTestCase()
{
    QLoggingCategory::setFilterRules("zel.tidepool.plugin.debug=true");
}

void tst_ExamplesDialog::items()
{
    const Repository::Examples examples{
        example("zeta", "https://git.example/g/zeta", "Zeta %2 demo", "Shows %1 things"),
        example("alpha", "https://git.example/g/alpha", "Alpha", QString()),
        example("Beta", {}, "Beta", "b")};
    ExamplesDialog dialog(examples, nullptr);

    QCOMPARE(dialog.windowTitle(), "Select Examples to Install");
    QCOMPARE(dialog.objectName(), "Tidepool__Internal__ExamplesDialog");
    QVERIFY(dialog.findChild<Utils::FancyLineEdit *>("filterLineEdit"));

    QListWidget *list = listOf(&dialog);
    // Sorted by text, capitals first.
    QCOMPARE(visibleTexts(list), (QStringList{"Beta", "alpha", "zeta"}));

    const QString when = examples.first()->lastActivity().toLocalTime().toString(Qt::TextDate);
    QListWidgetItem *zeta = list->item(2);
    QCOMPARE(zeta->data(Qt::UserRole).toString(), "https://git.example/g/zeta");
    // Placeholders inside the server's texts are shown as they are.
    QCOMPARE(zeta->toolTip(),
             QString("<table><tbody>"
                     "<tr><td style=\"width: 40%;\">Name:&nbsp;</td><td style=\"width: 60%;\">Zeta %2 demo</td></tr>"
                     "<tr><td style=\"width: 40%;\">Description:&nbsp;</td><td style=\"width: 60%;\">Shows %1 things</td></tr>"
                     "<tr><td style=\"width: 40%;\">Updated:&nbsp;</td><td style=\"width: 60%;\">WHEN</td></tr>"
                     "<tr><td style=\"width: 40%;\">Location:&nbsp;</td><td style=\"width: 60%;\">https://git.example/g/zeta</td></tr>"
                     "</tbody></table>")
                 .replace("WHEN", when));
    // A missing description shows as an empty value.
    QVERIFY(list->item(1)->toolTip().contains(
        "Description:&nbsp;</td><td style=\"width: 60%;\"></td>"));
    QCOMPARE(list->item(0)->data(Qt::UserRole).toString(), QString());
}

void tst_ExamplesDialog::selection_data()
{
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QStringList>("clicked");
    QTest::addColumn<QString>("finish");
    QTest::addColumn<QStringList>("selected");

    const QStringList paths{"alpha", "beta", "gamma"};
    QTest::newRow("ok with two") << paths << QStringList{"alpha", "gamma"} << "ok"
                                 << QStringList{"alpha", "gamma"};
    QTest::newRow("ok with none") << paths << QStringList{} << "ok" << QStringList{};
    QTest::newRow("cancel") << paths << QStringList{"beta"} << "cancel" << QStringList{};
    QTest::newRow("escape") << paths << QStringList{"beta"} << "escape" << QStringList{};
    QTest::newRow("window closed") << paths << QStringList{"beta"} << "close" << QStringList{};
    QTest::newRow("same path twice collapses")
        << QStringList{"dup", "dup", "other"} << QStringList{"dup"} << "ok" << QStringList{"dup"};
}

void tst_ExamplesDialog::selection()
{
    QFETCH(QStringList, paths);
    QFETCH(QStringList, clicked);
    QFETCH(QString, finish);
    QFETCH(QStringList, selected);

    Repository::Examples examples;
    for (const QString &path : std::as_const(paths))
        examples.append(example(path));
    ExamplesDialog dialog(examples, nullptr);
    QListWidget *list = listOf(&dialog);

    int clickedItems = -1;
    QTimer::singleShot(0, &dialog, [&] {
        ctrlClick(list, clicked);
        clickedItems = int(list->selectedItems().size());
        auto buttons = dialog.findChild<QDialogButtonBox *>("buttonBox");
        if (finish == "ok")
            QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
        else if (finish == "cancel")
            QTest::mouseClick(buttons->button(QDialogButtonBox::Cancel), Qt::LeftButton);
        else if (finish == "escape")
            QTest::keyClick(list, Qt::Key_Escape);
        else
            dialog.close();
        if (dialog.isVisible())
            dialog.done(-1);
    });
    const int result = dialog.exec();

    int clickable = 0;
    for (const QString &path : std::as_const(paths))
        clickable += clicked.contains(path) ? 1 : 0;
    QCOMPARE(clickedItems, clickable);
    QCOMPARE(result, finish == "ok" ? int(QDialog::Accepted) : int(QDialog::Rejected));
    const QSet<QString> expected(selected.cbegin(), selected.cend());
    QCOMPARE(dialog.selectedExamples(), expected);
}

void tst_ExamplesDialog::filter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("visible");

    QTest::newRow("empty shows all") << "" << QStringList{"ALPHABET", "Alpha-One", "beta", "gamma"};
    QTest::newRow("capitals find small letters") << "PHA" << QStringList{"ALPHABET", "Alpha-One"};
    QTest::newRow("small letters find capitals") << "bet" << QStringList{"ALPHABET", "beta"};
    QTest::newRow("inside the text") << "-on" << QStringList{"Alpha-One"};
    QTest::newRow("no match hides all") << "delta" << QStringList{};
}

void tst_ExamplesDialog::filter()
{
    QFETCH(QString, text);
    QFETCH(QStringList, visible);

    ExamplesDialog dialog({example("beta"), example("Alpha-One"), example("gamma"), example("ALPHABET")},
                          nullptr);
    auto edit = dialog.findChild<QLineEdit *>("filterLineEdit");
    QTest::keyClicks(edit, "zz"); // a filter that was there before
    edit->clear();
    QTest::keyClicks(edit, text);
    QCOMPARE(visibleTexts(listOf(&dialog)), visible);
}

void tst_ExamplesDialog::hiddenItemsAreNotChosen()
{
    ExamplesDialog dialog({example("alpha"), example("alpine"), example("beta")}, nullptr);
    QListWidget *list = listOf(&dialog);
    auto edit = dialog.findChild<QLineEdit *>("filterLineEdit");

    QTimer::singleShot(0, &dialog, [&] {
        ctrlClick(list, {"beta"});
        QTest::keyClicks(edit, "alp");
        ctrlClick(list, {"alpine"});
        QTest::mouseClick(dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok),
                          Qt::LeftButton);
        if (dialog.isVisible())
            dialog.done(-1);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    // beta is still selected, but the filter hides it: only what was visible counts.
    QCOMPARE(dialog.selectedExamples(), QSet<QString>{"alpine"});
}

void tst_ExamplesDialog::webLocation_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QUrl>("url");

    QTest::newRow("https") << "https://git.example/g/alpha" << QUrl("https://git.example/g/alpha");
    QTest::newRow("http") << "http://127.0.0.1:8080/g/a" << QUrl("http://127.0.0.1:8080/g/a");
    QTest::newRow("scheme in capitals") << "HTTPS://git.example/g" << QUrl("https://git.example/g");
    QTest::newRow("tolerant parsing") << "https://git.example/g/a b" << QUrl("https://git.example/g/a%20b");
    QTest::newRow("file") << "file:///etc/passwd" << QUrl();
    QTest::newRow("custom handler") << "vscode://open?x=1" << QUrl();
    QTest::newRow("javascript") << "javascript:alert(1)" << QUrl();
    QTest::newRow("no scheme") << "/g/alpha" << QUrl();
    QTest::newRow("empty") << "" << QUrl();
}

void tst_ExamplesDialog::webLocation()
{
    QFETCH(QString, text);
    QFETCH(QUrl, url);
    QCOMPARE(ExamplesDialog::webLocation(text), url);
}

void tst_ExamplesDialog::openLocationOpensOnlyWebPages()
{
    UrlSink sink;
    for (const char *scheme : {"http", "https", "file", "vscode"})
        QDesktopServices::setUrlHandler(scheme, &sink, "open");

    ExamplesDialog dialog({example("web", "https://git.example/g/web"),
                           example("local", "file:///tmp/local"),
                           example("handler", "vscode://open/x"),
                           example("plain", "http://git.example/g/plain")},
                          nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QListWidget *list = listOf(&dialog);
    list->selectAll();

    QTest::ignoreMessage(QtDebugMsg, "Unable to open location: \"handler\"");
    QTest::ignoreMessage(QtDebugMsg, "Unable to open location: \"local\"");
    bool menuShown = false;
    QTimer::singleShot(0, &dialog, [&] {
        auto menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        menuShown = true;
        QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    const QPoint pos = list->visualItemRect(list->item(0)).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, list->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(list->viewport(), &event);

    for (const char *scheme : {"http", "https", "file", "vscode"})
        QDesktopServices::unsetUrlHandler(scheme);

    QVERIFY(menuShown);
    QCOMPARE(sink.opened.size(), 2);
    QVERIFY(sink.opened.contains(QUrl("https://git.example/g/web")));
    QVERIFY(sink.opened.contains(QUrl("http://git.example/g/plain")));
}

QTEST_MAIN(tst_ExamplesDialog)

#include "tst_examplesdialog.moc"
