// Photos larger than the layout was drawn for, in the window on the
// offscreen platform: boxes reduced into their places, the blend control
// never covered, the mouse converted to picture pixels, and saved files
// exactly what the commands make without a window.
#include <QtTest>

#include <QColorSpace>
#include <QColorTransform>
#include <QScrollBar>

#include "app/main_window.h"
#include "app/shell.h"
#include "imaging/image_commands.h"
#include "picture_box.h"
#include "picture_box_support.h"
#include "test_support.h"
#include "workspace/picture_commands.h"

using namespace tarvex;
using testing::sendMouse;

namespace {

// The shown drawing area of a box, as the window paints it.
QImage shownArea(QWidget* box)
{
    const QImage grab = box->grab().toImage().convertToFormat(QImage::Format_RGB32);
    return grab.copy(kBorder, kBorder, grab.width() - 2 * kBorder, grab.height() - 2 * kBorder);
}

}  // namespace

class TestLargePictures : public QObject {
    Q_OBJECT

    std::unique_ptr<Shell> shell_;
    QTemporaryDir dir_;
    QString first_, second_, frame_;

    MainWindow* main() { return shell_->mainWindow(); }
    QWidget* control(const char* name) { return main()->findChild<QWidget*>(QString::fromLatin1(name)); }
    PictureBox* box(const char* name) { return main()->findChild<PictureBox*>(QString::fromLatin1(name)); }
    Workspace& ws() { return shell_->workspace(); }

    void open(const QString& first, const QString& second)
    {
        main()->pictureCommands().openFirstAs(first);
        main()->pictureCommands().openSecondAs(second);
        main()->render();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        const QDir dir(dir_.path());
        first_ = testing::writePicture(dir, "intai.bmp", testing::patternImage(2400, 1800, 1));
        second_ = testing::writePicture(dir, "doi.bmp", testing::patternImage(3000, 2000, 2));
        QImage frame = testing::patternImage(3000, 2000, 3);
        frame.fill(qRgb(0, 255, 0));
        for (int y = 0; y < 2000; ++y)
            for (int x = 0; x < 3000; ++x)
                if (x < 300 || y < 200 || x >= 2700 || y >= 1800)
                    frame.setPixel(x, y, qRgb(150, 40, 40));
        frame_ = testing::writePicture(dir, "rama.bmp", frame);
    }

    void init()
    {
        shell_ = std::make_unique<Shell>([] {});
        shell_->start();
    }
    void cleanup() { shell_.reset(); }

    // A P3 photo, small enough to be shown 1:1 and large enough to be
    // reduced: the window shows its colours converted to the screen's
    // (sRGB), while the model keeps the photo's values.
    void wideGamutPhotosAreShownInScreenColours()
    {
        const QDir dir(dir_.path());
        for (const QSize size : {QSize(200, 150), QSize(1600, 1200)}) {
            QImage photo(size, QImage::Format_RGB32);
            photo.fill(qRgb(250, 30, 20));  // a red past what sRGB shows
            photo.setColorSpace(QColorSpace::DisplayP3);
            const QString path = dir.filePath(QStringLiteral("p3-%1.png").arg(size.width()));
            QVERIFY(photo.save(path, "png"));
            shell_->Command1_Click();
            open(QString(), path);
            QCOMPARE(ws().Picture2.image().pixel(10, 10), qRgb(250, 30, 20));
            const QRgb shown = shownArea(control("Picture2")).pixel(10, 10);
            const QRgb want = QColorSpace(QColorSpace::DisplayP3).transformationToColorSpace(QColorSpace::SRgb).map(qRgb(250, 30, 20));
            QVERIFY2(std::abs(qRed(shown) - qRed(want)) <= 2 && std::abs(qGreen(shown) - qGreen(want)) <= 2 &&
                         std::abs(qBlue(shown) - qBlue(want)) <= 2,
                     qPrintable(QStringLiteral("%1 shown as %2, in sRGB %3").arg(size.width()).arg(shown, 8, 16).arg(want, 8, 16)));
            main()->run(Command::Exit);
        }
    }

