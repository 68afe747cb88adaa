#pragma once
// Driving the built program in a real window under Xvfb with xdotool, as a
// person would: starting it and picking a mode, keys, clicks and drags,
// the open dialog typed into, and what the screen shows.
#include <QtTest>

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <cmath>

namespace tarvex::e2e {

constexpr QRgb kBlank = 0xfff0f0f0u;
constexpr QRgb kKey = 0xff00ff00u;

inline QString xdotool(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    p.waitForFinished(10000);
    if (qEnvironmentVariableIsSet("TARVEX_E2E_TRACE"))  // every step, to follow a failing run
        qDebug() << args << p.readAllStandardError();
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

inline QString windowNamed(const QString& name)
{
    return xdotool({"search", "--onlyvisible", "--name", "^" + name + "$"}).section('\n', 0, 0);
}

inline QRect geometryOf(const QString& window)
{
    QMap<QString, int> v;
    for (const QString& line : xdotool({"getwindowgeometry", "--shell", window}).split('\n'))
        v[line.section('=', 0, 0)] = line.section('=', 1).toInt();
    return {v["X"], v["Y"], v["WIDTH"], v["HEIGHT"]};
}

inline QImage screenshot()
{
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
}

inline QImage pattern(int w, int h, int seed)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb((seed * 53 + x * 5) & 0xff, (y * 7 + seed) & 0xff, ((x ^ y) * 3) & 0xff));
    return image;
}

// A frame as large as the picture: a 6-pixel border around a key-green window.
inline QImage frame(int w, int h)
{
    QImage image = pattern(w, h, 9);
    for (int y = 6; y < h - 6; ++y)
        for (int x = 6; x < w - 6; ++x)
            image.setPixel(x, y, kKey);
    return image;
}

// Nearest-neighbour by pixel centres: destination i of n takes source
// floor((2i + 1) * m / (2n)) of m.
inline int sample(int i, int m, int n)
{
    return int((2LL * i + 1) * m / (2LL * n));
}

inline QImage expectedMix(const QImage& first, const QImage& second, int value)
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


// The program under test and what is known of its main window.
class RealWindowDriver {
protected:
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
};

}  // namespace tarvex::e2e
