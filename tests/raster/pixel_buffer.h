#pragma once
// Test buffers with a fence: each row is wider than the picture and the
// whole block has guard rows above and below, all filled with a known
// pattern, so a test can prove a primitive wrote nothing outside the picture.
#include <cstdint>
#include <random>
#include <vector>

#include "raster/raster.h"

namespace tarvex::testing {

class PixelBuffer {
public:
    static constexpr int kGuardRows = 2;
    static constexpr raster::Pixel kGuard = 0xDEADBEEFu;

    PixelBuffer(int width, int height, int padding = 3)
        : width_(width), height_(height), stride_(width + padding),
          store_(std::size_t(stride_) * std::size_t(height + 2 * kGuardRows), kGuard)
    {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                at(x, y) = 0xff000000u;
    }

    raster::Bitmap bitmap()
    {
        return {width_ > 0 && height_ > 0 ? store_.data() + kGuardRows * stride_ : nullptr, width_, height_,
                stride_};
    }
    raster::Pixel& at(int x, int y) { return store_[std::size_t((y + kGuardRows) * stride_ + x)]; }
    raster::Pixel at(int x, int y) const { return store_[std::size_t((y + kGuardRows) * stride_ + x)]; }
    int width() const { return width_; }
    int height() const { return height_; }

    // Fills the picture with opaque pixels drawn from a palette of `colours`
    // entries (few colours make colour-key matches common).
    void randomise(std::mt19937& rng, int colours)
    {
        std::vector<raster::Pixel> palette(std::size_t(colours > 0 ? colours : 1));
        for (auto& p : palette)
            p = 0xff000000u | (rng() & 0x00ffffffu);
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x)
                at(x, y) = palette[rng() % palette.size()];
    }

    // Premultiplied pixels of random alpha, a third of them wholly opaque
    // or wholly clear, as a picture with soft edges has.
    void randomisePremultiplied(std::mt19937& rng)
    {
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) {
                const unsigned pick = rng() % 6, a = pick == 0 ? 0 : pick == 1 ? 255 : rng() % 256;
                raster::Pixel p = a << 24;
                for (int shift = 0; shift < 24; shift += 8)
                    p |= (rng() % (a + 1)) << shift;
                at(x, y) = p;
            }
    }

    // Opaque pixels at random distances from `key`, mostly small, as a
    // lossy file leaves around its key colour.
    void scatterNear(std::mt19937& rng, raster::Pixel key)
    {
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) {
                const int spread = rng() % 4 == 0 ? 256 : int(rng() % 64) + 1;
                raster::Pixel p = 0xff000000u;
                for (int shift = 0; shift < 24; shift += 8) {
                    const int c = int((key >> shift) & 0xffu) + int(rng() % unsigned(2 * spread + 1)) - spread;
                    p |= raster::Pixel(c < 0 ? 0 : c > 255 ? 255 : c) << shift;
                }
                at(x, y) = p;
            }
    }

    // True when every pixel outside the picture still holds the guard.
    bool fenceIntact() const
    {
        for (std::size_t i = 0; i < store_.size(); ++i) {
            const int row = int(i / std::size_t(stride_)) - kGuardRows;
            const int col = int(i % std::size_t(stride_));
            const bool inside = row >= 0 && row < height_ && col < width_;
            if (!inside && store_[i] != kGuard)
                return false;
        }
        return true;
    }

    bool operator==(const PixelBuffer& other) const { return store_ == other.store_; }

private:
    int width_, height_, stride_;
    std::vector<raster::Pixel> store_;
};

}  // namespace tarvex::testing
