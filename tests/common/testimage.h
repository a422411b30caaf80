#pragma once

#include <QBuffer>
#include <QColor>
#include <QImage>

namespace TestImage {

// The bytes of a PNG image of one colour, as a server would send an avatar.
inline QByteArray png(int width, int height, const QColor &color = Qt::darkCyan)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace TestImage
