#include "colour_profile.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <list>
#include <mutex>
#include <tuple>
#include <vector>

#include <lcms2.h>

#include "image_buffers.h"
#include "matrix_shaper.h"
#include "raster/bands.h"

namespace tarvex::colour {

namespace {

struct ProfileCloser {
    void operator()(void* h) const { cmsCloseProfile(h); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

Profile opened(const QByteArray& icc)
{
    if (icc.isEmpty())
        return Profile(cmsCreate_sRGBProfile());
    return Profile(cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size())));
}

// A conversion between two profiles: our own where both are matrix-shaper
// ones, Little CMS's for the rest. Without its one-pixel cache, Little
// CMS's transform may serve several threads at once, as ours does.
class Conversion {
public:
    Conversion(cmsHPROFILE in, cmsHPROFILE out, bool premultiplied) : premultiplied_(premultiplied)
    {
        shaper_ = MatrixShaper::between(in, out);
        if (shaper_)
            return;
        const cmsUInt32Number type = premultiplied ? TYPE_BGRA_8_PREMUL : TYPE_BGRA_8;
        general_ = cmsCreateTransform(in, type, out, type, INTENT_RELATIVE_COLORIMETRIC,
                                      cmsFLAGS_COPY_ALPHA | cmsFLAGS_NOCACHE);
    }
    ~Conversion()
    {
        if (general_)
            cmsDeleteTransform(general_);
    }
    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;

    bool valid() const { return shaper_ || general_; }

