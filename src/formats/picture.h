#pragma once
// A decoded picture, and any 32-bit image's pixels as the raster
// primitives take them.
#include <QImage>
#include <memory>

#include "raster/raster.h"

namespace tarvex {

using Picture = std::shared_ptr<const QImage>;  // decoded once, shared, never changed

// A 32-bit image's pixels, writable; an empty bitmap for a null image.
raster::Bitmap pixelsOf(QImage& image);
// The same for reading only: the image is not detached.
raster::Bitmap pixelsToRead(const QImage& image);

}  // namespace tarvex
