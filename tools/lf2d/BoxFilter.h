#pragma once

#include <algorithm>
#include <vector>

// The estimator's hottest loops are built twice, for AVX2 and for the x86-64 baseline, and the
// program takes the one the processor runs when it loads: twice the vector lanes where there are.
// Without FMA both give the same results, bit for bit.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ESTIMATION_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define ESTIMATION_WIDE_VECTORS
#endif

// Means over square windows, (2 · radius + 1)² pixels clipped at the picture's edges: the
// building block of the estimator's cost filtering.
namespace estimation {

// For every position of a line of length positions, 1 over the positions its window holds.
std::vector<float> inverseWindowCounts(int length, int radius);

// The whole windows of a row, their taps unrolled so that the loop over positions vectorises
// without storing a partial sum per tap.
template<int radius>
inline void wholeWindowSums(const float *__restrict in, float *__restrict out, int begin, int end)
{
    for (int x = begin; x < end; ++x) {
        float sum = in[x - radius];
        for (int tap = 1 - radius; tap <= radius; ++tap)
            sum += in[x + tap];
        out[x] = sum;
    }
}

// The sum of in over the window around every position of a row. Inline, so that it is built for
// the vector width of the loop that calls it.
inline void rowSums(const float *in, float *out, int width, int radius)
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
}

// The sums times inverse (as above): the means.
inline void rowMeans(const float *in, float *out, int width, int radius, const float *inverse)
{
    rowSums(in, out, width, radius);
    for (int x = 0; x < width; ++x)
        out[x] *= inverse[x];
}

// The mean over the window around every pixel of a row-major picture, in place.
void boxMean(std::vector<float> &values, int width, int height, int radius);

} // namespace estimation
