#include "shown_image.h"

#include "raster/raster.h"

namespace tarvex::view {

QBrush transparencyBrush()
{
    QImage tile(16, 16, QImage::Format_RGB32);
    tile.fill(QColor(204, 204, 204));
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            if ((x < 8) != (y < 8))
                tile.setPixel(x, y, qRgb(153, 153, 153));
    return QBrush(tile);
}

const QImage& ShownImage::reduced(const Surface& surface, QSize size)
{
    if (revision_ == surface.revision() && image_.size() == size)
        return image_;
    revision_ = surface.revision();
    const QImage::Format format = surface.hasAlpha() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    if (image_.size() != size || image_.format() != format)
        image_ = QImage(size, format);
    if (image_.isNull())
        return image_;
    if (surface.isBlank()) {  // no need to make the full-size blank image
        image_.fill(kBlankColour);
        return image_;
    }
    if (!raster::ReduceArea(pixelsOf(image_), surface.source()))
        image_.fill(kBlankColour);
    return image_;
}

}  // namespace tarvex::view
