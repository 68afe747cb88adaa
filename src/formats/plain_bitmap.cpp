#include "plain_bitmap.h"

#include <QFileInfo>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

#include <unistd.h>

#include "image_buffers.h"
#include "raster/raster.h"
#include "storage/staged_file.h"

namespace tarvex {

namespace {

constexpr qint64 kHeadersBytes = 14 + 40;  // file header and BITMAPINFOHEADER

// Whether the file is too short for the rows the header declares: offset
// + rowBytes * height > fileSize, without a product that can overflow.
bool rowsMissing(const BitmapHeader& h, qint64 fileSize)
{
    return h.offset > fileSize || (h.height > 0 && h.rowBytes() > (fileSize - h.offset) / h.height);
}

constexpr qint64 kWritebackBytes = qint64(8) << 20;

// Writes the image as a 24-bit, bottom-up BMP: the plain format every
// reader knows, a quarter smaller than 32 bits and quick to pack.
// Returns 0, or the errno of the failure.
int writeBmp24(int fd, const QImage& source)
{
    const QImage image = source.format() == QImage::Format_RGB32 ? source : source.convertToFormat(QImage::Format_RGB32);
    const int width = image.width(), height = image.height();
    const qint64 rowBytes = (qint64(width) * 3 + 3) / 4 * 4;
    const qint64 dataBytes = rowBytes * height;
    if (54 + dataBytes > 0xffffffffLL)
        return EFBIG;
    char header[54] = {'B', 'M'};
    qToLittleEndian<quint32>(quint32(54 + dataBytes), header + 2);
    qToLittleEndian<quint32>(54, header + 10);           // where the pixels start
    qToLittleEndian<quint32>(40, header + 14);           // BITMAPINFOHEADER
    qToLittleEndian<qint32>(width, header + 18);
    qToLittleEndian<qint32>(height, header + 22);        // positive: bottom row first
    qToLittleEndian<quint16>(1, header + 26);            // planes
    qToLittleEndian<quint16>(24, header + 28);           // bits per pixel
    qToLittleEndian<quint32>(quint32(dataBytes), header + 34);
    qToLittleEndian<qint32>(3780, header + 38);          // 96 dots per inch
    qToLittleEndian<qint32>(3780, header + 42);
    if (const int error = writeAll(fd, header, sizeof header))
        return error;
    // Rows are packed into a buffer of about a megabyte and written in one
    // go. Every few megabytes, and after the last row, the disk is asked to
    // start writing what came before, so the sync at the end waits for
    // little more than the tail, or for nothing when other work came first.
    const int rowsPerChunk = int(std::max<qint64>(1, (qint64(1) << 20) / std::max<qint64>(rowBytes, 1)));
    std::vector<char> chunk(std::size_t(rowBytes * std::min(rowsPerChunk, std::max(height, 1))), 0);
    qint64 written = sizeof header, flushed = 0;
    for (int y = height - 1; y >= 0;) {
        std::size_t used = 0;
        for (int n = 0; n < rowsPerChunk && y >= 0; ++n, --y, used += std::size_t(rowBytes))
            raster::PackBgr24(reinterpret_cast<std::uint8_t*>(chunk.data() + used),
                              reinterpret_cast<const raster::Pixel*>(image.constScanLine(y)), width);
        if (const int error = writeAll(fd, chunk.data(), used))
            return error;
        written += qint64(used);
        if (written - flushed >= kWritebackBytes || y < 0) {
            startWriteback(fd, flushed, written - flushed);
            flushed = written;
        }
    }
    return 0;
}

}  // namespace

std::optional<BitmapHeader> parseBitmapHeader(const QByteArray& head)
{
    if (head.size() < 34 || !head.startsWith("BM"))
        return std::nullopt;
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(head.constData() + at); };
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(head.constData() + at); };
    BitmapHeader h;
    h.offset = u32(10);
    h.infoSize = u32(14);
    if (h.infoSize == 12) {  // OS/2 1.x
        h.width = u16(18), h.height = u16(20), h.planes = u16(22), h.bits = u16(24);
    } else if (h.infoSize >= 40) {
        h.width = qint32(u32(18)), h.height = qint32(u32(22)), h.planes = u16(26), h.bits = u16(28);
        h.compression = u32(30);
        if (head.size() >= 46)
            h.xPerMetre = qint32(u32(38)), h.yPerMetre = qint32(u32(42));
    } else {
        return std::nullopt;
    }
    h.topDown = h.height < 0;
    if (h.topDown)
        h.height = -h.height;
    return h;
}

