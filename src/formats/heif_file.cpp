#include "heif_file.h"

#include <QtEndian>
#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include <libheif/heif.h>

#include "colour_profile.h"
#include "image_buffers.h"
#include "samples.h"

namespace tarvex::heif {

namespace {

QString reason(const char* text)
{
    return QString::fromLatin1(text);
}

struct ContextFree {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleRelease {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageRelease {
    void operator()(heif_image* i) const { heif_image_release(i); }
};
struct EncoderRelease {
    void operator()(heif_encoder* e) const { heif_encoder_release(e); }
};
using Context = std::unique_ptr<heif_context, ContextFree>;
using Handle = std::unique_ptr<heif_image_handle, HandleRelease>;
using Image = std::unique_ptr<heif_image, ImageRelease>;
using Encoder = std::unique_ptr<heif_encoder, EncoderRelease>;

// Pictures a file claims past this width or height are refused by libheif
// itself before it allocates anything for them.
constexpr int kLargestSide = 1 << 16;

// The file parsed, with its primary picture's handle; null, with the
// reason, where it cannot be.
struct Parsed {
    Context context;
    Handle primary;
    QString failure;
};

Parsed parsed(const QByteArray& file)
{
    Parsed p;
    p.context.reset(heif_context_alloc());
    if (!p.context) {
        p.failure = reason("nu este destula memorie");
        return p;
    }
    heif_context_set_maximum_image_size_limit(p.context.get(), kLargestSide);
    // A phone's photo is a grid of tiles, decoded side by side.
    heif_context_set_max_decoding_threads(p.context.get(), int(std::max(1u, std::thread::hardware_concurrency())));
    heif_error e = heif_context_read_from_memory_without_copy(p.context.get(), file.constData(), size_t(file.size()),
                                                              nullptr);
    if (e.code == heif_error_Ok) {
        heif_image_handle* h = nullptr;
        e = heif_context_get_primary_image_handle(p.context.get(), &h);
        p.primary.reset(h);
    }
    if (e.code != heif_error_Ok || !p.primary) {
        p.failure = e.code == heif_error_Unsupported_feature || e.code == heif_error_Unsupported_filetype
                        ? reason("formatul pozei nu este acceptat")
                        : reason("poza este deteriorata sau incompleta");
        p.primary.reset();
    }
    return p;
}

// The handle's metadata items of `type` ("Exif", or "mime" with the
// content type `contentType`), the first one found.
QByteArray metadataItem(const heif_image_handle* h, const char* type, const char* contentType = nullptr)
{
    const int count = heif_image_handle_get_number_of_metadata_blocks(h, type);
    std::vector<heif_item_id> ids(std::size_t(std::max(count, 0)));
    heif_image_handle_get_list_of_metadata_block_IDs(h, type, ids.data(), count);
    for (const heif_item_id id : ids) {
        if (contentType && QByteArray(heif_image_handle_get_metadata_content_type(h, id)) != contentType)
            continue;
        QByteArray data(qsizetype(heif_image_handle_get_metadata_size(h, id)), Qt::Uninitialized);
        if (heif_image_handle_get_metadata(h, id, data.data()).code == heif_error_Ok)
            return data;
    }
    return {};
}

// The Exif item's TIFF structure: it starts after a 4-byte offset to it.
QByteArray exifTiff(const QByteArray& item)
{
    if (item.size() < 4)
        return {};
    const quint32 offset = qFromBigEndian<quint32>(item.constData());
    if (offset > quint32(item.size() - 4))
        return {};
    const QByteArray tiff = item.mid(4 + qsizetype(offset));
    return tiff.startsWith(QByteArray("II*\0", 4)) || tiff.startsWith(QByteArray("MM\0*", 4)) ? tiff : QByteArray();
}

colour::Transfer transferOf(heif_transfer_characteristics t)
{
    switch (t) {
    case heif_transfer_characteristic_linear: return colour::Transfer::Linear;
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_M: return colour::Transfer::Gamma22;
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_B_G: return colour::Transfer::Gamma28;
    case heif_transfer_characteristic_ITU_R_BT_709_5:
    case heif_transfer_characteristic_ITU_R_BT_601_6:
    case heif_transfer_characteristic_ITU_R_BT_2020_2_10bit:
    case heif_transfer_characteristic_ITU_R_BT_2020_2_12bit: return colour::Transfer::Bt709;
    default: return colour::Transfer::Srgb;  // sRGB itself, and what is not told
    }
}

// The picture's colour space: its ICC profile, or one made from its
// colour description; empty for sRGB and where the file says nothing.
QByteArray profileOf(const heif_image_handle* h)
{
    const heif_color_profile_type type = heif_image_handle_get_color_profile_type(h);
    if (type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) {
        QByteArray icc(qsizetype(heif_image_handle_get_raw_color_profile_size(h)), Qt::Uninitialized);
        if (heif_image_handle_get_raw_color_profile(h, icc.data()).code == heif_error_Ok)
            return colour::pictureProfile(icc);
        return {};
    }
    heif_color_profile_nclx* nclx = nullptr;
    if (heif_image_handle_get_nclx_color_profile(h, &nclx).code != heif_error_Ok || !nclx)
        return {};
    const colour::Chromaticities c{{nclx->color_primary_white_x, nclx->color_primary_white_y},
                                   {nclx->color_primary_red_x, nclx->color_primary_red_y},
                                   {nclx->color_primary_green_x, nclx->color_primary_green_y},
                                   {nclx->color_primary_blue_x, nclx->color_primary_blue_y}};
    const colour::Transfer transfer = transferOf(nclx->transfer_characteristics);
    heif_nclx_color_profile_free(nclx);
    return colour::profileFrom(c, transfer);
}

// One row of interleaved samples as 32-bit pixels: 8-bit samples as they
// are, deeper ones rounded to 8 bits as round(v * 255 / max).
void convertRow(quint32* to, const uchar* from, int width, int channels, int depth)
{
    if (depth <= 8) {
        for (int x = 0; x < width; ++x, from += channels)
            to[x] = (channels == 4 ? quint32(from[3]) << 24 : 0xff000000u) | quint32(from[0]) << 16 |
                    quint32(from[1]) << 8 | from[2];
        return;
    }
    const quint32 max = (1u << depth) - 1;
    const auto eight = [max](const uchar* s) { return eightBitSample(qFromLittleEndian<quint16>(s), max); };
    for (int x = 0; x < width; ++x, from += 2 * channels)
        to[x] = (channels == 4 ? eight(from + 6) << 24 : 0xff000000u) | eight(from) << 16 | eight(from + 2) << 8 |
                eight(from + 4);
}

QImage decoded(const heif_image_handle* h, QString& failure)
{
    const bool alpha = heif_image_handle_has_alpha_channel(h) != 0;
    const bool deep = heif_image_handle_get_luma_bits_per_pixel(h) > 8;
    const heif_chroma chroma = deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                                    : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    heif_image* raw = nullptr;
    const heif_error e = heif_decode_image(h, &raw, heif_colorspace_RGB, chroma, nullptr);
    const Image image(raw);
    if (e.code != heif_error_Ok || !image) {
        failure = reason("poza este deteriorata sau incompleta");
        return {};
    }
    int stride = 0;
    const uchar* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int w = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int h2 = heif_image_get_height(image.get(), heif_channel_interleaved);
    const int depth = heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved);
    if (!plane || w <= 0 || h2 <= 0 || depth < 1 || depth > 16) {
        failure = reason("poza este deteriorata sau incompleta");
        return {};
    }
    const bool premultiplied = heif_image_handle_is_premultiplied_alpha(h) != 0;
    QImage out = uninitialisedImage(QSize(w, h2), !alpha        ? QImage::Format_RGB32
                                                   : premultiplied ? QImage::Format_ARGB32_Premultiplied
                                                                   : QImage::Format_ARGB32);
    if (out.isNull()) {
        failure = reason("nu este destula memorie");
        return {};
    }
    for (int y = 0; y < h2; ++y)
        convertRow(reinterpret_cast<quint32*>(out.scanLine(y)), plane + std::ptrdiff_t(y) * stride, w, alpha ? 4 : 3,
                   depth);
    return out;
}

struct heif_error appendTo(struct heif_context*, const void* data, size_t size, void* out)
{
    static_cast<QByteArray*>(out)->append(static_cast<const char*>(data), qsizetype(size));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
}

}  // namespace

bool isHeif(const QByteArray& head)
{
    return head.size() >= 12 && head.mid(4, 4) == "ftyp" &&
           heif_check_filetype(reinterpret_cast<const uint8_t*>(head.constData()), int(head.size())) != heif_filetype_no;
}

QSize declaredSize(const QByteArray& file)
{
    const Parsed p = parsed(file);
    if (!p.primary)
        return {};
    return QSize(heif_image_handle_get_width(p.primary.get()), heif_image_handle_get_height(p.primary.get()));
}

Read read(const QByteArray& file, qint64 maxBytes, const std::function<QString(QSize)>& beforeDecode)
{
    Read r;
    const Parsed p = parsed(file);
    if (!p.primary) {
        r.failure = p.failure;
        return r;
    }
    const heif_image_handle* h = p.primary.get();
    r.size = QSize(heif_image_handle_get_width(h), heif_image_handle_get_height(h));
    if (r.size.isEmpty()) {
        r.failure = reason("poza este deteriorata sau incompleta");
        return r;
    }
    if (beforeDecode)
        r.failure = beforeDecode(r.size);
    if (r.failure.isEmpty() && qint64(r.size.width()) * r.size.height() > maxBytes / 4)
        r.failure = reason("este prea mare");
    if (!r.failure.isEmpty())
        return r;
    r.profile = profileOf(h);
    r.exif = exifTiff(metadataItem(h, "Exif"));
    r.xmp = metadataItem(h, "mime", "application/rdf+xml");
    r.image = decoded(h, r.failure);
    return r;
}

QByteArray encode(const QImage& source, Codec codec, int quality, const Carried& carried, QString* failure)
{
    const auto fail = [failure](const char* text) {
        if (failure)
            *failure = reason(text);
        return QByteArray();
    };
    const QImage image = source.format() == QImage::Format_RGB32 ? source : source.convertToFormat(QImage::Format_RGB32);
    const Context context(heif_context_alloc());
    heif_encoder* rawEncoder = nullptr;
    if (!context || heif_context_get_encoder_for_format(context.get(),
                                                        codec == Codec::Av1 ? heif_compression_AV1 : heif_compression_HEVC,
                                                        &rawEncoder)
                            .code != heif_error_Ok)
        return fail(codec == Codec::Av1 ? "nu exista un codificator AVIF" : "nu exista un codificator HEIF");
    const Encoder encoder(rawEncoder);
    heif_encoder_set_lossy_quality(encoder.get(), std::clamp(quality, 1, 100));
    if (codec == Codec::Av1)
        heif_encoder_set_parameter_integer(encoder.get(), "speed", 8);  // a photo in seconds, not minutes
    else
        heif_encoder_set_parameter_string(encoder.get(), "preset", "fast");
    heif_image* raw = nullptr;
    if (image.isNull() || heif_image_create(image.width(), image.height(), heif_colorspace_RGB,
                                            heif_chroma_interleaved_RGB, &raw)
                                  .code != heif_error_Ok)
        return fail("imaginea nu a putut fi codata");
    const Image picture(raw);
    if (heif_image_add_plane(picture.get(), heif_channel_interleaved, image.width(), image.height(), 8).code !=
        heif_error_Ok)
        return fail("imaginea nu a putut fi codata");
    int stride = 0;
    uchar* plane = heif_image_get_plane(picture.get(), heif_channel_interleaved, &stride);
    for (int y = 0; y < image.height(); ++y) {
        const auto* from = reinterpret_cast<const quint32*>(image.constScanLine(y));
        uchar* to = plane + std::ptrdiff_t(y) * stride;
        for (int x = 0; x < image.width(); ++x, to += 3)
            to[0] = uchar(from[x] >> 16), to[1] = uchar(from[x] >> 8), to[2] = uchar(from[x]);
    }
    const QByteArray profile = carried.profile.isEmpty() ? colour::srgb() : carried.profile;
    heif_image_set_raw_color_profile(picture.get(), "prof", profile.constData(), size_t(profile.size()));
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_encode_image(context.get(), picture.get(), encoder.get(), nullptr, &rawHandle).code !=
        heif_error_Ok)
        return fail(codec == Codec::Av1 ? "imaginea nu a putut fi codata ca AVIF" : "imaginea nu a putut fi codata ca HEIF");
    const Handle handle(rawHandle);
    if (!carried.exif.isEmpty())
        heif_context_add_exif_metadata(context.get(), handle.get(), carried.exif.constData(), int(carried.exif.size()));
    if (!carried.xmp.isEmpty())
        heif_context_add_XMP_metadata(context.get(), handle.get(), carried.xmp.constData(), int(carried.xmp.size()));
    QByteArray out;
    heif_writer writer{1, appendTo};
    if (heif_context_write(context.get(), &writer, &out).code != heif_error_Ok || out.isEmpty())
        return fail("imaginea nu a putut fi scrisa");
    return out;
}

}  // namespace tarvex::heif
