#pragma once

// Reads an example manifest back the way the host's example parser does.

#include "service/manifestwriter.h"

#include <QFile>
#include <QTest>
#include <QXmlStreamReader>

namespace Tidepool::Internal {

inline QStringList values(const ManifestFields &f)
{
    return {f.module, f.name, f.projectPath, f.imageUrl, f.description, f.tags, f.fileToOpen};
}
inline bool operator==(const ManifestFields &a, const ManifestFields &b)
{
    return values(a) == values(b);
}
inline char *toString(const ManifestFields &f)
{
    return QTest::toString(values(f).join(" | "));
}

// The fields of a manifest; error receives the parser's complaint, if any.
inline ManifestFields parsedManifest(const QByteArray &xml, QString *error)
{
    ManifestFields fields;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes attributes = reader.attributes();
        if (reader.name() == QLatin1String("instructionals")) {
            fields.module = attributes.value("module").toString();
        } else if (reader.name() == QLatin1String("example")) {
            fields.name = attributes.value("name").toString();
            fields.projectPath = attributes.value("projectPath").toString();
            fields.imageUrl = attributes.value("imageUrl").toString();
        } else if (reader.name() == QLatin1String("description")) {
            fields.description = reader.readElementText();
        } else if (reader.name() == QLatin1String("tags")) {
            fields.tags = reader.readElementText();
        } else if (reader.name() == QLatin1String("fileToOpen")) {
            fields.fileToOpen = reader.readElementText();
        }
    }
    *error = reader.errorString();
    return fields;
}

// The same for the manifest file at path; error also tells when the file cannot be read.
inline ManifestFields parsedManifestFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read ") + path;
        return {};
    }
    return parsedManifest(file.readAll(), error);
}

inline bool isWellFormedManifest(const QString &path)
{
    QString error;
    parsedManifestFile(path, &error);
    return error.isEmpty();
}

} // namespace Tidepool::Internal
