#include "plain_png.h"

#include <QRgb>
#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <libdeflate.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "image_buffers.h"
#include "plain_bitmap.h"

namespace tarvex {

namespace {

enum ColourType { Grey = 0, Rgb = 2, Palette = 3, GreyAlpha = 4, Rgba = 6 };

quint32 bigEndian32(const uchar* p)
{
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
}

bool isUpper(uchar c)
{
    return c >= 'A' && c <= 'Z';
}

bool isLetter(uchar c)
{
    return isUpper(c) || (c >= 'a' && c <= 'z');
}

// What the chunks before the image data say, and the image data itself,
// gathered to the front of the file's buffer.
struct Chunks {
    quint32 width = 0, height = 0;
    int depth = 0, colourType = -1, method = -1, filterMethod = -1, interlace = -1;
    std::array<uchar, 768> palette{};
    int paletteEntries = 0;
    std::array<uchar, 256> alphas{};
    int alphaEntries = 0;
    qint32 xPerMetre = 0, yPerMetre = 0;
    qsizetype dataBytes = 0;
};

// Walks the file's chunks, every one checked against its CRC. False when
// the file is damaged or cut short, holds what only Qt's reader does
// (colour management, or a critical chunk not known here), or has chunks
// out of their order or twice, which libpng would judge.
bool readChunks(QByteArray& file, Chunks& c)
{
    auto* bytes = reinterpret_cast<uchar*>(file.data());
    const qsizetype size = file.size();
    bool header = false, ended = false, inData = false, dataDone = false;
    for (qsizetype at = 8; !ended && at + 12 <= size;) {
        const quint32 length = bigEndian32(bytes + at);
        if (length > quint32(INT_MAX) || qsizetype(length) > size - at - 12)
            return false;
        const uchar* type = bytes + at + 4;
        const uchar* data = type + 4;
        if (libdeflate_crc32(0, type, 4 + std::size_t(length)) != bigEndian32(data + length))
            return false;
        const auto is = [type](const char* name) { return std::memcmp(type, name, 4) == 0; };
        if ((!header && !is("IHDR")) || !std::all_of(type, type + 4, isLetter))
            return false;
        if (is("IDAT") && dataDone)
            return false;  // the image data must come in one run
        dataDone = dataDone || (inData && !is("IDAT"));
        inData = is("IDAT");
        if (is("IHDR")) {
            if (header || length != 13)
                return false;
            header = true;
            c.width = bigEndian32(data), c.height = bigEndian32(data + 4);
            c.depth = data[8], c.colourType = data[9], c.method = data[10], c.filterMethod = data[11];
            c.interlace = data[12];
        } else if (is("PLTE")) {
            if (c.paletteEntries > 0 || c.dataBytes > 0 || length == 0 || length % 3 != 0 || length > 768 ||
                c.colourType == Grey || c.colourType == GreyAlpha)
                return false;
            std::memcpy(c.palette.data(), data, length);
            c.paletteEntries = int(length / 3);
        } else if (is("tRNS")) {
            // A colour made clear in grey or RGB is left to Qt's reader;
            // libpng would pass over a palette's alphas out of place.
            if (c.colourType != Palette || c.alphaEntries > 0 || c.dataBytes > 0 || length == 0 ||
                int(length) > c.paletteEntries)
                return false;
            std::memcpy(c.alphas.data(), data, length);
            c.alphaEntries = int(length);
        } else if (is("pHYs")) {
            if (length == 9 && data[8] == 1)  // in dots a metre; Qt takes each one that is not 0
                c.xPerMetre = qint32(bigEndian32(data)), c.yPerMetre = qint32(bigEndian32(data + 4));
        } else if (is("IDAT")) {
            // Gathered behind the data already gathered, never ahead of it.
            std::memmove(bytes + c.dataBytes, data, length);
            c.dataBytes += qsizetype(length);
        } else if (is("IEND")) {
            ended = true;
        } else if (is("iCCP") || is("gAMA") || is("cHRM") || isUpper(type[0])) {
            return false;
        }
        at += 12 + qsizetype(length);
    }
    return ended;
}

int channelsOf(int colourType)
{
    switch (colourType) {
    case Grey:
    case Palette: return 1;
    case GreyAlpha: return 2;
    case Rgb: return 3;
    case Rgba: return 4;
    default: return 0;
    }
}

bool plainKind(const Chunks& c, qint64 maxBytes)
{
    return c.depth == 8 && channelsOf(c.colourType) > 0 && c.method == 0 && c.filterMethod == 0 && c.interlace == 0 &&
           c.width > 0 && c.height > 0 && c.width <= quint32(INT_MAX / 4) && c.height <= quint32(INT_MAX) &&
           qint64(c.width) * c.height <= maxBytes / 4 && (c.colourType != Palette || c.paletteEntries > 0);
}

#ifdef __SSE2__
// A pixel of Bpp bytes in the low 16-bit lanes, and back.
template <int Bpp>
__m128i loadPixel(const uchar* p)
{
    quint32 v = 0;
    std::memcpy(&v, p, Bpp);
    return _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(v)), _mm_setzero_si128());
}

