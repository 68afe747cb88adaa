// The image commands on a workspace with small pictures whose pixels are
// known, so every expected pixel is computed here.
#include <QtTest>

#include <cmath>

#include "command_fixture.h"
#include "imaging/image_commands.h"
#include "test_support.h"

using namespace tarvex;
using namespace tarvex::testing::commands;

class TestImageCommands : public QObject {
    Q_OBJECT
private slots:
    // --- Mixing ---

    void blendPackedArguments()
    {
        Fixture f;
        for (auto [value, packed] : {std::pair{0, 0}, {128, 8388608}, {255, 16711680}}) {
            f.ws.HScroll1.Value = value;
            f.commands.HScroll1_Change();
            QCOMPARE(f.ws.BlendArgsPacked, packed);
            QCOMPARE(int(f.ws.BlendArgs.SourceConstantAlpha), value);
        }
    }

    void blendFollowsTheFormulaOnEveryPixel()
    {
        Fixture f;
        const QImage a = testing::patternImage(7, 5, 1), b = testing::patternImage(7, 5, 2);
        f.first(a);
        f.second(b);
        for (int value : {0, 1, 77, 128, 254, 255}) {
            f.ws.HScroll1.Value = value;
            f.commands.HScroll1_Change();
            const QImage out = f.ws.Picture2.image();
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 7; ++x) {
                    const QRgb s = a.pixel(x, y), d = b.pixel(x, y);
                    QCOMPARE(out.pixel(x, y), qRgb(channelBlend(qRed(s), qRed(d), value),
                                                   channelBlend(qGreen(s), qGreen(d), value),
                                                   channelBlend(qBlue(s), qBlue(d), value)));
                }
            QCOMPARE(f.ws.Picture4.image(), b);  // the clean copy is never drawn on
        }
        f.ws.HScroll1.Value = 255;
        f.commands.HScroll1_Change();
        QCOMPARE(f.ws.Picture2.image(), a);
    }

    void blendStretchesTheFirstPictureAndNeverAccumulates()
    {
        Fixture f;
        const QImage a = testing::patternImage(3, 2, 5);
        f.first(a);
        f.second(testing::patternImage(6, 6, 6));
        f.ws.HScroll1.Value = 255;
        f.commands.HScroll1_Change();
        const QImage out = f.ws.Picture2.image();
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 6; ++x)
                QCOMPARE(out.pixel(x, y), a.pixel(x / 2, y / 3));
        f.ws.HScroll1.Value = 90;
        f.commands.HScroll1_Change();
        const QImage at90 = f.ws.Picture2.image();
        f.ws.HScroll1.Value = 10;
        f.commands.HScroll1_Change();
        f.ws.HScroll1.Value = 90;
        f.commands.HScroll1_Change();
        QCOMPARE(f.ws.Picture2.image(), at90);
    }

    void showingTheBlendControlsDrawsNothing()
    {
        Fixture f;
        f.second(testing::patternImage(4, 4, 1));
        const QImage before = f.ws.Picture2.image();
        f.commands.VarAdidezid_Click();
        QVERIFY(f.ws.Label1.Visible && f.ws.HScroll1.Visible);
        QCOMPARE(f.ws.Picture2.image(), before);
    }

    // --- Framing ---

    void frameShowsThePictureThroughItsWindow()
    {
        Fixture f;
        const QImage pic = testing::patternImage(24, 20, 3);
        f.first(frameImage(12, 10));  // stretched 1:2 both ways
        f.second(pic);
        f.ws.InsetX = 7;
        f.commands.AddFrameToPict_Click();
        QCOMPARE(f.ws.InsetX, std::int16_t(0));
        QCOMPARE(f.ws.InsetY, std::int16_t(0));
        const QImage out = f.ws.Picture2.image();
        const QImage frame = frameImage(12, 10);
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 24; ++x) {
                const QRgb fp = frame.pixel(x / 2, y / 2);
                QCOMPARE(out.pixel(x, y), fp == qRgb(0, 255, 0) ? pic.pixel(x, y) : fp);
            }
        QCOMPARE(f.ws.Picture5.Width(), f.ws.Picture2.Width());
        QCOMPARE(f.ws.Picture5.Height(), f.ws.Picture2.Height());
        QCOMPARE(f.ws.Picture5.image(), out);
        f.commands.AddFrameToPict_Click();  // twice is once
        QCOMPARE(f.ws.Picture2.image(), out);
    }

    void theKeyIsSampledFromTheOuterSize()
    {
        // Outer width 645 samples x = 322 (halves to even); 647 samples 324.
        for (auto [inner, sampleX] : {std::pair{641, 322}, {643, 324}}) {
            Fixture f;
            QImage frame = testing::filledImage(inner, 10, qRgb(1, 2, 3));
            for (int y = 0; y < 10; ++y)
                frame.setPixel(sampleX, y, qRgb(9, 9, 9));  // only that column is the key
            f.first(frame);
            f.second(testing::filledImage(inner, 10, qRgb(200, 200, 200)));
            f.commands.AddFrameToPict_Click();
            const QImage out = f.ws.Picture2.image();
            QCOMPARE(out.pixel(sampleX, 3), qRgb(200, 200, 200));
            QCOMPARE(out.pixel(sampleX - 1, 3), qRgb(1, 2, 3));
            QCOMPARE(out.pixel(sampleX + 1, 3), qRgb(1, 2, 3));
        }
    }

    // --- Preview ---

    void reducedPreviewIsOneThird()
    {
        Fixture f;
        const QImage pic = testing::patternImage(640, 480, 4);
        f.second(pic);
        f.commands.ShowReduced();
        QVERIFY(std::abs(f.ws.Picture3.Width() - 644 / 3.0) < 1e-9);
        QVERIFY(std::abs(f.ws.Picture3.Height() - 484 / 3.0) < 1e-9);
        QCOMPARE(f.ws.Picture3.Left, 0.0);
        QCOMPARE(f.ws.Picture3.Top, f.ws.Picture1.Top);
        QVERIFY(f.ws.Picture3.Visible && !f.ws.Picture1.Visible && !f.ws.Picture2.Visible);
        // A 213 x 160 reduction, shown in the box's 211 x 157 drawing area.
        const QImage small = f.ws.Picture3.image();
        QCOMPARE(small.size(), QSize(211, 157));
        for (int y = 0; y < small.height(); y += 13)
            for (int x = 0; x < small.width(); x += 7)
                QCOMPARE(small.pixel(x, y), pic.pixel((2 * x + 1) * 640 / 426, (2 * y + 1) * 480 / 320));
        f.commands.ShowReduced();
        QCOMPARE(f.ws.Picture3.image(), small);
        f.commands.HideReduced();
        QVERIFY(!f.ws.Picture3.Visible && f.ws.Picture1.Visible && f.ws.Picture2.Visible);
        QCOMPARE(f.ws.Picture3.image().pixel(5, 5), QRgb(kBlankColour));
        QCOMPARE(f.ws.Picture2.image(), pic);
    }

    // --- Keys ---

    void arrowsMoveTheSecondPictureAndEscapeReturnsIt()
    {
        for (VbBool mode : {kTrue, kFalse}) {
            Fixture f;
            f.ws.MixMode = mode;
            for (int i = 0; i < 3; ++i)
                f.commands.Form_KeyDown(vbKeyLeft, 0);
            QCOMPARE(f.ws.Picture2.Left, 610.0);
            f.commands.Form_KeyDown(vbKeyDown, 0);
            f.commands.Form_KeyDown(vbKeyRight, 0);
            f.commands.Form_KeyDown(vbKeyUp, 0);
            f.commands.Form_KeyDown(vbKeyUp, 0);
            QCOMPARE(f.ws.Picture2.Left, 620.0);
            QCOMPARE(f.ws.Picture2.Top, 70.0);
            f.commands.Form_KeyDown(65, 0);  // any other key: nothing
            f.commands.Form_KeyDown(vbKeyEscape, 0);
            QCOMPARE(f.ws.Picture2.Left, 640.0);
            QCOMPARE(f.ws.Picture2.Top, f.ws.Picture1.Top);
        }
        Fixture f;
        for (int i = 0; i < 4000; ++i)
            f.commands.Form_KeyDown(vbKeyUp, 0);
        QCOMPARE(f.ws.Picture2.Top, -32768.0);  // clamped, never an overflow
    }

    // --- Drag ---

    void pressStartsADragOnlyStrictlyInside()
    {
        Fixture f;
        f.ws.MixMode = kFalse;
        f.second(testing::patternImage(20, 10));
        const struct {
            float x, y;
            bool drags;
        } presses[] = {{0, 5, false}, {5, 0, false}, {20, 5, false}, {5, 10, false}, {0.5f, 0.5f, true}, {19.5f, 9.5f, true}};
        for (const auto& p : presses) {
            f.commands.Picture2_MouseDown(1, 0, p.x, p.y);
            QCOMPARE(f.ws.Dragging, p.drags ? kTrue : kFalse);
        }
    }

    void dragMovesTheFrameAndCommitsOnRelease()
    {
        Fixture f;
        f.ws.MixMode = kFalse;
        const QImage frame = frameImage(20, 16), pic = testing::patternImage(40, 30, 7);
        f.first(frame);
        f.second(pic);
        f.commands.AddFrameToPict_Click();
        f.commands.Picture2_MouseMove(1, 0, 30, 30);  // no press: nothing
        QCOMPARE(f.ws.InsetX, std::int16_t(0));
        f.commands.Picture2_MouseDown(2, 0, 5, 5);
        f.commands.Picture2_MouseMove(2, 0, 25, 15);
        f.commands.Picture2_MouseUp(2, 0, 25, 15);
        QCOMPARE(f.ws.InsetX, std::int16_t(20));
        QCOMPARE(f.ws.InsetY, std::int16_t(10));
        QCOMPARE(f.ws.Dragging, kFalse);
        const QImage out = f.ws.Picture2.image(), p5 = f.ws.Picture5.image();
        auto expected = [&](int x, int y) {  // frame stretched to 40 x 30, moved to (20, 10)
            if (x < 20 || y < 10)
                return pic.pixel(x, y);
            const QRgb fp = frame.pixel((x - 20) / 2, (2 * (y - 10) + 1) * 16 / 60);
            return fp == qRgb(0, 255, 0) ? pic.pixel(x, y) : fp;
        };
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) {
                QCOMPARE(out.pixel(x, y), expected(x, y));
                // The frame-sized region from (20, 10); beyond the picture, blank.
                const bool inside = x + 20 < 40 && y + 10 < 30;
                QCOMPARE(p5.pixel(x, y), inside ? out.pixel(x + 20, y + 10) : QRgb(kBlankColour));
            }
        // The next drag starts from the committed place.
        f.commands.Picture2_MouseDown(1, 0, 10, 10);
        QCOMPARE(f.ws.Dragging, kFalse);
        f.commands.Picture2_MouseDown(1, 0, 21, 11);
        QCOMPARE(f.ws.Dragging, kTrue);
        f.commands.Picture2_MouseUp(1, 0, 16, 11);
        QCOMPARE(f.ws.InsetX, std::int16_t(15));
    }

    void mixingModeIgnoresTheMouse()
    {
        Fixture f;
        f.ws.MixMode = kTrue;
        f.second(testing::patternImage(20, 10));
        const QImage before = f.ws.Picture2.image();
        f.commands.Picture2_MouseDown(1, 0, 5, 5);
        f.commands.Picture2_MouseMove(1, 0, 9, 9);
        f.commands.Picture2_MouseUp(1, 0, 9, 9);
        QCOMPARE(f.ws.Dragging, kFalse);
        QCOMPARE(f.ws.InsetX, std::int16_t(0));
        QCOMPARE(f.ws.Picture2.image(), before);
    }

    // --- Mirroring ---

    // Each command makes at most one new full-size buffer, and commands
    // repeated on the same pictures make none: results stay exact all along.
    void commandsMakeNoNeedlessCopies()
    {
        const QImage a = testing::patternImage(40, 30, 1), b = testing::patternImage(40, 30, 2);
        Fixture mix;
        mix.ws.MixMode = kTrue;
        mix.first(a);
        mix.second(b);
        QCOMPARE(distinctBuffers(mix.ws), 2);  // the two decoded pictures
        mix.ws.HScroll1.Value = 255;
        mix.commands.HScroll1_Change();
        QCOMPARE(distinctBuffers(mix.ws), 3);  // and the composite
        QCOMPARE(mix.ws.Picture2.image(), a);
        mix.commands.HFlipDest_Click();
        QCOMPARE(distinctBuffers(mix.ws), 3);  // mirrored into the composite's pixels
        QCOMPARE(mix.ws.Picture4.image(), b.mirrored(true, false));
        QCOMPARE(mix.ws.Picture2.image(), mix.ws.Picture4.image());
        mix.commands.HFlipSource_Click();
        QCOMPARE(distinctBuffers(mix.ws), 4);
        QCOMPARE(mix.ws.Picture1.image(), a.mirrored(true, false));
        mix.commands.HFlipSource_Click();
        mix.commands.HFlipDest_Click();
        mix.commands.HFlipDest_Click();
        QCOMPARE(distinctBuffers(mix.ws), 5);  // second and first mirror images, both pictures
        QCOMPARE(mix.ws.Picture1.image(), a);
        QCOMPARE(mix.ws.Picture4.image(), b.mirrored(true, false));

        Fixture frame;
        frame.first(frameImage(40, 30));
        frame.second(b);
        frame.commands.AddFrameToPict_Click();
        QCOMPARE(distinctBuffers(frame.ws), 3);  // the framed result is shared with Picture5
        QCOMPARE(frame.ws.Picture5.image(), frame.ws.Picture2.image());
        frame.commands.Picture2_MouseDown(1, 0, 5, 5);
        frame.commands.Picture2_MouseMove(1, 0, 7, 6);
        QCOMPARE(distinctBuffers(frame.ws), 4);
        frame.commands.Picture2_MouseMove(1, 0, 9, 8);
        QCOMPARE(distinctBuffers(frame.ws), 4);
        QCOMPARE(frame.ws.Picture4.image(), b);
    }

    void mirroring_data()
    {
        QTest::addColumn<QString>("commands");  // h/v on the first (1) or second (2) surface
        QTest::addColumn<int>("firstShows");    // 0 straight, 1 left-right, 2 top-bottom, 3 half turn
        QTest::addColumn<int>("secondShows");
        QTest::addColumn<QList<int>>("flags");  // FirstFlippedH, FirstFlippedV
        QTest::newRow("first left-right") << "1h" << 1 << 0 << QList<int>{1, 0};
        QTest::newRow("first left-right twice") << "1h 1h" << 0 << 0 << QList<int>{0, 0};
        QTest::newRow("first left-right then top-bottom") << "1h 1v" << 2 << 0 << QList<int>{1, 1};
        QTest::newRow("first then left-right again") << "1h 1v 1h" << 0 << 0 << QList<int>{0, 1};
        QTest::newRow("second left-right") << "2h" << 0 << 1 << QList<int>{0, 0};
        QTest::newRow("second left-right twice") << "2h 2h" << 0 << 0 << QList<int>{0, 0};
        QTest::newRow("second half turn") << "2h 2v" << 0 << 3 << QList<int>{0, 0};
        QTest::newRow("closed while top-bottom") << "1v close 1v" << 0 << 0 << QList<int>{0, 0};
        QTest::newRow("closed, then two") << "1v close 1v 1v" << 2 << 0 << QList<int>{0, 1};
        QTest::newRow("empty surfaces") << "empty 1h 2v" << -1 << -1 << QList<int>{0, 0};
    }
    void mirroring()
    {
        QFETCH(QString, commands);
        QFETCH(int, firstShows);
        QFETCH(int, secondShows);
        QFETCH(QList<int>, flags);
        Fixture f;
        const QImage a = testing::patternImage(5, 3, 1), b = testing::patternImage(4, 6, 2);
        f.first(a);
        f.second(b);
        for (const QString& c : commands.split(QLatin1Char(' '))) {
            if (c == QLatin1String("close")) {
                f.ws.Picture1.setPicture(nullptr);
                f.ws.FirstFlippedH = 0;
                f.ws.FirstEmpty = kTrue;
                f.first(a);
            } else if (c == QLatin1String("empty")) {
                f.ws.FirstEmpty = f.ws.SecondEmpty = kTrue;
            } else if (c == QLatin1String("1h")) {
                f.commands.HFlipSource_Click();
            } else if (c == QLatin1String("1v")) {
                f.commands.VerticalFlipSource_Click();
            } else if (c == QLatin1String("2h")) {
                f.commands.HFlipDest_Click();
            } else {
                f.commands.VFlipDest_Click();
            }
        }
        auto shown = [](const QImage& img, int how) {
            if (how < 0)
                return img;
            return img.mirrored(how & 1, how & 2);
        };
        QCOMPARE(f.ws.Picture1.image(), shown(a, firstShows));
        QCOMPARE(f.ws.Picture2.image(), shown(b, secondShows));
        QCOMPARE(f.ws.Picture4.image(), shown(b, secondShows));
        QCOMPARE(int(f.ws.FirstFlippedH), flags[0]);
        QCOMPARE(int(f.ws.FirstFlippedV), flags[1]);
        QCOMPARE(int(f.ws.SecondFlippedH) + int(f.ws.SecondFlippedV), 0);
    }
};

QTEST_GUILESS_MAIN(TestImageCommands)
#include "tst_image_commands.moc"
