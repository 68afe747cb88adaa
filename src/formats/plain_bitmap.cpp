#include "plain_bitmap.h"

#include <QFileInfo>
#include <QtAlgorithms>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include <unistd.h>

#include "image_buffers.h"
#include "samples.h"
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

// Where a 16-bit file keeps red, green and blue.
struct ChannelMasks {
    quint32 red = 0, green = 0, blue = 0;
};

bool contiguous(quint32 mask)
{
    if (mask == 0)
        return false;
    const quint32 low = mask >> qCountTrailingZeroBits(mask);
    return (low & (low + 1)) == 0;
}

// The masks of a 16-bit file: 5 bits each without a mask of its own (the
// last bit unused), or the three it gives (BI_BITFIELDS), right after the
// 40-byte header or inside a longer one. Files with a used alpha mask or a
// colour space of their own are left to Qt's reader.
std::optional<ChannelMasks> sixteenBitMasks(const BitmapHeader& h, const QByteArray& head)
{
    char bytes[14 + 124] = {};
    std::memcpy(bytes, head.constData(), std::size_t(std::min<qsizetype>(head.size(), sizeof bytes)));
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(bytes + at); };
    if (h.compression == 0 && h.infoSize == 40)
        return ChannelMasks{0x7c00, 0x03e0, 0x001f};
    if (h.compression != 3 || (h.infoSize != 40 && h.infoSize != 52 && h.infoSize != 56 && h.infoSize != 108 &&
                               h.infoSize != 124))
        return std::nullopt;
    if (head.size() < 14 + 40 + 12 || (h.infoSize > 52 && head.size() < 14 + 56))
        return std::nullopt;
    const ChannelMasks m{u32(54), u32(58), u32(62)};
    if (h.infoSize > 52 && u32(66) != 0)
        return std::nullopt;  // alpha
    if (h.infoSize >= 108 && (head.size() < 14 + 108 || (u32(70) != 0 && u32(70) != 0x73524742u)))  // 'sRGB'
        return std::nullopt;
    for (const quint32 mask : {m.red, m.green, m.blue})
        if (!contiguous(mask) || mask > 0xffff)
            return std::nullopt;
    if ((m.red & m.green) || (m.red & m.blue) || (m.green & m.blue))
        return std::nullopt;
    return m;
}

// Each channel of a 16-bit pixel widened to 8 bits as round(v * 255 / max),
// so that full intensity is 255, as the format's reference pictures show
// (a plain shift would make white 248 or 252).
class Widening {
public:
    explicit Widening(const ChannelMasks& m) : red_(m.red), green_(m.green), blue_(m.blue) {}
    void row(raster::Pixel* to, const std::uint8_t* from, int width) const
    {
        for (int x = 0; x < width; ++x) {
            const quint32 v = quint32(from[2 * x]) | quint32(from[2 * x + 1]) << 8;
            to[x] = 0xff000000u | red_(v) << 16 | green_(v) << 8 | blue_(v);
        }
    }

private:
    struct Channel {
        explicit Channel(quint32 mask) : mask(mask), shift(qCountTrailingZeroBits(mask))
        {
            const quint32 max = mask >> shift;
            table.resize(std::size_t(max) + 1);
            for (quint32 v = 0; v <= max; ++v)
                table[v] = std::uint8_t(eightBitSample(v, max));
        }
        quint32 operator()(quint32 v) const { return table[(v & mask) >> shift]; }
        quint32 mask;
        int shift;
        std::vector<std::uint8_t> table;
    };
    Channel red_, green_, blue_;
};

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
    if (!h || head.size() < kHeadersBytes || h->planes != 1 || h->offset < kHeadersBytes)
        return {};
    std::optional<ChannelMasks> masks;
    if (h->bits == 16) {
        masks = sixteenBitMasks(*h, head);
        if (!masks)
            return {};
    } else if (h->infoSize != 40 || h->bits != 24 || h->compression != 0) {
        // Only this header, depth and layout among the others: later
        // headers may carry colour spaces, which Qt's reader knows.
        return {};
    }
    const qint64 width = h->width, height = h->height;
    if (width <= 0 || height <= 0 || width > INT_MAX / 4 || height > INT_MAX || width * height > maxBytes / 4)
        return {};
    if (rowsMissing(*h, fileSize))
        return {};  // Qt's reader shows what there is
    const qint64 rowBytes = h->rowBytes(), offset = h->offset;
    QImage image = uninitialisedImage(QSize(int(width), int(height)));  // every row is read below
    if (image.isNull())
        return {};
    const std::optional<Widening> widening = masks ? std::optional<Widening>(Widening(*masks)) : std::nullopt;
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
            auto* to = reinterpret_cast<raster::Pixel*>(image.scanLine(int(y)));
            const auto* from = reinterpret_cast<const std::uint8_t*>(chunk.data() + r * rowBytes);
            if (widening)
                widening->row(to, from, int(width));
            else
                raster::UnpackBgr24(to, from, int(width));
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
