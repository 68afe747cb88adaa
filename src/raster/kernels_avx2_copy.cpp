// AVX2 copies: straight, mirrored, doubled, halved and gathered rows, and
// rows to and from 24-bit BMP order.
#include "kernels_avx2.h"

#ifdef TARVEX_HAS_AVX2_KERNELS
TARVEX_AVX2_BEGIN

namespace tarvex::raster::detail::avx2 {

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

// Eight pixels become 24 bytes: each 128-bit lane drops its alpha bytes
// and packs its 12 bytes to the front, then the two lanes' bytes are joined.
// A store writes 32 bytes, so vectors run while 8 more bytes past the 24
// belong to later pixels; the last few pixels go one by one.
void packBgr24Row(std::uint8_t* out, const Pixel* in, int n)
{
    const __m256i drop = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                                          0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    int x = 0;
    for (; x + 11 <= n; x += 8, out += 24) {
        const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(load(in + x), drop), join);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), packed);
    }
    for (; x < n; ++x, out += 3) {
        out[0] = std::uint8_t(in[x]);
        out[1] = std::uint8_t(in[x] >> 8);
        out[2] = std::uint8_t(in[x] >> 16);
    }
}

void unpackBgr24Row(Pixel* out, const std::uint8_t* in, int n)
{
    // 24 bytes make 8 pixels: bytes 0..15 go to the low half and 12..27 to
    // the high one, so the same byte shuffle spreads both.
    const __m256i halves = _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6);
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,  //
                                            0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m256i opaque = _mm256_set1_epi32(int(0xff000000u));
    int x = 0;
    // A load of 32 bytes from 3x stays inside the 3n bytes while x + 11 <= n.
    for (; x + 11 <= n; x += 8, in += 24) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
        const __m256i pixels = _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(bytes, halves), spread);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), _mm256_or_si256(pixels, opaque));
    }
    for (; x < n; ++x, in += 3)
        out[x] = 0xff000000u | Pixel(in[2]) << 16 | Pixel(in[1]) << 8 | in[0];
}

void fence()
{
    _mm_sfence();
}

}  // namespace tarvex::raster::detail::avx2

TARVEX_AVX2_END
#endif
