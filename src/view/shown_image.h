#pragma once
// What a reduced box shows: the surface's image reduced by area averaging,
// kept until the surface changes or the box takes another size, so a
// repaint of an unchanged box costs nothing.
#include <QBrush>
#include <QImage>

#include "workspace/surface.h"

namespace tarvex::view {

// What shows through the transparent parts of a picture with alpha: a
// neutral checkerboard of 8-pixel squares, as image editors show it.
QBrush transparencyBrush();

class ShownImage {
public:
    // The surface's image reduced to `size` (no larger than the image),
    // keeping its alpha where it has one.
    const QImage& reduced(const Surface& surface, QSize size);

private:
    QImage image_;
    quint64 revision_ = 0;
};

}  // namespace tarvex::view
