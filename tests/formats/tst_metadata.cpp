// Metadata that a library reads only in part: a camera's broken maker
// note, XMP with repeated properties, Exif past repair. What can be read
// is kept, what cannot is carried as it stands (upright), and only what
// can be neither is left out and named. Photos are made here, their
// blocks written byte by byte where Exiv2 would not write them.
#include <QtTest>

#include <QBuffer>
#include <QImageReader>

#include <exiv2/exiv2.hpp>

#include "metadata_support.h"
#include "test_support.h"
#include "formats/metadata_blocks.h"

using namespace tarvex;
using testing::openMetadata;

namespace {

// A literal's bytes, zeros inside it included.
template <std::size_t N>
QByteArray bytesOf(const char (&literal)[N])
{
    return QByteArray(literal, qsizetype(N - 1));
}

QByteArray jpegOf(const QImage& image)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "jpeg", 90);
    return jpeg;
}

// The JPEG with an APP1 segment of `payload` right after its start.
QByteArray withApp1(QByteArray jpeg, const QByteArray& payload)
{
    QByteArray app1("\xff\xe1", 2);
    app1.append(char((payload.size() + 2) >> 8)).append(char((payload.size() + 2) & 0xff)).append(payload);
    jpeg.insert(2, app1);
    return jpeg;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString exifText(Exiv2::Image& image, const char* key)
{
    const auto found = image.exifData().findKey(Exiv2::ExifKey(key));
    return found == image.exifData().end() ? QString() : QString::fromStdString(found->toString());
}

}  // namespace

