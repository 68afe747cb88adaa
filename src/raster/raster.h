#pragma once
// The raster primitives every picture command draws with: plain copy,
// stretched copy with mirroring, blend by a constant opacity or by the
// source's own alpha, colour-keyed stretched copy, exact or soft (the
// blends and keys also over a copy of another picture, in one pass), pixel
// read, area reduction, and rows to and from BMP files. They work on 32-bit
// pixel buffers laid out as 0xAARRGGBB words (QImage::Format_RGB32, or
// Format_ARGB32_Premultiplied for pictures with alpha), know nothing of
// Qt, and are safe for any rectangle: nothing outside the two buffers is
// ever read or written.
//
// Sampling of the stretched operations is nearest-neighbour by pixel centres:
// destination pixel i of a span of |D| pixels takes source pixel
// floor((2i + 1) * |S| / (2 |D|)) of a span of |S| pixels. A negative extent
// runs from its origin towards smaller coordinates and mirrors that axis.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace tarvex::raster {

using Pixel = std::uint32_t;     // 0xAARRGGBB in memory order of QImage::Format_RGB32
using ColorRef = std::uint32_t;  // 0x00BBGGRR: red in the low byte

inline constexpr ColorRef CLR_INVALID = 0xFFFFFFFFu;

// A view of someone else's pixels. `stride` counts pixels per row and is at
// least `width`; a view with a null pointer or a non-positive size is empty.
struct Bitmap {
    Pixel* pixels = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;

    bool empty() const { return pixels == nullptr || width <= 0 || height <= 0 || stride < width; }
    Pixel* row(int y) const { return pixels + static_cast<std::ptrdiff_t>(y) * stride; }
};

// The packed BLENDFUNCTION record: BlendOp in the low byte, then BlendFlags,
// SourceConstantAlpha and AlphaFormat.
constexpr std::uint32_t packBlendFunction(std::uint8_t op, std::uint8_t flags, std::uint8_t alpha,
                                          std::uint8_t format)
{
    return std::uint32_t(op) | std::uint32_t(flags) << 8 | std::uint32_t(alpha) << 16 |
           std::uint32_t(format) << 24;
}

constexpr ColorRef toColorRef(Pixel p)
{
    return ((p >> 16) & 0xffu) | (p & 0xff00u) | ((p & 0xffu) << 16);
}
constexpr Pixel fromColorRef(ColorRef c)
{
    return 0xff000000u | ((c & 0xffu) << 16) | (c & 0xff00u) | ((c >> 16) & 0xffu);
}

// Copies the w x h block at (xs, ys) of src to (x, y) of dst, clipped to both
// buffers. Returns false, drawing nothing, for empty or negative extents.
bool BitBlt(const Bitmap& dst, int x, int y, int w, int h, const Bitmap& src, int xs, int ys);

// Stretches the source rectangle over the destination rectangle, clipped to
// dst. Destination pixels whose sample falls outside src keep their value.
// Returns false for a zero extent.
bool StretchBlt(const Bitmap& dst, int xd, int yd, int wd, int hd, const Bitmap& src, int xs, int ys,
                int ws, int hs);

// AlphaFormat of the packed blend function: the source's pixels carry a
// premultiplied alpha of their own.
inline constexpr std::uint8_t AC_SRC_ALPHA = 0x01;

// Lays the source rectangle, stretched over the destination rectangle, on dst
// with the constant opacity a of the packed blend function. With
// AlphaFormat 0 every channel becomes round((s * a + d * (255 - a)) / 255).
// With AC_SRC_ALPHA the source is premultiplied and each pixel also weighs
// by its own alpha sa (source-over): every channel, alpha included, becomes
//     min(255, round((255 * s * a + d * (65025 - sa * a)) / 65025)),
// which is round((s * a + d * (255 - a)) / 255) again where sa is 255, and
// s + round(d * (255 - sa) / 255) where a is 255. BlendOp and BlendFlags
// must be 0. Draws nothing and returns false for non-positive extents, any
// other AlphaFormat, or a source rectangle that is not wholly inside src.
bool AlphaBlend(const Bitmap& dst, int xd, int yd, int wd, int hd, const Bitmap& src, int xs, int ys,
                int ws, int hs, std::uint32_t blendFunction);

// BitBlt(dst, 0, 0, under.width, under.height, under, 0, 0) followed by
// AlphaBlend(dst, ...), with the same pixels and result, in one pass where
// under is dst's size: each pixel is read from under and written once.
bool AlphaBlendOver(const Bitmap& dst, const Bitmap& under, int xd, int yd, int wd, int hd, const Bitmap& src,
                    int xs, int ys, int ws, int hs, std::uint32_t blendFunction);

// StretchBlt that leaves every destination pixel whose sample has exactly
// the colour `key` (red, green and blue; the alpha byte is not compared).
// A key that is not a colour (a non-zero high byte, such as CLR_INVALID)
// matches nothing. Draws nothing and returns false for non-positive extents.
bool TransparentBlt(const Bitmap& dst, int xd, int yd, int wd, int hd, const Bitmap& src, int xs,
                    int ys, int ws, int hs, ColorRef key);

