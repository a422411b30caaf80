#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>

namespace LocalGitLab {

// The kinds of request the server tells apart, for fault injection and request counting.
enum class Route {
    Any,      // matches every request (faults and counts only)
    Search,   // GET /api/v4/groups (with or without ?search=)
    Group,    // GET /api/v4/groups/:id
    Projects, // GET /api/v4/groups/:id/projects and GET /api/v4/projects/:id
    Archive,  // GET /api/v4/projects/:id/repository/archive[.format]
    Avatar,   // GET /uploads/-/system/project/avatar/:id/:file
    Other     // anything else (answered with 404)
};

// How a request is mistreated. Build one with the factory functions; after() adds a delay before
// whatever the fault does (a Fault::delay() alone answers normally, just late).
struct Fault
{
    enum Kind {
        None,              // the normal answer
        Status,            // an error status with a GitLab-like body (429 carries Retry-After)
        HangBeforeHeaders, // the request is read, nothing is ever sent, the connection stays open
        HangMidBody,       // headers and half of the body are sent, then nothing more
        Reset,             // the connection is reset without an answer
        Truncate,          // Content-Length announces the whole body, half is sent, then close
        Corrupt,           // the normal answer with some body bytes flipped
        InvalidJson,       // 200 with a JSON content type and a body that does not parse
        Html,              // 200 with an HTML page instead of JSON, an archive or an image
        Redirect,          // 302 to location
        RedirectLoop,      // 302 to the requested URL itself, forever
        SlowBody           // the normal answer, its body trickling at bytesPerSecond
    };

    Kind kind = None;
    int delayMs = 0;
    int status = 0;
    int retryAfterSeconds = -1; // Status: Retry-After header when >= 0 (429 defaults to 60)
    QByteArray body;            // Status: replaces the default body when not empty
    QByteArray contentType;     // Status: content type of a custom body
    QUrl location;              // Redirect target, absolute or relative to the request
    int bytesPerSecond = 0;     // SlowBody

    static Fault delay(int ms);
    static Fault httpStatus(int status, int retryAfterSeconds = -1);
    static Fault hangBeforeHeaders();
    static Fault hangMidBody();
    static Fault reset();
    static Fault truncate();
    static Fault corrupt();
    static Fault invalidJson();
    static Fault html();
    static Fault redirect(const QUrl &location);
    static Fault redirectLoop();
    static Fault slowBody(int bytesPerSecond);

    Fault after(int ms) const;
};

// One example project, as tests hand it to addProject().
struct ProjectData
{
    qint64 id = 0; // 0: the server picks a free id
    QString path;
    QString name; // empty: the path
    QString description;
    QStringList topics;
    QDateTime lastActivity;   // invalid: the newest file time, or the time the project was added
    QString defaultBranch = QStringLiteral("main");
    QMap<QString, QByteArray> files;     // relative path -> content
    QMap<QString, QDateTime> fileTimes;  // optional per-file modification times
    QSet<QString> executables;           // paths archived with mode 0775
    QMap<QString, QString> symlinks;     // relative path -> link target
    QByteArray avatar;
    QString avatarFileName; // e.g. "logo.png"; decides the content type
};

class Server final
{
public:
    Server();
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // Listens on its own thread and returns the base URL, e.g. http://127.0.0.1:41234; an
    // invalid URL when it cannot listen.
    QUrl start(quint16 port = 0, const QHostAddress &host = QHostAddress::LocalHost);
    // Closes every connection, hung ones included, and ends the thread. Idempotent.
    void stop();
    QUrl baseUrl() const;
    bool isRunning() const;

    // Catalogue. All calls are thread-safe and take effect for the next request.
    bool loadCatalogue(const QString &rootDir, QString *errorMessage = nullptr);
    qint64 addGroup(const QString &fullPath, const QString &name = {}, qint64 id = 0,
                    const QString &description = {});
    qint64 addProject(qint64 groupId, const ProjectData &project); // 0 on failure
    bool removeProject(qint64 projectId);
    void setProjectFiles(qint64 projectId, const QMap<QString, QByteArray> &files,
                         const QDateTime &lastActivity = {},
                         const QMap<QString, QDateTime> &fileTimes = {});
    void setLastActivity(qint64 projectId, const QDateTime &lastActivity);
    void setTopics(qint64 projectId, const QStringList &topics);
    void setDescription(qint64 projectId, const QString &description);
    void setAvatar(qint64 projectId, const QByteArray &bytes, const QString &fileName);
    // Overrides one field of the rendered project entity everywhere it appears; an undefined
    // value removes the field.
    void setProjectField(qint64 projectId, const QString &key, const QJsonValue &value);
    // Replaces the whole rendered entity (which need not be an object); undefined restores it.
    void setProjectJson(qint64 projectId, const QJsonValue &raw);
    void setGroupField(qint64 groupId, const QString &key, const QJsonValue &value);
    // Serves these bytes as the project's archive, whatever the format or ref; empty restores it.
    void setArchiveOverride(qint64 projectId, const QByteArray &bytes);

    QList<qint64> groupIds() const;
    QList<qint64> projectIds(qint64 groupId) const;
    qint64 groupId(const QString &fullPath) const;              // 0 when unknown
    qint64 projectId(const QString &pathWithNamespace) const;   // 0 when unknown
    QString commitSha(qint64 projectId) const;                  // 40 hex digits of the content
    QString archiveFolderName(qint64 projectId, const QString &ref = {}) const;
    QUrl avatarUrl(qint64 projectId) const;                     // empty without an avatar
    int archiveBuildCount() const;                              // archives built, cache misses

    // Fault injection: the first matching fault with requests left applies. times < 0: forever.
    // A pattern is matched against the path and query as received ("/api/v4/groups?search=...").
    int addFault(Route route, const Fault &fault, int times = -1);
    int addFault(const QRegularExpression &pattern, const Fault &fault, int times = -1);
    void removeFault(int faultId);
    void clearFaults();

    // "GET /api/v4/groups?search=%22examples%22", in arrival order.
    QStringList requestLog() const;
    int requestCount(Route route = Route::Any) const;
    void clearRequestLog();
    int openConnections() const;

    class Private;

private:
    std::unique_ptr<Private> d;
};

} // namespace LocalGitLab
