// The built program in a real window under Xvfb, driven with xdotool as a
// person would: keys, mouse clicks and drags, and the real open dialog typed
// into. Every saved bitmap is compared pixel for pixel with what this test
// computes itself from the pictures it made. On failure a screenshot goes
// to the test log folder.
#include <QtTest>

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <cmath>

#include "raster/raster.h"
#include "real_window_driver.h"
#include "test_support.h"

using namespace tarvex::e2e;

class TestRealWindow : public QObject, RealWindowDriver {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void cleanup()
    {
        if (QTest::currentTestFailed()) {
            const QString logDir = qEnvironmentVariable("TARVEX_TEST_LOG_DIR", QDir::tempPath());
            QDir().mkpath(logDir);
            screenshot().save(logDir + QStringLiteral("/tarvex-e2e-%1.png").arg(QTest::currentTestFunction()));
        }
        if (program_.state() != QProcess::NotRunning) {
            program_.kill();
            program_.waitForFinished();
        }
    }

    void chooserMainWindowAndExit()
    {
        startAndChoose(16 + 56, {}, false);  // "Mixeaza Poze"
        // The keys work at once, with no click on the window first.
        key("F2");
        QTRY_VERIFY_WITH_TIMEOUT(!windowNamed("Open").isEmpty(), 10000);
        key("Escape");
        QTRY_VERIFY_WITH_TIMEOUT(windowNamed("Open").isEmpty(), 10000);
        endProgram();
    }

    void typicalMixingRun()
    {
        const QImage first = pattern(40, 30, 1), second = pattern(60, 45, 2);
        first.save(file("unu.bmp"), "bmp");
        second.save(file("mare.bmp"), "bmp");
        startAndChoose(16 + 56);
        openThroughDialog("F2", file("unu.bmp"));
        openThroughDialog("ctrl+F2", file("mare.bmp"));
        QCOMPARE(shown({640, 80}, second.size()), second);
        key("F3");
        // A click in the scroll bar's trough, right of the thumb.
        click(client_ + QPoint(528 + 273 - 30, 648 + 16));
        QTest::qWait(300);
        focusMain();
        key("F8");
        const QImage saved = savedBitmap("Stn000mare.bmp");
        QCOMPARE(saved.size(), second.size());
        int value = -1;
        for (int v = 1; v < 255 && value < 0; ++v)
            if (expectedMix(first, second, v) == saved)
                value = v;
        QVERIFY2(value > 0, "the saved composite is the blend of no opacity");
        QVERIFY(value != 128);  // the click moved the scroll bar
        QCOMPARE(shown({640, 80}, second.size()), saved);
        key("F8");
        QCOMPARE(savedBitmap("Stn001mare.bmp"), saved);
        endProgram();
    }

    void typicalFramingRun()
    {
        const QImage picture = pattern(60, 45, 3), border = frame(60, 45);
        picture.save(file("pictura.bmp"), "bmp");
        border.save(file("rama.bmp"), "bmp");
        startAndChoose(144 + 60);  // "Adauga Rama"
        openThroughDialog("shift+F2", file("rama.bmp"));
        openThroughDialog("ctrl+shift+F2", file("pictura.bmp"));
        key("shift+F3");
        // Drag the frame 20 right and 10 down, from a point inside it.
        dragMouse(client_ + QPoint(640 + 2 + 10, 80 + 2 + 10), {{12, 5}, {20, 10}});
        key("shift+F8");
        const QImage saved = savedBitmap("Stn000pictura.bmp");
        QImage framed = picture.copy();
        for (int y = 10; y < 45; ++y)
            for (int x = 20; x < 60; ++x)
                if (border.pixel(x - 20, y - 10) != kKey)
                    framed.setPixel(x, y, border.pixel(x - 20, y - 10));
        QImage expected(60, 45, QImage::Format_RGB32);
        for (int y = 0; y < 45; ++y)
            for (int x = 0; x < 60; ++x)
                expected.setPixel(x, y, x + 20 < 60 && y + 10 < 45 ? framed.pixel(x + 20, y + 10) : kBlank);
        QCOMPARE(saved, expected);
        QCOMPARE(shown({640, 80}, picture.size()), framed);
        endProgram();
    }

