#pragma once
// The program's pictures, drawn in code: each toolbar icon pictures its
// button's function; the mixing toolbar's stand on blue, the framing
// toolbar's on a gilt frame, so no two of the 34 are alike.
#include <QIcon>
#include <QImage>

namespace tarvex::icons {

QImage toolbarImage(int toolbar, int index);  // 64 x 64; toolbar 1 or 2, index 1..17
QImage applicationImage(int size);            // the main window's icon
QImage aboutImage(int size);                  // the About window's picture
QIcon applicationIcon();

}  // namespace tarvex::icons
