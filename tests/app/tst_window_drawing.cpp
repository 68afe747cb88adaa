// The main window on the offscreen platform drawing what the commands
// made: the mix while the thumb is dragged and once it is let go, the
// frame redrawn with the key's tolerance, transparency shown as a
// checkerboard; and the files the command line and a drop open.
#include <QtTest>

#include <QFileDialog>
#include <QLabel>
#include <QMimeData>
#include <QScrollBar>
#include <QSpinBox>

#include "app/commands.h"
#include "test_support.h"
#include "window_fixture.h"

using namespace tarvex;
using testing::WindowFixture;

class TestWindowDrawing : public QObject, WindowFixture {
    Q_OBJECT

private slots:
    void init() { startShell(); }
    void cleanup() { shell_.reset(); }

    void scrollBarChangesMix()
    {
        shell_->Command1_Click();
        Workspace& ws = shell_->workspace();
        ws.Picture1.setPicture(std::make_shared<const QImage>(testing::filledImage(4, 4, qRgb(255, 255, 255))));
        ws.Picture2.setPicture(std::make_shared<const QImage>(testing::filledImage(4, 4, qRgb(0, 0, 0))));
        ws.Picture4.setPicture(ws.Picture2.picture());
        control<QScrollBar>("HScroll1")->setValue(51);
        QCOMPARE(ws.BlendArgsPacked, 51 * 65536);
        QCOMPARE(ws.Picture2.image().pixel(1, 1), qRgb(51, 51, 51));
    }

    void draggedThumbShowsTheBlendAndTheReleaseMakesIt()
    {
        shell_->Command1_Click();
        Workspace& ws = shell_->workspace();
        ws.Picture1.setPicture(std::make_shared<const QImage>(testing::filledImage(8, 6, qRgb(255, 255, 255))));
        ws.Picture2.setPicture(std::make_shared<const QImage>(testing::filledImage(8, 6, qRgb(0, 0, 0))));
        ws.Picture4.setPicture(ws.Picture2.picture());
        main()->run(Command::VarAdidezid);
        auto* scroll = control<QScrollBar>("HScroll1");
        QSignalSpy changes(scroll, &QScrollBar::valueChanged);
        const QImage model = ws.Picture2.image().copy();
        const auto shownAt = [&](QPoint p) { return control("Picture2")->grab().toImage().pixel(p + QPoint(2, 2)); };
        scroll->setSliderDown(true);
        scroll->setSliderPosition(51);  // dragged, not released
        QCOMPARE(changes.count(), 0);
        QCOMPARE(ws.Picture2.image(), model);  // the model is not drawn
        QCOMPARE(shownAt({3, 3}), qRgb(51, 51, 51));
        QCOMPARE(scroll->toolTip(), QStringLiteral("51 / 255"));
        QCOMPARE(control("Label1")->accessibleDescription(), QStringLiteral("51 / 255"));
        scroll->setSliderPosition(200);
        QCOMPARE(shownAt({3, 3}), qRgb(200, 200, 200));
        scroll->setSliderDown(false);  // released: the change runs once
        QCOMPARE(changes.count(), 1);
        QCOMPARE(ws.BlendArgsPacked, 200 * 65536);
        QCOMPARE(ws.Picture2.image().pixel(3, 3), qRgb(200, 200, 200));
        QCOMPARE(shownAt({3, 3}), qRgb(200, 200, 200));
        // Dragged away and back to where it was: nothing changes, and the
        // model's picture is shown again.
        scroll->setSliderDown(true);
        scroll->setSliderPosition(20);
        scroll->setSliderPosition(200);
        scroll->setSliderDown(false);
        QCOMPARE(changes.count(), 1);
        ws.Picture2.setPicture(std::make_shared<const QImage>(testing::filledImage(8, 6, qRgb(9, 9, 9))));
        main()->render();
        QCOMPARE(shownAt({3, 3}), qRgb(9, 9, 9));
    }

