// Arbitrary group search (first byte odd) or group listing bodies, served as JSON with status 200;
// every example the client yields is valid and has a usable folder name (the manifests made from
// any texts are fuzz_manifest's).

#include "repositories/apiclient.h"
#include "plugin/settings.h"
#include "repositories/example.h"

#include <gitlabserver.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonObject>
#include <QTimer>

#include <cstdlib>
#include <memory>

using namespace Tidepool::Internal;

static LocalGitLab::Server *server = nullptr;
static QUrl repositoryUrl;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    static QCoreApplication app(*argc, *argv);
    server = new LocalGitLab::Server;
    server->addGroup("fuzz-group", "Fuzz Group");
    repositoryUrl = server->start().resolved(QUrl("/fuzz-group"));
    ApiClient::setTransferTimeouts(2000, 2000);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size > 256 * 1024)
        return 0;
    const bool search = data[0] & 1;
    LocalGitLab::Fault answer = LocalGitLab::Fault::httpStatus(200);
    answer.contentType = "application/json";
    answer.body = size > 1 ? QByteArray(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1)) : " ";
    server->clearFaults();
    server->addFault(search ? LocalGitLab::Route::Search : LocalGitLab::Route::Projects, answer);

    // Done once the answer of interest is handled: an empty status opens the handling of each
    // reply, an error status or fetched() ends it.
    auto client = std::make_unique<ApiClient>(repositoryUrl, nullptr);
    QEventLoop loop;
    int replies = 0;
    Repository::Examples examples;
    QObject::connect(client.get(), &ApiClient::ready, client.get(), &ApiClient::fetch);
    QObject::connect(client.get(), &ApiClient::statusChanged, &loop, [&](const QString &status) {
        if (status.contains(QLatin1String("error"), Qt::CaseInsensitive)
            || (status.isEmpty() && ++replies == (search ? 1 : 2)))
            QTimer::singleShot(0, &loop, &QEventLoop::quit);
    });
    QObject::connect(client.get(), &ApiClient::fetched, &loop, [&](const Repository::Examples &fetched) {
        examples = fetched;
        QTimer::singleShot(0, &loop, &QEventLoop::quit);
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    client.reset();

    for (const Repository::ExamplePtr &example : std::as_const(examples)) {
        if (!example->isValid() || !isSafeFolderName(example->json().value("path").toString()))
            std::abort();
    }
    return 0;
}
