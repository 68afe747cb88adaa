#pragma once
// Row kernels behind the fast paths: each works on one row of n pixels and
// is given only pointers it may touch. `stream` asks for stores that bypass
// the cache, worth it when the destination is far larger than the cache.
#include "area.h"
#include "raster.h"

namespace tarvex::raster::detail {

using SoftKeyRow = pixel::SoftKeyLimits;

struct Kernels {
    void (*copy)(Pixel* d, const Pixel* s, int n, bool stream);
    // d[k] = s[-k]: s points at the source pixel for d[0].
    void (*mirror)(Pixel* d, const Pixel* s, int n, bool stream);
    // d[k] = s[(k + phase) / 2 - phase / 2], phase 0 or 1.
    void (*up2)(Pixel* d, const Pixel* s, int n, int phase, bool stream);
    // d[k] = s[2k].
    void (*down2)(Pixel* d, const Pixel* s, int n, bool stream);
    // d[k] = row[index[k]].
    void (*gather)(Pixel* d, const Pixel* row, const std::int32_t* index, int n);
    // Every channel of d becomes round((s * a + u * (255 - a)) / 255); u
    // may be d itself (then without streaming).
    void (*blend)(Pixel* d, const Pixel* s, const Pixel* u, int n, unsigned alpha, bool stream);
    // d[k] = u[k] where the red, green and blue of s[k] equal keyRgb, s[k]
    // elsewhere; u may be d itself (then without streaming).
    void (*key)(Pixel* d, const Pixel* s, const Pixel* u, int n, Pixel keyRgb, bool stream);
    // Every channel of d becomes pixel::over(s, sa, u, alpha): s is
    // premultiplied, sa its alpha; u may be d itself, where at full
    // opacity clear pixels are not written.
    void (*over)(Pixel* d, const Pixel* s, const Pixel* u, int n, unsigned alpha, bool stream);
    // Every channel of d becomes pixel::softKeyed(s, key, u, pixel::softAlpha(s));
    // u may be d itself (then without streaming).
    void (*softKey)(Pixel* d, const Pixel* s, const Pixel* u, int n, const SoftKeyRow& key, bool stream);
    // Orders streamed stores before anything that follows.
    void (*fence)();
    // One destination row of an area reduction, one pixel per entry of
    // `columns`: rows[r] weighs weights[r] (r < count, the weights adding
    // up to rowTotal), the columns weigh as `columns` says, and each
    // channel's sum is divided by rowTotal * columns.source, rounded to
    // nearest, halves up. Callers keep every weight below 2^15 and rowTotal
    // below 2^23. `scratch` holds 4 * width 32-bit values.
    void (*reduceRow)(Pixel* d, const Pixel* const* rows, const std::int32_t* weights, int count, int width,
                      std::uint32_t rowTotal, const AreaSpans& columns, std::uint32_t* scratch);
    // out[3k..3k+2] = blue, green and red of in[k].
    void (*packBgr24)(std::uint8_t* out, const Pixel* in, int n);
    // out[k] = 0xff000000 | red << 16 | green << 8 | blue, from in[3k..3k+2]
    // = blue, green, red.
    void (*unpackBgr24)(Pixel* out, const std::uint8_t* in, int n);
    // A transposed block: for y < h and x < w,
    //     d[y * dStride + x] = s[x * sRowStep + (reversed ? -y : y)],
    // so dst's rows are src's columns, walked from `s` by whole rows (either
    // way, as sRowStep's sign says) and along each row forwards or back.
    void (*transpose)(Pixel* d, std::ptrdiff_t dStride, const Pixel* s, std::ptrdiff_t sRowStep, bool reversed,
                      int w, int h);
};

const Kernels& genericKernels();
const Kernels* avx2Kernels();  // null where the build or the processor has no AVX2
#if defined(__x86_64__) || defined(__i386__)
const Kernels& avx2KernelTable();  // only for processors that have AVX2
#endif

}  // namespace tarvex::raster::detail
