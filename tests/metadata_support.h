#pragma once
// Photos with a camera's metadata, written with Exiv2 by the tests of
// results, and read back the same way. Tests that include this link Exiv2.
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <memory>

#include <exiv2/exiv2.hpp>

#include "test_support.h"

namespace tarvex::testing {

inline std::unique_ptr<Exiv2::Image> openMetadata(const QString& path)
{
    auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    image->readMetadata();
    return std::unique_ptr<Exiv2::Image>(image.release());
}

// A camera's Exif: date, GPS, camera and author, turned a quarter
// (Orientation 6).
inline Exiv2::ExifData cameraExif(const char* model)
{
    Exiv2::ExifData exif;
    exif["Exif.Image.Make"] = "Canon";
    exif["Exif.Image.Model"] = model;
    exif["Exif.Image.Artist"] = "Ana Pop";
    exif["Exif.Image.Orientation"] = uint16_t(6);
    exif["Exif.Photo.DateTimeOriginal"] = "2024:07:14 18:03:00";
    exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    exif["Exif.GPSInfo.GPSLatitude"] = "44/1 25/1 0/1";
    exif["Exif.GPSInfo.GPSLongitudeRef"] = "E";
    exif["Exif.GPSInfo.GPSLongitude"] = "26/1 6/1 0/1";
    return exif;
}

// Writes a camera's metadata into the picture file: dates, GPS, camera,
// author, turned a quarter (Orientation 6), with a thumbnail; keywords in
// IPTC and XMP.
inline void addCameraMetadata(const QString& path)
{
    auto image = openMetadata(path);
    Exiv2::ExifData exif = cameraExif("EOS R6");
    QByteArray thumb;
    QBuffer buffer(&thumb);
    buffer.open(QIODevice::WriteOnly);
    patternImage(16, 12, 1).save(&buffer, "jpeg");
    Exiv2::ExifThumb(exif).setJpegThumbnail(reinterpret_cast<const Exiv2::byte*>(thumb.constData()), long(thumb.size()));
    image->setExifData(exif);
    Exiv2::IptcData iptc;
    iptc["Iptc.Application2.Keywords"] = "mare";
    iptc["Iptc.Application2.City"] = "Constanta";
    image->setIptcData(iptc);
    Exiv2::XmpData xmp;
    xmp["Xmp.dc.subject"] = "vacanta";
    xmp["Xmp.xmp.Rating"] = "4";
    image->setXmpData(xmp);
    image->writeMetadata();
}

}  // namespace tarvex::testing