    void queuedMouseMovesAreDrawnOnce()
    {
        shell_->Command2_Click();
        Workspace& ws = shell_->workspace();
        QImage frame(20, 20, QImage::Format_RGB32);
        frame.fill(qRgb(0, 255, 0));
        for (int i = 0; i < 20; ++i)
            frame.setPixel(i, 0, qRgb(255, 0, 0));
        ws.Picture1.setPicture(std::make_shared<const QImage>(frame));
        ws.Picture2.setPicture(std::make_shared<const QImage>(testing::patternImage(20, 20, 3)));
        ws.Picture4.setPicture(ws.Picture2.picture());
        main()->run(Command::AddFrameToPict);
        QWidget* box = control("Picture2");
        auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons) {
            QMouseEvent event(type, at + QPointF(2, 2), box->mapToGlobal(at + QPointF(2, 2)), button, buttons,
                              Qt::NoModifier);
            QCoreApplication::sendEvent(box, &event);
        };
        send(QEvent::MouseButtonPress, {5, 5}, Qt::LeftButton, Qt::LeftButton);
        const QImage before = ws.Picture2.image();
        for (int dx : {1, 2, 3})
            send(QEvent::MouseMove, {5.0 + dx, 5.0 + dx}, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(ws.Picture2.image(), before);  // nothing drawn until the queue is handled
        QCoreApplication::processEvents();
        QCOMPARE(ws.Picture2.image().pixel(5, 3), qRgb(255, 0, 0));  // only the last move: 3 down
        send(QEvent::MouseMove, {9, 7}, Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, {9, 7}, Qt::LeftButton, Qt::NoButton);  // the pending move first
        QCOMPARE(ws.InsetX, std::int16_t(4));
        QCOMPARE(ws.InsetY, std::int16_t(2));
        QCOMPARE(ws.Picture2.image().pixel(10, 2), qRgb(255, 0, 0));
    }

    void toleranceControlRedrawsTheFrameAndWhatIsSaved()
    {
        QVERIFY(dir_.isValid());
        const QDir dir(dir_.path());
        QImage photo(160, 120, QImage::Format_RGB32);
        photo.fill(qRgb(150, 60, 150));
        const QString frame = dir.filePath(QStringLiteral("rama.jpg"));
        QVERIFY(testing::texturedFrame(160, 120).save(frame, "jpeg", 80));
        const QString picture = testing::writePicture(dir, "poza.bmp", photo);
        shell_->Command1_Click();
        auto* tolerance = control<QSpinBox>("KeyTolerance");
        QVERIFY(tolerance && !tolerance->isVisibleTo(main()));  // mixing has no key
        main()->run(Command::Exit);
        shell_->Command2_Click();
        QVERIFY(tolerance->isVisibleTo(main()) && control("LabelKeyTolerance")->isVisibleTo(main()));
        QCOMPARE(tolerance->text(), QStringLiteral("automata"));
        main()->openAs(frame, picture);
        main()->run(Command::AddFrameToPict);
        Workspace& ws = shell_->workspace();
        const QImage automatic = ws.Picture5.image().copy();
        tolerance->setValue(0);  // exact: the coding's blur around the window shows again
        QCOMPARE(ws.KeyTolerance, 0);
        const QImage exact = ws.Picture5.image().copy();
        QVERIFY(exact != automatic);
        QCOMPARE(ws.Picture2.image(), exact);
        main()->run(Command::SaveFrame);
        QImage saved(dir.filePath(QStringLiteral("Stn000poza.bmp")));
        QCOMPARE(saved.convertToFormat(QImage::Format_RGB32), exact);
        tolerance->setValue(-1);
        QCOMPARE(ws.Picture5.image(), automatic);
    }

