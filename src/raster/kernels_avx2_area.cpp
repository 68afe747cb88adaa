// AVX2 area reduction: the row and column passes of ReduceArea over wide
// sums, and the choice among its paths. The short path, for the commonest
// reductions, is in kernels_avx2_area_short.cpp.
#include "kernels_avx2.h"

#ifdef TARVEX_HAS_AVX2_KERNELS
TARVEX_AVX2_BEGIN

namespace tarvex::raster::detail::avx2 {

namespace {

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

}  // namespace

void reduceRowAt(Pixel* d, const Pixel* const* rows, const std::int32_t* weights, int count, int width,
                 std::uint32_t rowTotal, const AreaSpans& columns, std::uint32_t* scratch)
{
    const int n = int(columns.first.size());
    const double total = double(rowTotal) * double(columns.source);
    if (reduceRowShort(d, rows, weights, count, width, rowTotal, columns, scratch))
        return;
    if (columns.byteChunks > 0 && n < width && total < double(1 << 23)) {
        reduceColumnsFirst(d, rows, weights, count, std::uint32_t(total), columns, scratch);
        return;
    }
    sumRowsAt(scratch, rows, weights, count, width);
    sumColumnsAt(d, n, scratch, columns, total);
}

}  // namespace tarvex::raster::detail::avx2

TARVEX_AVX2_END
#endif
