#include <utils/unarchiver.h>

#include "archiveextractor.h"
#include "hoststandin/hoststate.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QMutex>
#include <QPointer>
#include <QRunnable>
#include <QThreadPool>
#include <QWaitCondition>

#include <archive.h>

Q_LOGGING_CATEGORY(unarchiverLog, "qtc.utils.unarchiver", QtWarningMsg)

namespace Utils {
namespace Internal {

// Unpacking runs on a pool of its own: the global pool may be filled with threads that wait for
// downloads, and an unpack job queued behind them would wait for nothing.
static QThreadPool *unarchivePool()
{
    static QThreadPool pool;
    static const bool configured = [] {
        pool.setMaxThreadCount(qBound(2, QThread::idealThreadCount(), 4));
        return true;
    }();
    Q_UNUSED(configured)
    return &pool;
}

// What the Unarchiver and its worker share. The Unarchiver waits for the worker before it goes
// away, so the worker may post to it until it marks itself finished.
class UnarchiverJob
{
public:
    QMutex mutex;
    QWaitCondition finishedCondition;
    QRunnable *queuedRunnable = nullptr; // set while waiting in the pool's queue
    bool finished = false;
    std::atomic_bool canceled = false;
};

class UnarchiverRunnable final : public QRunnable
{
public:
    UnarchiverRunnable(const std::shared_ptr<UnarchiverJob> &job, Unarchiver *owner,
                       const ExtractionRequest &request)
        : m_job(job)
        , m_owner(owner)
        , m_request(request)
    {}

    void run() override
    {
        {
            QMutexLocker locker(&m_job->mutex);
            m_job->queuedRunnable = nullptr;
        }
        bool success = false;
        if (!m_job->canceled) {
            // The lines go over in batches: one event for each entry would wake the owner's
            // thread thousands of times for an ordinary source tree. Each line is still a signal
            // of its own, and a slow archive still shows its progress.
            Unarchiver *owner = m_owner;
            QStringList lines;
            QElapsedTimer sinceSent;
            sinceSent.start();
            const auto send = [owner, &lines, &sinceSent] {
                if (lines.isEmpty())
                    return;
                QMetaObject::invokeMethod(owner, [owner, lines] {
                    const QPointer<Unarchiver> guard(owner);
                    for (const QString &line : lines) {
                        if (!guard)
                            return; // a receiver deleted it
                        emit owner->outputReceived(line);
                    }
                }, Qt::QueuedConnection);
                lines.clear();
                sinceSent.restart();
            };
            const auto output = [&lines, &sinceSent, &send](const QString &text) {
                lines.append(text);
                if (lines.size() >= maxBatchLines || sinceSent.elapsed() >= maxBatchDelayMs)
                    send();
            };
            ArchiveExtractor extractor(m_request, m_job->canceled, output);
            success = extractor.run();
            send();
        }
        QMutexLocker locker(&m_job->mutex);
        if (!m_job->canceled) {
            Unarchiver *owner = m_owner;
            QMetaObject::invokeMethod(owner, [owner, success] { owner->finish(success); },
                                      Qt::QueuedConnection);
        }
        m_job->finished = true;
        m_job->finishedCondition.wakeAll();
    }

private:
    static constexpr qsizetype maxBatchLines = 256;
    static constexpr qint64 maxBatchDelayMs = 100;

