// Photos in their own colours: a wide-gamut photo keeps its values and its
// profile, a frame in sRGB is converted into the photo's space before it
// is laid, a BMP result (which holds no profile) is converted to sRGB, and
// a photo turned by its orientation tag keeps its colours whichever way it
// was stored. Every picture is written here and opened from a file.
#include <QtTest>

#include <QColorSpace>
#include <QColorTransform>
#include <QImageReader>
#include <QtEndian>

#include <exiv2/exiv2.hpp>

#include "formats/jpeg_coding.h"
#include "imaging/image_commands.h"
#include "metadata_support.h"
#include "test_support.h"

using namespace tarvex;

namespace {

// Colours a phone's camera records, some past what sRGB can show: the
// most saturated reds, greens and oranges of P3.
QImage wideGamutPhoto(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(255 - (x * 2) % 40, (y * 3) % 60, (x + y) % 30));
    return image;
}

int channelDifference(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

// Where the display pixel (x, y) of a picture shown turned by Exif
// orientation `o` is stored, for a stored picture sw x sh.
QPoint storedAt(int o, int x, int y, int sw, int sh)
{
    switch (o) {
    case 2: return {sw - 1 - x, y};
    case 3: return {sw - 1 - x, sh - 1 - y};
    case 4: return {x, sh - 1 - y};
    case 5: return {y, x};
    case 6: return {y, sh - 1 - x};
    case 7: return {sw - 1 - y, sh - 1 - x};
    case 8: return {sw - 1 - y, x};
    default: return {x, y};
    }
}

// The ICC profile of a PNG file, as its iCCP chunk holds it.
QByteArray pngProfile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray png = f.readAll();
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const qsizetype length = qFromBigEndian<quint32>(png.constData() + at);
        if (png.mid(at + 4, 4) == "iCCP") {
            const QByteArray body = png.mid(at + 8, length);
            const qsizetype name = body.indexOf('\0');
            QByteArray packed = body.mid(name + 2);
            // qUncompress wants the size first, big-endian.
            QByteArray sized(4, '\0');
            qToBigEndian<quint32>(1 << 20, sized.data());
            return qUncompress(sized + packed);
        }
        at += 12 + length;
    }
    return {};
}

}  // namespace

