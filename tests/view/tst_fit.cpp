// How boxes are fitted into their places, and what a reduced box shows,
// without widgets.
#include <QtTest>

#include "test_support.h"
#include "view/fit.h"
#include "view/shown_image.h"

using namespace tarvex;

namespace {

Surface withPicture(const char* name, double left, double top, int w, int h)
{
    Surface s(QString::fromLatin1(name), left, top, 10, 10, true);
    s.setPicture(std::make_shared<const QImage>(testing::filledImage(w, h, qRgb(10, 20, 30))));
    return s;
}

}  // namespace

class TestFit : public QObject {
    Q_OBJECT
private slots:
    void boxesFitTheirPlaces_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<QSize>("place");
        QTest::addColumn<QSize>("inner");
        QTest::newRow("fits exactly: 1:1") << 640 << 480 << QSize(644, 484) << QSize(640, 480);
        QTest::newRow("small: 1:1") << 3 << 2 << QSize(644, 484) << QSize(3, 2);
        QTest::newRow("24 megapixels, width decides") << 6000 << 4000 << QSize(644, 484) << QSize(640, 426);
        QTest::newRow("portrait, height decides") << 3000 << 4000 << QSize(644, 484) << QSize(360, 480);
        QTest::newRow("one pixel too wide") << 641 << 10 << QSize(644, 484) << QSize(640, 9);
        QTest::newRow("a long thin line keeps one pixel") << 20000 << 1 << QSize(644, 484) << QSize(640, 1);
        QTest::newRow("preview reaching the edges") << 2000 << 1333 << QSize(1272, 666) << QSize(993, 662);
    }
    void boxesFitTheirPlaces()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(QSize, place);
        QFETCH(QSize, inner);
        const Surface s = withPicture("Picture2", 640, 80, w, h);
        const view::Fit fit = view::fitInto(s, place);
        QCOMPARE(fit.inner, inner);
        QCOMPARE(fit.outer, QRect(QPoint(640, 80), inner + QSize(4, 4)));
        QVERIFY(fit.outer.width() <= place.width() && fit.outer.height() <= place.height());
        QCOMPARE(fit.reduced, inner != QSize(w, h));
        // The surface itself keeps its full size.
        QCOMPARE(s.ScaleWidth(), w);
        QCOMPARE(s.Width(), double(w + 4));
        // One factor for both axes: the shorter side differs from it by
        // less than a shown pixel.
        if (fit.reduced)
            QVERIFY(std::abs(fit.scaleX - fit.scaleY) * std::min(w, h) < 1.0);
    }

    void shownPositionsMapBackToSurfacePixels()
    {
        const Surface s = withPicture("Picture2", 640, 80, 3000, 2000);
        const view::Fit fit = view::fitInto(s, view::kPictureBoxPlace);
        const QPointF centre = fit.toSurface(QPointF(fit.inner.width() / 2.0, fit.inner.height() / 2.0));
        QVERIFY(std::abs(centre.x() - 1500) < 1e-6 && std::abs(centre.y() - 1000) < 1e-6);
        QCOMPARE(fit.toSurface(QPointF(0, 0)), QPointF(0, 0));
        QVERIFY(std::abs(fit.toSurface(QPointF(100, 0)).x() - 100 / fit.scaleX) < 1e-9);
    }

    void placesOfTheWindowsBoxes()
    {
        const QSize client(1272, 746);
        QCOMPARE(view::placeOf(Surface("Picture1", 0, 80, 10, 10, true), client), QSize(644, 484));
        QCOMPARE(view::placeOf(Surface("Picture2", 700, 300, 10, 10, true), client), QSize(644, 484));
        QCOMPARE(view::placeOf(Surface("Picture3", 0, 80, 10, 10, true), client), QSize(1272, 666));
        QVERIFY(view::placeOf(Surface("Picture5", 776, 536, 10, 10, false), client).width() > 1000000);
        // A preview pushed past the window's edge still gets a place to draw in.
        QVERIFY(!view::placeOf(Surface("Picture3", 5000, 5000, 10, 10, true), client).isEmpty());
    }

    void reducedImageIsTheAreaMeanAndFollowsChanges()
    {
        Surface s = withPicture("Picture2", 640, 80, 4, 2);
        QImage two(4, 2, QImage::Format_RGB32);
        two.fill(qRgb(0, 0, 0));
        for (int y = 0; y < 2; ++y)
            two.setPixel(1, y, qRgb(200, 100, 40)), two.setPixel(3, y, qRgb(200, 100, 40));
        s.setPicture(std::make_shared<const QImage>(two));
        view::ShownImage shown;
        const QImage& half = shown.reduced(s, QSize(2, 1));
        QCOMPARE(half.pixel(0, 0), qRgb(100, 50, 20));  // a mean, never a sample of one pixel
        QCOMPARE(half.pixel(1, 0), qRgb(100, 50, 20));
        const qint64 key = half.cacheKey();
        QCOMPARE(shown.reduced(s, QSize(2, 1)).cacheKey(), key);  // unchanged: not remade
        raster::Bitmap b = s.target();
        b.row(0)[0] = 0xff0000ffu;
        QCOMPARE(shown.reduced(s, QSize(2, 1)).pixel(0, 0), qRgb(100, 50, 20 + 64));  // remade after a change
    }

    void emptyBoxesShowBlankWithoutAFullSizeImage()
    {
        Surface s = withPicture("Picture1", 0, 80, 5000, 3000);
        s.setPicture(nullptr);
        view::ShownImage shown;
        const QImage& image = shown.reduced(s, QSize(100, 60));
        QCOMPARE(image.pixel(50, 30), QRgb(kBlankColour));
        QVERIFY(s.isBlank());  // the 5000 x 3000 blank image was never made
    }
};

QTEST_MAIN(TestFit)
#include "tst_fit.moc"
