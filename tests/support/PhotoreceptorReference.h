#pragma once

#include <array>
#include <cmath>

// A CPU reference of the photoreceptor operator of Reinhard and Devlin (2005) that the
// tone-mapping shaders compute, in double precision.

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

struct ViewStatistics
{
    double red, green, blue, luminance, logLuminance, minimum, maximum, contrast;
};

// The operator on a linear colour (gamma already undone) with one view's statistics.
inline std::array<double, 3> tonemap(const double rgb[3], const ViewStatistics &view,
                                     double brightness)
{
    const double luminance = 0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2];
    const double averages[3] = {view.red, view.green, view.blue};
    std::array<double, 3> mapped {};
    for (int channel = 0; channel < 3; ++channel)
        mapped[size_t(channel)] =
            photoreceptor(rgb[channel], luminance, averages[channel], view.luminance,
                          std::exp(-brightness), view.contrast);
    return mapped;
}
