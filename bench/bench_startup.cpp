// Times the plugin's start-up work (what Plugin::initialize does after its translator is in
// place) with configured repositories, each sample in a fresh process so that every one is a
// cold start, and checks that it neither talks to the network nor reads or writes much.

#include "benchsupport.h"

#include "plugin/settings.h"
#include "plugin/tidepoolpluginprivate.h"

#include <coreplugin/dialogs/ioptionspage.h>
#include <coreplugin/icore.h>
#include <hoststandin/hostsetup.h>
#include <utils/qtcsettings.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QHash>
#include <QProcessEnvironment>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

using namespace Tidepool::Internal;

namespace {

// Bytes and system calls of reads and writes so far, from /proc/self/io.
QHash<QByteArray, qint64> ioCounters()
{
    QHash<QByteArray, qint64> counters;
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly | QIODevice::Text))
        return counters;
    const QList<QByteArray> lines = io.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> parts = line.split(':');
        if (parts.size() == 2)
            counters.insert(parts.at(0), parts.at(1).trimmed().toLongLong());
    }
    return counters;
}

// One cold start in this process; prints "key=value" pairs.
int startOnce(const QString &home, int repositories)
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost))
        return 1;

    HostStandIn::setSettingsPath(home + QStringLiteral("/settings-startup"));
    Utils::QtcSettings *store = Core::ICore::settings();
    Settings settings;
    QStringList installed;
    for (int i = 0; i < repositories; ++i) {
        const QString name = QStringLiteral("Repository %1").arg(i);
        settings.repositories.insert(
            name, RepositorySettings{QUrl(QStringLiteral("http://127.0.0.1:%1/group-%2")
                                              .arg(server.serverPort())
                                              .arg(i)),
                                     {},
                                     {},
                                     {},
                                     {}});
        settings.updatesCheckedDate.insert(name, QDate::currentDate());
        installed << QStringLiteral("%1|old|old").arg(name);
    }
    settings.save(store);
    store->setValue("Help/InstalledExamples", installed);
    store->sync();

    // Plugin::initialize asks for the TLS library's version first, which loads it.
    QElapsedTimer timer;
    timer.start();
    const bool sslMismatch =
        QSslSocket::sslLibraryVersionNumber() != QSslSocket::sslLibraryBuildVersionNumber();
    const qint64 sslNs = timer.nsecsElapsed();
    Q_UNUSED(sslMismatch)

    const QHash<QByteArray, qint64> ioBefore = ioCounters();
    timer.restart();
    auto plugin = std::make_unique<TidepoolPluginPrivate>();
    const qint64 startNs = timer.nsecsElapsed();
    const QHash<QByteArray, qint64> ioAfter = ioCounters();

    // A connection made during the construction is queued in the listen backlog by now.
    int connectionsDuring = 0;
    while (server.waitForNewConnection(0) && server.hasPendingConnections()) {
        delete server.nextPendingConnection();
        ++connectionsDuring;
    }
    // Afterwards the clients do look their groups up, from the event loop. Each connection is
    // closed at once, so that every request has ended before the program does.
    int connectionsAfter = 0;
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
        while (server.hasPendingConnections()) {
            QTcpSocket *socket = server.nextPendingConnection();
            socket->abort();
            socket->deleteLater();
            ++connectionsAfter;
        }
    });
    QElapsedTimer wait;
    wait.start();
    while (connectionsAfter < repositories && wait.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    wait.restart();
    while (wait.elapsed() < 300) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    std::printf("start_us=%.1f ssl_us=%.1f connections_during=%d connections_after=%d "
                "read_bytes=%lld written_bytes=%lld\n",
                double(startNs) / 1e3, double(sslNs) / 1e3, connectionsDuring, connectionsAfter,
                static_cast<long long>(ioAfter.value("rchar") - ioBefore.value("rchar")),
                static_cast<long long>(ioAfter.value("wchar") - ioBefore.value("wchar")));
    std::fflush(stdout);

    plugin.reset();
    qDeleteAll(Core::IOptionsPage::allOptionsPages());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const QString home = Bench::enterScratchHome(argc, argv);
    QApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Plugin start-up with configured repositories"));
    parser.addHelpOption();
    parser.addOptions({{"repositories", "Configured repositories.", "n", "10"},
                       {"samples", "Cold starts, one process each.", "n", "15"},
                       {"once", "One start in this process (used by the benchmark itself)."}});
    parser.process(app);
    const int repositories = parser.value("repositories").toInt();
    const int samples = parser.value("samples").toInt();
    if (repositories < 1 || samples < 1) {
        std::fprintf(stderr, "invalid arguments\n");
        return 2;
    }

    int exitCode = 1;
    if (parser.isSet("once")) {
        exitCode = startOnce(home, repositories);
        HostStandIn::reset();
        return exitCode;
    }

    [&] {
        QList<double> startMs, sslMs;
        int connectionsDuring = 0;
        int connectionsAfterMin = repositories;
        qint64 ioBytesMax = 0;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("TIDEPOOL_BENCH_OWNS_HOME"));
        for (int i = 0; i < samples; ++i) {
            QProcess child;
            child.setProcessEnvironment(environment);
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start(QCoreApplication::applicationFilePath(),
                        {"--once", "--repositories", QString::number(repositories)});
            if (!child.waitForFinished(60000) || child.exitStatus() != QProcess::NormalExit
                || child.exitCode() != 0) {
                std::fprintf(stderr, "a start-up sample failed\n");
                return;
            }
            QHash<QString, double> values;
            const QStringList pairs = QString::fromUtf8(child.readAllStandardOutput()).simplified().split(u' ');
            for (const QString &pair : pairs)
                values.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1).toDouble());
            if (!values.contains(QStringLiteral("start_us"))) {
                std::fprintf(stderr, "a start-up sample printed nothing\n");
                return;
            }
            startMs << values.value("start_us") / 1e3;
            sslMs << values.value("ssl_us") / 1e3;
            connectionsDuring += int(values.value("connections_during"));
            connectionsAfterMin = std::min(connectionsAfterMin, int(values.value("connections_after")));
            ioBytesMax = std::max(ioBytesMax, qint64(values.value("read_bytes") + values.value("written_bytes")));
        }

        const double start = Bench::median(startMs);
        std::printf("%d cold starts with %d repositories: median %.2f ms, slowest %.2f ms; TLS "
                    "library check before it (not counted) %.2f ms\n",
                    samples, repositories, start, *std::max_element(startMs.cbegin(), startMs.cend()),
                    Bench::median(sslMs));
        std::printf("connections during start-up: %d (afterwards, from the event loop: at least "
                    "%d of %d); most bytes read and written during one start-up: %lld\n\n",
                    connectionsDuring, connectionsAfterMin, repositories,
                    static_cast<long long>(ioBytesMax));
        Bench::printFigures({{"P4", QStringLiteral("plugin start-up, %1 repositories").arg(repositories),
                              Bench::milliseconds(start),
                              "-", start / 5.0, 1.0, "<= 5 ms"}});
        if (connectionsDuring != 0)
            std::printf("start-up connected to the network\n");
        exitCode = connectionsDuring == 0 ? 0 : 1;
    }();

    Bench::leaveScratchHome(home);
    return exitCode;
}
