#include "shown_image.h"

#include "raster/raster.h"

namespace tarvex::view {

const QImage& ShownImage::reduced(const Surface& surface, QSize size)
{
    if (revision_ == surface.revision() && image_.size() == size)
        return image_;
    revision_ = surface.revision();
    if (image_.size() != size)
        image_ = QImage(size, QImage::Format_RGB32);
    if (image_.isNull())
        return image_;
    if (surface.isBlank()) {  // no need to make the full-size blank image
        image_.fill(kBlankColour);
        return image_;
    }
    const raster::Bitmap to{reinterpret_cast<raster::Pixel*>(image_.bits()), image_.width(), image_.height(),
                            image_.bytesPerLine() / 4};
    if (!raster::ReduceArea(to, surface.source()))
        image_.fill(kBlankColour);
    return image_;
}

}  // namespace tarvex::view
