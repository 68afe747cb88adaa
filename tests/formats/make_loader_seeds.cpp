// Writes the loader fuzzer's starting corpus into the folder it is given:
// small valid pictures of every format the loader reads, and damaged ones.
#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QColorSpace>
#include <QImage>

#include "formats/heif_file.h"

namespace {

QByteArray encode(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 80);
    return bytes;
}

bool write(const QDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile file(dir.filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    QDir dir(QString::fromLocal8Bit(argv[1]));
    dir.mkpath(QStringLiteral("."));
    QImage image(7, 5, QImage::Format_RGB32);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            image.setPixel(x, y, qRgb(x * 36, y * 50, (x ^ y) * 30));
    bool ok = true;
    for (const char* format : {"bmp", "jpeg", "png", "tiff", "webp"}) {
        const QByteArray bytes = encode(image, format);
        if (bytes.isEmpty())
            continue;  // a reader this system's Qt lacks
        const QString name = QString::fromLatin1(format);
        ok = ok && write(dir, name, bytes) && write(dir, name + QStringLiteral("-cut"), bytes.left(bytes.size() / 2));
        QByteArray flipped = bytes;
        flipped[bytes.size() / 3] = char(~flipped[bytes.size() / 3]);
        ok = ok && write(dir, name + QStringLiteral("-flipped"), flipped);
    }
    QImage paletted = image.convertToFormat(QImage::Format_Indexed8);
    ok = ok && write(dir, QStringLiteral("bmp-8bit"), encode(paletted, "bmp"));
    // PNGs with alpha, as frames and logos come: RGBA, and a palette with
    // alphas.
    QImage clear = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            clear.setPixel(x, y, (clear.pixel(x, y) & 0x00ffffffu) | quint32(x * 40) << 24);
    ok = ok && write(dir, QStringLiteral("png-alpha"), encode(clear, "png"));
    ok = ok && write(dir, QStringLiteral("png-palette-alpha"), encode(clear.convertToFormat(QImage::Format_Indexed8), "png"));
    // Phone photos, and a JPEG with Exif, XMP and a profile.
    ok = ok && write(dir, QStringLiteral("heic"), tarvex::heif::encode(image, tarvex::heif::Codec::Hevc, 60, {}, nullptr));
    ok = ok && write(dir, QStringLiteral("avif"), tarvex::heif::encode(clear, tarvex::heif::Codec::Av1, 60, {}, nullptr));
    const QByteArray exif("II*\0\x08\0\0\0\x02\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0"
                          "\x3b\x01\x02\0\x04\0\0\0Ana\0\0\0\0\0", 38);
    const QByteArray xmp("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
                         "<rdf:Description xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" tiff:Orientation=\"6\"/>"
                         "</rdf:RDF></x:xmpmeta>");
    QImage p3 = image;
    p3.setColorSpace(QColorSpace::DisplayP3);
    QByteArray jpeg = encode(p3, "jpeg");
    const QByteArray app1 = QByteArray("\xff\xe1", 2) + char(0) + char(exif.size() + 8) + QByteArray("Exif\0\0", 6) + exif;
    jpeg.insert(2, app1);
    ok = ok && write(dir, QStringLiteral("jpeg-exif-profile"), jpeg) && write(dir, QStringLiteral("exif"), exif) &&
         write(dir, QStringLiteral("xmp"), xmp) && write(dir, QStringLiteral("icc"), QColorSpace(QColorSpace::DisplayP3).iccProfile());
    return ok ? 0 : 1;
}
