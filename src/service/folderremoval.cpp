#include "folderremoval.h"

#include <QFile>

#include <cerrno>
#include <ftw.h>
#include <stdio.h>

namespace Tidepool::Internal {

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

} // namespace Tidepool::Internal
