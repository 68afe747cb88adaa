#include "plain_jpeg.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include <jpeglib.h>
#include <unistd.h>

#include "image_buffers.h"
#include "picture.h"
#include "raster/raster.h"

namespace tarvex {

namespace {

// libjpeg's errors jump back to the decode, which then gives up; its
// warnings (damaged or missing data it works around) are counted, and any
// one of them leaves the file to Qt's reader, which reports it.
struct Errors {
    jpeg_error_mgr manager{};
    std::jmp_buf back{};
    int warnings = 0;
};

extern "C" void onError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<Errors*>(info->err)->back, 1);
}

extern "C" void onMessage(j_common_ptr info, int level)
{
    if (level < 0)
        ++reinterpret_cast<Errors*>(info->err)->warnings;
}

// The file, read 64 KiB at a time by position: it is never held whole,
// and the descriptor's own position, which Qt's reader relies on when the
// file is left to it, stays where it was.
struct FileSource {
    jpeg_source_mgr manager{};
    int fd = -1;
    qint64 offset = 0;
    Errors* errors = nullptr;
    unsigned char buffer[64 * 1024];
};

extern "C" void startSource(j_decompress_ptr) {}
extern "C" void endSource(j_decompress_ptr) {}

extern "C" boolean fillSource(j_decompress_ptr info)
{
    auto* source = reinterpret_cast<FileSource*>(info->src);
    ssize_t n;
    do
        n = ::pread(source->fd, source->buffer, sizeof source->buffer, off_t(source->offset));
    while (n < 0 && errno == EINTR);
    if (n <= 0) {
        // The data ends before the picture does: an end marker lets libjpeg
        // finish, and the warning leaves the file to Qt's reader.
        ++source->errors->warnings;
        static const unsigned char end[] = {0xff, JPEG_EOI};
        source->manager.next_input_byte = end;
        source->manager.bytes_in_buffer = sizeof end;
        return TRUE;
    }
    source->offset += n;
    source->manager.next_input_byte = source->buffer;
    source->manager.bytes_in_buffer = std::size_t(n);
    return TRUE;
}

extern "C" void skipSource(j_decompress_ptr info, long count)
{
    auto* source = reinterpret_cast<FileSource*>(info->src);
    if (count <= 0)
        return;
    if (std::size_t(count) <= source->manager.bytes_in_buffer) {
        source->manager.next_input_byte += count;
        source->manager.bytes_in_buffer -= std::size_t(count);
        return;
    }
    source->offset += qint64(count) - qint64(source->manager.bytes_in_buffer);
    source->manager.bytes_in_buffer = 0;  // the next fill reads from there
}

