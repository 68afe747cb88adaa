#pragma once
// What the AVX2 kernel families share: the switch that compiles a stretch
// of code for AVX2, loads and stores of eight pixels, the row walker, and
// exact division of sums. Each family's file compiles for AVX2 whatever the
// rest of the build targets; only processors that have it run them.
#include "kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#define TARVEX_HAS_AVX2_KERNELS 1
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

// Code between the two marks, lambdas included, is compiled for AVX2. A
// file includes every header it needs before the first mark, so no inline
// function of a shared header gets AVX2 code.
#if defined(__clang__)
#define TARVEX_AVX2_BEGIN _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define TARVEX_AVX2_END _Pragma("clang attribute pop")
#else
#define TARVEX_AVX2_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define TARVEX_AVX2_END _Pragma("GCC pop_options")
#endif

TARVEX_AVX2_BEGIN

namespace tarvex::raster::detail::avx2 {

constexpr int kLanes = 8;

inline __m256i load(const Pixel* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

inline void store(Pixel* p, __m256i v)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

inline void streamStore(Pixel* p, __m256i v)
{
    _mm256_stream_si256(reinterpret_cast<__m256i*>(p), v);
}

// Pixels before the first 32-byte boundary of d, at most n.
inline int headToAlignment(const Pixel* d, int n)
{
    const auto misalign = reinterpret_cast<std::uintptr_t>(d) & 31u;
    const int head = misalign == 0 || (misalign & 3u) != 0 ? 0 : int((32u - misalign) / 4u);
    return head < n ? head : n;
}

// Runs `vec(k)` for every full group of 8 pixels and `one(k)` for the rest.
// With stream set, d is first brought to a 32-byte boundary so the vector
// stores can bypass the cache.
template <typename Vec, typename One>
inline void forRow(Pixel* d, int n, bool stream, Vec vec, One one)
{
    int k = 0;
    if (stream) {
        const int head = headToAlignment(d, n);
        if ((reinterpret_cast<std::uintptr_t>(d + head) & 31u) == 0) {
            for (; k < head; ++k)
                one(k);
            for (; k + kLanes <= n; k += kLanes)
                streamStore(d + k, vec(k));
            for (; k < n; ++k)
                one(k);
            return;
        }
    }
    for (; k + kLanes <= n; k += kLanes)
        store(d + k, vec(k));
    for (; k < n; ++k)
        one(k);
}

// Rounds eight sums to nearest, halves up, by `total` < 2^23: each
// quotient is below 256, so the float estimate is off by at most one and
// the remainder, exact in 32 bits, says which way to step.
inline __m256i roundedMeans(__m256i sum, __m256 reciprocal, __m256i total, __m256i half)
{
    const __m256i n = _mm256_add_epi32(sum, half);
    __m256i q = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(n), reciprocal));
    const __m256i r = _mm256_sub_epi32(n, _mm256_mullo_epi32(q, total));
    q = _mm256_add_epi32(q, _mm256_srai_epi32(r, 31));  // r < 0: one less
    return _mm256_sub_epi32(q, _mm256_cmpgt_epi32(r, _mm256_sub_epi32(total, _mm256_set1_epi32(1))));
}

// 1 / total, rounded up to the next float. Up to kExactEstimateTotal,
// (sum + half) times it lands in [quotient, quotient + 1) even after the
// product's own rounding: the estimate is the quotient, with no remainder
// to check. Beyond, it is off by at most one either way.
constexpr std::uint32_t kExactEstimateTotal = 1 << 14;

inline float reciprocalRoundedUp(std::uint32_t total)
{
    const float r = 1.0f / float(total);
    return double(r) * double(total) < 1.0 ? std::nextafter(r, 2.0f) : r;
}

// Eight sums divided by one total below 2^23, rounded to nearest, halves
// up: by the estimate alone where it is exact, with the remainder check
// beyond.
struct Means {
    __m256 reciprocal;
    __m256i totals, half;
    bool exactEstimate;

    explicit Means(std::uint32_t total)
        : reciprocal(_mm256_set1_ps(reciprocalRoundedUp(total))), totals(_mm256_set1_epi32(int(total))),
          half(_mm256_set1_epi32(int(total / 2))), exactEstimate(total <= kExactEstimateTotal)
    {
    }
    __m256i operator()(__m256i sum) const
    {
        if (exactEstimate)
            return _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_add_epi32(sum, half)), reciprocal));
        return roundedMeans(sum, reciprocal, totals, half);
    }
};

// How far ahead of the columns being summed each row is fetched into the
// cache: a photo's rows are read side by side, more streams than the
// processor's own prefetcher follows. Fetching past a row's end is harmless.
constexpr int kPrefetchAhead = 384;

// The families' row kernels, gathered into one table by kernels_avx2.cpp.
void copyRow(Pixel* d, const Pixel* s, int n, bool stream);
void mirrorRow(Pixel* d, const Pixel* s, int n, bool stream);
void up2Row(Pixel* d, const Pixel* s, int n, int phase, bool stream);
void down2Row(Pixel* d, const Pixel* s, int n, bool stream);
void gatherRow(Pixel* d, const Pixel* row, const std::int32_t* index, int n);
void packBgr24Row(std::uint8_t* out, const Pixel* in, int n);
void unpackBgr24Row(Pixel* out, const std::uint8_t* in, int n);
void transposeBlock(Pixel* d, std::ptrdiff_t dStride, const Pixel* s, std::ptrdiff_t sRowStep, bool reversed, int w,
                    int h);
void fence();
void blendRow(Pixel* d, const Pixel* s, const Pixel* u, int n, unsigned alpha, bool stream);
void overRow(Pixel* d, const Pixel* s, const Pixel* u, int n, unsigned alpha, bool stream);
void keyRow(Pixel* d, const Pixel* s, const Pixel* u, int n, Pixel keyRgb, bool stream);
void softKeyRow(Pixel* d, const Pixel* s, const Pixel* u, int n, const SoftKeyRow& key, bool stream);
void reduceRowAt(Pixel* d, const Pixel* const* rows, const std::int32_t* weights, int count, int width,
                 std::uint32_t rowTotal, const AreaSpans& columns, std::uint32_t* scratch);
// The area reduction's short path, for sums that fit 16-bit lanes: false,
// doing nothing, when they would not.
bool reduceRowShort(Pixel* d, const Pixel* const* rows, const std::int32_t* weights, int count, int width,
                    std::uint32_t rowTotal, const AreaSpans& columns, std::uint32_t* scratch);

}  // namespace tarvex::raster::detail::avx2

TARVEX_AVX2_END
#endif