bool bitmapDataShort(const QByteArray& head, qint64 fileSize)
{
    const auto h = parseBitmapHeader(head);
    if (!h || (h->compression != 0 && h->compression != 3))  // RLE data has no fixed size
        return false;
    if (h->width <= 0 || h->bits <= 0 || h->bits > 32)
        return false;
    return rowsMissing(*h, fileSize);
}

QImage readPlainBitmap(int fd, const QByteArray& head, qint64 fileSize, qint64 maxBytes)
{
    const auto h = parseBitmapHeader(head);
    // Only the one header, depth and layout read here; later headers may
    // carry colour masks or colour spaces, which Qt's reader knows.
    if (!h || head.size() < kHeadersBytes || h->infoSize != 40 || h->planes != 1 || h->bits != 24 ||
        h->compression != 0 || h->offset < kHeadersBytes)
        return {};
    const qint64 width = h->width, height = h->height;
    if (width <= 0 || height <= 0 || width > INT_MAX / 4 || height > INT_MAX || width * height > maxBytes / 4)
        return {};
    if (rowsMissing(*h, fileSize))
        return {};  // Qt's reader shows what there is
    const qint64 rowBytes = h->rowBytes(), offset = h->offset;
    QImage image = uninitialisedImage(QSize(int(width), int(height)));  // every row is read below
    if (image.isNull())
        return {};
    // Rows come in file order, about a megabyte at a time.
    const qint64 rowsPerChunk = std::max<qint64>(1, (qint64(1) << 20) / rowBytes);
    std::vector<char> chunk(std::size_t(rowBytes * std::min(rowsPerChunk, height)));
    const bool bottomUp = !h->topDown;
    for (qint64 first = 0; first < height; first += rowsPerChunk) {
        const qint64 rows = std::min(rowsPerChunk, height - first);
        if (!readAt(fd, chunk.data(), rows * rowBytes, offset + first * rowBytes))
            return {};
        for (qint64 r = 0; r < rows; ++r) {
            const qint64 y = bottomUp ? height - 1 - (first + r) : first + r;
            raster::UnpackBgr24(reinterpret_cast<raster::Pixel*>(image.scanLine(int(y))),
                                reinterpret_cast<const std::uint8_t*>(chunk.data() + r * rowBytes), int(width));
        }
    }
    if (h->xPerMetre > 0)
        image.setDotsPerMeterX(h->xPerMetre);
    if (h->yPerMetre > 0)
        image.setDotsPerMeterY(h->yPerMetre);
    return image;
}

bool readAt(int fd, char* to, qint64 size, qint64 offset)
{
    while (size > 0) {
        const ssize_t n = ::pread(fd, to, std::size_t(size), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        to += n, size -= n, offset += n;
    }
    return true;
}

ContentWriter bitmapContent(const QImage& image)
{
    // The image is let go as soon as it is written, before `whileWriting`
    // runs: a caller that frees its pictures there really frees them.
    return [image](int fd) mutable {
        const QImage written = std::move(image);
        return writeBmp24(fd, written);
    };
}

WriteResult writeBitmapNoReplace(const QImage& image, const QString& path, const WriteOptions& options)
{
    const QFileInfo target(path);
    return StagedFile(bitmapContent(image), target.path(), options).nameAs(target.fileName());
}

}  // namespace tarvex
