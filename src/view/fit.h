#pragma once
// How the window shows a surface: 1:1 where the box fits its place, and
// otherwise reduced by the largest factor that fits, its border still two
// pixels wide. Only the showing changes; the surface keeps its full size,
// and positions on the shown box convert back to the surface's pixels.
#include <QPointF>
#include <QRect>
#include <QSize>

#include "workspace/surface.h"

namespace tarvex::view {

struct Fit {
    QRect outer;             // the shown box in the window, border included
    QSize inner;             // the shown drawing area
    double scaleX = 1;       // shown pixels per surface pixel, across
    double scaleY = 1;       // and down
    bool reduced = false;

    // A point of the shown drawing area in the surface's own pixels.
    QPointF toSurface(QPointF shown) const { return {shown.x() / scaleX, shown.y() / scaleY}; }
};

// The surface's shown box when it may take up at most `place` (border
// included) from its own top-left corner.
Fit fitInto(const Surface& surface, QSize place);

// Where each box of the main window may spread: the two picture boxes keep
// the size the layout was drawn for, so neither covers the other or the
// controls below; the preview may reach the client area's right and bottom
// edges; the hidden boxes are never reduced.
QSize placeOf(const Surface& surface, QSize clientArea);

inline constexpr QSize kPictureBoxPlace(644, 484);

}  // namespace tarvex::view
