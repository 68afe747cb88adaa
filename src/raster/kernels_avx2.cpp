// AVX2 row kernels, compiled for AVX2 whatever the rest of the build targets
// and chosen at run time only on processors that have it.
#include "kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include <cmath>
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

// Two 16-bit weights, a in the low half, repeated in every 32-bit lane.
inline __m256i pairOf(std::int32_t a, std::int32_t b)
{
    return _mm256_set1_epi32((b << 16) | (a & 0xffff));
}

// Eight pixels of rows a and b: their bytes interleaved, then widened so
// that each 32-bit lane holds one channel of both rows, against the pair
// of weights: one multiply-add for both rows. The sums come out as pixels
// 0 | 4, 1 | 5, 2 | 6 and 3 | 7 in the vectors' two halves.
struct EightSums {
    __m256i p04, p15, p26, p37;

    EightSums() : p04(_mm256_setzero_si256()), p15(p04), p26(p04), p37(p04) {}

    void add(const Pixel* a, const Pixel* b, __m256i w)
    {
        const __m256i va = load(a), vb = load(b), zero = _mm256_setzero_si256();
        const __m256i lo = _mm256_unpacklo_epi8(va, vb), hi = _mm256_unpackhi_epi8(va, vb);
        p04 = _mm256_add_epi32(p04, _mm256_madd_epi16(_mm256_unpacklo_epi8(lo, zero), w));
        p15 = _mm256_add_epi32(p15, _mm256_madd_epi16(_mm256_unpackhi_epi8(lo, zero), w));
        p26 = _mm256_add_epi32(p26, _mm256_madd_epi16(_mm256_unpacklo_epi8(hi, zero), w));
        p37 = _mm256_add_epi32(p37, _mm256_madd_epi16(_mm256_unpackhi_epi8(hi, zero), w));
    }
    void store(std::uint32_t* acc) const
    {
        auto* out = reinterpret_cast<__m256i*>(acc);
        _mm256_storeu_si256(out, _mm256_permute2x128_si256(p04, p15, 0x20));
        _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(p26, p37, 0x20));
        _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(p04, p15, 0x31));
        _mm256_storeu_si256(out + 3, _mm256_permute2x128_si256(p26, p37, 0x31));
    }
};

// How far ahead of the columns being summed each row is fetched into the
// cache: a photo's rows are read side by side, more streams than the
// processor's own prefetcher follows. Fetching past a row's end is harmless.
constexpr int kPrefetchAhead = 384;

// Sixteen columns at a time, down all the rows, with the sums in registers.
// A row count that is odd pairs its last row with itself at weight 0.
void sumRowsAt(std::uint32_t* acc, const Pixel* const* rows, const std::int32_t* weights, int count, int width)
{
    const auto pairAt = [&](int r, const Pixel*& a, const Pixel*& b) {
        a = rows[r];
        b = r + 1 < count ? rows[r + 1] : rows[r];
        return pairOf(weights[r], r + 1 < count ? weights[r + 1] : 0);
    };
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        EightSums left, right;
        for (int r = 0; r < count; r += 2) {
            const Pixel *a, *b;
            const __m256i w = pairAt(r, a, b);
            _mm_prefetch(reinterpret_cast<const char*>(a + x + kPrefetchAhead), _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char*>(b + x + kPrefetchAhead), _MM_HINT_T0);
            left.add(a + x, b + x, w);
            right.add(a + x + 8, b + x + 8, w);
        }
        left.store(acc + 4 * std::size_t(x));
        right.store(acc + 4 * std::size_t(x + 8));
    }
    for (; x + 8 <= width; x += 8) {
        EightSums sums;
        for (int r = 0; r < count; r += 2) {
            const Pixel *a, *b;
            const __m256i w = pairAt(r, a, b);
            sums.add(a + x, b + x, w);
        }
        sums.store(acc + 4 * std::size_t(x));
    }
    for (; x < width; ++x) {
        std::uint32_t sum[4] = {};
        for (int r = 0; r < count; ++r)
            for (int c = 0; c < 4; ++c)
                sum[c] += std::uint32_t(weights[r]) * ((rows[r][x] >> (8 * c)) & 0xffu);
        std::memcpy(acc + 4 * std::size_t(x), sum, sizeof sum);
    }
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

