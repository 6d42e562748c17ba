#pragma once

#include <QSize>
#include <QString>

namespace synth {
class SyntheticScene;
}

// How close views synthesised from the light field at path come to the scene's exact views.
struct WarpQuality
{
    double buildMilliseconds = 0.0;
    int gridWorst = 0; // largest difference from a stored view at its own position, of 255
    double mean[3] = {}; // PSNR of the warp, the nearest stored view and a bilinear blend
    double lowest[3] = {99, 99, 99};
    double centreMean = 0.0; // warp at cell centres
    // The warp in windows smaller and larger than the views, where they show the views.
    QSize windows[2];
    double windowMean[2] = {};
    double windowLowest[2] = {99, 99};
};

// Measures at positionCount fractional positions spread over the grid (a Halton sequence, the
// last ones moved to cell centres), printing a line per position when printRows is set, with the
// camera sampling outlines edgeSamples × edgeSamples.
WarpQuality measureWarpQuality(const synth::SyntheticScene &scene, const QString &path,
                               int positionCount, bool printRows, int edgeSamples = 1);
