// AVX2 area reduction, the short path: sums held in 16-bit lanes while
// they fit there, which covers the commonest reductions.
#include "kernels_avx2.h"

#ifdef TARVEX_HAS_AVX2_KERNELS
TARVEX_AVX2_BEGIN

namespace tarvex::raster::detail::avx2 {

namespace {

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

}  // namespace

bool reduceRowShort(Pixel* d, const Pixel* const* rows, const std::int32_t* weights, int count, int width,
                    std::uint32_t rowTotal, const AreaSpans& columns, std::uint32_t* scratch)
{
    const int n = int(columns.first.size());
    const double total = double(rowTotal) * double(columns.source);
    const bool shortSums = rowTotal <= kShortRowTotal && total < double(1 << 23) && columns.target < (1 << 15) &&
                           !columns.tapPairs.empty();
    if (!shortSums)
        return false;
    auto* acc = reinterpret_cast<std::int16_t*>(scratch);
    sumRowsShort(acc, rows, weights, count, width);
    const bool box = columns.target == 1 && total <= double(kBoxTotal);
    if (box && columns.source == 2)
        boxColumns<2>(d, n, acc, std::uint32_t(total));
    else if (box && columns.source == 3)
        boxColumns<3>(d, n, acc, std::uint32_t(total));
    else
        sumColumnsShort(d, n, acc, columns, std::uint32_t(total));
    return true;
}

}  // namespace tarvex::raster::detail::avx2

TARVEX_AVX2_END
#endif
