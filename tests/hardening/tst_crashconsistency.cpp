// The IDE killed with SIGKILL at moments spread over updates of every example. After each kill the
// examples the Welcome screen would list are whole and the user's own file lies in exactly one
// place; the next start installs every example.

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
    QMap<QString, QByteArray> files{{"CMakeLists.txt", "project(" + path.toUtf8() + ")\n"},
                                    {"VERSION", QByteArray::number(version)}};
    for (int i = 0; i < 120; ++i) {
        const QByteArray n = QByteArray::number(i);
        const QByteArray line = "// version " + QByteArray::number(version) + "\nint part" + n +
                                "() { return " + n + "; }\n";
        files.insert("src/part" + n + ".cpp", line.repeated(20));
    }
    return files;
}

// What the Welcome screen would list (every folder right in the repository folder with a manifest)
// and the version of each; -1 for one that is not one whole version of its example.
QMap<QString, int> listedVersions(const QString &repositoryFolder)
{
    QMap<QString, int> result;
    for (const QString &name :
         QDir(repositoryFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString folder = repositoryFolder + QLatin1Char('/') + name;
        QFile manifest(folder + "/examples-manifest.xml");
        if (!manifest.open(QIODevice::ReadOnly))
            continue;
        QXmlStreamReader reader(&manifest);
        QString projectPath;
        while (!reader.atEnd())
            if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == u"example")
                projectPath = reader.attributes().value(QLatin1String("projectPath")).toString();
        const int version = readFile(folder + "/VERSION").toInt();
        bool whole = !reader.hasError() && !projectPath.isEmpty() &&
                     QFile::exists(folder + QLatin1Char('/') + projectPath);
        const QMap<QString, QByteArray> expected = exampleFiles(name, version);
        for (auto it = expected.cbegin(); whole && it != expected.cend(); ++it) {
            QFile file(folder + QLatin1Char('/') + it.key());
            whole = file.open(QIODevice::ReadOnly) && file.readAll() == it.value();
        }
        result.insert(name, whole ? version : -1);
    }
    return result;
}

// Every copy below the data folder of the user's notes file with this text.
QStringList notesCopies(const QString &dataFolder, const QByteArray &text)
{
    QStringList copies = tree(dataFolder).filter(QRegularExpression("/notes.txt$"));
    copies.removeIf([&](const QString &copy) {
        return readFile(dataFolder + QLatin1Char('/') + copy).toUtf8() != text;
    });
    return copies;
}

} // namespace

class tst_CrashConsistency : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void killedDuringInstallation();

private:
    // Runs the shell to its end, or kills it after killAfterMs; the names it lists for the
    // repository, or its output when it fails.
    QStringList runShell(int killAfterMs = -1, int *kills = nullptr) const;

    QTemporaryDir m_root;
    LocalGitLab::Server m_server;
    QMap<QString, qint64> m_projects; // by folder
    QStringList m_names;              // as the Welcome screen lists them
    QMap<QString, int> m_latest;      // the version each example has on the server, by folder
    QString m_settingsFile;
    QString m_repositoryFolder;
};

void tst_CrashConsistency::initTestCase()
{
    const QUrl base = m_server.start();
    QVERIFY(m_root.isValid() && base.isValid());
    const qint64 group = m_server.addGroup("crash-examples");
    for (int i = 0; i < exampleCount; ++i) {
        LocalGitLab::ProjectData project;
        project.path = QStringLiteral("example-%1").arg(i);
        project.name = QStringLiteral("Example %1").arg(i);
        project.files = exampleFiles(project.path, 0);
        QVERIFY(*m_projects.insert(project.path, m_server.addProject(group, project)));
        m_names.append(project.name);
        m_latest.insert(project.path, 0);
    }

    // A fresh user, configured the way the SDK's installer does it.
    m_settingsFile = m_root.filePath("settings/QtProject/QtCreator.ini");
    m_repositoryFolder = m_root.filePath("data/VeyraSDK/" + repositoryName);
    QVERIFY(QDir().mkpath(m_repositoryFolder) && QDir().mkpath(m_root.filePath("tmp")));
    QSettings settings(m_settingsFile, QSettings::IniFormat);
    settings.setValue(
        "Help/InstalledExamples",
        QStringList{repositoryName + '|' + m_repositoryFolder + '|' + m_repositoryFolder});
    settings.setValue("Tidepool/Repositories",
                      QStringList{repositoryName + '|' + base.toString() + "/crash-examples|"});
}

