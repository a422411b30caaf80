// The IDE killed with SIGKILL at moments spread over an installation. After each kill the examples
// the Welcome screen would list are whole and the user's own file lies in exactly one place; the
// next start installs every example. Each round publishes a new version of every example, so kills
// also land in updates of installed copies.

#include "testfiles.h"

#include <gitlabserver.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

using namespace TestFiles;

namespace {

const QString repositoryName = QStringLiteral("Crash Examples");
constexpr int exampleCount = 6;
constexpr int rounds = 10;

QMap<QString, QByteArray> exampleFiles(const QString &path, int version)
{
    QMap<QString, QByteArray> files{{QStringLiteral("CMakeLists.txt"), "project(" + path.toUtf8() + ")\n"},
                                    {QStringLiteral("VERSION"), QByteArray::number(version)}};
    for (int i = 0; i < 120; ++i) {
        files.insert(QStringLiteral("src/part%1.cpp").arg(i),
                     QStringLiteral("// version %1\nint part%2() { return %2; }\n")
                         .arg(version).arg(i).toUtf8().repeated(20));
    }
    return files;
}

// What the Welcome screen would list (every folder right in the repository folder with a manifest)
// and the version of each; -1 for one that is not one whole version of its example.
QMap<QString, int> listedVersions(const QString &repositoryFolder)
{
    QMap<QString, int> result;
    for (const QString &name : QDir(repositoryFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString folder = repositoryFolder + QLatin1Char('/') + name;
        QFile manifest(folder + QStringLiteral("/examples-manifest.xml"));
        if (!manifest.open(QIODevice::ReadOnly))
            continue;
        QXmlStreamReader reader(&manifest);
        QString projectPath;
        while (!reader.atEnd()) {
            if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == u"example")
                projectPath = reader.attributes().value(QLatin1String("projectPath")).toString();
        }
        const int version = readFile(folder + QStringLiteral("/VERSION")).toInt();
        bool whole = !reader.hasError() && !projectPath.isEmpty()
                     && QFile::exists(folder + QLatin1Char('/') + projectPath);
        const QMap<QString, QByteArray> expected = exampleFiles(name, version);
        for (auto it = expected.cbegin(); whole && it != expected.cend(); ++it) {
            QFile file(folder + QLatin1Char('/') + it.key());
            whole = file.open(QIODevice::ReadOnly) && file.readAll() == it.value();
        }
        result.insert(name, whole ? version : -1);
    }
    return result;
}

// The folders holding the user's notes file with this text: the example, its copy set aside
// during an update, or a kept copy.
QStringList notesHolders(const QString &repositoryFolder, const QByteArray &text)
{
    const QString keptRoot = QFileInfo(repositoryFolder).path() + QStringLiteral("/Kept changes - ")
                             + repositoryName;
    QStringList candidates{repositoryFolder + QStringLiteral("/example-0"),
                           repositoryFolder + QStringLiteral("/.example-0.kept")};
    for (const QString &kept : QDir(keptRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        candidates.append(keptRoot + QLatin1Char('/') + kept);
    QStringList result;
    for (const QString &folder : std::as_const(candidates)) {
        if (readFile(folder + QStringLiteral("/notes.txt")).toUtf8() == text)
            result.append(QFileInfo(folder).fileName());
    }
    return result;
}

} // namespace

class tst_CrashConsistency : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void killedDuringInstallation();

private:
    void startShell(QProcess &process) const;
    // Runs the shell until it is done; the names it lists for the repository.
    QStringList runToCompletion();

    QTemporaryDir m_root;
    LocalGitLab::Server m_server;
    QList<qint64> m_projects;
    QString m_settingsFile;
    QString m_repositoryFolder;
};

void tst_CrashConsistency::initTestCase()
{
    QVERIFY(m_root.isValid());
    const QUrl base = m_server.start();
    QVERIFY(base.isValid());
    const qint64 group = m_server.addGroup(QStringLiteral("crash-examples"));
    for (int i = 0; i < exampleCount; ++i) {
        LocalGitLab::ProjectData project;
        project.path = QStringLiteral("example-%1").arg(i);
        project.name = QStringLiteral("Example %1").arg(i);
        project.files = exampleFiles(project.path, 0);
        m_projects.append(m_server.addProject(group, project));
        QVERIFY(m_projects.last());
    }

    // A fresh user, configured the way the SDK's installer does it.
    m_settingsFile = m_root.filePath(QStringLiteral("settings/QtProject/QtCreator.ini"));
    m_repositoryFolder = m_root.filePath(QStringLiteral("data/VeyraSDK/") + repositoryName);
    QVERIFY(QDir().mkpath(m_repositoryFolder));
    QVERIFY(QDir().mkpath(m_root.filePath(QStringLiteral("tmp"))));
    QSettings settings(m_settingsFile, QSettings::IniFormat);
    settings.setValue(QStringLiteral("Help/InstalledExamples"),
                      QStringList{QStringLiteral("%1|%2|%2").arg(repositoryName, m_repositoryFolder)});
    settings.setValue(QStringLiteral("Tidepool/Repositories"),
                      QStringList{QStringLiteral("%1|%2/crash-examples|")
                                      .arg(repositoryName, base.toString())});
}

void tst_CrashConsistency::startShell(QProcess &process) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_root.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("TMPDIR"), m_root.filePath(QStringLiteral("tmp")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.remove(QStringLiteral("QT_LOGGING_RULES"));
    environment.remove(QStringLiteral("ORVIK_SDK_NAME"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TIDEPOOL_SHELL),
                  {QStringLiteral("-settingspath"), m_root.filePath(QStringLiteral("settings")),
                   QStringLiteral("-pluginpath"), QStringLiteral(TIDEPOOL_PLUGIN_DIR),
                   QStringLiteral("--headless"), QStringLiteral("--idle"), QStringLiteral("300"),
                   QStringLiteral("--timeout"), QStringLiteral("60")});
}

QStringList tst_CrashConsistency::runToCompletion()
{
    QProcess process;
    startShell(process);
    if (!process.waitForFinished(90000)) {
        process.kill();
        process.waitForFinished();
    }
    const QString output = QString::fromLocal8Bit(process.readAllStandardOutput())
                           + QString::fromLocal8Bit(process.readAllStandardError());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {output};
    // The Welcome listing: a header starting with "SET", then a row per example, columns
    // separated by two or more blanks.
    static const QRegularExpression columns(QStringLiteral("\\s{2,}"));
    QStringList names;
    bool inTable = false;
    for (const QString &line : output.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("SET")))
            inTable = true;
        else if (inTable && line.startsWith(repositoryName))
            names << line.split(columns).value(1);
        else
            inTable = false;
    }
    names.sort();
    return names;
}

