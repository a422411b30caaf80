#pragma once

#include <QString>

namespace Tidepool::Internal {

// Deletes the folder at path with everything below it, without following links. Unlike
// QDir::removeRecursively it also deletes entries whose names are not valid in the file name
// encoding, which an unpacked archive may well hold. True when the folder is gone, or was never
// there.
bool removeFolder(const QString &path);

// The same with Qt's means alone, for systems without a POSIX file tree walk; names that are not
// valid in the file name encoding may stay behind.
bool removeFolderPortably(const QString &path);

} // namespace Tidepool::Internal