class TestMetadata : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString write(const QString& name, const QByteArray& bytes)
    {
        return testing::writeFile(QDir(dir_.path()), name, bytes);
    }
    // Opens `photo` as the second picture and saves it through the commands
    // the window runs, under the result name given by `extension`.
    QString saveOver(const QString& photo, testing::CommandSession& session, const char* extension = "jpg")
    {
        session.prompts.answers << photo;
        session.commands.OpenDest_Click();
        session.commands.setResultFormat(resultFormatNamed(QString::fromLatin1(extension)));
        session.commands.Save_Click();
        return session.commands.lastSavedPath();
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    // A camera's maker note Exiv2 reads as invalid: every other tag is
    // kept, the photo's orientation made upright.
    void brokenMakerNoteKeepsEveryOtherTag()
    {
        const QString path = write(QStringLiteral("canon.jpg"), jpegOf(testing::patternImage(40, 30)));
        {
            auto image = openMetadata(path);
            Exiv2::ExifData exif = testing::cameraExif("Canon EOS 5D");
            // A maker note whose directory claims 1024 entries.
            const QByteArray note = bytesOf("\x00\x04\x01\x00\x02\x00\x04\x00\x00\x00\x00\x00\x00\x00\x00\x00");
            Exiv2::DataValue value(reinterpret_cast<const Exiv2::byte*>(note.constData()), long(note.size()));
            exif.add(Exiv2::ExifKey("Exif.Photo.MakerNote"), &value);
            image->setExifData(exif);
            image->writeMetadata();
        }
        testing::CommandSession session;
        const QString saved = saveOver(path, session);
        QVERIFY(!saved.isEmpty());
        QVERIFY(session.commands.lastSaveDropped().isEmpty());
        auto result = openMetadata(saved);
        QCOMPARE(exifText(*result, "Exif.Image.Model"), QStringLiteral("Canon EOS 5D"));
        QCOMPARE(exifText(*result, "Exif.Image.Artist"), QStringLiteral("Ana Pop"));
        QCOMPARE(exifText(*result, "Exif.Photo.DateTimeOriginal"), QStringLiteral("2024:07:14 18:03:00"));
        QCOMPARE(exifText(*result, "Exif.GPSInfo.GPSLatitude"), QStringLiteral("44/1 25/1 0/1"));
        QCOMPARE(exifText(*result, "Exif.Image.Orientation"), QStringLiteral("1"));
    }

    // XMP a photo manager wrote with a property twice, which Exiv2 will not
    // parse: carried byte for byte, but for its orientation, into JPEG,
    // PNG and WebP results.
    void unparsedXmpIsCarriedAsItStands_data()
    {
        QTest::addColumn<QByteArray>("extension");
        QTest::newRow("jpeg") << QByteArray("jpg");
        QTest::newRow("png") << QByteArray("png");
        QTest::newRow("webp") << QByteArray("webp");
    }
    void unparsedXmpIsCarriedAsItStands()
    {
        QFETCH(QByteArray, extension);
        const QByteArray packet =
            "<?xpacket begin=\"\xef\xbb\xbf\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
            "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
            "<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" "
            "xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
            "tiff:Orientation=\"6\" xmp:Rating=\"4\">"
            "<xmp:CreateDate>2024-07-14T18:03:00</xmp:CreateDate><xmp:CreateDate>2024-07-14T18:03:01</xmp:CreateDate>"
            "<dc:creator><rdf:Seq><rdf:li>Ana Pop</rdf:li></rdf:Seq></dc:creator>"
            "</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";
        const QByteArray photo = withApp1(jpegOf(testing::patternImage(40, 30)),
                                          QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) + packet);
        const QString path = write(QStringLiteral("xmp-") + QString::fromLatin1(extension) + QStringLiteral(".jpg"), photo);
        testing::CommandSession session;
        const QString saved = saveOver(path, session, extension.constData());
        QVERIFY(!saved.isEmpty());
        QVERIFY(session.commands.lastSaveDropped().isEmpty());
        QByteArray upright = packet;
        upright.replace("tiff:Orientation=\"6\"", "tiff:Orientation=\"1\"");
        const QByteArray result = readAll(saved);
        QVERIFY2(result.contains(upright), "the packet is not in the result as it stood");
        QVERIFY(!result.contains("tiff:Orientation=\"6\""));
    }

    void damagedMetadataNeverStopsASave_data()
    {
        QTest::addColumn<QByteArray>("exif");
        // A first directory far past the end.
        QTest::newRow("garbage") << bytesOf("Exif\0\0II*\0\xff\xff\xff\x7f garbage");
        // A directory that claims 300 entries and ends after the first.
        QTest::newRow("truncated") << bytesOf("Exif\0\0II*\0\x08\0\0\0\x2c\x01\x0f\x01\x02\0\x06\0\0\0");
    }
    // Exif that can be neither read nor walked: left out and named, the
    // result saved all the same.
    void damagedMetadataNeverStopsASave()
    {
        QFETCH(QByteArray, exif);
        const QString path = write(QStringLiteral("stricat-") + QString::fromLatin1(QTest::currentDataTag()) +
                                       QStringLiteral(".jpg"),
                                   withApp1(jpegOf(testing::patternImage(40, 30)), exif));
        testing::CommandSession session;
        const QString saved = saveOver(path, session);
        QVERIFY(!saved.isEmpty());
        QVERIFY(session.prompts.messages.isEmpty());  // the window saves silently
        QCOMPARE(session.commands.lastSaveDropped(), QStringList{QStringLiteral("Exif")});
        QImageReader reader(saved);
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        QVERIFY(!reader.read().isNull());
        QCOMPARE(QImage(saved).size(), QSize(40, 30));
    }

    // Exif Exiv2 refuses but whose first directory can be walked: carried
    // as it stands, its orientation set to 1 in place.
    void refusedExifIsCarriedUpright()
    {
        // IFD0: Orientation 8 and Artist, then a pointer to a sub-directory
        // far past the end, which Exiv2 gives up on.
        const QByteArray tiff = bytesOf("II*\0\x08\0\0\0\x03\0"
                                        "\x12\x01\x03\0\x01\0\0\0\x08\0\0\0"
                                        "\x3b\x01\x02\0\x04\0\0\0Ana\0"
                                        "\x69\x87\x04\0\x01\0\0\0\xff\xff\xff\x0f"
                                        "\0\0\0\0");
        QCOMPARE(blocks::exifOrientation(tiff), 8);
        QCOMPARE(blocks::exifOrientation(blocks::uprightExif(tiff)), 1);
        const QString path = write(QStringLiteral("refuzat.jpg"),
                                   withApp1(jpegOf(testing::patternImage(40, 30)), QByteArray("Exif\0\0", 6) + tiff));
        testing::CommandSession session;
        const QString saved = saveOver(path, session);
        QVERIFY(!saved.isEmpty());
        const QByteArray carried = blocks::exifOf(readAll(saved));
        QVERIFY(!carried.isEmpty());
        QCOMPARE(blocks::exifOrientation(carried), 1);
        QVERIFY(carried.contains("Ana"));
    }
};

QTEST_MAIN(TestMetadata)
#include "tst_metadata.moc"
