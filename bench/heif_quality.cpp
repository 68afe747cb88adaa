// Measures the quality HEIC and AVIF results are saved at: each photo given
// (JPEG, say, as cameras and phones write them; without any, three made
// here with the detail of nature at every scale and a sensor's grain,
// saved as a phone saves them, at quality 92) is decoded as the loader
// decodes it, coded by libheif at each quality of a grid, decoded again,
// and held against itself. For each quality it prints, over the photos,
// the lowest PSNR (in dB, over the three channels) and the highest ratio of
// the result's bytes per pixel to the photo's own, with the time taken;
// the default is the lowest quality at or above 40 dB whose ratio stays at
// or below 1.3.
//
//     heif_quality [PHOTO...]
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <algorithm>
#include <cmath>
#include <random>
#include <cstdio>
#include <vector>

#include "formats/heif_file.h"
#include "formats/picture_file.h"

using namespace tarvex;

namespace {

double psnr(const QImage& a, const QImage& b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* p = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* q = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            for (const int d : {qRed(p[x]) - qRed(q[x]), qGreen(p[x]) - qGreen(q[x]), qBlue(p[x]) - qBlue(q[x])})
                sum += double(d) * d;
    }
    const double mse = sum / (3.0 * a.width() * a.height());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// Smooth random values on a grid `cell` pixels apart, bilinearly between.
class ValueNoise {
public:
    ValueNoise(int w, int h, int cell, std::mt19937& rng) : cell_(cell), gw_(w / cell + 2), gh_(h / cell + 2)
    {
        for (int i = 0; i < gw_ * gh_; ++i)
            grid_.push_back(float(rng() % 2001) / 1000.0f - 1.0f);
    }
    float at(int x, int y) const
    {
        const int gx = x / cell_, gy = y / cell_;
        const float fx = float(x % cell_) / float(cell_), fy = float(y % cell_) / float(cell_);
        const auto g = [&](int i, int j) { return grid_[std::size_t(j * gw_ + i)]; };
        return (g(gx, gy) * (1 - fx) + g(gx + 1, gy) * fx) * (1 - fy) + (g(gx, gy + 1) * (1 - fx) + g(gx + 1, gy + 1) * fx) * fy;
    }

private:
    int cell_, gw_, gh_;
    std::vector<float> grid_;
};

// A picture with detail at every scale, as nature has, in colours that
// follow its light, and a sensor's grain.
QImage naturalPhoto(int w, int h, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<ValueNoise> light, tint;
    for (const int cell : {400, 120, 40, 12, 4})
        light.emplace_back(w, h, cell, rng);
    for (const int cell : {300, 60})
        tint.emplace_back(w, h, cell, rng), tint.emplace_back(w, h, cell, rng);
    const float weights[] = {70, 40, 22, 12, 6};
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            float l = 120;
            for (std::size_t i = 0; i < light.size(); ++i)
                l += weights[i] * light[i].at(x, y);
            const float a = 40 * tint[0].at(x, y) + 15 * tint[2].at(x, y), b = 40 * tint[1].at(x, y) + 15 * tint[3].at(x, y);
            const auto channel = [&](float v) { return int(std::clamp(v + float(int(rng() % 9) - 4), 0.0f, 255.0f)); };
            row[x] = qRgb(channel(l + a), channel(l - 0.5f * a - 0.5f * b), channel(l + b));
        }
    }
    return image;
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    struct Photo {
        QImage pixels;
        double bytesPerPixel;
    };
    std::vector<Photo> photos;
    for (int i = 1; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        const LoadResult loaded = loadPicture(path);
        if (!loaded.picture) {
            std::fprintf(stderr, "%s: %s\n", argv[i], qPrintable(loaded.failure));
            return 2;
        }
        photos.push_back({*loaded.picture, double(QFile(path).size()) / (double(loaded.picture->width()) * loaded.picture->height())});
    }
    for (unsigned seed = 1; argc < 2 && seed <= 3; ++seed) {
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        const QImage made = naturalPhoto(2000, 1500, seed);
        made.save(&buffer, "jpeg", 92);
        photos.push_back({QImage::fromData(jpeg, "jpeg").convertToFormat(QImage::Format_RGB32),
                          double(jpeg.size()) / (2000.0 * 1500.0)});
    }
    for (const auto codec : {heif::Codec::Hevc, heif::Codec::Av1}) {
        std::printf("%s\n  quality  lowest dB  highest size ratio  seconds a photo\n", codec == heif::Codec::Av1 ? "AVIF" : "HEIC");
        for (const int q : {40, 50, 60, 65, 70, 75, 80, 85, 90}) {
            double lowest = 99, highest = 0, seconds = 0;
            for (const Photo& p : photos) {
                QElapsedTimer timer;
                timer.start();
                const QByteArray coded = heif::encode(p.pixels, codec, q, {}, nullptr);
                seconds += timer.elapsed() / 1000.0;
                const heif::Read back = heif::read(coded, qint64(1) << 31);
                if (back.image.isNull())
                    return 1;
                lowest = std::min(lowest, psnr(p.pixels, back.image.convertToFormat(QImage::Format_RGB32)));
                highest = std::max(highest, double(coded.size()) / (double(p.pixels.width()) * p.pixels.height()) / p.bytesPerPixel);
            }
            std::printf("  %7d  %9.2f  %18.2f  %15.2f\n", q, lowest, highest, seconds / double(photos.size()));
        }
    }
    return 0;
}
