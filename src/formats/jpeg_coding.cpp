#include "jpeg_coding.h"

#include <QFile>
#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <cstdlib>

#include <jpeglib.h>

namespace tarvex {

namespace {

// The tables of the JPEG standard's annex K, in natural order, that
// libjpeg scales by the quality.
constexpr unsigned short kLuminance[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,  14, 13, 16, 24, 40,  57,  69,  56,
    14, 17, 22, 29, 51,  87,  80,  62,  18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr unsigned short kChrominance[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99};

// libjpeg's scaling of a standard table for a quality, baseline values.
bool matches(const unsigned short* table, const unsigned short* standard, int quality)
{
    const long scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    for (int i = 0; i < 64; ++i)
        if (table[i] != std::clamp<long>((standard[i] * scale + 50) / 100, 1, 255))
            return false;
    return true;
}

// libjpeg's errors jump back to the caller, which gives up; warnings and
// messages are not printed.
struct Errors {
    jpeg_error_mgr manager{};
    std::jmp_buf back{};
};

extern "C" void jumpBack(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<Errors*>(info->err)->back, 1);
}

extern "C" void stayQuiet(j_common_ptr, int) {}

void quietErrors(Errors& errors)
{
    jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jumpBack;
    errors.manager.emit_message = stayQuiet;
}

std::vector<unsigned int> widened(const std::vector<unsigned short>& table)
{
    return std::vector<unsigned int>(table.begin(), table.end());
}

// The chroma sampling as luma samples per chroma sample, from the factors
// of all three channels: a file that gives every channel 1 x 2 is 4:4:4.
// Samplings that are no whole ratio, or differ between the chroma
// channels, are left 0 x 0 (coded as the default).
void readSampling(const jpeg_decompress_struct& info, JpegCoding& coding)
{
    coding.horizontal = coding.vertical = 1;
    if (info.num_components < 3)
        return;  // grey: no chroma to keep
    const jpeg_component_info &luma = info.comp_info[0], &cb = info.comp_info[1], &cr = info.comp_info[2];
    if (cb.h_samp_factor != cr.h_samp_factor || cb.v_samp_factor != cr.v_samp_factor ||
        luma.h_samp_factor % cb.h_samp_factor != 0 || luma.v_samp_factor % cb.v_samp_factor != 0) {
        coding.horizontal = coding.vertical = 0;
        return;
    }
    coding.horizontal = luma.h_samp_factor / cb.h_samp_factor;
    coding.vertical = luma.v_samp_factor / cb.v_samp_factor;
}

// Reads the header of the open file into `coding`; false when libjpeg
// refused it. Nothing on this stack is used after a jump.
bool readHeader(jpeg_decompress_struct& info, Errors& errors, const QByteArray& bytes, JpegCoding& coding)
{
    if (setjmp(errors.back))
        return false;
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.constData()), static_cast<unsigned long>(bytes.size()));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK || info.num_components < 1)
        return false;
    readSampling(info, coding);
    const JQUANT_TBL* luminance = info.quant_tbl_ptrs[info.comp_info[0].quant_tbl_no];
    const JQUANT_TBL* chrominance =
        info.num_components >= 3 ? info.quant_tbl_ptrs[info.comp_info[1].quant_tbl_no] : nullptr;
    if (luminance)
        coding.quality = standardQuality(luminance->quantval, chrominance ? chrominance->quantval : nullptr);
    if (luminance && coding.quality == 0) {
        coding.luminance.assign(luminance->quantval, luminance->quantval + DCTSIZE2);
        if (chrominance)
            coding.chrominance.assign(chrominance->quantval, chrominance->quantval + DCTSIZE2);
    }
    return true;
}