// Stores the channels in lanes 0-3 as pixel i and those in lanes 4-7 as
// pixel j, unless j is i.
inline void storeTwo(Pixel* d, int i, int j, __m256i channels)
{
    const __m256i words = _mm256_packus_epi32(channels, channels);
    const __m256i bytes = _mm256_packus_epi16(words, words);
    d[i] = Pixel(_mm_cvtsi128_si32(_mm256_castsi256_si128(bytes)));
    if (j != i)
        d[j] = Pixel(_mm_cvtsi128_si32(_mm256_extracti128_si256(bytes, 1)));
}

// Two destination pixels per vector, each over the same number of padded
// taps, so no branch depends on how many columns a pixel covers. With
// total < 2^23 every sum fits 31 bits, and rounding sum / total with
// halves up is floor((sum + floor(total / 2)) / total) for odd and even
// totals alike, the same value the double path computes.
void sumColumnsTaps(Pixel* d, int n, const std::uint32_t* acc, const AreaSpans& spans, std::uint32_t total)
{
    const Means means(total);
    const int taps = spans.taps;
    for (int i = 0; i < n; i += 2) {
        const int j = std::min(i + 1, n - 1);  // an odd last pixel pairs with itself
        const std::uint32_t* a = acc + 4 * std::size_t(spans.start[std::size_t(i)]);
        const std::uint32_t* b = acc + 4 * std::size_t(spans.start[std::size_t(j)]);
        const std::int32_t* wa = spans.paddedWeights(std::size_t(i));
        const std::int32_t* wb = spans.paddedWeights(std::size_t(j));
        __m256i sum = _mm256_setzero_si256();
        for (int t = 0; t < taps; ++t) {
            const __m256i v = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(b + 4 * t),
                                                  reinterpret_cast<const __m128i*>(a + 4 * t));
            const __m256i w = _mm256_setr_m128i(_mm_set1_epi32(wa[t]), _mm_set1_epi32(wb[t]));
            sum = _mm256_add_epi32(sum, _mm256_mullo_epi32(v, w));
        }
        storeTwo(d, i, j, means(sum));
    }
}

inline __m256d columnAsDoubles(const std::uint32_t* column)
{
    return _mm256_cvtepi32_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(column)));
}

// Totals below 2^23 keep to 32-bit integers; larger ones are summed in
// doubles. Sums of whole numbers below 2^53 are exact in doubles, so this
// agrees with the integer sums of the portable kernel to the last bit. A
// destination pixel's inner columns all weigh `spans.target`: while their
// sum fits 31 bits it is taken with integer adds and weighed once.
void sumColumnsAt(Pixel* d, int n, const std::uint32_t* acc, const AreaSpans& spans, double total)
{
    if (total < double(1 << 23)) {
        sumColumnsTaps(d, n, acc, spans, std::uint32_t(total));
        return;
    }
    const __m256d divisor = _mm256_set1_pd(total), half = _mm256_set1_pd(0.5);
    const double rows = total / double(spans.source);
    const double widest = double(spans.source) / double(spans.target) + 2;
    const bool innerFits = 255.0 * rows * widest < 2147483648.0;
    const __m256d inner = _mm256_set1_pd(double(spans.target));
    for (int i = 0; i < n; ++i) {
        const std::uint32_t* column = acc + 4 * std::size_t(spans.first[std::size_t(i)]);
        const std::int32_t* w = spans.weights(std::size_t(i));
        const int count = spans.count[std::size_t(i)];
        __m256d sum;
        if (innerFits && count >= 3) {
            __m128i middle = _mm_loadu_si128(reinterpret_cast<const __m128i*>(column + 4));
            for (int k = 2; k + 1 < count; ++k)
                middle = _mm_add_epi32(middle, _mm_loadu_si128(reinterpret_cast<const __m128i*>(column + 4 * k)));
            const __m256d edges =
                _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(double(w[0])), columnAsDoubles(column)),
                              _mm256_mul_pd(_mm256_set1_pd(double(w[count - 1])), columnAsDoubles(column + 4 * (count - 1))));
            sum = _mm256_add_pd(edges, _mm256_mul_pd(inner, _mm256_cvtepi32_pd(middle)));
        } else {
            __m256d even = _mm256_setzero_pd(), odd = _mm256_setzero_pd();  // two chains run in parallel
            int k = 0;
            for (; k + 1 < count; k += 2) {
                even = _mm256_add_pd(even, _mm256_mul_pd(_mm256_set1_pd(double(w[k])), columnAsDoubles(column + 4 * k)));
                odd = _mm256_add_pd(odd, _mm256_mul_pd(_mm256_set1_pd(double(w[k + 1])),
                                                       columnAsDoubles(column + 4 * (k + 1))));
            }
            if (k < count)
                even = _mm256_add_pd(even, _mm256_mul_pd(_mm256_set1_pd(double(w[k])), columnAsDoubles(column + 4 * k)));
            sum = _mm256_add_pd(even, odd);
        }
        const __m256d mean = _mm256_floor_pd(_mm256_add_pd(_mm256_div_pd(sum, divisor), half));
        const __m128i channels = _mm256_cvttpd_epi32(mean);
        const __m128i bytes = _mm_packus_epi16(_mm_packus_epi32(channels, channels), _mm_setzero_si128());
        d[i] = Pixel(_mm_cvtsi128_si32(bytes));
    }
}

