// Phone photos: HEIC and AVIF files written here with libheif's encoders,
// with Exif, XMP, a Display P3 profile, a rotation and alpha, opened as
// the window opens them: upright, in their own colours, their metadata
// carried into results; and results saved as HEIC and AVIF that keep the
// photo's metadata and profile.
#include <QtTest>

#include <QColorSpace>
#include <memory>

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>

#include "formats/colour_profile.h"
#include "formats/picture_file.h"
#include "imaging/image_commands.h"
#include "metadata_support.h"
#include "test_support.h"

using namespace tarvex;

namespace {

// Four quadrants of clearly different colours, whose places tell which way
// up a picture is.
QImage quadrants(int w, int h, bool withAlpha = false)
{
    QImage image(w, h, withAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool right = x >= w / 2, bottom = y >= h / 2;
            QRgb c = !right && !bottom ? qRgb(220, 40, 40) : right && !bottom ? qRgb(40, 200, 60)
                     : !right            ? qRgb(40, 60, 210)
                                         : qRgb(230, 220, 40);
            if (withAlpha && std::abs(x - w / 2) < w / 6 && std::abs(y - h / 2) < h / 6)
                c = qRgba(0, 0, 0, 0);  // a clear window in the middle
            image.setPixel(x, y, c);
        }
    return image;
}

QByteArray cameraExif()
{
    Exiv2::ExifData exif;
    exif["Exif.Image.Make"] = "Apple";
    exif["Exif.Image.Model"] = "iPhone 14";
    exif["Exif.Image.Artist"] = "Ana Pop";
    exif["Exif.Image.Orientation"] = uint16_t(6);  // informative only in HEIF
    exif["Exif.Photo.DateTimeOriginal"] = "2024:07:14 18:03:00";
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
    return QByteArray(reinterpret_cast<const char*>(blob.data()), qsizetype(blob.size()));
}

const QByteArray kXmp = "<?xpacket begin=\"\xef\xbb\xbf\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
                        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
                        "<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"4\"/>"
                        "</rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";

struct Made {
    int orientation = 1;  // written as the file's own rotation and mirror
    bool av1 = false;
    bool alpha = false;
    bool metadata = true;
    QByteArray profile;
};

// `image` written with libheif's own encoder.
QByteArray heifFile(const QImage& image, const Made& m)
{
    heif_context* ctx = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(ctx, m.av1 ? heif_compression_AV1 : heif_compression_HEVC, &encoder);
    heif_encoder_set_lossy_quality(encoder, 90);
    heif_image* img = nullptr;
    heif_image_create(image.width(), image.height(), heif_colorspace_RGB,
                      m.alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &img);
    heif_image_add_plane(img, heif_channel_interleaved, image.width(), image.height(), 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(img, heif_channel_interleaved, &stride);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            uint8_t* to = plane + y * stride + x * (m.alpha ? 4 : 3);
            to[0] = uint8_t(qRed(p)), to[1] = uint8_t(qGreen(p)), to[2] = uint8_t(qBlue(p));
            if (m.alpha)
                to[3] = uint8_t(qAlpha(p));
        }
    if (!m.profile.isEmpty())
        heif_image_set_raw_color_profile(img, "prof", m.profile.constData(), size_t(m.profile.size()));
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = heif_orientation(m.orientation);
    heif_image_handle* handle = nullptr;
    heif_context_encode_image(ctx, img, encoder, options, &handle);
    if (m.metadata) {
        const QByteArray exif = cameraExif();
        heif_context_add_exif_metadata(ctx, handle, exif.constData(), int(exif.size()));
        heif_context_add_XMP_metadata(ctx, handle, kXmp.constData(), int(kXmp.size()));
    }
    QByteArray out;
    heif_writer writer{1, [](heif_context*, const void* data, size_t size, void* to) {
                           static_cast<QByteArray*>(to)->append(static_cast<const char*>(data), qsizetype(size));
                           return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                       }};
    heif_context_write(ctx, &writer, &out);
    heif_encoding_options_free(options);
    heif_image_handle_release(handle);
    heif_image_release(img);
    heif_encoder_release(encoder);
    heif_context_free(ctx);
    return out;
}

// What a HEIF file holds: its primary picture's ICC profile and whether
// its Exif and XMP items carry what the camera wrote.
struct Held {
    QByteArray profile, exif, xmp;
};
Held heldIn(const QString& path)
{
    Held held;
    heif_context* ctx = heif_context_alloc();
    heif_image_handle* h = nullptr;
    if (heif_context_read_from_file(ctx, QFile::encodeName(path).constData(), nullptr).code == heif_error_Ok &&
        heif_context_get_primary_image_handle(ctx, &h).code == heif_error_Ok) {
        held.profile.resize(qsizetype(heif_image_handle_get_raw_color_profile_size(h)));
        heif_image_handle_get_raw_color_profile(h, held.profile.data());
        heif_item_id ids[4];
        for (const char* type : {"Exif", "mime"}) {
            const int n = heif_image_handle_get_list_of_metadata_block_IDs(h, type, ids, 4);
            for (int i = 0; i < n; ++i) {
                QByteArray data(qsizetype(heif_image_handle_get_metadata_size(h, ids[i])), Qt::Uninitialized);
                heif_image_handle_get_metadata(h, ids[i], data.data());
                (QByteArray(type) == "Exif" ? held.exif : held.xmp) = data;
            }
        }
        heif_image_handle_release(h);
    }
    heif_context_free(ctx);
    return held;
}

int difference(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

}  // namespace

class TestHeif : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString write(const QString& name, const QByteArray& bytes)
    {
        return testing::writeFile(QDir(dir_.path()), name, bytes);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        if (!heif_have_encoder_for_format(heif_compression_HEVC) || !heif_have_encoder_for_format(heif_compression_AV1))
            QSKIP("libheif has no HEVC or AV1 encoder here: the test files cannot be made");
    }

