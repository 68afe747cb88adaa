#pragma once
// The one definition of which source coordinate a destination coordinate
// samples, shared by the reference and the fast paths. All arithmetic is
// 64-bit, so no rectangle can overflow it.
#include <cstdint>
#include <vector>

namespace tarvex::raster::detail {

// One axis of a stretched operation: destination origin and extent, source
// origin and extent, as the caller passed them.
struct Axis {
    std::int64_t d, dExtent, s, sExtent;

    std::int64_t dLen() const { return dExtent < 0 ? -dExtent : dExtent; }
    std::int64_t sLen() const { return sExtent < 0 ? -sExtent : sExtent; }
    // Lowest destination coordinate the span covers.
    std::int64_t dFirst() const { return dExtent < 0 ? d + dExtent : d; }

    bool covers(std::int64_t c) const { return c >= dFirst() && c < dFirst() + dLen(); }

    // Source coordinate sampled by destination coordinate c (which covers()).
    std::int64_t sample(std::int64_t c) const
    {
        const std::int64_t n = dLen();
        const std::int64_t i = dExtent > 0 ? c - d : d - 1 - c;
        // (2i + 1) < 2^33 and sLen() <= 2^31, so the product fits 64 bits.
        const auto off = static_cast<std::int64_t>(std::uint64_t(2 * i + 1) * std::uint64_t(sLen()) / std::uint64_t(2 * n));
        return sExtent > 0 ? s + off : s - 1 - off;
    }
};

// The destination coordinates of one axis that are inside [0, dstSize) and
// whose sample is inside [0, srcSize): first, count, and the sample of each.
// The samples are monotonic in c, so the valid coordinates are contiguous.
struct AxisMap {
    int first = 0;
    std::vector<std::int32_t> source;
    int count() const { return static_cast<int>(source.size()); }
};

inline AxisMap mapAxis(const Axis& a, int dstSize, int srcSize)
{
    AxisMap map;
    if (a.dExtent == 0 || a.sExtent == 0 || dstSize <= 0 || srcSize <= 0)
        return map;
    std::int64_t lo = a.dFirst() < 0 ? 0 : a.dFirst();
    std::int64_t hi = a.dFirst() + a.dLen();
    if (hi > dstSize)
        hi = dstSize;
    auto valid = [&](std::int64_t c) {
        const std::int64_t s = a.sample(c);
        return s >= 0 && s < srcSize;
    };
    if (lo >= hi)
        return map;
    while (lo < hi && !valid(lo))
        ++lo;
    while (hi > lo && !valid(hi - 1))
        --hi;
    map.first = static_cast<int>(lo);
    map.source.reserve(static_cast<std::size_t>(hi - lo));
    for (std::int64_t c = lo; c < hi; ++c)
        map.source.push_back(static_cast<std::int32_t>(a.sample(c)));
    return map;
}

}  // namespace tarvex::raster::detail
