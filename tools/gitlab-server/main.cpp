#include "gitlabserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

using namespace LocalGitLab;

static int signalPipe[2] = {-1, -1};

static void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

static bool parseRoute(const QString &text, Route *route)
{
    static const QList<std::pair<QString, Route>> routes = {
        {"any", Route::Any}, {"search", Route::Search}, {"group", Route::Group},
        {"projects", Route::Projects}, {"archive", Route::Archive}, {"avatar", Route::Avatar},
        {"other", Route::Other}};
    for (const auto &[name, value] : routes) {
        if (name == text) {
            *route = value;
            return true;
        }
    }
    return false;
}

// ROUTE:KIND[:ARG][@TIMES], e.g. "archive:status:500@2", "search:delay:3000", "avatar:html".
static bool parseFault(const QString &text, Route *route, Fault *fault, int *times)
{
    QString rest = text;
    *times = -1;
    if (const qsizetype at = rest.lastIndexOf(QLatin1Char('@')); at >= 0) {
        bool ok = false;
        *times = rest.mid(at + 1).toInt(&ok);
        if (!ok || *times <= 0)
            return false;
        rest.truncate(at);
    }
    const QStringList parts = rest.split(QLatin1Char(':'));
    if (parts.size() < 2 || !parseRoute(parts.at(0), route))
        return false;
    const QString kind = parts.at(1);
    const QString argument = parts.mid(2).join(QLatin1Char(':'));
    const int number = argument.toInt();
    if (kind == QLatin1String("status") && number >= 100)
        *fault = Fault::httpStatus(number);
    else if (kind == QLatin1String("delay") && number > 0)
        *fault = Fault::delay(number);
    else if (kind == QLatin1String("hang"))
        *fault = Fault::hangBeforeHeaders();
    else if (kind == QLatin1String("hang-mid-body"))
        *fault = Fault::hangMidBody();
    else if (kind == QLatin1String("reset"))
        *fault = Fault::reset();
    else if (kind == QLatin1String("truncate"))
        *fault = Fault::truncate();
    else if (kind == QLatin1String("corrupt"))
        *fault = Fault::corrupt();
    else if (kind == QLatin1String("invalid-json"))
        *fault = Fault::invalidJson();
    else if (kind == QLatin1String("html"))
        *fault = Fault::html();
    else if (kind == QLatin1String("redirect") && !argument.isEmpty())
        *fault = Fault::redirect(QUrl(argument));
    else if (kind == QLatin1String("redirect-loop"))
        *fault = Fault::redirectLoop();
    else if (kind == QLatin1String("slow") && number > 0)
        *fault = Fault::slowBody(number);
    else
        return false;
    return true;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("gitlab-server"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves a folder of example projects through the GitLab REST API v4."));
    parser.addHelpOption();
    const QCommandLineOption rootOption(QStringLiteral("root"), QStringLiteral("Catalogue folder."),
                                        QStringLiteral("DIR"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port (0: any free one)."),
                                        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption hostOption(QStringLiteral("host"), QStringLiteral("Address to listen on."),
                                        QStringLiteral("ADDRESS"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption faultOption(
        QStringLiteral("fault"),
        QStringLiteral("Inject a fault: ROUTE:KIND[:ARG][@TIMES]. Routes: any, search, group, projects, "
                       "archive, avatar, other. Kinds: status:CODE, delay:MS, hang, hang-mid-body, reset, "
                       "truncate, corrupt, invalid-json, html, redirect:URL, redirect-loop, slow:BYTES_PER_S."),
        QStringLiteral("FAULT"));
    parser.addOptions({rootOption, portOption, hostOption, faultOption});
    parser.process(app);

    Server server;
    if (parser.isSet(rootOption)) {
        QString error;
        if (!server.loadCatalogue(parser.value(rootOption), &error)) {
            std::fprintf(stderr, "gitlab-server: %s\n", qPrintable(error));
            return 1;
        }
    }
    for (const QString &text : parser.values(faultOption)) {
        Route route = Route::Any;
        Fault fault;
        int times = -1;
        if (!parseFault(text, &route, &fault, &times)) {
            std::fprintf(stderr, "gitlab-server: bad --fault \"%s\"\n", qPrintable(text));
            return 1;
        }
        server.addFault(route, fault, times);
    }
    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    const QHostAddress host(parser.value(hostOption));
    if (!portOk || port > 65535 || host.isNull()) {
        std::fprintf(stderr, "gitlab-server: bad --port or --host\n");
        return 1;
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return 1;
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    const QUrl base = server.start(quint16(port), host);
    if (!base.isValid()) {
        std::fprintf(stderr, "gitlab-server: cannot listen on %s:%u\n", qPrintable(host.toString()), port);
        return 1;
    }
    std::printf("%s\n", qPrintable(base.toString()));
    std::fflush(stdout);

    const int result = app.exec();
    server.stop();
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    return result;
}
