#pragma once
// Reading the plainest BMP files ourselves: 24-bit pixels, uncompressed,
// every row present. They are what this program saves and what frames
// usually are, and Qt's reader takes several times longer over them (it
// reads through small buffers and converts pixel by pixel). Everything
// else is left to Qt's reader.
#include <QByteArray>
#include <QImage>

namespace tarvex {

// The picture of the BMP file open as `fd`, of `fileSize` bytes, whose
// first bytes are `head` (at least its 54 bytes of headers), as a 32-bit
// RGB image equal to what Qt's reader gives. A null image when the file is
// not of the plain kind, its pixels would take more than `maxBytes`, or it
// cannot be read whole.
QImage readPlainBitmap(int fd, const QByteArray& head, qint64 fileSize, qint64 maxBytes);

}  // namespace tarvex
