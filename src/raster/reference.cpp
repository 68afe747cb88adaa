// Plain per-pixel definitions of the primitives. Slow and obviously right:
// the fast paths are tested against these.
#include "area.h"
#include "raster.h"
#include "sampling.h"

namespace tarvex::raster::reference {
namespace {

using detail::Axis;

bool inside(const Bitmap& b, std::int64_t x, std::int64_t y)
{
    return x >= 0 && y >= 0 && x < b.width && y < b.height;
}

// Visits every destination pixel of the rectangle of ax x ay that lies in
// dst and samples a pixel inside src.
template <typename Op>
void forEachSample(const Bitmap& dst, const Axis& ax, const Axis& ay, const Bitmap& src, Op op)
{
    if (dst.empty() || src.empty() || ax.dExtent == 0 || ay.dExtent == 0 || ax.sExtent == 0 ||
        ay.sExtent == 0)
        return;
    for (int y = 0; y < dst.height; ++y) {
        if (!ay.covers(y))
            continue;
        for (int x = 0; x < dst.width; ++x) {
            if (!ax.covers(x))
                continue;
            const std::int64_t sx = ax.sample(x), sy = ay.sample(y);
            if (inside(src, sx, sy))
                op(dst.row(y)[x], src.row(static_cast<int>(sy))[sx]);
        }
    }
}

unsigned blendChannel(unsigned s, unsigned d, unsigned a)
{
    const unsigned v = s * a + d * (255 - a);
    return (v + 127) / 255;  // v / 255 is never exactly a half
}

}  // namespace

bool BitBlt(const Bitmap& dst, int x, int y, int w, int h, const Bitmap& src, int xs, int ys)
{
    if (w <= 0 || h <= 0)
        return false;
    return reference::StretchBlt(dst, x, y, w, h, src, xs, ys, w, h);
}

bool StretchBlt(const Bitmap& dst, int xd, int yd, int wd, int hd, const Bitmap& src, int xs, int ys,
                int ws, int hs)
{
    if (wd == 0 || hd == 0 || ws == 0 || hs == 0)
        return false;
    forEachSample(dst, {xd, wd, xs, ws}, {yd, hd, ys, hs}, src, [](Pixel& d, Pixel s) { d = s; });
    return true;
}

bool AlphaBlend(const Bitmap& dst, int xd, int yd, int wd, int hd, const Bitmap& src, int xs, int ys,
                int ws, int hs, std::uint32_t blendFunction)
{
    const std::uint32_t format = blendFunction >> 24;
    if (wd <= 0 || hd <= 0 || ws <= 0 || hs <= 0 || (blendFunction & 0x0000ffffu) != 0 || format > AC_SRC_ALPHA)
        return false;
    if (xs < 0 || ys < 0 || std::int64_t(xs) + ws > src.width || std::int64_t(ys) + hs > src.height)
        return false;
    const unsigned a = (blendFunction >> 16) & 0xffu;
    forEachSample(dst, {xd, wd, xs, ws}, {yd, hd, ys, hs}, src, [a, format](Pixel& d, Pixel s) {
        const unsigned sa = s >> 24;
        Pixel out = 0;
        for (int shift = 0; shift < 32; shift += 8) {
            const unsigned sc = (s >> shift) & 0xffu, dc = (d >> shift) & 0xffu;
            out |= (format == AC_SRC_ALPHA ? pixel::over(sc, sa, dc, a) : blendChannel(sc, dc, a)) << shift;
        }
        d = out;
    });
    return true;
}

bool AlphaBlendOver(const Bitmap& dst, const Bitmap& under, int xd, int yd, int wd, int hd, const Bitmap& src,
                    int xs, int ys, int ws, int hs, std::uint32_t blendFunction)
{
    reference::BitBlt(dst, 0, 0, under.width, under.height, under, 0, 0);
    return reference::AlphaBlend(dst, xd, yd, wd, hd, src, xs, ys, ws, hs, blendFunction);
}

bool TransparentBlt(const Bitmap& dst, int xd, int yd, int wd, int hd, const Bitmap& src, int xs,
                    int ys, int ws, int hs, ColorRef key)
{
    if (wd <= 0 || hd <= 0 || ws <= 0 || hs <= 0)
        return false;
    forEachSample(dst, {xd, wd, xs, ws}, {yd, hd, ys, hs}, src, [key](Pixel& d, Pixel s) {
        if (toColorRef(s) != key)
            d = s;
    });
    return true;
}

bool TransparentBltOver(const Bitmap& dst, const Bitmap& under, int xd, int yd, int wd, int hd, const Bitmap& src,
                        int xs, int ys, int ws, int hs, ColorRef key)
{
    reference::BitBlt(dst, 0, 0, under.width, under.height, under, 0, 0);
    return reference::TransparentBlt(dst, xd, yd, wd, hd, src, xs, ys, ws, hs, key);
}

bool TransparentBlt(const Bitmap& dst, int xd, int yd, int wd, int hd, const Bitmap& src, int xs, int ys, int ws,
                    int hs, const SoftKey& key)
{
    if (key.exact())
        return reference::TransparentBlt(dst, xd, yd, wd, hd, src, xs, ys, ws, hs, key.colour);
    if (wd <= 0 || hd <= 0 || ws <= 0 || hs <= 0)
        return false;
    if ((key.colour & 0xff000000u) != 0)  // not a colour: nothing is near it
        return reference::StretchBlt(dst, xd, yd, wd, hd, src, xs, ys, ws, hs);
    const pixel::SoftKeyLimits limits = pixel::softKeyLimits(key);
    const Pixel k = limits.key;
    forEachSample(dst, {xd, wd, xs, ws}, {yd, hd, ys, hs}, src, [&](Pixel& d, Pixel s) {
        const unsigned alpha = pixel::softAlpha(s, limits);
        Pixel out = 0;
        for (int shift = 0; shift < 32; shift += 8)
            out |= pixel::softKeyed((s >> shift) & 0xffu, (k >> shift) & 0xffu, (d >> shift) & 0xffu, alpha) << shift;
        d = out;
    });
    return true;
}

bool TransparentBltOver(const Bitmap& dst, const Bitmap& under, int xd, int yd, int wd, int hd, const Bitmap& src,
                        int xs, int ys, int ws, int hs, const SoftKey& key)
{
    reference::BitBlt(dst, 0, 0, under.width, under.height, under, 0, 0);
    return reference::TransparentBlt(dst, xd, yd, wd, hd, src, xs, ys, ws, hs, key);
}

bool ReduceArea(const Bitmap& dst, const Bitmap& src)
{
    if (dst.empty() || src.empty() || dst.width > src.width || dst.height > src.height)
        return false;
    const detail::AreaSpans xs(src.width, dst.width), ys(src.height, dst.height);
    const double total = double(xs.source) * double(ys.source);
    for (int j = 0; j < dst.height; ++j) {
        for (int i = 0; i < dst.width; ++i) {
            std::uint64_t sum[4] = {};
            for (int r = 0; r < ys.count[std::size_t(j)]; ++r) {
                const Pixel* row = src.row(ys.first[std::size_t(j)] + r);
                for (int c = 0; c < xs.count[std::size_t(i)]; ++c) {
                    const std::uint64_t w = std::uint64_t(ys.weights(std::size_t(j))[r]) *
                                            std::uint64_t(xs.weights(std::size_t(i))[c]);
                    const Pixel p = row[xs.first[std::size_t(i)] + c];
                    for (int ch = 0; ch < 4; ++ch)
                        sum[ch] += w * ((p >> (8 * ch)) & 0xffu);
                }
            }
            Pixel out = 0;
            for (int ch = 0; ch < 4; ++ch)
                out |= detail::roundedMean(double(sum[ch]), total) << (8 * ch);
            dst.row(j)[i] = out;
        }
    }
    return true;
}

bool Orient(const Bitmap& dst, const Bitmap& src, int orientation)
{
    const bool turned = orientation >= 5;
    if (orientation < 1 || orientation > 8 || dst.empty() || src.empty() ||
        dst.width != (turned ? src.height : src.width) || dst.height != (turned ? src.width : src.height))
        return false;
    const int sw = src.width, sh = src.height;
    for (int y = 0; y < dst.height; ++y)
        for (int x = 0; x < dst.width; ++x) {
            int sx = x, sy = y;
            switch (orientation) {
            case 2: sx = sw - 1 - x; break;
            case 3: sx = sw - 1 - x, sy = sh - 1 - y; break;
            case 4: sy = sh - 1 - y; break;
            case 5: sx = y, sy = x; break;
            case 6: sx = y, sy = sh - 1 - x; break;
            case 7: sx = sw - 1 - y, sy = sh - 1 - x; break;
            case 8: sx = sw - 1 - y, sy = x; break;
            default: break;
            }
            dst.row(y)[x] = src.row(sy)[sx];
        }
    return true;
}

}  // namespace tarvex::raster::reference
