// AVX2 turns: blocks of 8 x 8 pixels transposed in registers, for pictures
// a camera stored on their side.
#include "kernels_avx2.h"

#include <algorithm>

#ifdef TARVEX_HAS_AVX2_KERNELS
TARVEX_AVX2_BEGIN

namespace tarvex::raster::detail::avx2 {

namespace {

// Rows r[0..7] of eight pixels become columns: r[i] holds what was
// column i.
inline void transpose8(__m256i (&r)[8])
{
    const __m256i t0 = _mm256_unpacklo_epi32(r[0], r[1]), t1 = _mm256_unpackhi_epi32(r[0], r[1]);
    const __m256i t2 = _mm256_unpacklo_epi32(r[2], r[3]), t3 = _mm256_unpackhi_epi32(r[2], r[3]);
    const __m256i t4 = _mm256_unpacklo_epi32(r[4], r[5]), t5 = _mm256_unpackhi_epi32(r[4], r[5]);
    const __m256i t6 = _mm256_unpacklo_epi32(r[6], r[7]), t7 = _mm256_unpackhi_epi32(r[6], r[7]);
    const __m256i u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
    const __m256i u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
    const __m256i u4 = _mm256_unpacklo_epi64(t4, t6), u5 = _mm256_unpackhi_epi64(t4, t6);
    const __m256i u6 = _mm256_unpacklo_epi64(t5, t7), u7 = _mm256_unpackhi_epi64(t5, t7);
    r[0] = _mm256_permute2x128_si256(u0, u4, 0x20);
    r[1] = _mm256_permute2x128_si256(u1, u5, 0x20);
    r[2] = _mm256_permute2x128_si256(u2, u6, 0x20);
    r[3] = _mm256_permute2x128_si256(u3, u7, 0x20);
    r[4] = _mm256_permute2x128_si256(u0, u4, 0x31);
    r[5] = _mm256_permute2x128_si256(u1, u5, 0x31);
    r[6] = _mm256_permute2x128_si256(u2, u6, 0x31);
    r[7] = _mm256_permute2x128_si256(u3, u7, 0x31);
}

// The 8 x 8 tile of d at (x0, y0), from s: rows of s are columns of d.
inline void loadTile(__m256i (&r)[8], const Pixel* s, std::ptrdiff_t sRowStep, bool reversed, int x0, int y0)
{
    const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
    for (int i = 0; i < kLanes; ++i) {
        const Pixel* row = s + (x0 + i) * sRowStep;
        r[i] = reversed ? _mm256_permutevar8x32_epi32(load(row - y0 - 7), reverse) : load(row + y0);
    }
    transpose8(r);
}

// The widest band of d transposed through a staging buffer.
constexpr int kStagedWidth = 256;

// A band of d no wider than kStagedWidth, as a photo decoded in strips is
// turned strip by strip: each row of d gets only a short run of pixels per
// band, so eight rows at a time are transposed into a buffer the cache
// holds and then streamed out whole, past the cache. Written in place, a
// short run costs a read of its lines from memory before they are
// overwritten, which took longer than the transposing.
void transposeNarrow(Pixel* d, std::ptrdiff_t dStride, const Pixel* s, std::ptrdiff_t sRowStep, bool reversed, int w,
                     int h)
{
    const std::ptrdiff_t step = reversed ? -1 : 1;
    const int fullW = w - w % kLanes;
    alignas(32) Pixel staged[kLanes][kStagedWidth];
    for (int y0 = 0; y0 < h; y0 += kLanes) {
        const int rows = std::min(kLanes, h - y0);
        if (rows == kLanes) {
            for (int x0 = 0; x0 < fullW; x0 += kLanes) {
                __m256i r[8];
                loadTile(r, s, sRowStep, reversed, x0, y0);
                for (int i = 0; i < kLanes; ++i)
                    _mm256_store_si256(reinterpret_cast<__m256i*>(&staged[i][x0]), r[i]);
            }
        }
        for (int i = 0; i < rows; ++i)
            for (int x = rows == kLanes ? fullW : 0; x < w; ++x)
                staged[i][x] = s[x * sRowStep + (y0 + i) * step];
        for (int i = 0; i < rows; ++i) {
            const Pixel* from = staged[i];
            forRow(d + (y0 + i) * dStride, w, true, [&](int k) { return load(from + k); }, [&](int k) {
                d[(y0 + i) * dStride + k] = from[k];
            });
        }
    }
    _mm_sfence();  // the streamed rows seen by other threads before the band is reported done
}

}  // namespace

void transposeBlock(Pixel* d, std::ptrdiff_t dStride, const Pixel* s, std::ptrdiff_t sRowStep, bool reversed, int w,
                    int h)
{
    const std::ptrdiff_t step = reversed ? -1 : 1;
    const int fullW = w - w % kLanes, fullH = h - h % kLanes;
    if (w <= kStagedWidth) {
        transposeNarrow(d, dStride, s, sRowStep, reversed, w, h);
        return;
    }
    // Eight rows of d at a time, tile by tile across.
    for (int y0 = 0; y0 < fullH; y0 += kLanes) {
        for (int x0 = 0; x0 < fullW; x0 += kLanes) {
            __m256i r[8];
            loadTile(r, s, sRowStep, reversed, x0, y0);
            for (int i = 0; i < kLanes; ++i)
                store(d + (y0 + i) * dStride + x0, r[i]);
        }
        for (int y = y0; y < y0 + kLanes; ++y)
            for (int x = fullW; x < w; ++x)
                d[y * dStride + x] = s[x * sRowStep + y * step];
    }
    for (int y = fullH; y < h; ++y)
        for (int x = 0; x < w; ++x)
            d[y * dStride + x] = s[x * sRowStep + y * step];
}

}  // namespace tarvex::raster::detail::avx2

TARVEX_AVX2_END
#endif
