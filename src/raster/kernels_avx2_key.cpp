// AVX2 colour keys: the exact key, and the soft key (colour to alpha).
#include "kernels_avx2.h"

#ifdef TARVEX_HAS_AVX2_KERNELS
TARVEX_AVX2_BEGIN

namespace tarvex::raster::detail::avx2 {

void keyRow(Pixel* d, const Pixel* s, const Pixel* u, int n, Pixel keyRgb, bool stream)
{
    const __m256i key = _mm256_set1_epi32(static_cast<int>(keyRgb));
    const __m256i rgb = _mm256_set1_epi32(0x00ffffff);
    const bool inPlace = u == d;
    if (stream && !inPlace) {
        forRow(
            d, n, true,
            [&](int k) {
                const __m256i sv = load(s + k);
                return _mm256_blendv_epi8(sv, load(u + k), _mm256_cmpeq_epi32(_mm256_and_si256(sv, rgb), key));
            },
            [&](int k) { d[k] = (s[k] & 0x00ffffffu) != keyRgb ? s[k] : u[k]; });
        return;
    }
    int k = 0;
    for (; k + kLanes <= n; k += kLanes) {
        const __m256i sv = load(s + k);
        const __m256i see = _mm256_cmpeq_epi32(_mm256_and_si256(sv, rgb), key);
        const int mask = _mm256_movemask_epi8(see);
        if (mask == -1 && inPlace)
            continue;  // all see-through: the destination stays untouched
        store(d + k, mask == 0 ? sv : _mm256_blendv_epi8(sv, load(u + k), see));
    }
    for (; k < n; ++k)
        d[k] = (s[k] & 0x00ffffffu) != keyRgb ? s[k] : u[k];
}

// The soft key of eight pixels. Nearly every group of a frame needs no
// arithmetic: its art is opaque and its window see-through, and only the
// window's edge is a mix. Both are told from the channel differences and
// the lean alone: see-through when no channel is past the noise limit,
// opaque when every pixel has a channel at its opaque distance and does
// not lean toward the key's hue.
struct SoftKey8 {
    __m256i key, noiseBytes, opaqueUpLess1, opaqueDownLess1, leanSingle, leanBytes, leanCompared, byteMask,
        byteSpread, zero, bias, m257, m255, full;
    __m256i channelSpread[3];  // channel c of each pixel alone in its 32-bit lane
    __m256 upScale[3], downScale[3], m255f;
    bool highFirst;

    // The limits have 255 in the alpha byte, so no alpha difference ever
    // passes one: the alpha byte counts for nothing without a mask.
    explicit SoftKey8(const SoftKeyRow& k)
        : key(_mm256_set1_epi32(int(k.key))),
          noiseBytes(_mm256_set1_epi32(int(0xff000000u | 0x010101u * std::uint32_t(k.noise)))),
          opaqueUpLess1(_mm256_set1_epi32(int(lessOne(k, 1)))), opaqueDownLess1(_mm256_set1_epi32(int(lessOne(k, 0)))),
          leanSingle(leanShuffle(k)),
          leanBytes(_mm256_set1_epi8(char(k.checksLean ? k.lean : 255))),
          leanCompared(_mm256_set1_epi32(int(comparedBytes(k)))), byteMask(_mm256_set1_epi32(0xff)),
          byteSpread(_mm256_setr_epi8(0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12,  //
                                      0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12)),
          zero(_mm256_setzero_si256()), bias(_mm256_set1_epi16(128)), m257(_mm256_set1_epi16(257)),
          m255(_mm256_set1_epi16(255)), full(_mm256_set1_epi32(255)), m255f(_mm256_set1_ps(255.0f)),
          highFirst(highCount(k) == 1)
    {
        for (int c = 0; c < 3; ++c) {
            upScale[c] = _mm256_set1_ps(k.scale[c][1]);
            downScale[c] = _mm256_set1_ps(k.scale[c][0]);
            const char z = char(0x80);
            channelSpread[c] = _mm256_setr_epi8(char(c), z, z, z, char(4 + c), z, z, z, char(8 + c), z, z, z,
                                                char(12 + c), z, z, z, char(c), z, z, z, char(4 + c), z, z, z,
                                                char(8 + c), z, z, z, char(12 + c), z, z, z);
        }
    }

