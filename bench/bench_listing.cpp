// Lists a group of many projects through the API client (its lookup, then every page of the
// group's projects), side by side with curl fetching the same requests one after the other over
// one connection; probes the GUI thread's lateness meanwhile.

#include "benchsupport.h"
#include "guiprobe.h"

#include "repositories/apiclient.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QUrl>

using namespace Tidepool::Internal;

namespace {

const QString groupPath = QStringLiteral("bench");

struct Listing
{
    double seconds = -1;
    qsizetype examples = 0;
    QList<double> lateness;
};

Listing listThroughClient(const QUrl &repositoryUrl)
{
    Listing result;
    QEventLoop loop;
    Bench::GuiProbe probe;
    probe.start();
    QElapsedTimer timer;
    timer.start();
    ApiClient client(repositoryUrl, nullptr);
    QObject::connect(&client, &ApiClient::ready, &client, &ApiClient::fetch);
    QObject::connect(&client, &ApiClient::fetched, &loop,
                     [&](const Repository::Examples &examples) {
                         result.examples = examples.size();
                         loop.quit();
                     });
    QObject::connect(&client, &ApiClient::checkFailed, &loop, &QEventLoop::quit);
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    result.seconds = double(timer.nsecsElapsed()) / 1e9;
    result.lateness = probe.stop();
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    const QString home = Bench::enterScratchHome(argc, argv);
    QApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Listing a group of many projects"));
    parser.addHelpOption();
    parser.addOptions({{"projects", "Number of projects in the group.", "n", "1000"},
                       {"rounds", "Rounds of both measurements.", "n", "7"},
                       {"server", "The gitlab-server executable.", "path",
                        QCoreApplication::applicationDirPath() + QStringLiteral("/gitlab-server")}});
    parser.process(app);
    const int projects = parser.value("projects").toInt();
    const int rounds = parser.value("rounds").toInt();
    if (projects < 1 || rounds < 1) {
        std::fprintf(stderr, "invalid arguments\n");
        return 2;
    }

    int exitCode = 1;
    QProcess server;
    [&] {
        const QString catalogue = home + QStringLiteral("/catalogue");
        for (int i = 0; i < projects; ++i) {
            const QString name = QStringLiteral("example-%1").arg(i, 4, 10, QLatin1Char('0'));
            const QString folder = catalogue + u'/' + groupPath + u'/' + name;
            if (!Bench::writeFile(folder + QStringLiteral("/CMakeLists.txt"), "project(" + name.toUtf8() + ")\n")
                || !Bench::writeFile(folder + QStringLiteral(".json"),
                              "{\"name\": \"Example " + QByteArray::number(i)
                                  + "\", \"description\": \"A generated example with a description "
                                    "of about the length real ones have.\", \"topics\": [\"qt\"]}")) {
                std::fprintf(stderr, "cannot write the catalogue\n");
                return;
            }
        }
        const QString base = Bench::startServer(server, parser.value("server"), catalogue);
        if (base.isEmpty())
            return;
        const QUrl repositoryUrl(base + u'/' + groupPath);

        // The same requests the client makes: the lookup, then each page in turn.
        const Listing first = listThroughClient(repositoryUrl);
        if (first.examples != projects) {
            std::fprintf(stderr, "listed %lld of %d projects\n",
                         static_cast<long long>(first.examples), projects);
            return;
        }
        QStringList curlArguments{"-sSf"};
        curlArguments << QStringLiteral("%1/api/v4/groups?search=%22%2%22").arg(base, groupPath)
                      << "-o" << "/dev/null";
        const auto search = Bench::run(QStringLiteral("curl"),
                                       {"-sSf", QStringLiteral("%1/api/v4/groups?search=%22%2%22")
                                                    .arg(base, groupPath)});
        if (!search)
            return;
        const qint64 groupId =
            QJsonDocument::fromJson(*search).array().at(0).toObject().value("id").toInteger();
        const int pages = (projects + 99) / 100;
        for (int page = 1; page <= pages; ++page) {
            curlArguments << QStringLiteral("%1/api/v4/groups/%2/projects?order_by=id&sort=asc&"
                                            "per_page=100&page=%3")
                                 .arg(base)
                                 .arg(groupId)
                                 .arg(page)
                          << "-o" << "/dev/null";
        }

        QList<double> clientTimes, curlTimes, lateness;
        double worstStall = 0;
        for (int round = 0; round < rounds; ++round) {
            for (int step = 0; step < 2; ++step) {
                if ((step + round) % 2 == 0) {
                    QElapsedTimer timer;
                    timer.start();
                    if (!Bench::run(QStringLiteral("curl"), curlArguments))
                        return;
                    curlTimes << double(timer.nsecsElapsed()) / 1e9;
                } else {
                    const Listing listing = listThroughClient(repositoryUrl);
                    if (listing.examples != projects)
                        return;
                    clientTimes << listing.seconds;
                    lateness << listing.lateness;
                    for (double late : listing.lateness)
                        worstStall = std::max(worstStall, late);
                }
            }
        }
        const double client = Bench::median(clientTimes);
        const double curl = Bench::median(curlTimes);
        std::printf("%d projects in %d pages; medians of %d rounds\n\n", projects, pages, rounds);
        Bench::printFigures({
            {"P7", "listing vs curl of the same pages", Bench::seconds(client),
             Bench::seconds(curl), client / curl, 1.3, "<= 1.30x"},
            {"P7", "GUI thread longest stall", Bench::milliseconds(worstStall), "-",
             worstStall / 50.0, 1.0, "<= 50 ms"},
        });
        exitCode = 0;
    }();

    Bench::stopServer(server);
    Bench::leaveScratchHome(home);
    return exitCode;
}
