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
    if (!raster::ReduceArea(pixelsOf(image_), surface.source()))
        image_.fill(kBlankColour);
    return image_;
}

}  // namespace tarvex::view
