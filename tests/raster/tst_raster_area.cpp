// The area-averaged reduction: within 1 of the true mean of the covered
// area, identical in every implementation, safe on several threads at once.
// A failing random case names its seed; TARVEX_RASTER_SEED=<n> replays it.
#include <QtTest>

#include <atomic>
#include <random>
#include <thread>

#include "raster_checks.h"

using namespace tarvex;
using namespace tarvex::testing;

namespace {

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

}  // namespace

class TestRasterArea : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { raster::setImplementation(Implementation::Automatic); }

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
};

QTEST_APPLESS_MAIN(TestRasterArea)
#include "tst_raster_area.moc"
