#pragma once

#include <functional>
#include <vector>

// Disparity of every view of a light field that has none, from the light field's own redundancy.
//
// Each view is first matched against the views one and two steps away along its row and column
// (a plane sweep over candidate disparities). A point near an occluding edge is hidden from the
// views on one side of it but not from those on the other, so the cost of a candidate is the
// best of four half-neighbourhoods, each pairing one horizontal and one vertical side (left and
// up, right and up, ...): both baselines keep stripes of either orientation unambiguous, and at
// least one pair sees past any edge. Costs are averaged over a square window by a guided filter
// that follows the view's own intensity (cost-volume filtering), which keeps thin occluders and
// outlines apart from what lies beside them. A weighted median whose weights follow the view's
// intensity edges then removes outliers. Then each pixel may take the disparity of the pixel
// beside it where that matches it clearly better in every view of the row and column, in a pass
// down and a pass back up the picture: a disparity runs the length of a thin pole that the
// windows gave to the background in places. Last, Gauss–Newton steps on the intensity differences
// to every view of the row and column, out to the farthest, refine each disparity far below the
// sweep's step (the farther a view, the larger the shift a disparity error makes there), fitting
// a plane to a wide window away from outlines, so that noise averages out and slanted surfaces
// keep their slant. Pixels with an occlusion match only the half that sees them; the others match
// the whole cross. Tolerances follow the noise measured in each view.
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
    float step = 0.5f; // between the sweep's candidates; a parabola refines within a step
    int radius = 3; // of the sweep's guided filter's square window, (2 · radius + 1)² pixels
    int medianRadius = 2; // of the edge-aware weighted median
    int refinements = 3; // Gauss–Newton steps after the sweep
    int refineRadius = 2; // of their window near outlines
    int refineWideRadius = 7; // and away from them, where a plane is fitted
    int refineDistance = 4; // the farthest view, in steps, that they match against
};

// A range of disparities, pixels per view step.
struct DisparityRange
{
    float lowest = 0.0f;
    float highest = 0.0f;
};

// Intensities from upright RGB pixels: display colours as they are, radiance (hdr) in the
// logarithm, which matches alike in shadows and highlights; both stretched so that the darkest
// and brightest percent of the light field lie at 0 and 1. The few pixels beyond keep their
// differences: clipped, the brightest spots of a surface would be flat, with nothing to match.
std::vector<Intensity> intensitiesOf(const std::vector<const std::vector<float> *> &rgbViews,
                                     int width, int height, bool hdr);

// The disparities worth searching, from a quick coarse search of the centre view against its
// nearest neighbours over every disparity that moves a point less than a quarter of the view
// (and at most 128 pixels) between neighbouring views: the range of the disparities that enough
// well-matched pixels agree on, with a margin of about a pixel. Throws std::invalid_argument when
// the grid holds a single view or the views do not fill it.
DisparityRange estimateDisparityRange(const std::vector<Intensity> &views, int columns, int rows);

// One view's map, of view (column, row) of views in file order (row by row) on a grid of
// columns × rows.
std::vector<float> estimateDisparity(const std::vector<Intensity> &views, int columns, int rows,
                                     int column, int row, const EstimateOptions &options);

// Every view's map, in file order. Calls progress(viewsDone, viewCount) as maps are finished,
// from the calling thread. Views are spread over the machine's cores. Throws
// std::invalid_argument when the views do not fill the grid or the range is empty.
std::vector<std::vector<float>>
estimateDisparities(const std::vector<Intensity> &views, int columns, int rows,
                    const EstimateOptions &options,
                    const std::function<void(int done, int count)> &progress = {});

} // namespace estimation
