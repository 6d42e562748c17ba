#pragma once

#include "BilateralReference.h"

#include <algorithm>
#include <cmath>
#include <vector>

// A CPU reference of the bilateral grid that approximates the stage's filter, in double precision
// and on a dense grid, written from its definition: every lit texel of the view mirrored at its
// borders goes into the spatial cell that holds it and, linearly, into the two nearest samples of
// log2 luminance (and of disparity); the grid is blurred by a small Gaussian along each axis; the
// base layer of a texel is the ratio of the blurred weighted sum to the blurred weight,
// interpolated multilinearly at the texel's place in the grid.

struct BilateralGridConstants
{
    int spatialCell; // texels per cell side
    double intensityCell; // stops of log2 luminance between samples
    double disparityCell; // pixels of disparity between samples
    double spatialVariance; // of the blur, in cells squared
    double rangeVariance; // of the blur along luminance and disparity, in samples squared
    int spatialRadius; // of the blur kernels, in cells
    int rangeRadius; // in samples
};

// The blur kernel of a variance and radius: Gaussian, normalized to a sum of 1.
inline std::vector<double> gridKernel(double variance, int radius)
{
    std::vector<double> kernel;
    double sum = 0;
    for (int k = -radius; k <= radius; ++k) {
        kernel.push_back(std::exp(-k * k / (2 * variance)));
        sum += kernel.back();
    }
    for (double &weight : kernel)
        weight /= sum;
    return kernel;
}

