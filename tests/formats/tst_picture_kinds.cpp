// Pictures of every kind as the loader opens them: 32-bit whatever their
// depth, lossy ones told apart, turned upright as the camera says; and
// bitmaps written and read back, by our reader and Qt's, to the same pixels.
#include <QtTest>

#include <QImageReader>

#include "test_support.h"
#include "formats/picture_file.h"
#include "formats/plain_bitmap.h"

using namespace tarvex;

class TestPictureKinds : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString path(const QString& name) const { return dir_.filePath(name); }
    void writeBytes(const QString& name, const QByteArray& bytes)
    {
        QVERIFY(!testing::writeFile(QDir(dir_.path()), name, bytes).isEmpty());
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void picturesOfEveryKindBecome32Bit()
    {
        QImage paletted(4, 2, QImage::Format_Indexed8);
        paletted.setColorTable({qRgb(255, 0, 0), qRgb(0, 0, 255)});
        paletted.fill(1);
        paletted.setPixel(0, 0, 0);
        QImage grey(4, 2, QImage::Format_Grayscale8);
        grey.fill(77);
        QImage deep(4, 2, QImage::Format_RGBX64);
        deep.fill(QColor(10, 200, 30));
        QImage opaqueAlpha(4, 2, QImage::Format_ARGB32);  // an alpha channel nobody used
        opaqueAlpha.fill(qRgba(200, 100, 50, 255));
        QImage soft(4, 2, QImage::Format_ARGB32);
        soft.fill(qRgba(200, 100, 50, 0));
        soft.setPixel(1, 1, qRgba(200, 100, 50, 128));
        const QDir d(dir_.path());
        constexpr auto rgb = QImage::Format_RGB32, premultiplied = QImage::Format_ARGB32_Premultiplied;
        const struct {
            QString file;
            QImage::Format format;
            QRgb at00, at11;
        } cases[] = {
            {testing::writePicture(d, "paletted.bmp", paletted), rgb, qRgb(255, 0, 0), qRgb(0, 0, 255)},
            {testing::writePicture(d, "grey.bmp", grey), rgb, qRgb(77, 77, 77), qRgb(77, 77, 77)},
            {testing::writePicture(d, "deep.png", deep, "png"), rgb, qRgb(10, 200, 30), qRgb(10, 200, 30)},
            {testing::writePicture(d, "opaque.png", opaqueAlpha, "png"), rgb, qRgb(200, 100, 50), qRgb(200, 100, 50)},
            {testing::writePicture(d, "soft.png", soft, "png"), premultiplied, 0, qRgba(100, 50, 25, 128)},
        };
        for (const auto& c : cases) {
            const LoadResult r = loadPicture(c.file);
            QVERIFY2(r.picture, qPrintable(c.file + r.failure));
            QCOMPARE(r.picture->format(), c.format);
            QVERIFY(!r.lossy);
            QCOMPARE(r.picture->pixel(0, 0), c.at00);
            QCOMPARE(r.picture->pixel(1, 1), c.at11);
        }
    }

    void lossyFilesAreTold()
    {
        const QDir d(dir_.path());
        const QImage image = testing::patternImage(24, 16, 2);
        const struct {
            const char* name;
            const char* format;
            int quality;
            bool lossy;
        } cases[] = {{"a.jpg", "jpeg", 90, true}, {"a.webp", "webp", 80, true}, {"b.webp", "webp", 100, false},
                     {"a.png", "png", -1, false}, {"a.bmp", "bmp", -1, false}};
        for (const auto& c : cases) {
            const QString file = d.filePath(QString::fromLatin1(c.name));
            if (!image.save(file, c.format, c.quality))
                QSKIP("this Qt has no WebP writer");
            const LoadResult r = loadPicture(file);
            QVERIFY2(r.picture, c.name);
            QCOMPARE(r.lossy, c.lossy);
        }
    }

    void cameraOrientationIsApplied()
    {
        QImage stored(32, 16, QImage::Format_RGB32);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 32; ++x)
                stored.setPixel(x, y, x < 16 ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
        QByteArray jpeg = testing::encoded(stored, "jpeg", 95);
        // An APP1 Exif segment with one tag: orientation 6 (turn right).
        const QByteArray exif = QByteArray::fromHex("FFE10022" "457869660000" "4D4D002A00000008"
                                                    "0001" "011200030000000100060000" "00000000");
        jpeg.insert(2, exif);
        writeBytes("camera.jpg", jpeg);
        const LoadResult r = loadPicture(path("camera.jpg"));
        QVERIFY(r.picture);
        QCOMPARE(r.picture->size(), QSize(16, 32));
        QVERIFY(qRed(r.picture->pixel(8, 4)) > 200 && qBlue(r.picture->pixel(8, 4)) < 60);
        QVERIFY(qBlue(r.picture->pixel(8, 28)) > 200 && qRed(r.picture->pixel(8, 28)) < 60);
    }

    // --- Saving ---

    void bitmapsReadBackExactlyAtEveryRowPadding()
    {
        QTemporaryDir folder;
        for (int width = 1; width <= 9; ++width) {
            const QImage image = testing::patternImage(width, 3, width);
            const QString path = QDir(folder.path()).filePath(QStringLiteral("w%1.jpg").arg(width));
            QCOMPARE(int(writeBitmapNoReplace(image, path).outcome), int(WriteOutcome::Written));
            QImageReader reader(path);
            QCOMPARE(reader.format(), QByteArray("bmp"));  // bitmap data whatever the extension
            QCOMPARE(reader.read().convertToFormat(QImage::Format_RGB32), image);
            QCOMPARE(QFileInfo(path).size(), 54 + 3 * ((width * 3 + 3) / 4 * 4));
        }
    }

    // Plain 24-bit files are read without Qt's reader, to the same pixels;
    // every other kind is left to it.
    void plainBitmapsReadAsQtReadsThem()
    {
        const auto plainRead = [&](const QByteArray& bytes) {
            writeBytes(QStringLiteral("plain.bmp"), bytes);
            QFile f(path(QStringLiteral("plain.bmp")));
            return f.open(QIODevice::ReadOnly) ? readPlainBitmap(f.handle(), bytes.left(64), bytes.size(), kMaxPictureBytes)
                                               : QImage();
        };
        const auto qtRead = [](const QByteArray& bytes) {
            return QImage::fromData(bytes, "bmp").convertToFormat(QImage::Format_RGB32);
        };
        for (int width = 1; width <= 9; ++width) {
            const QImage image = testing::patternImage(width, 5, width);
            const QByteArray ours = [&] {
                writeBitmapNoReplace(image, path(QStringLiteral("w%1.bmp").arg(width)));
                QFile f(path(QStringLiteral("w%1.bmp").arg(width)));
                return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
            }();
            QByteArray topDown = ours;  // rows stored top row first
            qToLittleEndian<qint32>(-5, topDown.data() + 22);
            const qint64 rowBytes = (width * 3 + 3) / 4 * 4;
            for (int y = 0; y < 5; ++y)
                topDown.replace(54 + y * rowBytes, rowBytes, ours.mid(54 + (4 - y) * rowBytes, rowBytes));
            QByteArray gap = ours;  // pixels a few bytes after the headers
            gap.insert(54, QByteArray(6, '\x7f'));
            qToLittleEndian<quint32>(60, gap.data() + 10);
            for (const QByteArray& bytes : {ours, testing::encoded(image, "bmp"), topDown, gap}) {
                const QImage plain = plainRead(bytes);
                QVERIFY2(!plain.isNull(), qPrintable(QStringLiteral("width %1").arg(width)));
                QCOMPARE(plain, qtRead(bytes));
                QCOMPARE(plain, image);
            }
        }
        const QByteArray sample = testing::encoded(testing::patternImage(7, 4), "bmp");
        const auto changed = [&](int at, QByteArray value) { return QByteArray(sample).replace(at, value.size(), value); };
        QByteArray notPlain[] = {
            sample.left(sample.size() - 1),              // last row cut short
            changed(28, QByteArray("\x20\0", 2)),       // 32 bits per pixel
            changed(30, QByteArray("\x01\0\0\0", 4)),   // compressed
            changed(14, QByteArray("\x7c\0\0\0", 4)),   // a later header, with room for colour spaces
            changed(18, QByteArray("\0\0\0\0", 4)),     // no width
            changed(22, QByteArray("\0\0\0\x80", 4)),   // the most negative height
            changed(10, QByteArray("\x20\0\0\0", 4)),   // pixels said to start inside the headers
            sample.left(40),                             // headers cut short
        };
        for (const QByteArray& bytes : notPlain)
            QVERIFY(plainRead(bytes).isNull());
        // Too large for the limit given: left alone.
        writeBytes(QStringLiteral("plain.bmp"), sample);
        QFile f(path(QStringLiteral("plain.bmp")));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(readPlainBitmap(f.handle(), sample, sample.size(), 7 * 4 * 4 - 1).isNull());
        QVERIFY(!readPlainBitmap(f.handle(), sample, sample.size(), 7 * 4 * 4).isNull());
    }
};

QTEST_GUILESS_MAIN(TestPictureKinds)
#include "tst_picture_kinds.moc"
