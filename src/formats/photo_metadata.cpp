#include "photo_metadata.h"

#include "colour_profile.h"
#include "exiv2_session.h"
#include "metadata_blocks.h"

#include <QColorSpace>
#include <QFile>
#include <memory>
#include <string>
#include <utility>

#include <exiv2/exiv2.hpp>
#include <algorithm>
#include <webp/mux.h>
#include <zlib.h>

namespace tarvex {

namespace {

QByteArray encodedExif(const Exiv2::ExifData& exif)
{
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
    return QByteArray(reinterpret_cast<const char*>(blob.data()), qsizetype(blob.size()));
}

QByteArray encodedIptc(const Exiv2::IptcData& iptc)
{
    const Exiv2::DataBuf buf = Exiv2::IptcParser::encode(iptc);
    return QByteArray(reinterpret_cast<const char*>(buf.pData_), qsizetype(buf.size_));
}

// The Exif as the file had it, upright; throws where it cannot be walked.
QByteArray uprightRawExif(const QByteArray& raw)
{
    const QByteArray upright = blocks::uprightExif(raw);
    if (upright.isEmpty())
        throw Exiv2::Error(Exiv2::kerErrorMessage, "Exif not walked");
    return upright;
}

// Exif as the result needs it: upright, its size, no thumbnail.
Exiv2::ExifData resultExif(const QByteArray& bytes, QSize pixels)
{
    Exiv2::ExifData exif;
    Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte*>(bytes.constData()), uint32_t(bytes.size()));
    Exiv2::ExifThumb(exif).erase();
    exif["Exif.Image.Orientation"] = uint16_t(1);
    exif["Exif.Photo.PixelXDimension"] = uint32_t(pixels.width());
    exif["Exif.Photo.PixelYDimension"] = uint32_t(pixels.height());
    for (const char* key : {"Exif.Image.ImageWidth", "Exif.Image.ImageLength"}) {
        const auto found = exif.findKey(Exiv2::ExifKey(key));
        if (found != exif.end())
            exif.erase(found);  // a result's own writer records its size where the format keeps it
    }
    return exif;
}

Exiv2::XmpData resultXmp(const QByteArray& packet, QSize pixels)
{
    Exiv2::XmpData xmp;
    if (Exiv2::XmpParser::decode(xmp, packet.toStdString()) != 0)
        throw Exiv2::Error(Exiv2::kerErrorMessage, "XMP packet not decoded");
    if (xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation")) != xmp.end())
        xmp["Xmp.tiff.Orientation"] = "1";
    if (xmp.findKey(Exiv2::XmpKey("Xmp.exif.PixelXDimension")) != xmp.end())
        xmp["Xmp.exif.PixelXDimension"] = std::to_string(pixels.width());
    if (xmp.findKey(Exiv2::XmpKey("Xmp.exif.PixelYDimension")) != xmp.end())
        xmp["Xmp.exif.PixelYDimension"] = std::to_string(pixels.height());
    return xmp;
}

Exiv2::IptcData resultIptc(const QByteArray& bytes)
{
    Exiv2::IptcData iptc;
    if (Exiv2::IptcParser::decode(iptc, reinterpret_cast<const Exiv2::byte*>(bytes.constData()),
                                  uint32_t(bytes.size())) != 0)
        throw Exiv2::Error(Exiv2::kerErrorMessage, "IPTC not decoded");
    return iptc;
}

// How a result carries each block: as Exiv2 reads and writes it, as the
// file had it (upright), or not at all.
enum class Carry { Parsed, Raw, None };
struct Plan {
    Carry exif = Carry::None, iptc = Carry::None, xmp = Carry::None;
    QByteArray profile;
};

bool xmpParses(const QByteArray& packet)
{
    Exiv2::XmpData xmp;
    return Exiv2::XmpParser::decode(xmp, packet.toStdString()) == 0;
}

// The PNG file with the profile's iCCP chunk after its header: Exiv2 0.27
// writes that chunk without the name PNG requires, and drops one written
// before.
QByteArray withPngProfile(const QByteArray& png, const QByteArray& profile)
{
    constexpr int kHeaderEnd = 8 + 8 + 13 + 4;  // signature, then IHDR: length, type, data, CRC
    if (png.size() < kHeaderEnd || png.mid(12, 4) != "IHDR")
        return png;
    uLongf packedSize = compressBound(uLong(profile.size()));
    QByteArray packed(qsizetype(packedSize), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(profile.constData()), uLong(profile.size()), Z_BEST_COMPRESSION) != Z_OK)
        return png;
    packed.truncate(qsizetype(packedSize));
    const QByteArray name = profile == srgbProfile() ? QByteArray("sRGB") : QByteArray("ICC profile");
    QByteArray chunk = QByteArray("iCCP") + name + QByteArray("\0\0", 2) + packed;  // name, compression method 0
    const auto bigEndian = [](quint32 v) {
        const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
        return QByteArray(b, 4);
    };
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(chunk.constData()), uInt(chunk.size())));
    const QByteArray whole = bigEndian(quint32(chunk.size() - 4)) + chunk + bigEndian(crc);
    return png.left(kHeaderEnd) + whole + png.mid(kHeaderEnd);
}

