// The raster primitives against memcpy of the destination bytes (the bound)
// and against Qt's painter doing the same work, and pixman's where it is
// installed (source-over only). Names: OP/IMPL/WxH, where WxH is the
// destination size (the source size for fit and fit_2x, the reduction of a
// photo into a 640 x 480 box or, on a 2x screen, 1280 x 960, against
// QImage's smooth scaling).
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstring>

#include "raster/raster.h"

#ifdef TARVEX_BENCH_PIXMAN
#include <pixman.h>
#endif

using namespace tarvex;

namespace {

const std::pair<int, int> kSizes[] = {{640, 480}, {1920, 1080}, {4000, 3000}, {6000, 4000}};

QImage picture(int w, int h, unsigned seed)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<raster::Pixel*>(image.scanLine(y));
        for (int x = 0; x < w; ++x)
            row[x] = 0xff000000u | ((x * 7 + seed) & 0xff) << 16 | ((y * 3) & 0xff) << 8 | ((x ^ y) & 0xff);
    }
    return image;
}

// A frame: a border of a tenth of each side around a key-green window.
// The border's art is as varied as the picture's but keeps clear of the
// key's hue, as a keyed frame's art does (green no higher than red or
// blue): art of the key's hue would be keyed away itself.
QImage frame(int w, int h)
{
    QImage image = picture(w, h, 5);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x)
            row[x] = qRgb(qRed(row[x]), std::min(qGreen(row[x]), std::max(qRed(row[x]), qBlue(row[x]))), qBlue(row[x]));
    }
    QPainter(&image).fillRect(w / 10, h / 10, w - w / 5, h - h / 5, QColor(0, 255, 0));
    return image;
}

// A frame with alpha: the border opaque, the window clear, and an edge
// feathered over 16 pixels between them, premultiplied.
QImage alphaFrame(int w, int h)
{
    QImage image = picture(w, h, 5).convertToFormat(QImage::Format_ARGB32);
    const int x0 = w / 10, y0 = h / 10, x1 = w - w / 10, y1 = h - h / 10;
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int inside = std::min({x - x0, x1 - x, y - y0, y1 - y});
            const int alpha = std::clamp(255 - inside * 16, 0, 255);
            row[x] = (row[x] & 0x00ffffffu) | unsigned(alpha) << 24;
        }
    }
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// A key-green window as a lossy file leaves it: the window's pixels a few
// levels off the key, and a band around it partly see-through.
QImage blurredKeyFrame(int w, int h)
{
    QImage image = frame(w, h);
    const int x0 = w / 10, y0 = h / 10, x1 = w - w / 10, y1 = h - h / 10;
    for (int y = y0 - 3; y < y1 + 3; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = x0 - 3; x < x1 + 3; ++x) {
            const bool edge = x < x0 || y < y0 || x >= x1 || y >= y1;
            const int n = edge ? 40 : (x ^ y) % 12;
            row[x] = qRgb(n, 255 - n, n / 2);
        }
    }
    return image;
}

raster::Bitmap bitmap(QImage& image)
{
    return {reinterpret_cast<raster::Pixel*>(image.bits()), image.width(), image.height(), image.bytesPerLine() / 4};
}

enum class Op { Copy, MirrorH, MirrorV, Down2, Up2, Blend, BlendUp2, Key, KeyUp2, KeyOver, Over, OverUp2, KeySoft, KeySoftUp2 };

QSize sourceSize(Op op, int w, int h)
{
    switch (op) {
    case Op::Down2: return {2 * w, 2 * h};
    case Op::Up2:
    case Op::BlendUp2:
    case Op::KeyUp2:
    case Op::OverUp2:
    case Op::KeySoftUp2: return {w / 2, h / 2};
    default: return {w, h};
    }
}

QImage sourceFor(Op op, QSize s)
{
    switch (op) {
    case Op::Key:
    case Op::KeyUp2:
    case Op::KeyOver: return frame(s.width(), s.height());
    case Op::Over:
    case Op::OverUp2: return alphaFrame(s.width(), s.height());
    case Op::KeySoft:
    case Op::KeySoftUp2: return blurredKeyFrame(s.width(), s.height());
    default: return picture(s.width(), s.height(), 1);
    }
}

