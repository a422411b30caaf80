#include "repository.h"

#include "apiclient.h"

namespace Tidepool::Internal {

Repository::Repository(const QUrl &url, QObject *parent)
    : QObject(parent)
    , m_url(url)
{
    restart();
}

Repository::~Repository() = default;

bool Repository::isReady() const
{
    return m_client && m_client->isReady();
}

void Repository::restart()
{
    // The old client goes at once: its requests in flight lose their handlers with it, and its
    // waiting downloads are released.
    m_client = std::make_unique<ApiClient>(m_url, nullptr);
    m_client->setDownloadFolder(m_downloadFolder);
    m_listed = false;
    ApiClient *client = m_client.get();
    connect(client, &ApiClient::downloaded, this, &Repository::downloaded);
    connect(client, &ApiClient::downloadFailed, this, &Repository::downloadFailed);
    connect(client, &ApiClient::fetched, this, &Repository::onFetched);
    connect(client, &ApiClient::ready, client, &ApiClient::fetch);
}

void Repository::setDownloadFolder(const QString &folder)
{
    m_downloadFolder = folder;
    m_client->setDownloadFolder(folder);
}

void Repository::download(const QSet<QString> &paths)
{
    if (paths.isEmpty())
        return;

    Examples selection;
    for (const QString &path : paths) {
        for (const ExamplePtr &example : std::as_const(m_examples)) {
            if (example->json().value(QLatin1String("path")).toString() == path) {
                selection.append(example);
                break;
            }
        }
    }
    m_client->download(selection);
}

void Repository::onFetched(const Examples &examples)
{
    m_examples = examples;
    m_listed = true;
    emit fetched();
}

} // namespace Tidepool::Internal