    // Each colour byte one less than its opaque distance in that direction
    // (255 where there is none), 255 in the alpha byte.
    static std::uint32_t lessOne(const SoftKeyRow& k, int up)
    {
        std::uint32_t bytes = 0xff000000u;
        for (int c = 0; c < 3; ++c)
            bytes |= std::uint32_t(std::min(k.opaqueAt[c][up] - 1, 255)) << (8 * c);
        return bytes;
    }

    // A pixel leans by more than the limit when each of its key's high
    // channels is above each of its low ones by more than it: two pairs,
    // as the key has one high and two low channels or two high and one
    // low. The compared bytes are the two channels of the side that has
    // two; the shuffle sets the other side's one channel beside each of
    // them. `highFirst`: the shuffled channel is the high one.
    static __m256i leanShuffle(const SoftKeyRow& k)
    {
        std::int8_t bytes[32];
        int single = 0;
        const bool highFirst = highCount(k) == 1;
        for (int c = 0; c < 3; ++c)
            if ((((k.high >> (8 * c)) & 1u) != 0) == highFirst)
                single = c;
        for (int i = 0; i < 32; ++i) {
            const int pixel = i / 4 * 4 % 16, c = i % 4;
            const bool compared = c < 3 && (((k.high >> (8 * c)) & 1u) != 0) != highFirst;
            bytes[i] = compared ? std::int8_t(pixel + single) : std::int8_t(-128);
        }
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
    }
    static int highCount(const SoftKeyRow& k)
    {
        return int((k.high & 1u) + ((k.high >> 8) & 1u) + ((k.high >> 16) & 1u));
    }
    // The bytes compared; where the key has no hue, one byte that always
    // passes, so that no pixel leans.
    static std::uint32_t comparedBytes(const SoftKeyRow& k)
    {
        if (!k.checksLean)
            return 0xff;
        return (highCount(k) == 1 ? k.low : k.high) & 0x00ffffffu;
    }

