#pragma once
// The main window's drawn sizes and timings, shared by the code that builds
// it and the code that lays it out.
#include <QSize>
#include <QString>

namespace tarvex::mainDesign {

inline constexpr QSize kClientSize(1272, 746);
inline constexpr int kToolbarHeight = 76;
// How long a window's size must stay put before the resampled boxes are
// made at it: longer than the steps of a dragged window edge.
inline constexpr int kSettleMs = 150;

inline QString text(const char* latin1)
{
    return QString::fromLatin1(latin1);
}

}  // namespace tarvex::mainDesign
