#pragma once

#include <utility>
#include <vector>

// A synthetic light field whose every view and disparity is known exactly, at any camera
// position, so that synthesised views can be measured against the truth.
//
// The scene is a textured background plane with three fronto-parallel layers in front of it
// (a large rectangle, a disc and a triangle), each at its own constant disparity. Layer shapes
// are placed in the picture of the reference camera, the centre of the grid, as fractions of the
// view size; disparities are in pixels per view step and do not scale with the view size.
namespace synth {

// The layered scene described above, or the cluttered one of ClutteredScene.h.
enum class SceneKind
{
    Layers,
    Clutter,
};

struct SceneOptions
{
    int columns = 9;
    int rows = 9;
    int width = 256;
    int height = 256;
    int viewSpacing = 20; // window pixels of drag between neighbouring views, for the header
    bool hdr = false; // linear radiance with a wide range, stored as RGBE, instead of 8-bit colour
    bool disparity = true; // store a disparity map after every view
    // The header's disparity bound. The layers' disparities scale with it, by a power of two so
    // that they stay short binary fractions: 3, 6, 12, 24 or 48 (12 for the layered scene and 24
    // for the cluttered one are where the disparities quoted with them hold).
    int maxDisparity = 12;
    SceneKind scene = SceneKind::Layers;
};

// An upright picture: row 0 is the top row.
struct FloatImage
{
    int width = 0;
    int height = 0;
    std::vector<float> rgb; // 3 floats per pixel, row-major
};

// The largest blur radius, in pixels, that SyntheticScene::renderRefocused renders; its cost
// grows with the square of the radius.
constexpr double maxRefocusBlur = 48;

class SyntheticScene
{
public:
    // Throws std::invalid_argument when a size or the view spacing is below 1.
    explicit SyntheticScene(const SceneOptions &options);

    const SceneOptions &options() const { return m_options; }

    // The bound written into the header: no layer's disparity exceeds it.
    int maxDisparity() const { return m_options.maxDisparity; }

    // The view from camera (x, y), x a column and y a row position, fractions allowed; row 0 is
    // the top row of cameras. Every pixel is the mean of 4 × 4 samples spread over its area.
    // 8-bit scenes give display colours in [0, 1], RGBE scenes linear radiance.
    FloatImage renderView(double x, double y) const;

    // Per pixel (upright, row-major) the disparity of the front-most layer at the pixel centre.
    std::vector<float> disparityMap(double x, double y) const;

    // The smallest and largest disparity of the scene's layers as the reference camera sees
    // them. Slanted layers of the cluttered scene reach a few percent beyond from the corners of
    // the grid.
    std::pair<double, double> disparityRange() const;

    // What a thin lens centred on camera (x, y) records with an aperture of radius `aperture`
    // view steps, focused at disparity `focus`: the mean, over camera positions p within the
    // aperture, of the view from p shifted by focus · (p − (x, y)) pixels. A surface at the focus
    // disparity stays where the view from (x, y) shows it, and one at disparity d spreads over a
    // disc of radius |d − focus| · aperture pixels. Near the picture's border the lens sees the
    // scene beyond the views' frame. An aperture of 0 gives renderView(x, y). Values as there:
    // averaged display colours or radiance. Throws std::invalid_argument for a negative or
    // non-finite aperture, a non-finite focus, or a blur beyond maxRefocusBlur.
    FloatImage renderRefocused(double x, double y, double focus, double aperture) const;

    // How many camera positions renderRefocused averages at every pixel; throws as it does.
    int refocusSampleCount(double focus, double aperture) const;

    // The radius in pixels of the largest blur disc of that lens: of the layer farthest from the
    // focus disparity.
    double refocusBlur(double focus, double aperture) const;

private:
    double layerDisparity(int layer) const;

    // Adds to sums (3 per pixel, from the first row's first pixel on) the colour the camera at
    // (x, y) sees at picture position (column + u, row + v) of every pixel of rows
    // [firstRow, endRow): one point per pixel, not the pixel's area.
    void addPointSamples(double x, double y, double u, double v, int firstRow, int endRow,
                         double *sums) const;

    SceneOptions m_options;
};

} // namespace synth
