#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

// What the tone mappers measure of an RGBE view, written out from the definitions in double
// precision, so that tests of the stages and of the measurement itself do not take their
// expected values from the code they check.

// A channel of an RGBE texel is its mantissa × 2^(E − 136).
inline void decodeRgbeTexel(const std::uint8_t texel[4], double rgb[3])
{
    const double scale = std::ldexp(1.0, int(texel[3]) - 136);
    for (int channel = 0; channel < 3; ++channel)
        rgb[channel] = texel[channel] * scale;
}

// Luminance of linear colour with the weights of the sRGB primaries.
inline double luminanceOf(const double rgb[3])
{
    return 0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2];
}

struct ViewStatistics
{
    double red, green, blue, luminance, logLuminance, minimum, maximum, contrast;
};

// The photoreceptor operator's contrast exponent m = 0.3 + 0.7·k^1.4, with the key
// k = (ln max − avgLog) / (ln max − ln min) kept in [0, 1]. A view with a black texel, a flat
// view and a black one have no key, and a dim one (whose log average, offset by 0.00001, lies
// above ln max) a negative key: all of them get 0.3.
inline double referenceContrast(double logLuminance, double minimum, double maximum)
{
    if (!(minimum > 0.0 && maximum > minimum))
        return 0.3;
    const double logMaximum = std::log(maximum);
    const double key =
        std::clamp((logMaximum - logLuminance) / (logMaximum - std::log(minimum)), 0.0, 1.0);
    return 0.3 + 0.7 * std::pow(key, 1.4);
}

// The statistics of count RGBE texels: the averages of the channels and of the luminance, the
// mean of ln(L + 0.00001), the extremes of the luminance and the contrast derived from them.
inline ViewStatistics referenceStatistics(const std::uint8_t *rgbe, std::size_t count)
{
    ViewStatistics statistics {0, 0, 0, 0, 0, HUGE_VAL, 0, 0};
    for (std::size_t i = 0; i < count; ++i) {
        double rgb[3];
        decodeRgbeTexel(rgbe + i * 4, rgb);
        const double luminance = luminanceOf(rgb);
        statistics.red += rgb[0] / double(count);
        statistics.green += rgb[1] / double(count);
        statistics.blue += rgb[2] / double(count);
        statistics.luminance += luminance / double(count);
        statistics.logLuminance += std::log(luminance + 0.00001) / double(count);
        statistics.minimum = std::min(statistics.minimum, luminance);
        statistics.maximum = std::max(statistics.maximum, luminance);
    }
    statistics.contrast =
        referenceContrast(statistics.logLuminance, statistics.minimum, statistics.maximum);
    return statistics;
}

inline ViewStatistics referenceStatistics(const std::vector<std::uint8_t> &rgbe)
{
    return referenceStatistics(rgbe.data(), rgbe.size() / 4);
}

// One set for a whole light field: the means of the views' averages, the smallest minimum (the
// pool starts at 10000, so a light field lit only above that keeps 10000) and the largest
// maximum, with the contrast derived from those.
inline ViewStatistics pooledStatistics(const std::vector<ViewStatistics> &views)
{
    ViewStatistics pooled {0, 0, 0, 0, 0, 10000.0, 0, 0};
    const double count = double(views.size());
    for (const ViewStatistics &view : views) {
        pooled.red += view.red / count;
        pooled.green += view.green / count;
        pooled.blue += view.blue / count;
        pooled.luminance += view.luminance / count;
        pooled.logLuminance += view.logLuminance / count;
        pooled.minimum = std::min(pooled.minimum, view.minimum);
        pooled.maximum = std::max(pooled.maximum, view.maximum);
    }
    pooled.contrast = referenceContrast(pooled.logLuminance, pooled.minimum, pooled.maximum);
    return pooled;
}

// The value a half-float texture holds for a non-negative value: 11 significant bits, rounded
// to the nearest (ties to even), steps of 2^-24 below the normal range, and held at the largest
// half float above it.
inline double halfFloat(double value)
{
    if (!(value > 0.0))
        return 0.0;
    if (value >= 65504.0)
        return 65504.0;
    int exponent = 0;
    std::frexp(value, &exponent); // value = m × 2^exponent, m in [0.5, 1)
    const int step = std::max(exponent - 11, -24);
    return std::ldexp(std::nearbyint(std::ldexp(value, -step)), step);
}

// RGBE texels decoded into linear RGBA (4 floats a texel, alpha 1); with halfFloats, as a
// half-float texture of the linear pass with white point and gamma 1 holds them.
inline std::vector<float> linearColours(const std::vector<std::uint8_t> &rgbe,
                                        bool halfFloats = false)
{
    std::vector<float> colours;
    colours.reserve(rgbe.size());
    for (size_t i = 0; i + 3 < rgbe.size(); i += 4) {
        double rgb[3];
        decodeRgbeTexel(&rgbe[i], rgb);
        for (double value : rgb)
            colours.push_back(float(halfFloats ? halfFloat(value) : value));
        colours.push_back(1.0f);
    }
    return colours;
}
