#include "shellrunner.h"

#include "examplereport.h"
#include "mainwindow.h"
#include "preferencesdialog.h"
#include "welcomeexamplesview.h"

#include <coreplugin/dialogs/ioptionspage.h>
#include <coreplugin/icore.h>
#include <extensionsystem/pluginmanager.h>
#include <extensionsystem/pluginspec.h>
#include <hoststandin/hostsetup.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSet>
#include <QTextStream>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace Shell {

static const char pluginIid[] = "org.qt-project.Qt.QtCreatorPlugin";
static const char tidepoolPluginId[] = "tidepool";
// The progress tasks in which the plugin checks a repository.
static const char repositoryCheckType[] = "Tidepool.Check";
static const int pollIntervalMs = 50;
// How long after the safety timeout a blocked GUI thread is given before the process ends itself.
static const int watchdogGraceSeconds = 15;

// The message handler outlives no runner: it is installed and removed by the runner.
static std::atomic<bool> s_passDebug{false};
static std::atomic<bool> s_swallowLoaderWarnings{false};
static QtMessageHandler s_previousHandler = nullptr;

static void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QLatin1String category(context.category ? context.category : "default");
    if (type == QtDebugMsg && !s_passDebug.load() && category == QLatin1String("default"))
        return;
    // The offscreen platform's note that it ignores size hints tells a user nothing.
    if (type == QtWarningMsg && message == QLatin1String("This plugin does not support propagateSizeHints()"))
        return;
    // Refused plugins are reported by the shell itself, once, after loading.
    if (s_swallowLoaderWarnings.load() && category == QLatin1String("qtc.extensionsystem")
        && type == QtWarningMsg) {
        return;
    }
    if (s_previousHandler)
        s_previousHandler(type, context, message);
}

static void printError(const QString &text)
{
    QTextStream(stderr) << QCoreApplication::applicationName() << ": " << text << Qt::endl;
}

RepositoryOutlook RepositoryOutlook::read(Utils::QtcSettings *settings)
{
    RepositoryOutlook outlook;
    if (!settings)
        return outlook;
    settings->beginGroup("Tidepool");
    const QStringList items = settings->value("Repositories").toStringList();
    settings->endGroup();

    // The plugin takes the first valid item per name and per address.
    QSet<QString> names;
    QSet<QString> urls;
    for (const QString &item : items) {
        const QStringList parts = item.split(QLatin1Char('|'));
        if (parts.size() < 2 || parts.at(0).isEmpty() || parts.at(1).isEmpty())
            continue;
        const QString url = QUrl(parts.at(1), QUrl::TolerantMode).toString();
        if (names.contains(parts.at(0)) || urls.contains(url))
            continue;
        names.insert(parts.at(0));
        urls.insert(url);
    }
    outlook.repositories = int(names.size());
    return outlook;
}

ShellRunner::ShellRunner(const ShellOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
{
    m_pollTimer.setInterval(pollIntervalMs);
    s_passDebug = options.verbose || !qEnvironmentVariableIsEmpty("QT_LOGGING_RULES");
    s_previousHandler = qInstallMessageHandler(messageHandler);
    // The plugin's categories are silent by default.
    if (options.verbose)
        QLoggingCategory::setFilterRules(QStringLiteral("zel.tidepool.plugin*.debug=true"));
}

ShellRunner::~ShellRunner()
{
    m_window.reset();
    ExtensionSystem::PluginManager::shutdown();
    // A plugin hands the pages it registers to the IDE and keeps no pointer to them; what is
    // still registered once every plugin has shut down is the IDE's to release.
    const QList<Core::IOptionsPage *> pages = Core::IOptionsPage::allOptionsPages();
    qDeleteAll(pages);
    qInstallMessageHandler(s_previousHandler);
    if (m_options.verbose)
        QLoggingCategory::setFilterRules(QString());
}

QString ShellRunner::defaultPluginPath()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath()
                           + QLatin1String("/../lib/qtcreator/plugins"));
}

bool ShellRunner::setUpHost()
{
    if (!m_options.settingsPath.isEmpty()) {
        if (!QDir().mkpath(m_options.settingsPath)) {
            printError(tr("Cannot create the settings folder %1.")
                           .arg(QDir::toNativeSeparators(m_options.settingsPath)));
            return false;
        }
        HostStandIn::setSettingsPath(QFileInfo(m_options.settingsPath).absoluteFilePath());
    }
    const QString pluginPath = m_options.pluginPath.isEmpty() ? defaultPluginPath()
                                                              : m_options.pluginPath;
    if (!QFileInfo(pluginPath).isDir()) {
        printError(tr("The plugin folder %1 does not exist.").arg(QDir::toNativeSeparators(pluginPath)));
        return false;
    }
    // The host's built-in Help plugin files its own pages and those of others under "Help".
    Core::IOptionsPage::registerCategory("H.Help", tr("Help"), {});
    ExtensionSystem::PluginManager::setPluginIID(QString::fromLatin1(pluginIid));
    ExtensionSystem::PluginManager::setPluginPaths({QFileInfo(pluginPath).absoluteFilePath()});
    ExtensionSystem::PluginManager::setArguments(m_options.pluginArguments);
    return true;
}

