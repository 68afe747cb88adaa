// Colour conversions between the profiles photos come with agree with
// Little CMS's floating-point ones, level for level within one, over every
// level of each channel alone, of greys, and over a grid of all colours;
// and so do premultiplied pixels with any alpha.
#include <QtTest>

#include <QColorSpace>
#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include <lcms2.h>

#include "formats/colour_profile.h"

using namespace tarvex;

namespace {

QByteArray iccOf(QColorSpace::NamedColorSpace space)
{
    return space == QColorSpace::SRgb ? QByteArray() : QColorSpace(space).iccProfile();
}

// The pixels every conversion is checked on: each level of red, green,
// blue and grey alone, and a grid over all colours.
std::vector<std::uint32_t> testColours()
{
    std::vector<std::uint32_t> colours;
    for (std::uint32_t v = 0; v < 256; ++v)
        for (std::uint32_t c : {v << 16, v << 8, v, v * 0x010101u})
            colours.push_back(0xff000000u | c);
    for (std::uint32_t r = 0; r < 256; r += 5)
        for (std::uint32_t g = 0; g < 256; g += 5)
            for (std::uint32_t b = 0; b < 256; b += 5)
                colours.push_back(0xff000000u | r << 16 | g << 8 | b);
    return colours;
}

// The same pixels as Little CMS converts them in floating point, where its
// 8-bit path is the less exact one (near black for a pure gamma curve, and
// with premultiplied pixels): divided by their alpha, converted, multiplied
// again and rounded.
std::vector<std::uint32_t> littleCms(const std::vector<std::uint32_t>& in, const QByteArray& from,
                                     const QByteArray& to, bool premultiplied)
{
    const auto open = [](const QByteArray& icc) {
        return icc.isEmpty() ? cmsCreate_sRGBProfile() : cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size()));
    };
    cmsHPROFILE a = open(from), b = open(to);
    cmsHTRANSFORM t = cmsCreateTransform(a, TYPE_RGB_FLT, b, TYPE_RGB_FLT, INTENT_RELATIVE_COLORIMETRIC, 0);
    std::vector<std::uint32_t> out;
    for (const std::uint32_t p : in) {
        const float alpha = premultiplied ? float(p >> 24) / 255 : 1.0f;
        float rgb[3], converted[3];
        for (int c = 0; c < 3; ++c)
            rgb[c] = alpha > 0 ? std::min(1.0f, float((p >> (16 - 8 * c)) & 0xffu) / 255 / alpha) : 0.0f;
        cmsDoTransform(t, rgb, converted, 1);
        std::uint32_t q = p & 0xff000000u;
        for (int c = 0; c < 3; ++c)
            q |= std::uint32_t(std::lround(std::clamp(converted[c], 0.0f, 1.0f) * alpha * 255)) << (16 - 8 * c);
        out.push_back(q);
    }
    cmsDeleteTransform(t);
    cmsCloseProfile(a);
    cmsCloseProfile(b);
    return out;
}

std::vector<std::uint32_t> ours(const std::vector<std::uint32_t>& in, const QByteArray& from, const QByteArray& to,
                                bool premultiplied)
{
    // One row: the pixels in order, so that runs of one colour are met too.
    const QImage image(reinterpret_cast<const uchar*>(in.data()), int(in.size()), 1, int(in.size() * 4),
                       premultiplied ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    const QImage out = colour::converted(image, from, to);
    const auto* row = reinterpret_cast<const std::uint32_t*>(out.constScanLine(0));
    return {row, row + in.size()};
}

// The largest difference of one channel, alpha included, and where; and
// the share of channels that differ at all.
QString largestDifference(const std::vector<std::uint32_t>& in, const std::vector<std::uint32_t>& a,
                          const std::vector<std::uint32_t>& b, int& largest, double& differing)
{
    largest = 0;
    QString where;
    qint64 count = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        for (int shift = 0; shift < 32; shift += 8) {
            const int d = std::abs(int((a[i] >> shift) & 0xffu) - int((b[i] >> shift) & 0xffu));
            count += d > 0;
            if (d > largest) {
                largest = d;
                where = QStringLiteral("%1 became %2, Little CMS %3")
                            .arg(in[i], 8, 16, QLatin1Char('0'))
                            .arg(a[i], 8, 16, QLatin1Char('0'))
                            .arg(b[i], 8, 16, QLatin1Char('0'));
            }
        }
    differing = double(count) / double(a.size() * 3);
    return where;
}

}  // namespace