void tst_CrashConsistency::killedDuringInstallation()
{
    QStringList all;
    QMap<QString, int> allAt;
    for (int i = 0; i < exampleCount; ++i) {
        all << QStringLiteral("Example %1").arg(i);
        allAt.insert(QStringLiteral("example-%1").arg(i), 0);
    }

    // The first installation shows how long one takes; the kills are spread over that time.
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(runToCompletion(), all);
    const qint64 installMs = clock.elapsed();
    QCOMPARE(listedVersions(m_repositoryFolder), allAt);

    const quint32 seed = qEnvironmentVariableIsSet("TIDEPOOL_CRASH_SEED")
                             ? quint32(qEnvironmentVariableIntValue("TIDEPOOL_CRASH_SEED"))
                             : 20261206u;
    QRandomGenerator random(seed);
    int kills = 0; // a run may finish before its moment comes
    int killedMidway = 0; // kills after which some but not all examples had the new version
    int previousCopiesSeen = 0;
    int pendingSeen = 0;
    int keptAside = 0; // kills that left the user's copy set aside, to be kept at the next start
    for (int round = 1; round <= rounds; ++round) {
        // The user adds a file to one example before every update: the update must keep it.
        const QByteArray notes = "notes of round " + QByteArray::number(round);
        QVERIFY(writeFile(m_repositoryFolder + QStringLiteral("/example-0/notes.txt"), notes));
        for (int i = 0; i < m_projects.size(); ++i)
            m_server.setProjectFiles(m_projects.at(i), exampleFiles(QStringLiteral("example-%1").arg(i), round));
        QSettings(m_settingsFile, QSettings::IniFormat).remove(QStringLiteral("Tidepool/UpdatesCheckedDate"));
        // One moment in each tenth of the installation time.
        const int delayMs = int(installMs * (round - 1 + random.generateDouble()) / rounds);
        const QString where = QStringLiteral("round %1, %2 ms").arg(round).arg(delayMs);

        QProcess process;
        startShell(process);
        QVERIFY(process.waitForStarted());
        QTest::qWait(delayMs);
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            QVERIFY(process.waitForFinished(10000));
            ++kills;
        }

        // Right after the crash: whatever would be listed is whole.
        const QMap<QString, int> listed = listedVersions(m_repositoryFolder);
        QVERIFY2(!listed.values().contains(-1), qPrintable(where));
        const int updated = int(listed.values().count(round));
        killedMidway += updated > 0 && updated < exampleCount ? 1 : 0;
        // The user's file is in exactly one place: still in the example, set aside, or kept.
        const QStringList holders = notesHolders(m_repositoryFolder, notes);
        QVERIFY2(holders.size() == 1, qPrintable(where + ": notes in " + holders.join(", ")));
        keptAside += holders.first() == QLatin1String(".example-0.kept") ? 1 : 0;
        previousCopiesSeen += QDir(m_repositoryFolder)
                                  .entryList({QStringLiteral(".*.previous")}, QDir::Dirs | QDir::Hidden)
                                  .size();
        pendingSeen += QFile::exists(m_repositoryFolder + QStringLiteral("/.tidepool-pending")) ? 1 : 0;

        // The next start brings every example back at the version published now, and nothing else
        // but the records of what they were installed with.
        QCOMPARE(runToCompletion(), all);
        for (auto it = allAt.begin(); it != allAt.end(); ++it)
            it.value() = round;
        QCOMPARE(listedVersions(m_repositoryFolder), allAt);
        QCOMPARE(QDir(m_repositoryFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList(QStringLiteral(".tidepool-installed")) + allAt.keys());
        // The user's file lies in a kept copy, not in the new version.
        const QStringList kept = notesHolders(m_repositoryFolder, notes);
        QVERIFY2(kept.size() == 1 && !kept.first().startsWith(QLatin1String("example-0"))
                     && !kept.first().startsWith(QLatin1Char('.')),
                 qPrintable(where + ": notes in " + kept.join(", ")));
        // No archive the crash kept from being unpacked is left in the temporary folder.
        QDirIterator tmpFiles(m_root.filePath(QStringLiteral("tmp")), QDir::Files | QDir::Hidden,
                              QDirIterator::Subdirectories);
        QVERIFY(!tmpFiles.hasNext());
    }
    QVERIFY(kills >= rounds / 2);
    qInfo("FIGURE seed=%u rounds=%d kills=%d install_ms=%lld killed_midway=%d previous_copies_seen=%d "
          "pending_seen=%d kept_aside_seen=%d",
          seed, rounds, kills, installMs, killedMidway, previousCopiesSeen, pendingSeen, keptAside);
}

QTEST_GUILESS_MAIN(tst_CrashConsistency)

#include "tst_crashconsistency.moc"