// Codes the image; false when libjpeg gave up.
bool compress(jpeg_compress_struct& info, Errors& errors, const QImage& image, int quality, const JpegCoding& coding)
{
    if (setjmp(errors.back))
        return false;
    info.image_width = JDIMENSION(image.width());
    info.image_height = JDIMENSION(image.height());
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRX;  // 0xffRRGGBB in memory: Qt's 32-bit RGB
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    if (coding.hasOwnTables()) {
        // As they are (scaled by 100 %), held to 8 bits as baseline files need.
        jpeg_add_quant_table(&info, 0, reinterpret_cast<const unsigned int*>(widened(coding.luminance).data()), 100, TRUE);
        const std::vector<unsigned short>& colour = coding.chrominance.empty() ? coding.luminance : coding.chrominance;
        jpeg_add_quant_table(&info, 1, reinterpret_cast<const unsigned int*>(widened(colour).data()), 100, TRUE);
    }
    info.comp_info[0].h_samp_factor = coding.horizontal;
    info.comp_info[0].v_samp_factor = coding.vertical;
    for (int c = 1; c < info.num_components; ++c)
        info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = 1;
    info.density_unit = 1;  // dots per inch, as the bitmaps say
    info.X_density = info.Y_density = 96;
    jpeg_start_compress(&info, TRUE);
    JSAMPROW row[1];
    while (info.next_scanline < info.image_height) {
        row[0] = const_cast<JSAMPLE*>(image.constScanLine(int(info.next_scanline)));
        jpeg_write_scanlines(&info, row, 1);
    }
    jpeg_finish_compress(&info);
    return true;
}

}  // namespace

int standardQuality(const unsigned short* luminance, const unsigned short* chrominance)
{
    for (int quality = 1; quality <= 100; ++quality)
        if (matches(luminance, kLuminance, quality) && (!chrominance || matches(chrominance, kChrominance, quality)))
            return quality;
    return 0;
}

JpegCoding readJpegCoding(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? readJpegCoding(file.readAll()) : JpegCoding{};
}

JpegCoding readJpegCoding(const QByteArray& bytes)
{
    JpegCoding coding;
    if (!bytes.startsWith("\xff\xd8"))
        return coding;
    jpeg_decompress_struct info{};
    Errors errors;
    quietErrors(errors);
    info.err = &errors.manager;
    jpeg_create_decompress(&info);
    JpegCoding read;
    if (readHeader(info, errors, bytes, read))
        coding = read;
    jpeg_destroy_decompress(&info);
    // Only 4:4:4, 4:2:2, 4:4:0 and 4:2:0 are kept; rarer samplings give 4:2:0.
    if (coding.horizontal < 1 || coding.horizontal > 2 || coding.vertical < 1 || coding.vertical > 2)
        coding.horizontal = coding.vertical = 2;
    if (coding.luminance.size() != DCTSIZE2)
        coding.luminance.clear();
    return coding;
}

QByteArray encodeJpeg(const QImage& image, int quality, int horizontal, int vertical, QString* failure)
{
    JpegCoding coding;
    coding.horizontal = horizontal;
    coding.vertical = vertical;
    return encodeJpeg(image, coding, quality, failure);
}

QByteArray encodeJpeg(const QImage& source, const JpegCoding& coding, int quality, QString* failure)
{
    const QImage image = source.format() == QImage::Format_RGB32 ? source : source.convertToFormat(QImage::Format_RGB32);
    if (image.isNull() || image.width() > JPEG_MAX_DIMENSION || image.height() > JPEG_MAX_DIMENSION) {
        if (failure)
            *failure = QStringLiteral("imaginea este prea mare pentru formatul JPEG");
        return {};
    }
    jpeg_compress_struct info{};
    Errors errors;
    quietErrors(errors);
    info.err = &errors.manager;
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    const bool coded = compress(info, errors, image, std::clamp(quality, 1, 100), coding);
    jpeg_destroy_compress(&info);
    QByteArray bytes;
    if (coded)
        bytes = QByteArray(reinterpret_cast<const char*>(buffer), qsizetype(size));
    std::free(buffer);
    if (!coded && failure)
        *failure = QStringLiteral("imaginea nu a putut fi codata ca JPEG");
    return bytes;
}

}  // namespace tarvex
