// Fast paths of the primitives: clip once per axis into a table of source
// coordinates, recognise the common shapes of that table (straight, mirrored,
// doubled, halved) and hand whole rows to the kernels.
#include <algorithm>
#include <atomic>
#include <climits>
#include <vector>

#include "bands.h"
#include "kernels.h"
#include "raster.h"
#include "sampling.h"

namespace tarvex::raster {
namespace {

using detail::Axis;
using detail::AxisMap;
using detail::Kernels;

// Writes larger than this bypass the cache: the destination would not fit
// in it anyway, and streaming saves reading every line before writing it.
// Below it, streaming only throws away lines the next operation will read
// (a full-HD picture, 8 MB, is copied twice as fast through the cache).
constexpr std::int64_t kStreamBytes = std::int64_t(16) << 20;

std::atomic<Implementation> chosen{Implementation::Automatic};

const Kernels* kernels()
{
    switch (chosen.load(std::memory_order_relaxed)) {
    case Implementation::Reference:
        return nullptr;
    case Implementation::Generic:
        return &detail::genericKernels();
    case Implementation::Avx2:
    case Implementation::Automatic:
        break;
    }
    static const Kernels* best = detail::avx2Kernels() ? detail::avx2Kernels() : &detail::genericKernels();
    return best;
}

enum class Shape { Straight, Mirrored, Doubled, Halved, Other };

struct RowPlan {
    Shape shape = Shape::Other;
    int phase = 0;  // Doubled: 1 when the first source pixel is used once
};

RowPlan classify(const std::vector<std::int32_t>& t)
{
    const std::size_t n = t.size();
    auto all = [&](auto expected) {
        for (std::size_t k = 1; k < n; ++k)
            if (t[k] != expected(std::int64_t(k)))
                return false;
        return true;
    };
    const std::int64_t b = t[0];
    if (all([b](std::int64_t k) { return b + k; }))
        return {Shape::Straight, 0};
    if (all([b](std::int64_t k) { return b - k; }))
        return {Shape::Mirrored, 0};
    const int phase = n >= 2 && t[1] == t[0] ? 0 : 1;
    if (all([b, phase](std::int64_t k) { return b + (k + phase) / 2 - phase / 2; }))
        return {Shape::Doubled, phase};
    if (all([b](std::int64_t k) { return b + 2 * k; }))
        return {Shape::Halved, 0};
    return {Shape::Other, 0};
}

// Fills n destination pixels from one source row as the column table says.
void sampleRow(const Kernels& k, const RowPlan& plan, Pixel* d, const Pixel* row, const AxisMap& mx,
               bool stream)
{
    const int n = mx.count();
    const Pixel* s = row + mx.source[0];
    switch (plan.shape) {
    case Shape::Straight: k.copy(d, s, n, stream); break;
    case Shape::Mirrored: k.mirror(d, s, n, stream); break;
    case Shape::Doubled: k.up2(d, s, n, plan.phase, stream); break;
    case Shape::Halved: k.down2(d, s, n, stream); break;
    case Shape::Other: k.gather(d, row, mx.source.data(), n); break;
    }
}

struct Mapping {
    AxisMap x, y;
    bool empty() const { return x.count() == 0 || y.count() == 0; }
};

Mapping mapRect(const Bitmap& dst, const Axis& ax, const Axis& ay, const Bitmap& src)
{
    if (dst.empty() || src.empty())
        return {};
    return {detail::mapAxis(ax, dst.width, src.width), detail::mapAxis(ay, dst.height, src.height)};
}

bool streams(const Mapping& m)
{
    return std::int64_t(m.x.count()) * m.y.count() * std::int64_t(sizeof(Pixel)) >= kStreamBytes;
}

// Below this many pixels a second thread costs more than it saves.
constexpr std::int64_t kBandedPixels = std::int64_t(1) << 20;
constexpr int kBandsPerCore = 4;

// Runs rows(first, last) over [0, count) split into bands taken by every
// core in turn, when the operation is large: one core alone cannot draw
// all of memory's bandwidth. Each band ends with the fence its streamed
// stores need, on the thread that made them.
template <typename Rows>
void inBands(const Kernels& k, std::int64_t pixels, int count, Rows rows)
{
    const int bands = pixels >= kBandedPixels ? std::min(kBandsPerCore * detail::availableBands(), count) : 1;
    detail::runBands(bands, [&](int b) {
        rows(int(std::int64_t(count) * b / bands), int(std::int64_t(count) * (b + 1) / bands));
        k.fence();
    });
}

// Hands each destination row, with its source row sampled into `sampled`
// form, to op. Straight rows are passed in place; others are sampled once
// into a scratch row and reused while consecutive rows share a source row.
// Rows are handed out in bands over the cores, so op must touch only the
// row it is given.
template <typename Op>
void forEachSampledRow(const Kernels& k, const Bitmap& dst, const Bitmap& src, const Mapping& m, const RowPlan& plan,
                       Op op)
{
    inBands(k, std::int64_t(m.x.count()) * m.y.count(), m.y.count(), [&](int first, int last) {
        std::vector<Pixel> scratch(plan.shape == Shape::Straight ? 0 : std::size_t(m.x.count()));
        int sampledRow = -1;
        for (int r = first; r < last; ++r) {
            const int sy = m.y.source[std::size_t(r)];
            const Pixel* row = src.row(sy);
            const Pixel* sampled = row + m.x.source[0];
            if (plan.shape != Shape::Straight) {
                if (sy != sampledRow)
                    sampleRow(k, plan, scratch.data(), row, m.x, false);
                sampledRow = sy;
                sampled = scratch.data();
            }
            op(r, dst.row(m.y.first + r) + m.x.first, sampled, m.x.count());
        }
    });
}

void stretchCopy(const Kernels& k, const Bitmap& dst, const Bitmap& src, const Mapping& m)
{
    const bool stream = streams(m);
    const RowPlan plan = classify(m.x.source);
    bool repeats = false;
    for (int r = 1; r < m.y.count() && !repeats; ++r)
        repeats = m.y.source[std::size_t(r)] == m.y.source[std::size_t(r - 1)];
    if (repeats && plan.shape != Shape::Straight) {
        forEachSampledRow(k, dst, src, m, plan, [&](int, Pixel* d, const Pixel* s, int n) { k.copy(d, s, n, stream); });
    } else {
        inBands(k, std::int64_t(m.x.count()) * m.y.count(), m.y.count(), [&](int first, int last) {
            for (int r = first; r < last; ++r)
                sampleRow(k, plan, dst.row(m.y.first + r) + m.x.first, src.row(m.y.source[std::size_t(r)]), m.x,
                          stream);
        });
    }
}

// dst becomes under, of the same size, with op drawing the mapped
// rectangle from the sampled source and under: every pixel is read from
// under once and written once (streamed past the cache when dst is larger
// than it). Rows and columns outside the rectangle are plain copies.
template <typename Op>
void drawOver(const Kernels& k, const Bitmap& dst, const Bitmap& under, const Bitmap& src, const Mapping& m, Op op)
{
    const bool stream = std::int64_t(dst.width) * dst.height * std::int64_t(sizeof(Pixel)) >= kStreamBytes;
    const int top = m.y.first, bottom = m.y.first + m.y.count(), left = m.x.first, right = m.x.first + m.x.count();
    inBands(k, std::int64_t(dst.width) * dst.height, dst.height, [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            const bool drawn = y >= top && y < bottom;
            k.copy(dst.row(y), under.row(y), drawn ? left : dst.width, stream);
            if (drawn)
                k.copy(dst.row(y) + right, under.row(y) + right, dst.width - right, stream);
        }
    });
    forEachSampledRow(k, dst, src, m, classify(m.x.source),
                      [&](int r, Pixel* d, const Pixel* s, int n) { op(d, s, under.row(top + r) + left, n, stream); });
}

}  // namespace

