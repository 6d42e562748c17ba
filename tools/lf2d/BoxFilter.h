#pragma once

#include <vector>

// Means over square windows, (2 · radius + 1)² pixels clipped at the picture's edges: the
// building block of the estimator's cost filtering.
namespace estimation {

// For every position of a line of length positions, 1 over the positions its window holds.
std::vector<float> inverseWindowCounts(int length, int radius);

// The sum of in over the window around every position of a row, times inverse (as above).
void rowMeans(const float *in, float *out, int width, int radius, const float *inverse);

// The mean over the window around every pixel of a row-major picture, in place.
void boxMean(std::vector<float> &values, int width, int height, int radius);

} // namespace estimation
