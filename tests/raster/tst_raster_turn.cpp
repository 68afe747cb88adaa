// Pictures turned as a camera's orientation tag says: each of the eight
// against where a viewer puts each pixel, and the fast paths against the
// reference on sizes that leave part of a block, with padded rows, large
// enough to be split over the cores; nothing written outside the target.
#include <QtTest>

#include <random>

#include "raster_checks.h"

using namespace tarvex;
using namespace tarvex::testing;

class TestRasterTurn : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { raster::setImplementation(Implementation::Automatic); }

    // A 3 x 2 picture, its pixels numbered 1 to 6 by rows, shown under each
    // tag: the rows a viewer shows, top first.
    void eachOrientationShowsThePictureUpright_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QList<int>>("shown");
        QTest::newRow("1, as stored") << 1 << QList<int>{1, 2, 3, 4, 5, 6};
        QTest::newRow("2, mirrored") << 2 << QList<int>{3, 2, 1, 6, 5, 4};
        QTest::newRow("3, half round") << 3 << QList<int>{6, 5, 4, 3, 2, 1};
        QTest::newRow("4, upside down") << 4 << QList<int>{4, 5, 6, 1, 2, 3};
        QTest::newRow("5, transposed") << 5 << QList<int>{1, 4, 2, 5, 3, 6};
        QTest::newRow("6, a quarter clockwise") << 6 << QList<int>{4, 1, 5, 2, 6, 3};
        QTest::newRow("7, transverse") << 7 << QList<int>{6, 3, 5, 2, 4, 1};
        QTest::newRow("8, a quarter anticlockwise") << 8 << QList<int>{3, 6, 2, 5, 1, 4};
    }
    void eachOrientationShowsThePictureUpright()
    {
        QFETCH(int, orientation);
        QFETCH(QList<int>, shown);
        PixelBuffer src(3, 2);
        for (int i = 0; i < 6; ++i)
            src.at(i % 3, i / 3) = 0xff000000u | Pixel(i + 1);
        const bool turned = orientation >= 5;
        forEachImplementation(
            [&](Implementation) {
                PixelBuffer dst(turned ? 2 : 3, turned ? 3 : 2);
                QVERIFY(raster::Orient(dst.bitmap(), src.bitmap(), orientation));
                for (int i = 0; i < 6; ++i)
                    QCOMPARE(int(dst.at(i % dst.width(), i / dst.width()) & 0xff), shown[i]);
                QVERIFY(dst.fenceIntact());
            },
            true);
    }

    void fastTurnsMatchTheReference()
    {
        std::mt19937 rng(5);
        // Turned bands up to 256 pixels wide go through a staging buffer.
        const QList<QSize> sizes{{1, 1}, {8, 8}, {9, 17}, {64, 3}, {37, 70}, {301, 250}, {1201, 1003}};
        for (const QSize size : sizes)
            for (int o = 1; o <= 8; ++o) {
                PixelBuffer src(size.width(), size.height(), int(rng() % 9));
                src.randomise(rng, 256);
                const bool turned = o >= 5;
                const int w = turned ? size.height() : size.width(), h = turned ? size.width() : size.height();
                const int padding = int(rng() % 9);
                PixelBuffer expected(w, h, padding);
                QVERIFY(raster::reference::Orient(expected.bitmap(), src.bitmap(), o));
                forEachImplementation([&](Implementation impl) {
                    PixelBuffer got(w, h, padding);
                    QVERIFY(raster::Orient(got.bitmap(), src.bitmap(), o));
                    QVERIFY2(got == expected && got.fenceIntact(),
                             qPrintable(QStringLiteral("%1 x %2, orientation %3, impl %4")
                                            .arg(size.width()).arg(size.height()).arg(o).arg(int(impl))));
                });
            }
    }

    void wrongSizesAndTagsDrawNothing()
    {
        PixelBuffer src(5, 3), dst(5, 3), turned(3, 5);
        const PixelBuffer before = dst, turnedBefore = turned;
        forEachImplementation(
            [&](Implementation) {
                QVERIFY(!raster::Orient(dst.bitmap(), src.bitmap(), 0));
                QVERIFY(!raster::Orient(dst.bitmap(), src.bitmap(), 9));
                QVERIFY(!raster::Orient(dst.bitmap(), src.bitmap(), 6));     // 6 needs 3 x 5
                QVERIFY(!raster::Orient(turned.bitmap(), src.bitmap(), 2));  // 2 needs 5 x 3
                QVERIFY(dst == before && turned == turnedBefore);
            },
            true);
    }
};

QTEST_APPLESS_MAIN(TestRasterTurn)
#include "tst_raster_turn.moc"
