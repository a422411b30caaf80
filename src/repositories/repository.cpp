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
    m_lastStatus.clear();
    ApiClient *client = m_client.get();
    // Download chains report from other threads; what an old client still had queued is no
    // reason for the current one's failure.
    connect(client, &ApiClient::statusChanged, this, [this, client](const QString &status) {
        if (client == m_client.get() && !status.isEmpty())
            m_lastStatus = status;
    });
    connect(client, &ApiClient::checkFailed, this, [this] {
        emit checkFailed(m_lastStatus.isEmpty()
                             ? tr("The address is no GitLab group: %1").arg(m_url.toString())
                             : m_lastStatus);
    });
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