bool isWebp(const QByteArray& encoded)
{
    return encoded.size() >= 12 && encoded.startsWith("RIFF") && encoded.mid(8, 4) == "WEBP";
}

// WebP's chunks are written with libwebpmux: Exiv2 0.27 breaks the image
// chunk of a WebP file it adds a profile to. WebP has no IPTC chunk, so
// IPTC goes into the XMP, as Exiv2 maps it.
// The blocks as planned, as bytes, for formats that keep them apart (WebP
// chunks, HEIF items): IPTC, which they have no place for, in the XMP.
ResultBlocks blockBytes(const PhotoMetadata& metadata, QSize pixels, const Plan& plan)
{
    ResultBlocks out;
    if (plan.exif == Carry::Parsed)
        out.exif = encodedExif(resultExif(metadata.exif, pixels));
    else if (plan.exif == Carry::Raw)
        out.exif = uprightRawExif(metadata.rawExif);
    Exiv2::XmpData xmp;
    if (plan.xmp == Carry::Parsed)
        xmp = resultXmp(metadata.xmp, pixels);
    if (plan.iptc == Carry::Parsed && plan.xmp != Carry::Raw) {
        // Only what the XMP does not say already: the photo's own XMP wins
        // over its IPTC where both have, say, keywords.
        Exiv2::XmpData fromIptc;
        Exiv2::copyIptcToXmp(resultIptc(metadata.iptc), fromIptc);
        for (const Exiv2::Xmpdatum& d : fromIptc)
            if (xmp.findKey(Exiv2::XmpKey(d.key())) == xmp.end())
                xmp.add(d);
    }
    if (plan.xmp == Carry::Raw) {
        out.xmp = blocks::uprightXmp(metadata.xmp);
    } else if (!xmp.empty()) {
        std::string packet;
        if (Exiv2::XmpParser::encode(packet, xmp) != 0)
            throw Exiv2::Error(Exiv2::kerErrorMessage, "XMP not encoded");
        out.xmp = QByteArray::fromStdString(packet);
    }
    return out;
}

QByteArray writtenWebp(const QByteArray& encoded, const PhotoMetadata& metadata, QSize pixels, const Plan& plan)
{
    const ResultBlocks blocks = blockBytes(metadata, pixels, plan);
    const QByteArray &exifBytes = blocks.exif, &xmpBytes = blocks.xmp;
    const QByteArray& profile = plan.profile;
    const WebPData source{reinterpret_cast<const uint8_t*>(encoded.constData()), size_t(encoded.size())};
    std::unique_ptr<WebPMux, void (*)(WebPMux*)> mux(WebPMuxCreate(&source, 0), WebPMuxDelete);
    if (!mux)
        throw Exiv2::Error(Exiv2::kerErrorMessage, "WebP not read");
    using Chunk = std::pair<const char*, const QByteArray*>;
    for (const auto& [fourcc, bytes] : {Chunk{"ICCP", &profile}, Chunk{"EXIF", &exifBytes}, Chunk{"XMP ", &xmpBytes}}) {
        if (bytes->isEmpty())
            continue;
        const WebPData chunk{reinterpret_cast<const uint8_t*>(bytes->constData()), size_t(bytes->size())};
        if (WebPMuxSetChunk(mux.get(), fourcc, &chunk, 1) != WEBP_MUX_OK)
            throw Exiv2::Error(Exiv2::kerErrorMessage, "WebP chunk not set");
    }
    WebPData assembled{nullptr, 0};
    if (WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK)
        throw Exiv2::Error(Exiv2::kerErrorMessage, "WebP not assembled");
    QByteArray out(reinterpret_cast<const char*>(assembled.bytes), qsizetype(assembled.size));
    WebPDataClear(&assembled);
    return out;
}