// BitBlt(dst, 0, 0, under.width, under.height, under, 0, 0) followed by
// TransparentBlt(dst, ...), with the same pixels and result, in one pass
// where under is dst's size. under may be dst itself: the colour key is
// then drawn in place.
bool TransparentBltOver(const Bitmap& dst, const Bitmap& under, int xd, int yd, int wd, int hd, const Bitmap& src,
                        int xs, int ys, int ws, int hs, ColorRef key);

// A colour key with a tolerance, for frames whose key colour a lossy file
// has blurred and mixed into the frame's edge: colour to alpha that
// unmixes. A sample p is read as a mix a * c + (1 - a) * k of the key k and
// a colour c of the frame's own. On each channel its distance from the key
// beyond the noise limit t, over the largest such distance possible in
// that direction,
//     e = max(|p - k| - t, 0) / (R - t),  R = 255 - k where p > k, k where p < k
// (0 where R <= t), is the share of c that channel needs; the largest e
// of the three is the smallest opacity that explains the sample. So a
// sample within t of the key on every channel (compression noise) is
// see-through, and one that is a mix is laid at just its share. A channel
// whose distance reaches the opaque share s of its range,
//     |p - k| >= ceil(t + s * (R - t)),
// makes the sample opaque: the frame's own art, which lies far from the
// key, is laid as it is. Otherwise
//     alpha = rint(255.0f * max(float(max(|p - k| - t, 0)) * (1.0f / float(R - t))))
// (single precision, halves to even). The key's share is then taken out
// and the rest laid over the destination u: every channel, alpha
// included, becomes
//     round((min(max(255 * p - (255 - alpha) * k, 0), 255 * alpha) + (255 - alpha) * u) / 255),
// which is p + (1 - alpha / 255) * (u - k): the key replaced by the
// destination in the proportion it was mixed in; u at alpha 0 and p at
// alpha 255. The key's own high byte counts as 255 in the alpha channel. A
// key with no noise limit (t = 0) is exact: TransparentBlt's rule.
inline constexpr double kOpaqueShare = 0.35;
inline constexpr int kLeanLimit = 24;
struct SoftKey {
    ColorRef colour = 0;
    int noise = 0;                      // t, 0..254
    double opaqueShare = kOpaqueShare;  // s, in (0, 1]
    int lean = kLeanLimit;              // 0..255
    bool exact() const { return noise <= 0; }
};

// TransparentBlt with a soft key; same clipping and refusals.
bool TransparentBlt(const Bitmap& dst, int xd, int yd, int wd, int hd, const Bitmap& src, int xs, int ys, int ws,
                    int hs, const SoftKey& key);
// TransparentBltOver with a soft key.
bool TransparentBltOver(const Bitmap& dst, const Bitmap& under, int xd, int yd, int wd, int hd, const Bitmap& src,
                        int xs, int ys, int ws, int hs, const SoftKey& key);

// Copies src into dst as a picture a camera stored is shown under its Exif
// orientation tag: 1 as it is, 2 mirrored left to right, 3 turned half
// round, 4 mirrored top to bottom, 5 mirrored along the main diagonal
// (transposed), 6 turned a quarter clockwise, 7 mirrored along the other
// diagonal, 8 turned a quarter anticlockwise. dst has src's size, width
// and height swapped for 5 to 8; the two must not overlap. Returns false,
// drawing nothing, for another orientation or size.
bool Orient(const Bitmap& dst, const Bitmap& src, int orientation);

// The pixel at (x, y) as a COLORREF, or CLR_INVALID outside the buffer.
ColorRef GetPixel(const Bitmap& src, int x, int y);

// Reduces the whole of src onto the whole of dst by area averaging: each
// destination pixel is the mean of the source area it covers, a source pixel
// cut by its edge counting with the part it covers, rounded to nearest
// (halves up), every channel alike. A side of dst equal to src's is copied
// straight. Draws nothing and returns false when dst is larger than src on
// either axis or either buffer is empty.
bool ReduceArea(const Bitmap& dst, const Bitmap& src);

// Packs n pixels into the byte order of a 24-bit BMP row: blue, green, red,
// the alpha byte left out. `out` holds 3 * n bytes and nothing past them is
// written.
void PackBgr24(std::uint8_t* out, const Pixel* in, int n);

// The reverse: n pixels from a 24-bit BMP row of 3 * n bytes, each opaque
// (alpha byte 0xff).
void UnpackBgr24(Pixel* out, const std::uint8_t* in, int n);

// Which implementation the entry points above use. Automatic picks the
// fastest one the processor supports; the others exist for tests and
// benchmarks. Reference is the plain per-pixel definition of every primitive.
enum class Implementation { Automatic, Reference, Generic, Avx2 };
void setImplementation(Implementation impl);
Implementation activeImplementation();
bool avx2Supported();

