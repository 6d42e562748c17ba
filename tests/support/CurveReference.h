#pragma once

#include "GLImages.h"
#include "postprocessing/TonemappingCurve.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

// A CPU reference of the histogram-adjustment curve pass: a tone curve of computeTonemappingCurve
// applied to linear colour as the pass applies it, in double precision.

// The curve read between bin centres, as the pass's linear filter does: position 0 is bin 0,
// position 1 the last bin.
inline double curveAt(const ToneCurve &curve, double position)
{
    const double x = std::clamp(position, 0.0, 1.0) * (curveBins - 1);
    const int low = std::min(int(x), curveBins - 2);
    const double fraction = x - low;
    return ((1.0 - fraction) * curve[size_t(low)] + fraction * curve[size_t(low) + 1]) / 255.0;
}

// The curve pass on one linear colour, channels 0 to 1: the curve's display position P shown on a
// display of 0.3 to 300 cd/m² with gamma 2.2, the colour restored with the saturation exponent
// 0.6 in linear light.
inline std::array<double, 3> referenceColour(const float rgb[3], const ToneCurve &curve,
                                             float minimum, float maximum)
{
    std::array<double, 3> result {};
    const double luminance = 0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2];
    if (!(luminance > 0.0))
        return result;
    const double lnMinimum = std::log(double(minimum));
    const double range = std::log(double(maximum)) - lnMinimum;
    const double position =
        range > 0.0 && std::isfinite(range) ? (std::log(luminance) - lnMinimum) / range : 0.0;
    const double displayPosition = curveAt(curve, position);
    const double relative = std::exp((displayPosition - 1.0) * std::log(1000.0));
    for (int channel = 0; channel < 3; ++channel) {
        const double restored = std::pow(rgb[channel] / luminance, 0.6) * relative;
        result[size_t(channel)] =
            std::pow(std::clamp((restored - 0.001) / 0.999, 0.0, 1.0), 1.0 / 2.2);
    }
    return result;
}

// The pass over a picture of linear colours (RGBA, 4 floats a texel, as the texture holds them).
inline RgbaImage referencePicture(int width, int height, const std::vector<float> &linear,
                                  const ToneCurve &curve, float minimum, float maximum)
{
    RgbaImage picture {width, height, std::vector<float>(linear.size())};
    for (size_t i = 0; i < linear.size(); i += 4) {
        const std::array<double, 3> colour = referenceColour(&linear[i], curve, minimum, maximum);
        for (int channel = 0; channel < 3; ++channel)
            picture.texels[i + channel] = float(colour[size_t(channel)]);
        picture.texels[i + 3] = 1.0f;
    }
    return picture;
}
