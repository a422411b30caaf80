#include "folderremoval.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QThreadPool>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Tidepool::Internal {

// One thread, so that deletions happen in the order they were asked for. It belongs to the
// application and ends with it, after the deletions it was given; without an application (or
// after it), deletions happen at once.
static QThreadPool *removalPool()
{
    // Never destroyed: the service may ask for it while the process's static objects go.
    static auto *pool = new QPointer<QThreadPool>;
    if (!*pool) {
        if (QCoreApplication *app = QCoreApplication::instance()) {
            *pool = new QThreadPool(app);
            (*pool)->setMaxThreadCount(1);
        }
    }
    return *pool;
}

void removeInBackground(const QStringList &paths, const QString &emptyParent)
{
    const auto remove = [paths, emptyParent] {
        for (const QString &path : paths)
            removeFolder(path);
        if (!emptyParent.isEmpty())
            QDir().rmdir(emptyParent);
    };
    if (QThreadPool *pool = removalPool())
        pool->start(remove);
    else
        remove();
}

bool waitForBackgroundRemovals(int msecs)
{
    QThreadPool *pool = removalPool();
    return !pool || pool->waitForDone(msecs);
}

#if defined(Q_OS_UNIX)

// On Unix a file name is any string of bytes, and an unpacked archive may hold names that are not
// valid in the file name encoding: Qt cannot name those, so the walk goes by the bytes.
static int removeEntry(const char *path, const struct stat *, int type, struct FTW *)
{
    // Whatever cannot be deleted is passed over: the walk goes on, the folder then stays, and
    // the caller learns of it.
    if (type == FTW_DP)
        ::rmdir(path);
    else
        ::unlink(path);
    return 0;
}

bool removeFolder(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (::lstat(native.constData(), &st) != 0)
        return errno == ENOENT;
    // FTW_DEPTH visits a folder's entries before the folder; FTW_PHYS never follows links, so a
    // link is deleted, not what it points to.
    ::nftw(native.constData(), removeEntry, 32, FTW_DEPTH | FTW_PHYS);
    return ::lstat(native.constData(), &st) != 0 && errno == ENOENT;
}

#endif

// Entries first, then the folder; a link (or junction) to a folder is deleted, never entered.
static void removeTree(const QString &path)
{
    QDirIterator entries(path, QDir::AllEntries | QDir::Hidden | QDir::System
                                   | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        entries.next();
        const QFileInfo entry = entries.fileInfo();
        if (entry.isDir() && !entry.isSymLink() && !entry.isJunction()) {
            removeTree(entry.filePath());
        } else if (!QFile::remove(entry.filePath())) {
            // A read-only file, or a link to a folder, which Windows removes as a folder.
            QFile::setPermissions(entry.filePath(), QFile::WriteOwner | QFile::ReadOwner);
            if (!QFile::remove(entry.filePath()))
                QDir().rmdir(entry.filePath());
        }
    }
    QDir().rmdir(path);
}

bool removeFolderPortably(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (info.isDir() && !info.isSymLink() && !info.isJunction())
        removeTree(path);
    else if (!QFile::remove(path))
        QDir().rmdir(path);
    const QFileInfo after(path);
    return !after.exists() && !after.isSymLink();
}

#if !defined(Q_OS_UNIX)
bool removeFolder(const QString &path)
{
    return removeFolderPortably(path);
}
#endif

} // namespace Tidepool::Internal
