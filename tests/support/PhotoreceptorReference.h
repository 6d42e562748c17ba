#pragma once

#include "ViewStatisticsReference.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>
#include <vector>

// A CPU reference of the photoreceptor operator of Reinhard and Devlin (2005) that the
// tone-mapping shaders compute, in double precision, and of the stretches of its results.

// The photoreceptor operator for one channel value x of a pixel of luminance L, with the
// adaptation constants c and a: x / (x + (f·Ia)^m).
inline double photoreceptor(double x, double luminance, double average, double averageLuminance,
                            double f, double m, double c = 0.5, double a = double(0.7f))
{
    const double local = c * x + (1 - c) * luminance;
    const double global = c * average + (1 - c) * averageLuminance;
    const double adaptation = a * local + (1 - a) * global;
    const double denominator = x + std::pow(f * adaptation, m);
    return denominator > 0 ? x / denominator : 0.0;
}

// The operator on a linear colour (gamma already undone) with one view's statistics.
inline std::array<double, 3> tonemap(const double rgb[3], const ViewStatistics &view,
                                     double brightness)
{
    const double luminance = luminanceOf(rgb);
    const double averages[3] = {view.red, view.green, view.blue};
    std::array<double, 3> mapped {};
    for (int channel = 0; channel < 3; ++channel)
        mapped[size_t(channel)] =
            photoreceptor(rgb[channel], luminance, averages[channel], view.luminance,
                          std::exp(-brightness), view.contrast);
    return mapped;
}

// The operator over linear colours (RGBA, 4 a texel), 3 outputs a texel.
inline std::vector<double> tonemapColours(const std::vector<float> &rgba,
                                          const ViewStatistics &view, double brightness)
{
    std::vector<double> mapped;
    mapped.reserve(rgba.size() / 4 * 3);
    for (size_t i = 0; i + 3 < rgba.size(); i += 4) {
        const double rgb[3] = {rgba[i], rgba[i + 1], rgba[i + 2]};
        const std::array<double, 3> colour = tonemap(rgb, view, brightness);
        mapped.insert(mapped.end(), colour.begin(), colour.end());
    }
    return mapped;
}

// Values of 0 to 1 (3 a texel) as the bytes an 8-bit target stores.
inline std::vector<double> quantised(const std::vector<double> &values)
{
    std::vector<double> bytes;
    bytes.reserve(values.size());
    for (double value : values)
        bytes.push_back(double(std::lround(std::clamp(value, 0.0, 1.0) * 255.0)));
    return bytes;
}

// The smallest and largest luminance of 8-bit colours (3 bytes a texel), in bytes.
inline std::pair<int, int> luminanceRange(const std::vector<double> &bytes)
{
    int minimum = 255, maximum = 0;
    for (size_t i = 0; i + 2 < bytes.size(); i += 3) {
        const int luminance = int(std::lround(luminanceOf(&bytes[i])));
        minimum = std::min(minimum, luminance);
        maximum = std::max(maximum, luminance);
    }
    return {minimum, maximum};
}

// Bytes stretched from [low, high] onto 0 to 255, before the target rounds them. An empty or
// reversed range has nothing to stretch and leaves them as they are.
inline std::vector<double> stretched(std::vector<double> bytes, int low, int high)
{
    if (high <= low)
        return bytes;
    for (double &byte : bytes)
        byte = std::clamp((byte - low) / double(high - low), 0.0, 1.0) * 255.0;
    return bytes;
}

// Operator outputs quantised and stretched to their own measured luminance range.
inline std::vector<double> stretchedToTheirRange(const std::vector<double> &values)
{
    const std::vector<double> bytes = quantised(values);
    const auto [low, high] = luminanceRange(bytes);
    return stretched(bytes, low, high);
}
