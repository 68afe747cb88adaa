// Measures where the soft key's limits should lie: JPEG frames with a
// rounded window in five key colours (green, with brown, wood, grey and
// gold art; blue; magenta; white; black), at qualities 50 to 95 in 4:2:0
// and 4:4:4, each laid twice its size over a photo by every noise limit
// and opaque share of a grid, with the lean limit kLeanLimit (or
// KEY_LIMITS_LEAN). A frame's art and the photo have no pixel that leans
// toward the key; for each pair of limits it prints, over all the frames,
// the worst count of
//   line:   result pixels that lean toward the key by more than 24 (a band
//           of key colour left around the window);
//   art:    art pixels more than 8 frame pixels from the window that differ
//           from the stretched frame (the art made partly see-through);
//   window: pixels inside the window, more than 8 frame pixels from its
//           edge, that differ from the photo (noise left standing);
// and the widest noise a window's inside holds, per quality.
// KEY_LIMITS_DETAIL=N adds every frame's counts at noise limit N;
// KEY_LIMITS_GENERIC=1 lays with the portable kernels.
//
//     key_limits [NOISE...]    (default 8 12 16 20 24 32 40 48)
#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "formats/jpeg_coding.h"
#include "formats/picture.h"
#include "raster/raster.h"

using namespace tarvex;

namespace {

int leanLimit = raster::kLeanLimit;

struct KeyCase {
    const char* name;
    QRgb key;
    // How far a colour leans toward the key: > 0 means it does.
    std::function<int(QRgb)> lean;
    std::function<QRgb(int x, int y)> art, photo;
};

int t(int x, int y)
{
    return (x * 13 + y * 7) % 60;
}

std::vector<KeyCase> keyCases()
{
    const auto brown = [](int x, int y) { return qRgb(140 + t(x, y), 40 + t(x, y) / 2, 90 + t(x, y)); };
    return {
        {"green", qRgb(0, 255, 0), [](QRgb p) { return qGreen(p) - std::max(qRed(p), qBlue(p)); }, brown,
         [](int x, int y) {
             const int r = 60 + (x * 5) % 180, b = 60 + (y * 3) % 180;
             return qRgb(r, std::max(0, std::min(r, b) - 10), b);
         }},
        {"blue", qRgb(0, 0, 255), [](QRgb p) { return qBlue(p) - std::max(qRed(p), qGreen(p)); },
         [](int x, int y) { return qRgb(140 + t(x, y), 90 + t(x, y), 40 + t(x, y) / 2); },
         [](int x, int y) {
             const int r = 60 + (x * 5) % 180, g = 60 + (y * 3) % 180;
             return qRgb(r, g, std::max(0, std::min(r, g) - 10));
         }},
        {"magenta", qRgb(255, 0, 255), [](QRgb p) { return std::min(qRed(p), qBlue(p)) - qGreen(p); },
         [](int x, int y) { return qRgb(60 + t(x, y) / 2, 150 + t(x, y), 70 + t(x, y)); },
         [](int x, int y) {
             const int r = 60 + (x * 5) % 180, b = 60 + (y * 3) % 180;
             return qRgb(r, std::min(255, std::min(r, b) + 10), b);
         }},
        {"white", qRgb(255, 255, 255), [](QRgb p) { return std::min({qRed(p), qGreen(p), qBlue(p)}) - 200; }, brown,
         [](int x, int y) { return qRgb(40 + (x * 5) % 215, 40 + (y * 3) % 160, 40 + (x + y) % 215); }},
        {"green-wood", qRgb(0, 255, 0), [](QRgb p) { return qGreen(p) - std::max(qRed(p), qBlue(p)); },
         [](int x, int y) { return qRgb(123 + t(x, y) / 3, 84 + t(x, y) / 6, 56 + t(x, y) / 4); },
         [](int x, int y) {
             const int r = 60 + (x * 5) % 180, b = 60 + (y * 3) % 180;
             return qRgb(r, std::max(0, std::min(r, b) - 10), b);
         }},
        {"green-grey", qRgb(0, 255, 0), [](QRgb p) { return qGreen(p) - std::max(qRed(p), qBlue(p)); },
         [](int x, int y) { return qRgb(118 + t(x, y) / 3, 118 + t(x, y) / 4, 122 + t(x, y) / 3); },
         [](int x, int y) {
             const int r = 60 + (x * 5) % 180, b = 60 + (y * 3) % 180;
             return qRgb(r, std::max(0, std::min(r, b) - 10), b);
         }},
        {"green-gold", qRgb(0, 255, 0), [](QRgb p) { return qGreen(p) - std::max(qRed(p), qBlue(p)); },
         [](int x, int y) { return qRgb(200 + t(x, y) / 3, 165 + t(x, y) / 4, 50 + t(x, y) / 3); },
         [](int x, int y) {
             const int r = 60 + (x * 5) % 180, b = 60 + (y * 3) % 180;
             return qRgb(r, std::max(0, std::min(r, b) - 10), b);
         }},
        {"black", qRgb(0, 0, 0), [](QRgb p) { return 55 - std::max({qRed(p), qGreen(p), qBlue(p)}); },
         [](int x, int y) { return qRgb(190 + t(x, y) / 2, 160 + t(x, y) / 2, 120 + t(x, y)); },
         [](int x, int y) { return qRgb(40 + (x * 5) % 215, 55 + (y * 3) % 200, 40 + (x + y) % 215); }},
    };
}

QImage drawn(int w, int h, const std::function<QRgb(int, int)>& colour)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, colour(x, y));
    return image;
}

