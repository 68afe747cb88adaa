#pragma once
// BMP files: their headers, reading the plainest of them ourselves, and
// writing results as such. The plain kind is 24-bit pixels, uncompressed,
// every row present. They are what this program saves and what frames
// usually are, and Qt's reader takes several times longer over them (it
// reads through small buffers and converts pixel by pixel). Everything
// else is left to Qt's reader.
#include <QByteArray>
#include <QImage>
#include <QString>
#include <optional>

#include "storage/staged_file.h"

namespace tarvex {

// The fields of a BMP file's headers that say how its pixels lie.
struct BitmapHeader {
    qint64 offset = 0;    // where the pixels start in the file
    qint64 infoSize = 0;  // the size of the second header, which tells its kind
    qint64 width = 0, height = 0;  // height made positive
    bool topDown = false;          // a negative height: the top row first
    qint64 planes = 0, bits = 0, compression = 0;
    qint32 xPerMetre = 0, yPerMetre = 0;

    // Bytes per row, each row padded to 4 bytes.
    qint64 rowBytes() const { return (width * bits + 31) / 32 * 4; }
};

// The headers at the start of a BMP file, from its first bytes; none when
// they are not a BMP's or are cut short.
std::optional<BitmapHeader> parseBitmapHeader(const QByteArray& head);

// For an uncompressed BMP: whether the file holds fewer bytes than its
// header says the pixels need (Qt then shows the missing rows black).
bool bitmapDataShort(const QByteArray& head, qint64 fileSize);

// The picture of the BMP file open as `fd`, of `fileSize` bytes, whose
// first bytes are `head` (at least its 54 bytes of headers), as a 32-bit
// RGB image equal to what Qt's reader gives. A null image when the file is
// not of the plain kind, its pixels would take more than `maxBytes`, or it
// cannot be read whole.
QImage readPlainBitmap(int fd, const QByteArray& head, qint64 fileSize, qint64 maxBytes);

// Reads exactly `size` bytes at `offset` of the open file, by position
// (its own position is left alone); false on a failure or an early end.
bool readAt(int fd, char* to, qint64 size, qint64 offset);

// The image as a 24-bit, bottom-up BMP file.
ContentWriter bitmapContent(const QImage& image);

// Writes the image as a BMP file under exactly `path`: a StagedFile offered
// that one name.
WriteResult writeBitmapNoReplace(const QImage& image, const QString& path, const WriteOptions& options = {});

}  // namespace tarvex
