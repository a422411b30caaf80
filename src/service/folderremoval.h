#pragma once

#include <QString>

namespace Tidepool::Internal {

// Deletes the folder at path with everything below it, without following links. Unlike
// QDir::removeRecursively it also deletes entries whose names are not valid in the file name
// encoding, which an unpacked archive may well hold. True when the folder is gone, or was never
// there.
bool removeFolder(const QString &path);

// Deletes each path (a file, or a folder with everything below it) on a thread of its own, in
// the order given, then the folder emptyParent if nothing else is left in it. Deleting a large
// file can keep the disk busy for a good part of a second: the GUI thread does not wait for it.
void removeInBackground(const QStringList &paths, const QString &emptyParent = {});
// Waits until the deletions asked for so far have ended; false when msecs passed first.
bool waitForBackgroundRemovals(int msecs = -1);

// The same with Qt's means alone, for systems without a POSIX file tree walk; names that are not
// valid in the file name encoding may stay behind.
bool removeFolderPortably(const QString &path);

} // namespace Tidepool::Internal
