#pragma once
// Shared by the raster tests: grey pixels, running a check on every
// implementation, and results measured against a formula worked out in
// doubles.
#include <QtTest>

#include <cmath>
#include <vector>

#include "pixel_buffer.h"
#include "raster/raster.h"

namespace tarvex::testing {

using raster::Implementation;
using raster::Pixel;

inline Pixel grey(unsigned v)
{
    return 0xff000000u | v << 16 | v << 8 | v;
}

// Runs the body once per fast implementation the machine has, then goes
// back to the automatic choice.
template <typename Body>
void forEachImplementation(Body body, bool withReference = false)
{
    std::vector<Implementation> impls{Implementation::Generic};
    if (raster::avx2Supported())
        impls.push_back(Implementation::Avx2);
    if (withReference)
        impls.push_back(Implementation::Reference);
    for (Implementation impl : impls) {
        raster::setImplementation(impl);
        body(impl);
    }
    raster::setImplementation(Implementation::Automatic);
}

inline double channel(Pixel p, int c)
{
    return double((p >> (8 * c)) & 0xffu);
}

// Runs `draw` on a copy of `base` with every implementation: each result
// must be within 1 of `exact` on every channel, fast paths identical to
// each other, and the fences intact.
template <typename Draw, typename Exact>
void checkAgainstExact(const PixelBuffer& base, Draw draw, Exact exact, const QString& what)
{
    std::vector<PixelBuffer> results;
    forEachImplementation(
        [&](Implementation impl) {
            PixelBuffer dst = base;
            draw(dst);
            QVERIFY(dst.fenceIntact());
            for (int y = 0; y < dst.height(); ++y)
                for (int x = 0; x < dst.width(); ++x)
                    for (int c = 0; c < 4; ++c) {
                        const double want = exact(x, y, c);
                        const int got = int((dst.at(x, y) >> (8 * c)) & 0xffu);
                        if (std::abs(got - want) > 1.0)
                            QFAIL(qPrintable(QStringLiteral("%1, impl %2, pixel %3,%4 channel %5: %6, exact %7")
                                                 .arg(what).arg(int(impl)).arg(x).arg(y).arg(c).arg(got).arg(want)));
                    }
            if (impl != Implementation::Reference)
                results.push_back(dst);
        },
        true);
    for (const PixelBuffer& r : results)
        QVERIFY2(r == results.front(), qPrintable(what + QStringLiteral(": the fast paths differ")));
}

}  // namespace tarvex::testing
