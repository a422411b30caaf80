// Times the options page's rescan of the installed examples against `find DIR -name
// examples-manifest.xml` over the same folder, alternating the two.

#include "benchsupport.h"

#include "plugin/settings.h"
#include "ui/optionswidget.h"

#include <coreplugin/icore.h>
#include <hoststandin/hostsetup.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QListWidget>

using namespace Tidepool::Internal;

namespace {

const QString repositoryName = QStringLiteral("Bench");

// One installed example: its manifest and `files - 1` small files in nested folders, the way an
// unpacked project spreads over src/, include/, qml/ and assets/.
bool writeExample(const QString &folder, int files)
{
    static const char *const folders[] = {"src/core", "src/model", "src/view", "src/view/delegates",
                                          "include", "qml", "qml/pages", "assets/icons/128x128",
                                          "docs", "tests/auto"};
    for (const char *sub : folders)
        QDir().mkpath(folder + u'/' + QLatin1String(sub));
    QFile manifest(folder + QStringLiteral("/examples-manifest.xml"));
    if (!manifest.open(QIODevice::WriteOnly))
        return false;
    manifest.write("<?xml version=\"1.0\"?>\n<instructionals module=\"Bench\"/>\n");
    for (int i = 1; i < files; ++i) {
        QFile file(QStringLiteral("%1/%2/file%3.cpp")
                       .arg(folder, QLatin1String(folders[i % std::size(folders)]))
                       .arg(i));
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write("// generated\nint value() { return 42; }\n");
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    const QString home = Bench::enterScratchHome(argc, argv);
    QApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Rescan of installed examples against find"));
    parser.addHelpOption();
    parser.addOptions({{"examples", "Installed examples.", "n", "500"},
                       {"files", "Files per example.", "n", "200"},
                       {"rounds", "Timed rounds of each.", "n", "7"}});
    parser.process(app);
    const int examples = parser.value("examples").toInt();
    const int files = parser.value("files").toInt();
    const int rounds = parser.value("rounds").toInt();
    if (examples < 1 || files < 1 || rounds < 1) {
        std::fprintf(stderr, "invalid arguments\n");
        return 2;
    }

    int exitCode = 1;
    [&] {
        HostStandIn::setSettingsPath(home + QStringLiteral("/settings"));
        Settings settings;
        settings.repositories.insert(
            repositoryName, RepositorySettings{QUrl("http://127.0.0.1:9/bench"), {}, {}, {}, {}});
        settings.save(Core::ICore::settings());

        const QString root = dataLocation().arg(repositoryName);
        std::printf("writing %d examples of %d files...\n", examples, files);
        std::fflush(stdout);
        for (int i = 0; i < examples; ++i) {
            if (!writeExample(root + QStringLiteral("/example-%1").arg(i, 4, 10, QLatin1Char('0')),
                              files)) {
                std::fprintf(stderr, "cannot write the examples\n");
                return;
            }
        }

        // The widget scans once when it is made: that warms the caches for both sides.
        OptionsWidget widget;
        auto list = widget.findChild<QListWidget *>();
        if (!list || list->count() != examples) {
            std::fprintf(stderr, "the scan listed %d of %d examples\n", list ? list->count() : -1,
                         examples);
            return;
        }
        if (!Bench::run("find", {root, "-name", "examples-manifest.xml"}))
            return;

        QList<double> scanTimes, findTimes;
        for (int round = 0; round < rounds; ++round) {
            QElapsedTimer timer;
            timer.start();
            widget.scanInstalledExamples();
            scanTimes << double(timer.nsecsElapsed()) / 1e6;
            if (list->count() != examples) {
                std::fprintf(stderr, "the scan listed %d of %d examples\n", list->count(), examples);
                return;
            }

            timer.restart();
            const auto found = Bench::run("find", {root, "-name", "examples-manifest.xml"});
            findTimes << double(timer.nsecsElapsed()) / 1e6;
            if (!found || found->count('\n') != examples) {
                std::fprintf(stderr, "find did not list every manifest\n");
                return;
            }
        }

        const double scan = Bench::median(scanTimes);
        const double find = Bench::median(findTimes);
        std::printf("\nmedians of %d rounds over %d examples, %d files each\n\n", rounds, examples,
                    files);
        Bench::printFigures({{"P5", "rescan of installed examples vs find",
                              Bench::milliseconds(scan), Bench::milliseconds(find), scan / find,
                              1.5, "<= 1.50x"}});
        exitCode = 0;
    }();

    HostStandIn::reset();
    Bench::leaveScratchHome(home);
    return exitCode;
}