    // A frame saved as JPEG, its key colour blurred into its edge by the
    // coding: laid, dragged and saved, it leaves no line of key colour
    // around its window, in the file or on the screen.
    void jpegFrameLeavesNoKeyLine()
    {
        const int w = 240, h = 180;
        QImage picture(w, h, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                picture.setPixel(x, y, qRgb(110 + x % 90, 40 + y % 60, 120 + (x + y) % 80));
        picture.save(file("vacanta.bmp"), "bmp");
        QVERIFY(tarvex::testing::texturedFrame(w, h).save(file("rama.jpg"), "jpeg", 75));
        startAndChoose(144 + 60);
        openThroughDialog("shift+F2", file("rama.jpg"));
        openThroughDialog("ctrl+shift+F2", file("vacanta.bmp"));
        key("shift+F3");
        dragMouse(client_ + QPoint(640 + 2 + 120, 80 + 2 + 90), {{12, 6}});
        key("shift+F8");
        const QImage saved = savedBitmap("Stn000vacanta.bmp");
        QCOMPARE(saved.size(), QSize(w, h));
        // Neither the art nor the picture has green above red or blue.
        const auto leaning = [](const QImage& image) {
            int count = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    count += tarvex::testing::leanTowardKey(image.pixel(x, y), qRgb(0, 255, 0)) > 24;
            return count;
        };
        QCOMPARE(leaning(saved), 0);
        QCOMPARE(leaning(shown({640, 80}, picture.size())), 0);
        endProgram();
    }

    void toolbarMirrorMoveAndPreview()
    {
        const QImage first = pattern(30, 30, 4), second = pattern(60, 45, 5);
        first.save(file("a.bmp"), "bmp");
        second.save(file("b.bmp"), "bmp");
        startAndChoose(16 + 56);
        openThroughDialog("F2", file("a.bmp"));
        openThroughDialog("ctrl+F2", file("b.bmp"));
        clickToolbarButton(9);   // mirror the second picture left-right
        clickToolbarButton(12);  // move it 10 pixels left
        const QImage mirrored = second.mirrored(true, false);
        QTRY_COMPARE(shown({630, 80}, second.size()), mirrored);
        focusMain();
        key("F8");
        QCOMPARE(savedBitmap("Stn000b.bmp"), mirrored);
        clickToolbarButton(16);  // the reduced preview, at the left edge
        QImage reduced(20, 15, QImage::Format_RGB32);
        for (int y = 0; y < 15; ++y)
            for (int x = 0; x < 20; ++x)
                reduced.setPixel(x, y, mirrored.pixel(sample(x, 60, 20), sample(y, 45, 15)));
        // The preview box (outer 64/3 x 49/3) shows what its drawing area holds.
        QTRY_COMPARE(shown({0, 80}, QSize(17, 12)), reduced.copy(0, 0, 17, 12));
        clickToolbarButton(17);
        QTRY_COMPARE(shown({630, 80}, second.size()), mirrored);
        endProgram();
    }

    void blendButtonAndTroughClick()
    {
        const QImage first = pattern(50, 40, 6), second = pattern(50, 40, 7);
        first.save(file("x.bmp"), "bmp");
        second.save(file("y.bmp"), "bmp");
        startAndChoose(16 + 56);
        openThroughDialog("F2", file("x.bmp"));
        openThroughDialog("ctrl+F2", file("y.bmp"));
        clickToolbarButton(3);  // "Mixeaza imaginile"
        click(client_ + QPoint(528 + 40, 648 + 16));  // the trough, left of the thumb
        QTRY_VERIFY(shown({640, 80}, second.size()) != second);
        endProgram();
    }

    // Photos larger than the window: the composite is shown reduced, the
    // drag is converted to picture pixels, and the saved file is full size.
    void largeFramingRunWithTheMouse()
    {
        const int w = 3000, h = 2000;
        const QImage picture = pattern(w, h, 11);
        QImage border = pattern(w, h, 12);
        for (int y = 200; y < h - 200; ++y)
            for (int x = 300; x < w - 300; ++x)
                border.setPixel(x, y, kKey);
        picture.save(file("foto.bmp"), "bmp");
        border.save(file("ramamare.bmp"), "bmp");
        startAndChoose(144 + 60);
        openThroughDialog("shift+F2", file("ramamare.bmp"));
        openThroughDialog("ctrl+shift+F2", file("foto.bmp"));
        key("shift+F3");
        // The box shows 3000 x 2000 in 640 x 426: each shown pixel is 4.6875 picture pixels.
        const double scaleX = 640.0 / w, scaleY = 426.0 / h;
        const QPoint from(320, 213), to(260, 183);  // in the shown drawing area: up and left
        const QPoint origin = client_ + QPoint(640 + 2, 80 + 2);
        xdotool({"mousemove", QString::number(origin.x() + from.x()), QString::number(origin.y() + from.y())});
        xdotool({"mousedown", "1"});
        QTest::qWait(100);
        for (int step = 1; step <= 3; ++step) {
            const QPoint at = from + (to - from) * step / 3;
            xdotool({"mousemove", QString::number(origin.x() + at.x()), QString::number(origin.y() + at.y())});
            QTest::qWait(150);
        }
        xdotool({"mouseup", "1"});
        QTest::qWait(300);
        key("shift+F8");
        const QImage saved = savedBitmap("Stn000foto.bmp");
        QCOMPARE(saved.size(), QSize(w, h));
        // The offset as the handlers compute it from the converted positions.
        const auto converted = [](int shown, double scale) { return double(float(shown / scale)); };
        const int startX = int(std::nearbyint(converted(from.x(), scaleX)));
        const int startY = int(std::nearbyint(converted(from.y(), scaleY)));
        const int px = int(std::nearbyint(converted(to.x(), scaleX) - startX));
        const int py = int(std::nearbyint(converted(to.y(), scaleY) - startY));
        QVERIFY2(px < -250 && py < -100, qPrintable(QStringLiteral("%1, %2").arg(px).arg(py)));
        QImage framed = picture.copy();
        for (int y = std::max(0, py); y < h && y - py < h; ++y)
            for (int x = std::max(0, px); x < w && x - px < w; ++x)
                if (border.pixel(x - px, y - py) != kKey)
                    framed.setPixel(x, y, border.pixel(x - px, y - py));
        QImage expected(w, h, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int sx = x + px, sy = y + py;
                expected.setPixel(x, y, sx >= 0 && sy >= 0 && sx < w && sy < h ? framed.pixel(sx, sy) : kBlank);
            }
        QVERIFY(saved == expected);
        // On screen: the area mean of the framed picture.
        QImage reduced(640, 426, QImage::Format_RGB32);
        QVERIFY(tarvex::raster::ReduceArea({reinterpret_cast<tarvex::raster::Pixel*>(reduced.bits()), 640, 426, 640},
                                           {reinterpret_cast<tarvex::raster::Pixel*>(framed.bits()), w, h, w}));
        // Columns 0 and 1 lie under the first box's border, as in the layout,
        // and the window's right edge cuts the box at column 630.
        const QRect visible(2, 0, 628, 426);
        QTRY_COMPARE(shown({640, 80}, reduced.size()).copy(visible), reduced.copy(visible));
        endProgram();
    }

    // "Open with Tarvex": the files named on the command line open when the
    // mode is chosen, and saving works on them at once.
    void filesNamedOnTheCommandLine()
    {
        const QImage first = pattern(40, 30, 13), second = pattern(50, 35, 14);
        first.save(file("cli1.bmp"), "bmp");
        second.save(file("cli2.bmp"), "bmp");
        startAndChoose(16 + 56, {file("cli1.bmp"), file("cli2.bmp")});
        QTRY_COMPARE(shown({0, 80}, first.size()), first);
        QTRY_COMPARE(shown({640, 80}, second.size()), second);
        key("F8");
        QCOMPARE(savedBitmap("Stn000cli2.bmp"), second);
        endProgram();
    }

    // On a screen of twice the density: the photo shown from every screen
    // pixel, the composite following the dragged thumb, and the saved file
    // the blend at the value where the thumb was let go.
    void mixAtTwiceTheDensity()
    {
        const QSize screen = QGuiApplication::primaryScreen()->size();
        if (screen.width() < 2 * 1272 + 10 || screen.height() < 2 * 800)
            QSKIP("needs a screen of at least 2554 x 1600 (the test tst_real_window_2x runs this one on one)");
        scale_ = 2;
        const QImage first = pattern(1600, 1200, 15), second = pattern(2000, 1500, 16);
        first.save(file("dens1.bmp"), "bmp");
        second.save(file("dens2.bmp"), "bmp");
        startAndChoose(16 + 56);
        openThroughDialog("F2", file("dens1.bmp"));
        openThroughDialog("ctrl+F2", file("dens2.bmp"));
        // 2000 x 1500 in a 640 x 480 place: 1280 x 960 screen pixels, each the mean of its area.
        QImage sharp(1280, 960, QImage::Format_RGB32);
        QVERIFY(tarvex::raster::ReduceArea({reinterpret_cast<tarvex::raster::Pixel*>(sharp.bits()), 1280, 960, 1280},
                                           {reinterpret_cast<tarvex::raster::Pixel*>(const_cast<uchar*>(second.constBits())),
                                            2000, 1500, 2000}));
        const QPoint box = client_ + QPoint(640 + 2, 80 + 2) * 2;
        // The first box covers the second's first two columns, as in the
        // layout, and the window's edge cuts it after 630.
        const QRect visible(4, 0, 1256, 960);
        QTRY_COMPARE(screenshot().copy(QRect(box, sharp.size())).copy(visible), sharp.copy(visible));
        key("F3");
        const QImage mixed = screenshot().copy(QRect(box, sharp.size()));

        // The thumb of a 0..255 bar at 128 is at the bar's middle.
        const QPoint thumb = client_ + QPoint(528 + 273 / 2, 648 + 16) * 2;
        xdotool({"mousemove", QString::number(thumb.x()), QString::number(thumb.y())});
        xdotool({"mousedown", "1"});
        QTest::qWait(150);
        for (int step = 1; step <= 4; ++step) {
            xdotool({"mousemove", QString::number(thumb.x() + 40 * step), QString::number(thumb.y())});
            QTest::qWait(150);
        }
        // Still held: the shown composite has followed the thumb.
        QTRY_VERIFY(screenshot().copy(QRect(box, sharp.size())) != mixed);
        xdotool({"mouseup", "1"});
        QTest::qWait(300);
        focusMain();
        key("F8");
        const QImage saved = savedBitmap("Stn000dens2.bmp");
        QCOMPARE(saved.size(), second.size());
        // The value the thumb was let go at, from one pixel; then all of them.
        int value = -1;
        const auto mixedAt = [&](int x, int y, int v) {
            const QRgb a = first.pixel(sample(x, first.width(), second.width()), sample(y, first.height(), second.height()));
            const QRgb b = second.pixel(x, y);
            auto mix = [&](int cs, int cd) { return int(std::lround((cs * v + cd * (255.0 - v)) / 255.0)); };
            return qRgb(mix(qRed(a), qRed(b)), mix(qGreen(a), qGreen(b)), mix(qBlue(a), qBlue(b)));
        };
        for (int v = 129; v < 256 && value < 0; ++v)
            if (mixedAt(0, 0, v) == saved.pixel(0, 0) && mixedAt(999, 777, v) == saved.pixel(999, 777) &&
                mixedAt(1999, 1499, v) == saved.pixel(1999, 1499))
                value = v;
        QVERIFY2(value > 128, "the thumb was dragged right of the middle");
        QCOMPARE(saved, expectedMix(first, second, value));
        endProgram();
    }

    void damagedPictureIsReportedAndTheProgramGoesOn()
    {
        QFile damaged(file("stricat.bmp"));
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write("BM this is no bitmap at all");
        damaged.close();
        const QImage good = pattern(20, 20, 8);
        good.save(file("bun.bmp"), "bmp");
        startAndChoose(16 + 56);
        key("F2");
        QTRY_VERIFY_WITH_TIMEOUT(!windowNamed("Open").isEmpty(), 10000);
        QTest::qWait(200);
        xdotool({"type", "--delay", "2", file("stricat.bmp")});
        key("Return");
        QTRY_VERIFY_WITH_TIMEOUT(!windowNamed("Tarvex").isEmpty(), 10000);
        key("Return");  // OK
        QTRY_VERIFY_WITH_TIMEOUT(windowNamed("Tarvex").isEmpty(), 10000);
        focusMain();
        openThroughDialog("F2", file("bun.bmp"));
        QTRY_COMPARE(shown({0, 80}, good.size()), good);
        endProgram();
    }
};

QTEST_MAIN(TestRealWindow)
#include "tst_real_window.moc"
