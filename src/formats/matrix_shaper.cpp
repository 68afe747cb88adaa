#include "matrix_shaper.h"

#include <algorithm>
#include <cmath>

namespace tarvex::colour {

namespace {

using Matrix = std::array<std::array<double, 3>, 3>;

struct Shaper {
    std::array<const cmsToneCurve*, 3> curves;
    Matrix primaries;  // columns: the XYZ of red, green and blue
};

bool readShaper(cmsHPROFILE h, Shaper& s)
{
    if (!h || cmsGetColorSpace(h) != cmsSigRgbData || !cmsIsMatrixShaper(h))
        return false;
    const cmsTagSignature colorants[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    const cmsTagSignature curves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    for (int c = 0; c < 3; ++c) {
        const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(h, colorants[c]));
        s.curves[std::size_t(c)] = static_cast<const cmsToneCurve*>(cmsReadTag(h, curves[c]));
        if (!xyz || !s.curves[std::size_t(c)] || !cmsIsToneCurveMonotonic(s.curves[std::size_t(c)]))
            return false;
        s.primaries[0][std::size_t(c)] = xyz->X;
        s.primaries[1][std::size_t(c)] = xyz->Y;
        s.primaries[2][std::size_t(c)] = xyz->Z;
    }
    return true;
}

bool inverted(const Matrix& m, Matrix& inverse)
{
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    if (std::abs(det) < 1e-12)
        return false;
    for (std::size_t r = 0; r < 3; ++r)
        for (std::size_t c = 0; c < 3; ++c) {
            // The cofactor of (c, r), over the determinant.
            const std::size_t r0 = (c + 1) % 3, r1 = (c + 2) % 3, c0 = (r + 1) % 3, c1 = (r + 2) % 3;
            inverse[r][c] = (m[r0][c0] * m[r1][c1] - m[r0][c1] * m[r1][c0]) / det;
        }
    return true;
}

// Level k is the nearest to linear light v between the points where the
// curve passes k - 0.5 and k + 0.5: each step takes the level whose span
// holds it, as rounding the inverse curve would.
std::vector<std::uint8_t> levelsOf(const cmsToneCurve* curve, int steps)
{
    std::vector<std::uint8_t> levels(std::size_t(steps) + 1);
    int level = 0;
    float upTo = cmsEvalToneCurveFloat(curve, 0.5f / 255);
    for (int i = 0; i <= steps; ++i) {
        const float v = float(i) / float(steps);
        while (level < 255 && v >= upTo)
            upTo = ++level < 255 ? cmsEvalToneCurveFloat(curve, (float(level) + 0.5f) / 255) : 2.0f;
        levels[std::size_t(i)] = std::uint8_t(level);
    }
    return levels;
}

}  // namespace

std::unique_ptr<MatrixShaper> MatrixShaper::between(cmsHPROFILE from, cmsHPROFILE to)
{
    Shaper in, out;
    Matrix back;
    if (!readShaper(from, in) || !readShaper(to, out) || !inverted(out.primaries, back))
        return nullptr;
    auto shaper = std::unique_ptr<MatrixShaper>(new MatrixShaper);
    for (std::size_t r = 0; r < 3; ++r)
        for (std::size_t c = 0; c < 3; ++c) {
            double sum = 0;
            for (std::size_t k = 0; k < 3; ++k)
                sum += back[r][k] * in.primaries[k][c];
            shaper->matrix_[r][c] = float(sum);
        }
    for (std::size_t c = 0; c < 3; ++c) {
        for (int v = 0; v < 256; ++v)
            shaper->linear_[c][std::size_t(v)] = cmsEvalToneCurveFloat(in.curves[c], float(v) / 255);
        shaper->level_[c] = levelsOf(out.curves[c], kSteps);
    }
    // A damaged profile can give curves or colorants that are not numbers
    // at all: Little CMS, which checks its own way, converts those.
    for (const auto& row : shaper->matrix_)
        for (const float m : row)
            if (!std::isfinite(m))
                return nullptr;
    for (const auto& curve : shaper->linear_)
        for (const float v : curve)
            if (!std::isfinite(v))
                return nullptr;
    return shaper;
}

std::uint32_t MatrixShaper::opaque(std::uint32_t pixel) const
{
    const float rgb[3] = {linear_[0][(pixel >> 16) & 0xffu], linear_[1][(pixel >> 8) & 0xffu],
                          linear_[2][pixel & 0xffu]};
    std::uint32_t result = 0;
    for (std::size_t c = 0; c < 3; ++c) {
        const float sum = matrix_[c][0] * rgb[0] + matrix_[c][1] * rgb[1] + matrix_[c][2] * rgb[2];
        const float v = sum > 0.0f ? std::min(sum, 1.0f) : 0.0f;  // a sum that is no number reads as 0
        result = result << 8 | level_[c][std::size_t(v * float(kSteps) + 0.5f)];
    }
    return result;
}

void MatrixShaper::convert(const std::uint32_t* in, std::uint32_t* out, int count, bool premultiplied) const
{
    // Pictures have runs of one colour (a frame's flat areas, its window):
    // the last pixel converted is remembered.
    std::uint32_t lastIn = 0, lastOut = 0;
    bool remembered = false;
    for (int i = 0; i < count; ++i) {
        const std::uint32_t p = in[i];
        if (remembered && p == lastIn) {
            out[i] = lastOut;
            continue;
        }
        const std::uint32_t a = p >> 24;
        std::uint32_t q;
        if (!premultiplied || a == 255) {
            q = (p & 0xff000000u) | opaque(p);
        } else if (a == 0) {
            q = p;
        } else {
            std::uint32_t straight = 0;
            for (int shift = 16; shift >= 0; shift -= 8)
                straight |= std::min(255u, (((p >> shift) & 0xffu) * 255 + a / 2) / a) << shift;
            const std::uint32_t converted = opaque(straight);
            q = a << 24;
            for (int shift = 16; shift >= 0; shift -= 8)
                q |= ((((converted >> shift) & 0xffu) * a + 127) / 255) << shift;
        }
        out[i] = q;
        lastIn = p;
        lastOut = q;
        remembered = true;
    }
}

}  // namespace tarvex::colour