bool ShellRunner::loadPlugins()
{
    s_swallowLoaderWarnings = true;
    ExtensionSystem::PluginManager::loadPlugins();
    s_swallowLoaderWarnings = false;

    bool ok = true;
    int loaded = 0;
    for (const ExtensionSystem::PluginSpec *spec : ExtensionSystem::PluginManager::plugins()) {
        if (spec->hasError()) {
            ok = false;
            printError(tr("The plugin %1 was not loaded. %2")
                           .arg(spec->name().isEmpty() ? QFileInfo(spec->filePath()).fileName()
                                                       : spec->name(),
                                spec->errorString()));
        } else if (!spec->filePath().isEmpty()) {
            ++loaded;
        }
    }
    if (loaded == 0) {
        printError(tr("No plugin was loaded from %1.")
                       .arg(QDir::toNativeSeparators(ExtensionSystem::PluginManager::pluginPaths()
                                                         .value(0))));
        ok = false;
    }
    return ok;
}

bool ShellRunner::pluginRunning(const QString &id) const
{
    const ExtensionSystem::PluginSpec *spec = ExtensionSystem::PluginManager::specById(id);
    return spec && !spec->hasError() && spec->state() == ExtensionSystem::PluginSpec::Running;
}

void ShellRunner::waitUntilSettled(const std::function<void(bool settled)> &done)
{
    if (!pluginRunning(QString::fromLatin1(tidepoolPluginId))) {
        // Nothing will happen by itself; list what is there.
        QMetaObject::invokeMethod(this, [done] { done(true); }, Qt::QueuedConnection);
        return;
    }
    // The plugins' work is the tasks they give to the progress manager; it is done when none runs
    // and none has started for the idle time. They start their first ones while they initialize.
    m_progress.restartIdleClock();
    connect(&m_pollTimer, &QTimer::timeout, this, [this, done] {
        const bool settled = m_progress.runningTasks() == 0
                             && m_progress.idleMilliseconds() >= m_options.idleMilliseconds;
        const bool expired = m_runTimer.elapsed() >= qint64(m_options.timeoutSeconds) * 1000;
        if (!settled && !expired)
            return;
        m_pollTimer.stop();
        disconnect(&m_pollTimer, nullptr, this, nullptr);
        done(settled);
    });
    m_pollTimer.start();
}

int ShellRunner::workExitCode(bool settled) const
{
    if (m_pluginsFailed)
        return SetupFailed;
    if (!settled)
        return TimedOut;
    if (m_progress.failedTasks() > 0)
        return WorkFailed;
    if (pluginRunning(QString::fromLatin1(tidepoolPluginId))
        && reachedRepositories() < m_outlook.repositories) {
        return WorkFailed;
    }
    return Success;
}

QStringList ShellRunner::failures() const
{
    QStringList lines;
    for (const ProgressTracker::Result &task : m_progress.results()) {
        if (!task.failed)
            continue;
        const QString why = task.subtitle.isEmpty() ? task.text : task.subtitle;
        lines.append(why.isEmpty() ? task.title : tr("%1: %2").arg(task.title, why));
    }
    return lines;
}

int ShellRunner::reachedRepositories() const
{
    const QList<ProgressTracker::Result> results = m_progress.results();
    return int(std::count_if(results.cbegin(), results.cend(),
                             [](const ProgressTracker::Result &task) {
                                 return task.type == Utils::Id(repositoryCheckType) && !task.failed;
                             }));
}

void ShellRunner::reportProblems(bool settled) const
{
    for (const QString &failure : failures())
        printError(failure);
    if (!settled) {
        printError(tr("The plugins were still working after %1 s (%2 task(s) running); giving up.")
                       .arg(m_options.timeoutSeconds)
                       .arg(m_progress.runningTasks()));
    }
    const int ready = reachedRepositories();
    if (pluginRunning(QString::fromLatin1(tidepoolPluginId)) && ready < m_outlook.repositories) {
        printError(tr("%1 of %2 configured repositories could not be reached.")
                       .arg(m_outlook.repositories - ready)
                       .arg(m_outlook.repositories));
    }
}

