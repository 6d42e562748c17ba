#pragma once

#include <array>
#include <cstdint>

// RGBE texels: three 8-bit mantissas sharing one exponent byte E. A channel's value is
// mantissa × 2^(E − 136), that is mantissa / 256 × 2^(E − 128); E = 0 is not special.

// The factor 2^(E − 136) of an exponent byte.
double rgbeScale(int exponent);

// rgbeScale of every exponent byte, rounded to single precision: for loops over a view's texels
// that decode in single precision.
const std::array<float, 256> &rgbeSingleScales();

// Decodes one texel (R, G, B, E bytes) into three channel values.
void decodeRgbe(const std::uint8_t texel[4], float rgb[3]);

// Encodes three non-negative channel values with the largest one's mantissa in [128, 255],
// rounded to the nearest step. Values too small for the exponent range become (0, 0, 0, 0);
// values too large saturate.
void encodeRgbe(float red, float green, float blue, std::uint8_t texel[4]);
