// Installs generated examples from a local GitLab server through the download service, side by
// side with `curl | tar xz` of the same archive URLs and with `tar xzf` of the same archives from
// disk; probes the GUI thread's lateness meanwhile and compares resident memory with idle.

#include "benchsupport.h"
#include "guiprobe.h"
#include "sourcetree.h"

#include "plugin/settings.h"
#include "service/downloadservice.h"

#include <coreplugin/helpmanager.h>
#include <coreplugin/icore.h>
#include <hoststandin/hostsetup.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDirIterator>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>

#include <malloc.h>
#include <memory>

using namespace Tidepool::Internal;

namespace {

const QString groupPath = QStringLiteral("bench");
// Every round installs into a repository folder of its own, named this and the round.
const QString repositoryName = QStringLiteral("Bench-");

struct Options
{
    int examples = 50;
    qint64 size = 2 * 1024 * 1024;
    int rounds = 3;
    int parallel = 4;
    // Each example one large file of random bytes (media, data sets) instead of a source tree.
    bool incompressible = false;
    QString server;
};

QString projectName(int index)
{
    return QStringLiteral("example-%1").arg(index, 3, 10, QLatin1Char('0'));
}

// size random bytes, written 4 MiB at a time so that no large buffer is held.
bool writeNoise(const QString &path, qint64 size, quint32 seed)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray chunk(4 * 1024 * 1024, Qt::Uninitialized);
    for (qint64 left = size; left > 0; left -= chunk.size()) {
        for (char &c : chunk) {
            seed ^= seed << 13;
            seed ^= seed >> 17;
            seed ^= seed << 5;
            c = char(seed);
        }
        const qint64 n = std::min<qint64>(left, chunk.size());
        if (file.write(chunk.constData(), n) != n)
            return false;
    }
    return true;
}

// The server's catalogue folder: one group, `examples` projects with an avatar each. Returns the
// number of bytes of project files.
qint64 writeCatalogue(const QString &root, const Options &options)
{
    qint64 total = 0;
    const QString group = root + u'/' + groupPath;
    for (int i = 0; i < options.examples; ++i) {
        Bench::SourceTreeGenerator generator(unsigned(1000 + i));
        const QString name = projectName(i);
        QMap<QString, QByteArray> files;
        if (options.incompressible) {
            files.insert(QStringLiteral("CMakeLists.txt"), "cmake_minimum_required(VERSION 3.16)\nproject("
                                                               + name.toUtf8() + ")\n");
            files.insert(QStringLiteral("main.cpp"), "int main() { return 0; }\n");
            if (!writeNoise(group + u'/' + name + QStringLiteral("/assets/data.bin"), options.size,
                            quint32(2463534242u + i))) {
                return -1;
            }
            total += options.size;
        } else {
            files = generator.tree(name, options.size);
        }
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            if (!Bench::writeFile(group + u'/' + name + u'/' + it.key(), it.value()))
                return -1;
            total += it.value().size();
        }
        const QJsonObject meta{{"name", QStringLiteral("Example %1").arg(i)},
                               {"description", QStringLiteral("Generated example number %1").arg(i)},
                               {"topics", QJsonArray{"bench", "qt"}},
                               {"avatar", name + QStringLiteral(".png")}};
        if (!Bench::writeFile(group + u'/' + name + QStringLiteral(".json"), QJsonDocument(meta).toJson())
            || !Bench::writeFile(group + u'/' + name + QStringLiteral(".png"), generator.icon(192))) {
            return -1;
        }
    }
    return total;
}

// Runs the commands, at most `parallel` at a time; the wall time in seconds, or a negative
// number when one of them failed.
double runCommands(const QList<QStringList> &commands, int parallel)
{
    QEventLoop loop;
    qsizetype next = 0;
    int running = 0;
    bool failed = false;
    std::function<void()> startNext = [&] {
        while (running < parallel && next < commands.size()) {
            const QStringList command = commands.at(next++);
            auto process = new QProcess(&loop);
            process->setProcessChannelMode(QProcess::ForwardedChannels);
            QObject::connect(process, &QProcess::finished, &loop,
                             [&, process](int code, QProcess::ExitStatus status) {
                                 failed = failed || code != 0 || status != QProcess::NormalExit;
                                 --running;
                                 process->deleteLater();
                                 startNext();
                             });
            ++running;
            process->start(command.first(), command.mid(1));
        }
        if (running == 0)
            loop.quit();
    };
    QElapsedTimer timer;
    timer.start();
    QTimer::singleShot(0, &loop, startNext);
    loop.exec();
    const double elapsed = double(timer.nsecsElapsed()) / 1e9;
    return failed ? -1 : elapsed;
}

