// The window on Wayland, as GNOME shows it, on a screen at 200 %: under a
// headless Weston at scale 2, the chooser is drawn in the screen's own
// pixels, several times sharper than the same chooser shown through
// XWayland, which the compositor scales up from half size. Skipped, saying
// why, where Weston, its screenshooter, XWayland or Qt's Wayland plugin is
// missing (scripts/setup.sh --tests installs them).
#include <QtTest>

#include <QImage>
#include <QStandardPaths>
#include <QRegularExpression>
#include <QThread>

namespace {

constexpr QRgb kDesktop = 0xff203040;  // Weston's background, one colour here

// How sharp the picture's detail is inside `box`: the mean square of the
// differences between neighbouring pixels. A window drawn at half size
// and scaled up by two has its edges spread over twice the pixels.
double sharpness(const QImage& image, const QRect& box)
{
    double sum = 0;
    qint64 count = 0;
    for (int y = box.top(); y < box.bottom(); ++y)
        for (int x = box.left(); x < box.right(); ++x) {
            const QRgb p = image.pixel(x, y), right = image.pixel(x + 1, y), below = image.pixel(x, y + 1);
            for (const QRgb q : {right, below}) {
                const double d = qGray(p) - qGray(q);
                sum += d * d;
            }
            ++count;
        }
    return count ? sum / double(count) : 0;
}

// Where the window is: everything that is not the desktop.
QRect windowBox(const QImage& image)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != kDesktop)
                box |= QRect(x, y, 1, 1);
    return box;
}

}  // namespace

class TestWayland : public QObject {
    Q_OBJECT

    QTemporaryDir runtime_;
    QProcess weston_;
    QString socket_ = QStringLiteral("tarvex-test");
    QString xDisplay_;  // Weston's XWayland server, as it logs it

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), socket_);
        env.remove(QStringLiteral("DISPLAY"));
        return env;
    }

    QImage screenshot()
    {
        const QDir shots(runtime_.path());
        const QStringList pattern{QStringLiteral("wayland-screenshot-*.png")};
        for (const QString& old : shots.entryList(pattern))
            QFile::remove(shots.filePath(old));
        QProcess shooter;
        shooter.setProcessEnvironment(environment());
        shooter.setWorkingDirectory(runtime_.path());
        shooter.start(QStringLiteral("weston-screenshooter"), {});
        shooter.waitForFinished(10000);
        const QStringList taken = shots.entryList(pattern);
        return taken.isEmpty() ? QImage()
                               : QImage(shots.filePath(taken.first())).convertToFormat(QImage::Format_RGB32);
    }

    // The chooser on the screen, shown through Qt's `platform` plugin, once
    // Weston has finished fading it in: two screenshots in a row agree.
    QImage chooserShown(const QString& platform)
    {
        QProcess tarvex;
        QProcessEnvironment env = environment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        if (platform == QLatin1String("xcb"))
            env.insert(QStringLiteral("DISPLAY"), xDisplay_);
        tarvex.setProcessEnvironment(env);
        tarvex.start(QStringLiteral(TARVEX_BINARY), {});
        if (!tarvex.waitForStarted())
            return {};
        QImage last, shot;
        for (int attempt = 0; attempt < 50; ++attempt) {
            QThread::msleep(200);
            last = shot;
            shot = screenshot();
            if (!shot.isNull() && shot == last && !windowBox(shot).isEmpty())
                break;
        }
        tarvex.kill();
        tarvex.waitForFinished();
        if (!qEnvironmentVariableIsEmpty("TARVEX_TEST_LOG_DIR"))
            shot.save(qEnvironmentVariable("TARVEX_TEST_LOG_DIR") + QStringLiteral("/wayland-%1.png").arg(platform));
        return shot;
    }

private slots:
    void initTestCase()
    {
        for (const char* program : {"weston", "weston-screenshooter", "Xwayland"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("needs %1 (scripts/setup.sh --tests installs it)").arg(QLatin1String(program))));
        if (!QFileInfo::exists(QStringLiteral(QT_PLUGIN_DIR "/platforms/libqwayland-generic.so")))
            QSKIP("needs Qt's Wayland plugin (qt6-wayland; scripts/setup.sh --tests installs it)");
        QVERIFY(runtime_.isValid());
        QFile::setPermissions(runtime_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile ini(runtime_.filePath(QStringLiteral("weston.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[core]\nxwayland=true\n[shell]\nbackground-color=0xff203040\npanel-position=none\n");
        ini.close();
        const QString log = runtime_.filePath(QStringLiteral("weston.log"));
        weston_.setProcessEnvironment(environment());
        weston_.start(QStringLiteral("weston"),
                      {"--backend=headless-backend.so", "--use-pixman", "--scale=2", "--width=1280", "--height=800",
                       "--socket=" + socket_, "--idle-time=0", "--debug", "--config=" + ini.fileName(), "--log=" + log});
        if (!weston_.waitForStarted())
            QSKIP("weston does not start here");
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(runtime_.filePath(socket_)), 10000);
        const QRegularExpression listening(QStringLiteral("xserver listening on display (:\\d+)"));
        QTRY_VERIFY_WITH_TIMEOUT(!(xDisplay_ = [&] {
            QFile file(log);
            return file.open(QIODevice::ReadOnly) ? listening.match(QString::fromUtf8(file.readAll())).captured(1)
                                                  : QString();
        }()).isEmpty(), 10000);
    }

    void cleanupTestCase()
    {
        weston_.terminate();
        weston_.waitForFinished(5000);
    }

    // Shown through XWayland, as it is without the Wayland plugin, the
    // chooser is drawn at half size and scaled up by the compositor: its
    // text and edges are spread over twice the pixels.
    void chooserIsDrawnInDevicePixels()
    {
        const QImage native = chooserShown(QStringLiteral("wayland"));
        QVERIFY2(!native.isNull(), "no screenshot of the chooser");
        QCOMPARE(native.size(), QSize(2560, 1600));  // the screen's own pixels
        const QRect box = windowBox(native);
        QVERIFY2(box.width() >= 2 * 380 && box.height() >= 2 * 90,
                 qPrintable(QStringLiteral("the chooser covers %1 x %2 pixels, not twice its size")
                                .arg(box.width()).arg(box.height())));
        const QImage scaled = chooserShown(QStringLiteral("xcb"));
        QVERIFY2(!scaled.isNull(), "no screenshot of the chooser through XWayland");
        const double sharp = sharpness(native, box), blurred = sharpness(scaled, windowBox(scaled));
        QVERIFY2(sharp > 2 * blurred,
                 qPrintable(QStringLiteral("detail %1 drawn natively, %2 scaled up").arg(sharp).arg(blurred)));
    }
};

QTEST_GUILESS_MAIN(TestWayland)
#include "tst_wayland.moc"
