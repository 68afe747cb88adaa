#pragma once
// Qt's own reading of a PNG, for the plain PNG reader to be held against.
#include <QByteArray>
#include <QColorSpace>
#include <QImage>

namespace tarvex::testing {

// Qt's reading of a PNG in the loader's working form: the file's values
// (in its own colour space), premultiplied where some pixel is not opaque,
// RGB32 otherwise.
inline QImage qtWorkingPng(const QByteArray& bytes)
{
    QImage image = QImage::fromData(bytes, "png");
    if (image.isNull())
        return image;
    image.setColorSpace(QColorSpace());
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(argb.pixel(x, y)) != 255)
                return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return image.convertToFormat(QImage::Format_RGB32);
}

}  // namespace tarvex::testing
