#include "fit.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "workspace/conversions.h"

namespace tarvex::view {

namespace {

Fit designFit(const Surface& surface, QSize place)
{
    Fit fit;
    const QPoint at(toInt32(surface.Left), toInt32(surface.Top));
    const QSize outer(std::max(0, toInt32(surface.Width())), std::max(0, toInt32(surface.Height())));
    const QSize area(surface.ScaleWidth(), surface.ScaleHeight());
    const QSize room = place - QSize(2 * kBorder, 2 * kBorder);
    if ((outer.width() <= place.width() && outer.height() <= place.height()) || area.isEmpty() || room.isEmpty()) {
        fit.outer = QRect(at, outer);
        fit.inner = area;
        return fit;
    }
    const double s = std::min(double(room.width()) / area.width(), double(room.height()) / area.height());
    // Rounded down so the box fits; never below one pixel on either axis.
    fit.inner = QSize(std::clamp(int(std::floor(area.width() * s)), 1, area.width()),
                      std::clamp(int(std::floor(area.height() * s)), 1, area.height()));
    fit.outer = QRect(at, fit.inner + QSize(2 * kBorder, 2 * kBorder));
    fit.scaleX = double(fit.inner.width()) / area.width();
    fit.scaleY = double(fit.inner.height()) / area.height();
    fit.resampled = true;
    return fit;
}

}  // namespace

Fit fitInto(const Surface& surface, QSize place, const Layout& layout)
{
    Fit fit = designFit(surface, place);
    if (layout.k == 1)
        return fit;
    const QSize area(surface.ScaleWidth(), surface.ScaleHeight());
    fit.inner = QSize(fit.inner.width() > 0 ? layout.length(fit.inner.width()) : 0,
                      fit.inner.height() > 0 ? layout.length(fit.inner.height()) : 0);
    fit.outer = QRect(layout.map(QPointF(surface.Left, surface.Top)), fit.inner + QSize(2 * kBorder, 2 * kBorder));
    if (area.isEmpty())
        return fit;
    fit.scaleX = double(fit.inner.width()) / area.width();
    fit.scaleY = double(fit.inner.height()) / area.height();
    fit.resampled = fit.inner != area;
    return fit;
}

QSize placeOf(const Surface& surface, QSize clientArea, const Layout& layout)
{
    if (surface.name() == QLatin1String("Picture1") || surface.name() == QLatin1String("Picture2"))
        return kPictureBoxPlace;
    if (surface.name() == QLatin1String("Picture3")) {
        if (layout.k == 1)
            return QSize(std::max(2 * kBorder + 1, clientArea.width() - toInt32(surface.Left)),
                         std::max(2 * kBorder + 1, clientArea.height() - toInt32(surface.Top)));
        const QPoint at = layout.map(QPointF(surface.Left, surface.Top));
        return QSize(std::max(2 * kBorder + 1, int((clientArea.width() - at.x()) / layout.k)),
                     std::max(2 * kBorder + 1, int((clientArea.height() - at.y()) / layout.k)));
    }
    return QSize(INT_MAX, INT_MAX);
}

}  // namespace tarvex::view
