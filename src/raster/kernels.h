#pragma once
// Row kernels behind the fast paths: each works on one row of n pixels and
// is given only pointers it may touch. `stream` asks for stores that bypass
// the cache, worth it when the destination is far larger than the cache.
#include "area.h"
#include "raster.h"

namespace tarvex::raster::detail {

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
    // may be d itself.
    void (*blend)(Pixel* d, const Pixel* s, const Pixel* u, int n, unsigned alpha);
    // d[k] = s[k] unless the red, green and blue of s[k] equal keyRgb.
    void (*key)(Pixel* d, const Pixel* s, int n, Pixel keyRgb);
    // Orders streamed stores before anything that follows.
    void (*fence)();
    // The vertical half of an area reduction: acc[4x + c] becomes the sum
    // over r < count of weights[r] times channel c of rows[r][x], x < width.
    // Callers keep every weight below 2^15 and the weights' sum below 2^23,
    // so no sum leaves 31 bits.
    void (*sumRows)(std::uint32_t* acc, const Pixel* const* rows, const std::int32_t* weights, int count,
                    int width);
    // The horizontal half: destination pixel i of n takes the weighted sums
    // of its source columns in acc, divided by `total`.
    void (*sumColumns)(Pixel* d, int n, const std::uint32_t* acc, const AreaSpans& spans, double total);
    // out[3k..3k+2] = blue, green and red of in[k].
    void (*packBgr24)(std::uint8_t* out, const Pixel* in, int n);
};

const Kernels& genericKernels();
const Kernels* avx2Kernels();  // null where the build or the processor has no AVX2
#if defined(__x86_64__) || defined(__i386__)
const Kernels& avx2KernelTable();  // only for processors that have AVX2
#endif

}  // namespace tarvex::raster::detail
