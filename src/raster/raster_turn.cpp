// Pictures turned as a camera's orientation tag says: rows copied or
// mirrored for 1 to 4, blocks transposed for 5 to 8, in bands of rows
// over every core when the picture is large.
#include "dispatch.h"

namespace tarvex::raster {

using namespace detail;

bool Orient(const Bitmap& dst, const Bitmap& src, int orientation)
{
    const Kernels* k = kernels();
    if (!k)
        return reference::Orient(dst, src, orientation);
    const bool turned = orientation >= 5;
    if (orientation < 1 || orientation > 8 || dst.empty() || src.empty() ||
        dst.width != (turned ? src.height : src.width) || dst.height != (turned ? src.width : src.height))
        return false;
    const int sw = src.width, sh = src.height, w = dst.width, h = dst.height;
    const std::int64_t pixels = std::int64_t(w) * h;
    if (!turned) {
        const bool stream = pixels * std::int64_t(sizeof(Pixel)) >= kStreamBytes;
        const bool upsideDown = orientation == 3 || orientation == 4, mirrored = orientation == 2 || orientation == 3;
        inBands(*k, pixels, h, [&](int first, int last) {
            for (int y = first; y < last; ++y) {
                const Pixel* from = src.row(upsideDown ? sh - 1 - y : y);
                if (mirrored)
                    k->mirror(dst.row(y), from + sw - 1, w, stream);
                else
                    k->copy(dst.row(y), from, w, stream);
            }
        });
        return true;
    }
    // dst(x, y) = src(column c(y), row r(x)): from a corner of src, whole
    // rows down or up as x grows, and along them forwards or back as y does.
    const bool rowsUp = orientation == 6 || orientation == 7, reversed = orientation == 7 || orientation == 8;
    const Pixel* corner = src.row(rowsUp ? sh - 1 : 0) + (reversed ? sw - 1 : 0);
    const std::ptrdiff_t rowStep = rowsUp ? -src.stride : src.stride;
    const std::ptrdiff_t along = reversed ? -1 : 1;
    // Bands of whole blocks of eight rows.
    const int blocks = (h + 7) / 8;
    inBands(*k, pixels, blocks, [&](int first, int last) {
        const int y0 = first * 8, y1 = std::min(h, last * 8);
        k->transpose(dst.row(y0), dst.stride, corner + y0 * along, rowStep, reversed, w, y1 - y0);
    });
    return true;
}

}  // namespace tarvex::raster
