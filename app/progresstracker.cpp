#include "progresstracker.h"

#include <coreplugin/progressmanager/futureprogress.h>
#include <hoststandin/hostsetup.h>

#include <algorithm>

namespace Shell {

ProgressTracker::ProgressTracker(QObject *parent)
    : QObject(parent)
{
    m_sinceActivity.start();
    HostStandIn::setProgressTaskObserver([this](Core::FutureProgress *task) { track(task); });
}

ProgressTracker::~ProgressTracker()
{
    HostStandIn::setProgressTaskObserver({});
}

int ProgressTracker::runningTasks() const
{
    return int(std::count_if(m_running.cbegin(), m_running.cend(),
                             [](const QPointer<Core::FutureProgress> &task) { return !task.isNull(); }));
}

int ProgressTracker::failedTasks() const
{
    return int(std::count_if(m_results.cbegin(), m_results.cend(),
                             [](const Result &result) { return result.failed; }));
}

void ProgressTracker::track(Core::FutureProgress *task)
{
    m_running.removeAll(nullptr);
    m_running.append(task);
    m_sinceActivity.restart();
    connect(task, &Core::FutureProgress::finished, this, [this, task] {
        m_running.removeAll(task);
        m_sinceActivity.restart();
        const Result result{task->title(), task->future().progressText(), task->subtitle(),
                            task->type(), task->hasError()};
        m_results.append(result);
        emit taskFinished(result);
    });
    emit taskAdded(task);
}

} // namespace Shell
