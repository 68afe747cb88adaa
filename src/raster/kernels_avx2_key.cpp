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

// The soft key of eight pixels. Each pixel's distance from the key is its
// largest channel difference; pixels all at or within `inner` (see-through)
// or all at or beyond `outer` (opaque) need no arithmetic, which is nearly
// every group of a frame: only its window's edge is partly see-through.
struct SoftKey8 {
    __m256i key, inner, innerBytes, outerLess1Bytes, byteSpread, zero, bias, m257, m255;
    __m256 scale;

    // The limits have 255 in the alpha byte, so no alpha difference ever
    // passes one: the alpha byte counts for nothing without a mask.
    explicit SoftKey8(const SoftKeyRow& k)
        : key(_mm256_set1_epi32(int(k.key))), inner(_mm256_set1_epi32(k.inner)),
          innerBytes(_mm256_set1_epi32(int(0xff000000u | 0x010101u * std::uint32_t(k.inner)))),
          outerLess1Bytes(_mm256_set1_epi32(int(0xff000000u | 0x010101u * std::uint32_t(k.outer - 1)))),
          byteSpread(_mm256_setr_epi8(0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12,  //
                                      0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12)),
          zero(_mm256_setzero_si256()), bias(_mm256_set1_epi16(128)), m257(_mm256_set1_epi16(257)),
          m255(_mm256_set1_epi16(255)), scale(_mm256_set1_ps(255.0f / float(k.outer - k.inner)))
    {
    }

    // Each channel's distance from the key's (the alpha byte's too, which
    // the limits and `distances` leave out).
    __m256i differences(__m256i s) const
    {
        return _mm256_or_si256(_mm256_subs_epu8(s, key), _mm256_subs_epu8(key, s));
    }

    // Each pixel's distance: its largest colour channel difference.
    static __m256i distances(__m256i diff)
    {
        const __m256i m = _mm256_max_epu8(diff, _mm256_max_epu8(_mm256_srli_epi32(diff, 8), _mm256_srli_epi32(diff, 16)));
        return _mm256_and_si256(m, _mm256_set1_epi32(0xff));
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

    __m256i blend(__m256i s, __m256i u, __m256i diff) const
    {
        const __m256i d = distances(diff);
        const __m256i rounded = _mm256_cvtps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_sub_epi32(d, inner)), scale));
        const __m256i alpha = _mm256_min_epi32(_mm256_max_epi32(rounded, zero), _mm256_set1_epi32(255));
        const __m256i a = _mm256_shuffle_epi8(alpha, byteSpread);
        const __m256i na = _mm256_xor_si256(a, _mm256_set1_epi8(-1));
        const __m256i lo = channels(_mm256_unpacklo_epi8(s, zero), _mm256_unpacklo_epi8(key, zero),
                                    _mm256_unpacklo_epi8(u, zero), _mm256_unpacklo_epi8(a, zero),
                                    _mm256_unpacklo_epi8(na, zero));
        const __m256i hi = channels(_mm256_unpackhi_epi8(s, zero), _mm256_unpackhi_epi8(key, zero),
                                    _mm256_unpackhi_epi8(u, zero), _mm256_unpackhi_epi8(a, zero),
                                    _mm256_unpackhi_epi8(na, zero));
        return _mm256_packus_epi16(lo, hi);
    }

    // From the channel differences alone, without each pixel's largest:
    // see-through when no channel is past `inner`, opaque when every pixel
    // has a channel at or past `outer`.
    enum class Kind { SeeThrough, Opaque, Mixed };
    static Kind kind(__m256i diff, __m256i innerBytes, __m256i outerLess1Bytes)
    {
        const __m256i pastInner = _mm256_subs_epu8(diff, innerBytes);
        if (_mm256_testz_si256(pastInner, pastInner))
            return Kind::SeeThrough;
        const __m256i pastOuter = _mm256_subs_epu8(diff, outerLess1Bytes);  // not 0 where a channel is at or past outer
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(pastOuter, _mm256_setzero_si256())) == 0)
            return Kind::Opaque;
        return Kind::Mixed;
    }
};

void softKeyRow(Pixel* d, const Pixel* s, const Pixel* u, int n, const SoftKeyRow& key, bool stream)
{
    const SoftKey8 k(key);
    const bool inPlace = u == d;
    const auto eight = [&](const Pixel* sp, const Pixel* up) {
        const __m256i sv = load(sp), dist = k.differences(sv);
        switch (SoftKey8::kind(dist, k.innerBytes, k.outerLess1Bytes)) {
        case SoftKey8::Kind::Opaque: return sv;
        case SoftKey8::Kind::SeeThrough: return load(up);
        case SoftKey8::Kind::Mixed: break;
        }
        return k.blend(sv, load(up), dist);
    };
    const auto one = [&](int i) {
        alignas(32) Pixel sb[kLanes] = {}, ub[kLanes] = {};
        sb[0] = s[i];
        ub[0] = u[i];
        store(ub, eight(sb, ub));
        d[i] = ub[0];
    };
    if (stream && !inPlace) {
        forRow(d, n, true, [&](int i) { return eight(s + i, u + i); }, one);
        return;
    }
    // The tests' constants in locals of the loop, which the compiler then
    // keeps in registers rather than reloading from the key each time.
    const __m256i innerBytes = k.innerBytes, outerLess1Bytes = k.outerLess1Bytes, keyv = k.key;
    int i = 0;
    for (; i + kLanes <= n; i += kLanes) {
        const __m256i sv = load(s + i);
        const __m256i dist = _mm256_or_si256(_mm256_subs_epu8(sv, keyv), _mm256_subs_epu8(keyv, sv));
        const SoftKey8::Kind kind = SoftKey8::kind(dist, innerBytes, outerLess1Bytes);
        if (kind == SoftKey8::Kind::SeeThrough && inPlace)
            continue;  // all see-through: the destination stays untouched
        store(d + i, kind == SoftKey8::Kind::Opaque       ? sv
                     : kind == SoftKey8::Kind::SeeThrough ? load(u + i)
                                                          : k.blend(sv, load(u + i), dist));
    }
    for (; i < n; ++i)
        one(i);
}

}  // namespace tarvex::raster::detail::avx2

TARVEX_AVX2_END
#endif