    void phonePhotosOpenUpright_data()
    {
        QTest::addColumn<bool>("av1");
        QTest::addColumn<int>("orientation");
        QTest::newRow("HEIC, upright") << false << 1;
        QTest::newRow("HEIC, turned a quarter (portrait)") << false << 6;
        QTest::newRow("HEIC, mirrored") << false << 2;
        QTest::newRow("AVIF, turned a quarter") << true << 6;
        QTest::newRow("AVIF, transposed") << true << 5;
    }
    // Stored turned, with the rotation and mirror the file states: opened
    // once upright, its P3 profile beside its values, with its metadata for
    // the results.
    void phonePhotosOpenUpright()
    {
        QFETCH(bool, av1);
        QFETCH(int, orientation);
        const QImage upright = quadrants(96, 64);
        const bool turned = orientation >= 5;
        QImage stored(turned ? upright.height() : upright.width(), turned ? upright.width() : upright.height(),
                      QImage::Format_RGB32);
        // The stored picture is the upright one turned back: the file's
        // transform brings it upright again.
        const QTransform back = orientation == 6 ? QTransform().rotate(-90)
                                : orientation == 2 ? QTransform().scale(-1, 1)
                                : orientation == 5 ? QTransform(0, 1, 1, 0, 0, 0)
                                                   : QTransform();
        stored = upright.transformed(back);
        Made m;
        m.orientation = orientation, m.av1 = av1;
        m.profile = QColorSpace(QColorSpace::DisplayP3).iccProfile();
        const QString path = write(QStringLiteral("telefon-%1-%2.%3").arg(orientation).arg(av1).arg(av1 ? "avif" : "heic"),
                                   heifFile(stored, m));
        const LoadResult loaded = loadPicture(path, {}, true);
        QVERIFY2(loaded.picture, qPrintable(loaded.failure));
        QCOMPARE(loaded.picture->size(), upright.size());
        for (const QPoint at : {QPoint(20, 15), QPoint(76, 15), QPoint(20, 50), QPoint(76, 50)})
            QVERIFY2(difference(loaded.picture->pixel(at), upright.pixel(at)) <= 12,
                     qPrintable(QStringLiteral("at %1,%2: %3").arg(at.x()).arg(at.y()).arg(loaded.picture->pixel(at), 8, 16)));
        QCOMPARE(loaded.profile, m.profile);
        QVERIFY(loaded.lossy);
        QCOMPARE(declaredPictureSize(path), upright.size());
        QVERIFY(loaded.photo && !loaded.photo->metadata.exif.isEmpty() && loaded.photo->metadata.xmp.contains("Rating"));
    }

