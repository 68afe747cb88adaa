#include "plain_bitmap.h"

#include <QtEndian>
#include <cerrno>
#include <climits>
#include <vector>

#include <unistd.h>

#include "raster/raster.h"

namespace tarvex {

namespace {

constexpr qint64 kHeadersBytes = 14 + 40;  // file header and BITMAPINFOHEADER

// Reads exactly size bytes at offset; false on a failure or an early end.
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

}  // namespace

QImage readPlainBitmap(int fd, const QByteArray& head, qint64 fileSize, qint64 maxBytes)
{
    if (head.size() < kHeadersBytes || !head.startsWith("BM"))
        return {};
    const char* h = head.constData();
    const qint64 offset = qFromLittleEndian<quint32>(h + 10);
    const quint32 infoSize = qFromLittleEndian<quint32>(h + 14);
    const qint64 width = qFromLittleEndian<qint32>(h + 18);
    const qint64 signedHeight = qFromLittleEndian<qint32>(h + 22);
    const quint16 planes = qFromLittleEndian<quint16>(h + 26), bits = qFromLittleEndian<quint16>(h + 28);
    const quint32 compression = qFromLittleEndian<quint32>(h + 30);
    // Only the one header, depth and layout read here; later headers may
    // carry colour masks or colour spaces, which Qt's reader knows.
    if (infoSize != 40 || planes != 1 || bits != 24 || compression != 0 || offset < kHeadersBytes)
        return {};
    const qint64 height = signedHeight < 0 ? -signedHeight : signedHeight;
    if (width <= 0 || height <= 0 || width > INT_MAX / 4 || height > INT_MAX || width * height > maxBytes / 4)
        return {};
    const qint64 rowBytes = (width * 3 + 3) / 4 * 4;
    if (offset > fileSize || rowBytes > (fileSize - offset) / height)
        return {};  // rows missing: Qt's reader shows what there is
    QImage image(int(width), int(height), QImage::Format_RGB32);
    if (image.isNull())
        return {};
    // Rows come in file order, about a megabyte at a time.
    const qint64 rowsPerChunk = std::max<qint64>(1, (qint64(1) << 20) / rowBytes);
    std::vector<char> chunk(std::size_t(rowBytes * std::min(rowsPerChunk, height)));
    const bool bottomUp = signedHeight > 0;
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
    const qint32 xPerMetre = qFromLittleEndian<qint32>(h + 38), yPerMetre = qFromLittleEndian<qint32>(h + 42);
    if (xPerMetre > 0)
        image.setDotsPerMeterX(xPerMetre);
    if (yPerMetre > 0)
        image.setDotsPerMeterY(yPerMetre);
    return image;
}

}  // namespace tarvex
