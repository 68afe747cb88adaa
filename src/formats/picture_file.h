#pragma once
// Reading pictures from files, with the reasons a person needs when that
// fails.
#include <QSize>
#include <QString>
#include <functional>
#include <memory>

#include "picture.h"
#include "result_file.h"

namespace tarvex {

struct LoadResult {
    Picture picture;      // null when the file could not be opened
    QString failure;      // why not, in Romanian, when picture is null
    bool incomplete = false;  // opened, but part of the file's pixels were missing
    bool lossy = false;       // its pixels come from lossy coding (JPEG, lossy WebP)
    // The colour space of its pixels, as an ICC profile: the file's own
    // profile or colour description; empty for sRGB.
    QByteArray profile;
    // What saving results drawn over it needs to know of the file, read
    // from the descriptor the pixels came from; null when it did not open
    // or was not opened as a photo.
    std::shared_ptr<const PhotoInfo> photo;
};

// Decodes a BMP, JPEG, PNG, TIFF or WebP file, judged by its content, into
// a 32-bit picture: upright as the camera's orientation tag says, with the
// values the file holds (never converted to another colour space; the
// file's profile comes with them).
// A picture whose alpha is used somewhere is premultiplied ARGB
// (Format_ARGB32_Premultiplied); every other one is RGB32, any unused
// alpha dropped. Anything else is refused with its reason.
// `beforeDecode` runs once every check that needs no decoding has passed,
// just before the pixels are decoded: the caller can let go of the picture
// this one replaces, so that the two are never held at once. A picture
// opened as the photo results are drawn over (`asPhoto`) also gets
// `LoadResult::photo`; frames and first pictures need none.
LoadResult loadPicture(const QString& path, const std::function<void()>& beforeDecode = {}, bool asPhoto = false);

// The size the picture file at `path` says it has, read from its header
// without decoding and without blocking; invalid when it cannot be told.
QSize declaredPictureSize(const QString& path);

// What a person is told of a load of `path`: why it failed, that only part
// of the picture could be read, or nothing when it opened whole.
QString loadMessage(const QString& path, const LoadResult& loaded);

// Pictures whose decoded pixels would take more than this are refused
// before anything large is allocated.
inline constexpr qint64 kMaxPictureBytes = qint64(1) << 30;

// Whether a 32-bit image has a pixel that is not wholly opaque.
bool usesAlpha(const QImage& image);

// The picture laid over white where it has alpha, as an opaque RGB32
// picture; an opaque picture is given back as it is.
Picture flattened(const Picture& picture);

}  // namespace tarvex