void setImplementation(Implementation impl)
{
    chosen.store(impl, std::memory_order_relaxed);
}

Implementation activeImplementation()
{
    const Implementation impl = chosen.load(std::memory_order_relaxed);
    if (impl == Implementation::Reference || impl == Implementation::Generic)
        return impl;
    return detail::avx2Kernels() ? Implementation::Avx2 : Implementation::Generic;
}

bool avx2Supported()
{
    return detail::avx2Kernels() != nullptr;
}

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

namespace {

detail::SoftKeyRow softKeyRow(const SoftKey& key)
{
    return {fromColorRef(key.colour), key.inner, key.outer};
}

}  // namespace

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
    const detail::SoftKeyRow row = softKeyRow(key);
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
    const detail::SoftKeyRow row = softKeyRow(key);
    drawOver(*k, dst, under, src, m,
             [&](Pixel* d, const Pixel* s, const Pixel* u, int n, bool stream) { k->softKey(d, s, u, n, row, stream); });
    return true;
}

namespace {

// Destination rows [first, last) of an area reduction.
void reduceRows(const Kernels& k, const Bitmap& dst, const Bitmap& src, const detail::AreaSpans& xs,
                const detail::AreaSpans& ys, int first, int last)
{
    std::vector<std::uint32_t> scratch(4 * std::size_t(src.width));
    std::vector<const Pixel*> rows;
    for (int j = first; j < last; ++j) {
        const int top = ys.first[std::size_t(j)], count = ys.count[std::size_t(j)];
        rows.clear();
        for (int r = 0; r < count; ++r)
            rows.push_back(src.row(top + r));
        k.reduceRow(dst.row(j), rows.data(), ys.weights(std::size_t(j)), count, src.width,
                    std::uint32_t(ys.source), xs, scratch.data());
    }
}

}  // namespace

