#include "checkprogress.h"

#include "plugin/logging.h"

#include <coreplugin/progressmanager/futureprogress.h>
#include <coreplugin/progressmanager/progressmanager.h>

#include <algorithm>

namespace Tidepool::Internal {

namespace {

const char taskType[] = "Tidepool.Check";

} // namespace

CheckProgress::CheckProgress(QObject *parent)
    : QObject(parent)
{}

CheckProgress::~CheckProgress()
{
    for (Check &check : m_checks) {
        if (check.shown) {
            check.future.reportCanceled();
            check.future.reportFinished();
        }
    }
}

std::list<CheckProgress::Check>::iterator CheckProgress::find(const Repository *repository)
{
    return std::find_if(m_checks.begin(), m_checks.end(),
                        [repository](const Check &check) { return check.repository == repository; });
}

std::list<CheckProgress::Check>::const_iterator CheckProgress::find(
    const Repository *repository) const
{
    return std::find_if(m_checks.cbegin(), m_checks.cend(),
                        [repository](const Check &check) { return check.repository == repository; });
}

bool CheckProgress::isRunning(const Repository *repository) const
{
    return find(repository) != m_checks.cend();
}

void CheckProgress::begin(const Repository *repository, const QString &repositoryName)
{
    if (isRunning(repository))
        return;
    Check &check = m_checks.emplace_back();
    check.repository = repository;
    check.repositoryName = repositoryName;
    check.shown = !m_silent.contains(repository);
    qCDebug(serviceLog) << "Check started:" << repositoryName << (check.shown ? "" : "(silent)");
    if (!check.shown)
        return;
    // No steps: the view shows it as busy until it ends.
    check.future.setProgressRange(0, 0);
    check.future.reportStarted();
    check.task = Core::ProgressManager::addTask(check.future.future(),
                                                tr("Checking examples of %1").arg(repositoryName),
                                                taskType);
}

bool CheckProgress::isCanceled(const Repository *repository) const
{
    const auto it = find(repository);
    return it != m_checks.cend() && it->shown && it->future.isCanceled();
}

void CheckProgress::decide(const Repository *repository, int examples)
{
    m_silent.remove(repository);
    const auto it = find(repository);
    if (it == m_checks.end())
        return;
    qCDebug(serviceLog) << "Check decided:" << it->repositoryName << "examples:" << examples;
    if (it->shown) {
        it->future.setProgressRange(0, 1);
        it->future.setProgressValueAndText(1, examples == 0
                                                  ? tr("Nothing to install")
                                                  : tr("%n example(s) to install", nullptr,
                                                       examples));
        it->future.reportFinished();
    }
    m_checks.erase(it);
}

void CheckProgress::fail(const Repository *repository, const QString &reason)
{
    m_silent.insert(repository);
    const auto it = find(repository);
    if (it == m_checks.end())
        return;
    qCDebug(serviceLog) << "Check failed:" << it->repositoryName << reason;
    if (it->shown) {
        it->future.setProgressRange(0, 1);
        it->future.setProgressValueAndText(1, reason);
        if (it->task)
            it->task->setSubtitle(reason);
        // A canceled task is what the progress view shows as failed.
        it->future.reportCanceled();
        it->future.reportFinished();
    }
    m_checks.erase(it);
}

} // namespace Tidepool::Internal
