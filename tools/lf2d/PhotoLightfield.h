#pragma once

#include <string>

// Light fields cut from one photograph: every view is a crop of it, the crop window moving a whole
// number of pixels per view step, so that the grid looks like a flat scene at one disparity seen
// from many viewpoints, and neighbouring views see a little more of one side of the photograph
// (more sky, more shadow) than the other.
namespace photo {

// The size a view grows to along a side left to choose.
constexpr int defaultViewSideCap = 512;

struct PhotoOptions
{
    int columns = 5;
    int rows = 5;
    int width = 0; // pixels per view row; 0: the largest that fits, at most defaultViewSideCap
    int height = 0; // pixel rows per view; 0 as for width
    int step = 8; // pixels the crop window moves per view step, the disparity of every pixel
    int viewSpacing = 20; // window pixels of drag between neighbouring views, for the header
    bool disparity = true; // store a disparity map after every view
};

// Where the views come from. The photograph is shrunk to scaledWidth × scaledHeight (the same
// size when it is not shrunk); the view at (column, row) is the viewWidth × viewHeight crop
// whose top-left pixel is (left + column · step, top + row · step) of the shrunk picture.
struct PhotoPlan
{
    int scaledWidth = 0;
    int scaledHeight = 0;
    int viewWidth = 0;
    int viewHeight = 0;
    int left = 0;
    int top = 0;
};

// Fits the grid into a photograph of the given size. The grid covers
// (width + (columns − 1) · step) × (height + (rows − 1) · step) pixels; a photograph much larger
// than that is shrunk, keeping its aspect ratio, until the grid spans it along one side, so that
// views show the whole scene rather than a corner. A photograph at most a quarter larger keeps
// its own pixels and the grid is centred on it. Photographs are never enlarged: throws
// std::runtime_error saying what the grid needs when the photograph is too small.
PhotoPlan planViews(int photoWidth, int photoHeight, const PhotoOptions &options);

struct PhotoSummary
{
    int photoWidth = 0;
    int photoHeight = 0;
    PhotoPlan plan;
    bool hdr = false;
};

// Reads the photograph and writes the light field. Floating-point photographs (OpenEXR, Radiance
// and the like) become RGBE light fields of their linear values, with negative and not-a-number
// values set to 0; integer photographs (PNG, JPEG, ...) become 8-bit light fields of their
// display colours. The first three channels are red, green and blue; a photograph with fewer is
// grey. Throws std::runtime_error naming the photograph when it cannot be read or is too small,
// and naming the output when it cannot be written.
PhotoSummary writePhotoLightfield(const std::string &photoPath, const std::string &outputPath,
                                  const PhotoOptions &options);

} // namespace photo