class TestColour : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    struct Session : testing::CommandSession {
        ImageCommands images{ws};
    };

    QString write(const QString& name, const QImage& image, const char* format, const QColorSpace& space = {})
    {
        QImage tagged = image;
        if (space.isValid())
            tagged.setColorSpace(space);
        const QString path = dir_.filePath(name);
        if (!tagged.save(path, format))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    QString save(Session& s, const QString& photo, const QString& frame, const char* format)
    {
        s.ws.MixMode = kFalse;
        s.prompts.answers = {frame, photo};
        s.commands.AddFrameInP1_Click();
        s.commands.AddPictIn2_Click();
        s.images.AddFrameToPict_Click();
        s.commands.setResultFormat(resultFormatNamed(QString::fromLatin1(format)));
        s.commands.SaveFrame_Click();
        return s.commands.lastSavedPath();
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    // A P3 photo with colours outside sRGB, framed with an sRGB frame and
    // saved as PNG: the photo shows through the window with its own values,
    // the frame's art is its colours in P3, and the result says it is P3.
    void wideGamutPhotoKeepsItsValues()
    {
        const int w = 160, h = 120;
        const QImage photo = wideGamutPhoto(w, h);
        const QImage frame = testing::texturedFrame(w, h);
        Session s;
        const QString saved = save(s, write(QStringLiteral("p3.png"), photo, "png", QColorSpace::DisplayP3),
                                   write(QStringLiteral("rama.bmp"), frame, "bmp"), "png");
        QVERIFY(!saved.isEmpty());
        QImageReader reader(saved);
        const QImage result = reader.read();
        QCOMPARE(result.colorSpace(), QColorSpace(QColorSpace::DisplayP3));
        QCOMPARE(QColorSpace::fromIccProfile(pngProfile(saved)), QColorSpace(QColorSpace::DisplayP3));
        const QImage values = result.convertToFormat(QImage::Format_RGB32);
        const QColorTransform toP3 = QColorSpace(QColorSpace::SRgb).transformationToColorSpace(QColorSpace::DisplayP3);
        const QRect window = testing::frameWindow(w, h).toAlignedRect().adjusted(20, 20, -20, -20);
        int art = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const QRgb got = values.pixel(x, y);
                if (window.contains(x, y)) {
                    QCOMPARE(got, photo.pixel(x, y));
                } else if (qGreen(frame.pixel(x, y)) < 200) {  // the art, away from the key
                    ++art;
                    const QRgb want = toP3.map(frame.pixel(x, y));
                    QVERIFY2(channelDifference(got, want) <= 2,
                             qPrintable(QStringLiteral("art at %1,%2: %3, in P3 %4").arg(x).arg(y).arg(got, 8, 16).arg(want, 8, 16)));
                }
            }
        QVERIFY(art > 1000);
    }

    // A BMP holds no profile: a P3 photo's result is converted to sRGB.
    void bitmapResultsAreSrgb()
    {
        const int w = 80, h = 60;
        const QImage photo = wideGamutPhoto(w, h);
        Session s;
        const QString saved = save(s, write(QStringLiteral("p3-bmp.png"), photo, "png", QColorSpace::DisplayP3),
                                   write(QStringLiteral("rama-bmp.bmp"), testing::texturedFrame(w, h), "bmp"), "bmp");
        QVERIFY(!saved.isEmpty());
        const QImage result = QImage(saved).convertToFormat(QImage::Format_RGB32);
        const QColorTransform toSrgb = QColorSpace(QColorSpace::DisplayP3).transformationToColorSpace(QColorSpace::SRgb);
        const QPoint middle(w / 2, h / 2);
        QVERIFY(channelDifference(result.pixel(middle), toSrgb.map(photo.pixel(middle))) <= 2);
        QVERIFY(result.pixel(middle) != photo.pixel(middle));
    }

    // One picture with a profile of its own, stored in each of the eight
    // orientations a camera tags: each opens upright with the same values,
    // and its result keeps the profile.
    void everyOrientationGivesTheSameColours()
    {
        // Blocks of 8 x 8 pixels of one colour, coded at full chroma: JPEG
        // keeps each block's colour whichever way the picture is stored.
        const int w = 64, h = 48;
        QImage upright(w, h, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                upright.setPixel(x, y, qRgb(40 + (x / 8) * 30, 200 - (y / 8) * 25, 60 + ((x / 8 + y / 8) % 3) * 60));
        JpegCoding full;
        full.horizontal = full.vertical = 1;
        const QByteArray adobe = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
        QImage first;  // orientation 1 as opened: the coding's rounding of colours, every way alike
        for (int o = 1; o <= 8; ++o) {
            const bool turned = o >= 5;
            const int sw = turned ? h : w, sh = turned ? w : h;
            QImage stored(sw, sh, QImage::Format_RGB32);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    stored.setPixel(storedAt(o, x, y, sw, sh), upright.pixel(x, y));
            const QString path = dir_.filePath(QStringLiteral("orientation%1.jpg").arg(o));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(encodeJpeg(stored, full, 100, nullptr));
            file.close();
            {
                auto image = testing::openMetadata(path);
                Exiv2::ExifData exif;
                exif["Exif.Image.Orientation"] = uint16_t(o);
                image->setExifData(exif);
                Exiv2::DataBuf icc(reinterpret_cast<const Exiv2::byte*>(adobe.constData()), long(adobe.size()));
                image->setIccProfile(icc, false);
                image->writeMetadata();
            }
            Session s;
            s.prompts.answers = {path};
            s.commands.OpenDest_Click();
            const QImage opened = testing::surfaceImage(s.ws.Picture2);
            if (o == 1)
                first = opened;
            QVERIFY2(opened == first, qPrintable(QStringLiteral("orientation %1").arg(o)));
            QVERIFY2(channelDifference(opened.pixel(17, 9), upright.pixel(17, 9)) <= 2, qPrintable(QString::number(opened.pixel(17, 9), 16) + " " + QString::number(upright.pixel(17, 9), 16)));
            s.commands.setResultFormat(ResultFormat::Png);
            s.commands.Save_Click();
            QCOMPARE(pngProfile(s.commands.lastSavedPath()), adobe);
        }
    }
};

QTEST_MAIN(TestColour)
#include "tst_colour.moc"
