#include <gitlabserver.h>

#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// The plugin's manifests read by the real Qt Creator under Xvfb, its examples model's debug output
// naming each manifest read and each rejected; a damaged copy shows the check sees a rejection.

static const QString setName = QStringLiteral("Veyra Examples");

struct CreatorRun
{
    QStringList read;     // manifest files, in the order read
    QStringList errors;   // its complaints about manifests and examples
    QString log;
    bool allRead = false;
};

class tst_RealCreator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { m_display.kill(); m_display.waitForFinished(); }
    void manifests_data();
    void manifests();

private:
    QString installed() const { return m_dir.filePath("data/VeyraSDK/" + setName); }
    CreatorRun runCreator(const QString &folder, const QStringList &manifests, const QString &picture);

    QTemporaryDir m_dir;
    QString m_creator;
    QProcess m_display;
    QString m_displayName;
};

// Where Qt Creator looks: one folder down, no deeper.
static QStringList manifestsIn(const QString &folder)
{
    QStringList manifests;
    for (const QString &example : QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        manifests.append(folder + '/' + example + "/examples-manifest.xml");
    manifests.removeIf([](const QString &m) { return !QFileInfo::exists(m); });
    return manifests;
}

void tst_RealCreator::initTestCase()
{
    m_creator = QStandardPaths::findExecutable("qtcreator");
    const QString xvfb = QStandardPaths::findExecutable("Xvfb");
    QVERIFY2(!m_creator.isEmpty() && !xvfb.isEmpty(),
             "qtcreator and Xvfb are needed: scripts/install-deps installs them");

    // The plugin installs the demo catalogue, as the demo does.
    LocalGitLab::Server server;
    QString error;
    QVERIFY2(server.loadCatalogue(TIDEPOOL_DEMO_CATALOGUE, &error), qPrintable(error));
    QVERIFY(server.start().isValid() && QDir().mkpath(installed()));
    QSettings settings(m_dir.filePath("shell/QtProject/QtCreator.ini"), QSettings::IniFormat);
    settings.setValue("Help/InstalledExamples", QString("%1|%2|%2").arg(setName, installed()));
    settings.setValue("Tidepool/Repositories",
                      QString("%1|%2/veyra-examples|").arg(setName, server.baseUrl().toString()));
    settings.sync();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", m_dir.filePath("data"));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.remove("QT_LOGGING_RULES");
    environment.remove("ORVIK_SDK_NAME");
    QProcess shell;
    shell.setProcessEnvironment(environment);
    shell.start(TIDEPOOL_SHELL, {"-settingspath", m_dir.filePath("shell"), "--headless", "--timeout", "60"});
    // The server answers from this thread's event loop.
    QTRY_VERIFY_WITH_TIMEOUT(shell.state() == QProcess::NotRunning, 90000);
    const QByteArray output = shell.readAllStandardOutput() + shell.readAllStandardError();
    QVERIFY2(shell.exitStatus() == QProcess::NormalExit && shell.exitCode() == 0, output);
    QCOMPARE(manifestsIn(installed()).size(), 4);

    // A display of its own; Xvfb picks a free number and says which.
    m_display.start(xvfb, {"-displayfd", "1", "-screen", "0", "1600x800x24", "-nolisten", "tcp"});
    QTRY_VERIFY_WITH_TIMEOUT(m_display.canReadLine() || m_display.state() == QProcess::NotRunning, 30000);
    m_displayName = ':' + QString::fromLatin1(m_display.readLine().trimmed());
    QVERIFY2(m_displayName.size() > 1, m_display.readAllStandardError());
}

CreatorRun tst_RealCreator::runCreator(const QString &folder, const QStringList &manifests, const QString &picture)
{
    const QString home = m_dir.filePath("creator-" + QFileInfo(folder).fileName());
    QDir().mkpath(home + "/runtime");
    QFile(home + "/runtime").setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QSettings settings(home + "/settings/QtProject/QtCreator.ini", QSettings::IniFormat);
    settings.setValue("Help/InstalledExamples", QString("%1|%2|%2").arg(setName, folder));
    // The Welcome screen opens on this set, without the hints a new user gets in front of it.
    settings.setValue("WelcomePage/SelectedExampleSet", setName);
    settings.setValue("Welcome2Tab", "Examples");
    settings.setValue("SuppressedWarnings", QStringList{"TakeUITour", "Welcome.UITour", "LinkWithQtInstallation"});
    settings.sync();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", m_displayName);
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("QT_LOGGING_RULES", "qtc.examples.debug=true");
    environment.insert("QTC_DEBUG_EXAMPLESMODEL", "1");
    // Nothing of the user's is read or written.
    environment.insert("HOME", home);
    for (const QString dir : {"CONFIG_HOME", "DATA_HOME", "CACHE_HOME", "RUNTIME_DIR"})
        environment.insert("XDG_" + dir, home + '/' + dir.section('_', 0, 0).toLower());

    QProcess creator;
    creator.setProcessEnvironment(environment);
    creator.setProcessChannelMode(QProcess::MergedChannels);
    // The window fills the screen (an option of Qt's X11 platform, for the first window).
    creator.start(m_creator, {"-settingspath", home + "/settings", "-geometry", "1600x800+0+0"});

    CreatorRun run;
    static const QRegularExpression reading(R"re(Reading file \\?"(.*?)\\?"\.\.\.)re");
    const auto readLines = [&] {
        while (creator.canReadLine()) {
            const QString line = QString::fromLocal8Bit(creator.readLine()).trimmed();
            run.log += line + '\n';
            const QRegularExpressionMatch match = reading.match(line);
            if (match.hasMatch() && !run.read.contains(match.captured(1)))
                run.read.append(match.captured(1));
            else if (line.contains("ERROR"))
                run.errors.append(line);
        }
    };
    // It needs a few seconds; once all is read, time for the page to be drawn and late complaints.
    QDeadlineTimer deadline(90 * 1000);
    while (!deadline.hasExpired() && creator.state() != QProcess::NotRunning) {
        creator.waitForReadyRead(100);
        readLines();
        if (!run.allRead &&
            std::all_of(manifests.cbegin(), manifests.cend(),
                        [&run](const QString &m) { return run.read.contains(m); })) {
            run.allRead = true;
            deadline.setRemainingTime(2500);
        }
    }
    if (!picture.isEmpty() && creator.state() == QProcess::Running) {
        QProcess grab;
        grab.setProcessEnvironment(environment);
        grab.start(TIDEPOOL_SCREENGRAB, {picture});
        if (!grab.waitForFinished(30000) || grab.exitCode() != 0)
            run.errors.append("screengrab: " + QString::fromLocal8Bit(grab.readAllStandardError()));
    }
    creator.kill();
    creator.waitForFinished();
    readLines();
    return run;
}

void tst_RealCreator::manifests_data()
{
    QTest::addColumn<QString>("removed");     // a file of the installed set; empty: as installed
    QTest::addColumn<QString>("complaint");   // what Qt Creator says about it

    QTest::newRow("as installed") << QString() << QString();
    QTest::newRow("project file missing") << "notes/CMakeLists.txt" << R"(Item \"Notes\" broken: projectPath)";
}

void tst_RealCreator::manifests()
{
    QFETCH(QString, removed);
    QFETCH(QString, complaint);

    QString folder = installed();
    QString picture;
    if (removed.isEmpty()) {
        QFile::remove(picture = TIDEPOOL_PICTURE);
    } else { // a copy of the installed set with one file removed
        folder = m_dir.filePath("damaged");
        QCOMPARE(QProcess::execute("cp", {"-R", installed(), folder}), 0);
        QVERIFY(QFile::remove(folder + '/' + removed));
    }
    const CreatorRun run = runCreator(folder, manifestsIn(folder), picture);
    QVERIFY2(run.allRead, qPrintable("Not every manifest was read:\n" + run.log));
    if (complaint.isEmpty()) {
        QVERIFY2(run.errors.isEmpty(), qPrintable(run.errors.join('\n')));
        QVERIFY2(!QImage(picture).isNull(), qPrintable(picture));
    } else {
        // Each manifest is read more than once; one complaint for each time is fine.
        QVERIFY2(!run.errors.isEmpty(), qPrintable(run.log));
        for (const QString &error : run.errors)
            QVERIFY2(error.contains(complaint) && error.contains(removed.section('/', 0, 0)),
                     qPrintable(run.errors.join('\n')));
    }
}

QTEST_GUILESS_MAIN(tst_RealCreator)
#include "tst_realcreator.moc"
