#pragma once
// What a saved result holds: the format its name says, coded as the photo
// it came from was, with the photo's metadata.
#include <QImage>
#include <QString>
#include <QStringList>
#include <optional>

#include "jpeg_coding.h"
#include "photo_metadata.h"
#include "storage/staged_file.h"

namespace tarvex {

enum class ResultFormat { Bmp, Jpeg, Png, Tiff, Webp, Heic, Avif };

// The format a result named `fileName` is saved in, by its extension in
// either case: .jpg .jpeg .jpe, .png, .tif .tiff, .webp, .heic .heif,
// .avif; BMP for .bmp, any other extension, or none.
ResultFormat resultFormatOf(const QString& fileName);

// The format a word names ("bmp", "jpg", "jpeg", "png", "tif", "tiff",
// "webp", "heic", "heif", "avif"), for the command line; none for any
// other word.
std::optional<ResultFormat> resultFormatNamed(const QString& word);

// `fileName` with its extension replaced by the format's own (added where
// it has none).
QString withExtensionFor(const QString& fileName, ResultFormat format);

// What the photo a result is drawn over tells about how to save it.
struct PhotoInfo {
    JpegCoding jpeg;            // quality 0 when not a JPEG of standard tables
    bool lossy = false;         // decoded from lossy coding: its WebP results are lossy too
    PhotoMetadata metadata;
};

// What a result needs to know of a photo, from the bytes of its file (for
// a JPEG, those up to its first scan suffice).
PhotoInfo readPhotoInfo(const QByteArray& bytes, bool lossy);

// The result's settings that a user may choose: the quality of JPEG and
// lossy WebP results (1..100; 0 to take the photo's).
struct ResultSettings {
    int quality = 0;
};

inline constexpr int kDefaultJpegQuality = 92;
inline constexpr int kDefaultWebpQuality = 90;
// Chosen by measurement (bench/heif_quality): at least 40 dB against the
// composite, and no more bytes a pixel than 1.3 times the photo's.
inline constexpr int kDefaultHeicQuality = 65;
inline constexpr int kDefaultAvifQuality = 90;

struct EncodedResult {
    ContentWriter content;   // null when it could not be coded
    QString failure;         // why not, in Romanian
    QStringList dropped;     // metadata blocks of the photo left out as damaged
};

// The opaque image, whose values are in the colour space of `profile`
// (empty: sRGB), coded as `format` for a photo described by `photo`: with
// that profile, or, for a BMP, which carries none, converted to sRGB.
EncodedResult encodeResult(const QImage& image, ResultFormat format, const PhotoInfo& photo,
                           const ResultSettings& settings = {}, const QByteArray& profile = {});

}  // namespace tarvex