void tarvexOp(benchmark::State& state, Op op, int w, int h)
{
    const QSize s = sourceSize(op, w, h);
    QImage src = sourceFor(op, s);
    QImage dst = picture(w, h, 2), under = picture(w, h, 3);
    const raster::SoftKey soft{raster::toColorRef(0xff00ff00u), 32};
    const std::uint32_t over = raster::packBlendFunction(0, 0, 255, raster::AC_SRC_ALPHA);
    const raster::Bitmap d = bitmap(dst), sb = bitmap(src);
    const auto key = raster::toColorRef(0xff00ff00u);
    for (auto _ : state) {
        switch (op) {
        case Op::Copy: raster::BitBlt(d, 0, 0, w, h, sb, 0, 0); break;
        case Op::MirrorH: raster::StretchBlt(d, w, 0, -w, h, sb, 0, 0, w, h); break;
        case Op::MirrorV: raster::StretchBlt(d, 0, h, w, -h, sb, 0, 0, w, h); break;
        case Op::Down2:
        case Op::Up2: raster::StretchBlt(d, 0, 0, w, h, sb, 0, 0, s.width(), s.height()); break;
        case Op::Blend:
        case Op::BlendUp2:
            raster::AlphaBlend(d, 0, 0, w, h, sb, 0, 0, s.width(), s.height(), raster::packBlendFunction(0, 0, 128, 0));
            break;
        case Op::Key:
        case Op::KeyUp2: raster::TransparentBlt(d, 0, 0, w, h, sb, 0, 0, s.width(), s.height(), key); break;
        case Op::KeyOver:  // the drag's one pass: the photo restored and keyed into a fresh picture
            raster::TransparentBltOver(d, bitmap(under), 0, 0, w, h, sb, 0, 0, s.width(), s.height(), key);
            break;
        case Op::Over:
        case Op::OverUp2: raster::AlphaBlend(d, 0, 0, w, h, sb, 0, 0, s.width(), s.height(), over); break;
        case Op::KeySoft:
        case Op::KeySoftUp2: raster::TransparentBlt(d, 0, 0, w, h, sb, 0, 0, s.width(), s.height(), soft); break;
        }
        benchmark::DoNotOptimize(dst.constBits());
        benchmark::ClobberMemory();
    }
}

void qpainterOp(benchmark::State& state, Op op, int w, int h)
{
    const QSize s = sourceSize(op, w, h);
    QImage src = sourceFor(op, s);
    QImage dst = picture(w, h, 2);
    for (auto _ : state) {
        QPainter p(&dst);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        switch (op) {
        case Op::Copy: p.drawImage(0, 0, src); break;
        case Op::MirrorH: p.setTransform(QTransform(-1, 0, 0, 1, w, 0)); p.drawImage(0, 0, src); break;
        case Op::MirrorV: p.setTransform(QTransform(1, 0, 0, -1, 0, h)); p.drawImage(0, 0, src); break;
        case Op::Down2:
        case Op::Up2: p.drawImage(QRect(0, 0, w, h), src); break;
        case Op::Blend:
        case Op::BlendUp2:
            p.setCompositionMode(QPainter::CompositionMode_SourceOver);
            p.setOpacity(128 / 255.0);
            p.drawImage(QRect(0, 0, w, h), src);
            break;
        case Op::Over:
        case Op::OverUp2:
            p.setCompositionMode(QPainter::CompositionMode_SourceOver);
            p.drawImage(QRect(0, 0, w, h), src);
            break;
        case Op::KeyOver:
        case Op::KeySoft:
        case Op::KeySoftUp2: break;  // not registered: the painter has no such operation
        case Op::Key:
        case Op::KeyUp2: {
            // A colour key has no preparation: making the painter's
            // transparent copy is part of the work.
            QImage argb = src.convertToFormat(QImage::Format_ARGB32);
            argb.setAlphaChannel(src.createMaskFromColor(0xff00ff00u, Qt::MaskOutColor));
            p.setCompositionMode(QPainter::CompositionMode_SourceOver);
            p.drawImage(QRect(0, 0, w, h), argb);
            break;
        }
        }
        p.end();
        benchmark::DoNotOptimize(dst.constBits());
    }
}

#ifdef TARVEX_BENCH_PIXMAN
// pixman's OVER of the premultiplied frame onto an opaque picture, at the
// same size or stretched twofold by nearest sampling.
void pixmanOver(benchmark::State& state, Op op, int w, int h)
{
    const QSize s = sourceSize(op, w, h);
    QImage src = sourceFor(op, s), dst = picture(w, h, 2);
    pixman_image_t* from = pixman_image_create_bits(PIXMAN_a8r8g8b8, s.width(), s.height(),
                                                    reinterpret_cast<std::uint32_t*>(src.bits()), int(src.bytesPerLine()));
    pixman_image_t* to = pixman_image_create_bits(PIXMAN_x8r8g8b8, w, h, reinterpret_cast<std::uint32_t*>(dst.bits()),
                                                  int(dst.bytesPerLine()));
    if (op == Op::OverUp2) {
        pixman_transform_t scale;
        pixman_transform_init_scale(&scale, pixman_double_to_fixed(double(s.width()) / w),
                                    pixman_double_to_fixed(double(s.height()) / h));
        pixman_image_set_transform(from, &scale);
        pixman_image_set_filter(from, PIXMAN_FILTER_NEAREST, nullptr, 0);
    }
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_OVER, from, nullptr, to, 0, 0, 0, 0, 0, 0, w, h);
        benchmark::DoNotOptimize(dst.constBits());
        benchmark::ClobberMemory();
    }
    pixman_image_unref(from);
    pixman_image_unref(to);
}
#endif