template <int Bpp>
void storePixel(uchar* p, __m128i lanes)
{
    const auto v = quint32(_mm_cvtsi128_si32(_mm_packus_epi16(lanes, lanes)));
    std::memcpy(p, &v, Bpp);
}

// The left neighbour's bytes feed each pixel, so the filters that use it
// go a pixel at a time, its channels side by side in one vector.
template <int Bpp>
void unfilterRow(int filter, uchar* row, const uchar* prior, qsizetype bytes)
{
    const __m128i low = _mm_set1_epi16(0xff), zero = _mm_setzero_si128();
    __m128i a = zero, c = zero;
    switch (filter) {
    case 1:
        for (qsizetype i = 0; i < bytes; i += Bpp)
            storePixel<Bpp>(row + i, a = _mm_and_si128(_mm_add_epi16(loadPixel<Bpp>(row + i), a), low));
        break;
    case 2: {
        qsizetype i = 0;
        for (; i + 16 <= bytes; i += 16) {
            auto* to = reinterpret_cast<__m128i*>(row + i);
            _mm_storeu_si128(to, _mm_add_epi8(_mm_loadu_si128(to), _mm_loadu_si128(reinterpret_cast<const __m128i*>(prior + i))));
        }
        for (; i < bytes; ++i)
            row[i] = uchar(row[i] + prior[i]);
        break;
    }
    case 3:
        for (qsizetype i = 0; i < bytes; i += Bpp) {
            const __m128i mean = _mm_srli_epi16(_mm_add_epi16(a, loadPixel<Bpp>(prior + i)), 1);
            storePixel<Bpp>(row + i, a = _mm_and_si128(_mm_add_epi16(loadPixel<Bpp>(row + i), mean), low));
        }
        break;
    case 4:
        for (qsizetype i = 0; i < bytes; i += Bpp) {
            const __m128i b = loadPixel<Bpp>(prior + i);
            const __m128i p = _mm_sub_epi16(b, c), q = _mm_sub_epi16(a, c), r = _mm_add_epi16(p, q);
            const auto abs = [zero](__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(zero, v)); };
            const __m128i pa = abs(p), pb = abs(q), pc = abs(r);
            const __m128i least = _mm_min_epi16(_mm_min_epi16(pa, pb), pc);
            const __m128i useA = _mm_cmpeq_epi16(least, pa), useB = _mm_andnot_si128(useA, _mm_cmpeq_epi16(least, pb));
            const __m128i useC = _mm_andnot_si128(_mm_or_si128(useA, useB), _mm_set1_epi16(-1));
            const __m128i predictor = _mm_or_si128(_mm_or_si128(_mm_and_si128(useA, a), _mm_and_si128(useB, b)),
                                                   _mm_and_si128(useC, c));
            storePixel<Bpp>(row + i, a = _mm_and_si128(_mm_add_epi16(loadPixel<Bpp>(row + i), predictor), low));
            c = b;
        }
        break;
    default: break;
    }
}
#else
template <int Bpp>
void unfilterRow(int filter, uchar* row, const uchar* prior, qsizetype bytes)
{
    for (qsizetype i = 0; i < bytes; ++i) {
        const int a = i >= Bpp ? row[i - Bpp] : 0, b = prior[i], c = i >= Bpp ? prior[i - Bpp] : 0;
        int predictor = 0;
        switch (filter) {
        case 1: predictor = a; break;
        case 2: predictor = b; break;
        case 3: predictor = (a + b) / 2; break;
        case 4: {
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            predictor = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            break;
        }
        default: break;
        }
        row[i] = uchar(row[i] + predictor);
    }
}
#endif

