// The area-averaged reduction, 24-bit row packing and the pixel read.
#include <algorithm>
#include <vector>

#include "area.h"
#include "dispatch.h"

namespace tarvex::raster {

using namespace detail;

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
