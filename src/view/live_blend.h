#pragma once
// What the second picture's box shows while the blend's thumb is dragged:
// the first picture laid over the clean second one at the thumb's value,
// blended from the two pictures as shown, at the box's shown size. A step
// costs a blend of the shown pixels only, and the model is never written:
// the composite itself is made when the thumb is released.
#include <QImage>

#include "shown_image.h"
#include "workspace/surface.h"

namespace tarvex::view {

class LiveBlend {
public:
    // `first` stretched over `clean` at opacity `value` (0..255), at `size`
    // device pixels, `ratio` of them per shown pixel.
    const QImage& at(const Surface& first, const Surface& clean, QSize size, int value, double ratio = 1);

private:
    QImage first_, clean_, blended_;
    quint64 firstRevision_ = 0, cleanRevision_ = 0;
    QByteArray firstSpace_;  // the space first_ was converted into
};

}  // namespace tarvex::view