void unfilter(int channels, int filter, uchar* row, const uchar* prior, qsizetype bytes)
{
    switch (channels) {
    case 1: unfilterRow<1>(filter, row, prior, bytes); break;
    case 2: unfilterRow<2>(filter, row, prior, bytes); break;
    case 3: unfilterRow<3>(filter, row, prior, bytes); break;
    default: unfilterRow<4>(filter, row, prior, bytes); break;
    }
}

// Premultiplied as Qt's conversion does it; the two commonest alphas of a
// frame without the arithmetic.
QRgb premultiplied(uint r, uint g, uint b, uint a)
{
    if (a == 255)
        return qRgb(int(r), int(g), int(b));
    return a == 0 ? 0 : qPremultiply(qRgba(int(r), int(g), int(b), int(a)));
}

uint convertRgba(const uchar* in, QRgb* out, int n)
{
    uint alphas = 255;
    int x = 0;
#ifdef __SSE2__
    // Four pixels at a time where all four are opaque (red and blue swap
    // places) or all clear: a frame is mostly one or the other.
    const __m128i alpha = _mm_set1_epi32(int(0xff000000u)), zero = _mm_setzero_si128();
    const __m128i greenAlpha = _mm_set1_epi32(int(0xff00ff00u)), red = _mm_set1_epi32(0xff);
    for (; x + 4 <= n; x += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * x));
        const __m128i a = _mm_and_si128(v, alpha);
        __m128i pixels;
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(a, alpha)) == 0xffff) {
            pixels = _mm_or_si128(_mm_and_si128(v, greenAlpha),
                                  _mm_or_si128(_mm_slli_epi32(_mm_and_si128(v, red), 16),
                                               _mm_and_si128(_mm_srli_epi32(v, 16), red)));
        } else if (_mm_movemask_epi8(_mm_cmpeq_epi32(a, zero)) == 0xffff) {
            pixels = zero;
            alphas = 0;
        } else {
            for (int k = x; k < x + 4; ++k) {
                const uchar* p = in + 4 * k;
                out[k] = premultiplied(p[0], p[1], p[2], p[3]);
                alphas &= p[3];
            }
            continue;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), pixels);
    }
#endif
    for (; x < n; ++x) {
        const uchar* p = in + 4 * x;
        out[x] = premultiplied(p[0], p[1], p[2], p[3]);
        alphas &= p[3];
    }
    return alphas;
}

// One unfiltered row into pixels. Returns the AND of the alphas written;
// a palette index beyond the palette gives false in `valid`.
uint convertRow(const Chunks& c, const QRgb* palette, const uchar* in, QRgb* out, bool& valid)
{
    const int n = int(c.width);
    uint alphas = 255;
    switch (c.colourType) {
    case Grey:
        for (int x = 0; x < n; ++x)
            out[x] = qRgb(in[x], in[x], in[x]);
        break;
    case GreyAlpha:
        for (int x = 0; x < n; ++x, in += 2) {
            out[x] = premultiplied(in[0], in[0], in[0], in[1]);
            alphas &= in[1];
        }
        break;
    case Rgb:
        for (int x = 0; x < n; ++x, in += 3)
            out[x] = qRgb(in[0], in[1], in[2]);
        break;
    case Rgba: alphas = convertRgba(in, out, n); break;
    case Palette: {
        int highest = 0;
        for (int x = 0; x < n; ++x) {
            highest = std::max<int>(highest, in[x]);
            out[x] = palette[in[x]];
            alphas &= uint(qAlpha(out[x]));
        }
        valid = highest < c.paletteEntries;
        break;
    }
    default: valid = false;
    }
    return alphas;
}

