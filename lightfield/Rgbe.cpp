#include "Rgbe.h"

#include <algorithm>
#include <cmath>

namespace {

// ldexp is a call of its own, which decoding every texel of a view would pay for each of them.
struct ScaleTables
{
    double scale[256];
    std::array<float, 256> singleScale;
    ScaleTables()
    {
        for (int exponent = 0; exponent < 256; ++exponent) {
            scale[exponent] = std::ldexp(1.0, exponent - 136);
            singleScale[size_t(exponent)] = float(scale[exponent]);
        }
    }
};

const ScaleTables &scaleTables()
{
    static const ScaleTables tables;
    return tables;
}

} // namespace

double rgbeScale(int exponent)
{
    if (exponent >= 0 && exponent < 256)
        return scaleTables().scale[exponent];
    return std::ldexp(1.0, exponent - 136);
}

const std::array<float, 256> &rgbeSingleScales()
{
    return scaleTables().singleScale;
}

void decodeRgbe(const std::uint8_t texel[4], float rgb[3])
{
    const double scale = rgbeScale(texel[3]);
    for (int channel = 0; channel < 3; ++channel)
        rgb[channel] = float(texel[channel] * scale);
}

void encodeRgbe(float red, float green, float blue, std::uint8_t texel[4])
{
    const double channels[3] = {std::max(0.0, double(red)), std::max(0.0, double(green)),
                                std::max(0.0, double(blue))};
    const double largest = std::max({channels[0], channels[1], channels[2]});
    texel[0] = texel[1] = texel[2] = texel[3] = 0;
    if (!(largest > 0.0))
        return;

    int exponent = 0;
    std::frexp(largest, &exponent); // largest = f × 2^exponent, f in [0.5, 1)
    // Rounding may carry the largest mantissa to 256; one exponent step up keeps it in range.
    if (std::lround(largest * std::ldexp(1.0, 8 - exponent)) > 255)
        ++exponent;
    int biased = exponent + 128;
    if (biased < 0)
        return;
    if (biased > 255)
        biased = 255;
    const double toMantissa = 1.0 / rgbeScale(biased);
    for (int channel = 0; channel < 3; ++channel)
        texel[channel] =
            std::uint8_t(std::min<long>(255, std::lround(channels[channel] * toMantissa)));
    texel[3] = std::uint8_t(biased);
}
