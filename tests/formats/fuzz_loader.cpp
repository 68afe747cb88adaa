// libFuzzer target: any bytes, written to a file, go through the picture
// loader (our own header checks and plain BMP, JPEG and PNG readers, then
// Qt's BMP, JPEG, PNG, TIFF and WebP readers, and libheif for HEIF and
// AVIF), opened as a photo, so its metadata (Exif, IPTC, XMP) and colour
// profile are read too. The same bytes are also taken as an Exif block,
// an XMP packet and an ICC profile on their own, and carried into a result. Whatever it is given, it
// must return a 32-bit picture of a sane size or a reason, and never crash
// or touch memory it does not own. What a plain reader takes, it must read
// to Qt's reader's pixels. PNG chunks carry CRCs that random changes
// almost never keep right, so a PNG is also given to the plain reader with
// its CRCs made right, to reach the decode behind them.
#include <QBuffer>
#include <QColorSpace>
#include <QCoreApplication>
#include <QImageReader>
#include <QFile>
#include <QTemporaryDir>

#include "formats/colour_profile.h"
#include "formats/metadata_blocks.h"
#include "formats/photo_metadata.h"
#include "formats/picture_file.h"
#include "formats/plain_bitmap.h"
#include "formats/plain_jpeg.h"
#include "formats/plain_png.h"
#include "qt_png.h"

#include <zlib.h>

using namespace tarvex;

namespace {

QTemporaryDir* scratch = nullptr;

QString writeInput(const QString& name, const QByteArray& bytes)
{
    const QString path = scratch->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        __builtin_trap();
    return path;
}

// The PNG with every whole chunk's CRC made right.
QByteArray withRightCrcs(QByteArray png)
{
    auto* bytes = reinterpret_cast<uchar*>(png.data());
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const quint32 length = quint32(bytes[at]) << 24 | quint32(bytes[at + 1]) << 16 | quint32(bytes[at + 2]) << 8 | bytes[at + 3];
        if (length > quint32(png.size() - at - 12))
            break;
        const uLong crc = crc32(0, bytes + at + 4, uInt(length + 4));
        for (int k = 0; k < 4; ++k)
            bytes[at + 8 + qsizetype(length) + k] = uchar(crc >> (24 - 8 * k));
        at += 12 + qsizetype(length);
    }
    return png;
}

// The plain PNG reader's picture of the file equals Qt's, where Qt's
// reader reads it: libpng refuses some damage (a zlib window smaller than
// the data's distances) that the plain reader reads past.
void checkPlainPng(const QByteArray& bytes)
{
    QFile file(writeInput(QStringLiteral("input.png"), bytes));
    if (!file.open(QIODevice::ReadOnly))
        __builtin_trap();
    const QImage plain = readPlainPng(file.handle(), file.size(), kMaxPictureBytes);
    if (plain.isNull())
        return;
    if (plain.format() != QImage::Format_RGB32 && plain.format() != QImage::Format_ARGB32_Premultiplied)
        __builtin_trap();
    const QImage qt = testing::qtWorkingPng(bytes);
    if (!qt.isNull() && plain != qt)
        __builtin_trap();  // a plain PNG read differently from Qt's reader
}

// Qt's reading of a JPEG as it is stored: not turned by its orientation
// tag, its profile (which Qt only notes) left aside.
QImage unturnedQtJpeg(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer, "jpeg");
    reader.setAutoTransform(false);
    QImage image = reader.read().convertToFormat(QImage::Format_RGB32);
    image.setColorSpace(QColorSpace());
    return image;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    static QTemporaryDir dir;
    scratch = &dir;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString path = writeInput(QStringLiteral("input"), bytes);
    const LoadResult loaded = loadPicture(path, {}, true);
    if (loaded.picture) {
        const QImage& p = *loaded.picture;
        const bool working = p.format() == QImage::Format_RGB32 || p.format() == QImage::Format_ARGB32_Premultiplied;
        if (p.isNull() || !working || qint64(p.sizeInBytes()) > kMaxPictureBytes)
            __builtin_trap();
    } else if (loaded.failure.isEmpty()) {
        __builtin_trap();  // refused without a reason
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        __builtin_trap();
    // A 24-bit bitmap reads as Qt's reader reads it; a 16-bit one is
    // widened with rounding, where Qt's reader shifts.
    const QByteArray head = file.peek(256);
    const QImage plain = readPlainBitmap(file.handle(), head, file.size(), kMaxPictureBytes);
    const auto header = parseBitmapHeader(head);
    const bool sameAsQt = header && header->bits == 24;
    if (!plain.isNull() &&
        (!loaded.picture || (sameAsQt && plain != QImage::fromData(bytes, "bmp").convertToFormat(QImage::Format_RGB32))))
        __builtin_trap();  // a plain bitmap read differently from Qt's reader, or not read by the loader
    const QImage jpeg = readPlainJpeg(file.handle(), kMaxPictureBytes);
    if (!jpeg.isNull() && jpeg != unturnedQtJpeg(bytes))
        __builtin_trap();  // a plain JPEG read differently from Qt's reader
    // The bytes as the blocks a photo's metadata is made of.
    const QByteArray upright = blocks::uprightExif(bytes);
    if (!upright.isEmpty() && (upright.size() != bytes.size() || blocks::exifOrientation(upright) > 1))
        __builtin_trap();  // made upright, yet longer or still turned
    if (blocks::uprightXmp(bytes).size() > bytes.size())
        __builtin_trap();
    colour::pictureProfile(bytes);
    QStringList dropped;
    resultBlocks(photoMetadataFromBlocks(bytes, bytes), QSize(7, 5), &dropped);
    if (bytes.startsWith("\x89PNG\r\n\x1a\n")) {
        checkPlainPng(bytes);
        checkPlainPng(withRightCrcs(bytes));
    }
    return 0;
}
