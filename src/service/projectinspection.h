#pragma once

#include <QString>

namespace Tidepool::Internal {

// Looks into an unpacked example to find what its manifest names. Name patterns match without
// regard to case; hidden files are skipped and links to folders are not followed.

// The bare name of the project file ("*.pro" or "CMakeLists.txt") directly inside folder, the most
// recently modified one when there are several; empty when there is none.
QString findProjectFile(const QString &folder);

// The file the IDE opens first: the first QML file that mentions "ApplicationWindow", else the
// first file that contains " main(" (both as a path below folder with a leading separator), else
// the project file's bare name (possibly empty).
QString findFileToOpen(const QString &folder);

// The path below root, with a leading separator, of the first file (in directory iteration order)
// whose name matches nameFilter and whose bytes contain text in Latin-1; a null string when none
// does. Files larger than maxContentSearchFileSize are not read.
QString findFileContaining(const QString &root, const QString &nameFilter, const QString &text);

// The canonical path of the largest image in the first "icons/128x128" folder that has one, or
// "dummy.png".
QString findIcon(const QString &folder);

inline constexpr qint64 maxContentSearchFileSize = 1024 * 1024;

} // namespace Tidepool::Internal
