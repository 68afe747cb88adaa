// Writes the benchmark's inputs: COUNT photo-like JPEG pictures of W x H
// (smooth gradients with fine texture, so they compress as photos do, with
// a camera's Exif and its 160 x 120 thumbnail, as photos come) and
// a BMP frame of the same size whose window is one key-green colour, and
// the same frame as a PNG with alpha: its window clear, the edge feathered.
// KIND makes the photos as phones and cameras also do:
//   portrait  the same pictures stored turned a quarter, tagged
//             orientation 6, so that upright they are the same;
//   heic      HEIC files, coded by libheif's encoder, named photoN.heic;
//   p3        JPEGs whose values are in Display P3, with its profile.
//
//     make_photos FOLDER COUNT WIDTH HEIGHT [portrait|heic|p3]
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QBuffer>
#include <QColorSpace>
#include <QImage>
#include <QTransform>
#include <algorithm>
#include <cstdio>

#include <exiv2/exiv2.hpp>

#include "formats/heif_file.h"

namespace {

// The metadata a camera writes: who, what with, when and where, and a
// thumbnail, as most photos carry them.
bool addCameraExif(const QString& path, const QImage& photo, int orientation = 1)
{
    try {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        image->readMetadata();
        Exiv2::ExifData exif;
        exif["Exif.Image.Make"] = "Canon";
        exif["Exif.Image.Model"] = "EOS R6";
        exif["Exif.Image.Artist"] = "Ana Pop";
        exif["Exif.Image.Copyright"] = "Ana Pop";
        exif["Exif.Image.Orientation"] = uint16_t(orientation);
        exif["Exif.Photo.DateTimeOriginal"] = "2024:07:14 18:03:00";
        exif["Exif.Photo.ExposureTime"] = "1/250";
        exif["Exif.Photo.FNumber"] = "56/10";
        exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(200);
        exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
        exif["Exif.GPSInfo.GPSLatitude"] = "44/1 25/1 0/1";
        exif["Exif.GPSInfo.GPSLongitudeRef"] = "E";
        exif["Exif.GPSInfo.GPSLongitude"] = "26/1 6/1 0/1";
        QByteArray thumb;
        QBuffer buffer(&thumb);
        buffer.open(QIODevice::WriteOnly);
        photo.scaled(160, 120).save(&buffer, "jpeg", 80);
        Exiv2::ExifThumb(exif).setJpegThumbnail(reinterpret_cast<const Exiv2::byte*>(thumb.constData()),
                                                long(thumb.size()));
        image->setExifData(exif);
        image->writeMetadata();
        return true;
    } catch (const Exiv2::AnyError&) {
        return false;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: make_photos FOLDER COUNT WIDTH HEIGHT [portrait|heic|p3]\n");
        return 2;
    }
    const QByteArray kind = argc == 6 ? QByteArray(argv[5]) : QByteArray();
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const int count = std::atoi(argv[2]), w = std::atoi(argv[3]), h = std::atoi(argv[4]);
    for (int i = 0; i < count; ++i) {
        QImage photo(w, h, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y) {
            auto* row = reinterpret_cast<QRgb*>(photo.scanLine(y));
            for (int x = 0; x < w; ++x) {
                const unsigned grain = (unsigned(x * 2654435761u) ^ unsigned(y * 40503u + i)) >> 28;
                row[x] = qRgb((x * 255 / w + grain + i * 30) & 0xff, (y * 255 / h + grain) & 0xff,
                              ((x + y) * 127 / (w + h) + 64 + grain) & 0xff);
            }
        }
        if (kind == "heic") {
            QFile file(dir.filePath(QStringLiteral("photo%1.heic").arg(i)));
            const QByteArray coded = tarvex::heif::encode(photo, tarvex::heif::Codec::Hevc, 70, {}, nullptr);
            if (coded.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(coded) != coded.size())
                return 1;
            continue;
        }
        const bool portrait = kind == "portrait";
        if (kind == "p3")
            photo.setColorSpace(QColorSpace::DisplayP3);
        const QString path = dir.filePath(QStringLiteral("photo%1.jpg").arg(i));
        const QImage stored = portrait ? photo.transformed(QTransform().rotate(-90)) : photo;
        if (!stored.save(path, "jpeg", 90) || !addCameraExif(path, photo, portrait ? 6 : 1))
            return 1;
    }
    QImage frame(w, h, QImage::Format_RGB32);
    frame.fill(qRgb(120, 70, 30));
    for (int y = h / 10; y < h - h / 10; ++y) {
        auto* row = reinterpret_cast<QRgb*>(frame.scanLine(y));
        for (int x = w / 10; x < w - w / 10; ++x)
            row[x] = qRgb(0, 255, 0);
    }
    if (!frame.save(dir.filePath(QStringLiteral("frame.bmp")), "bmp"))
        return 1;
    QImage alpha = frame.convertToFormat(QImage::Format_ARGB32);
    const int x0 = w / 10, y0 = h / 10, x1 = w - w / 10, y1 = h - h / 10;
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(alpha.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int inside = std::min({x - x0, x1 - 1 - x, y - y0, y1 - 1 - y});
            const int a = std::clamp(255 - (inside + 1) * 16, 0, 255);
            row[x] = a == 0 ? 0 : qRgba(120, 70, 30, a);
        }
    }
    return alpha.save(dir.filePath(QStringLiteral("frame.png")), "png") ? 0 : 1;
}