// The colours of a palette, premultiplied by the alphas of its tRNS.
std::array<QRgb, 256> paletteColours(const Chunks& c)
{
    std::array<QRgb, 256> colours{};
    for (int i = 0; i < c.paletteEntries; ++i) {
        const uint alpha = i < c.alphaEntries ? c.alphas[std::size_t(i)] : 255;
        const uchar* rgb = c.palette.data() + 3 * i;
        colours[std::size_t(i)] = premultiplied(rgb[0], rgb[1], rgb[2], alpha);
    }
    return colours;
}

// The image data, inflated whole into the end of the picture's buffer,
// then unfiltered and converted row by row to the buffer's front: row y is
// written over data already used, and never reaches row y + 1's (the data
// takes at least as many bytes per row as its pixels do from there on).
QImage decode(const Chunks& c, const QByteArray& file)
{
    const int channels = channelsOf(c.colourType);
    const qsizetype rowBytes = qsizetype(c.width) * channels, stride = rowBytes + 1;
    const qsizetype dataBytes = stride * qsizetype(c.height), pixelBytes = 4 * qsizetype(c.width) * c.height;
    const bool mayBeClear = c.colourType == GreyAlpha || c.colourType == Rgba || c.colourType == Palette;
    QImage image = uninitialisedImage(QSize(int(c.width), int(c.height)),
                                      mayBeClear ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32,
                                      std::size_t(std::max<qsizetype>(0, dataBytes - pixelBytes)));
    if (image.isNull())
        return {};
    uchar* data = image.bits() + std::max(pixelBytes, dataBytes) - dataBytes;
    const std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> inflater(
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    if (!inflater || libdeflate_zlib_decompress(inflater.get(), file.constData(), std::size_t(c.dataBytes), data,
                                                std::size_t(dataBytes), nullptr) != LIBDEFLATE_SUCCESS)
        return {};
    const std::array<QRgb, 256> palette = paletteColours(c);
    // Rows are unfiltered in scratch: the one above must stay as it was
    // unfiltered while the next is, and its data has been written over.
    std::vector<uchar> row(static_cast<std::size_t>(rowBytes)), prior(static_cast<std::size_t>(rowBytes), uchar(0));
    uint alphas = 255;
    bool valid = true;
    for (int y = 0; y < int(c.height) && valid; ++y) {
        const uchar* filtered = data + stride * y;
        if (filtered[0] > 4)
            return {};
        std::memcpy(row.data(), filtered + 1, std::size_t(rowBytes));
        unfilter(channels, filtered[0], row.data(), prior.data(), rowBytes);
        alphas &= convertRow(c, palette.data(), row.data(), reinterpret_cast<QRgb*>(image.scanLine(y)), valid);
        row.swap(prior);
    }
    if (!valid)
        return {};
    if (alphas == 255)
        image.reinterpretAsFormat(QImage::Format_RGB32);
    if (c.xPerMetre != 0)
        image.setDotsPerMeterX(c.xPerMetre);
    if (c.yPerMetre != 0)
        image.setDotsPerMeterY(c.yPerMetre);
    return image;
}

}  // namespace

QImage readPlainPng(int fd, qint64 fileSize, qint64 maxBytes)
{
    static const uchar signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (fileSize < 8 || fileSize > std::min<qint64>(maxBytes, INT_MAX))
        return {};
    QByteArray file(qsizetype(fileSize), Qt::Uninitialized);
    if (!readAt(fd, file.data(), fileSize, 0) || std::memcmp(file.constData(), signature, 8) != 0)
        return {};
    Chunks chunks;
    if (!readChunks(file, chunks) || !plainKind(chunks, maxBytes))
        return {};
    return decode(chunks, file);
}

}  // namespace tarvex