// The short path: while rowTotal <= 127, every weight fits a signed byte
// and every column sum fits a signed 16-bit lane, so two rows are weighed
// and added by one byte multiply-add, and the column pass takes two taps
// per 16-bit multiply-add. The sums are the same whole numbers as on the
// wide path, only held in narrower lanes.
constexpr std::uint32_t kShortRowTotal = 127;

// Weights of rows a (low byte) and b against their interleaved bytes.
inline __m256i bytePairOf(std::int32_t a, std::int32_t b)
{
    return _mm256_set1_epi16(std::int16_t(std::uint16_t(b << 8 | (a & 0xff))));
}

// Eight pixels of rows a and b: pixels 0, 1, 4, 5 (lo) and 2, 3, 6, 7 (hi).
inline void addEight(__m256i& lo, __m256i& hi, const Pixel* a, const Pixel* b, __m256i w)
{
    const __m256i va = load(a), vb = load(b);
    lo = _mm256_add_epi16(lo, _mm256_maddubs_epi16(_mm256_unpacklo_epi8(va, vb), w));
    hi = _mm256_add_epi16(hi, _mm256_maddubs_epi16(_mm256_unpackhi_epi8(va, vb), w));
}

inline void storeEight(std::int16_t* acc, __m256i lo, __m256i hi)
{
    auto* out = reinterpret_cast<__m256i*>(acc);
    _mm256_storeu_si256(out, _mm256_permute2x128_si256(lo, hi, 0x20));
    _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(lo, hi, 0x31));
}

// At most 64 pairs of rows: rowTotal <= 127 and every weight is at least 1.
struct RowPairs {
    const Pixel* a[64];
    const Pixel* b[64];
    __m256i w[64];
    int n = 0;

    RowPairs(const Pixel* const* rows, const std::int32_t* weights, int count)
    {
        for (int r = 0; r < count; r += 2, ++n) {
            const bool last = r + 1 == count;  // an odd last row pairs with itself at weight 0
            a[n] = rows[r];
            b[n] = rows[last ? r : r + 1];
            w[n] = bytePairOf(weights[r], last ? 0 : weights[r + 1]);
        }
    }
};

