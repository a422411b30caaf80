#pragma once

#include "example.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QSharedPointer>
#include <QUrl>

#include <memory>

namespace Tidepool::Internal {

class ApiClient;

// One configured online repository: owns the REST client for its URL, keeps the examples last
// listed and relays finished downloads.
class Repository : public QObject
{
    Q_OBJECT

public:
    using ExamplePtr = QSharedPointer<Example>;
    using Examples = QList<ExamplePtr>;

    Repository(const QUrl &url, QObject *parent);
    ~Repository() override;

    QUrl url() const { return m_url; }
    Examples examples() const { return m_examples; }
    bool isReady() const;
    // Whether the current client has listed the group's projects.
    bool isListed() const { return m_listed; }
    void restart();
    void download(const QSet<QString> &paths);
    // Where the client writes archives while they arrive, now and after a restart.
    void setDownloadFolder(const QString &folder);

signals:
    void downloaded(Tidepool::Internal::Repository::ExamplePtr example);
    void downloadFailed(Tidepool::Internal::Repository::ExamplePtr example);
    void fetched();
    // The current client's group lookup or listing failed; reason is what it last reported.
    void checkFailed(const QString &reason);

private slots:
    void onFetched(const Tidepool::Internal::Repository::Examples &examples);

private:
    QUrl m_url;
    Examples m_examples;
    bool m_listed = false;
    QString m_downloadFolder;
    QString m_lastStatus;   // the current client's latest status text
    std::unique_ptr<ApiClient> m_client;
};

} // namespace Tidepool::Internal

Q_DECLARE_METATYPE(Tidepool::Internal::Repository::ExamplePtr)
Q_DECLARE_METATYPE(Tidepool::Internal::Repository::Examples)
