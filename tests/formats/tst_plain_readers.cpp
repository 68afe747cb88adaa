// Our own JPEG and PNG readers against Qt's on the kinds of file cameras
// and programs write, the files they must leave to Qt's reader, and
// pictures decoded and drawn into buffers that held other pictures before.
#include <QtTest>

#include <QImageWriter>

#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>
#include <png.h>

#include "qt_png.h"
#include "test_support.h"
#include "raster/raster.h"
#include "formats/image_buffers.h"
#include "formats/picture_file.h"
#include "formats/plain_jpeg.h"
#include "formats/plain_png.h"

using namespace tarvex;

namespace {

// How a test JPEG is written, beyond what Qt's writer offers.
struct JpegKind {
    int components = 3;        // 1: grey, 3: colour (YCbCr), 4: CMYK
    int lumaH = 2, lumaV = 2;  // luma samples per chroma sample: 2 x 2 is 4:2:0
    bool progressive = false;
    int restartRows = 0;
    int densityUnit = 0, xDensity = 1, yDensity = 1;
    QByteArray colourProfile;  // written as an APP2 ICC_PROFILE marker when not empty
};

QByteArray jpegBytes(const QImage& image, const JpegKind& kind)
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

QByteArray qtJpeg(const QImage& image, int quality, bool progressive = false)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return data;
}

QImage qtRead(const QByteArray& bytes)
{
    return QImage::fromData(bytes, "jpeg").convertToFormat(QImage::Format_RGB32);
}

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

int channelsOf(int colourType)
{
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    default: return 4;
    }
}

QByteArray pngBytes(const PngKind& kind)
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

}  // namespace

