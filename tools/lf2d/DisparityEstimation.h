#pragma once

#include <functional>
#include <vector>

// Disparity of every view of a light field that has none, from the light field's own redundancy.
//
// Each view is matched against the views one and two steps away along its row and column (a
// plane sweep over candidate disparities). A point near an occluding edge is hidden from the
// views on one side of it but not from those on the other, so the cost of a candidate is the
// best of four half-neighbourhoods, each pairing one horizontal and one vertical side (left and
// up, right and up, ...): both baselines keep stripes of either orientation unambiguous, and at
// least one pair sees past any edge. Costs are averaged over a square window by a guided filter
// that follows the view's own intensity (cost-volume filtering), which keeps thin occluders and
// outlines apart from what lies beside them; the best candidate is refined to a fraction of its
// step through a parabola, and a weighted median whose weights follow the view's intensity edges
// puts disparity edges onto picture edges.
//
// Disparity follows the viewer's convention: a point at x in one view is at x − d in the view one
// column to the right, and at y − d (rows from the top) in the view one row below.
namespace estimation {

// An upright, row-major intensity picture of one view.
struct Intensity
{
    int width = 0;
    int height = 0;
    std::vector<float> values;
};

struct EstimateOptions
{
    float lowest = -4.0f; // the range of disparities searched, pixels per view step
    float highest = 16.0f;
    float step = 0.5f; // between candidates; the parabola refines within a step
    int radius = 3; // of the guided filter's square window, (2 · radius + 1)² pixels
    int medianRadius = 2; // of the edge-aware weighted median
};

// Intensities in [0, 1] from upright RGB pixels: display colours as they are, radiance (hdr) in
// the logarithm, which matches alike in shadows and highlights; both stretched so that the
// darkest and brightest percent of the light field span the whole range.
std::vector<Intensity> intensitiesOf(const std::vector<const std::vector<float> *> &rgbViews,
                                     int width, int height, bool hdr);

// Every view's map, in file order (row by row), from views in the same order on a grid of
// columns × rows. Calls progress(viewsDone, viewCount) as maps are finished, from the calling
// thread. Views are spread over the machine's cores.
std::vector<std::vector<float>>
estimateDisparities(const std::vector<Intensity> &views, int columns, int rows,
                    const EstimateOptions &options,
                    const std::function<void(int done, int count)> &progress = {});

} // namespace estimation
