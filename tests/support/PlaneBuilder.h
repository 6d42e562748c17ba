#pragma once

#include "lightfield/LightfieldPlane.h"

#include <QOpenGLTexture>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// Textures with known content, uploaded in GL row order (row 0 at the bottom).
OwnedTexture uploadRgba8(int width, int height, const std::vector<std::uint8_t> &texels);
OwnedTexture uploadRgba16F(int width, int height, const std::vector<float> &texels);
OwnedTexture uploadR16F(int width, int height, const std::vector<float> &values);
// One row of RGBE texels from exponents too faint for a half float to hold exactly to colours
// beyond the largest one, black and saturated colours among them: what a pass that decodes RGBE
// itself must carry through as the linear pass does.
std::vector<std::uint8_t> rgbeAcrossTheHalfFloatRange();
// The DisparityTiles layer of a disparity map in GL row order, found on the CPU.
OwnedTexture disparityTilesOfMap(int width, int height, const std::vector<float> &disparity);

// A plane whose views are computed by functions of (column, row, x, y), x and y in GL texel
// coordinates, without a file: colour gives RGBA in 0..1 (stored as 8-bit, or as half floats when
// halfFloat is set), disparity, when given, the Disparity and DisparityTiles layers.
struct PlaneDescription
{
    int columns = 3;
    int rows = 3;
    int width = 16;
    int height = 16;
    int viewSpacing = 20;
    int maxDisparity = 0;
    bool halfFloat = false;
    std::function<void(int column, int row, int x, int y, float rgba[4])> colour;
    std::function<float(int column, int row, int x, int y)> disparity; // empty: no disparity
    KeyList parameters;
};

std::unique_ptr<LightfieldPlane> makePlane(const PlaneDescription &description);