void sumRowsShort(std::int16_t* acc, const Pixel* const* rows, const std::int32_t* weights, int count, int width)
{
    const RowPairs pairs(rows, weights, count);
    const auto pairAt = [&](int r, const Pixel*& a, const Pixel*& b) {
        a = pairs.a[r / 2];
        b = pairs.b[r / 2];
        return pairs.w[r / 2];
    };
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        __m256i l0 = _mm256_setzero_si256(), h0 = l0, l1 = l0, h1 = l0;
        for (int r = 0; r < count; r += 2) {
            const Pixel *a, *b;
            const __m256i w = pairAt(r, a, b);
            _mm_prefetch(reinterpret_cast<const char*>(a + x + kPrefetchAhead), _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char*>(b + x + kPrefetchAhead), _MM_HINT_T0);
            addEight(l0, h0, a + x, b + x, w);
            addEight(l1, h1, a + x + 8, b + x + 8, w);
        }
        storeEight(acc + 4 * std::size_t(x), l0, h0);
        storeEight(acc + 4 * std::size_t(x + 8), l1, h1);
    }
    for (; x + 8 <= width; x += 8) {
        __m256i lo = _mm256_setzero_si256(), hi = lo;
        for (int r = 0; r < count; r += 2) {
            const Pixel *a, *b;
            const __m256i w = pairAt(r, a, b);
            addEight(lo, hi, a + x, b + x, w);
        }
        storeEight(acc + 4 * std::size_t(x), lo, hi);
    }
    for (; x < width; ++x)
        for (int c = 0; c < 4; ++c) {
            int sum = 0;
            for (int r = 0; r < count; ++r)
                sum += weights[r] * int((rows[r][x] >> (8 * c)) & 0xffu);
            acc[4 * std::size_t(x) + std::size_t(c)] = std::int16_t(sum);
        }
}

// Two destination pixels per vector, two taps per multiply-add: a 16-byte
// load holds a pixel's taps 2u and 2u + 1, whose channels are interleaved
// so that each 32-bit lane weighs one channel of both.
struct ShortColumns {
    const std::int16_t* acc;
    const AreaSpans& spans;
    __m256i interleave = _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15,  //
                                          0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
    __m256i spread = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
    Means rounded;

    ShortColumns(const std::int16_t* a, const AreaSpans& s, std::uint32_t total) : acc(a), spans(s), rounded(total) {}

    // The means of pixels i and j (lanes 0-3 and 4-7); `pairs` is a
    // constant where the caller knows it, so the loop unrolls.
    __m256i means(int i, int j, int pairs) const
    {
        const std::int16_t* a = acc + 4 * std::size_t(spans.start[std::size_t(i)]);
        const std::int16_t* b = acc + 4 * std::size_t(spans.start[std::size_t(j)]);
        const std::int32_t* w = spans.tapPairs.data() + std::size_t(i / 2) * std::size_t(2 * pairs);
        __m256i sum = _mm256_setzero_si256();
        for (int u = 0; u < pairs; ++u) {
            const __m256i v = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(b + 8 * u),
                                                  reinterpret_cast<const __m128i*>(a + 8 * u));
            const __m256i weights = _mm256_permutevar8x32_epi32(
                _mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(w + 2 * u))), spread);
            sum = _mm256_add_epi32(sum, _mm256_madd_epi16(_mm256_shuffle_epi8(v, interleave), weights));
        }
        return rounded(sum);
    }
};

// Four pixels per step, two independent vectors, packed into one store.
template <int Pairs>
void sumColumnsShortFixed(Pixel* d, int n, const ShortColumns& columns, int pairs)
{
    const int p = Pairs > 0 ? Pairs : pairs;
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 0, 0, 0, 0);
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256i words = _mm256_packus_epi32(columns.means(i, i + 1, p), columns.means(i + 2, i + 3, p));
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(words, words), order);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm256_castsi256_si128(bytes));
    }
    for (; i < n; i += 2) {
        const int j = std::min(i + 1, n - 1);  // an odd last pixel pairs with itself
        const __m256i words = _mm256_packus_epi32(columns.means(i, j, p), _mm256_setzero_si256());
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(words, words), order);
        d[i] = Pixel(_mm256_cvtsi256_si32(bytes));
        if (j != i)
            d[j] = Pixel(_mm256_extract_epi32(bytes, 1));
    }
}

// Whole factors 2 and 3 across, the commonest reductions of screen and
// video sizes (1920 x 1080 to 640 x 360): a destination pixel is the plain
// sum of its 2 or 3 neighbours, so the column pass needs no weights, only
// a regrouping of whole 64-bit pixels. Callers keep 255 * total below
// 2^15, so the sums stay in 16-bit lanes.
constexpr std::uint32_t kBoxTotal = 128;

