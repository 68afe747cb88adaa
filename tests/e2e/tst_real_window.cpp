// The built program in a real window under Xvfb, driven with xdotool as a
// person would: it starts with the chooser, opens the main window, comes
// back with F9, and ends with "Iesire aplicatie". On failure a screenshot
// goes to the test log folder.
#include <QtTest>

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>

class TestRealWindow : public QObject {
    Q_OBJECT

    QProcess program_;

    static QString xdotool(const QStringList& args)
    {
        QProcess p;
        p.start(QStringLiteral("xdotool"), args);
        p.waitForFinished(10000);
        return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    }
    static QString windowNamed(const QString& name)
    {
        return xdotool({"search", "--onlyvisible", "--name", "^" + name + "$"}).section('\n', 0, 0);
    }
    static QRect geometryOf(const QString& window)
    {
        const QString out = xdotool({"getwindowgeometry", "--shell", window});
        QMap<QString, int> v;
        for (const QString& line : out.split('\n'))
            v[line.section('=', 0, 0)] = line.section('=', 1).toInt();
        return {v["X"], v["Y"], v["WIDTH"], v["HEIGHT"]};
    }
    static QImage screenshot() { return QGuiApplication::primaryScreen()->grabWindow(0).toImage(); }
    void click(QPoint at)
    {
        xdotool({"mousemove", QString::number(at.x()), QString::number(at.y())});
        QTest::qWait(100);
        xdotool({"click", "1"});
    }

private slots:
    void cleanup()
    {
        if (QTest::currentTestFailed()) {
            const QString dir = qEnvironmentVariable("TARVEX_TEST_LOG_DIR", QDir::tempPath());
            screenshot().save(dir + QStringLiteral("/tarvex-e2e-failure.png"));
        }
        if (program_.state() != QProcess::NotRunning) {
            program_.kill();
            program_.waitForFinished();
        }
    }

    void chooserMainWindowAndExit()
    {
        program_.setProgram(QStringLiteral(TARVEX_BINARY));
        program_.start();
        QVERIFY(program_.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!windowNamed("Alegeti o optiune").isEmpty(), 15000);
        const QRect chooser = geometryOf(windowNamed("Alegeti o optiune"));
        QCOMPARE(chooser.size(), QSize(401, 75));

        click(chooser.topLeft() + QPoint(16 + 56, 16 + 16));  // "Mixeaza Poze"
        QTRY_VERIFY_WITH_TIMEOUT(!windowNamed("VarAdidezid").isEmpty(), 15000);
        QTRY_VERIFY(windowNamed("Alegeti o optiune").isEmpty());
        const QString main = windowNamed("VarAdidezid");
        const QRect mainRect = geometryOf(main);
        // The blue client area, well below the pictures.
        QTRY_COMPARE(screenshot().pixel(mainRect.left() + 1100, mainRect.bottom() - 40), qRgb(0, 0, 255));

        click(mainRect.topLeft() + QPoint(1100, mainRect.height() - 40));  // an empty spot, as a person would
        xdotool({"key", "--window", main, "F9"});
        QTRY_VERIFY_WITH_TIMEOUT(!windowNamed("Alegeti o optiune").isEmpty(), 15000);
        const QRect again = geometryOf(windowNamed("Alegeti o optiune"));
        click(again.topLeft() + QPoint(312 + 40, 16 + 16));  // "Iesire aplicatie"
        QVERIFY(program_.waitForFinished(15000));
        QCOMPARE(program_.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program_.exitCode(), 0);
    }
};

QTEST_MAIN(TestRealWindow)
#include "tst_real_window.moc"
