#pragma once
// Conversions between two RGB profiles that are each three tone curves and
// a matrix of primaries, as those of photos and screens mostly are (sRGB,
// Display P3, Adobe RGB, ProPhoto): the profiles' own curves tabulated and
// one 3 x 3 matrix between them. Little CMS runs such a conversion through
// its general 16-bit pipeline at about 10 ns a pixel; this one takes a
// fraction of that, which a 12-megapixel frame laid over a wide-gamut photo
// feels, and agrees with it within one level.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include <lcms2.h>

namespace tarvex::colour {

class MatrixShaper {
public:
    // The relative colorimetric conversion from `from` to `to`; null where
    // either profile is not an RGB matrix-shaper one.
    static std::unique_ptr<MatrixShaper> between(cmsHPROFILE from, cmsHPROFILE to);

    // `count` pixels of 0xAARRGGBB, converted from `in` into `out` (which may
    // be `in`), their alpha kept. Premultiplied pixels are divided by their
    // alpha, converted and multiplied again.
    void convert(const std::uint32_t* in, std::uint32_t* out, int count, bool premultiplied) const;

private:
    // Linear light is looked up at this many steps over [0, 1]: fine enough
    // that a pure gamma curve's steep start still rounds to the right level.
    static constexpr int kSteps = 65535;

    std::uint32_t opaque(std::uint32_t pixel) const;

    std::array<std::array<float, 256>, 3> linear_{};  // per channel: level to linear light
    std::array<std::array<float, 3>, 3> matrix_{};    // linear source to linear destination
    std::array<std::vector<std::uint8_t>, 3> level_;  // per channel: linear step to level
};

}  // namespace tarvex::colour
