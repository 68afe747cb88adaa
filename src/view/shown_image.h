#pragma once
// What a resampled box shows: the surface's image brought to the box's
// size in device pixels, kept until the surface changes or the box takes
// another size, so a repaint of an unchanged box costs nothing.
#include <QBrush>
#include <QImage>

#include "workspace/surface.h"

namespace tarvex::view {

// What shows through the transparent parts of a picture with alpha: a
// neutral checkerboard of 8-pixel squares, as image editors show it.
QBrush transparencyBrush();

class ShownImage {
public:
    // The surface's image at `size` device pixels: area-averaged where that
    // is no larger than the image, keeping its alpha where it has one, in
    // the screen's colours (see onScreen). It tells the painter `ratio`
    // device pixels per shown pixel.
    const QImage& sized(const Surface& surface, QSize size, double ratio = 1);
    // The image last made, whatever its size, if it still shows the
    // surface as it is: drawn stretched while a window is being resized.
    const QImage* lastOf(const Surface& surface) const;
    // How many images have been made: each costs a pass over the surface.
    quint64 made() const { return made_; }

private:
    QImage image_;
    quint64 revision_ = 0;
    quint64 made_ = 0;
};

// The surface's image brought to `size`: area-averaged where that is no
// larger than the image on either axis, else stretched (nearest pixel).
// Its values stay in the surface's colour space.
void shownAt(const Surface& surface, QImage& into, QSize size);

// Whether a surface's values must be converted to be shown right: they
// are in another colour space than the screen's.
bool needsConverting(const Surface& surface);
// An image shown, with values in the space of `profile`, converted in
// place to the screen's colour space. Qt does not tell a screen's own
// space here, so that is sRGB, which screens are made to show.
void onScreen(QImage& image, const QByteArray& profile);

}  // namespace tarvex::view
