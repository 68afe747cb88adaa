// Frames and logos as people have them: JPEG frames whose key colour the
// coding has blurred, PNG frames and logos with soft alpha edges, and the
// lossless keyed frames that must stay exact. Every picture is made here
// and opened from a file, as the window opens it.
#include <QtTest>

#include <cmath>

#include "imaging/image_commands.h"
#include "test_support.h"

using namespace tarvex;

namespace {

int keyDistance(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

// A photo with no colour near pure green, in any channel's direction.
QImage photo(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(100 + (x * 3) % 100, 40 + (y * 5) % 80, 100 + (x + y) % 100));
    return image;
}

double channel(QRgb p, int c)
{
    return double((p >> (8 * c)) & 0xffu);
}

struct Session : testing::CommandSession {
    ImageCommands images{ws};
    QTemporaryDir dir;

    QString write(const QString& name, const QImage& image, const char* format, int quality = -1)
    {
        const QString path = dir.filePath(name);
        if (!image.save(path, format, quality))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    void frameOver(const QString& frame, const QString& picture)
    {
        ws.MixMode = kFalse;
        prompts.answers = {frame, picture};
        commands.AddFrameInP1_Click();
        commands.AddPictIn2_Click();
        images.AddFrameToPict_Click();
    }
    void mix(const QString& first, const QString& second, int opacity)
    {
        ws.MixMode = kTrue;
        prompts.answers = {first, second};
        commands.OpenSource_Click();
        commands.OpenDest_Click();
        images.VarAdidezid_Click();
        ws.HScroll1.Value = opacity;
        images.HScroll1_Change();
    }
};

}  // namespace

class TestRealFrames : public QObject {
    Q_OBJECT
private slots:
    void jpegFramesLeaveNoFringe_data()
    {
        QTest::addColumn<int>("quality");
        QTest::newRow("quality 75") << 75;
        QTest::newRow("quality 90") << 90;
        QTest::newRow("quality 95") << 95;
    }

    void jpegFramesLeaveNoFringe()
    {
        QFETCH(int, quality);
        const int w = 320, h = 240;
        Session s;
        const QString frame = s.write(QStringLiteral("rama.jpg"), testing::texturedFrame(w, h), "jpeg", quality);
        const QString picture = s.write(QStringLiteral("poza.bmp"), photo(w, h), "bmp");
        const QRgb key = qRgb(0, 255, 0);

        // Exact, as the frame's key was once taken: the coding's blur shows.
        s.ws.KeyTolerance = 0;
        s.frameOver(frame, picture);
        int fringe = 0;
        const QImage exact = testing::surfaceImage(s.ws.Picture5);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                fringe += keyDistance(exact.pixel(x, y), key) < 16;
        QVERIFY2(fringe > 50, "the exact key should leave a fringe: the frame is not blurred enough to test");

        s.ws.KeyTolerance = Workspace::kAutomaticTolerance;
        QVERIFY(s.ws.FirstLossy);
        QCOMPARE(s.ws.keyTolerance(), Workspace::kLossyTolerance);
        s.frameOver(frame, picture);
        const QImage result = testing::surfaceImage(s.ws.Picture5);
        const QImage decoded = s.ws.Picture1.picture()->copy();
        const QRect farFromWindow = testing::frameWindow(w, h).toAlignedRect().adjusted(-9, -9, 9, 9);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const QRgb p = result.pixel(x, y);
                if (keyDistance(p, key) < Workspace::kLossyTolerance)
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is %3, near the key").arg(x).arg(y).arg(p, 8, 16)));
                if (!farFromWindow.contains(x, y) && p != decoded.pixel(x, y))
                    QFAIL(qPrintable(QStringLiteral("the frame's art changed at %1,%2").arg(x).arg(y)));
            }
    }

