#pragma once

#include <coreplugin/core_global.h>

#include <utils/id.h>

#include <QFuture>
#include <QObject>

namespace Core {

class FutureProgress;

// Shows long-running work: every task is a QFuture with a title, drawn as a progress bar that the
// user can cancel. The manager owns the FutureProgress it returns and removes it some time after
// its future has finished, unless told to keep it.
class CORE_EXPORT ProgressManager : public QObject
{
    Q_OBJECT

public:
    enum ProgressFlag {
        KeepOnFinish = 0x01,
        ShowInApplicationIcon = 0x02
    };
    Q_DECLARE_FLAGS(ProgressFlags, ProgressFlag)

    static ProgressManager *instance();

    static FutureProgress *addTask(const QFuture<void> &future, const QString &title,
                                   Utils::Id type, ProgressFlags flags = {});
    static void setApplicationLabel(const QString &text);

public slots:
    static void cancelTasks(Utils::Id type);

signals:
    void taskStarted(Utils::Id type);
    void allTasksFinished(Utils::Id type);

private:
    ProgressManager();
    ~ProgressManager() override;

    void taskFinished(Utils::Id type);

    friend class FutureProgress;
};

} // namespace Core

Q_DECLARE_OPERATORS_FOR_FLAGS(Core::ProgressManager::ProgressFlags)
