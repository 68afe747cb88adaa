#pragma once
// The numeric conventions every command shares: 16-bit Booleans, rounding
// to nearest with halves to even, and conversions to 16- and 32-bit integers
// that clamp to their range instead of failing.
#include <cmath>
#include <cstdint>
#include <limits>

namespace tarvex {

using VbBool = std::int16_t;
inline constexpr VbBool kTrue = -1;
inline constexpr VbBool kFalse = 0;

// Rounds to the nearest whole number, halves to the even neighbour
// (2.5 -> 2, 3.5 -> 4), as every float-to-integer conversion here does.
inline double roundHalfEven(double v)
{
    return std::nearbyint(v);  // the default rounding mode is to nearest, ties to even
}

template <typename Int>
Int roundClamped(double v)
{
    if (std::isnan(v))
        return 0;
    const double r = roundHalfEven(v);
    constexpr double lo = double(std::numeric_limits<Int>::min());
    constexpr double hi = double(std::numeric_limits<Int>::max());
    return r <= lo ? std::numeric_limits<Int>::min() : r >= hi ? std::numeric_limits<Int>::max() : Int(r);
}

// A position far outside any window means nothing, and an overflow must
// never end a command: both conversions saturate.
inline std::int16_t toInt16(double v)
{
    return roundClamped<std::int16_t>(v);
}
inline std::int32_t toInt32(double v)
{
    return roundClamped<std::int32_t>(v);
}

}  // namespace tarvex