    std::shared_ptr<UnarchiverJob> m_job;
    Unarchiver *m_owner;
    ExtractionRequest m_request;
};

static CommandLine commandFor(const ArchiveProbe &probe)
{
    const auto command = [](const char *tool, const QStringList &arguments) {
        return CommandLine(FilePath::fromString(QString::fromLatin1(tool)), arguments);
    };
    const QString src = QStringLiteral("%{src}");
    const QString dest = QStringLiteral("%{dest}");
    if (probe.kind == ArchiveKind::GZipFile)
        return command("gzip", {QStringLiteral("-d"), src});
    switch (probe.format & ARCHIVE_FORMAT_BASE_MASK) {
    case ARCHIVE_FORMAT_ZIP:
        return command("unzip", {QStringLiteral("-o"), src, QStringLiteral("-d"), dest});
    case ARCHIVE_FORMAT_7ZIP:
        return command("7z", {QStringLiteral("x"), QStringLiteral("-o") + dest, QStringLiteral("-y"),
                              QStringLiteral("-bb"), src});
    case ARCHIVE_FORMAT_CPIO:
        return command("cpio", {QStringLiteral("-idv"), QStringLiteral("-F"), src});
    default:
        break;
    }
    switch (probe.filter) {
    case ARCHIVE_FILTER_GZIP:
        return command("tar", {QStringLiteral("xvzf"), src});
    case ARCHIVE_FILTER_BZIP2:
        return command("tar", {QStringLiteral("xvjf"), src});
    case ARCHIVE_FILTER_XZ:
        return command("tar", {QStringLiteral("xvJf"), src});
    default:
        return command("tar", {QStringLiteral("xvf"), src});
    }
}

} // namespace Internal

Unarchiver::SourceAndCommand::SourceAndCommand(const FilePath &sourceFile,
                                               const CommandLine &commandTemplate)
    : m_sourceFile(sourceFile)
    , m_commandTemplate(commandTemplate)
{}

Unarchiver::Unarchiver() = default;

Unarchiver::~Unarchiver()
{
    if (!m_job)
        return;
    m_job->canceled = true;
    QMutexLocker locker(&m_job->mutex);
    if (m_job->queuedRunnable && Internal::unarchivePool()->tryTake(m_job->queuedRunnable)) {
        // Never started: it is ours again.
        delete m_job->queuedRunnable;
        m_job->queuedRunnable = nullptr;
        return;
    }
    while (!m_job->finished)
        m_job->finishedCondition.wait(&m_job->mutex);
}

expected_str<Unarchiver::SourceAndCommand> Unarchiver::sourceAndCommand(const FilePath &sourceFile)
{
    const Internal::ArchiveProbe probe = Internal::probeArchive(sourceFile.toFSPathString());
    if (!probe.ok)
        return make_unexpected(tr("File format not supported."));
    return SourceAndCommand(sourceFile, Internal::commandFor(probe));
}

void Unarchiver::setSourceAndCommand(const SourceAndCommand &data)
{
    m_sourceAndCommand = data;
}

void Unarchiver::setDestDir(const FilePath &destDir)
{
    m_destDir = destDir;
}

void Unarchiver::setGZipFileDestName(const QString &gzipFileDestName)
{
    m_gzipFileDestName = gzipFileDestName;
}

void Unarchiver::start()
{
    if (m_job) {
        qCWarning(unarchiverLog) << "Unarchiver started while running:" << m_destDir;
        return;
    }
    const auto failLater = [this](const QString &message) {
        QMetaObject::invokeMethod(this, [this, message] {
            emit outputReceived(message);
            emit done(Tasking::DoneResult::Error);
        }, Qt::QueuedConnection);
    };
    if (!m_sourceAndCommand) {
        failLater(tr("No source file set.") + QLatin1Char('\n'));
        return;
    }
    if (m_destDir.isEmpty()) {
        failLater(tr("No destination directory set.") + QLatin1Char('\n'));
        return;
    }

    const HostStandIn::UnarchiverLimits limits = HostStandIn::unarchiverLimits();
    Internal::ExtractionRequest request;
    request.sourceFile = m_sourceAndCommand->m_sourceFile.toFSPathString();
    request.destDir = m_destDir.toFSPathString();
    request.gzipFileDestName = m_gzipFileDestName;
    request.kind = m_sourceAndCommand->m_commandTemplate.executable().fileName() == QLatin1String("gzip")
                       ? Internal::ArchiveKind::GZipFile
                       : Internal::ArchiveKind::Archive;
    request.maxTotalBytes = limits.maxTotalBytes;
    request.maxEntries = limits.maxEntries;

    m_job = std::make_shared<Internal::UnarchiverJob>();
    auto runnable = new Internal::UnarchiverRunnable(m_job, this, request);
    {
        QMutexLocker locker(&m_job->mutex);
        m_job->queuedRunnable = runnable;
        Internal::unarchivePool()->start(runnable);
    }
}

void Unarchiver::finish(bool success)
{
    m_job.reset();
    emit done(Tasking::toDoneResult(success));
}

} // namespace Utils