int countManifests(const QString &root)
{
    int count = 0;
    QDirIterator it(root, {QStringLiteral("examples-manifest.xml")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++count;
    }
    return count;
}

struct PluginRun
{
    double seconds = -1;
    QList<double> lateness;
    QList<double> work;
    qint64 residentAfterKiB = 0;
    qint64 residentTrimmedKiB = 0; // after the allocator gave its free memory back
    qint64 peakKiB = 0;            // the most resident at any moment of the installation
    qint64 anonymousKiB = 0;
    qint64 fileKiB = 0;
    std::pair<double, double> heapAfterKiB;
};

// One installation of every example into an empty repository folder, timed from the creation of
// the service (which looks the group up and lists it) to the last example's registration.
PluginRun installThroughPlugin(const QUrl &repositoryUrl, const QString &repositoryName,
                              const QString &settingsPath, const Options &options,
                              std::unique_ptr<DownloadService> &service)
{
    PluginRun result;
    service.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    HostStandIn::setSettingsPath(settingsPath);
    Settings settings;
    settings.updatesCheckTimeoutDays = 1;
    settings.repositories.insert(repositoryName, RepositorySettings{repositoryUrl, {}, {}, {}, {}});
    settings.save(Core::ICore::settings());
    const QString folder = dataLocation().arg(repositoryName);

    QEventLoop loop;
    int registered = 0;
    QObject::connect(Core::HelpManager::Signals::instance(),
                     &Core::HelpManager::Signals::documentationChanged, &loop, [&] {
                         if (++registered >= options.examples)
                             loop.quit();
                     });
    QTimer::singleShot(60000 + options.examples * 10000, &loop, &QEventLoop::quit);

    // The peak starts afresh here: what came before is not the installation's.
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (!clearRefs.open(QIODevice::WriteOnly) || clearRefs.write("5") != 1)
        std::fprintf(stderr, "cannot reset the peak of resident memory\n");
    clearRefs.close();

    Bench::GuiProbe probe;
    probe.start();
    QElapsedTimer timer;
    timer.start();
    service = std::make_unique<DownloadService>();
    loop.exec();
    const double elapsed = double(timer.nsecsElapsed()) / 1e9;
    result.lateness = probe.stop();
    result.work = probe.work();

    // Let what was released with deleteLater go before the memory is read.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    result.peakKiB = Bench::residentKiB("VmHWM");
    result.residentAfterKiB = Bench::residentKiB();
    result.heapAfterKiB = Bench::heapKiB();
    result.anonymousKiB = Bench::residentKiB("RssAnon");
    result.fileKiB = Bench::residentKiB("RssFile");
    malloc_trim(0);
    result.residentTrimmedKiB = Bench::residentKiB();

    const int manifests = countManifests(folder);
    if (registered != options.examples || manifests != options.examples) {
        std::fprintf(stderr, "installation incomplete: %d registrations, %d manifests of %d\n",
                     registered, manifests, options.examples);
        return result;
    }
    result.seconds = elapsed;
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    const QString home = Bench::enterScratchHome(argc, argv);
    QApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Install throughput, GUI lateness and memory"));
    parser.addHelpOption();
    parser.addOptions({{"examples", "Number of examples.", "n", "50"},
                       {"size", "Bytes of files per example (k and M suffixes).", "bytes", "2M"},
                       {"rounds", "Rounds of the three measurements.", "n", "5"},
                       {"parallel", "Parallel curl | tar pipelines.", "n", "4"},
                       {"incompressible", "Examples of one large file of random bytes each "
                                          "(P6: --examples 4 --size 200M)."},
                       {"server", "The gitlab-server executable.", "path",
                        QCoreApplication::applicationDirPath() + QStringLiteral("/gitlab-server")}});
    parser.process(app);
    Options options;
    options.examples = parser.value("examples").toInt();
    options.size = Bench::parseSize(parser.value("size"));
    options.rounds = parser.value("rounds").toInt();
    options.parallel = parser.value("parallel").toInt();
    options.server = parser.value("server");
    options.incompressible = parser.isSet("incompressible");
    if (options.examples < 1 || options.size < 1 || options.rounds < 1 || options.parallel < 1) {
        std::fprintf(stderr, "invalid arguments\n");
        return 2;
    }

    int exitCode = 1;
    QProcess server;
    [&] {
        std::printf("generating %d examples of %lld bytes...\n", options.examples,
                    static_cast<long long>(options.size));
        std::fflush(stdout);
        const QString catalogue = home + QStringLiteral("/catalogue");
        const qint64 fileBytes = writeCatalogue(catalogue, options);
        if (fileBytes < 0) {
            std::fprintf(stderr, "cannot write the catalogue\n");
            return;
        }

        const QString base = Bench::startServer(server, options.server, catalogue);
        if (base.isEmpty())
            return;
        const QUrl repositoryUrl(base + u'/' + groupPath);

        // The server builds each archive on first request: fetch all once, which also gives the
        // archives on disk for the second baseline.
        const QString archives = home + QStringLiteral("/archives");
        QDir().mkpath(archives);
        QStringList urls;
        QList<QStringList> fetches;
        for (int i = 0; i < options.examples; ++i) {
            urls << QStringLiteral("%1/api/v4/projects/%2%3%4/repository/archive.tar.gz")
                        .arg(base, groupPath, QStringLiteral("%2F"), projectName(i));
            fetches << QStringList{"curl", "-sSf", "-o",
                                   archives + u'/' + projectName(i) + QStringLiteral(".tar.gz"),
                                   urls.last()};
        }
        if (runCommands(fetches, options.parallel) < 0) {
            std::fprintf(stderr, "cannot fetch the archives\n");
            return;
        }
        qint64 archiveBytes = 0;
        for (int i = 0; i < options.examples; ++i)
            archiveBytes += QFileInfo(archives + u'/' + projectName(i) + QStringLiteral(".tar.gz")).size();
        std::printf("%d examples, %.2f MiB of files, %.2f MiB of archives\n", options.examples,
                    double(fileBytes) / 1048576.0, double(archiveBytes) / 1048576.0);

        std::unique_ptr<DownloadService> service;
        QList<double> curlTimes, tarTimes, pluginTimes, lateness, work;
        double worstStall = 0;
        qint64 bareIdleKiB = 0, idleKiB = 0, afterFirstKiB = 0, afterLastKiB = 0, trimmedKiB = 0;
        qint64 peakKiB = 0;
        qint64 idleAnonymousKiB = 0, idleFileKiB = 0, anonymousKiB = 0, fileKiB = 0;
        std::pair<double, double> idleHeap, afterFirstHeap;

        for (int round = 0; round < options.rounds; ++round) {
            // Each round runs the three in another order, so that a drift of the machine does
            // not always favour the same one.
            for (int step = 0; step < 3; ++step) {
                const int which = (step + round) % 3;
                // Nothing is deleted before the run ends: ext4 creates files slowly while it
                // still remembers many recently deleted inodes, which would make every
                // measurement after a clean-up slower than the one before it.
                const QString dest = home + QStringLiteral("/unpacked-%1-%2").arg(round).arg(which);
                QDir().mkpath(dest);
                if (which == 0) {
                    QList<QStringList> pipelines;
                    for (const QString &url : std::as_const(urls))
                        pipelines << QStringList{"sh", "-c", "curl -sSf \"$1\" | tar xzf - -C \"$2\"",
                                                 "sh", url, dest};
                    const double t = runCommands(pipelines, options.parallel);
                    if (t < 0)
                        return;
                    curlTimes << t;
                } else if (which == 1) {
                    QList<QStringList> commands;
                    for (int i = 0; i < options.examples; ++i)
                        commands << QStringList{"tar", "xzf",
                                                archives + u'/' + projectName(i) + QStringLiteral(".tar.gz"),
                                                "-C", dest};
                    const double t = runCommands(commands, 1);
                    if (t < 0)
                        return;
                    tarTimes << t;
                } else {
                    if (pluginTimes.isEmpty()) {
                        // The IDE has the TLS libraries loaded before any installation: the
                        // plugin's initialize() loads them first thing, for its version check.
                        // Idle counts them; the figure without them is printed as well.
                        bareIdleKiB = Bench::residentKiB();
                        if (QSslSocket::sslLibraryVersionNumber() == 0)
                            std::fprintf(stderr, "no TLS library\n");
                        idleKiB = Bench::residentKiB();
                        idleHeap = Bench::heapKiB();
                        idleAnonymousKiB = Bench::residentKiB("RssAnon");
                        idleFileKiB = Bench::residentKiB("RssFile");
                    }
                    const PluginRun run = installThroughPlugin(
                        repositoryUrl, repositoryName + QString::number(round),
                        home + QStringLiteral("/settings-%1").arg(round), options, service);
                    if (run.seconds < 0)
                        return;
                    if (pluginTimes.isEmpty()) {
                        afterFirstKiB = run.residentAfterKiB;
                        afterFirstHeap = run.heapAfterKiB;
                        anonymousKiB = run.anonymousKiB;
                        fileKiB = run.fileKiB;
                    }
                    afterLastKiB = run.residentAfterKiB;
                    peakKiB = std::max(peakKiB, run.peakKiB);
                    trimmedKiB = std::max(trimmedKiB, run.residentTrimmedKiB);
                    pluginTimes << run.seconds;
                    lateness << run.lateness;
                    work << run.work;
                    for (double late : run.lateness)
                        worstStall = std::max(worstStall, late);
                }
            }
            std::printf("round %d: curl|tar x%d %.3f s, tar xzf %.3f s, plugin %.3f s\n", round + 1,
                        options.parallel, curlTimes.last(), tarTimes.last(), pluginTimes.last());
            std::fflush(stdout);
        }
        service.reset();

        const double plugin = Bench::median(pluginTimes);
        const double curl = Bench::median(curlTimes);
        const double tar = Bench::median(tarTimes);
        const double p99 = Bench::percentile(lateness, 99);
        const double grownKiB = double(std::max(afterFirstKiB, afterLastKiB) - idleKiB);
        std::printf("resident before the TLS libraries were loaded: %.1f MiB; growth above that: "
                    "%.1f MiB\n", double(bareIdleKiB) / 1024.0,
                    double(std::max(afterFirstKiB, afterLastKiB) - bareIdleKiB) / 1024.0);
        std::printf("\nmedians of %d rounds; GUI probe: %lld samples; resident: idle %.1f MiB, after "
                    "first install %.1f MiB, after last %.1f MiB\n",
                    options.rounds, static_cast<long long>(lateness.size()), double(idleKiB) / 1024.0,
                    double(afterFirstKiB) / 1024.0, double(afterLastKiB) / 1024.0);
        std::printf("GUI thread's own work between two ticks: longest %.2f ms, 99th percentile "
                    "%.2f ms\n(the rest of a stall is waiting: for a processor, a lock or the disk)\n",
                    work.isEmpty() ? 0.0 : *std::max_element(work.cbegin(), work.cend()),
                    Bench::percentile(work, 99));
        std::printf("heap in use / held from the system: idle %.1f / %.1f MiB, after first install "
                    "%.1f / %.1f MiB; resident once malloc_trim() gave free memory back: %.1f MiB "
                    "(%.1f MiB above idle)\n",
                    idleHeap.first / 1024.0, idleHeap.second / 1024.0,
                    afterFirstHeap.first / 1024.0, afterFirstHeap.second / 1024.0,
                    double(trimmedKiB) / 1024.0, double(trimmedKiB - idleKiB) / 1024.0);
        std::printf("after the first install, above idle: %.1f MiB allocated, %.1f MiB of mapped "
                    "files (libraries loaded on first use)\n",
                    double(anonymousKiB - idleAnonymousKiB) / 1024.0,
                    double(fileKiB - idleFileKiB) / 1024.0);
        // Where the long stalls went: the GUI thread's own work, or waiting (for a processor, a
        // lock or the disk).
        QList<double> stallWork;
        for (qsizetype i = 0; i < lateness.size() && i < work.size(); ++i) {
            if (lateness.at(i) > 16.0)
                stallWork << work.at(i);
        }
        std::printf("ticks more than 16 ms late: %lld; the GUI thread's own work in them: median "
                    "%.2f ms, longest %.2f ms\n\n",
                    static_cast<long long>(stallWork.size()), Bench::median(stallWork),
                    stallWork.isEmpty() ? 0.0 : *std::max_element(stallWork.cbegin(), stallWork.cend()));
        if (options.incompressible) {
            const double peakAbove = double(peakKiB - idleKiB);
            Bench::printFigures({
                {"P6a", "peak resident memory above idle", Bench::mebibytes(peakAbove),
                 Bench::mebibytes(double(idleKiB)), peakAbove / (64.0 * 1024.0), 1.0,
                 "<= 64 MiB above"},
                {"P6b", "install vs curl | tar xz, parallel", Bench::seconds(plugin),
                 Bench::seconds(curl), plugin / curl, 1.2, "<= 1.20x"},
                {"P6c", "GUI thread longest stall", Bench::milliseconds(worstStall), "-",
                 worstStall / 50.0, 1.0, "<= 50 ms"},
            });
            exitCode = 0;
            return;
        }
        Bench::printFigures({
            {"P1a", "install vs curl | tar xz, parallel", Bench::seconds(plugin),
             Bench::seconds(curl), plugin / curl, 1.0, "<= 1.00x"},
            {"P1b", "install vs tar xzf from disk", Bench::seconds(plugin), Bench::seconds(tar),
             plugin / tar, 1.3, "<= 1.30x"},
            {"P2", "GUI thread longest stall", Bench::milliseconds(worstStall), "-",
             worstStall / 50.0, 1.0, "<= 50 ms"},
            {"P2", "GUI thread stall, 99th percentile", Bench::milliseconds(p99), "-", p99 / 16.0,
             1.0, "<= 16 ms"},
            {"P3", "resident memory above idle", Bench::mebibytes(grownKiB),
             Bench::mebibytes(double(idleKiB)), grownKiB / 10240.0, 1.0, "<= 10 MiB above"},
        });
        exitCode = 0;
    }();

    Bench::stopServer(server);
    HostStandIn::reset();
    Bench::leaveScratchHome(home);
    return exitCode;
}
