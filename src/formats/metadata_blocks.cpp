#include "metadata_blocks.h"

#include <QRegularExpression>
#include <QtEndian>
#include <map>
#include <memory>

#include <webp/mux.h>
#include <zlib.h>

namespace tarvex::blocks {

namespace {

bool isTiff(const QByteArray& b)
{
    return b.startsWith(QByteArray("II*\0", 4)) || b.startsWith(QByteArray("MM\0*", 4));
}

quint32 bigEndian32(const QByteArray& b, qsizetype at)
{
    return qFromBigEndian<quint32>(b.constData() + at);
}


// Calls `segment(marker, payload)` for each segment before the image data.
template <typename Segment>
void forEachJpegSegment(const QByteArray& file, Segment segment)
{
    qsizetype at = 2;
    while (at + 4 <= file.size() && uchar(file[at]) == 0xff) {
        const uchar marker = uchar(file[at + 1]);
        if (marker == 0xd8 || marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7)) {  // no length
            at += 2;
            continue;
        }
        if (marker == 0xda || marker == 0xd9)  // the image data, or the end: no more metadata
            break;
        const qsizetype length = qFromBigEndian<quint16>(file.constData() + at + 2);
        if (length < 2 || at + 2 + length > file.size())
            break;
        segment(marker, file.mid(at + 4, length - 2));
        at += 2 + length;
    }
}

QByteArray pngExif(const QByteArray& file)
{
    qsizetype at = 8;
    while (at + 12 <= file.size()) {
        const qsizetype length = bigEndian32(file, at);
        if (length > file.size() - at - 12)
            break;
        if (file.mid(at + 4, 4) == "eXIf")
            return file.mid(at + 8, length);
        at += 12 + length;
    }
    return {};
}

QByteArray webpExif(const QByteArray& file)
{
    qsizetype at = 12;
    while (at + 8 <= file.size()) {
        const qsizetype length = qFromLittleEndian<quint32>(file.constData() + at + 4);
        if (length > file.size() - at - 8)
            break;
        if (file.mid(at, 4) == "EXIF") {
            const QByteArray data = file.mid(at + 8, length);
            return data.startsWith(QByteArray("Exif\0\0", 6)) ? data.mid(6) : data;
        }
        at += 8 + length + (length & 1);
    }
    return {};
}

// The entry of the orientation tag in the Exif's first directory: its
// offset, or -1 where there is none; -2 where the directory cannot be
// walked within the bytes.
qsizetype orientationEntry(const QByteArray& tiff, bool& littleEndian)
{
    if (!isTiff(tiff) || tiff.size() < 8)
        return -2;
    littleEndian = tiff[0] == 'I';
    const auto u16 = [&](qsizetype at) {
        return littleEndian ? qFromLittleEndian<quint16>(tiff.constData() + at) : qFromBigEndian<quint16>(tiff.constData() + at);
    };
    const qint64 directory = littleEndian ? qFromLittleEndian<quint32>(tiff.constData() + 4)
                                          : qFromBigEndian<quint32>(tiff.constData() + 4);
    if (directory < 8 || directory + 2 > tiff.size())
        return -2;
    const int count = u16(directory);
    if (directory + 2 + qint64(count) * 12 > tiff.size())
        return -2;
    for (int i = 0; i < count; ++i) {
        const qsizetype entry = directory + 2 + i * 12;
        if (u16(entry) == 0x0112)
            return entry;
    }
    return -1;
}

QByteArray bigEndianBytes(quint32 v)
{
    QByteArray b(4, Qt::Uninitialized);
    qToBigEndian<quint32>(v, b.data());
    return b;
}

// The JPEG with an APP1 segment of `payload` after its start and the JFIF
// segment that must come first, where there is one; empty where the
// payload is too large for a segment.
QByteArray jpegWithApp1(const QByteArray& jpeg, const QByteArray& payload)
{
    const qsizetype length = 2 + payload.size();
    if (length > 0xffff || !jpeg.startsWith("\xff\xd8"))
        return {};
    QByteArray segment("\xff\xe1", 2);
    segment += char(length >> 8);
    segment += char(length & 0xff);
    segment += payload;
    qsizetype at = 2;
    if (jpeg.size() >= 6 && uchar(jpeg[2]) == 0xff && uchar(jpeg[3]) == 0xe0)
        at = 4 + qFromBigEndian<quint16>(jpeg.constData() + 4);
    if (at > jpeg.size())
        return {};
    return jpeg.left(at) + segment + jpeg.mid(at);
}

// The PNG with a chunk of `type` and `data` before its first image data,
// as the format asks of metadata; empty where it has none.
QByteArray pngWithChunk(const QByteArray& png, const char* type, const QByteArray& data)
{
    // Before the first image data, as the format asks.
    qsizetype at = 8;
    while (at + 12 <= png.size()) {
        const qsizetype length = bigEndian32(png, at);
        if (length > png.size() - at - 12)
            return {};
        if (png.mid(at + 4, 4) == "IDAT")
            break;
        at += 12 + length;
    }
    if (at + 12 > png.size())
        return {};
    const QByteArray body = type + data;
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size())));
    return png.left(at) + bigEndianBytes(quint32(data.size())) + body + bigEndianBytes(crc) + png.mid(at);
}

