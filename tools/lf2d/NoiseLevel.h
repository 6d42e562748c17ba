#pragma once

#include "DisparityEstimation.h"

// How much of a view's intensity is noise, and the tolerances of matching that follow from it:
// a camera's noise, which exact synthetic views lack, must neither be mistaken for the picture's
// own detail nor make every match look like an occlusion.
namespace estimation {

// The standard deviation of the view's noise, from its second differences (Immerkær's
// estimator: a smooth picture has almost none, white noise a known share).
float noiseOf(const Intensity &view);

struct Tolerances
{
    // Added to the intensity variance of the sweep's guided filter: windows whose variance is
    // mostly noise are averaged plainly rather than followed into the noise.
    float guidedRegularisation = 1e-4f;
    // Residuals beyond this are a view that sees something else there.
    float residualLimit = 0.08f;
};

Tolerances tolerancesFor(float noise);

} // namespace estimation