// One attempt at writing the blocks as planned; throws what Exiv2 throws,
// and where a block as it stands cannot be put in.
QByteArray written(const QByteArray& encoded, const PhotoMetadata& metadata, QSize pixels, const Plan& plan)
{
    if (isWebp(encoded))
        return writtenWebp(encoded, metadata, pixels, plan);
    const std::unique_ptr<Exiv2::Image> image = openedByExiv2(encoded);
    if (!image)
        throw Exiv2::Error(Exiv2::kerErrorMessage, "unknown format");
    if (plan.exif == Carry::Parsed)
        image->setExifData(resultExif(metadata.exif, pixels));
    if (plan.iptc == Carry::Parsed)
        image->setIptcData(resultIptc(metadata.iptc));
    if (plan.xmp == Carry::Parsed)
        image->setXmpData(resultXmp(metadata.xmp, pixels));
    const bool png = image->imageType() == Exiv2::ImageType::png;
    if (!png) {
        Exiv2::DataBuf icc(reinterpret_cast<const Exiv2::byte*>(plan.profile.constData()), long(plan.profile.size()));
        image->setIccProfile(icc, false);
    }
    image->writeMetadata();
    Exiv2::BasicIo& io = image->io();
    io.seek(0, Exiv2::BasicIo::beg);
    const Exiv2::DataBuf all = io.read(long(io.size()));
    QByteArray out(reinterpret_cast<const char*>(all.pData_), qsizetype(all.size_));
    if (png)
        out = withPngProfile(out, plan.profile);
    // Blocks Exiv2 cannot write go in as they stand, after it is done.
    if (plan.exif == Carry::Raw) {
        out = blocks::withRawExif(out, uprightRawExif(metadata.rawExif));
        if (out.isEmpty())
            throw Exiv2::Error(Exiv2::kerErrorMessage, "Exif not carried");
    }
    if (plan.xmp == Carry::Raw) {
        out = blocks::withRawXmp(out, blocks::uprightXmp(metadata.xmp));
        if (out.isEmpty())
            throw Exiv2::Error(Exiv2::kerErrorMessage, "XMP not carried");
    }
    return out;
}

}  // namespace

QByteArray srgbProfile()
{
    return colour::srgb();
}

PhotoMetadata readPhotoMetadata(const QByteArray& bytes)
{
    setUpExiv2();
    PhotoMetadata metadata;
    std::unique_ptr<Exiv2::Image> image;
    try {
        // A kind of file Exiv2 does not know has no metadata to carry: that
        // is no damage.
        image = openedByExiv2(bytes);
    } catch (const Exiv2::AnyError&) {
        return metadata;
    }
    if (!image)
        return metadata;
    metadata.rawExif = blocks::exifOf(bytes);
    ReportScope scope;
    // Each block on its own: what Exiv2 reads of one is kept even when it
    // complains of another part of it, or of another block.
    const auto attempt = [&](const auto& read) {
        try {
            read();
        } catch (const Exiv2::AnyError& error) {
            scope.collected << QString::fromUtf8(error.what());
        } catch (const std::exception& error) {
            scope.collected << QString::fromUtf8(error.what());
        }
    };
    attempt([&] { image->readMetadata(); });
    attempt([&] {
        if (!image->exifData().empty())
            metadata.exif = encodedExif(image->exifData());
    });
    attempt([&] {
        if (!image->iptcData().empty())
            metadata.iptc = encodedIptc(image->iptcData());
    });
    metadata.xmp = QByteArray::fromStdString(image->xmpPacket());
    // IPTC read in part may be wrong: it is left out whole. Exif and XMP
    // are carried as they stand where Exiv2 could not read them.
    for (const QString& report : scope.collected)
        if (blockOfReport(report) == QLatin1String("IPTC") && !metadata.damaged.contains(QLatin1String("IPTC")))
            metadata.damaged << QStringLiteral("IPTC");
    if (metadata.damaged.contains(QLatin1String("IPTC")))
        metadata.iptc.clear();
    if (metadata.exif.isEmpty() && metadata.rawExif.isEmpty() && !scope.collected.isEmpty() &&
        std::any_of(scope.collected.begin(), scope.collected.end(),
                    [](const QString& r) { return blockOfReport(r) == QLatin1String("Exif"); }))
        metadata.damaged << QStringLiteral("Exif");
    return metadata;
}