class TestPlainReaders : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString write(const QString& name, const QByteArray& bytes)
    {
        QFile f(dir_.filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            return {};
        return f.fileName();
    }
    QImage plainRead(const QByteArray& bytes, qint64 maxBytes = kMaxPictureBytes)
    {
        QFile f(write(QStringLiteral("plain.jpg"), bytes));
        return f.open(QIODevice::ReadOnly) ? readPlainJpeg(f.handle(), maxBytes) : QImage();
    }
    QImage plainPng(const QByteArray& bytes, qint64 maxBytes = kMaxPictureBytes)
    {
        QFile f(write(QStringLiteral("plain.png"), bytes));
        return f.open(QIODevice::ReadOnly) ? readPlainPng(f.handle(), f.size(), maxBytes) : QImage();
    }

private slots:
    // Every sampling, both scan orders, restart markers, sizes that do not
    // fill whole blocks, and the densities: the same pixels and the same
    // resolution as Qt's reader gives.
    void plainJpegsReadAsQtReadsThem()
    {
        const QSize sizes[] = {{1, 1}, {17, 9}, {33, 31}, {64, 48}};
        const std::pair<int, int> samplings[] = {{1, 1}, {2, 1}, {1, 2}, {2, 2}};
        for (const QSize size : sizes) {
            const QImage image = testing::patternImage(size.width(), size.height(), size.width());
            for (const auto& [h, v] : samplings) {
                for (int variant = 0; variant < 3; ++variant) {
                    JpegKind kind;
                    kind.lumaH = h, kind.lumaV = v;
                    kind.progressive = variant == 1;
                    kind.restartRows = variant == 2 ? 1 : 0;
                    const QByteArray bytes = jpegBytes(image, kind);
                    const QImage plain = plainRead(bytes);
                    const QString what = QStringLiteral("%1x%2, %3x%4, variant %5")
                                             .arg(size.width()).arg(size.height()).arg(h).arg(v).arg(variant);
                    QVERIFY2(!plain.isNull(), qPrintable(what));
                    QVERIFY2(plain == qtRead(bytes), qPrintable(what));
                }
            }
        }
        const QImage photo = testing::patternImage(40, 30, 3);
        for (const QByteArray& bytes : {qtJpeg(photo, 90), qtJpeg(photo, 20), qtJpeg(photo, 75, true)}) {
            const QImage plain = plainRead(bytes);
            QVERIFY(!plain.isNull());
            QCOMPARE(plain, qtRead(bytes));
        }
        for (const auto& [unit, x, y] : {std::tuple{1, 300, 150}, std::tuple{2, 118, 59}}) {
            JpegKind kind;
            kind.densityUnit = unit, kind.xDensity = x, kind.yDensity = y;
            const QByteArray bytes = jpegBytes(photo, kind);
            const QImage plain = plainRead(bytes), qt = qtRead(bytes);
            QCOMPARE(plain.dotsPerMeterX(), qt.dotsPerMeterX());
            QCOMPARE(plain.dotsPerMeterY(), qt.dotsPerMeterY());
            QVERIFY(plain.dotsPerMeterX() != plain.dotsPerMeterY());
        }
    }

    // Files the plain reader declines; the loader still opens each as Qt's
    // reader does.
    void otherJpegsAreLeftToQt()
    {
        const QImage photo = testing::patternImage(48, 32, 5);
        JpegKind grey, cmyk, profiled;
        grey.components = 1, grey.lumaH = grey.lumaV = 1;
        cmyk.components = 4;
        profiled.colourProfile = QByteArray(64, '\x11');
        const QByteArray plain = jpegBytes(photo, {});
        // A marker in the middle of the coded data: libjpeg warns and
        // makes up the rest of the picture.
        const QByteArray damaged = QByteArray(plain).insert(plain.size() - 30, "\xff\xd3", 2);
        const struct {
            const char* what;
            QByteArray bytes;
        } cases[] = {
            {"grey", jpegBytes(photo, grey)},
            {"CMYK", jpegBytes(photo, cmyk)},
            {"colour profile", jpegBytes(photo, profiled)},
            {"cut in half", plain.left(plain.size() / 2)},
            {"damaged data", damaged},
            {"headers only", plain.left(200)},
            {"not a JPEG", QByteArray("BM, and not a picture at all")},
        };
        for (const auto& c : cases) {
            QVERIFY2(plainRead(c.bytes).isNull(), c.what);
            const LoadResult loaded = loadPicture(write(QStringLiteral("other.jpg"), c.bytes));
            const QImage qt = qtRead(c.bytes);
            QVERIFY2(bool(loaded.picture) == !qt.isNull(), c.what);
            if (loaded.picture)
                QVERIFY2(*loaded.picture == qt, c.what);
        }
        // The size limit: a picture of exactly the limit is read, one byte
        // under it is not.
        QVERIFY(plainRead(plain, 48 * 32 * 4 - 1).isNull());
        QVERIFY(!plainRead(plain, 48 * 32 * 4).isNull());
    }

    // Every colour kind and every filter, alone and mixed, at widths that
    // leave a part of a vector: the same pixels, the same form and the
    // same resolution as Qt's reader and the loader's conversion give.
    void plainPngsReadAsQtReadsThem()
    {
        const int types[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGBA,
                             PNG_COLOR_TYPE_PALETTE};
        const int filters[] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH,
                               PNG_ALL_FILTERS};
        for (const int type : types) {
            for (const int filter : filters) {
                for (const QSize size : {QSize(256, 256), QSize(1, 3), QSize(7, 5), QSize(19, 2)}) {
                    PngKind kind;
                    kind.colourType = type, kind.filters = filter, kind.width = size.width(), kind.height = size.height();
                    const QByteArray bytes = pngBytes(kind);
                    const QImage plain = plainPng(bytes);
                    const QString what = QStringLiteral("type %1, filters %2, %3x%4")
                                             .arg(type).arg(filter).arg(size.width()).arg(size.height());
                    QVERIFY2(!plain.isNull(), qPrintable(what));
                    QVERIFY2(plain == testing::qtWorkingPng(bytes), qPrintable(what));
                    QCOMPARE(plain.format(), testing::qtWorkingPng(bytes).format());
                }
            }
        }
        // An opaque picture with alpha is opaque; the resolution is Qt's.
        QImage opaque = testing::patternImage(30, 20, 4).convertToFormat(QImage::Format_ARGB32);
        opaque.setDotsPerMeterX(5905), opaque.setDotsPerMeterY(2000);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && opaque.save(&buffer, "png"));
        const QImage plain = plainPng(bytes);
        QCOMPARE(plain.format(), QImage::Format_RGB32);
        QCOMPARE(plain, testing::qtWorkingPng(bytes));
        QCOMPARE(plain.dotsPerMeterX(), 5905);
        QCOMPARE(plain.dotsPerMeterY(), 2000);
    }

    // Files the plain PNG reader declines; the loader still opens each as
    // Qt's reader does.
    void otherPngsAreLeftToQt()
    {
        PngKind small;
        small.width = 40, small.height = 30;
        const QByteArray plain = pngBytes(small);
        QByteArray badCrc = plain;
        badCrc[plain.indexOf("IDAT") + 20] = char(badCrc[plain.indexOf("IDAT") + 20] ^ 1);
        PngKind deep = small, interlaced = small, gamma = small, clear = small, beyond = small;
        deep.depth = 16;
        interlaced.interlaced = true;
        gamma.gamma = 1 / 1.8;
        clear.colourType = PNG_COLOR_TYPE_RGB, clear.clearColour = true;
        beyond.colourType = PNG_COLOR_TYPE_PALETTE, beyond.paletteEntries = 20, beyond.highestIndex = 40;
        const struct {
            const char* what;
            QByteArray bytes;
        } cases[] = {
            {"16 bits a channel", pngBytes(deep)},
            {"interlaced", pngBytes(interlaced)},
            {"gamma", pngBytes(gamma)},
            {"a clear colour", pngBytes(clear)},
            {"indices beyond the palette", pngBytes(beyond)},
            {"damaged data", badCrc},
            {"cut in half", plain.left(plain.size() / 2)},
            {"no end", plain.left(plain.size() - 12)},
        };
        for (const auto& c : cases) {
            QVERIFY2(plainPng(c.bytes).isNull(), c.what);
            const LoadResult loaded = loadPicture(write(QStringLiteral("other.png"), c.bytes));
            const QImage qt = testing::qtWorkingPng(c.bytes);
            QVERIFY2(bool(loaded.picture) == !qt.isNull(), c.what);
            if (loaded.picture)
                QVERIFY2(*loaded.picture == qt, c.what);
        }
        QVERIFY(plainPng(plain, 40 * 30 * 4 - 1).isNull());
        QVERIFY(!plainPng(plain, 40 * 30 * 4).isNull());
    }

    // A kept buffer goes to the next image of about its size, and at most
    // the number kept are held, the oldest let go first. Each buffer is
    // told by the colour it was filled with: a kept one still holds it.
    void keptBuffersServeTheNextPicture()
    {
        const KeptImageBuffers kept(2);
        const QSize size(1000, 300);
        const auto filled = [&](QRgb colour) {
            QImage image = uninitialisedImage(size);
            image.fill(colour);
            return image;
        };
        QImage a = filled(0xff000001u), b = filled(0xff000002u), c = filled(0xff000003u);
        a = QImage();
        b = QImage();
        c = QImage();  // two kept already: a is let go
        const auto colour = [](const QImage& image) { return image.pixel(image.width() - 1, image.height() / 2); };
        const QImage tooSmall = uninitialisedImage(QSize(1000, 239));  // more than a quarter would be spare
        QVERIFY(colour(tooSmall) != 0xff000002u && colour(tooSmall) != 0xff000003u);
        const QImage rotated = uninitialisedImage(QSize(300, 1000));  // as many bytes
        const QImage same = uninitialisedImage(size);
        QCOMPARE((QSet<QRgb>{colour(rotated), colour(same)}), (QSet<QRgb>{0xff000002u, 0xff000003u}));
        QCOMPARE(rotated.bytesPerLine(), 1200);
        QCOMPARE(same.format(), QImage::Format_RGB32);
    }

    // Decodes and full-picture drawings write every pixel of a kept buffer:
    // nothing of the picture before shows through.
    void keptBuffersShowNothingOfTheirPast()
    {
        const QImage photo = testing::patternImage(61, 37, 7);
        const QString jpeg = write(QStringLiteral("photo.jpg"), jpegBytes(photo, {}));
        const QString bmp = testing::writePicture(QDir(dir_.path()), QStringLiteral("photo.bmp"), photo);
        PngKind clearKind;
        clearKind.width = 61, clearKind.height = 37;
        const QString png = write(QStringLiteral("logo.png"), pngBytes(clearKind));
        const LoadResult jpegBefore = loadPicture(jpeg), bmpBefore = loadPicture(bmp), pngBefore = loadPicture(png);
        QVERIFY(jpegBefore.picture && bmpBefore.picture && pngBefore.picture);
        const KeptImageBuffers kept(4);
        const auto soil = [] {
            std::vector<QImage> held;
            for (int i = 0; i < 4; ++i) {
                held.push_back(uninitialisedImage(QSize(61, 37)));
                held.back().fill(0xff123456u);
            }
        };
        soil();
        const LoadResult jpegAfter = loadPicture(jpeg);
        soil();
        const LoadResult bmpAfter = loadPicture(bmp);
        QVERIFY(jpegAfter.picture && bmpAfter.picture);
        QCOMPARE(*jpegAfter.picture, *jpegBefore.picture);
        QCOMPARE(*bmpAfter.picture, *bmpBefore.picture);
        soil();
        const LoadResult pngAfter = loadPicture(png);
        QVERIFY(pngAfter.picture);
        QCOMPARE(*pngAfter.picture, *pngBefore.picture);

        soil();
        Surface surface(QStringLiteral("Picture2"), 0, 0, 10, 10, true);
        surface.setPicture(bmpAfter.picture);
        const Surface::Redrawing r = surface.redraw();
        QVERIFY(r.target.pixels != r.current.pixels);  // shared with the picture: drawn into a kept buffer
        raster::BitBlt(r.target, 0, 0, r.target.width, r.target.height, r.current, 0, 0);
        QCOMPARE(surface.image(), *bmpBefore.picture);
    }
};

QTEST_GUILESS_MAIN(TestPlainReaders)
#include "tst_plain_readers.moc"
