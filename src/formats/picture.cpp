#include "picture.h"

namespace tarvex {

raster::Bitmap pixelsOf(QImage& image)
{
    if (image.isNull())
        return {};
    return {reinterpret_cast<raster::Pixel*>(image.bits()), image.width(), image.height(), image.bytesPerLine() / 4};
}

raster::Bitmap pixelsToRead(const QImage& image)
{
    if (image.isNull())
        return {};
    return {reinterpret_cast<raster::Pixel*>(const_cast<uchar*>(image.constBits())), image.width(), image.height(),
            image.bytesPerLine() / 4};
}

}  // namespace tarvex