bool ReduceArea(const Bitmap& dst, const Bitmap& src)
{
    const Kernels* k = kernels();
    if (dst.empty() || src.empty() || dst.width > src.width || dst.height > src.height)
        return false;
    // The kernels' integer sums fit their lanes only within these bounds;
    // beyond them (a picture millions of rows tall) the plain definition
    // does the work.
    const bool fits = dst.height < (1 << 15) && src.height < (1 << 23) &&
                      double(src.width) * double(src.height) < double(std::int64_t(1) << 45);
    if (!k || !fits)
        return reference::ReduceArea(dst, src);
    const detail::AreaSpans xs(src.width, dst.width, detail::AreaSpans::Layouts::ForColumns);
    const detail::AreaSpans ys(src.height, dst.height);
    // A photo is read from memory faster by every core at once. The
    // destination rows are split into a few bands per core, taken in turn
    // by whichever core is free: one that is slow or busy elsewhere then
    // leaves its share to the others.
    const int bands = std::int64_t(src.width) * src.height >= kBandedPixels
                          ? std::min(kBandsPerCore * detail::availableBands(), dst.height)
                          : 1;
    detail::runBands(bands, [&](int b) {
        reduceRows(*k, dst, src, xs, ys, dst.height * b / bands, dst.height * (b + 1) / bands);
    });
    return true;
}

void PackBgr24(std::uint8_t* out, const Pixel* in, int n)
{
    const Kernels* k = kernels();
    (k ? *k : detail::genericKernels()).packBgr24(out, in, n);
}

void UnpackBgr24(Pixel* out, const std::uint8_t* in, int n)
{
    const Kernels* k = kernels();
    (k ? *k : detail::genericKernels()).unpackBgr24(out, in, n);
}

ColorRef GetPixel(const Bitmap& src, int x, int y)
{
    // One unsigned comparison per axis also refuses negative coordinates.
    if (unsigned(x) >= unsigned(src.width) || unsigned(y) >= unsigned(src.height) || !src.pixels)
        return CLR_INVALID;
    return toColorRef(src.row(y)[x]);
}

}  // namespace tarvex::raster
