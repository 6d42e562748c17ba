#pragma once

#include "SyntheticScene.h"

#include <QImage>

#include <cstdint>
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

// Writes every view of the scene, with its disparity map if the options ask for one. Throws
// std::runtime_error naming the path when the file cannot be written; a partly written file is
// removed.
void writeLightfield(const SyntheticScene &scene, const std::string &path);

} // namespace synth
