#include "NoiseLevel.h"

#include <algorithm>
#include <cmath>

namespace estimation {

float noiseOf(const Intensity &view)
{
    const int width = view.width;
    const int height = view.height;
    if (width < 3 || height < 3)
        return 0.0f;
    double sum = 0.0;
    for (int y = 1; y + 1 < height; ++y) {
        const float *above = view.values.data() + std::size_t(y - 1) * width;
        const float *row = above + width;
        const float *below = row + width;
        for (int x = 1; x + 1 < width; ++x) {
            // The difference of two Laplacians, which cancels on any quadratic patch.
            const float mask = above[x - 1] - 2.0f * above[x] + above[x + 1] - 2.0f * row[x - 1]
                + 4.0f * row[x] - 2.0f * row[x + 1] + below[x - 1] - 2.0f * below[x] + below[x + 1];
            sum += std::abs(mask);
        }
    }
    constexpr double halfPi = 1.5707963267948966;
    return float(std::sqrt(halfPi) * sum / (6.0 * double(width - 2) * double(height - 2)));
}

Tolerances tolerancesFor(float noise)
{
    Tolerances tolerances;
    const float variance = noise * noise;
    tolerances.guidedRegularisation = std::max(tolerances.guidedRegularisation, 2.5f * variance);
    // A residual is the difference of two noisy samples: √2 times the noise, and three times
    // that is rare.
    tolerances.residualLimit = std::max(tolerances.residualLimit, 3.0f * 1.41421356f * noise);
    return tolerances;
}

} // namespace estimation