    // The tolerance tunes the key: a frame laid by its own alpha has none,
    // so the control is there only while the frame is keyed. Its label
    // reads as clearly as any label on its own face.
    void toleranceControlOnlyForKeyedFrames()
    {
        QVERIFY(dir_.isValid());
        const QDir dir(dir_.path());
        QImage withAlpha(40, 30, QImage::Format_ARGB32);
        withAlpha.fill(qRgba(0, 0, 0, 0));
        const QString alphaFrame = testing::writePicture(dir, "rama.png", withAlpha, "png");
        const QString keyedFrame = testing::writePicture(dir, "rama.bmp", testing::texturedFrame(40, 30));
        shell_->Command2_Click();
        QWidget* tolerance = control("KeyTolerance");
        auto* label = control<QLabel>("LabelKeyTolerance");
        QVERIFY(tolerance->isVisibleTo(main()));
        main()->openAs(alphaFrame, QString());
        QVERIFY(!tolerance->isVisibleTo(main()) && !label->isVisibleTo(main()));
        main()->openAs(keyedFrame, QString());
        QVERIFY(tolerance->isVisibleTo(main()) && label->isVisibleTo(main()));

        const QImage shown = label->grab().toImage();
        const QColor face = shown.pixelColor(1, 1), text = label->palette().color(label->foregroundRole());
        QVERIFY2(face != QColor(0, 0, 255), "the label shows the blue client area behind its text");
        const auto luminance = [](QColor c) {
            const auto linear = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
            return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
        };
        const double lighter = std::max(luminance(face), luminance(text)), darker = std::min(luminance(face), luminance(text));
        QVERIFY2((lighter + 0.05) / (darker + 0.05) >= 4.5, "the label's text does not stand out from its face");
    }

