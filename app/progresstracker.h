#pragma once

#include <utils/id.h>

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

namespace Core { class FutureProgress; }

namespace Shell {

// Follows the tasks that plugins give to the IDE's progress manager: which are running, how each
// one ended, and how long no task has started or ended. The main window shows the running ones in
// its status bar; the headless run takes the plugins' work as done once no task has run for a
// while.
class ProgressTracker : public QObject
{
    Q_OBJECT

public:
    struct Result
    {
        QString title;
        QString text;       // the future's last progress text
        QString subtitle;   // what the plugin added to say why it failed, for instance
        Utils::Id type;
        bool failed = false;
    };

    explicit ProgressTracker(QObject *parent = nullptr);
    ~ProgressTracker() override;

    int runningTasks() const;
    // Since a task last started or ended, or since restartIdleClock().
    qint64 idleMilliseconds() const { return m_sinceActivity.elapsed(); }
    void restartIdleClock() { m_sinceActivity.restart(); }
    QList<Result> results() const { return m_results; }
    int failedTasks() const;

signals:
    void taskAdded(Core::FutureProgress *task);
    void taskFinished(const Shell::ProgressTracker::Result &result);

private:
    void track(Core::FutureProgress *task);

    QList<QPointer<Core::FutureProgress>> m_running;
    QList<Result> m_results;
    QElapsedTimer m_sinceActivity;
};

} // namespace Shell
