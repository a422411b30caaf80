// Any field texts make a well-formed manifest whose description reads back as written, less what
// XML cannot carry. Input: the seven fields in order, split by 0x1e bytes, as UTF-16 when the
// first byte is odd (lone surrogates included), else as UTF-8.

#include "service/manifestwriter.h"

#include <QCoreApplication>
#include <QXmlStreamReader>

#include <cstdlib>

using namespace Tidepool::Internal;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size > 64 * 1024)
        return 0;
    const bool utf16 = data[0] & 1;
    const QList<QByteArray> parts =
        QByteArray(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1)).split('\x1e');
    QString field[7];
    for (int i = 0; i < 7; ++i) {
        const QByteArray bytes = parts.value(i);
        field[i] = utf16 ? QString(reinterpret_cast<const QChar *>(bytes.constData()), bytes.size() / 2)
                         : QString::fromUtf8(bytes);
    }
    const QByteArray xml = manifestXml({.module = field[0],
                                        .name = field[1],
                                        .projectPath = field[2],
                                        .imageUrl = field[3],
                                        .description = field[4],
                                        .tags = field[5],
                                        .fileToOpen = field[6]});
    QXmlStreamReader reader(xml);
    QString description, name;
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (reader.name() == QLatin1String("example"))
            name = reader.attributes().value(QLatin1String("name")).toString();
        else if (reader.name() == QLatin1String("description"))
            description = reader.readElementText();
    }
    if (xml.isEmpty() || reader.hasError() || description != xmlSafeText(field[4])
        || xmlSafeText(field[1]).isEmpty() != name.isEmpty())
        std::abort();
    return 0;
}
