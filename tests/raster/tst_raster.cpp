// The raster primitives' fast implementations against the plain reference
// on seeded random cases, clipping and memory safety, and the geometry of
// copies and stretches. A failing random case names its seed;
// TARVEX_RASTER_SEED=<n> replays it.
#include <QtTest>

#include <climits>
#include <random>

#include "raster_checks.h"

using namespace tarvex;
using namespace tarvex::testing;

namespace {

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
    // A noise limit of 0 is the exact key; shares from a sliver to all of
    // the range; lean limits from none allowed to no check at all.
    const int noise = rng() % 8 == 0 ? 0 : int(rng() % 200);
    c.soft = {c.key, noise, double(rng() % 1000 + 1) / 1000, int(rng() % 256)};
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

}  // namespace

class TestRaster : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { raster::setImplementation(Implementation::Automatic); }

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
        const raster::SoftKey near{key, 20};
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
                     raster::SoftKey{raster::toColorRef(grey(1)), 4}};
        forEachImplementation(
            [&](Implementation) {
                PixelBuffer dst = before;
                QCOMPARE(run(c, dst, src, false), result);
                QVERIFY(dst == before);
            },
            true);
    }
};

QTEST_APPLESS_MAIN(TestRaster)
#include "tst_raster.moc"
