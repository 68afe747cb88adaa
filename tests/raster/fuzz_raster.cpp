// libFuzzer target: the input chooses the buffers' sizes, strides and
// pixels, a primitive and its rectangle; every fast implementation must give
// the reference's pixels and leave the fences around both buffers intact.
// Operation 4 is the area reduction of the whole source onto the whole target
// (sometimes from a source hundreds of rows tall), 5 the blend over a
// restored picture, 6 and 7 the colour key over a restored picture or in
// place, 8 and 9 the soft key (colour to alpha) stretched or over a
// restored picture, 10 the turn of the whole source by an orientation tag
// (into a target of its size or its transposed size). The blends take
// premultiplied sources with their own alpha as often as opaque ones.
#include <cstring>

#include "pixel_buffer.h"
#include "raster/raster.h"

using namespace tarvex;

namespace {

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    template <typename T>
    T take()
    {
        T v{};
        const std::size_t n = size < sizeof(T) ? size : sizeof(T);
        std::memcpy(&v, data, n);
        data += n, size -= n;
        return v;
    }
};

bool apply(int op, testing::PixelBuffer& d, testing::PixelBuffer& s, const int* a, std::uint32_t extra,
           bool reference)
{
    namespace R = raster;
    const R::Bitmap db = d.bitmap(), sb = s.bitmap();
    switch (op) {
    case 0: return reference ? R::reference::BitBlt(db, a[0], a[1], a[2], a[3], sb, a[4], a[5])
                             : R::BitBlt(db, a[0], a[1], a[2], a[3], sb, a[4], a[5]);
    case 1: return reference ? R::reference::StretchBlt(db, a[0], a[1], a[2], a[3], sb, a[4], a[5], a[6], a[7])
                             : R::StretchBlt(db, a[0], a[1], a[2], a[3], sb, a[4], a[5], a[6], a[7]);
    case 2: return reference ? R::reference::AlphaBlend(db, a[0], a[1], a[2], a[3], sb, a[4], a[5], a[6], a[7], extra)
                             : R::AlphaBlend(db, a[0], a[1], a[2], a[3], sb, a[4], a[5], a[6], a[7], extra);
    case 4: return reference ? R::reference::ReduceArea(db, sb) : R::ReduceArea(db, sb);
    case 5: {  // restored from the source, blended over with itself: enough to cross every path
        return reference ? R::reference::AlphaBlendOver(db, sb, a[0], a[1], a[2], a[3], sb, a[4], a[5], a[6], a[7], extra)
                         : R::AlphaBlendOver(db, sb, a[0], a[1], a[2], a[3], sb, a[4], a[5], a[6], a[7], extra);
    }
    case 6:
    case 7: {  // the key over the source, or in place
        const R::Bitmap under = op == 7 ? db : sb;
        return reference ? R::reference::TransparentBltOver(db, under, a[0], a[1], a[2], a[3], sb, a[4], a[5], a[6], a[7], extra)
                         : R::TransparentBltOver(db, under, a[0], a[1], a[2], a[3], sb, a[4], a[5], a[6], a[7], extra);
    }
    case 8:
    case 9: {
        // The opaque share and the lean limit from the high bytes of the
        // source's extents, so that every value of each is reached.
        const R::SoftKey key{extra & 0x00ffffffu, int(extra >> 24) % 64, double((a[7] >> 8) & 0xff) / 255,
                             int(a[6] >> 8) & 0xff};
        if (op == 8)
            return reference ? R::reference::TransparentBlt(db, a[0], a[1], a[2], a[3], sb, a[4], a[5], a[6], a[7], key)
                             : R::TransparentBlt(db, a[0], a[1], a[2], a[3], sb, a[4], a[5], a[6], a[7], key);
        return reference ? R::reference::TransparentBltOver(db, sb, a[0], a[1], a[2], a[3], sb, a[4], a[5], a[6], a[7], key)
                         : R::TransparentBltOver(db, sb, a[0], a[1], a[2], a[3], sb, a[4], a[5], a[6], a[7], key);
    }
    case 10: return reference ? R::reference::Orient(db, sb, a[0] & 15) : R::Orient(db, sb, a[0] & 15);
    default: return reference ? R::reference::TransparentBlt(db, a[0], a[1], a[2], a[3], sb, a[4], a[5], a[6], a[7], extra)
                              : R::TransparentBlt(db, a[0], a[1], a[2], a[3], sb, a[4], a[5], a[6], a[7], extra);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in{data, size};
    const int dw = in.take<std::uint8_t>() % 80, dh = in.take<std::uint8_t>() % 40;
    const int sw = in.take<std::uint8_t>() % 80;
    int sh = in.take<std::uint8_t>() % 40;
    const int op = in.take<std::uint8_t>() % 11;
    if (op == 4 && sh % 4 == 0)  // a reduction whose rows weigh past 16-bit sums
        sh = 128 + in.take<std::uint16_t>() % 400;
    int args[8];
    for (int& a : args) {
        // Mostly small numbers near the buffers, sometimes any 32-bit value.
        const auto raw = in.take<std::int32_t>();
        a = (raw & 0x100) ? raw : (std::int8_t(raw & 0xff));
    }
    std::uint32_t extra = in.take<std::uint32_t>();
    const bool blend = op == 2 || op == 5;
    if (blend && (extra & 0x1000))
        extra &= 0x01ff0000u;  // mostly a valid blend function, with or without the source's alpha
    // A turn mostly gets a target that fits: the source's size, or swapped.
    const bool fits = op == 10 && (extra & 0x4000);
    const bool swapped = (args[0] & 15) >= 5;
    testing::PixelBuffer src(sw, sh, in.take<std::uint8_t>() % 5),
        dst(fits ? (swapped ? sh : sw) : dw, fits ? (swapped ? sw : sh) : dh, in.take<std::uint8_t>() % 5);
    const std::uint32_t palette[4] = {0xff000000u | in.take<std::uint32_t>(), 0xff00ff00u,
                                      0xff000000u | in.take<std::uint32_t>(), 0xffffffffu};
    const bool premultiplied = blend && (extra >> 24) == raster::AC_SRC_ALPHA;
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) {
            const std::uint8_t pick = in.take<std::uint8_t>();
            src.at(x, y) = palette[pick % 4];
            if (premultiplied) {  // alpha from the input, colours within it
                const raster::Pixel a = pick;
                raster::Pixel p = a << 24;
                for (int shift = 0; shift < 24; shift += 8)
                    p |= (((palette[pick % 4] >> shift) & 0xffu) * a / 255) << shift;
                src.at(x, y) = p;
            } else if (op >= 8 && (pick & 0x80)) {  // near the key, as lossy files leave it
                src.at(x, y) = 0xff000000u | (raster::fromColorRef(extra & 0x00ffffffu) ^ (pick & 0x1f));
            }
        }
    if (op == 3 && (extra & 0x2000))
        extra = raster::toColorRef(palette[extra % 4]);

    testing::PixelBuffer expected = dst;
    const bool want = apply(op, expected, src, args, extra, true);
    for (auto impl : {raster::Implementation::Generic, raster::Implementation::Avx2}) {
        if (impl == raster::Implementation::Avx2 && !raster::avx2Supported())
            continue;
        raster::setImplementation(impl);
        testing::PixelBuffer got = dst;
        const bool result = apply(op, got, src, args, extra, false);
        if (result != want || !(got == expected) || !got.fenceIntact())
            __builtin_trap();
    }
    return 0;
}
