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
#include "test_support.h"

namespace {

constexpr QRgb kBlank = 0xfff0f0f0u;
constexpr QRgb kKey = 0xff00ff00u;

QString xdotool(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    p.waitForFinished(10000);
    if (qEnvironmentVariableIsSet("TARVEX_E2E_TRACE"))  // every step, to follow a failing run
        qDebug() << args << p.readAllStandardError();
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

QString windowNamed(const QString& name)
{
    return xdotool({"search", "--onlyvisible", "--name", "^" + name + "$"}).section('\n', 0, 0);
}

QRect geometryOf(const QString& window)
{
    QMap<QString, int> v;
    for (const QString& line : xdotool({"getwindowgeometry", "--shell", window}).split('\n'))
        v[line.section('=', 0, 0)] = line.section('=', 1).toInt();
    return {v["X"], v["Y"], v["WIDTH"], v["HEIGHT"]};
}

QImage screenshot()
{
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
}

QImage pattern(int w, int h, int seed)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb((seed * 53 + x * 5) & 0xff, (y * 7 + seed) & 0xff, ((x ^ y) * 3) & 0xff));
    return image;
}

// A frame as large as the picture: a 6-pixel border around a key-green window.
QImage frame(int w, int h)
{
    QImage image = pattern(w, h, 9);
    for (int y = 6; y < h - 6; ++y)
        for (int x = 6; x < w - 6; ++x)
            image.setPixel(x, y, kKey);
    return image;
}

// Nearest-neighbour by pixel centres: destination i of n takes source
// floor((2i + 1) * m / (2n)) of m.
int sample(int i, int m, int n)
{
    return int((2LL * i + 1) * m / (2LL * n));
}

QImage expectedMix(const QImage& first, const QImage& second, int value)
{
    QImage out = second.copy();
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x) {
            const QRgb s = first.pixel(sample(x, first.width(), out.width()), sample(y, first.height(), out.height()));
            const QRgb d = second.pixel(x, y);
            auto mix = [&](int cs, int cd) { return int(std::lround((cs * value + cd * (255.0 - value)) / 255.0)); };
            out.setPixel(x, y, qRgb(mix(qRed(s), qRed(d)), mix(qGreen(s), qGreen(d)), mix(qBlue(s), qBlue(d))));
        }
    return out;
}

}  // namespace

class TestRealWindow : public QObject {
    Q_OBJECT

    QProcess program_;
    QTemporaryDir dir_;
    QString main_;       // the main window's id
    QPoint client_;      // its client area's top-left corner on the screen
    int scale_ = 1;      // screen pixels per pixel of the window's layout

    QString file(const QString& name) const { return dir_.filePath(name); }

    void click(QPoint at, int button = 1)
    {
        xdotool({"mousemove", QString::number(at.x()), QString::number(at.y())});
        QTest::qWait(50);
        xdotool({"click", QString::number(button)});
        QTest::qWait(300);  // the window takes the focus after the click has been handled
    }
    void key(const QString& keys)
    {
        xdotool({"key", keys});
        QTest::qWait(100);
    }
    // Clicking the first picture box, a control that takes the focus, makes
    // the main window active again, as a person would after a dialog. The
    // box has no click handler of its own.
    void focusMain() { click(client_ + QPoint(5, 85) * scale_); }
    void clickToolbarButton(int index) { click(client_ + QPoint(2 + (index - 1) * 71 + 35, 38)); }

    // Starts the program and picks a mode in the chooser; then, unless
    // `click` is false, clicks an empty spot of the main window.
    void startAndChoose(int chooserButtonX, const QStringList& arguments = {}, bool click = true)
    {
        program_.setProgram(QStringLiteral(TARVEX_BINARY));
        program_.setArguments(arguments);
        program_.setWorkingDirectory(dir_.path());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (scale_ != 1)
            environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(scale_));
        program_.setProcessEnvironment(environment);
        program_.start();
        QVERIFY(program_.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!windowNamed("Alegeti o optiune").isEmpty(), 15000);
        const QRect chooser = geometryOf(windowNamed("Alegeti o optiune"));
        QCOMPARE(chooser.height(), 75 * scale_);
        QVERIFY(chooser.width() >= 401 * scale_);  // wider where a caption needs it
        this->click(chooser.topLeft() + QPoint(chooserButtonX, 32) * scale_);
        QTRY_VERIFY_WITH_TIMEOUT(!windowNamed("VarAdidezid").isEmpty(), 15000);
        QTRY_VERIFY(windowNamed("Alegeti o optiune").isEmpty());
        main_ = windowNamed("VarAdidezid");
        const QRect window = geometryOf(main_);
        // The client area starts below the menu bar, whose height the
        // window's size tells: the client area is 746 pixels high.
        const int clientHeight = 746 * scale_;
        QTRY_COMPARE(geometryOf(main_).height() - clientHeight >= 0, true);
        client_ = window.topLeft() + QPoint(0, geometryOf(main_).height() - clientHeight);
        QTRY_COMPARE(screenshot().pixel(client_ + QPoint(1150, 720) * scale_), qRgb(0, 0, 255));
        if (click)
            focusMain();
    }

    // Opens a file through the real dialog: the command's keys, then the
    // path typed into the dialog's name field.
    void openThroughDialog(const QString& keys, const QString& path)
    {
        key(keys);
        QTRY_VERIFY_WITH_TIMEOUT(!windowNamed("Open").isEmpty(), 10000);
        QTest::qWait(200);
        xdotool({"type", "--delay", "2", path});
        key("Return");
        QTRY_VERIFY_WITH_TIMEOUT(windowNamed("Open").isEmpty(), 10000);
        QTest::qWait(200);
        focusMain();
    }

    QImage savedBitmap(const QString& name)
    {
        if (!QTest::qWaitFor([&] { return QFileInfo::exists(file(name)); }, 10000))
            qWarning("%s was not saved", qPrintable(name));
        QImage image(file(name), "bmp");
        return image.convertToFormat(QImage::Format_RGB32);
    }

    // A drag with the first button from a screen point through each of
    // `steps` (offsets from it), released at the last.
    void dragMouse(QPoint from, const QList<QPoint>& steps)
    {
        xdotool({"mousemove", QString::number(from.x()), QString::number(from.y())});
        xdotool({"mousedown", "1"});
        QTest::qWait(100);
        for (const QPoint step : steps) {
            xdotool({"mousemove", QString::number(from.x() + step.x()), QString::number(from.y() + step.y())});
            QTest::qWait(120);
        }
        xdotool({"mouseup", "1"});
        QTest::qWait(200);
    }

    // The drawing area of a picture box whose outer top-left corner is at
    // client point `box`, as the screen shows it.
    QImage shown(QPoint box, QSize size) { return screenshot().copy(QRect(client_ + box + QPoint(2, 2), size)); }

    void endProgram()
    {
        focusMain();
        key("F9");
        if (windowNamed("Alegeti o optiune").isEmpty())
            key("shift+F9");
        QTRY_VERIFY_WITH_TIMEOUT(!windowNamed("Alegeti o optiune").isEmpty(), 10000);
        const QRect chooser = geometryOf(windowNamed("Alegeti o optiune"));
        click(chooser.topLeft() + QPoint(312 + 40, 32) * scale_);  // "Iesire aplicatie"
        // The program may have ended while the click was still being waited for.
        QTRY_COMPARE_WITH_TIMEOUT(program_.state(), QProcess::NotRunning, 15000);
        QCOMPARE(program_.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program_.exitCode(), 0);
    }

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
