#pragma once
// Shared by the fast paths of the primitives: which kernels run, and how a
// mapped rectangle's rows are handed to them. A rectangle is clipped once
// per axis into a table of source coordinates; the common shapes of that
// table (straight, mirrored, doubled, halved) are recognised, and whole
// rows go to the kernels, in bands over the cores when they are many.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "bands.h"
#include "kernels.h"
#include "raster.h"
#include "sampling.h"

namespace tarvex::raster::detail {

// Writes larger than this bypass the cache: the destination would not fit
// in it anyway, and streaming saves reading every line before writing it.
// Below it, streaming only throws away lines the next operation will read
// (a full-HD picture, 8 MB, is copied twice as fast through the cache).
constexpr std::int64_t kStreamBytes = std::int64_t(16) << 20;

// The kernels chosen by setImplementation; null for the reference path.
const Kernels* kernels();

enum class Shape { Straight, Mirrored, Doubled, Halved, Other };

struct RowPlan {
    Shape shape = Shape::Other;
    int phase = 0;  // Doubled: 1 when the first source pixel is used once
};

// The shape of a column table.
RowPlan classify(const std::vector<std::int32_t>& t);

// Fills n destination pixels from one source row as the column table says.
void sampleRow(const Kernels& k, const RowPlan& plan, Pixel* d, const Pixel* row, const AxisMap& mx,
               bool stream);

struct Mapping {
    AxisMap x, y;
    bool empty() const { return x.count() == 0 || y.count() == 0; }
};

Mapping mapRect(const Bitmap& dst, const Axis& ax, const Axis& ay, const Bitmap& src);

// Whether a drawing of the mapping is large enough to stream past the cache.
bool streams(const Mapping& m);

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

// A stretched copy of the mapped rectangle.
void stretchCopy(const Kernels& k, const Bitmap& dst, const Bitmap& src, const Mapping& m);

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

}  // namespace tarvex::raster::detail
