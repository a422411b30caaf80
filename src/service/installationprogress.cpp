#include "installationprogress.h"

#include "plugin/logging.h"

#include <coreplugin/progressmanager/futureprogress.h>
#include <coreplugin/progressmanager/progressmanager.h>

#include <algorithm>

namespace Tidepool::Internal {

namespace {

const char taskType[] = "Tidepool.Installation";

} // namespace

InstallationProgress::InstallationProgress(QObject *parent)
    : QObject(parent)
{}

InstallationProgress::~InstallationProgress()
{
    // Whatever is still running will not be reported any more.
    for (Batch &batch : m_batches) {
        batch.future.reportCanceled();
        batch.future.reportFinished();
    }
}

void InstallationProgress::start(const Repository *repository, const QString &repositoryName,
                                 const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    Batch &batch = m_batches.emplace_back();
    batch.repository = repository;
    batch.repositoryName = repositoryName;
    batch.remaining = paths;
    batch.total = int(paths.size());
    batch.future.setProgressRange(0, batch.total);
    batch.future.reportStarted();
    report(batch);
    batch.task = Core::ProgressManager::addTask(batch.future.future(),
                                                tr("Installing examples from %1").arg(repositoryName),
                                                taskType);
    qCDebug(serviceLog) << "Installation batch started:" << repositoryName << paths;
}

bool InstallationProgress::isCanceled(const Repository *repository, const QString &path) const
{
    // The batch that the example's next download counts for, as in finish().
    const auto it = std::find_if(m_batches.cbegin(), m_batches.cend(), [&](const Batch &batch) {
        return batch.repository == repository && batch.remaining.contains(path);
    });
    return it != m_batches.cend() && it->future.isCanceled();
}

void InstallationProgress::finish(const Repository *repository, const QString &path,
                                  bool installed)
{
    const auto it = findBatch(repository, path);
    if (it == m_batches.end())
        return;
    it->remaining.removeOne(path);
    if (!installed)
        ++it->failed;
    report(*it);
    if (it->remaining.isEmpty()) {
        end(*it);
        m_batches.erase(it);
        if (m_batches.empty())
            emit allEnded();
    }
}

void InstallationProgress::addNote(const Repository *repository, const QString &path,
                                   const QString &note)
{
    const auto it = findBatch(repository, path);
    if (it == m_batches.end())
        return;
    it->notes.append(note);
    report(*it);
}

void InstallationProgress::abandon(const Repository *repository)
{
    bool ended = false;
    for (auto it = m_batches.begin(); it != m_batches.end();) {
        if (it->repository != repository) {
            ++it;
            continue;
        }
        it->failed += int(it->remaining.size());
        it->remaining.clear();
        report(*it);
        end(*it);
        it = m_batches.erase(it);
        ended = true;
    }
    if (ended && m_batches.empty())
        emit allEnded();
}

std::list<InstallationProgress::Batch>::iterator
InstallationProgress::findBatch(const Repository *repository, const QString &path)
{
    // The oldest batch first: an example asked for twice is counted in the order it was asked for.
    return std::find_if(m_batches.begin(), m_batches.end(), [&](const Batch &batch) {
        return batch.repository == repository && batch.remaining.contains(path);
    });
}

void InstallationProgress::report(Batch &batch)
{
    const int done = batch.total - int(batch.remaining.size());
    QString text = batch.failed == 0
            ? tr("%1 of %2 examples done").arg(done).arg(batch.total)
            : tr("%1 of %2 examples done, %3 failed").arg(done).arg(batch.total).arg(batch.failed);
    for (const QString &note : std::as_const(batch.notes))
        text += u'\n' + note;
    batch.future.setProgressValueAndText(done, text);
    if (batch.task)
        batch.task->setSubtitle(batch.failed == 0 ? QString() : tr("%1 failed").arg(batch.failed));
}

void InstallationProgress::end(Batch &batch)
{
    qCDebug(serviceLog) << "Installation batch finished:" << batch.repositoryName
                        << "failed:" << batch.failed << "of" << batch.total;
    // A batch with failures ends canceled, which the progress view shows as an error.
    if (batch.failed > 0)
        batch.future.reportCanceled();
    batch.future.reportFinished();
}

} // namespace Tidepool::Internal
