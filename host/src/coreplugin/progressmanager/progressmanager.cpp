#include <coreplugin/progressmanager/progressmanager.h>

#include <coreplugin/progressmanager/futureprogress.h>

#include "hoststandin/hoststate.h"

#include <QApplication>
#include <QHash>
#include <QLoggingCategory>
#include <QPointer>

#include <memory>
#include <utility>

Q_LOGGING_CATEGORY(progressLog, "qtc.host.progress", QtWarningMsg)

namespace Core {

namespace {

struct ProgressState
{
    QList<QPointer<FutureProgress>> tasks;
    QHash<Utils::Id, int> running;
};

ProgressState &progressState()
{
    static ProgressState state;
    return state;
}

} // namespace

ProgressManager::ProgressManager() = default;
ProgressManager::~ProgressManager() = default;

ProgressManager *ProgressManager::instance()
{
    static ProgressManager *theInstance = new ProgressManager;
    return theInstance;
}

FutureProgress *ProgressManager::addTask(const QFuture<void> &future, const QString &title,
                                         Utils::Id type, ProgressFlags flags)
{
    // The progress view is made of widgets; without a GUI application there is nothing to show.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
        qCWarning(progressLog) << "No GUI application: task not shown:" << title;
        return nullptr;
    }

    auto task = new FutureProgress;
    task->setTitle(title);
    task->setType(type);
    task->setKeepOnFinish((flags & KeepOnFinish) ? FutureProgress::KeepOnFinishTillUserInteraction
                                                 : FutureProgress::HideOnFinish);
    ProgressState &state = progressState();
    state.tasks.removeAll(nullptr);
    state.tasks.append(task);
    // A task counts as over when its future ends, or when its widget goes before that.
    auto over = std::make_shared<bool>(false);
    const auto finish = [type, over] {
        if (!std::exchange(*over, true))
            instance()->taskFinished(type);
    };
    connect(task, &FutureProgress::finished, instance(), finish);
    connect(task, &QObject::destroyed, instance(), finish);
    connect(task, &FutureProgress::removeMe, task, &QObject::deleteLater);
    qCDebug(progressLog) << "Task added:" << title << type;

    if (state.running[type]++ == 0)
        emit instance()->taskStarted(type);
    // A future that has already finished reports it from the event loop, so the observer still
    // sees the whole task.
    task->setFuture(future);
    if (const auto &observer = HostStandIn::Internal::hostState().progressTaskObserver)
        observer(task);
    return task;
}

void ProgressManager::setApplicationLabel(const QString &text)
{
    qCDebug(progressLog) << "Application label:" << text;
}

void ProgressManager::cancelTasks(Utils::Id type)
{
    const QList<QPointer<FutureProgress>> tasks = progressState().tasks;
    for (const QPointer<FutureProgress> &task : tasks) {
        if (task && task->type() == type)
            task->future().cancel();
    }
}

void ProgressManager::taskFinished(Utils::Id type)
{
    ProgressState &state = progressState();
    if (--state.running[type] == 0) {
        state.running.remove(type);
        emit allTasksFinished(type);
    }
}

} // namespace Core
