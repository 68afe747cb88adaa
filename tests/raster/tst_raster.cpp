// The raster primitives: exact results, clipping and memory safety, and the
// fast implementations against the plain reference on seeded random cases.
// A failing random case names its seed; TARVEX_RASTER_SEED=<n> replays it.
#include <QtTest>

#include <atomic>
#include <climits>
#include <cmath>
#include <random>
#include <thread>

#include "pixel_buffer.h"
#include "raster/raster.h"

using namespace tarvex;
using raster::Implementation;
using raster::Pixel;
using testing::PixelBuffer;

namespace {

Pixel grey(unsigned v)
{
    return 0xff000000u | v << 16 | v << 8 | v;
}

// Runs the body once per fast implementation the machine has, then goes
// back to the automatic choice.
template <typename Body>
void forEachImplementation(Body body, bool withReference = false)
{
    std::vector<Implementation> impls{Implementation::Generic};
    if (raster::avx2Supported())
        impls.push_back(Implementation::Avx2);
    if (withReference)
        impls.push_back(Implementation::Reference);
    for (Implementation impl : impls) {
        raster::setImplementation(impl);
        body(impl);
    }
    raster::setImplementation(Implementation::Automatic);
}

enum class Op { Copy, Stretch, Blend, Key, BlendOver, KeyOver, SoftKey, SoftKeyOver };
constexpr int kOps = 8;

struct Case {
    Op op;
    int dw, dh, sw, sh;
    int xd, yd, wd, hd, xs, ys, ws, hs;
    std::uint32_t blend;
    raster::ColorRef key;
    raster::SoftKey soft;
};

int randomCoordinate(std::mt19937& rng)
{
    switch (rng() % 12) {
    case 0: return INT_MIN + int(rng() % 3);
    case 1: return INT_MAX - int(rng() % 3);
    case 2: return int(rng() % 2001) - 1000;
    default: return int(rng() % 121) - 40;
    }
}

int randomExtent(std::mt19937& rng)
{
    switch (rng() % 12) {
    case 0: return INT_MIN + int(rng() % 3);
    case 1: return INT_MAX - int(rng() % 3);
    case 2: return 0;
    case 3: return int(rng() % 3001) - 1500;
    default: return int(rng() % 141) - 50;
    }
}

Case randomCase(std::mt19937& rng, PixelBuffer& src)
{
    Case c{};
    c.op = Op(rng() % kOps);
    c.xd = randomCoordinate(rng), c.yd = randomCoordinate(rng);
    c.wd = randomExtent(rng), c.hd = randomExtent(rng);
    c.xs = randomCoordinate(rng), c.ys = randomCoordinate(rng);
    c.ws = randomExtent(rng), c.hs = randomExtent(rng);
    if (rng() % 2) {  // a rectangle wholly inside the source, as the commands pass
        c.xs = src.width() ? int(rng() % unsigned(src.width())) : 0;
        c.ys = src.height() ? int(rng() % unsigned(src.height())) : 0;
        c.ws = src.width() - c.xs, c.hs = src.height() - c.ys;
        c.xd = int(rng() % 20) - 5, c.yd = int(rng() % 20) - 5;
        c.wd = int(rng() % 90) + 1, c.hd = int(rng() % 60) + 1;
        if (rng() % 4 == 0)
            c.wd = -c.wd, c.xd += int(rng() % 60);
        if (rng() % 4 == 0)
            c.hd = -c.hd, c.yd += int(rng() % 60);
    }
    c.blend = raster::packBlendFunction(0, 0, std::uint8_t(rng()), 0);
    if (rng() % 3 == 0)
        c.blend |= std::uint32_t(raster::AC_SRC_ALPHA) << 24;  // the source's own alpha
    if (rng() % 20 == 0)
        c.blend |= 2u << 24;  // no such format: refused
    const bool fromSource = rng() % 4 != 0 && src.width() > 0 && src.height() > 0;
    c.key = fromSource ? raster::toColorRef(src.at(int(rng() % unsigned(src.width())), int(rng() % unsigned(src.height()))))
                       : raster::ColorRef(rng() & 0x00ffffffu);
    if (rng() % 10 == 0)
        c.key = raster::CLR_INVALID;
    const int inner = rng() % 4 == 0 ? 0 : int(rng() % 200);
    c.soft = {c.key, inner, inner + 1 + int(rng() % unsigned(255 - inner))};
    if (rng() % 10 == 0)
        c.soft.outer = c.soft.inner;  // no ramp: the exact key
    return c;
}

bool run(const Case& c, PixelBuffer& dst, PixelBuffer& src, bool reference)
{
    const raster::Bitmap d = dst.bitmap(), s = src.bitmap();
    switch (c.op) {
    case Op::Copy:
        return reference ? raster::reference::BitBlt(d, c.xd, c.yd, c.wd, c.hd, s, c.xs, c.ys)
                         : raster::BitBlt(d, c.xd, c.yd, c.wd, c.hd, s, c.xs, c.ys);
    case Op::Stretch:
        return reference ? raster::reference::StretchBlt(d, c.xd, c.yd, c.wd, c.hd, s, c.xs, c.ys, c.ws, c.hs)
                         : raster::StretchBlt(d, c.xd, c.yd, c.wd, c.hd, s, c.xs, c.ys, c.ws, c.hs);
    case Op::Blend:
        return reference
                   ? raster::reference::AlphaBlend(d, c.xd, c.yd, c.wd, c.hd, s, c.xs, c.ys, c.ws, c.hs, c.blend)
                   : raster::AlphaBlend(d, c.xd, c.yd, c.wd, c.hd, s, c.xs, c.ys, c.ws, c.hs, c.blend);
    case Op::Key:
        return reference ? raster::reference::TransparentBlt(d, c.xd, c.yd, c.wd, c.hd, s, c.xs, c.ys, c.ws,
                                                             c.hs, c.key)
                         : raster::TransparentBlt(d, c.xd, c.yd, c.wd, c.hd, s, c.xs, c.ys, c.ws, c.hs, c.key);
    case Op::SoftKey:
        return reference ? raster::reference::TransparentBlt(d, c.xd, c.yd, c.wd, c.hd, s, c.xs, c.ys, c.ws,
                                                             c.hs, c.soft)
                         : raster::TransparentBlt(d, c.xd, c.yd, c.wd, c.hd, s, c.xs, c.ys, c.ws, c.hs, c.soft);
    case Op::BlendOver:
    case Op::KeyOver:
    case Op::SoftKeyOver: {
        // The picture drawn over: mostly the destination's size (the
        // one-pass path), sometimes another; for the key, sometimes the
        // destination itself; now and then one of the right size without
        // pixels, which must be treated as empty, never read.
        std::mt19937 g(c.key ^ c.blend);
        const bool same = g() % 5 != 0;
        const bool inPlace = c.op != Op::BlendOver && g() % 4 == 0;
        PixelBuffer under(same ? dst.width() : int(g() % 50), same ? dst.height() : int(g() % 40), int(g() % 4));
        under.randomise(g, 256);
        const PixelBuffer before = under;
        const raster::Bitmap absent{nullptr, dst.width(), dst.height(), dst.width()};
        const raster::Bitmap u = inPlace ? d : g() % 16 == 0 ? absent : under.bitmap();
        bool result;
        if (c.op == Op::BlendOver)
            result = reference ? raster::reference::AlphaBlendOver(d, u, c.xd, c.yd, c.wd, c.hd, s, c.xs, c.ys,
                                                                   c.ws, c.hs, c.blend)
                               : raster::AlphaBlendOver(d, u, c.xd, c.yd, c.wd, c.hd, s, c.xs, c.ys, c.ws, c.hs,
                                                        c.blend);
        else if (c.op == Op::KeyOver)
            result = reference ? raster::reference::TransparentBltOver(d, u, c.xd, c.yd, c.wd, c.hd, s, c.xs, c.ys,
                                                                       c.ws, c.hs, c.key)
                               : raster::TransparentBltOver(d, u, c.xd, c.yd, c.wd, c.hd, s, c.xs, c.ys, c.ws,
                                                            c.hs, c.key);
        else
            result = reference ? raster::reference::TransparentBltOver(d, u, c.xd, c.yd, c.wd, c.hd, s, c.xs, c.ys,
                                                                       c.ws, c.hs, c.soft)
                               : raster::TransparentBltOver(d, u, c.xd, c.yd, c.wd, c.hd, s, c.xs, c.ys, c.ws,
                                                            c.hs, c.soft);
        if (!(under == before) || !under.fenceIntact())
            qFatal("the picture drawn over changed");
        return result;
    }
    }
    return false;
}

// One seeded case: random buffers (sometimes empty, sometimes large enough
// for the vector and streaming paths), one random call, fast against
// reference, fences checked on both.
void checkSeed(unsigned seed)
{
    std::mt19937 rng(seed);
    auto size = [&]() { return rng() % 16 == 0 ? 0 : int(rng() % 70) + 1; };
    const bool large = rng() % 50 == 0;
    const int dw = large ? 1100 : size(), dh = large ? 1000 : size();
    const int sw = large ? 600 : size(), sh = large ? 520 : size();
    PixelBuffer src(sw, sh, int(rng() % 9)), dst(dw, dh, int(rng() % 9));
    src.randomise(rng, int(rng() % 6) + 1);
    dst.randomise(rng, 5);
    Case c = randomCase(rng, src);
    if (c.blend >> 24 == raster::AC_SRC_ALPHA)
        src.randomisePremultiplied(rng);
    else if (c.op == Op::SoftKey || c.op == Op::SoftKeyOver)
        src.scatterNear(rng, raster::fromColorRef(c.key));
    if (large && rng() % 2) {  // the commands' large shapes: whole pictures, doubled or halved
        c.xd = c.yd = c.xs = c.ys = 0;
        c.wd = dw, c.hd = dh;
        c.ws = (rng() % 2) ? sw : dw / 2, c.hs = (rng() % 2) ? sh : dh / 2;
        if (rng() % 3 == 0)
            c.xd = dw, c.wd = -dw;
    }
    PixelBuffer expected = dst;
    PixelBuffer srcCopy = src;
    const bool expectedResult = run(c, expected, srcCopy, true);
    const bool result = run(c, dst, src, false);
    const QByteArray where = QByteArray("seed ") + QByteArray::number(seed) + " op " + QByteArray::number(int(c.op));
    QVERIFY2(dst.fenceIntact(), where.constData());
    QVERIFY2(expected.fenceIntact(), where.constData());
    QVERIFY2(src == srcCopy, (where + ": source changed").constData());
    QVERIFY2(result == expectedResult, (where + ": result differs").constData());
    QVERIFY2(dst == expected, (where + ": pixels differ").constData());
}

// The area mean worked out independently, in doubles: each destination
// pixel covers [i * sw / dw, (i + 1) * sw / dw) of the source columns, and
// rows likewise.
std::vector<double> areaMean(const PixelBuffer& src, int dw, int dh, int channel)
{
    const auto cover = [](int s, int d, int i, int x) {
        const double lo = double(i) * s / d, hi = double(i + 1) * s / d;
        return std::max(0.0, std::min(hi, x + 1.0) - std::max(lo, double(x)));
    };
    std::vector<double> out(std::size_t(dw) * std::size_t(dh));
    for (int j = 0; j < dh; ++j)
        for (int i = 0; i < dw; ++i) {
            double sum = 0, area = 0;
            const int x0 = int(std::floor(double(i) * src.width() / dw));
            const int y0 = int(std::floor(double(j) * src.height() / dh));
            for (int y = y0; y < src.height() && y <= (j + 1.0) * src.height() / dh; ++y)
                for (int x = x0; x < src.width() && x <= (i + 1.0) * src.width() / dw; ++x) {
                    const double w = cover(src.width(), dw, i, x) * cover(src.height(), dh, j, y);
                    sum += w * ((src.at(x, y) >> (8 * channel)) & 0xffu);
                    area += w;
                }
            out[std::size_t(j) * std::size_t(dw) + std::size_t(i)] = sum / area;
        }
    return out;
}

struct ReduceCase {
    int sw, sh, dw, dh;
};

// A random reduction: mostly small, with integral factors, tall, wide and
// single-pixel shapes mixed in.
ReduceCase randomReduction(std::mt19937& rng)
{
    const auto pick = [&](int max) { return int(rng() % unsigned(max)) + 1; };
    switch (rng() % 7) {
    case 6: {  // tall enough that a row's weights add up past what 16-bit sums hold
        const int sw = pick(40), sh = 127 + pick(300);
        return {sw, sh, pick(sw), pick(std::min(sh, 40))};
    }
    case 0: {  // integral factors
        const int dw = pick(20), dh = pick(20);
        return {dw * pick(6), dh * pick(6), dw, dh};
    }
    case 1: return {1, pick(90), 1, 1};
    case 2: { const int sw = pick(400); return {sw, 1, pick(sw), 1}; }
    case 3: { const int sw = pick(90), sh = pick(90); return {sw, sh, sw, pick(sh)}; }
    default: { const int sw = pick(120), sh = pick(80); return {sw, sh, pick(sw), pick(sh)}; }
    }
}

// The alpha blend and the soft key in doubles, straight from what they
// mean: source-over of a premultiplied pixel at an opacity, and colour to
// alpha with the key's share taken out of the colour.
double overExact(double s, double sa, double u, double a)
{
    return std::min(255.0, s * a / 255 + u * (1 - sa * a / 65025));
}

double softKeyExact(double p, double k, double u, int distance, int inner, int outer)
{
    const double alpha = distance <= inner ? 0 : distance >= outer ? 1 : double(distance - inner) / (outer - inner);
    const double own = std::clamp(p - (1 - alpha) * k, 0.0, 255 * alpha);
    return own + (1 - alpha) * u;
}

// Runs `draw` on a copy of `base` with every implementation: each result
// must be within 1 of `exact` on every channel, fast paths identical to
// each other, and the fences intact.
template <typename Draw, typename Exact>
void checkAgainstExact(const PixelBuffer& base, Draw draw, Exact exact, const QString& what)
{
    std::vector<PixelBuffer> results;
    forEachImplementation(
        [&](Implementation impl) {
            PixelBuffer dst = base;
            draw(dst);
            QVERIFY(dst.fenceIntact());
            for (int y = 0; y < dst.height(); ++y)
                for (int x = 0; x < dst.width(); ++x)
                    for (int c = 0; c < 4; ++c) {
                        const double want = exact(x, y, c);
                        const int got = int((dst.at(x, y) >> (8 * c)) & 0xffu);
                        if (std::abs(got - want) > 1.0)
                            QFAIL(qPrintable(QStringLiteral("%1, impl %2, pixel %3,%4 channel %5: %6, exact %7")
                                                 .arg(what).arg(int(impl)).arg(x).arg(y).arg(c).arg(got).arg(want)));
                    }
            if (impl != Implementation::Reference)
                results.push_back(dst);
        },
        true);
    for (const PixelBuffer& r : results)
        QVERIFY2(r == results.front(), qPrintable(what + QStringLiteral(": the fast paths differ")));
}

}  // namespace

