// What a saved result holds: the format its name says, JPEG coded as the
// photo was, and the photo's metadata carried over, upright, without its
// thumbnail, with the sRGB profile. Photos with Exif are written here with
// Exiv2; results are read back the same way.
#include <QtTest>

#include <QColorSpace>
#include <QImageReader>
#include <cmath>

#include <exiv2/exiv2.hpp>

#include "jpeg_files.h"
#include "metadata_support.h"
#include "test_support.h"
#include "formats/jpeg_coding.h"
#include "formats/result_file.h"

using namespace tarvex;
using testing::addCameraMetadata;
using testing::openMetadata;

namespace {

// A smooth picture with a little texture, as photos are: JPEG keeps it well.
QImage smoothPhoto(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(40 + x * 150 / w + ((x * 7 + y * 3) % 5), 60 + y * 120 / h, 200 - (x + y) * 90 / (w + h)));
    return image;
}

QString exifText(Exiv2::Image& image, const char* key)
{
    const auto found = image.exifData().findKey(Exiv2::ExifKey(key));
    return found == image.exifData().end() ? QString() : QString::fromStdString(found->toString());
}

// A literal's bytes, zeros inside it included.
template <std::size_t N>
QByteArray bytesOf(const char (&literal)[N])
{
    return QByteArray(literal, qsizetype(N - 1));
}

double psnr(const QImage& a, const QImage& b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            for (int d : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)})
                sum += d * d;
        }
    const double mse = sum / (3.0 * a.width() * a.height());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace

