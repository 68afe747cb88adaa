// Our own JPEG and BMP readers against Qt's on the kinds of file cameras
// and programs write, the files they must leave to Qt's reader, and
// pictures decoded and drawn into buffers that held other pictures before.
#include <QtTest>

#include <QImageReader>
#include <QImageWriter>
#include <QtEndian>

#include <png.h>

#include "jpeg_files.h"
#include "png_files.h"
#include "test_support.h"
#include "raster/raster.h"
#include "formats/image_buffers.h"
#include "formats/picture_file.h"
#include "formats/plain_jpeg.h"
#include "formats/plain_png.h"

using namespace tarvex;
using testing::JpegKind;
using testing::jpegBytes;
using testing::PngKind;
using testing::pngBytes;

namespace {

QByteArray qtJpeg(const QImage& image, int quality, bool progressive = false)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return data;
}

QImage qtRead(const QByteArray& bytes)
{
    return QImage::fromData(bytes, "jpeg").convertToFormat(QImage::Format_RGB32);
}

}  // namespace

class TestPlainReaders : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString write(const QString& name, const QByteArray& bytes)
    {
        return testing::writeFile(QDir(dir_.path()), name, bytes);
    }
    QImage plainRead(const QByteArray& bytes, qint64 maxBytes = kMaxPictureBytes)
    {
        QFile f(write(QStringLiteral("plain.jpg"), bytes));
        return f.open(QIODevice::ReadOnly) ? readPlainJpeg(f.handle(), maxBytes) : QImage();
    }

