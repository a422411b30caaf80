#include "manifestwriter.h"

#include "plugin/logging.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>

#if defined(Q_OS_WIN)
#include <qt_windows.h>
#elif defined(Q_OS_UNIX)
#include <cstdio>
#endif

// The template lives in the plugin's resources, which are linked in from a static library and so
// have to be registered by hand.
static void initTidepoolResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(tidepool);
        return true;
    }();
    Q_UNUSED(registered)
}

namespace Tidepool::Internal {

static bool isXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

QString xmlSafeText(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            result.append(c).append(text.at(i + 1));
            ++i;
        } else if (!c.isSurrogate() && isXmlChar(c.unicode())) {
            result.append(c);
        }
    }
    return result;
}

// QDom writes a CDATA section verbatim, so a "]]>" inside it would end the section early and a
// carriage return would come back as a line feed. The text is therefore split: "]]" ends one
// section and ">" starts the next, and each carriage return travels as a character reference in
// a text node of its own.
static void appendCharacterData(QDomDocument &document, QDomElement &element, const QString &text)
{
    QString run;
    bool appended = false;
    const auto flush = [&] {
        if (run.isEmpty())
            return;
        element.appendChild(document.createCDATASection(run));
        run.clear();
        appended = true;
    };
    for (const QChar c : text) {
        if (c == u'\r') {
            flush();
            element.appendChild(document.createTextNode(QString(c)));
            appended = true;
            continue;
        }
        if (c == u'>' && run.endsWith(QLatin1String("]]")))
            flush();
        run.append(c);
    }
    flush();
    if (!appended)
        element.appendChild(document.createCDATASection(QString()));
}

QByteArray manifestXml(const ManifestFields &fields)
{
    initTidepoolResources();
    QDomDocument document(QStringLiteral("document"));
    QFile file(QStringLiteral(":/%1").arg(QLatin1String(manifestFileName)));
    if (!file.open(QIODevice::ReadOnly)) {
        qCDebug(serviceLog) << "Internal manifest XML error: file not found";
        return {};
    }
    QString errorMessage;
    int errorLine = -1;
    int errorColumn = -1;
    if (!document.setContent(&file, &errorMessage, &errorLine, &errorColumn)) {
        file.close();
        qCDebug(serviceLog) << "Internal manifest XML error:" << errorMessage << errorLine
                            << errorColumn;
        return {};
    }
    file.close();

    const QDomNodeList roots = document.elementsByTagName(QStringLiteral("instructionals"));
    if (roots.isEmpty()) {
        qCDebug(serviceLog) << "Internal manifest XML error: element \"instructionals\" not found";
        return {};
    }
    QDomElement root = roots.at(0).toElement();
    root.setAttribute(QStringLiteral("module"), xmlSafeText(fields.module));

    QDomElement example = root.firstChildElement(QStringLiteral("examples"))
                              .firstChildElement(QStringLiteral("example"));
    example.setAttribute(QStringLiteral("name"), xmlSafeText(fields.name));
    example.setAttribute(QStringLiteral("projectPath"), xmlSafeText(fields.projectPath));
    example.setAttribute(QStringLiteral("imageUrl"), xmlSafeText(fields.imageUrl));

    QDomElement description = example.firstChildElement(QStringLiteral("description"));
    appendCharacterData(document, description, xmlSafeText(fields.description));
    example.firstChildElement(QStringLiteral("tags"))
        .appendChild(document.createTextNode(xmlSafeText(fields.tags)));
    example.firstChildElement(QStringLiteral("fileToOpen"))
        .appendChild(document.createTextNode(xmlSafeText(fields.fileToOpen)));

    return document.toByteArray(1);
}

// Moves from over to in one step, replacing what to held.
static bool renameOverwrite(const QString &from, const QString &to)
{
#if defined(Q_OS_WIN)
    // Without MOVEFILE_WRITE_THROUGH: nothing waits for the disk.
    return ::MoveFileExW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(from).utf16()),
                         reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(to).utf16()),
                         MOVEFILE_REPLACE_EXISTING) != 0;
#elif defined(Q_OS_UNIX)
    // POSIX renames over an existing file atomically.
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#else
    // Elsewhere the old file goes first: a reader may then find none for a moment.
    QFile::remove(to);
    return QFile::rename(from, to);
#endif
}

bool replaceFile(const QString &path, const QByteArray &bytes)
{
    // Written beside the file and renamed over it. No flush to the disk is waited for (as
    // QSaveFile would): this runs on the GUI thread while other examples are being unpacked, when
    // such a flush can take a good part of a second.
    const QString temporary = path + QStringLiteral(".new");
    QFile::remove(temporary);
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    if (written && renameOverwrite(temporary, path))
        return true;
    QFile::remove(temporary);
    return false;
}

bool saveManifest(const QString &path, const QByteArray &bytes)
{
    return replaceFile(path, bytes);
}

} // namespace Tidepool::Internal