    // The camera's Exif and XMP go into a JPEG result, upright.
    void metadataGoesIntoResults()
    {
        const QString path = write(QStringLiteral("meta.heic"), heifFile(quadrants(64, 48), Made{}));
        testing::CommandSession s;
        s.prompts.answers = {path};
        s.commands.OpenDest_Click();
        s.commands.setResultFormat(ResultFormat::Jpeg);
        s.commands.Save_Click();
        QVERIFY(!s.commands.lastSavedPath().isEmpty());
        auto result = testing::openMetadata(s.commands.lastSavedPath());
        QCOMPARE(QString::fromStdString(result->exifData()["Exif.Image.Artist"].toString()), QStringLiteral("Ana Pop"));
        QCOMPARE(QString::fromStdString(result->exifData()["Exif.Image.Orientation"].toString()), QStringLiteral("1"));
        QCOMPARE(QString::fromStdString(result->xmpData()["Xmp.xmp.Rating"].toString()), QStringLiteral("4"));
    }

    // A HEIC frame with a clear window is laid by its alpha.
    void framesWithAlphaAreLaidByIt()
    {
        Made m;
        m.alpha = true, m.metadata = false;
        const QString frame = write(QStringLiteral("rama.heic"), heifFile(quadrants(96, 64, true), m));
        QImage photo(96, 64, QImage::Format_RGB32);
        photo.fill(qRgb(90, 90, 90));
        testing::CommandSession s;
        ImageCommands images(s.ws);
        s.ws.MixMode = kFalse;
        s.prompts.answers = {frame, testing::writePicture(QDir(dir_.path()), "gri.bmp", photo)};
        s.commands.AddFrameInP1_Click();
        s.commands.AddPictIn2_Click();
        QVERIFY(s.ws.Picture1.hasAlpha());
        images.AddFrameToPict_Click();
        const QImage result = testing::surfaceImage(s.ws.Picture5);
        QVERIFY(difference(result.pixel(48, 32), qRgb(90, 90, 90)) <= 3);  // the window
        QVERIFY(difference(result.pixel(5, 5), qRgb(220, 40, 40)) <= 12);  // the art
    }

    // Results named .heic or .avif are written in that format, with the
    // photo's profile, Exif and XMP, and open again as they were saved.
    void heifResultsKeepMetadataAndProfile_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::newRow("HEIC") << QStringLiteral("heic");
        QTest::newRow("AVIF") << QStringLiteral("avif");
    }
    void heifResultsKeepMetadataAndProfile()
    {
        QFETCH(QString, extension);
        QImage photo = quadrants(128, 96);
        photo.setColorSpace(QColorSpace::DisplayP3);
        const QString path = dir_.filePath(QStringLiteral("p3-") + extension + QStringLiteral(".png"));
        QVERIFY(photo.save(path, "png"));
        testing::addCameraMetadata(path);
        testing::CommandSession s;
        s.prompts.answers = {path};
        s.commands.OpenDest_Click();
        s.commands.setResultFormat(resultFormatNamed(extension));
        s.commands.Save_Click();
        const QString saved = s.commands.lastSavedPath();
        QVERIFY2(saved.endsWith(QLatin1Char('.') + extension), qPrintable(saved));
        const Held held = heldIn(saved);
        QCOMPARE(QColorSpace::fromIccProfile(held.profile), QColorSpace(QColorSpace::DisplayP3));
        QVERIFY(held.exif.contains("Ana Pop"));
        QVERIFY2(held.xmp.contains("vacanta"), held.xmp.left(300).constData());
        const LoadResult again = loadPicture(saved);
        QVERIFY(again.picture);
        QCOMPARE(again.picture->size(), photo.size());
        QVERIFY(difference(again.picture->pixel(20, 20), photo.pixel(20, 20)) <= 6);
        QCOMPARE(QColorSpace::fromIccProfile(again.profile), QColorSpace(QColorSpace::DisplayP3));
    }

    // A file cut short or damaged is refused with its reason; nothing else.
    void damagedFilesAreRefused()
    {
        const QByteArray whole = heifFile(quadrants(64, 48), Made{});
        for (const QByteArray& bytes : {whole.left(whole.size() / 2), whole.left(40), QByteArray(whole).replace(300, 64, QByteArray(64, '\x7f'))}) {
            const LoadResult loaded = loadPicture(write(QStringLiteral("stricat.heic"), bytes));
            if (!loaded.picture)
                QVERIFY(!loaded.failure.isEmpty());
        }
    }
};

QTEST_MAIN(TestHeif)
#include "tst_heif.moc"
