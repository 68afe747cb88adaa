#pragma once
// The one definition of which source pixels, and how much of each, a
// destination pixel covers when a picture is reduced by area averaging.
// Shared by the reference and the fast paths so that they agree exactly.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace tarvex::raster::detail {

// One axis of a reduction from `source` pixels to `target` pixels
// (target <= source). Measured in units of 1 / (source * target) of the
// axis, source pixel x spans [x * target, (x + 1) * target) and destination
// pixel i spans [i * source, (i + 1) * source), so every overlap is a whole
// number: each destination pixel's weights add up to `source`, and a source
// pixel that it covers wholly weighs `target`.
struct AreaSpans {
    std::int64_t source = 0, target = 0;
    std::vector<std::int32_t> first;   // first source pixel of destination i
    std::vector<std::int32_t> count;   // how many source pixels it covers
    std::vector<std::int32_t> offset;  // where its weights start in `weight`
    std::vector<std::int32_t> weight;

    AreaSpans(int sourceLength, int targetLength) : source(sourceLength), target(targetLength)
    {
        first.reserve(std::size_t(target));
        count.reserve(std::size_t(target));
        offset.reserve(std::size_t(target));
        weight.reserve(std::size_t(source + target));
        for (std::int64_t i = 0; i < target; ++i) {
            const std::int64_t lo = i * source, hi = (i + 1) * source;
            const std::int64_t x0 = lo / target, x1 = (hi - 1) / target;
            first.push_back(std::int32_t(x0));
            count.push_back(std::int32_t(x1 - x0 + 1));
            offset.push_back(std::int32_t(weight.size()));
            for (std::int64_t x = x0; x <= x1; ++x)
                weight.push_back(std::int32_t(std::min((x + 1) * target, hi) - std::max(x * target, lo)));
        }
    }
    const std::int32_t* weights(std::size_t i) const { return weight.data() + offset[i]; }
};

// A channel's weighted sum over the covered area, divided by the area's
// total weight and rounded to nearest, halves up. Sums and totals are
// whole numbers below 2^53, so every path that computes the same sum gets
// the same channel value.
inline std::uint32_t roundedMean(double sum, double total)
{
    return std::uint32_t(std::floor(sum / total + 0.5));
}

}  // namespace tarvex::raster::detail