QRectF windowOf(int w, int h)
{
    return QRectF(w * 0.15, h * 0.15, w * 0.7, h * 0.7);
}

// The frame as drawn (its window smooth-edged), and how far each pixel
// lies from the window's edge, outside (art) and inside (window) it.
struct Frame {
    QImage image;
    std::vector<int> artDepth, windowDepth;
};

Frame makeFrame(const KeyCase& c, int w, int h)
{
    Frame f{drawn(w, h, c.art), {}, {}};
    QPainter p(&f.image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(c.key));
    const QRectF window = windowOf(w, h);
    p.drawRoundedRect(window, window.height() / 6, window.height() / 6);
    p.end();
    QImage mask(w, h, QImage::Format_RGB32);
    mask.fill(Qt::black);
    QPainter m(&mask);
    m.setPen(Qt::NoPen);
    m.setBrush(Qt::white);
    m.drawRoundedRect(window, window.height() / 6, window.height() / 6);
    m.end();
    // Depths by repeated erosion, up to 9.
    const auto depth = [&](bool inside) {
        std::vector<int> d(std::size_t(w) * h, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                d[std::size_t(y) * w + x] = (qRed(mask.pixel(x, y)) > 127) == inside ? 9 : 0;
        for (int pass = 0; pass < 9; ++pass) {
            std::vector<int> next = d;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    int low = d[std::size_t(y) * w + x];
                    for (int dy = -1; dy <= 1; ++dy)
                        for (int dx = -1; dx <= 1; ++dx) {
                            const int xx = std::clamp(x + dx, 0, w - 1), yy = std::clamp(y + dy, 0, h - 1);
                            low = std::min(low, d[std::size_t(yy) * w + xx] + 1);
                        }
                    next[std::size_t(y) * w + x] = low;
                }
            d = next;
        }
        return d;
    };
    f.artDepth = depth(false);
    f.windowDepth = depth(true);
    return f;
}

struct Counts {
    int line = 0, art = 0, window = 0;
};

