#pragma once
// How a JPEG photo was coded, read from its header, and JPEG results coded
// the same way: libjpeg directly, fed 32-bit rows without a conversion.
#include <QByteArray>
#include <QImage>
#include <QString>
#include <vector>

namespace tarvex {

struct JpegCoding {
    // The quality whose standard tables the file's are, 1..100; 0 when it
    // is not a JPEG or its tables are not the standard ones scaled.
    int quality = 0;
    // The brightness channel's sampling factors: 2 x 2 is 4:2:0, 2 x 1 is
    // 4:2:2, 1 x 2 is 4:4:0, 1 x 1 is 4:4:4 (colour at full resolution).
    int horizontal = 2;
    int vertical = 2;
    // The file's own quantisation tables, 64 values each in natural order,
    // where they are not the standard ones scaled (as cameras and phones
    // make them); empty otherwise. A grey file has no colour table.
    std::vector<unsigned short> luminance, chrominance;
    bool hasOwnTables() const { return !luminance.empty(); }
};

// The coding of a JPEG file from its bytes up to its first scan (or all of
// them); the defaults when it is no JPEG or its header cannot be read.
JpegCoding readJpegCoding(const QByteArray& bytes);
// The same, of the file at `path`.
JpegCoding readJpegCoding(const QString& path);

// The quality whose standard tables scaled are exactly `luminance` and, if
// given, `chrominance` (64 values each, in natural order); 0 for none.
int standardQuality(const unsigned short* luminance, const unsigned short* chrominance);

// The opaque image as a baseline JPEG file at `quality` with the given
// sampling; empty, with the reason in `failure`, when it cannot be coded.
QByteArray encodeJpeg(const QImage& image, int quality, int horizontal, int vertical, QString* failure);
// The same, coded as `coding` says: with its sampling, and with its own
// tables where it has them (`quality` then goes unused).
QByteArray encodeJpeg(const QImage& image, const JpegCoding& coding, int quality, QString* failure);

}  // namespace tarvex
