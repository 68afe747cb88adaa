#pragma once
// Writing the kinds of JPEG file the tests need, beyond what Qt's writer
// offers, with libjpeg: sampling factors, progression, restarts, density
// and an embedded profile.
#include <QByteArray>
#include <QImage>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace tarvex::testing {

// How a test JPEG is written, beyond what Qt's writer offers.
struct JpegKind {
    int components = 3;  // 1: grey, 3: colour (YCbCr), 4: CMYK
    // Sampling factors: luma 2 x 2 over chroma 1 x 1 is 4:2:0.
    int lumaH = 2, lumaV = 2;
    int chromaH = 1, chromaV = 1;  // both chroma channels'
    bool progressive = false;
    int restartRows = 0;
    int densityUnit = 0, xDensity = 1, yDensity = 1;
    QByteArray colourProfile;  // written as an APP2 ICC_PROFILE marker when not empty
};

inline QByteArray jpegBytes(const QImage& image, const JpegKind& kind)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr errors{};
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(image.width());
    c.image_height = JDIMENSION(image.height());
    c.input_components = kind.components;
    c.in_color_space = kind.components == 1 ? JCS_GRAYSCALE : kind.components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 85, TRUE);
    c.comp_info[0].h_samp_factor = kind.lumaH;
    c.comp_info[0].v_samp_factor = kind.lumaV;
    for (int i = 1; i < kind.components && i < 3; ++i) {
        c.comp_info[i].h_samp_factor = kind.chromaH;
        c.comp_info[i].v_samp_factor = kind.chromaV;
    }
    if (kind.progressive)
        jpeg_simple_progression(&c);
    c.restart_in_rows = kind.restartRows;
    c.density_unit = UINT8(kind.densityUnit);
    c.X_density = UINT16(kind.xDensity);
    c.Y_density = UINT16(kind.yDensity);
    jpeg_start_compress(&c, TRUE);
    if (!kind.colourProfile.isEmpty()) {
        const QByteArray marker = QByteArray("ICC_PROFILE", 12) + QByteArray("\1\1", 2) + kind.colourProfile;
        jpeg_write_marker(&c, JPEG_APP0 + 2, reinterpret_cast<const JOCTET*>(marker.constData()), unsigned(marker.size()));
    }
    std::vector<JSAMPLE> row(std::size_t(image.width() * kind.components));
    while (c.next_scanline < c.image_height) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, int(c.next_scanline));
            JSAMPLE* at = row.data() + x * kind.components;
            if (kind.components == 1) {
                at[0] = JSAMPLE(qGray(p));
            } else {
                at[0] = JSAMPLE(qRed(p)), at[1] = JSAMPLE(qGreen(p)), at[2] = JSAMPLE(qBlue(p));
                if (kind.components == 4)
                    at[3] = JSAMPLE(200);
            }
        }
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    QByteArray bytes(reinterpret_cast<const char*>(out), qsizetype(size));
    std::free(out);
    return bytes;
}

}  // namespace tarvex::testing