class TestRaster : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { raster::setImplementation(Implementation::Automatic); }

    void blendIsExactForEveryOpacityAndChannelValue()
    {
        // Source channels carry the column, destination channels the row:
        // one call per opacity covers every pair of channel values.
        PixelBuffer src(256, 256), base(256, 256);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x) {
                src.at(x, y) = grey(unsigned(x));
                base.at(x, y) = grey(unsigned(y));
            }
        forEachImplementation(
            [&](Implementation impl) {
                for (unsigned a = 0; a < 256; ++a) {
                    PixelBuffer dst = base;
                    QVERIFY(raster::AlphaBlend(dst.bitmap(), 0, 0, 256, 256, src.bitmap(), 0, 0, 256, 256,
                                               raster::packBlendFunction(0, 0, std::uint8_t(a), 0)));
                    for (int y = 0; y < 256; ++y)
                        for (int x = 0; x < 256; ++x) {
                            const auto want = unsigned(std::lround((x * a + y * (255.0 - a)) / 255.0));
                            if (dst.at(x, y) != (0xff000000u | want << 16 | want << 8 | want))
                                QFAIL(qPrintable(QStringLiteral("impl %1 alpha %2 s %3 d %4 gave %5")
                                                     .arg(int(impl)).arg(a).arg(x).arg(y)
                                                     .arg(dst.at(x, y), 8, 16)));
                        }
                }
            },
            true);
    }

    void sourceAlphaBlendIsWithinOneOfExact()
    {
        // Columns carry the source's alpha, rows its premultiplied colours
        // and the destination's, so every alpha meets many channel pairs.
        PixelBuffer src(256, 97), base(256, 97, 5);
        for (int y = 0; y < 97; ++y)
            for (int x = 0; x < 256; ++x) {
                const unsigned a = unsigned(x);
                src.at(x, y) = a << 24 | (unsigned(y) * 37 % (a + 1)) << 16 | (unsigned(y) * a / 96) << 8 |
                               (unsigned(x + y) % (a + 1));
                base.at(x, y) = 0xff000000u | unsigned(y * 255 / 96) << 16 | unsigned(x ^ y) << 8 | unsigned(255 - x);
            }
        for (unsigned a : {0u, 1u, 64u, 127u, 128u, 200u, 254u, 255u}) {
            const auto channel = [](Pixel p, int c) { return double((p >> (8 * c)) & 0xffu); };
            checkAgainstExact(
                base,
                [&](PixelBuffer& dst) {
                    QVERIFY(raster::AlphaBlend(dst.bitmap(), 0, 0, 256, 97, src.bitmap(), 0, 0, 256, 97,
                                               raster::packBlendFunction(0, 0, std::uint8_t(a), raster::AC_SRC_ALPHA)));
                },
                [&](int x, int y, int c) {
                    return overExact(channel(src.at(x, y), c), double(x), channel(base.at(x, y), c), a);
                },
                QStringLiteral("opacity %1").arg(a));
            if (QTest::currentTestFailed())
                return;
            // Stretched from half the size: each pixel against the one it samples.
            checkAgainstExact(
                base,
                [&](PixelBuffer& dst) {
                    QVERIFY(raster::AlphaBlend(dst.bitmap(), 0, 0, 256, 97, src.bitmap(), 0, 0, 128, 48,
                                               raster::packBlendFunction(0, 0, std::uint8_t(a), raster::AC_SRC_ALPHA)));
                },
                [&](int x, int y, int c) {
                    const int sx = (2 * x + 1) * 128 / 512, sy = (2 * y + 1) * 48 / 194;
                    return overExact(channel(src.at(sx, sy), c), double(sx), channel(base.at(x, y), c), a);
                },
                QStringLiteral("opacity %1, stretched").arg(a));
            if (QTest::currentTestFailed())
                return;
        }
    }

    void opaqueSourceWithAlphaBlendsAsTheConstantOpacityBlend()
    {
        // An opaque picture through the alpha path must give the
        // constant-opacity blend's pixels to the bit, at every opacity.
        std::mt19937 rng(3);
        PixelBuffer src(61, 23), base(61, 23);
        src.randomise(rng, 256);
        base.randomise(rng, 256);
        forEachImplementation(
            [&](Implementation) {
                for (unsigned a = 0; a < 256; a += 3) {
                    PixelBuffer plain = base, alpha = base;
                    raster::AlphaBlend(plain.bitmap(), 3, 2, 50, 19, src.bitmap(), 0, 0, 61, 23,
                                       raster::packBlendFunction(0, 0, std::uint8_t(a), 0));
                    raster::AlphaBlend(alpha.bitmap(), 3, 2, 50, 19, src.bitmap(), 0, 0, 61, 23,
                                       raster::packBlendFunction(0, 0, std::uint8_t(a), raster::AC_SRC_ALPHA));
                    QVERIFY(plain == alpha);
                }
            },
            true);
    }

    void softKeyIsWithinOneOfExact_data()
    {
        QTest::addColumn<Pixel>("key");
        QTest::addColumn<int>("inner");
        QTest::addColumn<int>("outer");
        QTest::newRow("green, the default ramp") << Pixel(0xff00ff00u) << 24 << 48;
        QTest::newRow("black, narrow") << Pixel(0xff000000u) << 8 << 20;
        QTest::newRow("white, wide") << Pixel(0xffffffffu) << 40 << 120;
        QTest::newRow("mid grey, step of one") << Pixel(0xff808080u) << 30 << 31;
        QTest::newRow("purple, from zero") << Pixel(0xffa020f0u) << 0 << 255;
    }

    void softKeyIsWithinOneOfExact()
    {
        QFETCH(Pixel, key);
        QFETCH(int, inner);
        QFETCH(int, outer);
        std::mt19937 rng(11);
        PixelBuffer src(203, 61), base(203, 61, 4);
        src.scatterNear(rng, key);
        base.randomise(rng, 256);
        const raster::SoftKey soft{raster::toColorRef(key), inner, outer};
        const auto channel = [](Pixel p, int c) { return double((p >> (8 * c)) & 0xffu); };
        checkAgainstExact(
            base,
            [&](PixelBuffer& dst) {
                QVERIFY(raster::TransparentBlt(dst.bitmap(), 0, 0, 203, 61, src.bitmap(), 0, 0, 203, 61, soft));
            },
            [&](int x, int y, int c) {
                const Pixel p = src.at(x, y);
                return softKeyExact(channel(p, c), channel(key, c), channel(base.at(x, y), c),
                                    raster::pixel::keyDistance(p, key), inner, outer);
            },
            QStringLiteral("soft key"));
        if (QTest::currentTestFailed())
            return;
        // Stretched from a smaller source (the key refuses mirrored extents:
        // frames are mirrored by the copy): each destination pixel against
        // the source pixel whose centre it samples.
        const int sw = 71, sh = 29;
        const auto sampled = [](int i, int source, int target) { return (2 * i + 1) * source / (2 * target); };
        checkAgainstExact(
            base,
            [&](PixelBuffer& dst) {
                QVERIFY(raster::TransparentBlt(dst.bitmap(), 0, 0, 203, 61, src.bitmap(), 0, 0, sw, sh, soft));
            },
            [&](int x, int y, int c) {
                const Pixel p = src.at(sampled(x, sw, 203), sampled(y, sh, 61));
                return softKeyExact(channel(p, c), channel(key, c), channel(base.at(x, y), c),
                                    raster::pixel::keyDistance(p, key), inner, outer);
            },
            QStringLiteral("soft key, stretched"));
    }

    void softKeyEdgesAreExact()
    {
        // Within the inner distance the destination stays, from the outer
        // one on the source is copied: TransparentBlt's rule at both ends.
        PixelBuffer src(4, 1), dst(4, 1);
        const Pixel key = 0xff204060u;
        src.at(0, 0) = key;
        src.at(1, 0) = key + 10;        // blue off by 10: within inner
        src.at(2, 0) = key + (30 << 8);  // green off by 30: at outer
        src.at(3, 0) = key - (20 << 16);  // red off by 20: on the ramp
        for (int x = 0; x < 4; ++x)
            dst.at(x, 0) = 0xff0a0b0cu;
        forEachImplementation(
            [&](Implementation) {
                PixelBuffer out = dst;
                raster::TransparentBlt(out.bitmap(), 0, 0, 4, 1, src.bitmap(), 0, 0, 4, 1,
                                       raster::SoftKey{raster::toColorRef(key), 10, 30});
                QCOMPARE(out.at(0, 0), dst.at(0, 0));
                QCOMPARE(out.at(1, 0), dst.at(1, 0));
                QCOMPARE(out.at(2, 0), src.at(2, 0));
                QVERIFY(out.at(3, 0) != dst.at(3, 0) && out.at(3, 0) != src.at(3, 0));
            },
            true);
    }

    void fastPathsMatchTheReference()
    {
        const QByteArray replay = qgetenv("TARVEX_RASTER_SEED");
        const unsigned first = replay.isEmpty() ? 1 : replay.toUInt();
        const unsigned count = replay.isEmpty() ? 3000 : 1;
        forEachImplementation([&](Implementation) {
            for (unsigned seed = first; seed < first + count; ++seed) {
                checkSeed(seed);
                if (QTest::currentTestFailed())
                    return;
            }
        });
    }

    void picturesLargerThanTheCacheTakeTheStreamingPaths()
    {
        // Over 16 MiB of destination: the copies bypass the cache. Odd
        // widths and offsets put the aligned part of each row in a
        // different place on every row.
        std::mt19937 rng(7);
        PixelBuffer src(2101, 2003, 5), dst(2103, 2003, 3);
        src.randomise(rng, 50);
        dst.randomise(rng, 5);
        const struct {
            int xd, yd, wd, hd, xs, ys, ws, hs;
        } cases[] = {
            {1, 0, 2101, 2003, 0, 0, 2101, 2003},      // straight
            {2102, 0, -2101, 2003, 0, 0, 2101, 2003},  // mirrored left-right
            {2101, 0, -2101, 2003, 0, 1, 2101, 2002},  // mirrored, one pixel further
            {0, 2003, 2101, -2003, 0, 0, 2101, 1001},  // mirrored top-bottom, stretched
            {1, 1, 2102, 2002, 0, 0, 1051, 1001},      // doubled
            {3, 0, 2099, 2003, 5, 0, 2096, 1001},      // a general stretch
        };
        for (const auto& c : cases) {
            PixelBuffer expected = dst;
            raster::reference::StretchBlt(expected.bitmap(), c.xd, c.yd, c.wd, c.hd, src.bitmap(), c.xs, c.ys, c.ws, c.hs);
            forEachImplementation([&](Implementation) {
                PixelBuffer got = dst;
                raster::StretchBlt(got.bitmap(), c.xd, c.yd, c.wd, c.hd, src.bitmap(), c.xs, c.ys, c.ws, c.hs);
                QVERIFY(got.fenceIntact());
                QVERIFY(got == expected);
            });
        }
        PixelBuffer expected = dst;
        raster::reference::BitBlt(expected.bitmap(), 7, 1, 2101, 2003, src.bitmap(), 0, 0);
        forEachImplementation([&](Implementation) {
            PixelBuffer got = dst;
            raster::BitBlt(got.bitmap(), 7, 1, 2101, 2003, src.bitmap(), 0, 0);
            QVERIFY(got.fenceIntact());
            QVERIFY(got == expected);
        });
        // Drawn over a picture of the destination's size: blended, and
        // colour-keyed with one of the source's colours as the key.
        PixelBuffer under(2103, 2003, 1);
        under.randomise(rng, 256);
        const raster::ColorRef key = raster::toColorRef(src.at(5, 5));
        const auto over = [&](PixelBuffer& into, bool reference) {
            const raster::Bitmap d = into.bitmap(), u = under.bitmap(), s = src.bitmap();
            const std::uint32_t blend = raster::packBlendFunction(0, 0, 77, 0);
            if (reference)
                raster::reference::AlphaBlendOver(d, u, 3, 1, 2099, 2001, s, 1, 0, 2099, 2001, blend);
            else
                raster::AlphaBlendOver(d, u, 3, 1, 2099, 2001, s, 1, 0, 2099, 2001, blend);
            PixelBuffer keyed = into;
            const raster::Bitmap k = keyed.bitmap();
            if (reference)
                raster::reference::TransparentBltOver(k, u, 1, 2, 2100, 2000, s, 0, 1, 2100, 2000, key);
            else
                raster::TransparentBltOver(k, u, 1, 2, 2100, 2000, s, 0, 1, 2100, 2000, key);
            return keyed;
        };
        PixelBuffer overExpected = dst;
        const PixelBuffer keyedExpected = over(overExpected, true);
        forEachImplementation([&](Implementation) {
            PixelBuffer got = dst;
            const PixelBuffer keyed = over(got, false);
            QVERIFY(got.fenceIntact() && keyed.fenceIntact());
            QVERIFY(got == overExpected);
            QVERIFY(keyed == keyedExpected);
        });
        // A premultiplied source laid by its alpha, in place and over the
        // picture, and the soft key over it.
        PixelBuffer soft(2101, 2003, 5);
        soft.randomisePremultiplied(rng);
        const std::uint32_t byAlpha = raster::packBlendFunction(0, 0, 255, raster::AC_SRC_ALPHA);
        const raster::SoftKey near{key, 20, 60};
        const auto alphaDraws = [&](PixelBuffer& into, bool reference) {
            const raster::Bitmap d = into.bitmap(), u = under.bitmap(), s = soft.bitmap();
            PixelBuffer overUnder = into, keyedSoft = into;
            if (reference) {
                raster::reference::AlphaBlend(d, 2, 0, 2101, 2003, s, 0, 0, 2101, 2003, byAlpha);
                raster::reference::AlphaBlendOver(overUnder.bitmap(), u, 0, 1, 2100, 2002, s, 1, 0, 2100, 2002, byAlpha);
                raster::reference::TransparentBltOver(keyedSoft.bitmap(), u, 1, 2, 2100, 2000, src.bitmap(), 0, 1, 2100,
                                                      2000, near);
            } else {
                raster::AlphaBlend(d, 2, 0, 2101, 2003, s, 0, 0, 2101, 2003, byAlpha);
                raster::AlphaBlendOver(overUnder.bitmap(), u, 0, 1, 2100, 2002, s, 1, 0, 2100, 2002, byAlpha);
                raster::TransparentBltOver(keyedSoft.bitmap(), u, 1, 2, 2100, 2000, src.bitmap(), 0, 1, 2100, 2000, near);
            }
            return std::pair{overUnder, keyedSoft};
        };
        PixelBuffer inPlaceExpected = dst;
        const auto expectedDraws = alphaDraws(inPlaceExpected, true);  // no bindings: lambdas below read them
        const PixelBuffer& overUnderExpected = expectedDraws.first;
        const PixelBuffer& softExpected = expectedDraws.second;
        forEachImplementation([&](Implementation) {
            PixelBuffer got = dst;
            const auto [overUnder, keyedSoft] = alphaDraws(got, false);
            QVERIFY(got.fenceIntact() && overUnder.fenceIntact() && keyedSoft.fenceIntact());
            QVERIFY(got == inPlaceExpected);
            QVERIFY(overUnder == overUnderExpected);
            QVERIFY(keyedSoft == softExpected);
        });
    }

    void mirroredCopyReversesColumnsAndRows()
    {
        PixelBuffer src(13, 7), dst(13, 7);
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 13; ++x)
                src.at(x, y) = 0xff000000u | unsigned(y << 8 | x);
        forEachImplementation(
            [&](Implementation) {
                // x = W, width -W: column i shows source column W - 1 - i.
                QVERIFY(raster::StretchBlt(dst.bitmap(), 13, 0, -13, 7, src.bitmap(), 0, 0, 13, 7));
                for (int y = 0; y < 7; ++y)
                    for (int x = 0; x < 13; ++x)
                        QCOMPARE(dst.at(x, y), src.at(12 - x, y));
                QVERIFY(raster::StretchBlt(dst.bitmap(), 0, 7, 13, -7, src.bitmap(), 0, 0, 13, 7));
                for (int y = 0; y < 7; ++y)
                    for (int x = 0; x < 13; ++x)
                        QCOMPARE(dst.at(x, y), src.at(x, 6 - y));
            },
            true);
    }

    void stretchSamplesPixelCentres_data()
    {
        QTest::addColumn<int>("srcWidth");
        QTest::addColumn<int>("dstWidth");
        QTest::addColumn<QList<int>>("samples");
        QTest::newRow("enlarge 1:2") << 3 << 6 << QList<int>{0, 0, 1, 1, 2, 2};
        QTest::newRow("reduce 2:1") << 6 << 3 << QList<int>{1, 3, 5};
        QTest::newRow("reduce to a third") << 9 << 3 << QList<int>{1, 4, 7};
        QTest::newRow("640 to 213") << 640 << 213 << QList<int>{1, 4};
        QTest::newRow("enlarge 2:3") << 2 << 3 << QList<int>{0, 1, 1};
    }
    void stretchSamplesPixelCentres()
    {
        QFETCH(int, srcWidth);
        QFETCH(int, dstWidth);
        QFETCH(QList<int>, samples);
        PixelBuffer src(srcWidth, 1), dst(dstWidth, 1);
        for (int x = 0; x < srcWidth; ++x)
            src.at(x, 0) = 0xff000000u | unsigned(x);
        forEachImplementation(
            [&](Implementation) {
                QVERIFY(raster::StretchBlt(dst.bitmap(), 0, 0, dstWidth, 1, src.bitmap(), 0, 0, srcWidth, 1));
                for (int i = 0; i < samples.size(); ++i)
                    QCOMPARE(int(dst.at(i, 0) & 0xffffu), samples[i]);
            },
            true);
    }

    void refusedCallsDrawNothing_data()
    {
        QTest::addColumn<int>("op");
        QTest::addColumn<QList<int>>("args");  // xd yd wd hd xs ys ws hs
        QTest::addColumn<bool>("result");
        QTest::newRow("copy, zero width") << int(Op::Copy) << QList<int>{0, 0, 0, 4, 0, 0, 0, 0} << false;
        QTest::newRow("copy, negative height") << int(Op::Copy) << QList<int>{0, 0, 4, -4, 0, 0, 0, 0} << false;
        QTest::newRow("copy, far outside") << int(Op::Copy) << QList<int>{INT_MAX, 0, INT_MAX, 4, 0, 0, 0, 0} << true;
        QTest::newRow("stretch, zero source") << int(Op::Stretch) << QList<int>{0, 0, 4, 4, 0, 0, 0, 4} << false;
        QTest::newRow("blend, mirrored") << int(Op::Blend) << QList<int>{4, 0, -4, 4, 0, 0, 4, 4} << false;
        QTest::newRow("blend, source past the edge") << int(Op::Blend) << QList<int>{0, 0, 4, 4, 1, 0, 4, 4} << false;
        QTest::newRow("blend, source before the edge") << int(Op::Blend) << QList<int>{0, 0, 4, 4, 0, -1, 4, 4} << false;
        QTest::newRow("key, mirrored") << int(Op::Key) << QList<int>{4, 0, -4, 4, 0, 0, 4, 4} << false;
        QTest::newRow("key, source wholly outside") << int(Op::Key) << QList<int>{0, 0, 4, 4, 9, 9, 4, 4} << true;
        QTest::newRow("soft key, mirrored") << int(Op::SoftKey) << QList<int>{4, 0, -4, 4, 0, 0, 4, 4} << false;
        QTest::newRow("soft key, zero source") << int(Op::SoftKey) << QList<int>{0, 0, 4, 4, 0, 0, 4, 0} << false;
        QTest::newRow("stretch, INT_MIN extents") << int(Op::Stretch) << QList<int>{INT_MAX, INT_MAX, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN} << true;
    }
    void refusedCallsDrawNothing()
    {
        QFETCH(int, op);
        QFETCH(QList<int>, args);
        QFETCH(bool, result);
        PixelBuffer src(4, 4), before(4, 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                src.at(x, y) = grey(200), before.at(x, y) = grey(10);
        const Case c{Op(op), 4, 4, 4, 4, args[0], args[1], args[2], args[3], args[4], args[5], args[6], args[7],
                     raster::packBlendFunction(0, 0, 128, 0), raster::toColorRef(grey(1)),
                     raster::SoftKey{raster::toColorRef(grey(1)), 4, 20}};
        forEachImplementation(
            [&](Implementation) {
                PixelBuffer dst = before;
                QCOMPARE(run(c, dst, src, false), result);
                QVERIFY(dst == before);
            },
            true);
    }

    void colourKeyLeavesExactMatchesOnly()
    {
        // A frame: red border, key-green window, one nearly-green pixel.
        PixelBuffer frame(6, 6), picture(6, 6);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 6; ++x) {
                const bool window = x > 0 && x < 5 && y > 0 && y < 5;
                frame.at(x, y) = window ? 0xff00ff00u : 0xffff0000u;
                picture.at(x, y) = grey(unsigned(10 * (x + 6 * y)));
            }
        frame.at(2, 2) = 0xff00fe00u;
        frame.at(3, 3) = 0x0000ff00u;  // the alpha byte is not part of the colour
        forEachImplementation(
            [&](Implementation) {
                PixelBuffer dst = picture;
                QVERIFY(raster::TransparentBlt(dst.bitmap(), 0, 0, 6, 6, frame.bitmap(), 0, 0, 6, 6,
                                               raster::toColorRef(0xff00ff00u)));
                for (int y = 0; y < 6; ++y)
                    for (int x = 0; x < 6; ++x) {
                        const bool seeThrough = (frame.at(x, y) & 0xffffffu) == 0x00ff00u;
                        QCOMPARE(dst.at(x, y), seeThrough ? picture.at(x, y) : frame.at(x, y));
                    }
                PixelBuffer opaque = picture;
                QVERIFY(raster::TransparentBlt(opaque.bitmap(), 0, 0, 6, 6, frame.bitmap(), 0, 0, 6, 6,
                                               raster::CLR_INVALID));
                QVERIFY(opaque == frame);
            },
            true);
    }

    // Each channel within 1 of the true area mean; exact where the factors
    // are whole numbers (every pixel then weighs the same); and every
    // implementation gives the reference's pixels, touching nothing else.
    void reductionAveragesTheCoveredArea()
    {
        const QByteArray replay = qgetenv("TARVEX_RASTER_SEED");
        const unsigned first = replay.isEmpty() ? 1 : replay.toUInt();
        const unsigned count = replay.isEmpty() ? 400 : 1;
        std::vector<ReduceCase> cases{{1, 1, 1, 1}, {20000, 1, 640, 1}, {20000, 1, 1, 1}, {1, 3000, 1, 7},
                                      {997, 3, 640, 2}, {1920, 1080, 640, 360}, {1279, 961, 640, 481},
                                      {4099, 2053, 3, 2},  // weights adding up past 2^23
                                      {6000, 400, 640, 42}};  // a photo's width, rows weighing past 16 bits
        for (unsigned seed = first; seed < first + count; ++seed) {
            std::mt19937 rng(seed);
            const ReduceCase c = (replay.isEmpty() && seed <= cases.size()) ? cases[seed - 1] : randomReduction(rng);
            PixelBuffer src(c.sw, c.sh, int(rng() % 9));
            src.randomise(rng, rng() % 3 == 0 ? 2 : 256);
            PixelBuffer expected(c.dw, c.dh, int(rng() % 5));
            raster::setImplementation(Implementation::Reference);
            QVERIFY(raster::ReduceArea(expected.bitmap(), src.bitmap()));
            const QByteArray where = "seed " + QByteArray::number(seed) + ": " + QByteArray::number(c.sw) + "x" +
                                     QByteArray::number(c.sh) + " to " + QByteArray::number(c.dw) + "x" +
                                     QByteArray::number(c.dh);
            const bool integral = c.sw % c.dw == 0 && c.sh % c.dh == 0;
            for (int ch = 0; ch < 4; ++ch) {
                const std::vector<double> mean = areaMean(src, c.dw, c.dh, ch);
                for (int j = 0; j < c.dh; ++j)
                    for (int i = 0; i < c.dw; ++i) {
                        const double want = mean[std::size_t(j) * std::size_t(c.dw) + std::size_t(i)];
                        const double got = (expected.at(i, j) >> (8 * ch)) & 0xffu;
                        const double allowed = integral ? 0.5 : 1.0;
                        QVERIFY2(std::abs(got - want) <= allowed + 1e-9,
                                 (where + " pixel " + QByteArray::number(i) + "," + QByteArray::number(j)).constData());
                    }
            }
            const PixelBuffer srcBefore = src;
            forEachImplementation([&](Implementation impl) {
                PixelBuffer target = expected;
                for (int y = 0; y < c.dh; ++y)
                    for (int x = 0; x < c.dw; ++x)
                        target.at(x, y) = 0;
                QVERIFY(raster::ReduceArea(target.bitmap(), src.bitmap()));
                const QByteArray label = where + " impl " + QByteArray::number(int(impl));
                QVERIFY2(target == expected, label.constData());
                QVERIFY2(target.fenceIntact() && src == srcBefore, label.constData());
            });
            if (QTest::currentTestFailed())
                return;
        }
    }

    // Large reductions are split over helper threads shared by the whole
    // process; callers on several threads at once must neither wait for
    // one another forever nor get each other's rows.
    void reductionsOnSeveralThreadsAtOnce()
    {
        std::mt19937 rng(7);
        PixelBuffer src(1500, 1001);
        src.randomise(rng, 256);
        PixelBuffer expected(640, 427);
        raster::setImplementation(Implementation::Reference);
        QVERIFY(raster::ReduceArea(expected.bitmap(), src.bitmap()));
        raster::setImplementation(Implementation::Automatic);
        std::atomic<int> wrong{0};
        std::vector<std::thread> callers;
        for (int t = 0; t < 4; ++t)
            callers.emplace_back([&] {
                PixelBuffer target(640, 427);
                for (int i = 0; i < 15; ++i)
                    if (!raster::ReduceArea(target.bitmap(), src.bitmap()) || !(target == expected))
                        ++wrong;
            });
        for (std::thread& t : callers)
            t.join();
        QCOMPARE(wrong.load(), 0);
    }

    void reductionRefusesToEnlarge_data()
    {
        QTest::addColumn<int>("dw");
        QTest::addColumn<int>("dh");
        QTest::newRow("wider") << 11 << 5;
        QTest::newRow("taller") << 4 << 9;
        QTest::newRow("empty target") << 0 << 3;
    }

    void reductionRefusesToEnlarge()
    {
        QFETCH(int, dw);
        QFETCH(int, dh);
        PixelBuffer src(10, 8), dst(dw, dh);
        const PixelBuffer before = dst;
        forEachImplementation([&](Implementation) {
            QVERIFY(!raster::ReduceArea(dst.bitmap(), src.bitmap()));
            QVERIFY(dst == before);
        }, true);
    }

    // Every row length through the vector loop and its tail: blue, green,
    // red per pixel, and not a byte written past 3 * n.
    void rowsPackToAndUnpackFromBmpOrder()
    {
        std::mt19937 rng(7);
        std::vector<Pixel> pixels(70);
        for (Pixel& p : pixels)
            p = rng();
        forEachImplementation([&](Implementation impl) {
            for (int n = 0; n <= int(pixels.size()); ++n) {
                const QString where = QStringLiteral("impl %1 n %2").arg(int(impl)).arg(n);
                std::vector<std::uint8_t> out(std::size_t(3 * n) + 40, 0xA5);
                raster::PackBgr24(out.data(), pixels.data(), n);
                for (int k = 0; k < n; ++k)
                    for (int c = 0; c < 3; ++c)
                        QCOMPARE(int(out[std::size_t(3 * k + c)]), int((pixels[std::size_t(k)] >> (8 * c)) & 0xffu));
                for (std::size_t i = std::size_t(3 * n); i < out.size(); ++i)
                    QVERIFY2(out[i] == 0xA5, qPrintable(where));
                // And back, from a buffer of exactly 3n bytes: a read past
                // them fails the sanitizer build.
                std::vector<std::uint8_t> packed(out.begin(), out.begin() + 3 * n);
                std::vector<Pixel> back(std::size_t(n) + 9, 0xA5A5A5A5u);
                raster::UnpackBgr24(back.data(), packed.data(), n);
                for (int k = 0; k < n; ++k)
                    QVERIFY2(back[std::size_t(k)] == (pixels[std::size_t(k)] | 0xff000000u), qPrintable(where));
                for (std::size_t i = std::size_t(n); i < back.size(); ++i)
                    QVERIFY2(back[i] == 0xA5A5A5A5u, qPrintable(where));
            }
        }, true);
    }

    void pixelReadGivesColorRefOrInvalid()
    {
        PixelBuffer b(3, 2);
        b.at(2, 1) = 0xff123456u;
        QCOMPARE(raster::GetPixel(b.bitmap(), 2, 1), raster::ColorRef(0x00563412u));
        for (auto [x, y] : {std::pair{3, 0}, {0, 2}, {-1, 0}, {0, -1}, {INT_MIN, INT_MAX}})
            QCOMPARE(raster::GetPixel(b.bitmap(), x, y), raster::CLR_INVALID);
        QCOMPARE(raster::GetPixel(raster::Bitmap{}, 0, 0), raster::CLR_INVALID);
        QCOMPARE(raster::fromColorRef(0x00563412u), Pixel(0xff123456u));
    }
};

QTEST_APPLESS_MAIN(TestRaster)
#include "tst_raster.moc"
