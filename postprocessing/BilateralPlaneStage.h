#pragma once

#include "lightfield/LightfieldPlane.h"

#include <memory>

class LightfieldReader;

// How densely the base/detail pass samples its 33 × 33 window.
enum class BilateralSampling
{
    // Every texel: the filter as defined, 1,089 taps per pixel.
    EveryTexel,
    // One tap per 5 × 5 cell, weighted by the cell's texels inside the window: 49 taps per pixel.
    // What the stage uses. Loading a 9 × 9 light field of 512 × 512 views on llvmpipe takes
    // 66 s of CPU with the full window and 6 s with the cells (lfbench bilateral); the pictures
    // differ by less than half a step of 8 bits on average, by more only on a few antialiased
    // borders.
    FiveByFiveCells,
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
    BilateralSampling sampling = BilateralSampling::FiveByFiveCells;
};

// The plane stage of the builds that tone-map once, while the plane is built: every RGBE view
// goes through the base/detail pass ("rgbe2rgba8BilateralTonemapping.frag") into an 8-bit LdrRgb
// layer; disparity becomes the Disparity layer and, with useDisparity, also keeps surfaces at
// different depths apart in the pass. Stores no parameters. Needs the viewer's context current and
// the shader programs loaded. The sampling is there for measuring the full window against the
// stage's.
std::unique_ptr<PlaneStage>
makeBilateralStage(bool useDisparity,
                   BilateralSampling sampling = BilateralSampling::FiveByFiveCells);
std::unique_ptr<LightfieldPlane>
buildBilateralPlane(LightfieldReader *reader, bool useDisparity,
                    BilateralSampling sampling = BilateralSampling::FiveByFiveCells,
                    const PlaneProgressReport &progress = {});

// The base/detail tone mapping of one RGBE texture of width × height into a new RGBA8 texture of
// display values (gamma 2.2), consuming the input: two passes of the program, the log luminance
// of every texel, then the filter and the mapping. With a disparity map the disparity term and
// the disparity edges take part; null leaves both out. The disparity map is sampled mirrored
// during the passes and left clamped to a transparent black border, as the plane keeps its
// layers. Runs inside FramebufferPasses.
OwnedTexture bilateralTonemap(OwnedTexture rgbe, QOpenGLTexture *disparity, int width, int height,
                              const BilateralSettings &settings = BilateralSettings());
