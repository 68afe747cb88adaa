#include "layout.h"

#include <algorithm>
#include <cmath>

namespace tarvex::view {

QPoint Layout::map(QPointF design) const
{
    return {int(std::lround(design.x() * k)), top + int(std::lround((design.y() - top) * k))};
}

int Layout::length(double design) const
{
    return std::max(1, int(std::lround(design * k)));
}

Layout layoutFor(QSize client, QSize design, int top)
{
    Layout layout;
    layout.top = top;
    const int designBelow = design.height() - top, clientBelow = client.height() - top;
    if (design.width() <= 0 || designBelow <= 0)
        return layout;
    // A window squeezed to nothing still gets a positive factor, so every
    // box keeps a place to be drawn in.
    layout.k = std::max(0.05, std::min(double(client.width()) / design.width(), double(clientBelow) / designBelow));
    return layout;
}

}  // namespace tarvex::view
