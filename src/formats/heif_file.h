#pragma once
// HEIF (HEIC, as phones take photos) and AVIF files, through libheif:
// reading the primary picture, upright as the file's own rotation, mirror
// and crop state, with its colour profile, alpha and metadata; and writing
// results in either.
#include <QByteArray>
#include <QImage>
#include <QString>
#include <functional>

namespace tarvex::heif {

// Whether the file's first bytes are a HEIF or AVIF file's.
bool isHeif(const QByteArray& head);

// A picture read from a HEIF file, or why not.
struct Read {
    QImage image;        // RGB32, or premultiplied ARGB32 where its alpha is used
    QByteArray profile;  // its colour space, as an ICC profile; empty for sRGB
    QByteArray exif;     // the Exif item as a TIFF structure; empty without one
    QByteArray xmp;      // the XMP packet; empty without one
    QString failure;     // why there is no image, in Romanian
    QSize size;          // the primary picture's size, upright, once the file is parsed
};

// The file's primary picture, from all of its bytes. `beforeDecode` runs
// once the file is parsed and its size known, just before the pixels are
// decoded, and may refuse the size (returning a reason): nothing is then
// decoded. 10- and 12-bit samples are rounded to 8 bits. A picture whose
// pixels would take more than `maxBytes` is refused.
Read read(const QByteArray& file, qint64 maxBytes, const std::function<QString(QSize)>& beforeDecode = {});

// The size the file's primary picture has, upright; invalid where it
// cannot be told.
QSize declaredSize(const QByteArray& file);

enum class Codec { Hevc, Av1 };

// What a result in HEIF or AVIF carries besides its pixels.
struct Carried {
    QByteArray profile;  // ICC; empty for sRGB, which the file then says by its colour description
    QByteArray exif;     // a TIFF structure, or empty
    QByteArray xmp;      // an XMP packet, or empty
};

// The opaque image coded as HEIC (HEVC) or AVIF (AV1) at `quality`
// (1..100), with what `carried` holds; empty, with the reason in
// `failure`, when it cannot be coded.
QByteArray encode(const QImage& image, Codec codec, int quality, const Carried& carried, QString* failure);

}  // namespace tarvex::heif
