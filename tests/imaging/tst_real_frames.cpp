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

// A photo with no colour near pure green, in any channel's direction.
QImage photo(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(100 + (x * 3) % 100, 40 + (y * 5) % 80, 100 + (x + y) % 100));
    return image;
}

// How deep each pixel of a w x h frame lies in its window (128 + depth)
// or in its art (128 - depth): its distance in whole pixels, up to 9, to
// the nearest pixel of the other side.
QImage windowMask(int w, int h)
{
    QImage inside(w, h, QImage::Format_RGB32);
    inside.fill(Qt::black);
    QPainter p(&inside);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    const QRectF window = testing::frameWindow(w, h);
    p.drawRoundedRect(window, window.height() / 6, window.height() / 6);
    p.end();
    const auto depthIn = [&](bool side) {
        std::vector<int> d(std::size_t(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                d[std::size_t(y) * w + x] = (qRed(inside.pixel(x, y)) > 127) == side ? 9 : 0;
        for (int pass = 0; pass < 9; ++pass) {
            std::vector<int> next = d;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    for (int dy = -1; dy <= 1; ++dy)
                        for (int dx = -1; dx <= 1; ++dx) {
                            const int n = d[std::size_t(std::clamp(y + dy, 0, h - 1)) * w + std::clamp(x + dx, 0, w - 1)];
                            next[std::size_t(y) * w + x] = std::min(next[std::size_t(y) * w + x], n + 1);
                        }
            d = next;
        }
        return d;
    };
    const std::vector<int> inWindow = depthIn(true), inArt = depthIn(false);
    QImage out(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::size_t i = std::size_t(y) * w + x;
            out.setPixel(x, y, qRgb(128 + inWindow[i] - inArt[i], 0, 0));
        }
    return out;
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
    void jpegFramesLeaveNoKeyLine_data()
    {
        QTest::addColumn<QRgb>("key");
        QTest::addColumn<int>("art");  // which of the arts below
        QTest::addColumn<int>("quality");
        for (const int q : {50, 75, 90, 95}) {
            QTest::addRow("green key, brown art, quality %d", q) << qRgb(0, 255, 0) << 0 << q;
            QTest::addRow("blue key, amber art, quality %d", q) << qRgb(0, 0, 255) << 1 << q;
            QTest::addRow("magenta key, leaf art, quality %d", q) << qRgb(255, 0, 255) << 2 << q;
        }
    }

    // A frame whose art and a photo have no pixel leaning toward the key,
    // saved as JPEG (which blurs the key into the art's edge), laid twice
    // its size over the photo: no pixel of the result leans toward the key
    // by more than 24, so no line of key colour is left around the window;
    // the art away from the window is laid as it is, and the window away
    // from its edge shows the photo untouched.
    void jpegFramesLeaveNoKeyLine()
    {
        QFETCH(QRgb, key);
        QFETCH(int, art);
        QFETCH(int, quality);
        using Art = QRgb (*)(int, int);
        const Art arts[] = {
            testing::brownArt,
            [](int x, int y) { const int t = (x * 13 + y * 7) % 60; return qRgb(150 + t, 100 + t, 40 + t / 2); },
            [](int x, int y) { const int t = (x * 13 + y * 7) % 60; return qRgb(60 + t / 2, 150 + t, 70 + t); },
        };
        const int w = 240, h = 160;
        QImage under(2 * w, 2 * h, QImage::Format_RGB32);
        for (int y = 0; y < 2 * h; ++y)
            for (int x = 0; x < 2 * w; ++x) {
                // Two channels free, the third the key's low channel would
                // need kept at or below them.
                const int a = 60 + (x * 5) % 180, b = 60 + (y * 3) % 180;
                const int lowest = std::max(0, std::min(a, b) - 10), highest = std::min(255, std::max(a, b) + 10);
                const QRgb p = key == qRgb(255, 0, 255) ? qRgb(a, highest, b)
                               : key == qRgb(0, 0, 255) ? qRgb(a, b, lowest)
                                                        : qRgb(a, lowest, b);
                under.setPixel(x, y, p);
            }
        Session s;
        const QString frame = s.write(QStringLiteral("rama.jpg"), testing::texturedFrame(w, h, key, arts[art]), "jpeg", quality);
        const QString picture = s.write(QStringLiteral("poza.bmp"), under, "bmp");
        const auto leaning = [&](const QImage& image) {
            int count = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    count += testing::leanTowardKey(image.pixel(x, y), key) > 24;
            return count;
        };

        // Exact, as the frame's key was once taken: the coding's blur shows.
        s.ws.KeyTolerance = 0;
        s.frameOver(frame, picture);
        QVERIFY2(leaning(testing::surfaceImage(s.ws.Picture5)) > 200,
                 "the exact key should leave a line: the frame is not blurred enough to test");

        s.ws.KeyTolerance = Workspace::kAutomaticTolerance;
        s.frameOver(frame, picture);
        const QImage result = testing::surfaceImage(s.ws.Picture5);
        QCOMPARE(leaning(result), 0);
        const QImage decoded = s.ws.Picture1.picture()->copy();
        const QImage window = windowMask(w, h);
        for (int y = 0; y < 2 * h; ++y)
            for (int x = 0; x < 2 * w; ++x) {
                const QRgb p = result.pixel(x, y);
                const int depth = qRed(window.pixel(x / 2, y / 2)) - 128;  // > 0 inside the window
                if (depth < -8 && p != decoded.pixel(x / 2, y / 2))
                    QFAIL(qPrintable(QStringLiteral("the frame's art changed at %1,%2").arg(x).arg(y)));
                if (depth > 8 && p != under.pixel(x, y))
                    QFAIL(qPrintable(QStringLiteral("the photo changed inside the window at %1,%2").arg(x).arg(y)));
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