    void transparentPartsOfAFrameShowACheckerboard()
    {
        QVERIFY(dir_.isValid());
        QImage art(64, 48, QImage::Format_ARGB32);
        art.fill(qRgba(0, 0, 0, 0));
        QPainter(&art).fillRect(QRect(0, 0, 64, 8), QColor(200, 30, 30));  // an opaque top border
        const QString frame = testing::writePicture(QDir(dir_.path()), "rama.png", art, "png");
        shell_->Command2_Click();
        main()->openAs(frame, QString());
        QVERIFY(shell_->workspace().Picture1.hasAlpha());
        const QImage shown = control("Picture1")->grab().toImage();
        const QPoint inner(2, 2);  // the sunken border
        QCOMPARE(shown.pixel(inner + QPoint(10, 3)), qRgb(200, 30, 30));
        QSet<QRgb> seen;
        for (int y = 10; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                seen.insert(shown.pixel(inner + QPoint(x, y)));
        QCOMPARE(seen, (QSet<QRgb>{qRgb(204, 204, 204), qRgb(153, 153, 153)}));
    }

    // Files named on the command line open at the first choice of a mode,
    // as if chosen in its dialog, and only then.
    void filesFromTheCommandLine_data()
    {
        QTest::addColumn<bool>("mixing");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<int>("messages");
        QTest::newRow("one file, mixing: the second picture") << true << QStringList{"a.bmp"} << "" << "a.bmp" << 0;
        QTest::newRow("one file, framing: the picture") << false << QStringList{"b.bmp"} << "" << "b.bmp" << 0;
        QTest::newRow("two files, mixing") << true << QStringList{"a.bmp", "b.bmp"} << "a.bmp" << "b.bmp" << 0;
        QTest::newRow("two files, framing: frame and picture") << false << QStringList{"b.bmp", "a.bmp"} << "b.bmp"
                                                               << "a.bmp" << 0;
        QTest::newRow("a missing file") << true << QStringList{"a.bmp", "lipsa.bmp"} << "a.bmp" << "" << 1;
    }

    void filesFromTheCommandLine()
    {
        QFETCH(bool, mixing);
        QFETCH(QStringList, files);
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(int, messages);
        QVERIFY(dir_.isValid());
        const QDir dir(dir_.path());
        testing::writePicture(dir, "a.bmp", testing::patternImage(6, 5, 1));
        testing::writePicture(dir, "b.bmp", testing::patternImage(3, 3, 2));
        QStringList paths;
        for (const QString& f : files)
            paths << dir.filePath(f);
        shell_->openAtFirstChoice(paths);
        mixing ? shell_->Command1_Click() : shell_->Command2_Click();
        QStringList shown;
        main()->setMessageSink([&](const QString& m) { shown << m; });
        Workspace& ws = shell_->workspace();
        QCOMPARE(ws.FirstEmpty, kTrue);  // the window is up before anything is read
        QCoreApplication::processEvents();
        QCOMPARE(shown.size(), messages);
        if (messages)
            QVERIFY(shown[0].contains(QStringLiteral("lipsa.bmp")) && shown[0].contains(QStringLiteral("nu exista")));
        QCOMPARE(ws.FirstEmpty, first.isEmpty() ? kTrue : kFalse);
        QCOMPARE(ws.SecondEmpty, second.isEmpty() ? kTrue : kFalse);
        if (!first.isEmpty())
            QCOMPARE(ws.FirstFileName, dir.filePath(first));
        if (!second.isEmpty()) {
            QCOMPARE(ws.SecondFileName, dir.filePath(second));
            QCOMPARE(ws.PathParts.Name, second);
        }
        // Once only: leaving and choosing again opens nothing.
        main()->run(mixing ? Command::Exit : Command::FinRama);
        mixing ? shell_->Command1_Click() : shell_->Command2_Click();
        QCoreApplication::processEvents();
        QVERIFY(!ws.Picture2.picture());  // emptied on leaving, not opened again
    }

    void droppedFilesOpenAsTheDialogWould()
    {
        QVERIFY(dir_.isValid());
        const QString a = testing::writePicture(QDir(dir_.path()), "a.bmp", testing::patternImage(6, 5, 1));
        const QString b = testing::writePicture(QDir(dir_.path()), "b.bmp", testing::patternImage(3, 3, 2));
        shell_->Command1_Click();
        Workspace& ws = shell_->workspace();
        QStringList messages;
        main()->setMessageSink([&](const QString& m) { messages << m; });
        auto drop = [&](const char* box, const QList<QUrl>& urls) {
            QMimeData data;
            data.setUrls(urls);
            QWidget* target = control(box);
            QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(target, &enter);
            QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(target, &event);
        };
        drop("Picture1", {QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)});
        // The drop returns before the picture is read: the program the file
        // came from is not kept waiting.
        QVERIFY(ws.FirstFileName.isEmpty());
        QCOMPARE(ws.FirstEmpty, kTrue);
        QCoreApplication::processEvents();
        QCOMPARE(ws.FirstFileName, a);
        QCOMPARE(ws.Picture1.image(), testing::patternImage(6, 5, 1));
        drop("Picture2", {QUrl::fromLocalFile(b)});
        QCoreApplication::processEvents();
        QCOMPARE(ws.SecondFileName, b);
        QCOMPARE(ws.PathParts.Name, QStringLiteral("b.bmp"));
        drop("Picture2", {QUrl(QStringLiteral("https://example.org/c.bmp"))});
        QCoreApplication::processEvents();
        QCOMPARE(ws.SecondFileName, b);  // refused
        drop("Picture1", {QUrl::fromLocalFile(dir_.filePath("missing.bmp"))});
        QVERIFY(messages.isEmpty());  // not even the message box opens inside the drop
        QCoreApplication::processEvents();
        QCOMPARE(messages.size(), 1);
        QCOMPARE(ws.FirstEmpty, kTrue);  // mixing mode closes first, as the dialog's command does
        QVERIFY(control("Picture1")->accessibleName().contains(QStringLiteral("goala")));
    }
};

QTEST_MAIN(TestWindowDrawing)
#include "tst_window_drawing.moc"
