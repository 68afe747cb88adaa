#pragma once
// The parts of a picture file read without decoding its pixels: the bytes
// that hold its metadata and coding, the colour profile it embeds, and
// whether a WebP is coded lossily.
#include <QByteArray>
#include <QFile>

namespace tarvex {

// Whether the WebP file open as `file`, not yet read from, is coded
// lossily; taken as lossy when its first chunks do not tell.
bool webpIsLossy(QFile& file);

// The bytes of the open file that hold its metadata and coding: for a JPEG
// its segments up to the first scan (the rest is image data), none for a
// BMP (it has no metadata), the whole file for others, whose metadata may
// come after the pixels. `format` is the sniffed one ("jpeg", "png", ...).
QByteArray metadataBytes(int fd, qint64 fileSize, const QByteArray& format);

// The ICC profile the file holds, as it holds it: a JPEG's APP2 segments,
// a PNG's iCCP chunk, a WebP's ICCP chunk; empty where it has none. (Qt
// gives a profile it made again from what it read, not the file's own.)
QByteArray embeddedProfile(int fd, qint64 fileSize, const QByteArray& format);

}  // namespace tarvex