// Walks the picture seven pixels at a time, row after row.
inline void step(int& x, int& y, int w, int h)
{
    x += 7;
    if (x >= w) {
        x -= w;
        if (++y == h)
            y = 0;
    }
}

void memcpyBound(benchmark::State& state, int w, int h)
{
    QImage src = picture(w, h, 1), dst = picture(w, h, 2);
    for (auto _ : state) {
        std::memcpy(dst.bits(), src.constBits(), std::size_t(src.sizeInBytes()));
        benchmark::DoNotOptimize(dst.constBits());
    }
}

// The largest size with the source's proportions inside 640 x 480 times
// k, as a reduced box shows a photo (k = 2 on a screen of twice the density
// or in a window twice the size drawn).
QSize fitSize(int w, int h, int k)
{
    const double s = std::min(640.0 * k / w, 480.0 * k / h);
    return {std::max(1, int(w * s)), std::max(1, int(h * s))};
}

void fitTarvex(benchmark::State& state, int w, int h, int k)
{
    QImage src = picture(w, h, 1), dst(fitSize(w, h, k), QImage::Format_RGB32);
    const raster::Bitmap d = bitmap(dst), sb = bitmap(src);
    for (auto _ : state) {
        raster::ReduceArea(d, sb);
        benchmark::DoNotOptimize(dst.constBits());
    }
}

void fitQSmooth(benchmark::State& state, int w, int h, int k)
{
    const QImage src = picture(w, h, 1);
    const QSize size = fitSize(w, h, k);
    for (auto _ : state)
        benchmark::DoNotOptimize(src.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

int registerAll()
{
    const std::pair<const char*, Op> ops[] = {{"copy", Op::Copy},   {"mirror_h", Op::MirrorH}, {"mirror_v", Op::MirrorV},
                                              {"down2", Op::Down2}, {"up2", Op::Up2},          {"blend", Op::Blend},
                                              {"blend_up2", Op::BlendUp2}, {"key", Op::Key},   {"key_up2", Op::KeyUp2},
                                              {"key_over", Op::KeyOver},   {"over", Op::Over}, {"over_up2", Op::OverUp2},
                                              {"keysoft", Op::KeySoft},    {"keysoft_up2", Op::KeySoftUp2}};
    for (auto [w, h] : kSizes) {
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        benchmark::RegisterBenchmark(("memcpy/bound/" + size).c_str(), memcpyBound, w, h)->Unit(benchmark::kMillisecond);
        for (auto [name, op] : ops) {
            benchmark::RegisterBenchmark((std::string(name) + "/tarvex/" + size).c_str(), tarvexOp, op, w, h)
                ->Unit(benchmark::kMillisecond);
            if (op != Op::KeyOver && op != Op::KeySoft && op != Op::KeySoftUp2)
                benchmark::RegisterBenchmark((std::string(name) + "/qpainter/" + size).c_str(), qpainterOp, op, w, h)
                    ->Unit(benchmark::kMillisecond);
#ifdef TARVEX_BENCH_PIXMAN
            if (op == Op::Over || op == Op::OverUp2)
                benchmark::RegisterBenchmark((std::string(name) + "/pixman/" + size).c_str(), pixmanOver, op, w, h)
                    ->Unit(benchmark::kMillisecond);
#endif
        }
        if (w >= 1920) {  // a photo reduced into a 640 x 480 box, or 1280 x 960; WxH is the source
            // Both spread the work over the cores: wall time is what counts.
            for (const auto& [k, name] : {std::pair{1, "fit"}, std::pair{2, "fit_2x"}}) {
                benchmark::RegisterBenchmark((std::string(name) + "/tarvex/" + size).c_str(), fitTarvex, w, h, k)
                    ->Unit(benchmark::kMillisecond)->UseRealTime();
                benchmark::RegisterBenchmark((std::string(name) + "/qsmooth/" + size).c_str(), fitQSmooth, w, h, k)
                    ->Unit(benchmark::kMillisecond)->UseRealTime();
            }
        }
        benchmark::RegisterBenchmark(("pixel/tarvex/" + size).c_str(), [w = w, h = h](benchmark::State& state) {
            QImage img = picture(w, h, 3);
            const raster::Bitmap b = bitmap(img);
            int x = 0, y = 0;
            for (auto _ : state) {
                benchmark::DoNotOptimize(raster::GetPixel(b, x, y));
                step(x, y, w, h);
            }
        });
        benchmark::RegisterBenchmark(("pixel/qpainter/" + size).c_str(), [w = w, h = h](benchmark::State& state) {
            QImage img = picture(w, h, 3);
            int x = 0, y = 0;
            for (auto _ : state) {
                benchmark::DoNotOptimize(img.pixel(x, y));
                step(x, y, w, h);
            }
        });
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
