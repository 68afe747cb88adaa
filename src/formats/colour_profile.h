#pragma once
// The colour spaces pictures come in, as ICC profiles, and conversions
// between them: our own between matrix-shaper profiles (matrix_shaper.h),
// Little CMS's for the rest. A picture keeps the numbers its file holds;
// its profile says what they mean. sRGB, the space of every picture
// without a profile of its own, is held as the empty profile, so pictures
// in it compare equal and are never converted: their results stay the
// same to the bit.
#include <QByteArray>
#include <QColorSpace>
#include <QImage>

namespace tarvex::colour {

// `icc` as a picture's profile: empty where it describes sRGB or is of no
// use (not an RGB profile that can be opened).
QByteArray pictureProfile(const QByteArray& icc);

// The profile of a colour space Qt read with a picture (an embedded ICC
// profile, or a PNG's gAMA and cHRM); empty for sRGB or none.
QByteArray profileOf(const QColorSpace& space);

// A profile made from a colour description: the chromaticities of the
// white point and the three primaries (x, y each) and one of these
// transfer curves. Empty for sRGB or where it cannot be made.
enum class Transfer { Srgb, Bt709, Gamma22, Gamma28, Linear };
struct Chromaticities {
    double white[2], red[2], green[2], blue[2];
};
QByteArray profileFrom(const Chromaticities& c, Transfer transfer);

// The sRGB profile, for results whose pixels are in sRGB.
QByteArray srgb();

// A short name for a profile's colour space, for messages and tests (its
// description, "sRGB" for the empty profile).
QString describe(const QByteArray& profile);

// The 32-bit image (RGB32, or premultiplied ARGB32 whose alpha is kept)
// with its colours converted from the space of `from` to that of `to`
// (relative colorimetric: the colours one space shares with the other stay
// as they are, the rest are clipped). The image itself, not copied, where
// the two profiles are the same; and where the conversion cannot be made.
QImage converted(const QImage& image, const QByteArray& from, const QByteArray& to);

// The same conversion in place, into the image's own pixels.
void convertInPlace(QImage& image, const QByteArray& from, const QByteArray& to);

// converted(), remembered: an image (told by its pixels' identity) asked
// for again in the same two spaces is converted once, as a frame laid over
// photo after photo of one colour space is. A few are kept, the oldest let
// go first (two of them: each is as large as its picture). Safe on several
// threads at once.
QImage convertedOnce(const QImage& image, const QByteArray& from, const QByteArray& to);

}  // namespace tarvex::colour