// The decompressor, its error handling and its file, destroyed on every
// way out.
struct Decompressor {
    jpeg_decompress_struct info{};
    Errors errors;
    FileSource source;
    explicit Decompressor(int fd)
    {
        info.err = jpeg_std_error(&errors.manager);
        errors.manager.error_exit = onError;
        errors.manager.emit_message = onMessage;
        jpeg_create_decompress(&info);
        source.fd = fd;
        source.errors = &errors;
        source.manager.init_source = startSource;
        source.manager.fill_input_buffer = fillSource;
        source.manager.skip_input_data = skipSource;
        source.manager.resync_to_restart = jpeg_resync_to_restart;
        source.manager.term_source = endSource;
        info.src = &source.manager;
    }
    ~Decompressor() { jpeg_destroy_decompress(&info); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
};

// The file's ICC profile, joined from its APP2 markers; empty without one.
QByteArray colourProfile(jpeg_decompress_struct& info)
{
    JOCTET* data = nullptr;
    unsigned int length = 0;
    if (!jpeg_read_icc_profile(&info, &data, &length) || !data)
        return {};
    QByteArray profile(reinterpret_cast<const char*>(data), qsizetype(length));
    std::free(data);
    return profile;
}

// As Qt's reader records the file's density.
void setDensity(QImage& image, const jpeg_decompress_struct& info)
{
    if (info.density_unit == 1) {  // dots per inch
        image.setDotsPerMeterX(int(100. * info.X_density / 2.54));
        image.setDotsPerMeterY(int(100. * info.Y_density / 2.54));
    } else if (info.density_unit == 2) {  // dots per centimetre
        image.setDotsPerMeterX(int(100. * info.X_density));
        image.setDotsPerMeterY(int(100. * info.Y_density));
    }
}

// Where the stored rows [first, first + count) of a picture `h` rows high
// land when it is turned upright as `orientation` says: a band of rows of
// the upright picture, or of columns for 5 to 8.
raster::Bitmap landing(const raster::Bitmap& upright, int h, int first, int count, int orientation)
{
    const bool fromBottom = orientation == 3 || orientation == 4 || orientation == 6 || orientation == 7;
    const int at = fromBottom ? h - first - count : first;
    if (orientation >= 5)
        return {upright.pixels + at, count, upright.height, upright.stride};
    return {upright.row(at), upright.width, count, upright.stride};
}

// A turned photo is decoded into a strip of this many rows, which the
// cache holds, and each strip turned into its place: one pass over the
// upright picture, where decoding it whole and turning it after takes two,
// and a second picture's memory.
constexpr int kStripRows = 128;

// Everything that libjpeg may jump out of. Nothing this function changes
// on its own stack is used after a jump: only `d`, `image` and `strip`,
// which live in the caller.
bool decode(Decompressor& d, qint64 maxBytes, int orientation, QImage& image,
            std::unique_ptr<raster::Pixel[]>& strip, QByteArray* profile)
{
    jpeg_decompress_struct& info = d.info;
    if (setjmp(d.errors.back))
        return false;
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xffff);
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK)
        return false;
    if (info.num_components != 3 || info.jpeg_color_space != JCS_YCbCr)
        return false;
    if (profile)
        *profile = colourProfile(info);
    if (info.image_width == 0 || info.image_height == 0 ||
        qint64(info.image_width) * info.image_height > maxBytes / 4)
        return false;
    info.out_color_space = JCS_EXT_BGRX;  // 0xffRRGGBB in memory: Qt's 32-bit RGB
    jpeg_start_decompress(&info);
    if (info.output_components != 4 || info.output_width != info.image_width || info.output_height != info.image_height)
        return false;
    const int w = int(info.output_width), h = int(info.output_height);
    const bool turn = orientation != 1;
    image = uninitialisedImage(orientation >= 5 ? QSize(h, w) : QSize(w, h));  // every row is decoded below
    if (image.isNull())
        return false;
    const int stripRows = turn ? std::min(kStripRows, h) : 0;
    if (turn)
        strip.reset(new (std::nothrow) raster::Pixel[std::size_t(w) * std::size_t(stripRows)]);
    if (turn && !strip)
        return false;
    constexpr int kRows = 16;  // at least what any sampling gives at once
    JSAMPROW rows[kRows];
    int held = 0;  // rows of the strip decoded and not yet turned
    while (info.output_scanline < info.output_height) {
        const int first = int(info.output_scanline);
        // libjpeg may give fewer rows than asked (a row or two at a time,
        // with some samplings): the next call starts where this one ended.
        const int n = std::min({kRows, h - first, turn ? stripRows - held : kRows});
        for (int r = 0; r < n; ++r)
            rows[r] = turn ? reinterpret_cast<JSAMPROW>(strip.get() + std::size_t(held + r) * std::size_t(w))
                           : image.scanLine(first + r);
        held += int(jpeg_read_scanlines(&info, rows, JDIMENSION(n)));
        if (turn && (held == stripRows || int(info.output_scanline) == h)) {
            const raster::Bitmap decoded{strip.get(), w, held, w};
            raster::Orient(landing(pixelsOf(image), h, int(info.output_scanline) - held, held, orientation), decoded,
                           orientation);
            held = 0;
        }
    }
    jpeg_finish_decompress(&info);
    setDensity(image, info);
    if (orientation >= 5) {
        const int x = image.dotsPerMeterX();
        image.setDotsPerMeterX(image.dotsPerMeterY());
        image.setDotsPerMeterY(x);
    }
    return d.errors.warnings == 0;
}

}  // namespace

QImage readPlainJpeg(int fd, qint64 maxBytes, QByteArray* profile, int orientation)
{
    if (orientation < 1 || orientation > 8)
        return {};
    Decompressor d(fd);
    QImage image;
    std::unique_ptr<raster::Pixel[]> strip;
    if (!decode(d, maxBytes, orientation, image, strip, profile))
        return {};
    return image;
}

}  // namespace tarvex