// The per-pixel arithmetic of the alpha blend and the soft key, shared by
// every implementation.
namespace pixel {
// One channel of AlphaBlend with AC_SRC_ALPHA: source s (premultiplied,
// alpha sa) at constant opacity a over destination d.
constexpr unsigned over(unsigned s, unsigned sa, unsigned d, unsigned a)
{
    const unsigned v = (255 * s * a + d * (65025 - sa * a) + 32512) / 65025;
    return v < 255 ? v : 255;
}
// What a soft key's every sample is judged by, worked out once: per
// colour channel (blue, green, red: the byte order of a pixel) and
// direction (index 1 where the sample is above the key), the distance at
// which the sample is opaque (256: never) and 1 / (R - t) (0 where R <= t).
struct SoftKeyLimits {
    Pixel key = 0;  // 0xffRRGGBB
    int noise = 0;
    int opaqueAt[3][2] = {};
    float scale[3][2] = {};
    // The key's hue, for keys that have one: its high channels (>= 128)
    // as 0xff bytes in `high`, its low ones in `low`. A sample leans toward
    // the key by the least of its high channels less the most of its low
    // ones; one that leans by more than `lean` is never taken as opaque.
    // A key that has no hue (grey, white, black: one of the two empty) or
    // barely leans itself has `checksLean` false.
    Pixel high = 0, low = 0;
    int lean = 255;
    bool checksLean = false;
};
SoftKeyLimits softKeyLimits(const SoftKey& key);
// How far p leans toward the key's hue: the least of its high channels
// less the most of its low ones.
inline int leanOf(Pixel p, const SoftKeyLimits& l)
{
    int least = 255, most = 0;
    for (int c = 0; c < 3; ++c) {
        const int pc = int((p >> (8 * c)) & 0xffu);
        if ((l.high >> (8 * c)) & 1u)
            least = std::min(least, pc);
        if ((l.low >> (8 * c)) & 1u)
            most = std::max(most, pc);
    }
    return least - most;
}
// The soft key's alpha of sample p.
inline unsigned softAlpha(Pixel p, const SoftKeyLimits& l)
{
    float e = 0;
    bool opaque = false;
    for (int c = 0; c < 3; ++c) {
        const int pc = int((p >> (8 * c)) & 0xffu), kc = int((l.key >> (8 * c)) & 0xffu);
        const int up = pc > kc ? 1 : 0;
        const int distance = up ? pc - kc : kc - pc;
        opaque = opaque || distance >= l.opaqueAt[c][up];
        e = std::max(e, float(std::max(distance - l.noise, 0)) * l.scale[c][up]);
    }
    if (opaque && (!l.checksLean || leanOf(p, l) <= l.lean))
        return 255;
    return unsigned(std::lrintf(255.0f * e));
}
// One channel of the soft key: sample p, key k, destination u, the sample's alpha.
constexpr unsigned softKeyed(unsigned p, unsigned k, unsigned u, unsigned alpha)
{
    const int taken = int(255 * p) - int((255 - alpha) * k);
    const int own = taken < 0 ? 0 : taken > int(255 * alpha) ? int(255 * alpha) : taken;
    return (unsigned(own) + (255 - alpha) * u + 128) * 257 >> 16;
}
}  // namespace pixel

// The plain per-pixel definitions, always available.
namespace reference {
bool BitBlt(const Bitmap& dst, int x, int y, int w, int h, const Bitmap& src, int xs, int ys);
bool StretchBlt(const Bitmap& dst, int xd, int yd, int wd, int hd, const Bitmap& src, int xs, int ys,
                int ws, int hs);
bool AlphaBlend(const Bitmap& dst, int xd, int yd, int wd, int hd, const Bitmap& src, int xs, int ys,
                int ws, int hs, std::uint32_t blendFunction);
bool AlphaBlendOver(const Bitmap& dst, const Bitmap& under, int xd, int yd, int wd, int hd, const Bitmap& src,
                    int xs, int ys, int ws, int hs, std::uint32_t blendFunction);
bool TransparentBlt(const Bitmap& dst, int xd, int yd, int wd, int hd, const Bitmap& src, int xs,
                    int ys, int ws, int hs, ColorRef key);
bool TransparentBltOver(const Bitmap& dst, const Bitmap& under, int xd, int yd, int wd, int hd, const Bitmap& src,
                        int xs, int ys, int ws, int hs, ColorRef key);
bool TransparentBlt(const Bitmap& dst, int xd, int yd, int wd, int hd, const Bitmap& src, int xs, int ys, int ws,
                    int hs, const SoftKey& key);
bool TransparentBltOver(const Bitmap& dst, const Bitmap& under, int xd, int yd, int wd, int hd, const Bitmap& src,
                        int xs, int ys, int ws, int hs, const SoftKey& key);
bool ReduceArea(const Bitmap& dst, const Bitmap& src);
bool Orient(const Bitmap& dst, const Bitmap& src, int orientation);
}  // namespace reference

}  // namespace tarvex::raster
