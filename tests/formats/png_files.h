#pragma once
// Writing the kinds of PNG file the readers' tests need, beyond what Qt's
// writer offers, with libpng.
#include <QByteArray>
#include <png.h>

namespace tarvex::testing {

// How a test PNG is written, beyond what Qt's writer offers: each channel
// byte comes from a formula, each row through one chosen filter.
struct PngKind {
    int colourType = PNG_COLOR_TYPE_RGBA;
    int filters = PNG_ALL_FILTERS;
    int width = 256, height = 256;  // RGBA: every colour value at every alpha
    int depth = 8;
    bool interlaced = false;
    double gamma = 0;             // a gAMA chunk when not 0
    bool clearColour = false;     // a tRNS colour for grey or RGB
    int paletteEntries = 200, highestIndex = 199;
};

inline int channelsOf(int colourType)
{
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    default: return 4;
    }
}

inline QByteArray pngBytes(const PngKind& kind)
{
    // Warned of, not stopped: an index beyond the palette is written on purpose.
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, [](png_structp, png_const_charp) {});
    png_set_benign_errors(png, 1);
    png_infop info = png_create_info_struct(png);
    QByteArray bytes;
    png_set_write_fn(
        png, &bytes,
        [](png_structp p, png_bytep data, png_size_t n) {
            static_cast<QByteArray*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(data), qsizetype(n));
        },
        nullptr);
    png_set_IHDR(png, info, png_uint_32(kind.width), png_uint_32(kind.height), kind.depth, kind.colourType,
                 kind.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette(std::size_t(kind.paletteEntries));
    std::vector<png_byte> alphas(std::size_t(kind.paletteEntries) * 3 / 4);
    for (std::size_t i = 0; i < palette.size(); ++i)
        palette[i] = {png_byte(i * 5), png_byte(255 - i), png_byte(i * 11)};
    for (std::size_t i = 0; i < alphas.size(); ++i)
        alphas[i] = png_byte(i * 37 % 256);
    if (kind.colourType == PNG_COLOR_TYPE_PALETTE) {
        png_set_PLTE(png, info, palette.data(), kind.paletteEntries);
        png_set_tRNS(png, info, alphas.data(), int(alphas.size()), nullptr);
    }
    png_color_16 clear{0, 10, 20, 30, 10};
    if (kind.clearColour)
        png_set_tRNS(png, info, nullptr, 0, &clear);
    if (kind.gamma > 0)
        png_set_gAMA(png, info, kind.gamma);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, kind.filters);
    png_write_info(png, info);
    const int channels = channelsOf(kind.colourType), bytesPerSample = kind.depth / 8;
    std::vector<png_byte> row(std::size_t(kind.width * channels * bytesPerSample));
    std::vector<png_bytep> rows(std::size_t(kind.height));
    std::vector<std::vector<png_byte>> image(std::size_t(kind.height), row);
    for (int y = 0; y < kind.height; ++y) {
        for (int x = 0; x < kind.width; ++x) {
            for (int k = 0; k < channels; ++k) {
                int v = k == channels - 1 && channels % 2 == 0 ? y : (x * (k + 1) + y * 3 * k) % 256;
                if (kind.colourType == PNG_COLOR_TYPE_PALETTE)
                    v = (x * 13 + y * 7) % (kind.highestIndex + 1);
                for (int b = 0; b < bytesPerSample; ++b)
                    image[std::size_t(y)][std::size_t(((x * channels) + k) * bytesPerSample + b)] = png_byte(v);
            }
        }
        rows[std::size_t(y)] = image[std::size_t(y)].data();
    }
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return bytes;
}


}  // namespace tarvex::testing