Counts lay(const KeyCase& c, const Frame& f, const QImage& coded, const QImage& photo, int noise, double share)
{
    QImage framePixels = coded;
    QImage result = photo.copy();
    const raster::Bitmap src = pixelsOf(framePixels), dst = pixelsOf(result);
    const raster::ColorRef key = raster::GetPixel(src, src.width / 2 + 2, src.height / 2 + 2);
    raster::TransparentBlt(dst, 0, 0, dst.width, dst.height, src, 0, 0, src.width, src.height,
                           raster::SoftKey{key, noise, share, leanLimit});
    Counts n;
    const int w = f.image.width();
    for (int y = 0; y < result.height(); ++y)
        for (int x = 0; x < result.width(); ++x) {
            const int fx = x * w / result.width(), fy = y * f.image.height() / result.height();
            const QRgb r = result.pixel(x, y);
            n.line += c.lean(r) > 24;
            const std::size_t i = std::size_t(fy) * w + fx;
            n.art += f.artDepth[i] > 8 && r != coded.pixel(fx, fy);
            n.window += f.windowDepth[i] > 8 && r != photo.pixel(x, y);
        }
    return n;
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    std::vector<int> noises;
    for (int i = 1; i < argc; ++i)
        noises.push_back(std::atoi(argv[i]));
    if (noises.empty())
        noises = {8, 12, 16, 20, 24, 32, 40, 48};
    const std::vector<double> shares = {0.3, 0.35, 0.4, 0.45, 0.5, 0.6};
    if (std::getenv("KEY_LIMITS_GENERIC"))
        raster::setImplementation(raster::Implementation::Generic);
    if (const char* l = std::getenv("KEY_LIMITS_LEAN"))
        leanLimit = std::atoi(l);
    const int w = 400, h = 260;
    struct Coded {
        const KeyCase* c;
        const Frame* f;
        QImage image, photo;
        int quality, sampling;
    };
    const std::vector<KeyCase> cases = keyCases();
    std::vector<Frame> frames;
    for (const KeyCase& c : cases)
        frames.push_back(makeFrame(c, w, h));
    std::vector<Coded> coded;
    for (std::size_t k = 0; k < cases.size(); ++k)
        for (int q : {50, 75, 90, 95})
            for (int sampling : {2, 1}) {
                QString failure;
                const QByteArray bytes = encodeJpeg(frames[k].image, q, sampling, sampling, &failure);
                coded.push_back({&cases[k], &frames[k], QImage::fromData(bytes, "JPEG").convertToFormat(QImage::Format_RGB32),
                                 drawn(2 * w, 2 * h, cases[k].photo), q, sampling});
            }
    std::printf("widest noise inside the window, by quality (4:2:0 / 4:4:4):\n");
    for (const Coded& c : coded) {
        int widest = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (c.f->windowDepth[std::size_t(y) * w + x] > 8) {
                    const QRgb p = c.image.pixel(x, y), k = c.c->key;
                    widest = std::max({widest, std::abs(qRed(p) - qRed(k)), std::abs(qGreen(p) - qGreen(k)),
                                       std::abs(qBlue(p) - qBlue(k))});
                }
        std::printf("  %-8s q%-3d %s: %d\n", c.c->name, c.quality, c.sampling == 2 ? "4:2:0" : "4:4:4", widest);
    }
    std::printf("\nworst counts over all frames (line / art / window):\n%6s", "noise");
    for (double s : shares)
        std::printf("  share %-10.2f", s);
    std::printf("\n");
    for (int noise : noises) {
        std::printf("%6d", noise);
        for (double s : shares) {
            Counts worst;
            for (const Coded& c : coded) {
                const Counts n = lay(*c.c, *c.f, c.image, c.photo, noise, s);
                worst.line = std::max(worst.line, n.line);
                worst.art = std::max(worst.art, n.art);
                worst.window = std::max(worst.window, n.window);
            }
            std::printf("  %4d/%4d/%4d   ", worst.line, worst.art, worst.window);
        }
        std::printf("\n");
    }
    if (const char* detail = std::getenv("KEY_LIMITS_DETAIL")) {
        const int noise = std::atoi(detail);
        std::printf("\nper frame at noise %d (line / art / window):\n", noise);
        for (const Coded& c : coded) {
            std::printf("  %-8s q%-3d %s", c.c->name, c.quality, c.sampling == 2 ? "4:2:0" : "4:4:4");
            for (double s : shares) {
                const Counts n = lay(*c.c, *c.f, c.image, c.photo, noise, s);
                std::printf("  %4d/%5d/%4d", n.line, n.art, n.window);
            }
            std::printf("\n");
        }
    }
    return 0;
}
