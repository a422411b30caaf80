#pragma once

#include <QByteArray>
#include <QString>

namespace Tidepool::Internal {

// The values that an example's manifest carries besides the template's fixed text.
struct ManifestFields
{
    QString module;
    QString name;
    QString projectPath;
    QString imageUrl;
    QString description;
    QString tags;
    QString fileToOpen;
};

// text without the characters that XML 1.0 does not allow in a document (most C0 controls,
// unpaired surrogates, U+FFFE and U+FFFF).
QString xmlSafeText(const QString &text);

// The manifest made from the built-in template, serialised in UTF-8 with one blank of indentation
// per level; empty bytes when the template cannot be used (logged). The description is kept as
// character data that reads back unchanged, whatever markup or "]]>" it holds.
QByteArray manifestXml(const ManifestFields &fields);

// Replaces the file at path with bytes in one step, so that a reader never sees half a manifest.
bool saveManifest(const QString &path, const QByteArray &bytes);

// Replaces the file at path with bytes in one step, so that a reader sees the old content or the
// new, never a part; it survives a crash of the process, but is not flushed to the disk.
bool replaceFile(const QString &path, const QByteArray &bytes);

inline constexpr char manifestFileName[] = "examples-manifest.xml";

} // namespace Tidepool::Internal
