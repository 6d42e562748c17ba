#pragma once

#include "lightfield/LightfieldPlane.h"

#include <memory>

class LightfieldReader;

class BilateralGridFilter;

// How the base/detail pass takes its 33 × 33 window.
enum class BilateralSampling
{
    // Every texel: the filter as defined, 1,089 taps per pixel on the GPU. The reference the
    // others are measured against.
    EveryTexel,
    // One tap per 5 × 5 cell, weighted by the cell's texels inside the window: 49 taps per pixel
    // on the GPU. Loading a 9 × 9 light field of 512 × 512 views on llvmpipe takes 66 s of CPU
    // with the full window and 6 s with the cells (lfbench bilateral).
    FiveByFiveCells,
    // A bilateral grid on the CPU, its cells one sigma a side (BilateralGrid.h): what the stage
    // uses. It loads the same light field in about a fifth of the cells' time, and its pictures
    // lie closer to the full window's than the cells' do: a tenth of an 8-bit step off on average.
    Grid,
};

// The settings of the base/detail pass, one per uniform of its shader; the defaults are the
// stage's.
struct BilateralSettings
{
    float absoluteScale = 5.5f; // stops taken off the compressed log2 luminance
    float compressionFactor = 0.5f; // scale of the base layer in log2 luminance
    float disparityEdgeCompressionFactor = 0.5f; // the same, for pixels on a disparity edge
    int filterSize = 16; // window radius in texels: 33 × 33
    float gaussSigmaPosition = 8.0f; // texels
    float gaussSigmaIntensity = 1.0f; // stops of luminance
    float gaussSigmaDisparity = 1.0f; // pixels of disparity per view step
    float colourCorrection = 0.6f; // exponent of each channel's ratio to the luminance
    BilateralSampling sampling = BilateralSampling::Grid;
};

// The plane stage of the builds that tone-map once, while the plane is built: every RGBE view
// goes through the base/detail pass ("rgbe2rgba8BilateralTonemapping.frag") into an 8-bit LdrRgb
// layer; disparity becomes the Disparity layer and, with useDisparity, also keeps surfaces at
// different depths apart in the pass. Stores no parameters. Needs the viewer's context current and
// the shader programs loaded. The sampling is there for measuring the full window against the
// stage's.
std::unique_ptr<PlaneStage>
makeBilateralStage(bool useDisparity, BilateralSampling sampling = BilateralSampling::Grid);
std::unique_ptr<LightfieldPlane>
buildBilateralPlane(LightfieldReader *reader, bool useDisparity,
                    BilateralSampling sampling = BilateralSampling::Grid,
                    const PlaneProgressReport &progress = {});

// The base/detail tone mapping of one RGBE texture of width × height into a new RGBA8 texture of
// display values (gamma 2.2), consuming the input. With a disparity map the disparity term and
// the disparity edges take part; null leaves both out. On the GPU (EveryTexel, FiveByFiveCells):
// two passes of the program, the log luminance of every texel, then the filter and the mapping;
// the disparity map is sampled mirrored during the passes and left clamped to a transparent black
// border, as the plane keeps its layers. With the grid the texture and the map are read back and
// filtered on the CPU, by gridFilter when given (its buffers are reused from view to view) or by
// one of its own, and the result is uploaded; the map's sampling is left alone. Runs inside
// FramebufferPasses.
OwnedTexture bilateralTonemap(OwnedTexture rgbe, QOpenGLTexture *disparity, int width, int height,
                              const BilateralSettings &settings = BilateralSettings(),
                              BilateralGridFilter *gridFilter = nullptr);
