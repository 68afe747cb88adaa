#include "result_file.h"

#include "colour_profile.h"
#include "heif_file.h"
#include "plain_bitmap.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageWriter>

#include <png.h>
#include <zlib.h>

namespace tarvex {

namespace {

constexpr int kDotsPerMeter = 3780;  // 96 dots per inch

struct Extension {
    const char* text;
    ResultFormat format;
};

constexpr Extension kExtensions[] = {
    {"jpg", ResultFormat::Jpeg}, {"jpeg", ResultFormat::Jpeg}, {"jpe", ResultFormat::Jpeg},
    {"png", ResultFormat::Png},  {"tif", ResultFormat::Tiff},  {"tiff", ResultFormat::Tiff},
    {"webp", ResultFormat::Webp}, {"heic", ResultFormat::Heic}, {"heif", ResultFormat::Heic},
    {"avif", ResultFormat::Avif}, {"bmp", ResultFormat::Bmp},
};

// libpng hands the coded data here, a piece at a time.
extern "C" void appendPng(png_structp png, png_bytep data, png_size_t size)
{
    static_cast<QByteArray*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), qsizetype(size));
}
extern "C" void flushPng(png_structp) {}
extern "C" void failPng(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}
extern "C" void warnPng(png_structp, png_const_charp) {}

// Everything libpng may jump out of; nothing on this stack is used after
// a jump.
bool writePng(png_structp png, png_infop info, const QImage& image, QByteArray* out)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, out, appendPng, flushPng);
    png_set_IHDR(png, info, png_uint_32(image.width()), png_uint_32(image.height()), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_set_compression_strategy(png, Z_RLE);
    png_set_compression_level(png, 1);
    png_set_pHYs(png, info, kDotsPerMeter, kDotsPerMeter, PNG_RESOLUTION_METER);  // as the bitmaps say
    png_write_info(png, info);
    png_set_filler(png, 0, PNG_FILLER_AFTER);  // the fourth byte of each 32-bit pixel is skipped
    png_set_bgr(png);                          // 0xffRRGGBB is B, G, R in memory
    for (int y = 0; y < image.height(); ++y)
        png_write_row(png, const_cast<png_bytep>(image.constScanLine(y)));
    png_write_end(png, info);
    return true;
}

// Rows filtered by their difference to the row above and deflated as runs
// (Z_RLE): on 24-megapixel photos a tenth of the time of libpng's default
// settings, for files within a few percent of their size.
QByteArray encodePng(const QImage& image, QString* failure)
{
    QByteArray out;
    out.reserve(qsizetype(image.width()) * image.height() * 3 / 2);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, failPng, warnPng);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    const bool coded = png && info && writePng(png, info, image, &out);
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    if (!coded) {
        if (failure)
            *failure = QStringLiteral("imaginea nu a putut fi codata ca PNG");
        return {};
    }
    return out;
}

// TIFF and WebP through Qt's writers: Qt's WebP writer codes losslessly
// at quality 100.
QByteArray encodeWithQt(const QImage& source, const char* format, int quality, QString* failure)
{
    // 96 dots per inch, as every other result says: the writers record the
    // image's own, which depends on where its pixels came from.
    QImage image = source;
    if (image.dotsPerMeterX() != kDotsPerMeter || image.dotsPerMeterY() != kDotsPerMeter) {
        image.setDotsPerMeterX(kDotsPerMeter);
        image.setDotsPerMeterY(kDotsPerMeter);
    }
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (quality > 0)
        writer.setQuality(quality);
    if (!writer.write(image)) {
        if (failure)
            *failure = QStringLiteral("imaginea nu a putut fi codata ca %1").arg(QString::fromLatin1(format).toUpper());
        return {};
    }
    return out;
}

int chosen(int setting, int photo, int fallback)
{
    return setting > 0 ? setting : photo > 0 ? photo : fallback;
}

}  // namespace