QStringList tst_CrashConsistency::runShell(int killAfterMs, int *kills) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", m_root.filePath("data"));
    environment.insert("TMPDIR", m_root.filePath("tmp"));
    environment.remove("QT_LOGGING_RULES");
    environment.remove("ORVIK_SDK_NAME");
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(TIDEPOOL_SHELL,
                  {"-settingspath", m_root.filePath("settings"), "-pluginpath", TIDEPOOL_PLUGIN_DIR,
                   "--headless", "--idle", "300", "--timeout", "60"});
    if (killAfterMs >= 0) {
        QTest::qWait(process.waitForStarted() ? killAfterMs : 0);
        *kills += process.state() == QProcess::Running ? 1 : 0;
        process.kill();
        process.waitForFinished(10000);
        return {};
    }
    if (!process.waitForFinished(90000))
        process.kill();
    process.waitForFinished();
    const QString output =
        QString::fromLocal8Bit(process.readAllStandardOutput() + process.readAllStandardError());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {output};
    // The Welcome listing: a row per example, columns separated by two or more blanks.
    static const QRegularExpression row("^" + repositoryName + "\\s{2,}(.+?)(\\s{2,}|$)",
                                        QRegularExpression::MultilineOption);
    QStringList names;
    for (auto it = row.globalMatch(output); it.hasNext();)
        names << it.next().captured(1);
    names.sort();
    return names;
}

void tst_CrashConsistency::killedDuringInstallation()
{
    // The first installation shows how long one takes; the kills are spread over that time.
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(runShell(), m_names);
    const qint64 installMs = clock.elapsed();
    QCOMPARE(listedVersions(m_repositoryFolder), m_latest);

    const quint32 seed = qEnvironmentVariableIsSet("TIDEPOOL_CRASH_SEED")
                             ? quint32(qEnvironmentVariableIntValue("TIDEPOOL_CRASH_SEED"))
                             : 20261206u;
    QRandomGenerator random(seed);
    int kills = 0;        // a run may finish before its moment comes
    int killedMidway = 0; // kills after which some but not all examples had the new version
    for (int round = 1; round <= rounds; ++round) {
        // The user adds a file to one example before every update: the update must keep it.
        const QByteArray notes = "notes of round " + QByteArray::number(round);
        QVERIFY(writeFile(m_repositoryFolder + "/example-0/notes.txt", notes));
        for (auto it = m_projects.cbegin(); it != m_projects.cend(); ++it) {
            m_server.setProjectFiles(it.value(), exampleFiles(it.key(), round));
            m_latest[it.key()] = round;
        }
        QSettings(m_settingsFile, QSettings::IniFormat).remove("Tidepool/UpdatesCheckedDate");
        // One moment in each tenth of the installation time.
        const int delayMs = int(installMs * (round - 1 + random.generateDouble()) / rounds);
        const QString where = QStringLiteral("round %1, %2 ms").arg(round).arg(delayMs);

        runShell(delayMs, &kills);

        // Right after the crash: whatever would be listed is whole.
        const QList<int> listed = listedVersions(m_repositoryFolder).values();
        QVERIFY2(!listed.contains(-1), qPrintable(where));
        killedMidway += listed.count(round) > 0 && listed.count(round) < exampleCount ? 1 : 0;
        // The user's file is in exactly one place: still in the example, set aside, or kept.
        const QStringList copies = notesCopies(m_root.filePath("data"), notes);
        QVERIFY2(copies.size() == 1, qPrintable(where + ": notes in " + copies.join(", ")));

        // The next start brings every example back at the version published now, and nothing else
        // but the records of what they were installed with.
        QCOMPARE(runShell(), m_names);
        QCOMPARE(listedVersions(m_repositoryFolder), m_latest);
        const auto all = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
        QCOMPARE(QDir(m_repositoryFolder).entryList(all),
                 QStringList(".tidepool-installed") + m_latest.keys());
        // The user's file lies in a kept copy, not in the new version.
        const QStringList kept = notesCopies(m_root.filePath("data"), notes);
        QVERIFY2(kept.size() == 1 &&
                     kept.first().startsWith("VeyraSDK/Kept changes - " + repositoryName + '/'),
                 qPrintable(where + ": notes in " + kept.join(", ")));
        // No archive the crash kept from being unpacked is left in the temporary folder.
        QDirIterator tmpFiles(m_root.filePath("tmp"), QDir::Files | QDir::Hidden,
                              QDirIterator::Subdirectories);
        QVERIFY(!tmpFiles.hasNext());
    }
    qInfo("FIGURE seed=%u rounds=%d kills=%d install_ms=%lld killed_midway=%d", seed, rounds, kills,
          installMs, killedMidway);
    QVERIFY(kills >= rounds / 2);
    QVERIFY(killedMidway > 0);
}

QTEST_GUILESS_MAIN(tst_CrashConsistency)

#include "tst_crashconsistency.moc"
