#pragma once
// The one definition of which source pixels, and how much of each, a
// destination pixel covers when a picture is reduced by area averaging.
// Shared by the reference and the fast paths so that they agree exactly.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

namespace tarvex::raster::detail {

// One axis of a reduction from `sourceLength` pixels to `targetLength`
// pixels (target <= source). With g their greatest common divisor, source
// = sourceLength / g and target = targetLength / g; measured in units of
// the axis's length / (sourceLength * target), source pixel x spans
// [x * target, (x + 1) * target) and destination pixel i spans
// [i * source, (i + 1) * source), so every overlap is a whole number: each
// destination pixel's weights add up to `source`, and a source pixel that
// it covers wholly weighs `target`. Dividing out g keeps the weights, and
// so the sums, as small as the lengths allow without changing any mean.
struct AreaSpans {
    // The vector paths weigh columns from the padded layouts below; rows
    // and the plain definition need only the weights themselves.
    enum class Layouts { WeightsOnly, ForColumns };

    std::int64_t source = 0, target = 0;
    std::vector<std::int32_t> first;   // first source pixel of destination i
    std::vector<std::int32_t> count;   // how many source pixels it covers
    std::vector<std::int32_t> offset;  // where its weights start in `weight`
    std::vector<std::int32_t> weight;
    // The same weights padded with zeros to `taps` per destination pixel,
    // starting at source pixel start[i] <= first[i], so that a vector path
    // runs one fixed loop for every pixel without leaving the row. `taps`
    // is even unless the row is shorter than that.
    int taps = 0;
    std::vector<std::int32_t> start;
    std::vector<std::int32_t> padded;
    // For a path that takes two taps in one multiply-add: the padded
    // weights of taps 2u and 2u + 1 as one word, the first in the low 16
    // bits, for destination pixels 2p and 2p + 1 side by side at
    // [(p * taps / 2 + u) * 2 + (i & 1)] (an odd last pixel repeats). Only
    // whole when every weight is below 2^15.
    std::vector<std::int32_t> tapPairs;
    // For a path that weighs a pixel's columns straight from its bytes:
    // `byteChunks` chunks of four taps from byteStart[i] (byteStart[i] +
    // 4 * byteChunks never passes the row's end), each chunk 16 signed
    // bytes that hold taps 4k + 2q and 4k + 2q + 1 of pair q side by side,
    // once per channel. Destination pixels 2p and 2p + 1 lie side by side
    // at byteWeights[((p * byteChunks + k) * 2 + (i & 1)) * 16] (an odd
    // last pixel repeats). Made only where two weighed bytes fit a signed
    // 16-bit lane (target <= 64), a channel's sum an unsigned one (source
    // <= 257), and a pixel spans at most 16 taps; byteChunks is 0 otherwise.
    int byteChunks = 0;
    std::vector<std::int32_t> byteStart;
    std::vector<std::int8_t> byteWeights;

    AreaSpans(int sourceLength, int targetLength, Layouts layouts = Layouts::WeightsOnly)
    {
        const std::int64_t g = std::gcd(std::int64_t(sourceLength), std::int64_t(targetLength));
        source = sourceLength / g;
        target = targetLength / g;
        first.reserve(std::size_t(targetLength));
        count.reserve(std::size_t(targetLength));
        offset.reserve(std::size_t(targetLength));
        weight.reserve(std::size_t(sourceLength + targetLength));
        for (std::int64_t i = 0; i < targetLength; ++i) {
            const std::int64_t lo = i * source, hi = (i + 1) * source;
            const std::int64_t x0 = lo / target, x1 = (hi - 1) / target;
            first.push_back(std::int32_t(x0));
            count.push_back(std::int32_t(x1 - x0 + 1));
            offset.push_back(std::int32_t(weight.size()));
            for (std::int64_t x = x0; x <= x1; ++x)
                weight.push_back(std::int32_t(std::min((x + 1) * target, hi) - std::max(x * target, lo)));
        }
        if (layouts == Layouts::WeightsOnly)
            return;
        const int widest = count.empty() ? 0 : *std::max_element(count.begin(), count.end());
        pad(sourceLength, widest);
        layBytes(sourceLength, widest);
    }
    const std::int32_t* weights(std::size_t i) const { return weight.data() + offset[i]; }
    const std::int32_t* paddedWeights(std::size_t i) const { return padded.data() + i * std::size_t(taps); }

private:
    void layBytes(int sourceLength, int widest)
    {
        const int chunks = (widest + 3) / 4;
        if (target > 64 || source > 257 || chunks == 0 || chunks > 4 || 4 * chunks > sourceLength)
            return;
        byteChunks = chunks;
        const std::size_t n = first.size(), pairs = (n + 1) / 2;
        byteStart.resize(n);
        byteWeights.assign(pairs * std::size_t(chunks) * 32, 0);
        for (std::size_t i = 0; i < 2 * pairs; ++i) {
            const std::size_t pixel = std::min(i, n - 1);
            const int from = std::max(0, std::min(first[pixel], sourceLength - 4 * chunks));
            if (i < n)
                byteStart[i] = from;
            for (int c = 0; c < count[pixel]; ++c) {
                const int tap = first[pixel] - from + c;
                const std::size_t chunk = std::size_t(tap / 4), pair = std::size_t(tap % 4 / 2);
                std::int8_t* at = byteWeights.data() + (((i / 2) * std::size_t(chunks) + chunk) * 2 + (i & 1)) * 16;
                for (std::size_t channel = 0; channel < 4; ++channel)
                    at[pair * 8 + channel * 2 + std::size_t(tap % 2)] = std::int8_t(weights(pixel)[c]);
            }
        }
    }

    void pad(int sourceLength, int widest)
    {
        taps = std::min(widest + widest % 2, sourceLength);
        start.resize(first.size());
        padded.assign(first.size() * std::size_t(taps), 0);
        for (std::size_t i = 0; i < first.size(); ++i) {
            start[i] = std::max(0, std::min(first[i], sourceLength - taps));
            const int skip = first[i] - start[i];
            std::copy_n(weights(i), count[i], padded.begin() + std::ptrdiff_t(i * std::size_t(taps) + std::size_t(skip)));
        }
        if (taps % 2 != 0)
            return;
        const std::size_t pairs = (first.size() + 1) / 2;
        tapPairs.resize(pairs * std::size_t(taps));
        for (std::size_t i = 0; i < 2 * pairs; ++i) {
            const std::int32_t* w = paddedWeights(std::min(i, first.size() - 1));
            for (int u = 0; u < taps / 2; ++u)
                tapPairs[((i / 2) * std::size_t(taps / 2) + std::size_t(u)) * 2 + (i & 1)] =
                    std::int32_t(std::uint32_t(w[2 * u + 1]) << 16 | std::uint32_t(w[2 * u] & 0xffff));
        }
    }
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
