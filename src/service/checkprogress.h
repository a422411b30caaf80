#pragma once

#include <QFutureInterface>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <list>

namespace Core { class FutureProgress; }

namespace Tidepool::Internal {

class Repository;

// Shows each check of a repository (group lookup, listing and the update cycle's decision) as one
// task of the IDE's progress view. The task ends once the cycle has decided, or as failed when the
// server could not be reached or answered nonsense, the reason as its subtitle.
//
// The restart timer retries a repository whose check failed. Those retries are silent until one
// succeeds: an offline IDE shows one failed check, not a new one at every retry. A check that
// succeeds makes the repository's next check visible again.
class CheckProgress : public QObject
{
    Q_OBJECT

public:
    explicit CheckProgress(QObject *parent = nullptr);
    ~CheckProgress() override;

    // A check of the repository starts, unless one is running already.
    void begin(const Repository *repository, const QString &repositoryName);
    // Whether the user canceled the repository's running check.
    bool isCanceled(const Repository *repository) const;
    // The update cycle has decided: examples examples are to be installed (perhaps none).
    void decide(const Repository *repository, int examples);
    // The repository's check has failed for reason; the next ones are silent.
    void fail(const Repository *repository, const QString &reason);

    bool isRunning(const Repository *repository) const;

private:
    struct Check
    {
        const Repository *repository = nullptr;
        QString repositoryName;
        bool shown = false;
        QFutureInterface<void> future;
        QPointer<Core::FutureProgress> task;
    };

    std::list<Check>::iterator find(const Repository *repository);
    std::list<Check>::const_iterator find(const Repository *repository) const;

    std::list<Check> m_checks;
    QSet<const Repository *> m_silent;
};

} // namespace Tidepool::Internal