template <int K>
__m256i boxSums(const std::int16_t* s)
{
    const auto at = [s](int k) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 16 * k)); };
    if constexpr (K == 2) {  // [0 1 2 3] [4 5 6 7] to [0+1 2+3 4+5 6+7]
        const __m256i a = at(0), b = at(1);
        return _mm256_permute4x64_epi64(_mm256_add_epi16(_mm256_unpacklo_epi64(a, b), _mm256_unpackhi_epi64(a, b)),
                                        0xd8);
    } else {  // [0 1 2 3] [4 5 6 7] [8 9 10 11] to [0+1+2 3+4+5 6+7+8 9+10+11]
        const __m256i a = at(0), b = at(1), c = at(2);
        const __m256i x = _mm256_permute4x64_epi64(_mm256_blend_epi32(_mm256_blend_epi32(a, b, 0x30), c, 0x0c), 0x6c);
        const __m256i y = _mm256_permute4x64_epi64(_mm256_blend_epi32(_mm256_blend_epi32(a, b, 0xc3), c, 0x30), 0xb1);
        const __m256i z = _mm256_permute4x64_epi64(_mm256_blend_epi32(_mm256_blend_epi32(a, c, 0xc3), b, 0x0c), 0xc6);
        return _mm256_add_epi16(_mm256_add_epi16(x, y), z);
    }
}

template <int K>
void boxColumns(Pixel* d, int n, const std::int16_t* acc, std::uint32_t total)
{
    const __m256 reciprocal = _mm256_set1_ps(reciprocalRoundedUp(total));
    const __m256i half = _mm256_set1_epi16(std::int16_t(total / 2));
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 0, 0, 0, 0);
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256i sums = _mm256_add_epi16(boxSums<K>(acc + 4 * std::size_t(K * i)), half);
        const auto quotients = [&](__m128i lanes) {
            return _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(lanes)), reciprocal));
        };
        const __m256i words = _mm256_packus_epi32(quotients(_mm256_castsi256_si128(sums)),
                                                  quotients(_mm256_extracti128_si256(sums, 1)));
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(words, words), order);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm256_castsi256_si128(bytes));
    }
    for (; i < n; ++i) {
        Pixel out = 0;
        for (int c = 0; c < 4; ++c) {
            std::uint32_t sum = total / 2;
            for (int t = 0; t < K; ++t)
                sum += std::uint32_t(acc[4 * std::size_t(K * i + t) + std::size_t(c)]);
            out |= (sum / total) << (8 * c);
        }
        d[i] = out;
    }
}

void sumColumnsShort(Pixel* d, int n, const std::int16_t* acc, const AreaSpans& spans, std::uint32_t total)
{
    const ShortColumns columns(acc, spans, total);
    switch (const int pairs = spans.taps / 2) {
    case 1: return sumColumnsShortFixed<1>(d, n, columns, pairs);
    case 2: return sumColumnsShortFixed<2>(d, n, columns, pairs);
    case 3: return sumColumnsShortFixed<3>(d, n, columns, pairs);
    case 4: return sumColumnsShortFixed<4>(d, n, columns, pairs);
    case 5: return sumColumnsShortFixed<5>(d, n, columns, pairs);
    default: return sumColumnsShortFixed<0>(d, n, columns, pairs);
    }
}

// The columns-first path, for spans too tall for the short path's 16-bit
// row sums (a 24-megapixel photo fitted into a 640 x 480 box weighs about
// ten rows to 2000): each source row is reduced across first, its bytes
// weighed by byte multiply-adds into exact 16-bit sums per destination
// pixel, which are then weighed into the row's 32-bit sums. A source row
// is read once, front to back: one stream, which the processor fetches far
// better than the ten side by side of the rows-first paths.
constexpr int kColumnsFirstAhead = 4096;  // pixels fetched ahead of the one being weighed

