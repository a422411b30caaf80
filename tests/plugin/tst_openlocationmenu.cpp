#include "plugin/openlocationmenu.h"

#include <QApplication>
#include <QDesktopServices>
#include <QListWidget>
#include <QLoggingCategory>
#include <QMenu>
#include <QTest>
#include <QTimer>

using namespace Tidepool::Internal;

// Receives what the menu asks the desktop to open.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened.append(url); }
};

class tst_OpenLocationMenu : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void opensEverySelectedItem();
    void emptySpaceOpensNoMenu();
    void dismissedMenuOpensNothing();
    void failedOpenIsLoggedAndOthersContinue();

private:
    // Runs the context menu at the item's position; answer decides what happens to the menu.
    bool requestMenu(const QPoint &pos, const std::function<void(QMenu *)> &answer);

    std::unique_ptr<QListWidget> m_list;
    UrlCatcher m_catcher;
};

void tst_OpenLocationMenu::init()
{
    m_list = std::make_unique<QListWidget>();
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->resize(300, 300);
    for (const QString name : {"alpha", "beta", "gamma", "delta"}) {
        auto item = new QListWidgetItem(name, m_list.get());
        item->setData(Qt::UserRole, "/examples/" + name);
    }
    m_list->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_list.get()));
    setupOpenLocationMenu(m_list.get(), [](const QString &text) { return QUrl::fromLocalFile(text); });
    m_catcher.opened.clear();
    QDesktopServices::setUrlHandler("file", &m_catcher, "open");
}

void tst_OpenLocationMenu::cleanup()
{
    QDesktopServices::unsetUrlHandler("file");
    m_list.reset();
}

static void chooseFirstAction(QMenu *menu)
{
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
}

bool tst_OpenLocationMenu::requestMenu(const QPoint &pos, const std::function<void(QMenu *)> &answer)
{
    bool shown = false;
    QTimer::singleShot(0, this, [&] {
        // Look for the menu once the event loop runs inside its exec().
        auto menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        shown = true;
        answer(menu);
    });
    emit m_list->customContextMenuRequested(pos);
    QCoreApplication::processEvents();
    return shown;
}

void tst_OpenLocationMenu::opensEverySelectedItem()
{
    m_list->item(0)->setSelected(true);
    m_list->item(1)->setSelected(true);
    m_list->item(3)->setSelected(true);
    const QPoint onBeta = m_list->visualItemRect(m_list->item(1)).center();

    QString actionText;
    QVERIFY(requestMenu(onBeta, [&](QMenu *menu) {
        QCOMPARE(menu->actions().size(), 1);
        actionText = menu->actions().first()->text();
        chooseFirstAction(menu);
    }));
    QCOMPARE(actionText, QString("Open location..."));
    QCOMPARE(m_catcher.opened.size(), 3);
    QVERIFY(m_catcher.opened.contains(QUrl::fromLocalFile("/examples/alpha")));
    QVERIFY(m_catcher.opened.contains(QUrl::fromLocalFile("/examples/beta")));
    QVERIFY(m_catcher.opened.contains(QUrl::fromLocalFile("/examples/delta")));
}

void tst_OpenLocationMenu::emptySpaceOpensNoMenu()
{
    m_list->item(0)->setSelected(true);
    const QPoint below = m_list->visualItemRect(m_list->item(3)).bottomLeft() + QPoint(5, 60);
    QVERIFY(!m_list->itemAt(below));
    QVERIFY(!requestMenu(below, [](QMenu *menu) { menu->close(); }));
    QVERIFY(m_catcher.opened.isEmpty());
}

void tst_OpenLocationMenu::dismissedMenuOpensNothing()
{
    m_list->item(2)->setSelected(true);
    const QPoint onGamma = m_list->visualItemRect(m_list->item(2)).center();
    QVERIFY(requestMenu(onGamma, [](QMenu *menu) { QTest::keyClick(menu, Qt::Key_Escape); }));
    QVERIFY(m_catcher.opened.isEmpty());
}

void tst_OpenLocationMenu::failedOpenIsLoggedAndOthersContinue()
{
    QLoggingCategory::setFilterRules("zel.tidepool.plugin.debug=true");
    // An item without a stored location cannot be opened; the next one still is.
    m_list->item(0)->setData(Qt::UserRole, QVariant());
    QObject::disconnect(m_list.get(), &QWidget::customContextMenuRequested, nullptr, nullptr);
    setupOpenLocationMenu(m_list.get(), [](const QString &text) {
        return text.isEmpty() ? QUrl() : QUrl::fromLocalFile(text);
    });
    m_list->item(0)->setSelected(true);
    m_list->item(1)->setSelected(true);
    QTest::ignoreMessage(QtDebugMsg, "Unable to open location: \"alpha\"");
    const QPoint onAlpha = m_list->visualItemRect(m_list->item(0)).center();
    QVERIFY(requestMenu(onAlpha, [](QMenu *menu) {
        chooseFirstAction(menu);
    }));
    QLoggingCategory::setFilterRules({});
    QVERIFY(m_catcher.opened.contains(QUrl::fromLocalFile("/examples/beta")));
}

QTEST_MAIN(tst_OpenLocationMenu)

#include "tst_openlocationmenu.moc"
