// How boxes are fitted into their places, and what a reduced box shows,
// without widgets.
#include <QtTest>

#include "test_support.h"
#include "view/fit.h"
#include "view/layout.h"
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
        QCOMPARE(fit.resampled, inner != QSize(w, h));
        // The surface itself keeps its full size.
        QCOMPARE(s.ScaleWidth(), w);
        QCOMPARE(s.Width(), double(w + 4));
        // One factor for both axes: the shorter side differs from it by
        // less than a shown pixel.
        if (fit.resampled)
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

    void layoutScalesBelowTheToolbarByOneFactor()
    {
        const QSize design(1272, 746);
        const view::Layout same = view::layoutFor(design, design, 76);
        QCOMPARE(same.k, 1.0);
        QCOMPARE(same.map(QPointF(640, 80)), QPoint(640, 80));
        // Twice the size: the height below the toolbar decides only if it is the tighter.
        const view::Layout twice = view::layoutFor(QSize(2544, 1492), design, 76);
        QCOMPARE(twice.k, 2.0);
        QCOMPARE(twice.map(QPointF(640, 80)), QPoint(1280, 84));
        QCOMPARE(twice.map(QPointF(528, 648)), QPoint(1056, 76 + 2 * 572));
        QCOMPARE(twice.unmap(QPoint(1280, 84)), QPointF(640, 80));
        // A wide, low window: the height decides, the width keeps its spare room.
        QCOMPARE(view::layoutFor(QSize(3000, 76 + 335), design, 76).k, 0.5);
        // A window squeezed to nothing still draws every box somewhere.
        QVERIFY(view::layoutFor(QSize(1, 1), design, 76).k > 0);
    }

    void scaledLayoutScalesBoxesAndTheirPixels()
    {
        const view::Layout twice = view::layoutFor(QSize(2544, 1492), QSize(1272, 746), 76);
        // A photo reduced at the drawn size is shown twice as large.
        const Surface photo = withPicture("Picture2", 640, 80, 6000, 4000);
        const view::Fit fit = view::fitInto(photo, view::kPictureBoxPlace, twice);
        QCOMPARE(fit.inner, QSize(1280, 852));
        QCOMPARE(fit.outer, QRect(QPoint(1280, 84), QSize(1284, 856)));
        QVERIFY(fit.resampled);
        // 100 shown pixels are 100 / (k s) of the picture's, s being the drawn fit's scale.
        const double s = view::fitInto(photo, view::kPictureBoxPlace).scaleX;
        QVERIFY(std::abs(fit.toSurface(QPointF(100, 0)).x() - 100 / (2 * s)) < 1e-9);
        // A box shown 1:1 at the drawn size is magnified with the layout.
        const Surface small = withPicture("Picture1", 0, 80, 300, 200);
        const view::Fit grown = view::fitInto(small, view::kPictureBoxPlace, twice);
        QCOMPARE(grown.inner, QSize(600, 400));
        QVERIFY(grown.resampled);
        QCOMPARE(grown.toSurface(QPointF(600, 400)), QPointF(300, 200));
        // The preview still reaches the client area's edges, and no further.
        const Surface preview = withPicture("Picture3", 0, 80, 3000, 2000);
        const QSize place = view::placeOf(preview, QSize(2544, 1492), twice);
        const view::Fit shown = view::fitInto(preview, place, twice);
        QVERIFY(shown.outer.right() < 2544 && shown.outer.bottom() < 1492);
        // (the border is not scaled: the scaled box may fall short by the two borders)
        QVERIFY(shown.outer.right() >= 2544 - 4 * kBorder || shown.outer.bottom() >= 1492 - 4 * kBorder);
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
        const QImage& half = shown.sized(s, QSize(2, 1));
        QCOMPARE(half.pixel(0, 0), qRgb(100, 50, 20));  // a mean, never a sample of one pixel
        QCOMPARE(half.pixel(1, 0), qRgb(100, 50, 20));
        const qint64 key = half.cacheKey();
        QCOMPARE(shown.sized(s, QSize(2, 1)).cacheKey(), key);  // unchanged: not remade
        raster::Bitmap b = s.target();
        b.row(0)[0] = 0xff0000ffu;
        QCOMPARE(shown.sized(s, QSize(2, 1)).pixel(0, 0), qRgb(100, 50, 20 + 64));  // remade after a change
    }

    void magnifiedImageRepeatsPixelsAndTheLastImageWaitsForTheSize()
    {
        Surface s = withPicture("Picture1", 0, 80, 2, 1);
        QImage two(2, 1, QImage::Format_RGB32);
        two.setPixel(0, 0, qRgb(1, 2, 3));
        two.setPixel(1, 0, qRgb(200, 100, 40));
        s.setPicture(std::make_shared<const QImage>(two));
        view::ShownImage shown;
        QVERIFY(!shown.lastOf(s));
        const QImage& big = shown.sized(s, QSize(4, 2));
        QCOMPARE(big.pixel(1, 1), qRgb(1, 2, 3));  // whole pixels, never blurred
        QCOMPARE(big.pixel(2, 0), qRgb(200, 100, 40));
        QCOMPARE(shown.made(), quint64(1));
        // While a window is resized the last image stands in for any size...
        QCOMPARE(shown.lastOf(s), &big);
        // ...until the surface changes under it.
        s.target().row(0)[0] = 0xff000000u;
        QVERIFY(!shown.lastOf(s));
    }

    void emptyBoxesShowBlankWithoutAFullSizeImage()
    {
        Surface s = withPicture("Picture1", 0, 80, 5000, 3000);
        s.setPicture(nullptr);
        view::ShownImage shown;
        const QImage& image = shown.sized(s, QSize(100, 60));
        QCOMPARE(image.pixel(50, 30), QRgb(kBlankColour));
        QVERIFY(s.isBlank());  // the 5000 x 3000 blank image was never made
    }
};

QTEST_MAIN(TestFit)
#include "tst_fit.moc"