    // All ones in the lanes of pixels that are not opaque: no channel at
    // its opaque distance (above or below the key's), or more lean than
    // allowed.
    __m256i notOpaqueLanes(__m256i s, __m256i above, __m256i below) const
    {
        const __m256i past = _mm256_or_si256(_mm256_subs_epu8(above, opaqueUpLess1), _mm256_subs_epu8(below, opaqueDownLess1));
        // Not 0 in a compared byte where the pair passes the limit.
        const __m256i single = _mm256_shuffle_epi8(s, leanSingle);
        const __m256i passed = highFirst ? _mm256_subs_epu8(_mm256_subs_epu8(single, leanBytes), s)
                                         : _mm256_subs_epu8(_mm256_subs_epu8(s, leanBytes), single);
        const __m256i leaning = _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_cmpeq_epi8(passed, zero), leanCompared), zero);
        return _mm256_or_si256(_mm256_cmpeq_epi32(past, zero), leaning);
    }

    // Each pixel's alpha: the largest channel share beyond the noise, or
    // 255 where the pixel is opaque.
    __m256i alphas(__m256i above, __m256i below, __m256i notOpaque) const
    {
        const __m256i beyondUp = _mm256_subs_epu8(above, noiseBytes), beyondDown = _mm256_subs_epu8(below, noiseBytes);
        __m256 e = _mm256_setzero_ps();
        for (int c = 0; c < 3; ++c) {
            const __m256 u = _mm256_cvtepi32_ps(_mm256_shuffle_epi8(beyondUp, channelSpread[c]));
            const __m256 d = _mm256_cvtepi32_ps(_mm256_shuffle_epi8(beyondDown, channelSpread[c]));
            // One of the two is 0: the sum is the other product exactly.
            e = _mm256_max_ps(e, _mm256_add_ps(_mm256_mul_ps(u, upScale[c]), _mm256_mul_ps(d, downScale[c])));
        }
        return _mm256_blendv_epi8(full, _mm256_cvtps_epi32(_mm256_mul_ps(e, m255f)), notOpaque);
    }

    // One half of the channels in 16-bit lanes: p, u the pixels' channels,
    // a and na the alpha and 255 - alpha, k the key's.
    __m256i channels(__m256i p, __m256i k, __m256i u, __m256i a, __m256i na) const
    {
        const __m256i taken = _mm256_subs_epu16(_mm256_mullo_epi16(p, m255), _mm256_mullo_epi16(k, na));
        const __m256i own = _mm256_min_epu16(taken, _mm256_mullo_epi16(a, m255));
        const __m256i v = _mm256_add_epi16(own, _mm256_mullo_epi16(u, na));
        return _mm256_mulhi_epu16(_mm256_add_epi16(v, bias), m257);
    }

    __m256i blend(__m256i s, __m256i u, __m256i above, __m256i below, __m256i notOpaque) const
    {
        const __m256i a = _mm256_shuffle_epi8(alphas(above, below, notOpaque), byteSpread);
        const __m256i na = _mm256_xor_si256(a, _mm256_set1_epi8(-1));
        const __m256i lo = channels(_mm256_unpacklo_epi8(s, zero), _mm256_unpacklo_epi8(key, zero),
                                    _mm256_unpacklo_epi8(u, zero), _mm256_unpacklo_epi8(a, zero),
                                    _mm256_unpacklo_epi8(na, zero));
        const __m256i hi = channels(_mm256_unpackhi_epi8(s, zero), _mm256_unpackhi_epi8(key, zero),
                                    _mm256_unpackhi_epi8(u, zero), _mm256_unpackhi_epi8(a, zero),
                                    _mm256_unpackhi_epi8(na, zero));
        return _mm256_packus_epi16(lo, hi);
    }

    // The pixels of s drawn over those of u.
    __m256i eight(__m256i s, const Pixel* u) const
    {
        const __m256i above = _mm256_subs_epu8(s, key), below = _mm256_subs_epu8(key, s);
        const __m256i beyondNoise = _mm256_subs_epu8(_mm256_or_si256(above, below), noiseBytes);
        if (_mm256_testz_si256(beyondNoise, beyondNoise))
            return load(u);
        const __m256i notOpaque = notOpaqueLanes(s, above, below);
        if (_mm256_testz_si256(notOpaque, notOpaque))
            return s;
        return blend(s, load(u), above, below, notOpaque);
    }
    // Whether all eight pixels are see-through.
    bool seeThrough(__m256i s) const
    {
        const __m256i beyondNoise =
            _mm256_subs_epu8(_mm256_or_si256(_mm256_subs_epu8(s, key), _mm256_subs_epu8(key, s)), noiseBytes);
        return _mm256_testz_si256(beyondNoise, beyondNoise);
    }
};

void softKeyRow(Pixel* d, const Pixel* s, const Pixel* u, int n, const SoftKeyRow& key, bool stream)
{
    const SoftKey8 k(key);
    const bool inPlace = u == d;
    const auto one = [&](int i) {
        alignas(32) Pixel sb[kLanes] = {}, ub[kLanes] = {};
        sb[0] = s[i];
        ub[0] = u[i];
        store(ub, k.eight(load(sb), ub));
        d[i] = ub[0];
    };
    if (stream && !inPlace) {
        forRow(d, n, true, [&](int i) { return k.eight(load(s + i), u + i); }, one);
        return;
    }
    int i = 0;
    for (; i + kLanes <= n; i += kLanes) {
        const __m256i sv = load(s + i);
        if (inPlace && k.seeThrough(sv))
            continue;  // all see-through: the destination stays untouched
        store(d + i, k.eight(sv, u + i));
    }
    for (; i < n; ++i)
        one(i);
}

}  // namespace tarvex::raster::detail::avx2

TARVEX_AVX2_END
#endif