    void convert(const void* in, void* out, int count) const
    {
        if (shaper_)
            shaper_->convert(static_cast<const std::uint32_t*>(in), static_cast<std::uint32_t*>(out), count,
                             premultiplied_);
        else
            cmsDoTransform(general_, in, out, cmsUInt32Number(count));
    }

private:
    bool premultiplied_;
    std::unique_ptr<MatrixShaper> shaper_;
    cmsHTRANSFORM general_ = nullptr;
};

// Deleted when the last user lets go of it.
using Transform = std::shared_ptr<const Conversion>;

// One transform per pair of profiles and pixel kind, made once: making one
// costs milliseconds. The last few used are kept, so a stream of photos
// with profiles of their own holds no more than these.
class Transforms {
public:
    static Transforms& shared()
    {
        static Transforms transforms;
        return transforms;
    }
    Transform get(const QByteArray& from, const QByteArray& to, bool premultiplied)
    {
        const std::lock_guard lock(mutex_);
        for (auto it = made_.begin(); it != made_.end(); ++it)
            if (it->premultiplied == premultiplied && it->from == from && it->to == to) {
                made_.splice(made_.begin(), made_, it);  // used last: kept longest
                return it->transform;
            }
        const Profile in = opened(from), out = opened(to);
        Transform t;
        if (in && out) {
            auto made = std::make_shared<const Conversion>(in.get(), out.get(), premultiplied);
            if (made->valid())
                t = made;
        }
        // The profiles are copied: a caller's bytes may be gone by the next call.
        made_.push_front({QByteArray(from.constData(), from.size()), QByteArray(to.constData(), to.size()), premultiplied, t});
        if (made_.size() > kKept)
            made_.pop_back();
        return t;
    }

private:
    static constexpr std::size_t kKept = 16;
    struct Entry {
        QByteArray from, to;
        bool premultiplied;
        Transform transform;
    };
    std::mutex mutex_;
    std::list<Entry> made_;
};

// Whether the profile describes sRGB: every colour of a grid goes through
// a conversion to sRGB unchanged, within the one level rounding allows.
bool actsAsSrgb(const QByteArray& icc)
{
    const Transform t = Transforms::shared().get(icc, QByteArray(), false);
    if (!t)
        return false;
    std::vector<std::uint32_t> grid;
    for (int r = 0; r < 256; r += 17)
        for (int g = 0; g < 256; g += 17)
            for (int b = 0; b < 256; b += 17)
                grid.push_back(0xff000000u | std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b));
    std::vector<std::uint32_t> out(grid.size());
    t->convert(grid.data(), out.data(), int(grid.size()));
    for (std::size_t i = 0; i < grid.size(); ++i)
        for (int shift = 0; shift < 24; shift += 8)
            if (std::abs(int((grid[i] >> shift) & 0xffu) - int((out[i] >> shift) & 0xffu)) > 1)
                return false;
    return true;
}

QByteArray saved(cmsHPROFILE h)
{
    cmsUInt32Number size = 0;
    if (!h || !cmsSaveProfileToMem(h, nullptr, &size) || size == 0)
        return {};
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    if (!cmsSaveProfileToMem(h, bytes.data(), &size))
        return {};
    return bytes;
}

cmsToneCurve* curveFor(Transfer transfer)
{
    switch (transfer) {
    case Transfer::Srgb: {
        const cmsFloat64Number p[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
        return cmsBuildParametricToneCurve(nullptr, 4, p);
    }
    case Transfer::Bt709: {
        const cmsFloat64Number p[5] = {1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081};
        return cmsBuildParametricToneCurve(nullptr, 4, p);
    }
    case Transfer::Gamma22: return cmsBuildGamma(nullptr, 2.2);
    case Transfer::Gamma28: return cmsBuildGamma(nullptr, 2.8);
    case Transfer::Linear: return cmsBuildGamma(nullptr, 1.0);
    }
    return nullptr;
}

// Rows [first, last) of `from` converted into the same rows of `to`.
void transformRows(const Conversion& t, const QImage& from, QImage& to, int first, int last)
{
    for (int y = first; y < last; ++y)
        t.convert(from.constScanLine(y), to.scanLine(y), from.width());
}

// The whole image, over every core when it is large.
void transformImage(const Conversion& t, const QImage& from, QImage& to)
{
    constexpr qint64 kBandedPixels = qint64(1) << 20;
    const int rows = from.height();
    const int bands = qint64(from.width()) * rows >= kBandedPixels ? std::min(4 * raster::detail::availableBands(), rows) : 1;
    raster::detail::runBands(bands, [&](int b) {
        transformRows(t, from, to, int(qint64(rows) * b / bands), int(qint64(rows) * (b + 1) / bands));
    });
}

bool convertible(const QImage& image)
{
    return image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32_Premultiplied;
}

}  // namespace

QByteArray pictureProfile(const QByteArray& icc)
{
    if (icc.isEmpty() || icc == srgb())
        return {};
    const Profile h = opened(icc);
    if (!h || cmsGetColorSpace(h.get()) != cmsSigRgbData || !(cmsGetDeviceClass(h.get()) == cmsSigInputClass ||
                                                               cmsGetDeviceClass(h.get()) == cmsSigDisplayClass ||
                                                               cmsGetDeviceClass(h.get()) == cmsSigColorSpaceClass))
        return {};
    return actsAsSrgb(icc) ? QByteArray() : icc;
}

QByteArray profileOf(const QColorSpace& space)
{
    if (!space.isValid() || space == QColorSpace(QColorSpace::SRgb))
        return {};
    return pictureProfile(space.iccProfile());
}

QByteArray profileFrom(const Chromaticities& c, Transfer transfer)
{
    const cmsCIExyY white{c.white[0], c.white[1], 1.0};
    const cmsCIExyYTRIPLE primaries{{c.red[0], c.red[1], 1.0}, {c.green[0], c.green[1], 1.0}, {c.blue[0], c.blue[1], 1.0}};
    cmsToneCurve* curve = curveFor(transfer);
    if (!curve)
        return {};
    cmsToneCurve* curves[3] = {curve, curve, curve};
    const Profile h(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    return h ? pictureProfile(saved(h.get())) : QByteArray();
}

QByteArray srgb()
{
    static const QByteArray profile = QColorSpace(QColorSpace::SRgb).iccProfile();
    return profile;
}

QString describe(const QByteArray& profile)
{
    if (profile.isEmpty())
        return QStringLiteral("sRGB");
    const Profile h = opened(profile);
    char text[256] = {};
    if (!h || cmsGetProfileInfoASCII(h.get(), cmsInfoDescription, "en", "US", text, sizeof text) == 0)
        return QStringLiteral("?");
    return QString::fromLatin1(text);
}

QImage converted(const QImage& image, const QByteArray& from, const QByteArray& to)
{
    if (from == to || image.isNull() || !convertible(image))
        return image;
    const Transform t = Transforms::shared().get(from, to, image.format() == QImage::Format_ARGB32_Premultiplied);
    if (!t)
        return image;
    QImage out = uninitialisedImage(image.size(), image.format());  // every row is written
    if (out.isNull())
        return image;
    transformImage(*t, image, out);
    out.setDotsPerMeterX(image.dotsPerMeterX());
    out.setDotsPerMeterY(image.dotsPerMeterY());
    return out;
}

void convertInPlace(QImage& image, const QByteArray& from, const QByteArray& to)
{
    if (from == to || image.isNull() || !convertible(image))
        return;
    if (const Transform t = Transforms::shared().get(from, to, image.format() == QImage::Format_ARGB32_Premultiplied))
        transformImage(*t, image, image);
}

QImage convertedOnce(const QImage& image, const QByteArray& from, const QByteArray& to)
{
    if (from == to)
        return image;
    struct Entry {
        qint64 key;
        QByteArray from, to;
        QImage result;
    };
    static std::mutex mutex;
    static std::deque<Entry> kept;
    constexpr std::size_t kKept = 2;
    const std::lock_guard lock(mutex);
    for (const Entry& e : kept)
        if (e.key == image.cacheKey() && e.from == from && e.to == to)
            return e.result;
    QImage result = converted(image, from, to);
    kept.push_back({image.cacheKey(), QByteArray(from.constData(), from.size()), QByteArray(to.constData(), to.size()), result});
    if (kept.size() > kKept)
        kept.pop_front();
    return result;
}

}  // namespace tarvex::colour
