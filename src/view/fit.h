#pragma once
// How the window shows a surface: 1:1 where the box fits its place, and
// otherwise reduced by the largest factor that fits, its border still two
// pixels wide; then the whole is scaled with the window's layout. Only the
// showing changes; the surface keeps its full size, and positions on the
// shown box convert back to the surface's pixels.
#include <QPointF>
#include <QRect>
#include <QSize>

#include "layout.h"
#include "workspace/surface.h"

namespace tarvex::view {

struct Fit {
    QRect outer;             // the shown box in the window, border included
    QSize inner;             // the shown drawing area
    double scaleX = 1;       // shown pixels per surface pixel, across
    double scaleY = 1;       // and down
    bool resampled = false;  // shown at another size than its own

    // A point of the shown drawing area in the surface's own pixels.
    QPointF toSurface(QPointF shown) const { return {shown.x() / scaleX, shown.y() / scaleY}; }
};

// The surface's shown box when it may take up at most `place` (border
// included, in the drawn layout's pixels) from its own top-left corner, in
// a window whose layout is `layout`.
Fit fitInto(const Surface& surface, QSize place, const Layout& layout = {});

// Where each box of the main window may spread: the two picture boxes keep
// the size the layout was drawn for, so neither covers the other or the
// controls below; the preview may reach the client area's right and bottom
// edges; the hidden boxes are never reduced. In the drawn layout's pixels.
QSize placeOf(const Surface& surface, QSize clientArea, const Layout& layout = {});

inline constexpr QSize kPictureBoxPlace(644, 484);

}  // namespace tarvex::view
