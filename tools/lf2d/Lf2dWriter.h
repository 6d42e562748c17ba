#pragma once

#include "SyntheticScene.h"

#include "lightfield/LightfieldHeader.h"

#include <QImage>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The .lf2d encodings of synthetic views. Every image is stored with 4 bytes per pixel and its
// rows bottom-up: the first stored row is the bottom row of the picture.
namespace synth {

// R, G, B rounded from [0, 1] to bytes (clamped), A = 255.
std::vector<std::uint8_t> toFileRgba8(const FloatImage &image);

// RGBE texels of linear values.
std::vector<std::uint8_t> toFileRgbe(const FloatImage &image);

// RGBE texels holding the disparity in all three channels; disparity is upright, row-major.
std::vector<std::uint8_t> disparityToFileRgbe(const std::vector<float> &disparity, int width,
                                              int height);

// An upright 8-bit picture of a view. Display colours (hdr false) are rounded as in the file.
// Radiance (hdr true) is compressed per channel to (v / (1 + v))^(1/2.2) before rounding, which
// keeps both the shadows and the lit surfaces apart; only the emitter comes out nearly white.
QImage toDisplayImage(const FloatImage &image, bool hdr);

// The header of a grid of columns × rows views of width × height pixels: 8-bit, without
// disparity, 20 window pixels of drag between neighbouring views. Callers change what differs.
LightfieldHeader gridHeader(int width, int height, int columns, int rows);

// Produce the upright colour image (display colours for 8-bit files, linear radiance for RGBE)
// and the upright, row-major disparity map of the view at (column, row); row 0 is the top row of
// viewpoints. Views are asked for one at a time, in file order, so that a grid never needs to be
// held in memory whole.
using ViewSource = std::function<FloatImage(int column, int row)>;
using DisparitySource = std::function<std::vector<float>(int column, int row)>;

// Writes the header and every view of its grid, each followed by its disparity map when the
// header says so (disparity is not called otherwise). Views must have the header's size. Throws
// std::runtime_error naming the path when the file cannot be written, and lets through what the
// sources throw; either way nothing is left at path (an earlier file there is kept).
void writeLightfield(const std::string &path, const LightfieldHeader &header,
                     const ViewSource &view, const DisparitySource &disparity);

// Writes every view of the scene, with its disparity map if the options ask for one; fails as the
// function above.
void writeLightfield(const SyntheticScene &scene, const std::string &path);

} // namespace synth