ResultFormat resultFormatOf(const QString& fileName)
{
    const QString suffix = QFileInfo(fileName).suffix();
    for (const Extension& e : kExtensions)
        if (suffix.compare(QLatin1String(e.text), Qt::CaseInsensitive) == 0)
            return e.format;
    return ResultFormat::Bmp;
}

std::optional<ResultFormat> resultFormatNamed(const QString& word)
{
    for (const Extension& e : kExtensions)
        if (word.compare(QLatin1String(e.text), Qt::CaseInsensitive) == 0)
            return e.format;
    return std::nullopt;
}

QString withExtensionFor(const QString& fileName, ResultFormat format)
{
    const char* extension = "bmp";
    for (const Extension& e : kExtensions)
        if (e.format == format) {
            extension = e.text;
            break;
        }
    const QString suffix = QFileInfo(fileName).suffix();
    const QString stem = suffix.isEmpty() ? fileName : fileName.left(fileName.size() - suffix.size() - 1);
    return stem + QLatin1Char('.') + QLatin1String(extension);
}

PhotoInfo readPhotoInfo(const QByteArray& bytes, bool lossy)
{
    PhotoInfo info;
    info.jpeg = readJpegCoding(bytes);
    info.lossy = lossy;
    info.metadata = readPhotoMetadata(bytes);
    return info;
}

EncodedResult encodeResult(const QImage& source, ResultFormat format, const PhotoInfo& photo,
                           const ResultSettings& settings, const QByteArray& profile)
{
    EncodedResult result;
    if (format == ResultFormat::Bmp) {
        result.content = bitmapContent(colour::converted(source, profile, QByteArray()));
        return result;
    }
    const QImage image = source.format() == QImage::Format_RGB32 ? source : source.convertToFormat(QImage::Format_RGB32);
    QByteArray coded;
    switch (format) {
    case ResultFormat::Jpeg: {
        // Always the photo's sampling; its own tables unless a quality is
        // asked for, which takes the standard ones scaled.
        JpegCoding coding = photo.jpeg;
        if (settings.quality > 0)
            coding.luminance.clear(), coding.chrominance.clear();
        coded = encodeJpeg(image, coding, chosen(settings.quality, photo.jpeg.quality, kDefaultJpegQuality),
                           &result.failure);
        break;
    }
    case ResultFormat::Png: coded = encodePng(image, &result.failure); break;
    case ResultFormat::Tiff: coded = encodeWithQt(image, "tiff", 0, &result.failure); break;
    case ResultFormat::Webp: {
        const bool lossless = !photo.lossy && settings.quality == 0;
        coded = encodeWithQt(image, "webp", lossless ? 100 : chosen(settings.quality, 0, kDefaultWebpQuality),
                             &result.failure);
        break;
    }
    case ResultFormat::Heic:
    case ResultFormat::Avif: {
        // libheif writes the blocks as items of their own, with the pixels.
        const ResultBlocks blocks = resultBlocks(photo.metadata, image.size(), &result.dropped);
        const bool avif = format == ResultFormat::Avif;
        coded = heif::encode(image, avif ? heif::Codec::Av1 : heif::Codec::Hevc,
                             chosen(settings.quality, 0, avif ? kDefaultAvifQuality : kDefaultHeicQuality),
                             {profile, blocks.exif, blocks.xmp}, &result.failure);
        for (const QString& block : photo.metadata.damaged)
            if (!result.dropped.contains(block))
                result.dropped << block;
        if (!coded.isEmpty())
            result.content = encodedContent(coded);
        return result;
    }
    case ResultFormat::Bmp: break;
    }
    if (coded.isEmpty())
        return result;
    QStringList leftOut;
    coded = withMetadata(coded, photo.metadata, image.size(), &leftOut, profile);
    result.dropped = photo.metadata.damaged;
    for (const QString& block : leftOut)
        if (!result.dropped.contains(block))
            result.dropped << block;
    result.content = encodedContent(coded);
    return result;
}

}  // namespace tarvex