class TestColourConversion : public QObject {
    Q_OBJECT

private slots:
    void agreesWithLittleCms_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        const QByteArray srgb, p3 = iccOf(QColorSpace::DisplayP3), adobe = iccOf(QColorSpace::AdobeRgb),
                               proPhoto = iccOf(QColorSpace::ProPhotoRgb);
        const colour::Chromaticities rec709{{0.3127, 0.3290}, {0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}};
        const QByteArray linear = colour::profileFrom(rec709, colour::Transfer::Linear);
        const QByteArray video = colour::profileFrom(rec709, colour::Transfer::Bt709);
        QVERIFY(!p3.isEmpty() && !linear.isEmpty() && !video.isEmpty());
        QTest::newRow("sRGB frame into a Display P3 photo") << srgb << p3;
        QTest::newRow("Display P3 photo shown in sRGB") << p3 << srgb;
        QTest::newRow("sRGB into Adobe RGB (a pure gamma)") << srgb << adobe;
        QTest::newRow("ProPhoto into sRGB (gamma 1.8, clipped)") << proPhoto << srgb;
        const colour::Chromaticities bt2020{{0.3127, 0.3290}, {0.708, 0.292}, {0.170, 0.797}, {0.131, 0.046}};
        QTest::newRow("sRGB into BT.2020") << srgb << colour::profileFrom(bt2020, colour::Transfer::Bt709);
        QTest::newRow("sRGB into linear light") << srgb << linear;
        QTest::newRow("linear light into sRGB") << linear << srgb;
        QTest::newRow("BT.709 video into Display P3") << video << p3;
    }

    void agreesWithLittleCms()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        const std::vector<std::uint32_t> in = testColours();
        int largest = 0;
        double differing = 0;
        const QString where =
            largestDifference(in, ours(in, from, to, false), littleCms(in, from, to, false), largest, differing);
        QVERIFY2(largest <= 1, qPrintable(where));
        // Off by one only where the exact value lies near half a level,
        // not as a rounding that leans one way.
        QVERIFY2(differing < 0.02, qPrintable(QString::number(differing)));
    }

    void premultipliedPixelsAgreeWithLittleCms()
    {
        const QByteArray p3 = iccOf(QColorSpace::DisplayP3);
        std::vector<std::uint32_t> in;
        for (std::uint32_t a = 0; a < 256; a += 3)
            for (std::uint32_t c : {0xff0000u, 0x00ff00u, 0x0000ffu, 0x808080u, 0xffffffu, 0x20c060u}) {
                std::uint32_t p = a << 24;
                for (int shift = 0; shift < 24; shift += 8)
                    p |= (((c >> shift) & 0xffu) * a + 127) / 255 << shift;
                in.push_back(p);
            }
        int largest = 0;
        double differing = 0;
        const QString where = largestDifference(in, ours(in, QByteArray(), p3, true),
                                                littleCms(in, QByteArray(), p3, true), largest, differing);
        QVERIFY2(largest <= 1, qPrintable(where));
        // A pixel divided by its alpha is rounded to a level before it is
        // converted, so more of them are one level off.
        QVERIFY2(differing < 0.1, qPrintable(QString::number(differing)));
    }

    // A damaged profile whose curve is no number anywhere: its pictures
    // convert without a read outside any table (the sanitizer build
    // checks), and every pixel comes out a colour.
    void curvesThatAreNoNumbersConvertSafely()
    {
        const cmsFloat64Number broken[1] = {std::nan("")};
        cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 1, broken);
        QVERIFY(curve);
        cmsToneCurve* curves[3] = {curve, curve, curve};
        const cmsCIExyY white{0.3127, 0.3290, 1.0};
        const cmsCIExyYTRIPLE primaries{{0.68, 0.32, 1.0}, {0.265, 0.69, 1.0}, {0.15, 0.06, 1.0}};
        cmsHPROFILE h = cmsCreateRGBProfile(&white, &primaries, curves);
        cmsFreeToneCurve(curve);
        QVERIFY(h);
        cmsUInt32Number size = 0;
        cmsSaveProfileToMem(h, nullptr, &size);
        QByteArray icc(qsizetype(size), Qt::Uninitialized);
        cmsSaveProfileToMem(h, icc.data(), &size);
        cmsCloseProfile(h);
        const std::vector<std::uint32_t> in = testColours();
        const std::vector<std::uint32_t> out = ours(in, icc, QByteArray(), false);
        QCOMPARE(out.size(), in.size());
        for (const std::uint32_t p : out)
            QCOMPARE(p >> 24, 0xffu);
    }
};

QTEST_GUILESS_MAIN(TestColourConversion)
#include "tst_colour_conversion.moc"