template <int Chunks>
void addAcross(std::uint32_t* acc, const Pixel* row, std::int32_t weight, bool first, const AreaSpans& spans)
{
    // Four pixels' bytes to pairs of pixels per channel: b0 b1 g0 g1 r0 r1 a0 a1, then pixels 2 and 3.
    const __m256i pairUp = _mm256_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15,  //
                                            0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
    const __m256i rowWeight = _mm256_set1_epi32(weight);
    const int n = int(spans.byteStart.size());
    const auto* weights = reinterpret_cast<const __m256i*>(spans.byteWeights.data());
    for (int i = 0; i < n; i += 2, weights += Chunks) {
        const Pixel* a = row + spans.byteStart[std::size_t(i)];
        const Pixel* b = row + spans.byteStart[std::size_t(std::min(i + 1, n - 1))];
        _mm_prefetch(reinterpret_cast<const char*>(a + kColumnsFirstAhead), _MM_HINT_T0);
        __m256i sums = _mm256_setzero_si256();
        for (int k = 0; k < Chunks; ++k) {
            const __m256i v = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(b + 4 * k),
                                                  reinterpret_cast<const __m128i*>(a + 4 * k));
            const __m256i w = _mm256_loadu_si256(weights + k);
            // Sums past 2^15 wrap in the signed lanes; below 2^16 they read back unsigned.
            sums = _mm256_add_epi16(sums, _mm256_maddubs_epi16(_mm256_shuffle_epi8(v, pairUp), w));
        }
        sums = _mm256_add_epi16(sums, _mm256_unpackhi_epi64(sums, sums));
        const __m256i wide = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(_mm256_permute4x64_epi64(sums, 0x08)));
        auto* at = reinterpret_cast<__m256i*>(acc + 4 * std::size_t(i));
        const __m256i weighed = _mm256_mullo_epi32(wide, rowWeight);
        _mm256_storeu_si256(at, first ? weighed : _mm256_add_epi32(_mm256_loadu_si256(at), weighed));
    }
}

// `acc` holds 4 * (n + 1) sums: an odd last pixel is summed twice, side by side.
void reduceColumnsFirst(Pixel* d, const Pixel* const* rows, const std::int32_t* weights, int count,
                        std::uint32_t total, const AreaSpans& columns, std::uint32_t* acc)
{
    for (int r = 0; r < count; ++r) {
        switch (columns.byteChunks) {
        case 1: addAcross<1>(acc, rows[r], weights[r], r == 0, columns); break;
        case 2: addAcross<2>(acc, rows[r], weights[r], r == 0, columns); break;
        case 3: addAcross<3>(acc, rows[r], weights[r], r == 0, columns); break;
        default: addAcross<4>(acc, rows[r], weights[r], r == 0, columns); break;
        }
    }
    const Means means(total);
    const int n = int(columns.byteStart.size());
    for (int i = 0; i < n; i += 2)
        storeTwo(d, i, std::min(i + 1, n - 1),
                 means(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(acc + 4 * std::size_t(i)))));
}

void reduceRowAt(Pixel* d, const Pixel* const* rows, const std::int32_t* weights, int count, int width,
                 std::uint32_t rowTotal, const AreaSpans& columns, std::uint32_t* scratch)
{
    const int n = int(columns.first.size());
    const double total = double(rowTotal) * double(columns.source);
    const bool shortSums = rowTotal <= kShortRowTotal && total < double(1 << 23) && columns.target < (1 << 15) &&
                           !columns.tapPairs.empty();
    if (shortSums) {
        auto* acc = reinterpret_cast<std::int16_t*>(scratch);
        sumRowsShort(acc, rows, weights, count, width);
        const bool box = columns.target == 1 && total <= double(kBoxTotal);
        if (box && columns.source == 2)
            boxColumns<2>(d, n, acc, std::uint32_t(total));
        else if (box && columns.source == 3)
            boxColumns<3>(d, n, acc, std::uint32_t(total));
        else
            sumColumnsShort(d, n, acc, columns, std::uint32_t(total));
        return;
    }
    if (columns.byteChunks > 0 && n < width && total < double(1 << 23)) {
        reduceColumnsFirst(d, rows, weights, count, std::uint32_t(total), columns, scratch);
        return;
    }
    sumRowsAt(scratch, rows, weights, count, width);
    sumColumnsAt(d, n, scratch, columns, total);
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

}  // namespace

const Kernels& avx2KernelTable()
{
    static const Kernels kernels{copyRow, mirrorRow, up2Row, down2Row,  gatherRow,
                                 blendRow, keyRow,   fence,  reduceRowAt, packBgr24Row, unpackBgr24Row};
    return kernels;
}

}  // namespace tarvex::raster::detail

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif
