// The primitives' entry points: each checks its arguments, maps its
// rectangle, and hands the rows to the kernels chosen, or to the reference
// path when none is.
#include <algorithm>
#include <climits>
#include <cmath>

#include "dispatch.h"

namespace tarvex::raster {

using namespace detail;

bool BitBlt(const Bitmap& dst, int x, int y, int w, int h, const Bitmap& src, int xs, int ys)
{
    const Kernels* k = kernels();
    if (!k)
        return reference::BitBlt(dst, x, y, w, h, src, xs, ys);
    if (w <= 0 || h <= 0)
        return false;
    if (dst.empty() || src.empty())
        return true;
    // Destination columns c with 0 <= c < dst.width, x <= c < x + w and
    // 0 <= c - x + xs < src.width; rows likewise.
    const std::int64_t c0 = std::max<std::int64_t>({0, x, std::int64_t(x) - xs});
    const std::int64_t c1 = std::min<std::int64_t>({dst.width, std::int64_t(x) + w, std::int64_t(x) - xs + src.width});
    const std::int64_t r0 = std::max<std::int64_t>({0, y, std::int64_t(y) - ys});
    const std::int64_t r1 = std::min<std::int64_t>({dst.height, std::int64_t(y) + h, std::int64_t(y) - ys + src.height});
    if (c0 >= c1 || r0 >= r1)
        return true;
    const bool stream = (c1 - c0) * (r1 - r0) * std::int64_t(sizeof(Pixel)) >= kStreamBytes;
    Pixel* to = dst.row(int(r0)) + c0;
    const Pixel* from = src.row(int(r0 - y + ys)) + (c0 - x + xs);
    // Whole rows of buffers without padding lie end to end: one block.
    const bool oneBlock = c1 - c0 == dst.width && dst.stride == dst.width && src.stride == dst.width;
    if (oneBlock && (r1 - r0) * dst.width <= INT_MAX) {
        k->copy(to, from, int((r1 - r0) * dst.width), stream);
    } else {
        for (std::int64_t r = r0; r < r1; ++r, to += dst.stride, from += src.stride)
            k->copy(to, from, int(c1 - c0), stream);
    }
    k->fence();
    return true;
}

bool StretchBlt(const Bitmap& dst, int xd, int yd, int wd, int hd, const Bitmap& src, int xs, int ys,
                int ws, int hs)
{
    const Kernels* k = kernels();
    if (!k)
        return reference::StretchBlt(dst, xd, yd, wd, hd, src, xs, ys, ws, hs);
    if (wd == 0 || hd == 0 || ws == 0 || hs == 0)
        return false;
    const Mapping m = mapRect(dst, {xd, wd, xs, ws}, {yd, hd, ys, hs}, src);
    if (!m.empty())
        stretchCopy(*k, dst, src, m);
    return true;
}

namespace {

// A blend's parameters, once checked: constant opacity, and whether the
// source carries its own alpha.
struct BlendParams {
    bool valid = false;
    unsigned opacity = 0;
    bool sourceAlpha = false;
};

BlendParams checkBlend(const Bitmap& src, int wd, int hd, int xs, int ys, int ws, int hs, std::uint32_t blendFunction)
{
    const std::uint32_t format = blendFunction >> 24;
    const bool valid = wd > 0 && hd > 0 && ws > 0 && hs > 0 && (blendFunction & 0x0000ffffu) == 0 &&
                       format <= AC_SRC_ALPHA && xs >= 0 && ys >= 0 && std::int64_t(xs) + ws <= src.width &&
                       std::int64_t(ys) + hs <= src.height;
    return {valid, (blendFunction >> 16) & 0xffu, format == AC_SRC_ALPHA};
}

// Whether the blend is at most a stretched copy: no opacity leaves the
// destination as it is, and a full one of an opaque source replaces it.
bool blendIsCopy(const BlendParams& b)
{
    return b.opacity == 0 || (b.opacity == 255 && !b.sourceAlpha);
}

}  // namespace

bool AlphaBlend(const Bitmap& dst, int xd, int yd, int wd, int hd, const Bitmap& src, int xs, int ys,
                int ws, int hs, std::uint32_t blendFunction)
{
    const Kernels* k = kernels();
    if (!k)
        return reference::AlphaBlend(dst, xd, yd, wd, hd, src, xs, ys, ws, hs, blendFunction);
    const BlendParams b = checkBlend(src, wd, hd, xs, ys, ws, hs, blendFunction);
    if (!b.valid)
        return false;
    const Mapping m = mapRect(dst, {xd, wd, xs, ws}, {yd, hd, ys, hs}, src);
    if (m.empty() || b.opacity == 0)  // opacity 0 leaves every destination pixel as it is
        return true;
    if (blendIsCopy(b)) {  // and full opacity of an opaque source is a plain stretched copy
        stretchCopy(*k, dst, src, m);
        return true;
    }
    const auto row = b.sourceAlpha ? k->over : k->blend;
    forEachSampledRow(*k, dst, src, m, classify(m.x.source),
                      [&](int, Pixel* d, const Pixel* s, int n) { row(d, s, d, n, b.opacity, false); });
    return true;
}

bool AlphaBlendOver(const Bitmap& dst, const Bitmap& under, int xd, int yd, int wd, int hd, const Bitmap& src,
                    int xs, int ys, int ws, int hs, std::uint32_t blendFunction)
{
    const Kernels* k = kernels();
    const bool sameSize = under.width == dst.width && under.height == dst.height;
    if (!k || !sameSize || dst.empty() || under.empty()) {
        if (!k)
            return reference::AlphaBlendOver(dst, under, xd, yd, wd, hd, src, xs, ys, ws, hs, blendFunction);
        BitBlt(dst, 0, 0, under.width, under.height, under, 0, 0);
        return AlphaBlend(dst, xd, yd, wd, hd, src, xs, ys, ws, hs, blendFunction);
    }
    const BlendParams b = checkBlend(src, wd, hd, xs, ys, ws, hs, blendFunction);
    const Mapping m = b.valid ? mapRect(dst, {xd, wd, xs, ws}, {yd, hd, ys, hs}, src) : Mapping{};
    if (m.empty() || blendIsCopy(b)) {  // a copy, and at most a stretched copy over it
        BitBlt(dst, 0, 0, under.width, under.height, under, 0, 0);
        if (!m.empty() && b.opacity == 255)
            stretchCopy(*k, dst, src, m);
        return b.valid;
    }
    const auto row = b.sourceAlpha ? k->over : k->blend;
    drawOver(*k, dst, under, src, m,
             [&](Pixel* d, const Pixel* s, const Pixel* u, int n, bool stream) { row(d, s, u, n, b.opacity, stream); });
    return true;
}

bool TransparentBlt(const Bitmap& dst, int xd, int yd, int wd, int hd, const Bitmap& src, int xs,
                    int ys, int ws, int hs, ColorRef key)
{
    const Kernels* k = kernels();
    if (!k)
        return reference::TransparentBlt(dst, xd, yd, wd, hd, src, xs, ys, ws, hs, key);
    if (wd <= 0 || hd <= 0 || ws <= 0 || hs <= 0)
        return false;
    const Mapping m = mapRect(dst, {xd, wd, xs, ws}, {yd, hd, ys, hs}, src);
    if (m.empty())
        return true;
    if ((key & 0xff000000u) != 0) {  // not a colour: no pixel is see-through
        stretchCopy(*k, dst, src, m);
        return true;
    }
    const Pixel keyRgb = fromColorRef(key) & 0x00ffffffu;
    forEachSampledRow(*k, dst, src, m, classify(m.x.source),
                      [&](int, Pixel* d, const Pixel* s, int n) { k->key(d, s, d, n, keyRgb, false); });
    return true;
}

bool TransparentBltOver(const Bitmap& dst, const Bitmap& under, int xd, int yd, int wd, int hd, const Bitmap& src,
                        int xs, int ys, int ws, int hs, ColorRef key)
{
    const Kernels* k = kernels();
    if (!k)
        return reference::TransparentBltOver(dst, under, xd, yd, wd, hd, src, xs, ys, ws, hs, key);
    const bool sameSize = under.width == dst.width && under.height == dst.height;
    const bool inPlace = sameSize && under.pixels == dst.pixels && under.stride == dst.stride;
    const Mapping m = wd > 0 && hd > 0 && ws > 0 && hs > 0 ? mapRect(dst, {xd, wd, xs, ws}, {yd, hd, ys, hs}, src)
                                                            : Mapping{};
    if (inPlace || !sameSize || dst.empty() || under.empty() || m.empty() || (key & 0xff000000u) != 0) {
        if (!inPlace)
            BitBlt(dst, 0, 0, under.width, under.height, under, 0, 0);
        return TransparentBlt(dst, xd, yd, wd, hd, src, xs, ys, ws, hs, key);
    }
    const Pixel keyRgb = fromColorRef(key) & 0x00ffffffu;
    drawOver(*k, dst, under, src, m,
             [&](Pixel* d, const Pixel* s, const Pixel* u, int n, bool stream) { k->key(d, s, u, n, keyRgb, stream); });
    return true;
}

pixel::SoftKeyLimits pixel::softKeyLimits(const SoftKey& key)
{
    SoftKeyLimits l;
    l.key = fromColorRef(key.colour);
    l.noise = std::clamp(key.noise, 0, 255);
    const double share = std::clamp(key.opaqueShare, 1.0 / 512, 1.0);
    for (int c = 0; c < 3; ++c) {
        const int kc = int((l.key >> (8 * c)) & 0xffu);
        for (int up = 0; up < 2; ++up) {
            const int range = up ? 255 - kc : kc;
            if (range <= l.noise) {
                l.opaqueAt[c][up] = 256;
                l.scale[c][up] = 0;
                continue;
            }
            l.opaqueAt[c][up] = int(std::ceil(l.noise + share * (range - l.noise)));
            l.scale[c][up] = 1.0f / float(range - l.noise);
        }
        const Pixel byte = 0xffu << (8 * c);
        (kc >= 128 ? l.high : l.low) |= byte;
    }
    l.lean = std::clamp(key.lean, 0, 255);
    l.checksLean = l.high != 0 && l.low != 0 && leanOf(l.key, l) > l.lean;
    return l;
}

bool TransparentBlt(const Bitmap& dst, int xd, int yd, int wd, int hd, const Bitmap& src, int xs, int ys, int ws,
                    int hs, const SoftKey& key)
{
    const Kernels* k = kernels();
    if (!k)
        return reference::TransparentBlt(dst, xd, yd, wd, hd, src, xs, ys, ws, hs, key);
    if (key.exact() || (key.colour & 0xff000000u) != 0)  // exact, or no colour to be near
        return TransparentBlt(dst, xd, yd, wd, hd, src, xs, ys, ws, hs, key.colour);
    if (wd <= 0 || hd <= 0 || ws <= 0 || hs <= 0)
        return false;
    const Mapping m = mapRect(dst, {xd, wd, xs, ws}, {yd, hd, ys, hs}, src);
    if (m.empty())
        return true;
    const SoftKeyRow row = pixel::softKeyLimits(key);
    forEachSampledRow(*k, dst, src, m, classify(m.x.source),
                      [&](int, Pixel* d, const Pixel* s, int n) { k->softKey(d, s, d, n, row, false); });
    return true;
}

bool TransparentBltOver(const Bitmap& dst, const Bitmap& under, int xd, int yd, int wd, int hd, const Bitmap& src,
                        int xs, int ys, int ws, int hs, const SoftKey& key)
{
    const Kernels* k = kernels();
    if (!k)
        return reference::TransparentBltOver(dst, under, xd, yd, wd, hd, src, xs, ys, ws, hs, key);
    if (key.exact() || (key.colour & 0xff000000u) != 0)
        return TransparentBltOver(dst, under, xd, yd, wd, hd, src, xs, ys, ws, hs, key.colour);
    const bool sameSize = under.width == dst.width && under.height == dst.height;
    const bool inPlace = sameSize && under.pixels == dst.pixels && under.stride == dst.stride;
    const Mapping m = wd > 0 && hd > 0 && ws > 0 && hs > 0 ? mapRect(dst, {xd, wd, xs, ws}, {yd, hd, ys, hs}, src)
                                                            : Mapping{};
    if (inPlace || !sameSize || dst.empty() || under.empty() || m.empty()) {
        if (!inPlace)
            BitBlt(dst, 0, 0, under.width, under.height, under, 0, 0);
        return TransparentBlt(dst, xd, yd, wd, hd, src, xs, ys, ws, hs, key);
    }
    const SoftKeyRow row = pixel::softKeyLimits(key);
    drawOver(*k, dst, under, src, m,
             [&](Pixel* d, const Pixel* s, const Pixel* u, int n, bool stream) { k->softKey(d, s, u, n, row, stream); });
    return true;
}

}  // namespace tarvex::raster
