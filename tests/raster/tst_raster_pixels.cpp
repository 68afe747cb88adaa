// What the raster primitives do to each pixel: the blends and the colour
// keys against their arithmetic worked out in doubles, rows to and from
// BMP order, the pixel read.
#include <QtTest>

#include <climits>
#include <random>

#include "raster_checks.h"

using namespace tarvex;
using namespace tarvex::testing;

namespace {

// The alpha blend and the soft key in doubles, straight from what they
// mean: source-over of a premultiplied pixel at an opacity, and colour to
// alpha with the key's share taken out of the colour.
double overExact(double s, double sa, double u, double a)
{
    return std::min(255.0, s * a / 255 + u * (1 - sa * a / 65025));
}

// The soft key's alpha of sample p, 0 to 1: on each channel its distance
// from the key beyond the noise, over the most there can be in that
// direction; opaque where a channel reaches the opaque share of its range,
// unless the sample leans toward the key's hue (the least of the key's
// high channels above the most of its low ones) by more than allowed.
double softAlphaExact(Pixel p, Pixel k, const raster::SoftKey& key)
{
    double share = 0;
    bool opaque = false;
    int least = 255, most = 0, keyLeast = 255, keyMost = 0;
    bool high = false, low = false;
    for (int c = 0; c < 3; ++c) {
        const double pc = channel(p, c), kc = channel(k, c);
        const double range = pc > kc ? 255 - kc : kc, distance = std::abs(pc - kc);
        if (range > key.noise) {
            share = std::max(share, std::max(distance - key.noise, 0.0) / (range - key.noise));
            opaque = opaque || distance >= key.noise + key.opaqueShare * (range - key.noise);
        }
        (kc >= 128 ? least : most) = kc >= 128 ? std::min(least, int(pc)) : std::max(most, int(pc));
        (kc >= 128 ? keyLeast : keyMost) = kc >= 128 ? std::min(keyLeast, int(kc)) : std::max(keyMost, int(kc));
        (kc >= 128 ? high : low) = true;
    }
    const bool keyHasHue = high && low && keyLeast - keyMost > key.lean;
    const bool leans = keyHasHue && least - most > key.lean;
    return opaque && !leans ? 1 : share;
}

// One channel laid: the key's share taken out of p, the rest over u.
double softKeyExact(double p, double k, double u, double alpha)
{
    const double own = std::clamp(p - (1 - alpha) * k, 0.0, 255 * alpha);
    return own + (1 - alpha) * u;
}

}  // namespace

class TestRasterPixels : public QObject {
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
        QTest::addColumn<int>("noise");
        QTest::addColumn<double>("share");
        QTest::addColumn<int>("lean");
        QTest::newRow("green, the automatic limits") << Pixel(0xff00ff00u) << 32 << raster::kOpaqueShare << raster::kLeanLimit;
        QTest::newRow("black, narrow") << Pixel(0xff000000u) << 4 << 0.5 << 24;
        QTest::newRow("white, wide") << Pixel(0xffffffffu) << 60 << 0.35 << 24;
        QTest::newRow("mid grey, nearly all the range") << Pixel(0xff808080u) << 15 << 0.9 << 0;
        QTest::newRow("purple, a sliver, no lean check") << Pixel(0xffa020f0u) << 1 << 0.05 << 255;
        QTest::newRow("blue, no lean allowed") << Pixel(0xff0000ffu) << 20 << 0.2 << 0;
    }

    void softKeyIsWithinOneOfExact()
    {
        QFETCH(Pixel, key);
        QFETCH(int, noise);
        QFETCH(double, share);
        QFETCH(int, lean);
        std::mt19937 rng(11);
        PixelBuffer src(203, 61), base(203, 61, 4);
        src.scatterNear(rng, key);
        base.randomise(rng, 256);
        const raster::SoftKey soft{raster::toColorRef(key), noise, share, lean};
        const auto exact = [&](Pixel p, int x, int y, int c) {
            return softKeyExact(channel(p, c), channel(key, c), channel(base.at(x, y), c), softAlphaExact(p, key, soft));
        };
        checkAgainstExact(
            base,
            [&](PixelBuffer& dst) {
                QVERIFY(raster::TransparentBlt(dst.bitmap(), 0, 0, 203, 61, src.bitmap(), 0, 0, 203, 61, soft));
            },
            [&](int x, int y, int c) { return exact(src.at(x, y), x, y, c); }, QStringLiteral("soft key"));
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
            [&](int x, int y, int c) { return exact(src.at(sampled(x, sw, 203), sampled(y, sh, 61)), x, y, c); },
            QStringLiteral("soft key, stretched"));
    }

    void softKeyTellsNoiseArtAndMixesApart()
    {
        // A green key with the automatic noise limit over a grey picture:
        // noise shows the picture, the frame's brown art is laid as it is,
        // a half-and-half mix of the two is laid at its share with the
        // key taken out (no green left in it), and without a noise limit
        // the key is exact.
        const Pixel key = 0xff00ff00u, brown = 0xff963264u, under = grey(100);
        PixelBuffer src(5, 1), dst(5, 1);
        src.at(0, 0) = 0xff14f00au;  // (20, 240, 10): noise
        src.at(1, 0) = brown;
        src.at(2, 0) = 0xff4b9832u;  // (75, 152, 50): half brown, half key
        src.at(3, 0) = key;
        src.at(4, 0) = key - 1;      // one off the key
        for (int x = 0; x < 5; ++x)
            dst.at(x, 0) = under;
        forEachImplementation(
            [&](Implementation) {
                PixelBuffer out = dst;
                raster::TransparentBlt(out.bitmap(), 0, 0, 5, 1, src.bitmap(), 0, 0, 5, 1,
                                       raster::SoftKey{raster::toColorRef(key), 32});
                QCOMPARE(out.at(0, 0), under);
                QCOMPARE(out.at(1, 0), brown);
                const Pixel mix = out.at(2, 0);
                QVERIFY2(channel(mix, 1) < std::min(channel(mix, 0), channel(mix, 2)),
                         qPrintable(QString::number(mix, 16)));
                QVERIFY(mix != src.at(2, 0) && mix != under);
                PixelBuffer exact = dst;
                raster::TransparentBlt(exact.bitmap(), 0, 0, 5, 1, src.bitmap(), 0, 0, 5, 1,
                                       raster::SoftKey{raster::toColorRef(key), 0});
                QCOMPARE(exact.at(3, 0), under);
                QCOMPARE(exact.at(4, 0), key - 1);
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

QTEST_APPLESS_MAIN(TestRasterPixels)
#include "tst_raster_pixels.moc"
