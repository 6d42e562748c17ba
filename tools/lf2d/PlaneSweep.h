#pragma once

#include "NoiseLevel.h"
#include "ViewNeighbours.h"

#include <cstdint>
#include <vector>

// The first, whole-pixel stage of the estimate: a plane sweep over candidate disparities.
namespace estimation {

struct Sweep
{
    std::vector<float> disparity; // the best candidate, refined within its step by a parabola
    // Per pixel the neighbourhood to match against: the half (of halves) that won, or wholeCross
    // where the whole cross matched the winner about as well.
    std::vector<std::int32_t> half;
    std::vector<float> cost; // the winner's cost
    std::vector<float> meanCost; // over all candidates: a winner far below it is distinct
};

// Matches the view against its neighbours (every side's, nearest first) at every candidate of
// options' range. A candidate's cost is the truncated intensity difference, averaged over each
// side's views and over a window by a guided filter that follows the view's own intensity; the
// best of the four half-neighbourhoods is the candidate's cost.
Sweep sweepView(const Intensity &view, const SideNeighbours &neighbours,
                const EstimateOptions &options, const Tolerances &tolerances);

} // namespace estimation
