// The window on a screen of twice the density (QT_SCALE_FACTOR=2, set by
// the test's environment), smaller than the window as drawn: it opens to
// fit, reduced boxes are made from the screen's device pixels, and the
// mouse still arrives in picture pixels.
#include <QtTest>

#include <QScreen>
#include <QScrollBar>

#include "app/main_window.h"
#include "app/shell.h"
#include "picture_box.h"
#include "picture_box_support.h"
#include "test_support.h"

using namespace tarvex;
using testing::sendMouse;

namespace {

// The largest difference of any channel between two images of one size.
int largestDifference(const QImage& a, const QImage& b)
{
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

}  // namespace

class TestHiDpi : public QObject {
    Q_OBJECT

    std::unique_ptr<Shell> shell_;
    QTemporaryDir dir_;
    QString first_, second_;

    MainWindow* main() { return shell_->mainWindow(); }
    PictureBox* box(const char* name) { return main()->findChild<PictureBox*>(QString::fromLatin1(name)); }
    Workspace& ws() { return shell_->workspace(); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        const QDir dir(dir_.path());
        first_ = testing::writePicture(dir, "intai.bmp", testing::patternImage(2400, 1800, 1));
        second_ = testing::writePicture(dir, "doi.bmp", testing::patternImage(3000, 2000, 2));
    }

    void init()
    {
        shell_ = std::make_unique<Shell>([] {});
        shell_->start();
        shell_->Command1_Click();
        main()->pictureCommands().openFirstAs(first_);
        main()->pictureCommands().openSecondAs(second_);
        main()->render();
    }
    void cleanup() { shell_.reset(); }

    void opensToFitTheScreen()
    {
        QCOMPARE(main()->devicePixelRatioF(), 2.0);
        const QRect room = main()->screen()->availableGeometry();
        QVERIFY2(room.width() < 1272, "the test screen must be smaller than the window as drawn");
        QVERIFY(room.contains(QRect(room.topLeft(), main()->frameGeometry().size())));
        QVERIFY(main()->width() >= room.width() - 40 || main()->height() >= room.height() - 60);
        QVERIFY(main()->layout().k < 1);
    }

    void reducedBoxesUseEveryDevicePixel_data()
    {
        QTest::addColumn<bool>("drawnSize");
        QTest::newRow("opened to fit the screen") << false;
        QTest::newRow("at the size drawn") << true;
    }
    void reducedBoxesUseEveryDevicePixel()
    {
        QFETCH(bool, drawnSize);
        if (drawnSize) {
            main()->resize(1272, main()->height() - main()->centralWidget()->height() + 746);
            main()->render();  // the size is taken at once, as after a settled resize
        }
        PictureBox* p2 = box("Picture2");
        const QSize device = p2->deviceSize();
        QCOMPARE(device, p2->fit().inner * 2);
        const QImage grab = p2->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(grab.size(), p2->size() * 2);
        QImage expected(device, QImage::Format_RGB32);
        QVERIFY(raster::ReduceArea(pixelsOf(expected), ws().Picture2.source()));
        QCOMPARE(largestDifference(grab.copy(QRect(QPoint(2 * kBorder, 2 * kBorder), device)), expected), 0);
    }

    void pressAtTheShownCentreReachesThePicturesCentre()
    {
        shell_->Command2_Click();
        main()->pictureCommands().openFirstAs(second_);
        main()->pictureCommands().openSecondAs(second_);
        main()->run(Command::AddFrameToPict);
        PictureBox* p2 = box("Picture2");
        const view::Fit fit = p2->fit();
        sendMouse(p2, QEvent::MouseButtonPress, QPointF(fit.inner.width() / 2.0, fit.inner.height() / 2.0),
                  Qt::LeftButton, Qt::LeftButton);
        const double devicePixel = 1 / (2 * fit.scaleX);  // one device pixel, in picture pixels
        QVERIFY2(std::abs(ws().DragStartX - 1500) <= devicePixel, qPrintable(QString::number(ws().DragStartX)));
        QVERIFY2(std::abs(ws().DragStartY - 1000) <= devicePixel, qPrintable(QString::number(ws().DragStartY)));
        sendMouse(p2, QEvent::MouseButtonRelease, QPointF(fit.inner.width() / 2.0, fit.inner.height() / 2.0),
                  Qt::LeftButton, Qt::NoButton);
    }

    // The thumb's live blend is made at the device size too, and drawn
    // without a second resampling.
    void liveBlendUsesDevicePixels()
    {
        main()->run(Command::VarAdidezid);
        PictureBox* p2 = box("Picture2");
        main()->HScroll1_Scroll(30);
        const QImage grab = p2->grab().toImage().convertToFormat(QImage::Format_RGB32);
        view::LiveBlend live;
        const QImage& expected = live.at(ws().Picture1, ws().Picture4, p2->deviceSize(), 30);
        QCOMPARE(largestDifference(grab.copy(QRect(QPoint(2 * kBorder, 2 * kBorder), expected.size())), expected), 0);
    }
};

QTEST_MAIN(TestHiDpi)
#include "tst_hidpi.moc"
