// Renders the settings page as a user sees it, two examples outdated and one of them selected, into
// the file given as argument (the README's picture). Fails unless the update mark is in the picture
// and the Update button can be pressed.

#include "uitestsupport.h"

#include <QImage>

#include <algorithm>
#include <cstdio>

using namespace UiTest;

static int fail(const char *message)
{
    std::fprintf(stderr, "%s\n", message);
    return 1;
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dataHome;
    if (qEnvironmentVariableIsEmpty("TIDEPOOL_TEST_DATA"))
        qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    QApplication app(argc, argv);
    QApplication::setFont(QFont("DejaVu Sans", 9));

    const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                    : qEnvironmentVariable("TIDEPOOL_TEST_DATA", dataHome.path())
                                          + "/options-page.png";

    QTemporaryDir settingsDir;
    HostStandIn::setSettingsPath(settingsDir.path());
    LocalGitLab::Server server;
    if (!clearDataLocation() || !server.start().isValid())
        return fail("Cannot prepare the data location or start the local GitLab server");
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const qint64 group = server.addGroup("veyra-examples", "Veyra Examples");
    const QStringList examples{"bluetooth-chat", "camera-preview", "hello-sensors", "maps-navigation",
                               "notifications", "qml-gallery"};
    const QStringList outdated{"hello-sensors", "qml-gallery"};
    for (const QString &path : examples)
        server.addProject(group, project(path, now.addDays(outdated.contains(path) ? -1 : -30)));
    const QUrl url(server.baseUrl().toString() + "/veyra-examples");
    const QList<RepositoryEntry> repositories{{"Veyra Examples", url},
                                              {"Community", QUrl("https://gitlab.example/community")}};
    // Updates off while the service lists the examples; the page shows a user's interval.
    saveSettings(repositories, 0);
    if (!startService())
        return fail("The repository was not listed");
    saveSettings(repositories, 7);

    for (const QString &path : examples)
        if (path != "notifications" && !installManifest("Veyra Examples", path, now.addDays(-7)))
            return fail("Cannot install the examples");

    OptionsWidget widget;
    widget.resize(600, 420);
    widget.show();
    if (!QTest::qWaitForWindowExposed(&widget))
        return fail("The page was not shown");
    auto combo = widget.findChild<QComboBox *>("repositoryComboBox");
    combo->setCurrentIndex(combo->findText("Veyra Examples"));
    auto list = widget.findChild<QListWidget *>("examplesListWidget");
    list->setCurrentItem(list->findItems(outdated.first(), Qt::MatchExactly).value(0));
    auto update = widget.findChild<QPushButton *>("updateButton");
    if (!update || !update->isVisible() || !update->isEnabled())
        return fail("The outdated example is not listed or cannot be updated");
    const QImage picture = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const auto pixels = reinterpret_cast<const QRgb *>(picture.constBits());
    const QRgb mark = QColor(0xe2, 0xb2, 0xb6).rgb();
    if (!std::count(pixels, pixels + picture.width() * picture.height(), mark))
        return fail("The picture shows no example marked \"Update available\"");
    return picture.save(output, "PNG") ? 0 : fail("Cannot write the picture");
}
