#pragma once

#include "repository.h"

#include <QObject>
#include <QUrl>

namespace Tidepool::Internal {

// Speaks the GitLab REST API v4 for one repository: looks the group up, lists its projects and
// downloads project archives and avatars.
class ApiClient : public QObject
{
    Q_OBJECT

public:
    ApiClient(const QUrl &url, QObject *parent);
    ~ApiClient() override;

    bool isReady() const { return m_groupId != 0; }
    void download(const Repository::Examples &examples);

signals:
    void ready();
    void statusChanged(QString status);
    void fetched(Repository::Examples examples);
    void downloaded(Repository::ExamplePtr example);

public slots:
    void fetch();

private:
    // (private operations and the rest of the state are the client's own)
    QUrl m_apiUrl;
    QString m_group;
    quint64 m_groupId = 0;
};

} // namespace Tidepool::Internal
