#include "BilateralGrid.h"

#include "BilateralPlaneStage.h"
#include "Parallel.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

constexpr int spatialRadius = 2; // cells of the spatial blur's kernel each way
// Samples of the range blurs' kernels each way. Two would follow the Gaussian more closely, but
// each cell then holds twice the samples, and the grid takes a third longer; against the full
// window the mean error hardly changes, the largest grows on a few antialiased borders.
constexpr int rangeRadius = 1;
// Slicing reads a texel's cell and the next one each way, and the blur reaches spatialRadius
// beyond those: so many cells of mirrored texels lie beyond each border.
constexpr int paddingCells = spatialRadius + 1;
// Log2 luminance of the darkest lit texel: below it a texel is black.
constexpr float blackIntensity = -32.0f;
constexpr float displayGamma = 2.2f;

using Kernel = std::array<float, 2 * spatialRadius + 1>;
static_assert(rangeRadius <= spatialRadius, "one kernel type serves both blurs");

// Four floats in a vector register where the target has one (GCC's and Clang's vector
// extension): the slice's corners add up four values at once.
typedef float Float4 __attribute__((vector_size(16)));

Float4 load4(const float *from)
{
    Float4 loaded;
    std::memcpy(&loaded, from, sizeof loaded);
    return loaded;
}

// A Gaussian of the variance (in cells or samples squared) cut off beyond the radius, normalized;
// weight k of the kernel at kernel[k + radius].
Kernel gaussianKernel(double variance, int radius)
{
    Kernel kernel {};
    double sum = 0.0;
    for (int k = -radius; k <= radius; ++k)
        sum += std::exp(-k * k / (2.0 * variance));
    for (int k = -radius; k <= radius; ++k)
        kernel[size_t(k + radius)] = float(std::exp(-k * k / (2.0 * variance)) / sum);
    return kernel;
}

// GL_MIRRORED_REPEAT on texel indices: -1 reads 0, size reads size - 1.
int mirrored(int index, int size)
{
    const int period = 2 * size;
    const int folded = ((index % period) + period) % period;
    return folded < size ? folded : period - 1 - folded;
}

int floorToInt(float value)
{
    const int truncated = int(value);
    return truncated - (float(truncated) > value ? 1 : 0);
}

// log2 of a positive normal float, to about 1e-7: the exponent, and 2 artanh(t) / ln 2 of the
// mantissa m in [sqrt(1/2), sqrt(2)) with t = (m - 1) / (m + 1), |t| < 0.172. The library's
// logarithm takes several times as long and is called once per texel.
inline float fastLog2(float x)
{
    std::uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    int exponent = int(bits >> 23) - 127;
    bits = (bits & 0x007fffffu) | 0x3f800000u;
    float mantissa;
    std::memcpy(&mantissa, &bits, sizeof mantissa);
    const bool high = mantissa > 1.41421356f;
    mantissa = high ? mantissa * 0.5f : mantissa;
    exponent += high ? 1 : 0;
    const float t = (mantissa - 1.0f) / (mantissa + 1.0f);
    const float t2 = t * t;
    return float(exponent)
        + t * (2.88539008f + t2 * (0.961796694f + t2 * (0.577078016f + t2 * 0.412198583f)));
}

// 2^x for x in [-126, 126] (clamped), to about 1e-7 relative: 2^(whole part) times
// sqrt(2) e^g with g = (fraction - 1/2) ln 2, |g| < 0.347, by its Taylor series to g^6.
inline float fastExp2(float x)
{
    x = std::min(std::max(x, -126.0f), 126.0f);
    const int whole = int(x + 127.0f) - 127; // the floor: x + 127 is positive
    const float g = (x - float(whole) - 0.5f) * 0.693147181f;
    const float e = 1.0f
        + g
            * (1.0f
               + g
                   * (0.5f
                      + g
                          * (1.0f / 6.0f
                             + g * (1.0f / 24.0f + g * (1.0f / 120.0f + g * (1.0f / 720.0f))))));
    const std::uint32_t bits = std::uint32_t(whole + 127) << 23;
    float scale;
    std::memcpy(&scale, &bits, sizeof scale);
    return e * 1.41421356f * scale;
}

} // namespace