namespace {

// How each block is first tried: as Exiv2 reads it where it can, else as
// it stands.
Plan firstPlan(const PhotoMetadata& metadata, const QByteArray& profile)
{
    Plan plan;
    plan.profile = profile.isEmpty() ? srgbProfile() : profile;
    plan.exif = !metadata.exif.isEmpty() ? Carry::Parsed : !metadata.rawExif.isEmpty() ? Carry::Raw : Carry::None;
    plan.iptc = metadata.iptc.isEmpty() ? Carry::None : Carry::Parsed;
    plan.xmp = metadata.xmp.isEmpty() ? Carry::None : xmpParses(metadata.xmp) ? Carry::Parsed : Carry::Raw;
    return plan;
}

// Each failure takes one step down, the most fragile block first: as read
// to as it stands (where it can be), then out. False when nothing is left
// to take out.
bool stepDown(Plan& plan, const PhotoMetadata& metadata)
{
    if (plan.exif == Carry::Parsed)
        plan.exif = metadata.rawExif.isEmpty() ? Carry::None : Carry::Raw;
    else if (plan.exif == Carry::Raw)
        plan.exif = Carry::None;
    else if (plan.iptc != Carry::None)
        plan.iptc = Carry::None;
    else if (plan.xmp == Carry::Parsed)
        plan.xmp = Carry::Raw;
    else if (plan.xmp == Carry::Raw)
        plan.xmp = Carry::None;
    else
        return false;
    return true;
}

QStringList leftOut(const Plan& plan, const PhotoMetadata& metadata)
{
    QStringList names;
    if (plan.exif == Carry::None && !(metadata.exif.isEmpty() && metadata.rawExif.isEmpty()))
        names << QStringLiteral("Exif");
    if (plan.iptc == Carry::None && !metadata.iptc.isEmpty())
        names << QStringLiteral("IPTC");
    if (plan.xmp == Carry::None && !metadata.xmp.isEmpty())
        names << QStringLiteral("XMP");
    return names;
}

// `write(plan)` with the blocks stepped down until it succeeds; `fallback`
// when even nothing cannot be written.
template <typename Result, typename Write>
Result carried(const PhotoMetadata& metadata, const QByteArray& profile, QStringList* dropped, Write write,
               const Result& fallback)
{
    setUpExiv2();
    ReportScope scope;
    Plan plan = firstPlan(metadata, profile);
    for (;;) {
        try {
            Result out = write(plan);
            if (dropped)
                *dropped = leftOut(plan, metadata);
            return out;
        } catch (const Exiv2::AnyError&) {
        } catch (const std::exception&) {
        }
        if (!stepDown(plan, metadata))
            break;
    }
    if (dropped)
        *dropped = leftOut(plan, metadata);
    return fallback;
}

}  // namespace

QByteArray withMetadata(const QByteArray& encoded, const PhotoMetadata& metadata, QSize pixels, QStringList* dropped,
                        const QByteArray& profile)
{
    return carried<QByteArray>(
        metadata, profile, dropped, [&](const Plan& plan) { return written(encoded, metadata, pixels, plan); }, encoded);
}

ResultBlocks resultBlocks(const PhotoMetadata& metadata, QSize pixels, QStringList* dropped)
{
    return carried<ResultBlocks>(
        metadata, QByteArray(), dropped, [&](const Plan& plan) { return blockBytes(metadata, pixels, plan); },
        ResultBlocks{});
}

PhotoMetadata photoMetadataFromBlocks(const QByteArray& exif, const QByteArray& xmp)
{
    setUpExiv2();
    PhotoMetadata metadata;
    metadata.rawExif = exif;
    metadata.xmp = xmp;
    if (exif.isEmpty())
        return metadata;
    ReportScope scope;
    try {
        Exiv2::ExifData data;
        Exiv2::ExifParser::decode(data, reinterpret_cast<const Exiv2::byte*>(exif.constData()), uint32_t(exif.size()));
        if (!data.empty())
            metadata.exif = encodedExif(data);
    } catch (const Exiv2::AnyError&) {
    } catch (const std::exception&) {
    }
    return metadata;
}

}  // namespace tarvex
