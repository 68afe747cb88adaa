#pragma once
// The main window's layout at any size: the area below the toolbar holds
// the layout as drawn, scaled by one factor k, the largest with which it
// fits. Only what is shown moves and grows; the workspace keeps the
// geometry it was drawn with.
#include <QPoint>
#include <QPointF>
#include <QSize>

namespace tarvex::view {

struct Layout {
    double k = 1;     // shown pixels per layout pixel
    int top = 0;      // the toolbar's height: scaling starts below it

    // Where a point of the drawn layout is shown.
    QPoint map(QPointF design) const;
    // A length of the drawn layout as shown, never below one pixel.
    int length(double design) const;
    // A shown point in the drawn layout's units.
    QPointF unmap(QPoint shown) const { return {shown.x() / k, top + (shown.y() - top) / k}; }
};

// The layout for a client area of `client`, drawn for `design`, both
// including the toolbar's `top` rows.
Layout layoutFor(QSize client, QSize design, int top);

}  // namespace tarvex::view