int ShellRunner::finishHeadless(bool settled)
{
    const QStringList entries = Core::ICore::settings()
                                    ->value("Help/InstalledExamples").toStringList();
    const QList<ExampleSet> sets = ExampleCatalog::parseSets(entries);
    int hidden = 0;
    QStringList errors;
    const QList<ExampleReport::Row> rows = ExampleReport::collect(sets, m_runStart, &hidden, &errors);
    const int updated = int(std::count_if(rows.cbegin(), rows.cend(),
                                          [](const ExampleReport::Row &row) { return row.updated; }));

    QTextStream out(stdout);
    // What the IDE's progress view showed, one line per finished task.
    for (const ProgressTracker::Result &task : m_progress.results())
        out << tr("%1: %2").arg(task.title, task.text) << Qt::endl;
    out << ExampleReport::table(rows);
    for (const QString &error : std::as_const(errors))
        printError(error);
    reportProblems(settled);

    const int code = workExitCode(settled);
    out << tr("Summary: %1 example(s) listed in %2 set(s), %3 updated in this run, %4 hidden; "
              "%5 task(s) finished, %6 failed; %7 of %8 repositories reached.")
               .arg(rows.size())
               .arg(sets.size())
               .arg(updated)
               .arg(hidden)
               .arg(m_progress.results().size())
               .arg(m_progress.failedTasks())
               .arg(reachedRepositories())
               .arg(m_outlook.repositories)
        << Qt::endl;
    return code;
}

QString ShellRunner::workSummary(bool settled) const
{
    const QStringList failed = failures();
    if (!settled)
        return tr("The plugins are still busy after %1 s.").arg(m_options.timeoutSeconds);
    if (!failed.isEmpty())
        return tr("Examples checked, with %n failure(s): %1", nullptr, int(failed.size()))
            .arg(failed.constLast());
    return tr("Examples are up to date.");
}

int ShellRunner::finishScreenshot(bool settled)
{
    reportProblems(settled);
    m_window->examplesView()->rescan();
    m_window->showWorkDone(workSummary(settled));
    QWidget *target = m_window.get();
    std::unique_ptr<PreferencesDialog> preferences;
    if (!m_options.preferencesPage.isEmpty()) {
        preferences = std::make_unique<PreferencesDialog>(m_window.get());
        if (!preferences->showPage(Utils::Id::fromString(m_options.preferencesPage))) {
            printError(tr("There is no preferences page %1.").arg(m_options.preferencesPage));
            return SetupFailed;
        }
        preferences->show();
        target = preferences.get();
    }
    QCoreApplication::processEvents();
    const QPixmap picture = target->grab();
    if (preferences)
        preferences->reject();
    if (!picture.save(m_options.screenshotFile)) {
        printError(tr("Cannot write %1.").arg(QDir::toNativeSeparators(m_options.screenshotFile)));
        return SetupFailed;
    }
    return workExitCode(settled);
}

// Ends the process when the GUI thread does not come back in time, so that a script waiting for a
// headless run is never left hanging, whatever the plugins do to the event loop.
class Watchdog
{
public:
    explicit Watchdog(int seconds)
        : m_thread([this, seconds] {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_done.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_finished; }))
                return;
            std::fprintf(stderr, "%s: the IDE stopped responding (its GUI thread is blocked); "
                                 "giving up.\n",
                         qPrintable(QCoreApplication::applicationName()));
            std::fflush(stderr);
            std::_Exit(ShellRunner::TimedOut);
        })
    {}

    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

int ShellRunner::exec()
{
    m_runStart = QDateTime::currentDateTime();
    m_runTimer.start();
    std::unique_ptr<Watchdog> watchdog;
    if (m_options.headless || !m_options.screenshotFile.isEmpty())
        watchdog = std::make_unique<Watchdog>(m_options.timeoutSeconds + watchdogGraceSeconds);


    if (!setUpHost())
        return SetupFailed;
    m_outlook = RepositoryOutlook::read(Core::ICore::settings());
    m_pluginsFailed = !loadPlugins();

    if (m_options.headless) {
        int code = SetupFailed;
        waitUntilSettled([this, &code](bool settled) {
            code = finishHeadless(settled);
            QCoreApplication::exit(code);
        });
        QCoreApplication::exec();
        return code;
    }

    m_window = std::make_unique<MainWindow>(&m_progress);
    if (!m_options.screenshotFile.isEmpty()) {
        m_window->resize(1100, 620);
        m_window->show();
        int code = SetupFailed;
        waitUntilSettled([this, &code](bool settled) {
            code = finishScreenshot(settled);
            QCoreApplication::exit(code);
        });
        QCoreApplication::exec();
        return code;
    }
    m_window->show();
    waitUntilSettled([this](bool settled) { m_window->showWorkDone(workSummary(settled)); });
    return QApplication::exec();
}

} // namespace Shell