// The base layer (log2 luminance) of every texel in GL row order; black texels get 0.
inline std::vector<double> referenceGridBase(const HdrView &view, bool useDisparity,
                                             const BilateralGridConstants &grid)
{
    const int width = view.width, height = view.height;
    const double black = std::ldexp(1.0, -32);
    std::vector<double> intensity(size_t(width) * height);
    std::vector<bool> lit(intensity.size());
    for (size_t i = 0; i < intensity.size(); ++i) {
        double rgb[3];
        decodeRgbeTexel(&view.rgbe[i * 4], rgb);
        const double luminance = luminanceOf(rgb);
        lit[i] = luminance >= black;
        intensity[i] = std::log2(std::max(luminance, black));
    }
    auto disparityOf = [&](size_t i) {
        return useDisparity ? double(view.disparity[i]) : 0.0;
    };
    double lowI = HUGE_VAL, highI = -HUGE_VAL, lowD = HUGE_VAL, highD = -HUGE_VAL;
    for (size_t i = 0; i < intensity.size(); ++i) {
        if (!lit[i])
            continue;
        lowI = std::min(lowI, intensity[i] / grid.intensityCell);
        highI = std::max(highI, intensity[i] / grid.intensityCell);
        lowD = std::min(lowD, disparityOf(i) / grid.disparityCell);
        highD = std::max(highD, disparityOf(i) / grid.disparityCell);
    }
    std::vector<double> base(intensity.size(), 0.0);
    if (lowI > highI)
        return base;

    const int cell = grid.spatialCell;
    const int pad = grid.spatialRadius + 1;
    const int cellsX = (width + cell - 1) / cell + 2 * pad;
    const int cellsY = (height + cell - 1) / cell + 2 * pad;
    const int firstI = int(std::floor(lowI)) - grid.rangeRadius;
    const int samplesI = int(std::floor(highI)) + 2 + grid.rangeRadius - firstI;
    const int firstD = int(std::floor(lowD)) - grid.rangeRadius;
    const int samplesD = int(std::floor(highD)) + 2 + grid.rangeRadius - firstD;
    const size_t nodes = size_t(cellsX) * cellsY * samplesI * samplesD;
    // Node (x, y, i, d); two values per node: weight, weighted sum.
    std::vector<double> weights(nodes, 0.0), sums(nodes, 0.0);
    const size_t strideD = 1, strideI = samplesD, strideY = strideI * samplesI,
                 strideX = strideY * cellsY;
    auto node = [&](int x, int y, int i, int d) {
        return size_t(x) * strideX + size_t(y) * strideY + size_t(i) * strideI + size_t(d);
    };

    for (int y = -pad * cell; y < (cellsY - pad) * cell; ++y) {
        for (int x = -pad * cell; x < (cellsX - pad) * cell; ++x) {
            const size_t p = size_t(mirroredIndex(y, height)) * width + mirroredIndex(x, width);
            if (!lit[p])
                continue;
            const double u = intensity[p] / grid.intensityCell;
            const double v = disparityOf(p) / grid.disparityCell;
            const int i0 = int(std::floor(u)), d0 = int(std::floor(v));
            const double fi = u - i0, fd = v - d0;
            const int cx = (x + pad * cell) / cell, cy = (y + pad * cell) / cell;
            for (int di = 0; di < 2; ++di) {
                for (int dd = 0; dd < 2; ++dd) {
                    const double w = (di ? fi : 1 - fi) * (dd ? fd : 1 - fd);
                    const size_t n = node(cx, cy, i0 + di - firstI, d0 + dd - firstD);
                    weights[n] += w;
                    sums[n] += w * intensity[p];
                }
            }
        }
    }

    const int extents[4] = {cellsX, cellsY, samplesI, samplesD};
    const size_t strides[4] = {strideX, strideY, strideI, strideD};
    for (int axis = 0; axis < 4; ++axis) {
        const bool spatial = axis < 2;
        if (axis == 3 && !useDisparity)
            break;
        const int radius = spatial ? grid.spatialRadius : grid.rangeRadius;
        const std::vector<double> kernel =
            gridKernel(spatial ? grid.spatialVariance : grid.rangeVariance, radius);
        for (std::vector<double> *values : {&weights, &sums}) {
            std::vector<double> blurred(nodes, 0.0);
            for (size_t n = 0; n < nodes; ++n) {
                const int at = int(n / strides[axis] % size_t(extents[axis]));
                for (int k = -radius; k <= radius; ++k) {
                    if (at + k >= 0 && at + k < extents[axis])
                        blurred[n] += kernel[size_t(k + radius)]
                            * (*values)[size_t(std::ptrdiff_t(n)
                                               + k * std::ptrdiff_t(strides[axis]))];
                }
            }
            *values = std::move(blurred);
        }
    }

    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t p = size_t(y) * width + x;
            if (!lit[p])
                continue;
            const double gx = (x + 0.5) / cell - 0.5 + pad, gy = (y + 0.5) / cell - 0.5 + pad;
            const double u = intensity[p] / grid.intensityCell - firstI;
            const double v = disparityOf(p) / grid.disparityCell - firstD;
            const int x0 = int(std::floor(gx)), y0 = int(std::floor(gy)), i0 = int(std::floor(u)),
                      d0 = int(std::floor(v));
            double weight = 0, sum = 0;
            for (int corner = 0; corner < 16; ++corner) {
                const int cx = corner & 1, cy = corner >> 1 & 1, ci = corner >> 2 & 1,
                          cd = corner >> 3 & 1;
                const double w = (cx ? gx - x0 : 1 - (gx - x0)) * (cy ? gy - y0 : 1 - (gy - y0))
                    * (ci ? u - i0 : 1 - (u - i0)) * (cd ? v - d0 : 1 - (v - d0));
                if (w == 0)
                    continue;
                const size_t n = node(x0 + cx, y0 + cy, i0 + ci, d0 + cd);
                weight += w * weights[n];
                sum += w * sums[n];
            }
            base[p] = sum / weight;
        }
    }
    return base;
}

// The grid the stage builds for the filter's sigmas: cells one sigma a side along every axis, and
// blurs that give each axis the variance of the filter's Gaussian once the splat (a box across a
// spatial cell, a tent between range samples) and the multilinear interpolation (a tent) are
// added. The spatial blur reaches two cells each way, the range blurs one sample.
inline BilateralGridConstants gridConstantsFor(double sigmaPosition, double sigmaIntensity,
                                               double sigmaDisparity)
{
    const int cell = std::max(1, int(std::lround(sigmaPosition)));
    const double box = (double(cell) * cell - 1) / 12 / (double(cell) * cell);
    return {cell, sigmaIntensity, sigmaDisparity, 1 - box - 1.0 / 6, 2.0 / 3, 2, 1};
}

// Display values of the stage's grid tone mapping, 3 per texel.
inline std::vector<double> referenceGridBilateral(const HdrView &view, bool useDisparity,
                                                  const BilateralConstants &constants)
{
    const BilateralGridConstants grid = gridConstantsFor(
        constants.sigmaPosition, constants.sigmaIntensity, constants.sigmaDisparity);
    return referenceDisplay(view, referenceGridBase(view, useDisparity, grid), useDisparity,
                            constants);
}
