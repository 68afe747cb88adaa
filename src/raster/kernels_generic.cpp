// Portable row kernels: the fallback for processors without AVX2.
#include <algorithm>
#include <cstring>

#include "kernels.h"

namespace tarvex::raster::detail {
namespace {

void copyRow(Pixel* d, const Pixel* s, int n, bool)
{
    std::memmove(d, s, static_cast<std::size_t>(n) * sizeof(Pixel));
}

void mirrorRow(Pixel* d, const Pixel* s, int n, bool)
{
    for (int k = 0; k < n; ++k)
        d[k] = s[-k];
}

void up2Row(Pixel* d, const Pixel* s, int n, int phase, bool)
{
    for (int k = 0; k < n; ++k)
        d[k] = s[(k + phase) / 2 - phase / 2];
}

void down2Row(Pixel* d, const Pixel* s, int n, bool)
{
    for (int k = 0; k < n; ++k)
        d[k] = s[2 * k];
}

void gatherRow(Pixel* d, const Pixel* row, const std::int32_t* index, int n)
{
    for (int k = 0; k < n; ++k)
        d[k] = row[index[k]];
}

// (v + 128) * 257 >> 16 equals round(v / 255) for every v in 0..65025.
inline Pixel blendPixel(Pixel s, Pixel d, unsigned a)
{
    const unsigned na = 255 - a;
    // Two channels at a time in 16-bit lanes of a 32-bit word.
    const std::uint32_t rb = ((s & 0x00ff00ffu) * a + (d & 0x00ff00ffu) * na);
    const std::uint32_t ag = (((s >> 8) & 0x00ff00ffu) * a + ((d >> 8) & 0x00ff00ffu) * na);
    auto div255 = [](std::uint32_t lanes) {
        const std::uint32_t lo = ((lanes & 0xffffu) + 128) * 257 >> 16;
        const std::uint32_t hi = ((lanes >> 16) + 128) * 257 >> 16;
        return lo | hi << 16;
    };
    return div255(rb) | div255(ag) << 8;
}

void blendRow(Pixel* d, const Pixel* s, const Pixel* u, int n, unsigned a, bool)
{
    for (int k = 0; k < n; ++k)
        d[k] = blendPixel(s[k], u[k], a);
}

void keyRow(Pixel* d, const Pixel* s, const Pixel* u, int n, Pixel keyRgb, bool)
{
    for (int k = 0; k < n; ++k)
        d[k] = (s[k] & 0x00ffffffu) != keyRgb ? s[k] : u[k];
}

void overRow(Pixel* d, const Pixel* s, const Pixel* u, int n, unsigned a, bool)
{
    for (int k = 0; k < n; ++k) {
        const Pixel sp = s[k], up = u[k];
        const unsigned sa = sp >> 24;
        if (sa == 255 && a == 255) {
            d[k] = sp;
            continue;
        }
        Pixel out = 0;
        for (int shift = 0; shift < 32; shift += 8)
            out |= pixel::over((sp >> shift) & 0xffu, sa, (up >> shift) & 0xffu, a) << shift;
        d[k] = out;
    }
}

void softKeyRow(Pixel* d, const Pixel* s, const Pixel* u, int n, const SoftKeyRow& key, bool)
{
    for (int k = 0; k < n; ++k) {
        const Pixel sp = s[k];
        const unsigned alpha = pixel::softAlpha(sp, key);
        if (alpha == 255 || alpha == 0) {
            d[k] = alpha ? sp : u[k];
            continue;
        }
        Pixel out = 0;
        for (int shift = 0; shift < 32; shift += 8)
            out |= pixel::softKeyed((sp >> shift) & 0xffu, (key.key >> shift) & 0xffu, (u[k] >> shift) & 0xffu, alpha)
                   << shift;
        d[k] = out;
    }
}

void noFence() {}

void sumRowsAt(std::uint32_t* acc, const Pixel* const* rows, const std::int32_t* weights, int count, int width)
{
    std::fill(acc, acc + 4 * std::size_t(width), 0u);
    for (int r = 0; r < count; ++r) {
        const Pixel* row = rows[r];
        const auto w = std::uint32_t(weights[r]);
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c)
                acc[4 * x + c] += w * ((row[x] >> (8 * c)) & 0xffu);
    }
}

void sumColumnsAt(Pixel* d, int n, const std::uint32_t* acc, const AreaSpans& spans, double total)
{
    for (int i = 0; i < n; ++i) {
        std::uint64_t sum[4] = {};
        const std::uint32_t* column = acc + 4 * std::size_t(spans.first[std::size_t(i)]);
        const std::int32_t* w = spans.weights(std::size_t(i));
        for (int k = 0; k < spans.count[std::size_t(i)]; ++k)
            for (int c = 0; c < 4; ++c)
                sum[c] += std::uint64_t(w[k]) * column[4 * k + c];
        Pixel out = 0;
        for (int c = 0; c < 4; ++c)
            out |= roundedMean(double(sum[c]), total) << (8 * c);
        d[i] = out;
    }
}

void reduceRowAt(Pixel* d, const Pixel* const* rows, const std::int32_t* weights, int count, int width,
                 std::uint32_t rowTotal, const AreaSpans& columns, std::uint32_t* scratch)
{
    sumRowsAt(scratch, rows, weights, count, width);
    sumColumnsAt(d, int(columns.first.size()), scratch, columns, double(rowTotal) * double(columns.source));
}

void packBgr24Row(std::uint8_t* out, const Pixel* in, int n)
{
    for (int x = 0; x < n; ++x, out += 3) {
        out[0] = std::uint8_t(in[x]);
        out[1] = std::uint8_t(in[x] >> 8);
        out[2] = std::uint8_t(in[x] >> 16);
    }
}

void unpackBgr24Row(Pixel* out, const std::uint8_t* in, int n)
{
    for (int x = 0; x < n; ++x, in += 3)
        out[x] = 0xff000000u | Pixel(in[2]) << 16 | Pixel(in[1]) << 8 | in[0];
}

// In tiles of 8 x 8, so each source row's pixels are used while in the cache.
void transposeBlock(Pixel* d, std::ptrdiff_t dStride, const Pixel* s, std::ptrdiff_t sRowStep, bool reversed, int w,
                    int h)
{
    const std::ptrdiff_t step = reversed ? -1 : 1;
    constexpr int kTile = 8;
    for (int y0 = 0; y0 < h; y0 += kTile)
        for (int x0 = 0; x0 < w; x0 += kTile)
            for (int y = y0; y < std::min(h, y0 + kTile); ++y)
                for (int x = x0; x < std::min(w, x0 + kTile); ++x)
                    d[y * dStride + x] = s[x * sRowStep + y * step];
}

}  // namespace

const Kernels& genericKernels()
{
    static const Kernels kernels{copyRow, mirrorRow,  up2Row,  down2Row,    gatherRow,    blendRow,
                                 keyRow,  overRow,    softKeyRow, noFence, reduceRowAt, packBgr24Row,
                                 unpackBgr24Row, transposeBlock};
    return kernels;
}

const Kernels* avx2Kernels()
{
#if defined(__x86_64__) || defined(__i386__)
    // Asked here, in code compiled for any x86-64, before anything compiled
    // for AVX2 runs.
    static const bool supported = __builtin_cpu_supports("avx2");
    return supported ? &avx2KernelTable() : nullptr;
#else
    return nullptr;
#endif
}

}  // namespace tarvex::raster::detail
