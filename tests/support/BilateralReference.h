#pragma once

#include "ViewStatisticsReference.h"
#include "lightfield/Rgbe.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

// A CPU reference of the bilateral base/detail tone mapping (Durand and Dorsey 2002) that the
// bilateral plane stage computes, written from its definition in double precision.

// An RGBE view in GL row order, with its disparity (empty: none).
struct HdrView
{
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgbe; // 4 per texel
    std::vector<float> disparity; // 1 per texel
};

// Linear colour and disparity of a texel of a made-up view; x, y in GL texel coordinates.
using ColourFunction = std::function<void(int x, int y, float rgb[3])>;
using DisparityFunction = std::function<float(int x, int y)>;

inline HdrView makeView(int width, int height, const ColourFunction &colour,
                        const DisparityFunction &disparity = {})
{
    HdrView view {width, height, {}, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            float rgb[3];
            colour(x, y, rgb);
            std::uint8_t texel[4];
            encodeRgbe(rgb[0], rgb[1], rgb[2], texel);
            view.rgbe.insert(view.rgbe.end(), texel, texel + 4);
            if (disparity)
                view.disparity.push_back(disparity(x, y));
        }
    }
    return view;
}

// The operator's constants, one per uniform of the stage's pass.
struct BilateralConstants
{
    double absoluteScale; // stops taken off the compressed log2 luminance
    double compressionFactor; // scale of the base layer
    double disparityEdgeCompressionFactor; // the same on a disparity edge
    int filterSize; // window radius in texels
    double sigmaPosition; // texels
    double sigmaIntensity; // stops
    double sigmaDisparity; // pixels per view step
    double colourCorrection; // exponent of each channel's ratio to the luminance
    int cellSize; // the window sampled in cells of this side, one tap at each middle
};

// GL_MIRRORED_REPEAT on texel indices: -1 reads 0, n reads n - 1.
inline int mirroredIndex(int index, int size)
{
    const int period = 2 * size;
    const int folded = ((index % period) + period) % period;
    return folded < size ? folded : period - 1 - folded;
}

// The base layer (log2 luminance) of every texel, in GL row order; black texels get 0. The window
// is taken in square cells, one tap at the middle of each, weighted by the number of its texels
// inside the window; a cell size of 1 takes every texel.
inline std::vector<double> referenceBilateralBase(const HdrView &view, bool useDisparity,
                                                  const BilateralConstants &constants)
{
    const int width = view.width, height = view.height;
    const double black = std::ldexp(1.0, -32);
    std::vector<double> luminance(size_t(width) * height), intensity(luminance.size());
    for (size_t i = 0; i < luminance.size(); ++i) {
        double rgb[3];
        decodeRgbeTexel(&view.rgbe[i * 4], rgb);
        luminance[i] = luminanceOf(rgb);
        intensity[i] = std::log2(std::max(luminance[i], black));
    }
    auto index = [&](int x, int y) {
        return size_t(mirroredIndex(y, height)) * width + mirroredIndex(x, width);
    };
    auto disparity = [&](int x, int y) {
        return double(view.disparity[index(x, y)]);
    };
    auto gauss = [](double distance, double sigma) {
        return std::exp(-distance * distance / (2 * sigma * sigma));
    };
    const int cell = constants.cellSize;
    const int radius = constants.filterSize;
    const int reach = (radius + cell / 2) / cell * cell;
    auto span = [&](int middle) {
        return std::min(middle + cell / 2, radius) - std::max(middle - cell / 2, -radius) + 1;
    };

    std::vector<double> base(luminance.size(), 0.0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t p = index(x, y);
            if (luminance[p] < black)
                continue;
            double sum = 0, weights = 0;
            for (int dy = -reach; dy <= reach; dy += cell) {
                for (int dx = -reach; dx <= reach; dx += cell) {
                    const size_t q = index(x + dx, y + dy);
                    double weight = span(dx) * span(dy)
                        * gauss(std::hypot(dx, dy), constants.sigmaPosition)
                        * gauss(intensity[q] - intensity[p], constants.sigmaIntensity);
                    if (useDisparity)
                        weight *= gauss(disparity(x + dx, y + dy) - disparity(x, y),
                                        constants.sigmaDisparity);
                    sum += weight * intensity[q];
                    weights += weight;
                }
            }
            base[p] = sum / weights;
        }
    }
    return base;
}

// Display values (gamma 2.2, before the 8-bit target clamps them) of every texel, 3 per texel,
// for a base layer: the detail layer is the texel's log2 luminance less its base, the base is
// compressed (harder on a disparity edge), and the colour goes back on top. Black texels stay
// black.
inline std::vector<double> referenceDisplay(const HdrView &view, const std::vector<double> &base,
                                            bool useDisparity, const BilateralConstants &constants)
{
    const int width = view.width, height = view.height;
    const double black = std::ldexp(1.0, -32);
    auto disparity = [&](int x, int y) {
        return double(
            view.disparity[size_t(mirroredIndex(y, height)) * width + mirroredIndex(x, width)]);
    };
    std::vector<double> display(size_t(width) * height * 3, 0.0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t p = size_t(y) * width + x;
            double rgb[3];
            decodeRgbeTexel(&view.rgbe[p * 4], rgb);
            const double luminance = luminanceOf(rgb);
            if (luminance < black)
                continue;
            bool edge = false;
            if (useDisparity) {
                const std::pair<int, int> neighbours[] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
                for (auto [dx, dy] : neighbours)
                    edge = edge
                        || std::abs(disparity(x + dx, y + dy) - disparity(x, y))
                            > constants.sigmaDisparity;
            }
            const double compression =
                edge ? constants.disparityEdgeCompressionFactor : constants.compressionFactor;
            const double mapped = std::exp2(base[p] * compression + (std::log2(luminance) - base[p])
                                            - constants.absoluteScale);
            for (int channel = 0; channel < 3; ++channel) {
                const double linear =
                    std::pow(rgb[channel] / luminance, constants.colourCorrection) * mapped;
                display[p * 3 + channel] = std::pow(linear, 1 / 2.2);
            }
        }
    }
    return display;
}

// Display values of the filter as defined (with the window in cells of constants.cellSize).
inline std::vector<double> referenceBilateral(const HdrView &view, bool useDisparity,
                                              const BilateralConstants &constants)
{
    return referenceDisplay(view, referenceBilateralBase(view, useDisparity, constants),
                            useDisparity, constants);
}