void BilateralGridFilter::tonemap(const std::uint8_t *rgbe, const float *disparity, int width,
                                  int height, const BilateralSettings &settings, std::uint8_t *rgba)
{
    m_width = width;
    m_height = height;
    m_disparity = disparity;
    const size_t texels = size_t(width) * size_t(height);
    m_intensity.resize(texels);
    m_logSum.resize(texels);
    float *intensities = m_intensity.data();
    float *logSums = m_logSum.data();
    inParallel(height, [&](int begin, int end) {
        for (size_t p = size_t(begin) * size_t(width); p < size_t(end) * size_t(width); ++p) {
            const std::uint8_t *texel = rgbe + p * 4;
            // The luminance is this weighted sum of the mantissas times 2^(E - 136).
            const float sum =
                0.2126f * float(texel[0]) + 0.7152f * float(texel[1]) + 0.0722f * float(texel[2]);
            const float logSum = fastLog2(sum > 0.01f ? sum : 0.01f);
            logSums[p] = logSum;
            const float lit = logSum + float(int(texel[3]) - 136);
            intensities[p] = sum > 0.0f ? lit : 2.0f * blackIntensity;
        }
    });
    if (disparity) {
        filter<true>(settings);
        map<true>(rgbe, settings, rgba);
    } else {
        filter<false>(settings);
        map<false>(rgbe, settings, rgba);
    }
}

