#include "dispatch.h"

#include <atomic>

namespace tarvex::raster {

namespace detail {

namespace {

std::atomic<Implementation> chosen{Implementation::Automatic};

}  // namespace

const Kernels* kernels()
{
    switch (chosen.load(std::memory_order_relaxed)) {
    case Implementation::Reference:
        return nullptr;
    case Implementation::Generic:
        return &detail::genericKernels();
    case Implementation::Avx2:
    case Implementation::Automatic:
        break;
    }
    static const Kernels* best = detail::avx2Kernels() ? detail::avx2Kernels() : &detail::genericKernels();
    return best;
}

RowPlan classify(const std::vector<std::int32_t>& t)
{
    const std::size_t n = t.size();
    auto all = [&](auto expected) {
        for (std::size_t k = 1; k < n; ++k)
            if (t[k] != expected(std::int64_t(k)))
                return false;
        return true;
    };
    const std::int64_t b = t[0];
    if (all([b](std::int64_t k) { return b + k; }))
        return {Shape::Straight, 0};
    if (all([b](std::int64_t k) { return b - k; }))
        return {Shape::Mirrored, 0};
    const int phase = n >= 2 && t[1] == t[0] ? 0 : 1;
    if (all([b, phase](std::int64_t k) { return b + (k + phase) / 2 - phase / 2; }))
        return {Shape::Doubled, phase};
    if (all([b](std::int64_t k) { return b + 2 * k; }))
        return {Shape::Halved, 0};
    return {Shape::Other, 0};
}

// Fills n destination pixels from one source row as the column table says.
void sampleRow(const Kernels& k, const RowPlan& plan, Pixel* d, const Pixel* row, const AxisMap& mx,
               bool stream)
{
    const int n = mx.count();
    const Pixel* s = row + mx.source[0];
    switch (plan.shape) {
    case Shape::Straight: k.copy(d, s, n, stream); break;
    case Shape::Mirrored: k.mirror(d, s, n, stream); break;
    case Shape::Doubled: k.up2(d, s, n, plan.phase, stream); break;
    case Shape::Halved: k.down2(d, s, n, stream); break;
    case Shape::Other: k.gather(d, row, mx.source.data(), n); break;
    }
}

Mapping mapRect(const Bitmap& dst, const Axis& ax, const Axis& ay, const Bitmap& src)
{
    if (dst.empty() || src.empty())
        return {};
    return {detail::mapAxis(ax, dst.width, src.width), detail::mapAxis(ay, dst.height, src.height)};
}

bool streams(const Mapping& m)
{
    return std::int64_t(m.x.count()) * m.y.count() * std::int64_t(sizeof(Pixel)) >= kStreamBytes;
}

void stretchCopy(const Kernels& k, const Bitmap& dst, const Bitmap& src, const Mapping& m)
{
    const bool stream = streams(m);
    const RowPlan plan = classify(m.x.source);
    bool repeats = false;
    for (int r = 1; r < m.y.count() && !repeats; ++r)
        repeats = m.y.source[std::size_t(r)] == m.y.source[std::size_t(r - 1)];
    if (repeats && plan.shape != Shape::Straight) {
        forEachSampledRow(k, dst, src, m, plan, [&](int, Pixel* d, const Pixel* s, int n) { k.copy(d, s, n, stream); });
    } else {
        inBands(k, std::int64_t(m.x.count()) * m.y.count(), m.y.count(), [&](int first, int last) {
            for (int r = first; r < last; ++r)
                sampleRow(k, plan, dst.row(m.y.first + r) + m.x.first, src.row(m.y.source[std::size_t(r)]), m.x,
                          stream);
        });
    }
}

}  // namespace detail

using detail::chosen;

void setImplementation(Implementation impl)
{
    chosen.store(impl, std::memory_order_relaxed);
}

Implementation activeImplementation()
{
    const Implementation impl = chosen.load(std::memory_order_relaxed);
    if (impl == Implementation::Reference || impl == Implementation::Generic)
        return impl;
    return detail::avx2Kernels() ? Implementation::Avx2 : Implementation::Generic;
}

bool avx2Supported()
{
    return detail::avx2Kernels() != nullptr;
}

}  // namespace tarvex::raster
