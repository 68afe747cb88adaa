#include "picture_parts.h"

#include <QtEndian>

#include <algorithm>

#include <zlib.h>

#include "metadata_blocks.h"
#include "picture_file.h"
#include "plain_bitmap.h"

namespace tarvex {

namespace {

// A PNG iCCP chunk's profile: after its name and compression method, the
// profile deflated with zlib.
QByteArray inflatedPngProfile(const QByteArray& chunk)
{
    const qsizetype name = chunk.indexOf('\0');
    if (name < 0 || name + 2 > chunk.size())
        return {};
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return {};
    QByteArray out;
    char buffer[16384];
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(chunk.constData() + name + 2));
    z.avail_in = uInt(chunk.size() - name - 2);
    int status = Z_OK;
    while (status == Z_OK && out.size() < (16 << 20)) {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        status = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, qsizetype(sizeof buffer - z.avail_out));
    }
    inflateEnd(&z);
    return status == Z_STREAM_END ? out : QByteArray();
}

}  // namespace

// A WebP's first chunk is "VP8 " (lossy) or "VP8L" (lossless), or "VP8X"
// followed by chunks up to one of those two.
bool webpIsLossy(QFile& file)
{
    const QByteArray head = file.peek(64 * 1024);  // from the start: nothing has been read yet
    qsizetype at = 12;
    while (at + 8 <= head.size()) {
        const QByteArray fourcc = head.mid(at, 4);
        if (fourcc == "VP8 ")
            return true;
        if (fourcc == "VP8L")
            return false;
        const auto* size = reinterpret_cast<const uchar*>(head.constData() + at + 4);
        const quint32 length = quint32(size[0]) | quint32(size[1]) << 8 | quint32(size[2]) << 16 | quint32(size[3]) << 24;
        at += 8 + qsizetype(length) + (length & 1);
    }
    return true;  // not told within the first chunks: taken as the commoner, lossy kind
}

QByteArray metadataBytes(int fd, qint64 fileSize, const QByteArray& format)
{
    if (format == "bmp")
        return {};
    qint64 end = std::min(fileSize, kMaxPictureBytes);
    if (format == "jpeg") {
        qint64 at = 2;
        unsigned char marker[4];
        while (at + 4 <= fileSize && readAt(fd, reinterpret_cast<char*>(marker), 4, at) && marker[0] == 0xff) {
            at += 2 + (qint64(marker[2]) << 8 | marker[3]);
            if (marker[1] == 0xda)  // start of scan: its header is the last
                break;
        }
        end = std::min(at, fileSize);
    }
    QByteArray bytes(qsizetype(end), Qt::Uninitialized);
    if (!readAt(fd, bytes.data(), end, 0))
        return {};
    return bytes;
}

QByteArray embeddedProfile(int fd, qint64 fileSize, const QByteArray& format)
{
    if (format == "jpeg")
        return blocks::jpegIcc(metadataBytes(fd, fileSize, format));
    const bool png = format == "png";
    if (!png && format != "webp")
        return {};
    // Chunk by chunk, by their headers: a PNG's length is big-endian before
    // its type, a WebP's little-endian after it, and padded to even.
    qint64 at = png ? 8 : 12;
    char header[8];
    while (at + 8 <= fileSize && readAt(fd, header, 8, at)) {
        const QByteArray type = png ? QByteArray(header + 4, 4) : QByteArray(header, 4);
        const qint64 length = png ? qFromBigEndian<quint32>(header) : qFromLittleEndian<quint32>(header + 4);
        if (length > fileSize - at - 8 || (png && type == "IDAT"))
            break;
        if ((png && type == "iCCP") || (!png && type == "ICCP")) {
            QByteArray data(qsizetype(std::min<qint64>(length, 16 << 20)), Qt::Uninitialized);
            if (!readAt(fd, data.data(), data.size(), at + 8))
                return {};
            return png ? inflatedPngProfile(data) : data;
        }
        at += 8 + length + (png ? 4 : (length & 1));
    }
    return {};
}

}  // namespace tarvex