template<bool UseDisparity> void BilateralGridFilter::filter(const BilateralSettings &settings)
{
    const int width = m_width, height = m_height;
    const int cell = std::max(1, int(std::lround(settings.gaussSigmaPosition)));
    const float intensityScale = 1.0f / settings.gaussSigmaIntensity;
    const float disparityScale = 1.0f / settings.gaussSigmaDisparity;
    const int cellsX = (width + cell - 1) / cell + 2 * paddingCells;
    const int cellsY = (height + cell - 1) / cell + 2 * paddingCells;

    m_mirroredX.resize(size_t(cellsX) * cell);
    for (int x = 0; x < cellsX * cell; ++x)
        m_mirroredX[size_t(x)] = mirrored(x - paddingCells * cell, width);
    m_mirroredY.resize(size_t(cellsY) * cell);
    for (int y = 0; y < cellsY * cell; ++y)
        m_mirroredY[size_t(y)] = mirrored(y - paddingCells * cell, height);

    // The samples each texel of the padded grid goes into: the lower ones and the fractions.
    struct Sample
    {
        int intensity, disparity;
        float intensityFraction, disparityFraction;
    };
    const auto sampleOf = [&](size_t texel) {
        const float u = m_intensity[texel] * intensityScale;
        Sample sample {floorToInt(u), 0, 0.0f, 0.0f};
        sample.intensityFraction = u - float(sample.intensity);
        if (UseDisparity) {
            const float v = m_disparity[texel] * disparityScale;
            sample.disparity = floorToInt(v);
            sample.disparityFraction = v - float(sample.disparity);
        }
        return sample;
    };
    // Cell rows [begin, end) of the padded grid, texel by texel.
    const auto forEachLitTexel = [&](int begin, int end, auto &&visit) {
        for (int y = begin * cell; y < end * cell; ++y) {
            const size_t row = size_t(m_mirroredY[size_t(y)]) * size_t(width);
            CellBox *box = &m_cells[size_t(y / cell) * size_t(cellsX)];
            const int *column = m_mirroredX.data();
            for (int x = 0; x < cellsX; ++x, ++box) {
                for (int k = 0; k < cell; ++k, ++column) {
                    const size_t texel = row + size_t(*column);
                    if (m_intensity[texel] >= blackIntensity)
                        visit(*box, texel);
                }
            }
        }
    };

    // The samples each cell's texels reach: first the extremes of the sample coordinates of the
    // lit texels in each cell of the view, then for each cell of the padded grid those of the
    // view's cells its mirrored texels come from (a cell that a border cuts short may take in
    // more than it holds, which only costs the grid a few samples).
    const int viewCellsX = (width + cell - 1) / cell, viewCellsY = (height + cell - 1) / cell;
    m_extents.assign(size_t(viewCellsX) * size_t(viewCellsY),
                     {HUGE_VALF, -HUGE_VALF, HUGE_VALF, -HUGE_VALF});
    inParallel(viewCellsY, [&](int begin, int end) {
        for (int y = begin * cell; y < std::min(height, end * cell); ++y) {
            Extent *extent = &m_extents[size_t(y / cell) * size_t(viewCellsX)];
            const float *intensity = &m_intensity[size_t(y) * size_t(width)];
            const float *disparity =
                UseDisparity ? m_disparity + size_t(y) * size_t(width) : nullptr;
            for (int x0 = 0; x0 < width; x0 += cell, ++extent) {
                Extent e = *extent;
                for (int x = x0; x < std::min(width, x0 + cell); ++x) {
                    const bool lit = intensity[x] >= blackIntensity;
                    const float u = intensity[x] * intensityScale;
                    e.lowI = std::min(e.lowI, lit ? u : HUGE_VALF);
                    e.highI = std::max(e.highI, lit ? u : -HUGE_VALF);
                    if (UseDisparity) {
                        const float v = disparity[x] * disparityScale;
                        e.lowD = std::min(e.lowD, lit ? v : HUGE_VALF);
                        e.highD = std::max(e.highD, lit ? v : -HUGE_VALF);
                    }
                }
                *extent = e;
            }
        }
    });
    // The view's cells each padded column and row of cells takes its texels from.
    const auto sources = [cell](const std::vector<int> &mirrored, int cells) {
        std::vector<std::pair<int, int>> ranges;
        for (int c = 0; c < cells; ++c) {
            const auto [low, high] =
                std::minmax_element(mirrored.begin() + c * cell, mirrored.begin() + (c + 1) * cell);
            ranges.emplace_back(*low / cell, *high / cell);
        }
        return ranges;
    };
    const std::vector<std::pair<int, int>> sourcesX = sources(m_mirroredX, cellsX),
                                           sourcesY = sources(m_mirroredY, cellsY);
    const CellBox empty {INT_MAX, INT_MIN, INT_MAX, INT_MIN, 0};
    m_cells.assign(size_t(cellsX) * size_t(cellsY), empty);
    for (int y = 0; y < cellsY; ++y) {
        for (int x = 0; x < cellsX; ++x) {
            Extent e {HUGE_VALF, -HUGE_VALF, HUGE_VALF, -HUGE_VALF};
            for (int sy = sourcesY[size_t(y)].first; sy <= sourcesY[size_t(y)].second; ++sy) {
                for (int sx = sourcesX[size_t(x)].first; sx <= sourcesX[size_t(x)].second; ++sx) {
                    const Extent &source = m_extents[size_t(sy * viewCellsX + sx)];
                    e = {std::min(e.lowI, source.lowI), std::max(e.highI, source.highI),
                         std::min(e.lowD, source.lowD), std::max(e.highD, source.highD)};
                }
            }
            if (e.lowI > e.highI)
                continue;
            CellBox &box = m_cells[size_t(y * cellsX + x)];
            box.intensityBegin = floorToInt(e.lowI);
            box.intensityEnd = floorToInt(e.highI) + 2;
            box.disparityBegin = UseDisparity ? floorToInt(e.lowD) : 0;
            box.disparityEnd = UseDisparity ? floorToInt(e.highD) + 2 : 1;
        }
    }
    // Blurred, a cell holds what its neighbours within the spatial radius reach, widened by the
    // range radius; slicing reads no cell further than one from a texel's own.
    const auto unite = [](CellBox &into, const CellBox &box) {
        into.intensityBegin = std::min(into.intensityBegin, box.intensityBegin);
        into.intensityEnd = std::max(into.intensityEnd, box.intensityEnd);
        into.disparityBegin = std::min(into.disparityBegin, box.disparityBegin);
        into.disparityEnd = std::max(into.disparityEnd, box.disparityEnd);
    };
    std::vector<CellBox> across(m_cells.size(), empty);
    for (int y = 0; y < cellsY; ++y) {
        for (int x = 0; x < cellsX; ++x) {
            for (int k = std::max(0, x - spatialRadius);
                 k <= std::min(cellsX - 1, x + spatialRadius); ++k)
                unite(across[size_t(y * cellsX + x)], m_cells[size_t(y * cellsX + k)]);
        }
    }
    size_t nodes = 0;
    for (int y = 0; y < cellsY; ++y) {
        for (int x = 0; x < cellsX; ++x) {
            CellBox box = empty;
            for (int k = std::max(0, y - spatialRadius);
                 k <= std::min(cellsY - 1, y + spatialRadius); ++k)
                unite(box, across[size_t(k * cellsX + x)]);
            if (box.intensityBegin >= box.intensityEnd) {
                box = CellBox {0, 0, 0, 0, nodes};
            } else {
                box.intensityBegin -= rangeRadius;
                box.intensityEnd += rangeRadius;
                if (UseDisparity) {
                    box.disparityBegin -= rangeRadius;
                    box.disparityEnd += rangeRadius;
                }
                box.offset = nodes;
                nodes += size_t(box.intensityEnd - box.intensityBegin)
                    * size_t(box.disparityEnd - box.disparityBegin);
            }
            m_cells[size_t(y * cellsX + x)] = box;
        }
    }

    // Splat.
    // Slicing reads four floats from any node on, the last one's included.
    m_nodes.assign(nodes * 2 + 2, 0.0f);
    inParallel(cellsY, [&](int begin, int end) {
        forEachLitTexel(begin, end, [&](CellBox &box, size_t texel) {
            const Sample sample = sampleOf(texel);
            const int samplesD = box.disparityEnd - box.disparityBegin;
            float *node = &m_nodes[2
                                   * (box.offset
                                      + size_t((sample.intensity - box.intensityBegin) * samplesD
                                               + sample.disparity - box.disparityBegin))];
            const float intensity = m_intensity[texel];
            const float fi = sample.intensityFraction;
            if (UseDisparity) {
                const float fd = sample.disparityFraction;
                const float weights[4] = {(1 - fi) * (1 - fd), (1 - fi) * fd, fi * (1 - fd),
                                          fi * fd};
                const size_t at[4] = {0, 2, size_t(2 * samplesD), size_t(2 * samplesD + 2)};
                for (int corner = 0; corner < 4; ++corner) {
                    node[at[corner]] += weights[corner];
                    node[at[corner] + 1] += weights[corner] * intensity;
                }
            } else {
                node[0] += 1 - fi;
                node[1] += (1 - fi) * intensity;
                node[2] += fi;
                node[3] += fi * intensity;
            }
        });
    });

    // Blur along the range axes, inside each cell.
    const Kernel rangeKernel = gaussianKernel(2.0 / 3.0, rangeRadius);
    inParallel(int(m_cells.size()), [&](int begin, int end) {
        std::vector<float> blurred;
        for (int c = begin; c < end; ++c) {
            const CellBox &box = m_cells[size_t(c)];
            const int samplesI = box.intensityEnd - box.intensityBegin;
            const int samplesD = box.disparityEnd - box.disparityBegin;
            const int row = 2 * samplesD; // floats per intensity sample
            float *block = &m_nodes[2 * box.offset];
            blurred.assign(size_t(samplesI) * size_t(row), 0.0f);
            for (int i = 0; i < samplesI; ++i) {
                float *into = &blurred[size_t(i) * size_t(row)];
                for (int k = std::max(-rangeRadius, -i);
                     k <= std::min(rangeRadius, samplesI - 1 - i); ++k) {
                    const float w = rangeKernel[size_t(k + rangeRadius)];
                    const float *from = block + (i + k) * row;
                    for (int j = 0; j < row; ++j)
                        into[j] += w * from[j];
                }
            }
            if (!UseDisparity) {
                std::copy(blurred.begin(), blurred.end(), block);
                continue;
            }
            for (int i = 0; i < samplesI; ++i) {
                const float *from = &blurred[size_t(i) * size_t(row)];
                float *into = block + i * row;
                for (int d = 0; d < samplesD; ++d) {
                    float weight = 0.0f, sum = 0.0f;
                    for (int k = std::max(-rangeRadius, -d);
                         k <= std::min(rangeRadius, samplesD - 1 - d); ++k) {
                        weight += rangeKernel[size_t(k + rangeRadius)] * from[2 * (d + k)];
                        sum += rangeKernel[size_t(k + rangeRadius)] * from[2 * (d + k) + 1];
                    }
                    into[2 * d] = weight;
                    into[2 * d + 1] = sum;
                }
            }
        }
    });

    // Blur along x into m_blurred, then along y back into m_nodes: each cell gathers the samples
    // it shares with its neighbours.
    const double cellVariance = (double(cell) * cell - 1.0) / 12.0 / (double(cell) * cell);
    const Kernel spatialKernel = gaussianKernel(1.0 - cellVariance - 1.0 / 6.0, spatialRadius);
    const auto blurAcross = [&](const std::vector<float> &from, std::vector<float> &to, int stepX,
                                int stepY) {
        to.assign(from.size(), 0.0f);
        inParallel(cellsY, [&](int begin, int end) {
            for (int y = begin; y < end; ++y) {
                for (int x = 0; x < cellsX; ++x) {
                    const CellBox &box = m_cells[size_t(y * cellsX + x)];
                    const int samplesD = box.disparityEnd - box.disparityBegin;
                    for (int k = -spatialRadius; k <= spatialRadius; ++k) {
                        const int nx = x + k * stepX, ny = y + k * stepY;
                        if (nx < 0 || nx >= cellsX || ny < 0 || ny >= cellsY)
                            continue;
                        const CellBox &other = m_cells[size_t(ny * cellsX + nx)];
                        const int beginI = std::max(box.intensityBegin, other.intensityBegin);
                        const int endI = std::min(box.intensityEnd, other.intensityEnd);
                        const int beginD = std::max(box.disparityBegin, other.disparityBegin);
                        const int endD = std::min(box.disparityEnd, other.disparityEnd);
                        if (beginI >= endI || beginD >= endD)
                            continue;
                        const float w = spatialKernel[size_t(k + spatialRadius)];
                        const int otherD = other.disparityEnd - other.disparityBegin;
                        const int span = 2 * (endD - beginD);
                        for (int i = beginI; i < endI; ++i) {
                            float *into = &to[2
                                              * (box.offset
                                                 + size_t((i - box.intensityBegin) * samplesD
                                                          + beginD - box.disparityBegin))];
                            const float *source =
                                &from[2
                                      * (other.offset
                                         + size_t((i - other.intensityBegin) * otherD + beginD
                                                  - other.disparityBegin))];
                            for (int j = 0; j < span; ++j)
                                into[j] += w * source[j];
                        }
                    }
                }
            }
        });
    };
    blurAcross(m_nodes, m_blurred, 1, 0);
    blurAcross(m_blurred, m_nodes, 0, 1);

    // Slice: the texel's base layer, interpolated between the four nearest cells' middles and
    // the samples around its log2 luminance (and disparity).
    m_base.assign(size_t(width) * size_t(height), 0.0f);
    const auto cellCoordinate = [&](int texel, int &lower, float &fraction) {
        const float at = (float(texel) + 0.5f) / float(cell) - 0.5f + float(paddingCells);
        lower = floorToInt(at);
        fraction = at - float(lower);
    };
    std::vector<int> lowerX(static_cast<size_t>(width));
    std::vector<float> fractionX(static_cast<size_t>(width));
    for (int x = 0; x < width; ++x)
        cellCoordinate(x, lowerX[size_t(x)], fractionX[size_t(x)]);
    // Where node (i, d) of a cell lies, as origin + i · stride + 2 d in floats: the same for the
    // run of texels between two cells' middles.
    struct Corner
    {
        std::ptrdiff_t origin, stride;
    };
    const auto cornerOf = [&](int x, int y) {
        const CellBox &box = m_cells[size_t(y * cellsX + x)];
        const std::ptrdiff_t samplesD = box.disparityEnd - box.disparityBegin;
        return Corner {
            2 * (std::ptrdiff_t(box.offset) - box.intensityBegin * samplesD - box.disparityBegin),
            2 * samplesD};
    };
    inParallel(height, [&](int begin, int end) {
        const float *nodes = m_nodes.data();
        for (int y = begin; y < end; ++y) {
            int lowerY;
            float fy;
            cellCoordinate(y, lowerY, fy);
            const float *intensity = &m_intensity[size_t(y) * size_t(width)];
            float *base = &m_base[size_t(y) * size_t(width)];
            Corner corners[4] {};
            int cornersX = -1;
            for (int x = 0; x < width; ++x) {
                if (lowerX[size_t(x)] != cornersX) {
                    cornersX = lowerX[size_t(x)];
                    corners[0] = cornerOf(cornersX, lowerY);
                    corners[1] = cornerOf(cornersX + 1, lowerY);
                    corners[2] = cornerOf(cornersX, lowerY + 1);
                    corners[3] = cornerOf(cornersX + 1, lowerY + 1);
                }
                if (intensity[x] < blackIntensity)
                    continue;
                const Sample sample = sampleOf(size_t(y) * size_t(width) + size_t(x));
                const float fx = fractionX[size_t(x)];
                const float fi = sample.intensityFraction, fd = sample.disparityFraction;
                const float spatial[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy,
                                          fx * fy};
                // Weight and sum at the lower and the upper disparity sample, gathered over the
                // corners and the two intensity samples around the texel's.
                // Four floats at a time: weight and sum of two neighbouring disparity samples
                // (without disparity the second pair is the next node's, and goes unused).
                Float4 gathered {};
                for (int c = 0; c < 4; ++c) {
                    const float *node = nodes + corners[c].origin
                        + sample.intensity * corners[c].stride + 2 * sample.disparity;
                    const float *upper = node + corners[c].stride; // the next intensity sample
                    gathered +=
                        spatial[c] * (1 - fi) * load4(node) + spatial[c] * fi * load4(upper);
                }
                const float weight =
                    UseDisparity ? (1 - fd) * gathered[0] + fd * gathered[2] : gathered[0];
                const float sum =
                    UseDisparity ? (1 - fd) * gathered[1] + fd * gathered[3] : gathered[1];
                base[x] = sum / weight;
            }
        }
    });
}

