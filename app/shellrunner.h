#pragma once

#include "progresstracker.h"
#include "shelloptions.h"

#include <QDateTime>
#include <QStringList>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

namespace Utils { class QtcSettings; }

namespace Shell {

class MainWindow;

// What the shell learns from the settings before the plugins start: how many repositories are
// configured, each of which the plugin checks once it has started.
struct RepositoryOutlook
{
    int repositories = 0;

    static RepositoryOutlook read(Utils::QtcSettings *settings);
};

// Sets up the stand-in host, loads the plugins and runs either the window or a headless pass.
class ShellRunner : public QObject
{
    Q_OBJECT

public:
    enum ExitCode { Success = 0, WorkFailed = 1, SetupFailed = 2, TimedOut = 3 };

    explicit ShellRunner(const ShellOptions &options, QObject *parent = nullptr);
    ~ShellRunner() override;

    // Runs the event loop as far as the mode needs and returns the process exit code.
    int exec();

    static QString defaultPluginPath();

private:
    bool setUpHost();
    bool loadPlugins();
    bool pluginRunning(const QString &id) const;
    void waitUntilSettled(const std::function<void(bool settled)> &done);
    int finishHeadless(bool settled);
    int finishScreenshot(bool settled);
    // The status bar's text once the wait is over.
    QString workSummary(bool settled) const;
    int workExitCode(bool settled) const;
    void reportProblems(bool settled) const;
    QStringList failures() const;
    // The repositories whose check ended without an error.
    int reachedRepositories() const;

    ShellOptions m_options;
    ProgressTracker m_progress;
    RepositoryOutlook m_outlook;
    QDateTime m_runStart;
    QElapsedTimer m_runTimer;
    QTimer m_pollTimer;
    bool m_pluginsFailed = false;
    std::unique_ptr<MainWindow> m_window;
};

} // namespace Shell
