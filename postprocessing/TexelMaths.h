#pragma once

#include "lightfield/VectorClones.h"

#include <array>
#include <cstdint>
#include <cstring>

// What the per-texel loops over a view's RGBE bytes share: the luminance they measure and a
// logarithm that vectorises.

// ln x for x > 0, normal and finite, within about one unit in the last place (Cephes' logf): a
// loop of these vectorizes, where one that calls the library's logf does not.
inline float naturalLog(float x)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    int exponent = int(bits >> 23) - 126;
    bits = (bits & 0x007fffffu) | 0x3f000000u;
    float m = 0.0f; // x = m × 2^exponent with m in [0.5, 1)
    std::memcpy(&m, &bits, sizeof m);
    // Below 1 / sqrt 2, 2m - 1 keeps the argument of the series within ±0.29.
    const int below = m < 0.707106781186547524f ? 1 : 0;
    exponent -= below;
    m = m + float(below) * m - 1.0f;
    const float z = m * m;
    float y = 7.0376836292e-2f;
    y = y * m - 1.1514610310e-1f;
    y = y * m + 1.1676998740e-1f;
    y = y * m - 1.2420140846e-1f;
    y = y * m + 1.4249322787e-1f;
    y = y * m - 1.6668057665e-1f;
    y = y * m + 2.0000714765e-1f;
    y = y * m - 2.4999993993e-1f;
    y = y * m + 3.3333331174e-1f;
    y = y * m * z;
    // ln 2 in two parts, so that the product with the exponent stays exact.
    const float e = float(exponent);
    y += -2.12194440e-4f * e;
    y += -0.5f * z;
    return m + y + 0.693359375f * e;
}

// A bound on |naturalLog(x) − ln x| as the C library computes it in single precision, for
// every x naturalLog takes: eight units in the last place of ln x, or 2^−20 near x = 1, where
// both are far below that.
inline float naturalLogErrorBound(float logarithm)
{
    return ((logarithm < 0.0f ? -logarithm : logarithm) + 1.0f) * 0x1p-20f;
}

// The luminance of decoded channels: 0.7152 G + 0.2126 R + 0.0722 B in that order in double,
// narrowed to float, as every measurement of a view takes it.
inline float channelLuminance(float red, float green, float blue)
{
    return float(0.7152 * double(green) + 0.2126 * double(red) + 0.0722 * double(blue));
}

// The luminance of one RGBE texel, its channels decoded in single precision with `scales`, the
// factor of each exponent byte.
inline float texelLuminanceWith(const std::uint8_t *texel, const std::array<float, 256> &scales)
{
    const float scale = scales[texel[3]];
    return channelLuminance(float(texel[0]) * scale, float(texel[1]) * scale,
                            float(texel[2]) * scale);
}