class TestResults : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    // Opens `photo` as the second picture and saves it through the commands
    // the window runs; the saved path, or empty.
    QString saveOver(const QString& photo, testing::CommandSession& session, ResultSettings settings = {})
    {
        session.prompts.answers << photo;
        session.commands.OpenDest_Click();
        session.commands.setResultSettings(settings);
        session.commands.Save_Click();
        return session.commands.lastSavedPath();
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void formatFollowsTheName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QByteArray>("format");
        QTest::newRow("jpg") << "a.jpg" << "Stn000a.jpg" << QByteArray("jpeg");
        QTest::newRow("JPEG in capitals") << "B.JPEG" << "Stn000B.JPEG" << QByteArray("jpeg");
        QTest::newRow("jpe") << "c.jpe" << "Stn000c.jpe" << QByteArray("jpeg");
        QTest::newRow("png") << "d.png" << "Stn000d.png" << QByteArray("png");
        QTest::newRow("tif") << "e.tif" << "Stn000e.tif" << QByteArray("tiff");
        QTest::newRow("TIFF") << "f.TIFF" << "Stn000f.TIFF" << QByteArray("tiff");
        QTest::newRow("webp of a lossless photo") << "g.webp" << "Stn000g.webp" << QByteArray("webp");
        QTest::newRow("bmp") << "h.bmp" << "Stn000h.bmp" << QByteArray("bmp");
        QTest::newRow("another extension") << "i.gif" << "Stn000i.gif" << QByteArray("bmp");
        QTest::newRow("no extension") << "j" << "Stn000j" << QByteArray("bmp");
        QTest::newRow("extension cut by the numbering") << "Stnx.png" << "Stn001ng" << QByteArray("bmp");
    }
    void formatFollowsTheName()
    {
        QFETCH(QString, name);
        QFETCH(QString, saved);
        QFETCH(QByteArray, format);
        const QDir folder(dir_.path() + QStringLiteral("/format-") + QTest::currentDataTag());
        QVERIFY(QDir().mkpath(folder.path()));
        // Lossless content under every name: the loader goes by what a file holds.
        const QString photo = testing::writePicture(folder, name, testing::patternImage(37, 23, 2), "png");
        testing::CommandSession session;
        const QString got = saveOver(photo, session);
        QVERIFY2(session.prompts.messages.isEmpty(), qPrintable(session.prompts.messages.join(QLatin1Char('\n'))));
        QCOMPARE(got, folder.filePath(saved));
        QCOMPARE(QImageReader::imageFormat(folder.filePath(saved)).replace("tif", "tiff").replace("tifff", "tiff"), format);
        QImage result = QImage(folder.filePath(saved)).convertToFormat(QImage::Format_RGB32);
        result.setColorSpace(QColorSpace());  // the pixels alone
        if (format == "jpeg")
            QVERIFY(psnr(result, session.ws.Picture2.image()) > 25);
        else  // lossless: the exact composite
            QCOMPARE(result, session.ws.Picture2.image());
        QVERIFY(session.prompts.messages.isEmpty());
    }

    void metadataGoesWithTheResult_data()
    {
        QTest::addColumn<QString>("format");
        QTest::newRow("JPEG") << "jpeg";
        QTest::newRow("PNG") << "png";
        QTest::newRow("TIFF") << "tiff";
        QTest::newRow("WebP") << "webp";
    }
    void metadataGoesWithTheResult()
    {
        QFETCH(QString, format);
        const QDir folder(dir_.path() + QStringLiteral("/meta-") + format);
        QVERIFY(QDir().mkpath(folder.path()));
        const QString photo = testing::writePicture(folder, QStringLiteral("IMG_2031.") + format, smoothPhoto(64, 48),
                                                    qPrintable(format));
        addCameraMetadata(photo);
        testing::CommandSession session;
        const QString saved = saveOver(photo, session);
        QVERIFY(!saved.isEmpty());
        QCOMPARE(QImageReader::imageFormat(saved).replace("tif", "tiff").replace("tifff", "tiff"), format.toLatin1());
        QVERIFY(session.commands.lastSaveDropped().isEmpty());

        auto result = openMetadata(saved);
        for (const char* key : {"Exif.Image.Make", "Exif.Image.Model", "Exif.Image.Artist", "Exif.Photo.DateTimeOriginal",
                                "Exif.GPSInfo.GPSLatitude", "Exif.GPSInfo.GPSLongitude"}) {
            auto original = openMetadata(photo);
            QCOMPARE(exifText(*result, key), exifText(*original, key));
            QVERIFY2(!exifText(*result, key).isEmpty(), key);
        }
        QCOMPARE(exifText(*result, "Exif.Image.Orientation"), QStringLiteral("1"));
        const QSize shown = session.ws.Picture2.image().size();
        QCOMPARE(exifText(*result, "Exif.Photo.PixelXDimension"), QString::number(shown.width()));
        QCOMPARE(exifText(*result, "Exif.Photo.PixelYDimension"), QString::number(shown.height()));
        QCOMPARE(Exiv2::ExifThumbC(result->exifData()).copy().size_, 0L);
        QVERIFY(result->iccProfileDefined());
        QCOMPARE(QImage(saved).colorSpace(), QColorSpace(QColorSpace::SRgb));
        QCOMPARE(QString::fromStdString(result->xmpData()["Xmp.dc.subject"].toString()), QStringLiteral("vacanta"));
        QCOMPARE(QString::fromStdString(result->xmpData()["Xmp.xmp.Rating"].toString()), QStringLiteral("4"));
        if (format != "webp")  // a WebP file has no IPTC of its own
            QCOMPARE(QString::fromStdString(result->iptcData()["Iptc.Application2.Keywords"].toString()),
                     QStringLiteral("mare"));
        // Upright: what was shown is what is saved, and no viewer turns it again.
        const QImage pixels(saved);
        QCOMPARE(pixels.size(), shown);
        if (format == "jpeg") {  // the JPEG loader turned the photo as its tag said
            QCOMPARE(shown, QSize(48, 64));
            // The same photo saved as WebP: what the XMP lacks of the IPTC goes there.
            session.commands.setResultFormat(ResultFormat::Webp);
            session.commands.Save_Click();
            QVERIFY(session.commands.lastSavedPath().endsWith(QLatin1String(".webp")));
            auto webp = openMetadata(session.commands.lastSavedPath());
            QCOMPARE(QString::fromStdString(webp->xmpData()["Xmp.photoshop.City"].toString()), QStringLiteral("Constanta"));
            QCOMPARE(exifText(*webp, "Exif.Image.Artist"), QStringLiteral("Ana Pop"));
        }
    }

    void jpegResultsAreCodedAsTheirPhoto()
    {
        const QDir folder(dir_.path() + QStringLiteral("/quality"));
        QVERIFY(QDir().mkpath(folder.path()));
        const QImage picture = smoothPhoto(160, 120);
        // Quality 75 from Qt's writer (libjpeg's standard tables, 4:2:0).
        const QString q75 = testing::writePicture(folder, "q75.jpg", picture, "jpeg");
        QVERIFY(picture.save(q75, "jpeg", 75));
        QCOMPARE(readJpegCoding(q75).quality, 75);
        testing::CommandSession a;
        const JpegCoding fromQ75 = readJpegCoding(saveOver(q75, a));
        QVERIFY(std::abs(fromQ75.quality - 75) <= 1);
        QCOMPARE(fromQ75.horizontal * 10 + fromQ75.vertical, 22);
        // 4:4:4 at 85 stays 4:4:4 at 85.
        QFile full(folder.filePath("full.jpg"));
        QVERIFY(full.open(QIODevice::WriteOnly));
        full.write(encodeJpeg(picture, 85, 1, 1, nullptr));
        full.close();
        testing::CommandSession b;
        const JpegCoding fromFull = readJpegCoding(saveOver(full.fileName(), b));
        QCOMPARE(fromFull.quality, 85);
        QCOMPARE(fromFull.horizontal * 10 + fromFull.vertical, 11);
        // A photo that is no JPEG: quality 92, 4:2:0, and close to the exact composite.
        const QString png = testing::writePicture(folder, "lossless.jpg", picture, "png");
        testing::CommandSession c;
        const QString saved = saveOver(png, c);
        const JpegCoding fromPng = readJpegCoding(saved);
        QCOMPARE(fromPng.quality, 92);
        QCOMPARE(fromPng.horizontal * 10 + fromPng.vertical, 22);
        QVERIFY(psnr(QImage(saved).convertToFormat(QImage::Format_RGB32), c.ws.Picture2.image()) >= 40);
        // A quality asked for wins over the photo's.
        testing::CommandSession d;
        QCOMPARE(readJpegCoding(saveOver(q75, d, ResultSettings{60})).quality, 60);

        // A camera's own tables and 4:2:2: the result has the same tables
        // and sampling; a quality asked for takes the standard tables, in
        // the photo's sampling still.
        JpegCoding camera;
        camera.horizontal = 2, camera.vertical = 1;
        for (int i = 0; i < 64; ++i) {
            camera.luminance.push_back(static_cast<unsigned short>(2 + i % 9 + i / 16));
            camera.chrominance.push_back(static_cast<unsigned short>(3 + i % 7 + i / 8));
        }
        QFile own(folder.filePath("camera.jpg"));
        QVERIFY(own.open(QIODevice::WriteOnly));
        own.write(encodeJpeg(picture, camera, 0, nullptr));
        own.close();
        const JpegCoding read = readJpegCoding(own.fileName());
        QCOMPARE(read.quality, 0);
        QCOMPARE(read.luminance, camera.luminance);
        testing::CommandSession e;
        const JpegCoding fromCamera = readJpegCoding(saveOver(own.fileName(), e));
        QCOMPARE(fromCamera.luminance, camera.luminance);
        QCOMPARE(fromCamera.chrominance, camera.chrominance);
        QCOMPARE(fromCamera.horizontal * 10 + fromCamera.vertical, 21);
        testing::CommandSession f;
        const JpegCoding asked = readJpegCoding(saveOver(own.fileName(), f, ResultSettings{70}));
        QCOMPARE(asked.quality, 70);
        QCOMPARE(asked.horizontal * 10 + asked.vertical, 21);

        // Sampling is the ratio of luma to chroma: every channel at 1 x 2
        // is full chroma, and stays 4:4:4; 1 x 2 luma over 1 x 1 is 4:4:0.
        testing::JpegKind tall;
        tall.lumaH = 1, tall.lumaV = 2, tall.chromaH = 1, tall.chromaV = 2;
        const QString full12 = testing::writeFile(folder, "full12.jpg", testing::jpegBytes(picture, tall));
        testing::CommandSession g;
        const JpegCoding fromFull12 = readJpegCoding(saveOver(full12, g));
        QCOMPARE(fromFull12.horizontal * 10 + fromFull12.vertical, 11);
        tall.chromaV = 1;
        const QString half = testing::writeFile(folder, "half.jpg", testing::jpegBytes(picture, tall));
        testing::CommandSession h;
        const JpegCoding fromHalf = readJpegCoding(saveOver(half, h));
        QCOMPARE(fromHalf.horizontal * 10 + fromHalf.vertical, 12);
    }

    void standardTablesAreRecognisedExactly()
    {
        unsigned short luminance[64], chrominance[64];
        // libjpeg's tables at quality 50 are the standard's own.
        const unsigned short standardLuminance[8] = {16, 11, 10, 16, 24, 40, 51, 61};
        for (int i = 0; i < 64; ++i)
            luminance[i] = chrominance[i] = 99;
        for (int i = 0; i < 8; ++i)
            luminance[i] = standardLuminance[i];
        QCOMPARE(standardQuality(luminance, nullptr), 0);  // only a row of the standard: not standard
        for (int q : {1, 10, 49, 50, 51, 75, 92, 100}) {
            QImage small = smoothPhoto(16, 16);
            QByteArray bytes = encodeJpeg(small, q, 2, 2, nullptr);
            QTemporaryFile file;
            QVERIFY(file.open());
            file.write(bytes);
            file.close();
            QCOMPARE(readJpegCoding(file.fileName()).quality, q);
        }
    }
};

QTEST_MAIN(TestResults)
#include "tst_results.moc"
