#pragma once

#include <QFutureInterface>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <list>

namespace Core { class FutureProgress; }

namespace Tidepool::Internal {

class Repository;

// Shows each batch of downloads and installations in the IDE's progress view: one task per batch
// with one step per example, ending as failed when any example of it was not installed. The user
// may cancel a batch; its examples that have not been unpacked yet are then left alone.
class InstallationProgress : public QObject
{
    Q_OBJECT

public:
    explicit InstallationProgress(QObject *parent = nullptr);
    ~InstallationProgress() override;

    void start(const Repository *repository, const QString &repositoryName,
               const QStringList &paths);
    // Whether the example belongs to a batch that the user canceled.
    bool isCanceled(const Repository *repository, const QString &path) const;
    // The example's installation is over, whichever way it went.
    void finish(const Repository *repository, const QString &path, bool installed);
    // A line the example's batch shows with its progress from now on.
    void addNote(const Repository *repository, const QString &path, const QString &note);
    // The repository's running batches end as failed: their downloads will not report back.
    void abandon(const Repository *repository);

signals:
    // The last running batch has ended.
    void allEnded();

private:
    struct Batch
    {
        const Repository *repository = nullptr;
        QString repositoryName;
        QStringList remaining;
        int total = 0;
        int failed = 0;
        QStringList notes;
        QFutureInterface<void> future;
        QPointer<Core::FutureProgress> task;
    };

    std::list<Batch>::iterator findBatch(const Repository *repository, const QString &path);
    void report(Batch &batch);
    void end(Batch &batch);

    std::list<Batch> m_batches;
};

} // namespace Tidepool::Internal
