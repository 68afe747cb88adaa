#include "picture.h"

namespace tarvex {

raster::Bitmap pixelsOf(QImage& image)
{
    if (image.isNull())
        return {};
    return {reinterpret_cast<raster::Pixel*>(image.bits()), image.width(), image.height(), image.bytesPerLine() / 4};
}

}  // namespace tarvex