    void largeMixFitsAndSavesFullSize()
    {
        shell_->Command1_Click();
        open(first_, second_);
        main()->run(Command::VarAdidezid);
        auto* scroll = main()->findChild<QScrollBar*>(QStringLiteral("HScroll1"));
        scroll->setValue(90);

        QVERIFY(QRect(0, 80, 644, 484).contains(control("Picture1")->geometry()));
        QVERIFY(QRect(640, 80, 644, 484).contains(control("Picture2")->geometry()));
        QCOMPARE(control("Picture1")->geometry(), QRect(0, 80, 644, 484));
        QCOMPARE(control("Picture2")->geometry(), QRect(640, 80, 644, 430));
        // The model keeps the full sizes.
        QCOMPARE(ws().Picture2.ScaleWidth(), 3000);
        QCOMPARE(ws().Picture1.Width(), 2404.0);
        // The scroll bar can be reached where it stands.
        QWidget* client = main()->centralWidget();
        const QPoint centre = control("HScroll1")->geometry().center();
        QWidget* under = client->childAt(centre);
        QVERIFY(under == scroll || scroll->isAncestorOf(under));
        QCOMPARE(client->childAt(control("Label1")->geometry().center()), control("Label1"));

        // What the window shows is the area mean of the composite.
        const QImage shown = shownArea(control("Picture2"));
        QImage expected(640, 426, QImage::Format_RGB32);
        raster::ReduceArea({reinterpret_cast<raster::Pixel*>(expected.bits()), 640, 426, 640},
                           ws().Picture2.source());
        QCOMPARE(shown, expected);

        // Saved in full, as the commands save it without any window.
        main()->run(Command::Save);
        QImage saved(QDir(dir_.path()).filePath(QStringLiteral("Stn000doi.bmp")));
        QCOMPARE(saved.size(), QSize(3000, 2000));
        Workspace bare;
        bare.Form_Load();
        testing::ScriptedPrompts prompts;
        prompts.answers << first_ << second_;
        PictureCommands pictures(bare, prompts);
        ImageCommands images(bare);
        pictures.OpenSource_Click();
        pictures.OpenDest_Click();
        bare.HScroll1.Value = 90;
        images.HScroll1_Change();
        QCOMPARE(saved.convertToFormat(QImage::Format_RGB32), bare.Picture2.image());
        QFile::remove(QDir(dir_.path()).filePath(QStringLiteral("Stn000doi.bmp")));
    }

    void previewUsesTheWindowAndKeepsTheBlendControl()
    {
        shell_->Command1_Click();
        open(first_, second_);
        main()->run(Command::VarAdidezid);
        main()->run(Command::ShowReduced);
        QWidget* preview = control("Picture3");
        QVERIFY(preview->isVisible());
        QCOMPARE(ws().Picture3.ScaleWidth(), 997);  // the one-third box itself is unchanged: 3004 / 3 less its border
        const QRect client = main()->centralWidget()->rect();
        QVERIFY(client.contains(preview->geometry()));
        QCOMPARE(preview->geometry().topLeft(), QPoint(0, 80));
        QWidget* under = main()->centralWidget()->childAt(control("HScroll1")->geometry().center());
        QVERIFY(under == control("HScroll1") || control("HScroll1")->isAncestorOf(under));
    }

    void mousePositionsArriveInPicturePixels()
    {
        shell_->Command2_Click();
        open(frame_, second_);
        main()->run(Command::AddFrameToPict);
        PictureBox* p2 = box("Picture2");
        const view::Fit fit = p2->fit();
        QVERIFY(fit.resampled);
        const QPointF middle(fit.inner.width() / 2.0, fit.inner.height() / 2.0);
        sendMouse(p2, QEvent::MouseButtonPress, middle, Qt::LeftButton, Qt::LeftButton);
        const double step = 1 / fit.scaleX;  // one shown pixel in picture pixels
        QVERIFY2(std::abs(ws().DragStartX - 1500) <= step, qPrintable(QString::number(ws().DragStartX)));
        QVERIFY2(std::abs(ws().DragStartY - 1000) <= step, qPrintable(QString::number(ws().DragStartY)));
        QCOMPARE(ws().Dragging, kTrue);
        sendMouse(p2, QEvent::MouseMove, middle + QPointF(-100, -40), Qt::NoButton, Qt::LeftButton);
        sendMouse(p2, QEvent::MouseButtonRelease, middle + QPointF(-100, -40), Qt::LeftButton, Qt::NoButton);
        QVERIFY2(std::abs(ws().InsetX - (-100 / fit.scaleX)) <= 1, qPrintable(QString::number(ws().InsetX)));
        QVERIFY2(std::abs(ws().InsetY - (-40 / fit.scaleY)) <= 1, qPrintable(QString::number(ws().InsetY)));
        // The frame moved up and left across the whole picture: its border
        // now covers the picture's bottom-right corner region.
        QCOMPARE(ws().Picture2.image().pixel(2999, 1999), ws().Picture4.image().pixel(2999, 1999));
        QCOMPARE(ws().Picture2.image().pixel(1000, 10), qRgb(150, 40, 40));
    }

