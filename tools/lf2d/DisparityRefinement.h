#pragma once

#include "PlaneSweep.h"

#include <vector>

// The estimate's later stages: outliers replaced, then every disparity refined well below a
// pixel.
namespace estimation {

// Replaces each disparity with the weighted median of its neighbourhood, weights falling with
// the intensity difference: a window straddling an object's outline votes with the side the
// pixel belongs to.
std::vector<float> weightedMedian(const std::vector<float> &disparity, const Intensity &view,
                                  int radius);

// Lets every pixel take the disparity of the pixel beside it where that matches the pixel's own
// intensity in every view of the row and column (out to options.refineDistance steps) clearly
// better than its own disparity does, in a pass down and a pass back up the picture, so that a
// disparity runs along a thin pole or an outline that the sweep's windows gave to the
// background in places. The half-neighbourhood each pixel matches best follows its disparity.
void propagateDisparity(const Intensity &view, const SideNeighbours &neighbours,
                        std::vector<float> &disparity, std::vector<std::int32_t> &half);

// Refines the disparities by Gauss–Newton steps on the squared intensity differences to every
// view of the half-neighbourhood each pixel's sweep chose (neighbours nearest first on every
// side, out to options.refineDistance steps), over a window of pixels whose start disparity is
// close to the pixel's own.
std::vector<float> refineDisparity(const Intensity &view, const SideNeighbours &neighbours,
                                   const std::vector<std::int32_t> &half,
                                   const std::vector<float> &start, const EstimateOptions &options,
                                   const Tolerances &tolerances);

} // namespace estimation