QByteArray webpWithExif(const QByteArray& webp, const QByteArray& tiff)
{
    const WebPData source{reinterpret_cast<const uint8_t*>(webp.constData()), size_t(webp.size())};
    std::unique_ptr<WebPMux, void (*)(WebPMux*)> mux(WebPMuxCreate(&source, 0), WebPMuxDelete);
    const WebPData chunk{reinterpret_cast<const uint8_t*>(tiff.constData()), size_t(tiff.size())};
    WebPData assembled{nullptr, 0};
    if (!mux || WebPMuxSetChunk(mux.get(), "EXIF", &chunk, 1) != WEBP_MUX_OK ||
        WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK)
        return {};
    QByteArray out(reinterpret_cast<const char*>(assembled.bytes), qsizetype(assembled.size));
    WebPDataClear(&assembled);
    return out;
}

}  // namespace

QByteArray jpegIcc(const QByteArray& head)
{
    // "ICC_PROFILE", its zero, then this piece's number and the count.
    const QByteArray tag("ICC_PROFILE\0", 12);
    std::map<int, QByteArray> pieces;
    int count = 0;
    forEachJpegSegment(head, [&](uchar marker, const QByteArray& payload) {
        if (marker != 0xe2 || payload.size() < 14 || !payload.startsWith(tag))
            return;
        count = uchar(payload[13]);
        pieces[uchar(payload[12])] = payload.mid(14);
    });
    QByteArray icc;
    for (int i = 1; i <= count; ++i) {
        const auto piece = pieces.find(i);
        if (piece == pieces.end())
            return {};
        icc += piece->second;
    }
    return icc;
}

QByteArray exifOf(const QByteArray& file)
{
    QByteArray tiff;
    if (file.startsWith("\xff\xd8")) {
        forEachJpegSegment(file, [&](uchar marker, const QByteArray& payload) {
            if (tiff.isEmpty() && marker == 0xe1 && payload.startsWith(QByteArray("Exif\0\0", 6)))
                tiff = payload.mid(6);
        });
    }
    if (file.startsWith("\x89PNG\r\n\x1a\n"))
        tiff = pngExif(file);
    else if (file.startsWith("RIFF") && file.mid(8, 4) == "WEBP")
        tiff = webpExif(file);
    return isTiff(tiff) ? tiff : QByteArray();
}