private slots:
    // Every sampling, both scan orders, restart markers, sizes that do not
    // fill whole blocks, and the densities: the same pixels and the same
    // resolution as Qt's reader gives.
    void plainJpegsReadAsQtReadsThem()
    {
        const QSize sizes[] = {{1, 1}, {17, 9}, {33, 31}, {64, 48}};
        const std::pair<int, int> samplings[] = {{1, 1}, {2, 1}, {1, 2}, {2, 2}};
        for (const QSize size : sizes) {
            const QImage image = testing::patternImage(size.width(), size.height(), size.width());
            for (const auto& [h, v] : samplings) {
                for (int variant = 0; variant < 3; ++variant) {
                    JpegKind kind;
                    kind.lumaH = h, kind.lumaV = v;
                    kind.progressive = variant == 1;
                    kind.restartRows = variant == 2 ? 1 : 0;
                    const QByteArray bytes = jpegBytes(image, kind);
                    const QImage plain = plainRead(bytes);
                    const QString what = QStringLiteral("%1x%2, %3x%4, variant %5")
                                             .arg(size.width()).arg(size.height()).arg(h).arg(v).arg(variant);
                    QVERIFY2(!plain.isNull(), qPrintable(what));
                    QVERIFY2(plain == qtRead(bytes), qPrintable(what));
                }
            }
        }
        const QImage photo = testing::patternImage(40, 30, 3);
        for (const QByteArray& bytes : {qtJpeg(photo, 90), qtJpeg(photo, 20), qtJpeg(photo, 75, true)}) {
            const QImage plain = plainRead(bytes);
            QVERIFY(!plain.isNull());
            QCOMPARE(plain, qtRead(bytes));
        }
        for (const auto& [unit, x, y] : {std::tuple{1, 300, 150}, std::tuple{2, 118, 59}}) {
            JpegKind kind;
            kind.densityUnit = unit, kind.xDensity = x, kind.yDensity = y;
            const QByteArray bytes = jpegBytes(photo, kind);
            const QImage plain = plainRead(bytes), qt = qtRead(bytes);
            QCOMPARE(plain.dotsPerMeterX(), qt.dotsPerMeterX());
            QCOMPARE(plain.dotsPerMeterY(), qt.dotsPerMeterY());
            QVERIFY(plain.dotsPerMeterX() != plain.dotsPerMeterY());
        }
    }

    // Files the plain reader declines; the loader still opens each as Qt's
    // reader does. A file with a colour profile it reads.
    void otherJpegsAreLeftToQt()
    {
        const QImage photo = testing::patternImage(48, 32, 5);
        JpegKind grey, cmyk, profiled;
        grey.components = 1, grey.lumaH = grey.lumaV = 1;
        cmyk.components = 4;
        profiled.colourProfile = QByteArray(64, '\x11');
        const QByteArray plain = jpegBytes(photo, {});
        // A marker in the middle of the coded data: libjpeg warns and
        // makes up the rest of the picture.
        const QByteArray damaged = QByteArray(plain).insert(plain.size() - 30, "\xff\xd3", 2);
        const struct {
            const char* what;
            QByteArray bytes;
        } cases[] = {
            {"grey", jpegBytes(photo, grey)},
            {"CMYK", jpegBytes(photo, cmyk)},
            {"cut in half", plain.left(plain.size() / 2)},
            {"damaged data", damaged},
            {"headers only", plain.left(200)},
            {"not a JPEG", QByteArray("BM, and not a picture at all")},
        };
        for (const auto& c : cases) {
            QVERIFY2(plainRead(c.bytes).isNull(), c.what);
            const LoadResult loaded = loadPicture(write(QStringLiteral("other.jpg"), c.bytes));
            const QImage qt = qtRead(c.bytes);
            QVERIFY2(bool(loaded.picture) == !qt.isNull(), c.what);
            if (loaded.picture)
                QVERIFY2(*loaded.picture == qt, c.what);
        }
        // A colour profile leaves the values as they are: read here too.
        const QByteArray withProfile = jpegBytes(photo, profiled);
        QCOMPARE(plainRead(withProfile), qtRead(withProfile));
        // The size limit: a picture of exactly the limit is read, one byte
        // under it is not.
        QVERIFY(plainRead(plain, 48 * 32 * 4 - 1).isNull());
        QVERIFY(!plainRead(plain, 48 * 32 * 4).isNull());
    }

    // A kept buffer goes to the next image of about its size, and at most
    // the number kept are held, the oldest let go first. Each buffer is
    // told by the colour it was filled with: a kept one still holds it.
    // Photos a camera stored on their side or upside down: turned upright
    // by the plain reader and the raster turn, they give exactly the pixels
    // Qt's reader gives when it turns them itself.
    // Turned as Qt turns them, in every orientation: a small photo, and one
    // tall enough to be decoded in several strips, the last one short, in
    // 4:2:0 (libjpeg gives two rows at a time) and 4:4:4. Read through the
    // loader, and by our reader itself, which must not leave the work to
    // Qt's.
    void turnedJpegsReadAsQtTurnsThem_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("luma");  // luma samples per chroma sample, each way
        QTest::newRow("61 x 37, 4:2:0") << QSize(61, 37) << 2;
        QTest::newRow("150 x 301, 4:2:0") << QSize(150, 301) << 2;
        QTest::newRow("150 x 301, 4:4:4") << QSize(150, 301) << 1;
    }

    void turnedJpegsReadAsQtTurnsThem()
    {
        QFETCH(QSize, size);
        QFETCH(int, luma);
        JpegKind kind;
        kind.lumaH = kind.lumaV = luma;
        const QByteArray plain = jpegBytes(testing::patternImage(size.width(), size.height(), 3), kind);
        for (int o = 1; o <= 8; ++o) {
            // An APP1 Exif segment holding only the orientation.
            QByteArray exif("Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0", 24);
            exif += char(o);
            exif += QByteArray(7, '\0');
            QByteArray segment("\xff\xe1", 2);
            segment += char((exif.size() + 2) >> 8);
            segment += char((exif.size() + 2) & 0xff);
            const QByteArray file = QByteArray(plain).insert(2, segment + exif);
            const QString path = write(QStringLiteral("turned%1.jpg").arg(o), file);
            QImageReader reader(path);
            reader.setAutoTransform(true);
            const QImage qt = reader.read().convertToFormat(QImage::Format_RGB32);
            QCOMPARE(reader.transformation() == QImageIOHandler::TransformationNone, o == 1);
            const LoadResult loaded = loadPicture(path);
            QVERIFY2(loaded.picture, qPrintable(loaded.failure));
            QVERIFY2(*loaded.picture == qt, qPrintable(QStringLiteral("orientation %1").arg(o)));
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QVERIFY2(readPlainJpeg(f.handle(), kMaxPictureBytes, nullptr, o) == qt,
                     qPrintable(QStringLiteral("orientation %1, our reader").arg(o)));
        }
    }

    void sixteenBitBitmapsWidenToFullIntensity_data()
    {
        QTest::addColumn<int>("infoSize");
        QTest::addColumn<int>("compression");
        QTest::addColumn<QList<int>>("masks");  // red, green, blue
        QTest::newRow("5-5-5, no masks") << 40 << 0 << QList<int>{0x7c00, 0x03e0, 0x001f};
        QTest::newRow("5-6-5 masks after the header") << 40 << 3 << QList<int>{0xf800, 0x07e0, 0x001f};
        QTest::newRow("5-6-5 in a version 5 header") << 124 << 3 << QList<int>{0xf800, 0x07e0, 0x001f};
        QTest::newRow("4-4-4, the top bits unused") << 56 << 3 << QList<int>{0x0f00, 0x00f0, 0x000f};
    }

    // Every value of every channel: v of a b-bit channel reads as
    // round(v * 255 / (2^b - 1)), so full intensity is 255, not 248.
    void sixteenBitBitmapsWidenToFullIntensity()
    {
        QFETCH(int, infoSize);
        QFETCH(int, compression);
        QFETCH(QList<int>, masks);
        const int width = 64, height = 3;  // one row per channel, every value along it
        const int rowBytes = (width * 2 + 3) / 4 * 4, offset = 14 + infoSize + (infoSize == 40 && compression == 3 ? 12 : 0);
        QByteArray file(offset + rowBytes * height, '\0');
        const auto put32 = [&](int at, quint32 v) { qToLittleEndian<quint32>(v, file.data() + at); };
        const auto put16 = [&](int at, quint16 v) { qToLittleEndian<quint16>(v, file.data() + at); };
        file[0] = 'B', file[1] = 'M';
        put32(2, quint32(file.size()));
        put32(10, quint32(offset));
        put32(14, quint32(infoSize));
        put32(18, quint32(width));
        put32(22, quint32(-height));  // top row first
        put16(26, 1);
        put16(28, 16);
        put32(30, quint32(compression));
        if (compression == 3)
            for (int c = 0; c < 3; ++c)
                put32(54 + 4 * c, quint32(masks[c]));
        const auto maxOf = [](int mask) { return mask >> qCountTrailingZeroBits(quint32(mask)); };
        for (int c = 0; c < 3; ++c)
            for (int x = 0; x < width; ++x) {
                const int v = x % (maxOf(masks[c]) + 1);
                put16(offset + c * rowBytes + 2 * x, quint16(v << qCountTrailingZeroBits(quint32(masks[c]))));
            }
        const LoadResult loaded = loadPicture(write(QStringLiteral("sixteen.bmp"), file));
        QVERIFY2(loaded.picture, qPrintable(loaded.failure));
        const QImage& image = *loaded.picture;
        for (int c = 0; c < 3; ++c) {
            const int max = maxOf(masks[c]);
            for (int x = 0; x < width; ++x) {
                const int v = x % (max + 1);
                const int want = int(std::lround(v * 255.0 / max));
                const QRgb p = image.pixel(x, c);
                const int got = c == 0 ? qRed(p) : c == 1 ? qGreen(p) : qBlue(p);
                QCOMPARE(got, want);
            }
        }
    }

    void keptBuffersServeTheNextPicture()
    {
        const KeptImageBuffers kept(2);
        const QSize size(1000, 300);
        const auto filled = [&](QRgb colour) {
            QImage image = uninitialisedImage(size);
            image.fill(colour);
            return image;
        };
        QImage a = filled(0xff000001u), b = filled(0xff000002u), c = filled(0xff000003u);
        a = QImage();
        b = QImage();
        c = QImage();  // two kept already: a is let go
        const auto colour = [](const QImage& image) { return image.pixel(image.width() - 1, image.height() / 2); };
        const QImage tooSmall = uninitialisedImage(QSize(1000, 239));  // more than a quarter would be spare
        QVERIFY(colour(tooSmall) != 0xff000002u && colour(tooSmall) != 0xff000003u);
        const QImage rotated = uninitialisedImage(QSize(300, 1000));  // as many bytes
        const QImage same = uninitialisedImage(size);
        QCOMPARE((QSet<QRgb>{colour(rotated), colour(same)}), (QSet<QRgb>{0xff000002u, 0xff000003u}));
        QCOMPARE(rotated.bytesPerLine(), 1200);
        QCOMPARE(same.format(), QImage::Format_RGB32);
    }

    // Decodes and full-picture drawings write every pixel of a kept buffer:
    // nothing of the picture before shows through.
    void keptBuffersShowNothingOfTheirPast()
    {
        const QImage photo = testing::patternImage(61, 37, 7);
        const QString jpeg = write(QStringLiteral("photo.jpg"), jpegBytes(photo, {}));
        const QString bmp = testing::writePicture(QDir(dir_.path()), QStringLiteral("photo.bmp"), photo);
        PngKind clearKind;
        clearKind.width = 61, clearKind.height = 37;
        const QString png = write(QStringLiteral("logo.png"), pngBytes(clearKind));
        const LoadResult jpegBefore = loadPicture(jpeg), bmpBefore = loadPicture(bmp), pngBefore = loadPicture(png);
        QVERIFY(jpegBefore.picture && bmpBefore.picture && pngBefore.picture);
        const KeptImageBuffers kept(4);
        const auto soil = [] {
            std::vector<QImage> held;
            for (int i = 0; i < 4; ++i) {
                held.push_back(uninitialisedImage(QSize(61, 37)));
                held.back().fill(0xff123456u);
            }
        };
        soil();
        const LoadResult jpegAfter = loadPicture(jpeg);
        soil();
        const LoadResult bmpAfter = loadPicture(bmp);
        QVERIFY(jpegAfter.picture && bmpAfter.picture);
        QCOMPARE(*jpegAfter.picture, *jpegBefore.picture);
        QCOMPARE(*bmpAfter.picture, *bmpBefore.picture);
        soil();
        const LoadResult pngAfter = loadPicture(png);
        QVERIFY(pngAfter.picture);
        QCOMPARE(*pngAfter.picture, *pngBefore.picture);

        soil();
        Surface surface(QStringLiteral("Picture2"), 0, 0, 10, 10, true);
        surface.setPicture(bmpAfter.picture);
        const Surface::Redrawing r = surface.redraw();
        QVERIFY(r.target.pixels != r.current.pixels);  // shared with the picture: drawn into a kept buffer
        raster::BitBlt(r.target, 0, 0, r.target.width, r.target.height, r.current, 0, 0);
        QCOMPARE(surface.image(), *bmpBefore.picture);
    }
};

QTEST_GUILESS_MAIN(TestPlainReaders)
#include "tst_plain_readers.moc"
