// AVX2 row kernels, compiled for AVX2 whatever the rest of the build targets
// and chosen at run time only on processors that have it.
#include "kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include <cstdint>
#include <cstring>

// Everything below, lambdas included, is compiled for AVX2; the headers
// above are not, so no inline function they define gets AVX2 code.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

namespace tarvex::raster::detail {
namespace {

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

void copyRow(Pixel* d, const Pixel* s, int n, bool stream)
{
    if (d < s + n && s < d + n) {
        std::memmove(d, s, static_cast<std::size_t>(n) * sizeof(Pixel));
        return;
    }
    forRow(d, n, stream, [&](int k) { return load(s + k); }, [&](int k) { d[k] = s[k]; });
}

void mirrorRow(Pixel* d, const Pixel* s, int n, bool stream)
{
    const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
    if (!stream) {
        forRow(
            d, n, false, [&](int k) { return _mm256_permutevar8x32_epi32(load(s - k - 7), reverse); },
            [&](int k) { d[k] = s[-k]; });
        return;
    }
    // A row of a picture far larger than the cache is walked from its far
    // end: the source is then read forwards, which the processor
    // prefetches far better than a backward read.
    int hi = n;
    while (hi > 0 && (reinterpret_cast<std::uintptr_t>(d + hi) & 31u) != 0) {
        --hi;
        d[hi] = s[-hi];
    }
    for (; hi >= kLanes; hi -= kLanes)
        streamStore(d + hi - kLanes, _mm256_permutevar8x32_epi32(load(s - hi + 1), reverse));
    while (hi > 0) {
        --hi;
        d[hi] = s[-hi];
    }
}

void up2Row(Pixel* d, const Pixel* s, int n, int phase, bool stream)
{
    int k = 0;
    if (phase == 1 && n > 0) {
        d[0] = s[0];
        k = 1;
        ++s;
    }
    Pixel* out = d + k;
    const int m = n - k;
    // out[j] = s[j / 2]: 4 source pixels make 8 destination pixels.
    const __m256i spread = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3);
    forRow(
        out, m, stream,
        [&](int j) {
            const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + j / 2));
            return _mm256_permutevar8x32_epi32(_mm256_castsi128_si256(four), spread);
        },
        [&](int j) { out[j] = s[j / 2]; });
}

void down2Row(Pixel* d, const Pixel* s, int n, bool stream)
{
    if (n <= 0)
        return;
    // A vector for d[k..k+7] loads s[2k..2k+15]; leaving the last pixel to
    // scalar code keeps every load at or before s[2n - 2], the last sample.
    const __m256i evens = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    forRow(
        d, n - 1, stream,
        [&](int k) {
            const __m256i a = _mm256_permutevar8x32_epi32(load(s + 2 * k), evens);
            const __m256i b = _mm256_permutevar8x32_epi32(load(s + 2 * k + 8), evens);
            return _mm256_permute2x128_si256(a, b, 0x20);
        },
        [&](int k) { d[k] = s[2 * k]; });
    d[n - 1] = s[2 * (n - 1)];
}

void gatherRow(Pixel* d, const Pixel* row, const std::int32_t* index, int n)
{
    int k = 0;
    for (; k + 4 <= n; k += 4) {
        const Pixel a = row[index[k]], b = row[index[k + 1]];
        const Pixel c = row[index[k + 2]], e = row[index[k + 3]];
        d[k] = a;
        d[k + 1] = b;
        d[k + 2] = c;
        d[k + 3] = e;
    }
    for (; k < n; ++k)
        d[k] = row[index[k]];
}

inline __m256i blend8(__m256i s, __m256i d, __m256i a, __m256i na)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i bias = _mm256_set1_epi16(128);
    const __m256i m257 = _mm256_set1_epi16(257);
    auto half = [&](__m256i sh, __m256i dh) {
        __m256i v = _mm256_add_epi16(_mm256_mullo_epi16(sh, a), _mm256_mullo_epi16(dh, na));
        return _mm256_mulhi_epu16(_mm256_add_epi16(v, bias), m257);
    };
    const __m256i lo = half(_mm256_unpacklo_epi8(s, zero), _mm256_unpacklo_epi8(d, zero));
    const __m256i hi = half(_mm256_unpackhi_epi8(s, zero), _mm256_unpackhi_epi8(d, zero));
    return _mm256_packus_epi16(lo, hi);
}

void blendRow(Pixel* d, const Pixel* s, int n, unsigned alpha)
{
    const __m256i a = _mm256_set1_epi16(static_cast<short>(alpha));
    const __m256i na = _mm256_set1_epi16(static_cast<short>(255 - alpha));
    int k = 0;
    for (; k + kLanes <= n; k += kLanes)
        store(d + k, blend8(load(s + k), load(d + k), a, na));
    if (k < n) {
        // The tail goes through a small buffer so no vector touches memory
        // outside the row.
        alignas(32) Pixel sb[kLanes] = {}, db[kLanes] = {};
        const int rest = n - k;
        std::memcpy(sb, s + k, rest * sizeof(Pixel));
        std::memcpy(db, d + k, rest * sizeof(Pixel));
        store(db, blend8(load(sb), load(db), a, na));
        std::memcpy(d + k, db, rest * sizeof(Pixel));
    }
}

void keyRow(Pixel* d, const Pixel* s, int n, Pixel keyRgb)
{
    const __m256i key = _mm256_set1_epi32(static_cast<int>(keyRgb));
    const __m256i rgb = _mm256_set1_epi32(0x00ffffff);
    int k = 0;
    for (; k + kLanes <= n; k += kLanes) {
        const __m256i sv = load(s + k);
        const __m256i see = _mm256_cmpeq_epi32(_mm256_and_si256(sv, rgb), key);
        const int mask = _mm256_movemask_epi8(see);
        if (mask == -1)
            continue;  // all see-through: the destination stays untouched
        store(d + k, mask == 0 ? sv : _mm256_blendv_epi8(sv, load(d + k), see));
    }
    for (; k < n; ++k)
        if ((s[k] & 0x00ffffffu) != keyRgb)
            d[k] = s[k];
}

void fence()
{
    _mm_sfence();
}

}  // namespace

const Kernels& avx2KernelTable()
{
    static const Kernels kernels{copyRow, mirrorRow, up2Row, down2Row, gatherRow, blendRow, keyRow, fence};
    return kernels;
}

}  // namespace tarvex::raster::detail

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif
