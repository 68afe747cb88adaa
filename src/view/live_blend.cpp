#include "live_blend.h"

#include <algorithm>

#include "formats/colour_profile.h"
#include "raster/raster.h"

namespace tarvex::view {

const QImage& LiveBlend::at(const Surface& first, const Surface& clean, QSize size, int value, double ratio)
{
    if (clean_.size() != size || cleanRevision_ != clean.revision()) {
        shownAt(clean, clean_, size);
        cleanRevision_ = clean.revision();
    }
    if (first_.size() != size || firstRevision_ != first.revision() || firstSpace_ != clean.profile()) {
        // In the photo's colour space, as the command lays it.
        shownAt(first, first_, size);
        colour::convertInPlace(first_, first.profile(), clean.profile());
        firstRevision_ = first.revision();
        firstSpace_ = clean.profile();
    }
    if (blended_.size() != size)
        blended_ = QImage(size, QImage::Format_RGB32);
    blended_.setDevicePixelRatio(ratio);
    if (blended_.isNull() || clean_.isNull() || first_.isNull())
        return blended_;
    // The clean picture and the first over it in one pass, as the command does.
    const std::uint8_t format = first.hasAlpha() ? raster::AC_SRC_ALPHA : 0;
    raster::AlphaBlendOver(pixelsOf(blended_), pixelsOf(clean_), 0, 0, size.width(), size.height(), pixelsOf(first_), 0,
                           0, first_.width(), first_.height(),
                           raster::packBlendFunction(0, 0, std::uint8_t(std::clamp(value, 0, 255)), format));
    onScreen(blended_, clean.profile());
    return blended_;
}

}  // namespace tarvex::view
