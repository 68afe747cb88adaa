#include "shown_image.h"

#include "formats/colour_profile.h"
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

void shownAt(const Surface& surface, QImage& into, QSize size)
{
    const QImage::Format format = surface.hasAlpha() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    if (into.size() != size || into.format() != format)
        into = QImage(size, format);
    if (into.isNull())
        return;
    if (surface.isBlank()) {  // no need to make the full-size blank image
        into.fill(kBlankColour);
        return;
    }
    const raster::Bitmap from = surface.source(), to = pixelsOf(into);
    const bool done = size.width() <= from.width && size.height() <= from.height
                          ? raster::ReduceArea(to, from)
                          : raster::StretchBlt(to, 0, 0, to.width, to.height, from, 0, 0, from.width, from.height);
    if (!done)
        into.fill(kBlankColour);
}

const QImage& ShownImage::sized(const Surface& surface, QSize size, double ratio)
{
    if (revision_ == surface.revision() && image_.size() == size && image_.devicePixelRatio() == ratio)
        return image_;
    revision_ = surface.revision();
    shownAt(surface, image_, size);
    onScreen(image_, surface.profile());
    image_.setDevicePixelRatio(ratio);
    ++made_;
    return image_;
}

bool needsConverting(const Surface& surface)
{
    return !surface.profile().isEmpty();
}

void onScreen(QImage& image, const QByteArray& profile)
{
    colour::convertInPlace(image, profile, QByteArray());
}

const QImage* ShownImage::lastOf(const Surface& surface) const
{
    return revision_ == surface.revision() && !image_.isNull() ? &image_ : nullptr;
}

}  // namespace tarvex::view
