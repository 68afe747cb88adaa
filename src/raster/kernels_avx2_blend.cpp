// AVX2 blends: a constant opacity, and source-over by the source's own
// premultiplied alpha.
#include "kernels_avx2.h"

#ifdef TARVEX_HAS_AVX2_KERNELS
TARVEX_AVX2_BEGIN

namespace tarvex::raster::detail::avx2 {

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

void blendRow(Pixel* d, const Pixel* s, const Pixel* u, int n, unsigned alpha, bool stream)
{
    const __m256i a = _mm256_set1_epi16(static_cast<short>(alpha));
    const __m256i na = _mm256_set1_epi16(static_cast<short>(255 - alpha));
    if (stream && u != d) {
        forRow(
            d, n, true, [&](int k) { return blend8(load(s + k), load(u + k), a, na); },
            [&](int k) { blendRow(d + k, s + k, u + k, 1, alpha, false); });
        return;
    }
    int k = 0;
    for (; k + kLanes <= n; k += kLanes)
        store(d + k, blend8(load(s + k), load(u + k), a, na));
    if (k < n) {
        // The tail goes through a small buffer so no vector touches memory
        // outside the row.
        alignas(32) Pixel sb[kLanes] = {}, db[kLanes] = {};
        const int rest = n - k;
        std::memcpy(sb, s + k, rest * sizeof(Pixel));
        std::memcpy(db, u + k, rest * sizeof(Pixel));
        store(db, blend8(load(sb), load(db), a, na));
        std::memcpy(d + k, db, rest * sizeof(Pixel));
    }
}

// 255 minus each pixel's alpha, in all four of its bytes.
inline __m256i inverseAlphas(__m256i s)
{
    const __m256i spread = _mm256_setr_epi8(3, 3, 3, 3, 7, 7, 7, 7, 11, 11, 11, 11, 15, 15, 15, 15,  //
                                            3, 3, 3, 3, 7, 7, 7, 7, 11, 11, 11, 11, 15, 15, 15, 15);
    return _mm256_xor_si256(_mm256_shuffle_epi8(s, spread), _mm256_set1_epi8(-1));
}

// Source-over at full opacity: s + round(u * (255 - sa) / 255) in every
// channel, saturated, in 16-bit lanes.
inline __m256i over8(__m256i s, __m256i u)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i bias = _mm256_set1_epi16(128);
    const __m256i m257 = _mm256_set1_epi16(257);
    const __m256i na = inverseAlphas(s);
    auto half = [&](__m256i uh, __m256i nah) {
        return _mm256_mulhi_epu16(_mm256_add_epi16(_mm256_mullo_epi16(uh, nah), bias), m257);
    };
    const __m256i lo = half(_mm256_unpacklo_epi8(u, zero), _mm256_unpacklo_epi8(na, zero));
    const __m256i hi = half(_mm256_unpackhi_epi8(u, zero), _mm256_unpackhi_epi8(na, zero));
    return _mm256_adds_epu8(s, _mm256_packus_epi16(lo, hi));
}

// What eight source pixels at full opacity need: nothing where all are
// clear (the destination stays), a copy where all are opaque, else the
// arithmetic. A frame is mostly one or the other.
enum class Cover { Clear, Opaque, Mixed };

inline Cover coverOf(__m256i s)
{
    const __m256i alphas = _mm256_set1_epi32(int(0xff000000u));
    if (_mm256_testz_si256(s, s))
        return Cover::Clear;
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_and_si256(s, alphas), alphas)) == -1)
        return Cover::Opaque;
    return Cover::Mixed;
}

inline __m256i overOrCopy8(__m256i s, __m256i u)
{
    switch (coverOf(s)) {
    case Cover::Clear: return u;
    case Cover::Opaque: return s;
    case Cover::Mixed: break;
    }
    return over8(s, u);
}

// Source-over at a constant opacity a below 255, two pixels per vector of
// 32-bit lanes: round((255 * s * a + u * (65025 - sa * a)) / 65025), the
// division exact through the remainder check of roundedMeans.
struct OverAt {
    __m256i sa255, full, half, total, spread;
    __m256 reciprocal;
    __m256i alpha;

