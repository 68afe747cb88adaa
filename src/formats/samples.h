#pragma once
// Samples of another depth than 8 bits, brought to 8 as the formats'
// reference decoders do: round(v * 255 / max), so that full intensity is
// 255 whatever the depth.
#include <cstdint>

namespace tarvex {

constexpr std::uint32_t eightBitSample(std::uint32_t v, std::uint32_t max)
{
    return (v * 255 + max / 2) / max;
}

}  // namespace tarvex
