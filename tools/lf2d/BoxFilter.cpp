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

namespace {

// The whole windows of a row, their taps unrolled so that the loop over positions vectorises
// without storing a partial sum per tap.
template<int radius>
void wholeWindowSums(const float *__restrict in, float *__restrict out, int begin, int end)
{
    for (int x = begin; x < end; ++x) {
        float sum = in[x - radius];
        for (int tap = 1 - radius; tap <= radius; ++tap)
            sum += in[x + tap];
        out[x] = sum;
    }
}

} // namespace

void rowMeans(const float *in, float *out, int width, int radius, const float *inverse)
{
    const int begin = std::min(radius, width);
    const int end = std::max(begin, width - radius);
    switch (radius) {
    case 1:
        wholeWindowSums<1>(in, out, begin, end);
        break;
    case 2:
        wholeWindowSums<2>(in, out, begin, end);
        break;
    case 3:
        wholeWindowSums<3>(in, out, begin, end);
        break;
    case 4:
        wholeWindowSums<4>(in, out, begin, end);
        break;
    default:
        // One pass over the row per tap, which still vectorises.
        for (int x = begin; x < end; ++x)
            out[x] = in[x - radius];
        for (int tap = 1 - radius; tap <= radius; ++tap) {
            for (int x = begin; x < end; ++x)
                out[x] += in[x + tap];
        }
    }
    const auto clipped = [&](int x) {
        float sum = 0.0f;
        for (int q = std::max(0, x - radius); q <= std::min(width - 1, x + radius); ++q)
            sum += in[q];
        out[x] = sum;
    };
    for (int x = 0; x < begin; ++x)
        clipped(x);
    for (int x = end; x < width; ++x)
        clipped(x);
    for (int x = 0; x < width; ++x)
        out[x] *= inverse[x];
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