    // A window twice the drawn size shows the layout twice as large; the
    // model, the drag in picture pixels and the saved file are unchanged.
    void twiceTheSizeScalesWhatIsShownOnly()
    {
        shell_->Command2_Click();
        open(frame_, second_);
        main()->run(Command::AddFrameToPict);
        const char* names[] = {"Picture1", "Picture2", "HScroll1", "Label1", "KeyTolerance", "LabelKeyTolerance"};
        QList<QPoint> design;
        for (const char* name : names)
            design << control(name)->pos();
        const QSize drawn = control("HScroll1")->size();
        const double s = box("Picture2")->fit().scaleX;

        main()->resize(main()->size() + main()->centralWidget()->size());
        QCOMPARE(main()->centralWidget()->size(), QSize(2544, 1492));
        for (int i = 0; i < 6; ++i)
            QCOMPARE(control(names[i])->pos(), QPoint(2 * design[i].x(), 76 + 2 * (design[i].y() - 76)));
        QCOMPARE(control("HScroll1")->size(), drawn);  // controls keep their own size
        QCOMPARE(box("Picture2")->fit().inner, QSize(1280, 852));
        QCOMPARE(ws().Picture2.Left, 640.0);  // the model keeps the drawn geometry
        QCOMPARE(ws().Picture2.ScaleWidth(), 3000);

        PictureBox* p2 = box("Picture2");
        const view::Fit fit = p2->fit();
        const QPointF middle(fit.inner.width() / 2.0, fit.inner.height() / 2.0);
        sendMouse(p2, QEvent::MouseButtonPress, middle, Qt::LeftButton, Qt::LeftButton);
        sendMouse(p2, QEvent::MouseMove, middle + QPointF(-100, 0), Qt::NoButton, Qt::LeftButton);
        sendMouse(p2, QEvent::MouseButtonRelease, middle + QPointF(-100, 0), Qt::LeftButton, Qt::NoButton);
        QVERIFY2(std::abs(ws().InsetX - (-100 / (2 * s))) <= 1, qPrintable(QString::number(ws().InsetX)));
        QCOMPARE(ws().InsetY, 0.0);
        main()->run(Command::SaveFrame);
        const QString savedPath = QDir(dir_.path()).filePath(QStringLiteral("Stn000doi.bmp"));
        const QImage saved = QImage(savedPath).convertToFormat(QImage::Format_RGB32);
        QFile::remove(savedPath);

        // The same drag, in the same picture pixels, without any window.
        Workspace bare;
        bare.Form_Load();
        bare.MixMode = kFalse;
        testing::ScriptedPrompts prompts;
        prompts.answers << frame_ << second_;
        PictureCommands pictures(bare, prompts);
        ImageCommands images(bare);
        pictures.AddFrameInP1_Click();
        pictures.AddPictIn2_Click();
        images.AddFrameToPict_Click();
        const QPointF from = fit.toSurface(middle), to = fit.toSurface(middle + QPointF(-100, 0));
        images.Picture2_MouseDown(1, 0, float(from.x()), float(from.y()));
        images.Picture2_MouseMove(1, 0, float(to.x()), float(to.y()));
        images.Picture2_MouseUp(1, 0, float(to.x()), float(to.y()));
        QCOMPARE(bare.InsetX, ws().InsetX);
        pictures.SaveFrame_Click();
        QCOMPARE(QImage(savedPath).convertToFormat(QImage::Format_RGB32), saved);
        QFile::remove(savedPath);
    }

    // Resizing redraws the resampled boxes once the size has settled, not
    // at every step of the window's edge.
    void resizingRemakesShownImagesOnceSettled()
    {
        shell_->Command1_Click();
        open(first_, second_);
        PictureBox* p2 = box("Picture2");
        p2->grab();
        const quint64 before = p2->shownImage().made();
        for (int step = 1; step <= 8; ++step) {
            main()->resize(main()->size() + QSize(40, 25));
            QCoreApplication::processEvents();
            p2->grab();  // a repaint at each intermediate size
        }
        QCOMPARE(p2->shownImage().made(), before);
        QTRY_VERIFY(p2->grab().size() == p2->size() && p2->shownImage().made() == before + 1);
        QCOMPARE(shownArea(p2).size(), p2->fit().inner);
    }

    void smallPicturesAreShownOneToOne_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("640 x 480") << QSize(640, 480);
        QTest::newRow("320 x 200") << QSize(320, 200);
        QTest::newRow("1 x 1") << QSize(1, 1);
    }
    void smallPicturesAreShownOneToOne()
    {
        QFETCH(QSize, size);
        const QDir dir(dir_.path());
        const QString a = testing::writePicture(dir, "mic1.bmp", testing::patternImage(size.width(), size.height(), 5));
        const QString b = testing::writePicture(dir, "mic2.bmp", testing::patternImage(size.width(), size.height(), 6));
        shell_->Command1_Click();
        open(a, b);
        main()->run(Command::VarAdidezid);
        for (const char* name : {"Picture1", "Picture2"}) {
            PictureBox* p = box(name);
            const Surface& s = name[7] == '1' ? ws().Picture1 : ws().Picture2;
            QVERIFY(!p->fit().resampled);
            QCOMPARE(p->geometry(), QRect(int(s.Left), int(s.Top), size.width() + 4, size.height() + 4));
            QCOMPARE(shownArea(p), s.image());
        }
    }

    void emptyBoxesPaintWithoutAnImage()
    {
        shell_->Command1_Click();
        main()->grab();
        QVERIFY(ws().Picture1.isBlank());
        QVERIFY(ws().Picture2.isBlank());
        QCOMPARE(shownArea(control("Picture1")).pixel(100, 100), QRgb(kBlankColour));
    }
};

QTEST_MAIN(TestLargePictures)
#include "tst_large_pictures.moc"
