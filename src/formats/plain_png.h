#pragma once
// Reading the common kind of PNG file ourselves: 8 bits a channel (grey,
// grey and alpha, RGB, RGBA or a palette of 256 colours at most), not
// interlaced, without a colour profile or gamma that would ask for a
// conversion. Frames and logos come this way. Qt's reader inflates through
// zlib in small steps and converts every row twice; here the data is
// inflated at once with libdeflate, in place at the end of the picture's
// own buffer, and each row is unfiltered and converted in one pass while it
// is in the cache. A 12-megapixel frame decodes in under half the time.
// Everything else is left to Qt's reader.
#include <QImage>

namespace tarvex {

// The picture of the PNG file open as `fd`, of `fileSize` bytes, read by
// position, in the form the loader works in: RGB32 when every pixel is
// opaque, premultiplied ARGB32 otherwise, with the same pixels as Qt's
// reader and that conversion give. A null image when the file is not of
// the plain kind, its pixels would take more than `maxBytes`, or any of it
// is damaged or missing, which Qt's reader then judges.
QImage readPlainPng(int fd, qint64 fileSize, qint64 maxBytes);

}  // namespace tarvex
