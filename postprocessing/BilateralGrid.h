#pragma once

#include <cstdint>
#include <vector>

struct BilateralSettings;

// The base/detail tone mapping of the bilateral plane stage on the CPU, with its filter
// approximated by a bilateral grid: every lit texel goes into the cell of position sigma side that
// holds it and, linearly, into the two nearest samples of log2 luminance, one intensity sigma
// apart (with disparity also into the two nearest of disparity, one disparity sigma apart); the
// grid is blurred by a small Gaussian along each axis; a texel's base layer is the blurred sum
// over the blurred weight, interpolated multilinearly at the texel's place in the grid.
//
// The blurs are chosen so that each axis's whole kernel (splat, blur and interpolation) has the
// variance of the filter's Gaussian: a spatial cell spreads a texel over its side (variance
// about 1/12 cell²) and the interpolation by a tent (1/6), so the spatial blur has variance 3/4
// cell²; along the range axes both splat and interpolation are tents, and the blur has 2/3. The
// grid's spatial kernel is not cut off at the window's edge as the full filter is; against it
// (lfbench bilateral, BilateralPlaneStageGLTest) the picture differs by about a tenth of an 8-bit
// step on average and by a few steps where a texel's window reaches a very different surface.
//
// The grid is sparse: each cell holds only the samples its neighbourhood's texels reach, so a
// cell costs what its surroundings' range spans, not the view's.
class BilateralGridFilter
{
public:
    // Tone-maps a view of width × height: rgbe holds 4 bytes per texel (GL row order), disparity
    // one value per texel or null (no disparity term and no disparity edges). Writes RGBA8 display
    // values (gamma 2.2, alpha 255) into rgba, 4 bytes per texel. Black texels (luminance under
    // 2^-32) come out black and take no part in their neighbours' base layers. Texels beyond the
    // borders are the view mirrored, as the GL's mirrored repeat gives them.
    void tonemap(const std::uint8_t *rgbe, const float *disparity, int width, int height,
                 const BilateralSettings &settings, std::uint8_t *rgba);

    // The base layer (log2 luminance) of every lit texel of the last tonemap, 0 for black ones.
    const std::vector<float> &baseLayer() const { return m_base; }

    // Room for a view's texels on their way from and to the GL, kept from view to view as the
    // grid's own buffers are: fresh ones would be mapped from the system for every view.
    struct Transfer
    {
        std::vector<std::uint8_t> rgbe, rgba;
        std::vector<float> disparity;
    } transfer;

private:
    struct CellBox
    {
        int intensityBegin = 0, intensityEnd = 0; // samples, end exclusive
        int disparityBegin = 0, disparityEnd = 0;
        std::size_t offset = 0; // first node in the grid's buffers
    };

    template<bool UseDisparity> void filter(const BilateralSettings &settings);
    template<bool UseDisparity>
    void map(const std::uint8_t *rgbe, const BilateralSettings &settings, std::uint8_t *rgba);

    int m_width = 0;
    int m_height = 0;
    const float *m_disparity = nullptr;
    std::vector<float> m_intensity; // log2 luminance per texel, below -32 for black texels
    std::vector<float> m_logSum; // log2 of the weighted sum of the mantissas, per texel
    std::vector<float> m_base;
    std::vector<int> m_mirroredX, m_mirroredY; // texel of each column and row of the padded grid
    std::vector<CellBox> m_cells;
    // The extremes of the sample coordinates of a cell's lit texels.
    struct Extent
    {
        float lowI, highI, lowD, highD;
    };
    std::vector<Extent> m_extents; // of each cell of the view
    std::vector<float> m_nodes, m_blurred; // two floats per node: weight, weighted sum
};