QByteArray uprightExif(const QByteArray& tiff)
{
    bool little = true;
    const qsizetype entry = orientationEntry(tiff, little);
    if (entry == -2)
        return {};
    QByteArray out = tiff;
    if (entry >= 0) {
        // A SHORT (or, from careless writers, a LONG) held in the entry itself.
        const quint16 type = little ? qFromLittleEndian<quint16>(out.constData() + entry + 2)
                                    : qFromBigEndian<quint16>(out.constData() + entry + 2);
        char* value = out.data() + entry + 8;
        if (type == 3)
            little ? qToLittleEndian<quint16>(1, value) : qToBigEndian<quint16>(1, value);
        else if (type == 4)
            little ? qToLittleEndian<quint32>(1, value) : qToBigEndian<quint32>(1, value);
    }
    return out;
}

int exifOrientation(const QByteArray& tiff)
{
    bool little = true;
    const qsizetype entry = orientationEntry(tiff, little);
    if (entry < 0)
        return 0;
    // As uprightExif reads it: a SHORT or a LONG, held in the entry.
    const quint16 type = little ? qFromLittleEndian<quint16>(tiff.constData() + entry + 2)
                                : qFromBigEndian<quint16>(tiff.constData() + entry + 2);
    const char* value = tiff.constData() + entry + 8;
    const quint32 v = type == 3   ? (little ? qFromLittleEndian<quint16>(value) : qFromBigEndian<quint16>(value))
                      : type == 4 ? (little ? qFromLittleEndian<quint32>(value) : qFromBigEndian<quint32>(value))
                                  : 0;
    return v >= 1 && v <= 8 ? int(v) : 0;
}

QByteArray uprightXmp(const QByteArray& packet)
{
    // One character a byte, whatever the packet's bytes are: offsets in
    // the text are offsets in the packet, and what is matched is ASCII.
    const QString text = QString::fromLatin1(packet);
    // The prefix the packet gives the TIFF namespace, "tiff" nearly always.
    static const QRegularExpression binding(QStringLiteral(R"(xmlns:([A-Za-z_][\w.-]*)\s*=\s*["']http://ns\.adobe\.com/tiff/1\.0/["'])"));
    const QRegularExpressionMatch bound = binding.match(text);
    if (!bound.hasMatch())
        return packet;
    const QString prefix = QRegularExpression::escape(bound.captured(1));
    const QRegularExpression value(QStringLiteral(R"((%1:Orientation\s*=\s*["']\s*|<%1:Orientation>\s*)(\d+))").arg(prefix));
    QByteArray out = packet;
    // Each value replaced where it stands, so that nothing else moves: an
    // orientation is one digit, and so is 1.
    qsizetype shift = 0;
    for (auto it = value.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const qsizetype at = m.capturedStart(2) + shift;
        const qsizetype length = m.captured(2).size();
        out.replace(at, length, "1");
        shift += 1 - length;
    }
    return out;
}

QByteArray withRawExif(const QByteArray& encoded, const QByteArray& tiff)
{
    if (!isTiff(tiff))
        return {};
    if (encoded.startsWith("\xff\xd8"))
        return jpegWithApp1(encoded, QByteArray("Exif\0\0", 6) + tiff);
    if (encoded.startsWith("\x89PNG\r\n\x1a\n"))
        return pngWithChunk(encoded, "eXIf", tiff);
    if (encoded.startsWith("RIFF") && encoded.mid(8, 4) == "WEBP")
        return webpWithExif(encoded, tiff);
    return {};
}

QByteArray withRawXmp(const QByteArray& encoded, const QByteArray& packet)
{
    if (encoded.startsWith("\xff\xd8"))
        return jpegWithApp1(encoded, QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) + packet);
    if (encoded.startsWith("\x89PNG\r\n\x1a\n"))  // uncompressed iTXt: keyword, flag, method, language, key
        return pngWithChunk(encoded, "iTXt", QByteArray("XML:com.adobe.xmp\0\0\0\0\0", 22) + packet);
    return {};
}

}  // namespace tarvex::blocks