    explicit OverAt(unsigned a)
        : sa255(_mm256_set1_epi32(int(255 * a))), full(_mm256_set1_epi32(65025)), half(_mm256_set1_epi32(32512)),
          total(full), spread(_mm256_setr_epi8(12, -1, -1, -1, 12, -1, -1, -1, 12, -1, -1, -1, 12, -1, -1, -1,  //
                                               12, -1, -1, -1, 12, -1, -1, -1, 12, -1, -1, -1, 12, -1, -1, -1)),
          reciprocal(_mm256_set1_ps(reciprocalRoundedUp(65025))), alpha(_mm256_set1_epi32(int(a)))
    {
    }
    // Pixels s[0..1] over u[0..1]: their eight channels as 32-bit lanes
    // (each pixel's alpha is its fourth lane, byte 12 of its half).
    __m256i two(const Pixel* s, const Pixel* u) const
    {
        const __m128i sb = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s));
        const __m256i sc = _mm256_cvtepu8_epi32(sb);
        const __m256i uc = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u)));
        const __m256i sa = _mm256_shuffle_epi8(_mm256_cvtepu8_epi32(sb), spread);
        const __m256i weight = _mm256_sub_epi32(full, _mm256_mullo_epi32(sa, alpha));
        const __m256i sum = _mm256_add_epi32(_mm256_mullo_epi32(sc, sa255), _mm256_mullo_epi32(uc, weight));
        return roundedMeans(sum, reciprocal, total, half);
    }
    // Eight pixels, saturated to bytes, in order.
    __m256i eight(const Pixel* s, const Pixel* u) const
    {
        const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
        const __m256i a = _mm256_packus_epi32(two(s, u), two(s + 2, u + 2));
        const __m256i b = _mm256_packus_epi32(two(s + 4, u + 4), two(s + 6, u + 6));
        return _mm256_permutevar8x32_epi32(_mm256_packus_epi16(a, b), order);
    }
};

void overRow(Pixel* d, const Pixel* s, const Pixel* u, int n, unsigned alpha, bool stream)
{
    // Pieces shorter than a vector go through small buffers, so no vector
    // reads or writes memory outside the row.
    const auto piece = [&](int k, int count, auto eight) {
        alignas(32) Pixel sb[kLanes] = {}, ub[kLanes] = {};
        std::memcpy(sb, s + k, std::size_t(count) * sizeof(Pixel));
        std::memcpy(ub, u + k, std::size_t(count) * sizeof(Pixel));
        store(ub, eight(sb, ub));
        std::memcpy(d + k, ub, std::size_t(count) * sizeof(Pixel));
    };
    const auto run = [&](auto eight, bool streamed) {
        int k = 0;
        const int head = streamed ? headToAlignment(d, n) : 0;
        if (streamed && (reinterpret_cast<std::uintptr_t>(d + head) & 31u) == 0) {
            if (head > 0)
                piece(0, head, eight);
            for (k = head; k + kLanes <= n; k += kLanes)
                streamStore(d + k, eight(s + k, u + k));
        } else {
            for (; k + kLanes <= n; k += kLanes)
                store(d + k, eight(s + k, u + k));
        }
        if (k < n)
            piece(k, n - k, eight);
    };
    const bool streamed = stream && u != d;
    if (alpha == 255 && u == d) {
        // In place, a clear group leaves the destination as it is: not even
        // written, so a frame's window costs only the reading of the frame.
        // (Streaming these writes past the cache measured no faster: the
        // skipped groups leave the streamed lines part-written.)
        int k = 0;
        for (; k + kLanes <= n; k += kLanes) {
            const __m256i sv = load(s + k);
            const Cover cover = coverOf(sv);
            if (cover != Cover::Clear)
                store(d + k, cover == Cover::Opaque ? sv : over8(sv, load(d + k)));
        }
        if (k < n)
            piece(k, n - k, [&](const Pixel* sp, const Pixel* up) { return overOrCopy8(load(sp), load(up)); });
        return;
    }
    if (alpha == 255) {
        run([&](const Pixel* sp, const Pixel* up) { return overOrCopy8(load(sp), load(up)); }, streamed);
        return;
    }
    const OverAt at(alpha);
    run([&at](const Pixel* sp, const Pixel* up) { return at.eight(sp, up); }, streamed);
}

}  // namespace tarvex::raster::detail::avx2

TARVEX_AVX2_END
#endif