template<bool UseDisparity>
void BilateralGridFilter::map(const std::uint8_t *rgbe, const BilateralSettings &settings,
                              std::uint8_t *rgba)
{
    const int width = m_width, height = m_height;
    // A channel's display value is ((c / L)^k 2^mapped)^(1/gamma) with c = m 2^(E - 136) and
    // L = s 2^(E - 136) for the mantissa m and the weighted sum s of the mantissas: m^(k/gamma),
    // from a table, times one power of two of (mapped - k log2 s) / gamma.
    const float correction = settings.colourCorrection;
    std::array<float, 256> mantissaFactor {};
    for (int m = 0; m < 256; ++m)
        mantissaFactor[size_t(m)] = float(std::pow(double(m), double(correction / displayGamma)));
    const float compression = settings.compressionFactor;
    const float edgeCompression = settings.disparityEdgeCompressionFactor;
    const float edgeJump = settings.gaussSigmaDisparity;
    const float absoluteScale = settings.absoluteScale;
    inParallel(height, [&](int begin, int end) {
        std::vector<float> scale(static_cast<size_t>(width));
        std::vector<float> factor(static_cast<size_t>(width), compression);
        for (int y = begin; y < end; ++y) {
            const size_t row = size_t(y) * size_t(width);
            const float *intensity = &m_intensity[row];
            const float *logSum = &m_logSum[row];
            const float *base = &m_base[row];
            if (UseDisparity) {
                // A direct neighbour more than one disparity sigma away marks an edge; mirrored
                // by one texel, a neighbour beyond the border is the texel itself.
                const float *here = m_disparity + row;
                const float *below = here - (y > 0 ? width : 0);
                const float *above = here + (y + 1 < height ? width : 0);
                const auto jumpAt = [&](int x, int left, int right) {
                    const float centre = here[x];
                    return std::max(
                        std::max(std::abs(here[left] - centre), std::abs(here[right] - centre)),
                        std::max(std::abs(below[x] - centre), std::abs(above[x] - centre)));
                };
                for (int x = 1; x < width - 1; ++x)
                    factor[size_t(x)] =
                        jumpAt(x, x - 1, x + 1) > edgeJump ? edgeCompression : compression;
                for (int x : {0, width - 1})
                    factor[size_t(x)] =
                        jumpAt(x, std::max(x - 1, 0), std::min(x + 1, width - 1)) > edgeJump
                        ? edgeCompression
                        : compression;
            }
            // (mapped - k log2 s) / gamma, with mapped = compression base + (intensity - base)
            // - absoluteScale; 0 for black texels, whose channels then come out 0.
            float *scales = scale.data();
            const float *factors = factor.data();
            for (int x = 0; x < width; ++x) {
                const float lit = fastExp2((intensity[x] - correction * logSum[x]
                                            + (factors[x] - 1.0f) * base[x] - absoluteScale)
                                           / displayGamma);
                scales[x] = intensity[x] >= blackIntensity ? lit : 0.0f;
            }

            const std::uint8_t *texels = rgbe + row * 4;
            std::uint8_t *out = rgba + row * 4;
            for (int x = 0; x < width; ++x) {
                for (int channel = 0; channel < 3; ++channel) {
                    const float value = mantissaFactor[texels[4 * x + channel]] * scales[x];
                    out[4 * x + channel] =
                        std::uint8_t((value < 1.0f ? value : 1.0f) * 255.0f + 0.5f);
                }
                out[4 * x + 3] = 255;
            }
        }
    });
}