    void featheredPngFrameLaysByItsAlpha()
    {
        const int w = 200, h = 150;
        Session s;
        const QImage art = testing::featheredFrame(w, h);
        const QImage under = photo(w, h);
        s.frameOver(s.write(QStringLiteral("rama.png"), art, "png"), s.write(QStringLiteral("poza.bmp"), under, "bmp"));
        QVERIFY(s.ws.Picture1.hasAlpha());
        const QImage result = testing::surfaceImage(s.ws.Picture5);
        QCOMPARE(result.format(), QImage::Format_RGB32);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const QRgb a = art.pixel(x, y), u = under.pixel(x, y), got = result.pixel(x, y);
                const double alpha = qAlpha(a) / 255.0;
                for (int c = 0; c < 3; ++c) {
                    const double want = channel(a, c) * alpha + channel(u, c) * (1 - alpha);
                    if (std::abs(channel(got, c) - want) > 1.0)
                        QFAIL(qPrintable(QStringLiteral("pixel %1,%2 channel %3: %4, source-over gives %5")
                                             .arg(x).arg(y).arg(c).arg(channel(got, c)).arg(want)));
                }
            }
        const QRect black = testing::ornament(w, h);
        for (int y = black.top(); y <= black.bottom(); ++y)
            for (int x = black.left(); x <= black.right(); ++x)
                QCOMPARE(result.pixel(x, y), qRgb(0, 0, 0));
    }

    void losslessKeyedFrameStaysExact()
    {
        const int w = 160, h = 120;
        Session s;
        const QImage art = testing::texturedFrame(w, h);
        const QImage under = photo(2 * w, 2 * h);
        s.frameOver(s.write(QStringLiteral("rama.bmp"), art, "bmp"), s.write(QStringLiteral("poza.bmp"), under, "bmp"));
        QVERIFY(!s.ws.FirstLossy);
        QCOMPARE(s.ws.keyTolerance(), 0);
        QImage want = under.copy(), frame = art.copy();
        raster::TransparentBlt(pixelsOf(want), 0, 0, 2 * w, 2 * h, pixelsOf(frame), 0, 0, w, h,
                               raster::toColorRef(0xff00ff00u));
        QCOMPARE(testing::surfaceImage(s.ws.Picture5), want);
    }

    void pngLogoMixesByItsAlpha()
    {
        const int w = 120, h = 90;
        QImage logo(w, h, QImage::Format_ARGB32);
        logo.fill(qRgba(255, 255, 255, 0));  // transparent, stored white
        QPainter(&logo).fillRect(QRect(30, 20, 60, 50), QColor(20, 60, 200));
        for (const int opacity : {0, 64, 255}) {
            Session s;
            const QImage under = photo(w, h);
            s.mix(s.write(QStringLiteral("logo.png"), logo, "png"), s.write(QStringLiteral("poza.bmp"), under, "bmp"),
                  opacity);
            const QImage result = testing::surfaceImage(s.ws.Picture2);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const QRgb u = under.pixel(x, y);
                    QRgb want = u;
                    if (qAlpha(logo.pixel(x, y)) == 255) {
                        const auto blend = [&](int l, int d) {
                            return int(std::lround((l * opacity + d * (255.0 - opacity)) / 255.0));
                        };
                        want = qRgb(blend(20, qRed(u)), blend(60, qGreen(u)), blend(200, qBlue(u)));
                    }
                    if (result.pixel(x, y) != want)
                        QFAIL(qPrintable(QStringLiteral("opacity %1, pixel %2,%3: %4, want %5")
                                             .arg(opacity).arg(x).arg(y).arg(result.pixel(x, y), 8, 16).arg(want, 8, 16)));
                }
        }
    }

    void newToleranceRedrawsALaidFrame()
    {
        const int w = 160, h = 120;
        Session s;
        const QString frame = s.write(QStringLiteral("rama.jpg"), testing::texturedFrame(w, h), "jpeg", 75);
        const QString picture = s.write(QStringLiteral("poza.bmp"), photo(w, h), "bmp");
        s.ws.MixMode = kFalse;
        s.prompts.answers = {frame, picture};
        s.commands.AddFrameInP1_Click();
        s.commands.AddPictIn2_Click();
        const QImage clean = testing::surfaceImage(s.ws.Picture2);
        s.images.KeyTolerance_Change(10);  // nothing laid yet: nothing drawn
        QCOMPARE(testing::surfaceImage(s.ws.Picture2), clean);

        s.images.AddFrameToPict_Click();
        s.images.Picture2_MouseDown(1, 0, 50, 50);
        s.images.Picture2_MouseMove(1, 0, 60, 55);
        s.images.Picture2_MouseUp(1, 0, 60, 55);
        const QImage narrow = testing::surfaceImage(s.ws.Picture5);
        s.images.KeyTolerance_Change(100);
        const QImage wide = testing::surfaceImage(s.ws.Picture5);
        QVERIFY(wide != narrow);
        // Drawn where the drag left the frame, as a move there draws it.
        Session again;
        again.ws.KeyTolerance = 100;
        again.frameOver(frame, picture);
        again.images.Picture2_MouseDown(1, 0, 50, 50);
        again.images.Picture2_MouseMove(1, 0, 60, 55);
        QCOMPARE(testing::surfaceImage(again.ws.Picture5), wide);
        QCOMPARE(testing::surfaceImage(again.ws.Picture2), testing::surfaceImage(s.ws.Picture2));
    }
};

QTEST_MAIN(TestRealFrames)
#include "tst_real_frames.moc"
