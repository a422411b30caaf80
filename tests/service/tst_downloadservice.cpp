#include "service/downloadservice.h"

#include "plugin/settings.h"
#include "repositories/example.h"
#include "repositories/repository.h"

#include <gitlabserver.h>

#include <coreplugin/helpmanager.h>
#include <coreplugin/icore.h>
#include <hoststandin/hostsetup.h>

#include <QBuffer>
#include <QDirIterator>
#include <QDomDocument>
#include <QImage>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <archive.h>
#include <archive_entry.h>

#include <climits>
#include <memory>

using namespace Tidepool::Internal;

namespace {

const QString repositoryName = QStringLiteral("My Examples");
constexpr int noDate = INT_MIN;
constexpr int installTimeoutMs = 30000;

const QString iconText = QStringLiteral("This file is used by SDK to show image for example inside "
                                        "Welcome screen.\nIt is not the part of the example.");

struct Entry
{
    enum Kind { File, Symlink, Hardlink } kind = File;
    QByteArray path;
    QByteArray content; // File: the bytes; links: the target
};

// A gzip-compressed tar archive holding exactly these entries, in this order.
QByteArray tarGz(const QList<Entry> &entries)
{
    std::vector<char> buffer(1 << 20);
    size_t used = 0;
    archive *writer = archive_write_new();
    archive_write_add_filter_gzip(writer);
    archive_write_set_format_pax_restricted(writer);
    archive_write_open_memory(writer, buffer.data(), buffer.size(), &used);
    for (const Entry &item : entries) {
        archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, item.path.constData());
        archive_entry_set_perm(entry, 0644);
        if (item.kind == Entry::File) {
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_size(entry, item.content.size());
        } else if (item.kind == Entry::Symlink) {
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_symlink(entry, item.content.constData());
        } else {
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_hardlink(entry, item.content.constData());
        }
        archive_write_header(writer, entry);
        if (item.kind == Entry::File)
            archive_write_data(writer, item.content.constData(), size_t(item.content.size()));
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    return QByteArray(buffer.data(), qsizetype(used));
}

QByteArray pngBytes(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

LocalGitLab::ProjectData exampleProject(const QString &path, const QDateTime &lastActivity = {})
{
    LocalGitLab::ProjectData result;
    result.path = path;
    result.name = QStringLiteral("Example %1").arg(path);
    result.description = QStringLiteral("About %1").arg(path);
    result.lastActivity = lastActivity;
    result.files = {{QStringLiteral("CMakeLists.txt"), "project(example)\n"},
                    {QStringLiteral("src/main.cpp"), "int main(int argc, char *argv[]) {}\n"}};
    return result;
}

QString readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Every file and folder below root, as paths relative to it, hidden ones included.
QStringList tree(const QString &root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(root).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

} // namespace

Q_DECLARE_METATYPE(Entry)

class tst_DownloadService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void updateCycle_data();
    void updateCycle();
    void endToEnd();
    void updateReplacesTheOlderFolder();
    void siblingsLeaveEachOtherAlone();
    void topFolderNotNamedAfterThePath();
    void projectFileOnlyInSubfolder();
    void noData();
    void notAnArchive();
    void hostileArchive_data();
    void hostileArchive();
    void unknownRepositoryName();
    void senderIsNoRepository();
    void restartsClientsUntilReady();
    void dateSaveKeepsOtherSaves();

private:
    QUrl addGroup(qint64 *groupId = nullptr);
    void configure(const QUrl &url, quint32 days = 1, int lastCheck = noDate,
                   const QSet<QString> &removed = {}, quint32 restartSeconds = 60);
    qint64 addProject(qint64 group, const LocalGitLab::ProjectData &project);
    bool install(QSignalSpy &installed, int count);
    QString examplePath(const QString &path) const;
    QSet<QString> archiveRequests() const;
    QStringList statuses(const QSignalSpy &spy) const;

    LocalGitLab::Server m_server;
    QUrl m_baseUrl;
    int m_groups = 0;
    QString m_dataRoot;
    std::unique_ptr<QTemporaryDir> m_settingsDir;
    QTemporaryDir m_scratch;
    QString m_tempPath;
    QString m_outside; // where hostile archives aim
    QHash<qint64, QString> m_projectPaths;
};

void tst_DownloadService::initTestCase()
{
    // The data location is fixed when the library loads; it must lie in this test's own folder,
    // since every case wipes it.
    const QString testData = qEnvironmentVariable("TIDEPOOL_TEST_DATA");
    QVERIFY(!testData.isEmpty());
    QVERIFY(examplePathTemplate.startsWith(QDir(testData).absolutePath()));
    m_dataRoot = QFileInfo(dataLocation()).path();

    // Temporary archives go to a folder of their own, so that leftovers can be seen.
    QVERIFY(m_scratch.isValid());
    m_tempPath = m_scratch.filePath(QStringLiteral("tmp"));
    QVERIFY(QDir().mkpath(m_tempPath));
    qputenv("TMPDIR", QFile::encodeName(m_tempPath));
    QCOMPARE(QDir::tempPath(), m_tempPath);
    m_outside = m_scratch.filePath(QStringLiteral("outside-area"));
    QVERIFY(QDir().mkpath(m_outside + QStringLiteral("/outside")));

    m_baseUrl = m_server.start();
    QVERIFY(m_baseUrl.isValid());
}

void tst_DownloadService::init()
{
    m_settingsDir =
        std::make_unique<QTemporaryDir>(m_scratch.filePath(QStringLiteral("settings-XXXXXX")));
    HostStandIn::setSettingsPath(m_settingsDir->path());
    QDir(m_dataRoot).removeRecursively();
    m_server.clearFaults();
    m_server.clearRequestLog();
}

void tst_DownloadService::cleanup()
{
    QCOMPARE(tree(m_tempPath), QStringList());
    HostStandIn::reset();
}

QUrl tst_DownloadService::addGroup(qint64 *groupId)
{
    const QString path = QStringLiteral("group-%1").arg(++m_groups);
    // The group's own name differs from the name the repository is configured under.
    const qint64 id = m_server.addGroup(path, QStringLiteral("Server Name %1").arg(m_groups));
    if (groupId)
        *groupId = id;
    QUrl url = m_baseUrl;
    url.setPath(QLatin1Char('/') + path);
    return url;
}

void tst_DownloadService::configure(const QUrl &url, quint32 days, int lastCheck,
                                    const QSet<QString> &removed, quint32 restartSeconds)
{
    Settings settings;
    settings.updatesCheckTimeoutDays = days;
    settings.serviceRestartTimeoutSeconds = restartSeconds;
    if (url.isValid())
        settings.repositories.insert(repositoryName, RepositorySettings{url, removed, {}, {}, {}});
    if (lastCheck != noDate)
        settings.updatesCheckedDate.insert(repositoryName,
                                           QDate::currentDate().addDays(-lastCheck));
    settings.save(Core::ICore::settings());
}

bool tst_DownloadService::install(QSignalSpy &installed, int count)
{
    return QTest::qWaitFor([&] { return installed.count() >= count; }, installTimeoutMs) &&
           installed.count() == count;
}

qint64 tst_DownloadService::addProject(qint64 group, const LocalGitLab::ProjectData &project)
{
    const qint64 id = m_server.addProject(group, project);
    m_projectPaths.insert(id, project.path);
    return id;
}

QString tst_DownloadService::examplePath(const QString &path) const
{
    return examplePathTemplate.arg(repositoryName, path);
}

QSet<QString> tst_DownloadService::archiveRequests() const
{
    static const QRegularExpression archive(QStringLiteral("/projects/(\\d+)/repository/archive"));
    QSet<QString> paths;
    for (const QString &request : m_server.requestLog()) {
        const QRegularExpressionMatch match = archive.match(request);
        if (!match.hasMatch())
            continue;
        paths.insert(m_projectPaths.value(match.captured(1).toLongLong()));
    }
    return paths;
}

QStringList tst_DownloadService::statuses(const QSignalSpy &spy) const
{
    QStringList texts;
    for (const QList<QVariant> &arguments : spy)
        texts << arguments.at(0).toString();
    return texts;
}

using Offsets = QHash<QString, int>;

void tst_DownloadService::updateCycle_data()
{
    QTest::addColumn<quint32>("days");
    QTest::addColumn<int>("lastCheck"); // days before today, or noDate
    QTest::addColumn<QStringList>("removed");
    QTest::addColumn<QStringList>("installed"); // folders on disk before the cycle
    QTest::addColumn<Offsets>("activity");      // seconds after midnight of the last check day
    QTest::addColumn<bool>("configured");
    QTest::addColumn<QStringList>("downloaded");
    QTest::addColumn<int>("storedDate"); // days before today, or noDate

    const QStringList all{"alpha", "beta", "gamma"};
    QTest::newRow("updates switched off") << 0u << noDate << QStringList() << QStringList()
                                          << Offsets() << true << QStringList() << noDate;
    QTest::newRow("checked yesterday")
        << 1u << 1 << QStringList() << QStringList() << Offsets() << true << QStringList() << 1;
    QTest::newRow("checked today")
        << 1u << 0 << QStringList() << QStringList() << Offsets() << true << QStringList() << 0;
    QTest::newRow("check date in the future")
        << 1u << -2 << QStringList() << QStringList() << Offsets() << true << QStringList() << -2;
    QTest::newRow("checked two days ago, all in place")
        << 1u << 2 << QStringList() << all << Offsets() << true << QStringList() << 0;
    QTest::newRow("no date: everything, installed or not")
        << 1u << noDate << QStringList() << QStringList{"alpha"} << Offsets() << true << all << 0;
    QTest::newRow("removed example skipped")
        << 1u << noDate << QStringList{"beta"} << QStringList() << Offsets() << true
        << QStringList{"alpha", "gamma"} << 0;
    QTest::newRow("deleted folder comes back")
        << 1u << 2 << QStringList() << QStringList{"alpha", "gamma"} << Offsets() << true
        << QStringList{"beta"} << 0;
    QTest::newRow("changed since midnight of the last check")
        << 1u << 2 << QStringList() << all << Offsets{{"alpha", 0}, {"gamma", 3600}} << true
        << QStringList{"alpha", "gamma"} << 0;
    QTest::newRow("changed just before that midnight")
        << 1u << 2 << QStringList() << all << Offsets{{"alpha", -1}} << true << QStringList() << 0;
    QTest::newRow("removed wins over changed")
        << 1u << 2 << QStringList{"alpha"} << QStringList() << Offsets{{"alpha", 60}} << true
        << QStringList{"beta", "gamma"} << 0;
    QTest::newRow("longer interval not yet passed")
        << 3u << 3 << QStringList() << QStringList() << Offsets() << true << QStringList() << 3;
    QTest::newRow("longer interval passed")
        << 3u << 4 << QStringList() << QStringList{"alpha", "beta"} << Offsets() << true
        << QStringList{"gamma"} << 0;
    QTest::newRow("url without a configured name") << 1u << noDate << QStringList() << QStringList()
                                                   << Offsets() << false << QStringList() << 0;
}

void tst_DownloadService::updateCycle()
{
    QFETCH(quint32, days);
    QFETCH(int, lastCheck);
    QFETCH(QStringList, removed);
    QFETCH(QStringList, installed);
    QFETCH(Offsets, activity);
    QFETCH(bool, configured);
    QFETCH(QStringList, downloaded);
    QFETCH(int, storedDate);

    qint64 group = 0;
    const QUrl url = addGroup(&group);
    const QDate checkDay = QDate::currentDate().addDays(lastCheck == noDate ? 0 : -lastCheck);
    for (const QString path : {"alpha", "beta", "gamma"}) {
        const QDateTime lastActivity =
            activity.contains(path)
                ? checkDay.startOfDay().addSecs(activity.value(path))
                : QDateTime::currentDateTime().addDays(-10 - qMax(lastCheck, 0));
        QVERIFY(addProject(group, exampleProject(path, lastActivity)));
    }
    configure(configured ? url : QUrl(), days, lastCheck,
              QSet<QString>(removed.cbegin(), removed.cend()));
    for (const QString &path : installed)
        QVERIFY(QDir().mkpath(examplePath(path)));

    DownloadService service;
    QSignalSpy updated(&service, &DownloadService::updated);
    QSignalSpy status(&service, &DownloadService::statusChanged);
    QSignalSpy installedSpy(Core::HelpManager::Signals::instance(),
                            &Core::HelpManager::Signals::documentationChanged);
    std::unique_ptr<Repository> outsider;
    if (!configured) {
        outsider = std::make_unique<Repository>(url, nullptr);
        connect(outsider.get(), &Repository::fetched, &service, &DownloadService::onFetched);
    }

    // The cycle runs in one go once the list is in: updated() comes first.
    QTRY_VERIFY_WITH_TIMEOUT(updated.count() >= 1, installTimeoutMs);
    if (downloaded.isEmpty())
        QTest::qWait(300); // time for a download that should not happen
    QVERIFY(install(installedSpy, int(downloaded.size())));
    QCOMPARE(archiveRequests(), QSet<QString>(downloaded.cbegin(), downloaded.cend()));
    for (const QString &path : downloaded)
        QVERIFY(QFile::exists(examplePath(path) + QStringLiteral("/examples-manifest.xml")));
    QCOMPARE(updated.count(), 1 + int(downloaded.size()));

    Settings stored;
    stored.load(Core::ICore::settings());
    const QString dateKey = configured ? repositoryName : QString();
    if (storedDate == noDate)
        QVERIFY(!stored.updatesCheckedDate.contains(dateKey));
    else
        QCOMPARE(stored.updatesCheckedDate.value(dateKey),
                 QDate::currentDate().addDays(-storedDate));
    if (!configured) {
        QVERIFY(statuses(status).contains(
            QStringLiteral("Skip downloading examples - unable to find repository for url: ") +
            url.toString()));
    }
}

void tst_DownloadService::endToEnd()
{
    qint64 group = 0;
    const QUrl url = addGroup(&group);

    LocalGitLab::ProjectData hello = exampleProject(QStringLiteral("hello"));
    hello.description = QStringLiteral("<b>Hello</b> & \"welcome\" ]]> to the <![CDATA[ world");
    hello.topics = {QStringLiteral("qt"), QStringLiteral("demo")};
    hello.avatar = pngBytes(64, 32);
    hello.avatarFileName = QStringLiteral("hello.png");

    LocalGitLab::ProjectData qml = exampleProject(QStringLiteral("qmlapp"));
    qml.files = {{QStringLiteral("qmlapp.pro"), "QT += quick\n"},
                 {QStringLiteral("main.cpp"), "int main(int argc, char **argv) {}\n"},
                 {QStringLiteral("qml/qmlapp.qml"), "ApplicationWindow {}\n"},
                 {QStringLiteral("icons/128x128/qmlapp.png"), pngBytes(128, 128)},
                 {QStringLiteral("icons/256x256/qmlapp.png"), pngBytes(256, 256)}};

    LocalGitLab::ProjectData plain = exampleProject(QStringLiteral("plain"));
    plain.files = {{QStringLiteral("CMakeLists.txt"), "project(plain)\n"}};
    plain.description.clear();

    for (const LocalGitLab::ProjectData &each :
         {hello, qml, plain, exampleProject(QStringLiteral("demo")),
          exampleProject(QStringLiteral("demo2"))})
        QVERIFY(addProject(group, each));
    configure(url);

    DownloadService service;
    QSignalSpy updated(&service, &DownloadService::updated);
    QSignalSpy installed(Core::HelpManager::Signals::instance(),
                         &Core::HelpManager::Signals::documentationChanged);
    QVERIFY(install(installed, 5));
    QCOMPARE(updated.count(), 6);

    const QString repositoryFolder = examplePathTemplate.arg(repositoryName, QString());
    QCOMPARE(
        QDir(repositoryFolder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList({"demo", "demo2", "hello", "plain", "qmlapp"}));

    struct Expected
    {
        QString path, projectPath, imageUrl, description, tags, fileToOpen;
    };
    const QList<Expected> expected{
        {"hello", "CMakeLists.txt", examplePath("hello") + "/example-icon.png", hello.description,
         "demo,qt", "/src/main.cpp"},
        {"qmlapp", "qmlapp.pro",
         QFileInfo(examplePath("qmlapp") + "/icons/128x128/qmlapp.png").canonicalFilePath(),
         "About qmlapp", "Qt,example", "/qml/qmlapp.qml"},
        {"plain", "CMakeLists.txt", "dummy.png", "", "Qt,example", "CMakeLists.txt"},
        {"demo", "CMakeLists.txt", "dummy.png", "About demo", "Qt,example", "/src/main.cpp"},
    };
    for (const Expected &e : expected) {
        QFile file(examplePath(e.path) + QStringLiteral("/examples-manifest.xml"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QDomDocument document;
        QString error;
        QVERIFY2(document.setContent(&file, &error), qPrintable(error));
        const QDomElement root = document.documentElement();
        QCOMPARE(root.tagName(), QStringLiteral("instructionals"));
        QCOMPARE(root.attribute("module"), repositoryName);
        const QDomElement example = root.firstChildElement("examples").firstChildElement("example");
        QCOMPARE(example.attribute("name"), QStringLiteral("Example ") + e.path);
        QCOMPARE(example.attribute("projectPath"), e.projectPath);
        QVERIFY(QFile::exists(examplePath(e.path) + QLatin1Char('/') + e.projectPath));
        QCOMPARE(example.attribute("imageUrl"), e.imageUrl);
        const QDomElement description = example.firstChildElement("description");
        QCOMPARE(description.text(), e.description);
        QCOMPARE(description.firstChild().nodeType(), QDomNode::CDATASectionNode);
        QCOMPARE(example.firstChildElement("tags").text(), e.tags);
        QCOMPARE(example.firstChildElement("fileToOpen").text(), e.fileToOpen);
        QCOMPARE(example.firstChildElement("platforms").text(), QStringLiteral("Zel"));
    }

    const QImage icon(examplePath("hello") + QStringLiteral("/example-icon.png"));
    QCOMPARE(icon.size(), QSize(128, 64));
    QCOMPARE(icon.text(QStringLiteral("Description")), iconText);
    QVERIFY(!QFile::exists(examplePath("qmlapp") + QStringLiteral("/example-icon.png")));

    // Once unpacked, the archives are no longer held in memory.
    const Repository::Examples examples = service.examples(repositoryName);
    QCOMPARE(examples.size(), 5);
    for (const Repository::ExamplePtr &example : examples)
        QVERIFY(example->data().isEmpty());
    QVERIFY(service.examples(QStringLiteral("Unknown")).isEmpty());
}

void tst_DownloadService::updateReplacesTheOlderFolder()
{
    qint64 group = 0;
    const QUrl url = addGroup(&group);
    LocalGitLab::ProjectData demo = exampleProject(QStringLiteral("demo"));
    demo.files.insert(QStringLiteral("version.txt"), "1");
    const qint64 id = addProject(group, demo);
    configure(url);

    DownloadService service;
    QSignalSpy installed(Core::HelpManager::Signals::instance(),
                         &Core::HelpManager::Signals::documentationChanged);
    QVERIFY(install(installed, 1));
    const QString manifest = examplePath("demo") + QStringLiteral("/examples-manifest.xml");
    const QDateTime firstWrite = QFileInfo(manifest).lastModified();
    // A leftover of an earlier, interrupted installation.
    QVERIFY(QDir().mkpath(examplePath("demo-main-0123456789")));

    demo.files.remove(QStringLiteral("version.txt"));
    demo.files.insert(QStringLiteral("version2.txt"), "2");
    m_server.setProjectFiles(id, demo.files, QDateTime::currentDateTime());
    QTest::qWait(1100); // a modification time of its own for the new manifest
    service.download(repositoryName, {QStringLiteral("demo")});
    QVERIFY(install(installed, 2));

    const QString repositoryFolder = examplePathTemplate.arg(repositoryName, QString());
    QCOMPARE(
        QDir(repositoryFolder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList{"demo"});
    QVERIFY(!QFile::exists(examplePath("demo") + QStringLiteral("/version.txt")));
    QCOMPARE(readFile(examplePath("demo") + QStringLiteral("/version2.txt")), QStringLiteral("2"));
    QVERIFY(QFileInfo(manifest).lastModified() > firstWrite);
}

void tst_DownloadService::siblingsLeaveEachOtherAlone()
{
    qint64 group = 0;
    const QUrl url = addGroup(&group);
    QVERIFY(addProject(group, exampleProject(QStringLiteral("demo"))));
    QVERIFY(addProject(group, exampleProject(QStringLiteral("demo2"))));
    configure(url);

    DownloadService service;
    QSignalSpy installed(Core::HelpManager::Signals::instance(),
                         &Core::HelpManager::Signals::documentationChanged);
    QVERIFY(install(installed, 2));

    // Folders of demo2 that installing demo must not take for its own.
    QVERIFY(QDir().mkpath(examplePath("demo2-main-leftover")));
    const QString sibling = examplePath("demo2") + QStringLiteral("/examples-manifest.xml");
    const QByteArray siblingManifest = readFile(sibling).toUtf8();
    const QDateTime siblingTime = QFileInfo(sibling).lastModified();

    for (int round = 0; round < 2; ++round) {
        service.download(repositoryName, {QStringLiteral("demo")});
        QVERIFY(install(installed, 3 + round));
    }
    QCOMPARE(QDir(examplePathTemplate.arg(repositoryName, QString()))
                 .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList({"demo", "demo2", "demo2-main-leftover"}));
    QCOMPARE(readFile(sibling).toUtf8(), siblingManifest);
    QCOMPARE(QFileInfo(sibling).lastModified(), siblingTime);
    QVERIFY(QFile::exists(examplePath("demo") + QStringLiteral("/examples-manifest.xml")));
}

void tst_DownloadService::topFolderNotNamedAfterThePath()
{
    qint64 group = 0;
    const QUrl url = addGroup(&group);
    const qint64 id = addProject(group, exampleProject(QStringLiteral("demo")));
    m_server.setArchiveOverride(id,
                                tarGz({{Entry::File, "elsewhere/CMakeLists.txt", "project(x)"}}));
    configure(url);

    DownloadService service;
    QSignalSpy status(&service, &DownloadService::statusChanged);
    QSignalSpy installed(Core::HelpManager::Signals::instance(),
                         &Core::HelpManager::Signals::documentationChanged);
    QVERIFY(install(installed, 1));
    QVERIFY(statuses(status).contains("There was an error while creating example mainfest"));
    // Nothing is renamed: the unpacked folder keeps its own name, and no example is registered.
    QCOMPARE(tree(examplePathTemplate.arg(repositoryName, QString())),
             QStringList({"elsewhere", "elsewhere/CMakeLists.txt"}));
}

void tst_DownloadService::projectFileOnlyInSubfolder()
{
    qint64 group = 0;
    const QUrl url = addGroup(&group);
    LocalGitLab::ProjectData good = exampleProject(QStringLiteral("demo"));
    LocalGitLab::ProjectData broken = exampleProject(QStringLiteral("nested"));
    broken.files = {{QStringLiteral("app/CMakeLists.txt"), "project(app)\n"}};
    const qint64 goodId = addProject(group, good);
    QVERIFY(addProject(group, broken));
    configure(url);

    DownloadService service;
    QSignalSpy status(&service, &DownloadService::statusChanged);
    QSignalSpy installed(Core::HelpManager::Signals::instance(),
                         &Core::HelpManager::Signals::documentationChanged);
    QVERIFY(install(installed, 2));
    QVERIFY(statuses(status).contains("There was an error while creating example mainfest"));
    // A failed first installation leaves nothing behind.
    const QString repositoryFolder = examplePathTemplate.arg(repositoryName, QString());
    QCOMPARE(
        QDir(repositoryFolder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList{"demo"});

    // A broken update keeps the copy installed before, manifest included.
    const QString manifest = examplePath("demo") + QStringLiteral("/examples-manifest.xml");
    const QString before = readFile(manifest);
    const QStringList installedTree = tree(examplePath("demo"));
    m_server.setProjectFiles(goodId, broken.files, QDateTime::currentDateTime());
    status.clear();
    service.download(repositoryName, {QStringLiteral("demo")});
    QVERIFY(install(installed, 3));
    QVERIFY(statuses(status).contains("There was an error while creating example mainfest"));
    QCOMPARE(
        QDir(repositoryFolder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList{"demo"});
    QCOMPARE(tree(examplePath("demo")), installedTree);
    QCOMPARE(readFile(manifest), before);
}

void tst_DownloadService::noData()
{
    configure(QUrl());
    DownloadService service;
    QSignalSpy status(&service, &DownloadService::statusChanged);
    QJsonObject json{{"id", 7}, {"name", "Empty"}, {"path", "empty"}, {"web_url", "http://x"}};
    service.onDownloaded(Repository::ExamplePtr::create(json));
    QCOMPARE(statuses(status), QStringList{"The data is not downloaded for example: Empty"});
    QVERIFY(!QDir(m_dataRoot).exists());
}

void tst_DownloadService::notAnArchive()
{
    qint64 group = 0;
    const QUrl url = addGroup(&group);
    const qint64 id = addProject(group, exampleProject(QStringLiteral("demo")));
    m_server.setArchiveOverride(id, QByteArray("<html>Sign in to continue</html>\n").repeated(20));
    configure(url);

    DownloadService service;
    QSignalSpy status(&service, &DownloadService::statusChanged);
    QTRY_VERIFY_WITH_TIMEOUT(statuses(status).contains("Downloaded file is not an archive"),
                             installTimeoutMs);
    QCOMPARE(tree(m_tempPath), QStringList());
    QCOMPARE(tree(examplePathTemplate.arg(repositoryName, QString())), QStringList());
}

void tst_DownloadService::hostileArchive_data()
{
    QTest::addColumn<QList<Entry>>("entries");
    QTest::addColumn<QString>("target"); // where it aims: absolute, or below the repository folder

    const Entry project{Entry::File, "demo-main/CMakeLists.txt", "project(demo)"};
    QTest::newRow("parent folder traversal")
        << QList<Entry>{project, {Entry::File, "demo-main/../../../../evil.txt", "x"}}
        << QStringLiteral("demo-main/../../../../evil.txt");
    const QByteArray absolute = QFile::encodeName(m_outside + QStringLiteral("/absolute.txt"));
    QTest::newRow("absolute path")
        << QList<Entry>{project, {Entry::File, absolute, "x"}} << QFile::decodeName(absolute);
    const QByteArray outsideFolder = QFile::encodeName(m_outside + QStringLiteral("/outside"));
    QTest::newRow("symbolic link out of the folder")
        << QList<Entry>{project,
                        {Entry::Symlink, "demo-main/escape", outsideFolder},
                        {Entry::File, "demo-main/escape/evil.txt", "x"}}
        << QFile::decodeName(outsideFolder) + QStringLiteral("/evil.txt");
    QTest::newRow("relative link out of the folder")
        << QList<Entry>{project,
                        {Entry::Symlink, "demo-main/up", "../../../../.."},
                        {Entry::File, "demo-main/up/evil.txt", "x"}}
        << QStringLiteral("demo-main/../../../../../evil.txt");
    const QByteArray victim = QFile::encodeName(m_outside + QStringLiteral("/victim.txt"));
    QTest::newRow("hard link to a file outside")
        << QList<Entry>{project,
                        {Entry::Hardlink, "demo-main/victim", victim},
                        {Entry::File, "demo-main/victim", "overwritten"}}
        << QFile::decodeName(victim);
}

void tst_DownloadService::hostileArchive()
{
    QFETCH(QList<Entry>, entries);
    QFETCH(QString, target);

    QFile victim(m_outside + QStringLiteral("/victim.txt"));
    QVERIFY(victim.open(QIODevice::WriteOnly));
    victim.write("untouched");
    victim.close();
    const QStringList scratchBefore = tree(m_outside);

    qint64 group = 0;
    const QUrl url = addGroup(&group);
    const qint64 id = addProject(group, exampleProject(QStringLiteral("demo")));
    m_server.setArchiveOverride(id, tarGz(entries));
    configure(url);

    DownloadService service;
    QSignalSpy status(&service, &DownloadService::statusChanged);
    QSignalSpy updated(&service, &DownloadService::updated);
    QTRY_VERIFY_WITH_TIMEOUT(statuses(status).contains("There was an error while unarchiving"),
                             installTimeoutMs);
    QCOMPARE(updated.count(), 1); // the cycle's own, and none for an installation

    QCOMPARE(tree(m_outside), scratchBefore);
    QCOMPARE(readFile(m_outside + QStringLiteral("/victim.txt")), QStringLiteral("untouched"));
    const QString repositoryFolder = examplePathTemplate.arg(repositoryName, QString());
    if (!target.endsWith(QLatin1String("victim.txt"))) {
        const QString aim =
            QDir::isAbsolutePath(target) ? target : QDir::cleanPath(repositoryFolder + target);
        QVERIFY2(!QFile::exists(aim), qPrintable(aim));
    }
    // Whatever was unpacked stays inside the repository folder, and nothing is registered.
    for (const QString &entry : tree(m_dataRoot)) {
        QVERIFY2(entry == repositoryName || entry.startsWith(repositoryName + QLatin1Char('/')),
                 qPrintable(entry));
    }
    QVERIFY(!QFile::exists(examplePath("demo")));
}

void tst_DownloadService::unknownRepositoryName()
{
    configure(addGroup());
    DownloadService service;
    QSignalSpy status(&service, &DownloadService::statusChanged);
    service.download(QStringLiteral("Elsewhere"), {QStringLiteral("demo")});
    QCOMPARE(
        statuses(status),
        QStringList{"Skip downloading examples - unable to find repository for name: Elsewhere"});
    QVERIFY(service.examples(QStringLiteral("Elsewhere")).isEmpty());
}

void tst_DownloadService::senderIsNoRepository()
{
    configure(QUrl());
    DownloadService service;
    QSignalSpy status(&service, &DownloadService::statusChanged);
    QSignalSpy updated(&service, &DownloadService::updated);
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &service, &DownloadService::onFetched);
    timer.start(0);
    QTRY_COMPARE(statuses(status), QStringList{"Unable to cast repository from: QTimer"});
    QCOMPARE(updated.count(), 0);
}

void tst_DownloadService::restartsClientsUntilReady()
{
    QUrl missing = m_baseUrl;
    missing.setPath(QStringLiteral("/no-such-group"));
    const QUrl good = addGroup();
    Settings settings;
    // Long enough for the good client to find its group before the first tick.
    settings.serviceRestartTimeoutSeconds = 2;
    settings.repositories.insert(QStringLiteral("Missing"),
                                 RepositorySettings{missing, {}, {}, {}, {}});
    settings.repositories.insert(QStringLiteral("Good"), RepositorySettings{good, {}, {}, {}, {}});
    settings.save(Core::ICore::settings());

    DownloadService service;
    QSignalSpy status(&service, &DownloadService::statusChanged);
    const QString restart = QStringLiteral("API client is not ready - restarting (%1)");
    QTRY_VERIFY_WITH_TIMEOUT(statuses(status).count(restart.arg(missing.toString())) >= 2, 15000);
    QVERIFY(!statuses(status).contains(restart.arg(good.toString())));
}

void tst_DownloadService::dateSaveKeepsOtherSaves()
{
    qint64 group = 0;
    const QUrl url = addGroup(&group);
    QVERIFY(addProject(group, exampleProject(QStringLiteral("alpha"))));
    QVERIFY(addProject(group, exampleProject(QStringLiteral("beta"))));
    configure(url);

    DownloadService service;
    QSignalSpy installed(Core::HelpManager::Signals::instance(),
                         &Core::HelpManager::Signals::documentationChanged);

    // The options page saves its own copy while the service runs.
    Settings page;
    page.load(Core::ICore::settings());
    page.repositories[repositoryName].removedExamples = {QStringLiteral("beta")};
    page.repositories.insert(QStringLiteral("Second"),
                             RepositorySettings{QUrl("http://127.0.0.1:1/second"), {}, {}, {}, {}});
    page.updatesCheckTimeoutDays = 5;
    page.save(Core::ICore::settings());

    QVERIFY(install(installed, 1));
    QCOMPARE(archiveRequests(), QSet<QString>{"alpha"});
    Settings stored;
    stored.load(Core::ICore::settings());
    QCOMPARE(stored.updatesCheckedDate.value(repositoryName), QDate::currentDate());
    QCOMPARE(stored.repositories.value(repositoryName).removedExamples, QSet<QString>{"beta"});
    QVERIFY(stored.repositories.contains(QStringLiteral("Second")));
    QCOMPARE(stored.updatesCheckTimeoutDays, 5u);
}

QTEST_MAIN(tst_DownloadService)

#include "tst_downloadservice.moc"
