#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

namespace Core { class FutureProgress; }

namespace Shell {

// Follows the tasks that plugins give to the IDE's progress manager: which are running, and how
// each one ended. The main window shows the running ones in its status bar.
class ProgressTracker : public QObject
{
    Q_OBJECT

public:
    struct Result
    {
        QString title;
        QString text;   // the future's last progress text
        bool failed = false;
    };

    explicit ProgressTracker(QObject *parent = nullptr);
    ~ProgressTracker() override;

    int runningTasks() const;
    QList<Result> results() const { return m_results; }
    int failedTasks() const;

signals:
    void taskAdded(Core::FutureProgress *task);
    void taskFinished(const Shell::ProgressTracker::Result &result);

private:
    void track(Core::FutureProgress *task);

    QList<QPointer<Core::FutureProgress>> m_running;
    QList<Result> m_results;
};

} // namespace Shell
