#include "BoxFilter.h"

#include <algorithm>

namespace estimation {

std::vector<float> inverseWindowCounts(int length, int radius)
{
    std::vector<float> inverse(std::size_t(std::max(0, length)));
    for (int x = 0; x < length; ++x)
        inverse[x] = 1.0f / float(std::min(length - 1, x + radius) - std::max(0, x - radius) + 1);
    return inverse;
}

void boxMean(std::vector<float> &values, int width, int height, int radius)
{
    const std::vector<float> across = inverseWindowCounts(width, radius);
    const std::vector<float> down = inverseWindowCounts(height, radius);
    std::vector<float> column(std::size_t(width), 0.0f);
    std::vector<float> sums(values.size());
    // Column sums first, a running sum down the picture that every position of a row shares.
    for (int y = 0; y < std::min(radius, height); ++y) {
        for (int x = 0; x < width; ++x)
            column[x] += values[std::size_t(y) * width + x];
    }
    for (int y = 0; y < height; ++y) {
        if (y + radius < height) {
            const float *entering = values.data() + std::size_t(y + radius) * width;
            for (int x = 0; x < width; ++x)
                column[x] += entering[x];
        }
        if (y - radius - 1 >= 0) {
            const float *leaving = values.data() + std::size_t(y - radius - 1) * width;
            for (int x = 0; x < width; ++x)
                column[x] -= leaving[x];
        }
        float *out = sums.data() + std::size_t(y) * width;
        rowMeans(column.data(), out, width, radius, across.data());
        for (int x = 0; x < width; ++x)
            out[x] *= down[y];
    }
    values.swap(sums);
}

} // namespace estimation
