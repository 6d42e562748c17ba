#include "DisparityRefinement.h"

#include "BoxFilter.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace estimation {
namespace {

// Intensity difference at which a neighbour's vote in the median falls to 1/e.
constexpr float medianEdgeScale = 0.03f;
// A window whose disparities all lie this close together holds no outlier for the median to
// remove, and its median is within that of the pixel's own value.
constexpr float medianSpread = 0.25f;
// Pixels of the refinement's window whose start disparity differs from the pixel's by more than
// this lie on another surface.
constexpr float sameSurface = 0.5f;
// Pixels whose wide window spans start disparities further apart than this lie near an outline:
// the window would mix two surfaces, and only the narrow one is used.
constexpr float oneSurfaceSpread = 1.0f;
// Keeps the refinement at its start where the picture has no texture at all.
constexpr float damping = 1e-2f;

// Central differences, one-sided at the picture's edges: the intensity's slope along x and y.
void gradients(const Intensity &view, std::vector<float> &alongX, std::vector<float> &alongY)
{
    const int width = view.width;
    const int height = view.height;
    alongX.assign(view.values.size(), 0.0f);
    alongY.assign(view.values.size(), 0.0f);
    const auto at = [&](int x, int y) {
        return view.values[std::size_t(y) * width + x];
    };
    for (int y = 0; y < height; ++y) {
        const int up = std::max(0, y - 1), down = std::min(height - 1, y + 1);
        for (int x = 0; x < width; ++x) {
            const int left = std::max(0, x - 1), right = std::min(width - 1, x + 1);
            const std::size_t p = std::size_t(y) * width + x;
            if (right > left)
                alongX[p] = (at(right, y) - at(left, y)) / float(right - left);
            if (down > up)
                alongY[p] = (at(x, down) - at(x, up)) / float(down - up);
        }
    }
}

// The intensity of a neighbour's line of values at position s, and its slope there: linear
// interpolation of the values and of their central differences. False where s is too close to
// either end for both.
bool sampleLine(const float *line, std::ptrdiff_t stride, int length, float s, float &value,
                float &slope)
{
    if (!(s >= 1.0f && s < float(length - 2)))
        return false;
    const int i = int(s);
    const float t = s - float(i);
    const float before = line[(i - 1) * stride];
    const float at = line[i * stride];
    const float next = line[(i + 1) * stride];
    const float after = line[(i + 2) * stride];
    value = at + t * (next - at);
    const float here = next - before;
    slope = 0.5f * (here + t * (after - at - here));
    return true;
}

// Sums over the (2 · radius + 1)² window around every pixel, clipped at the picture's edges.
std::vector<double> windowSums(const std::vector<double> &values, int width, int height, int radius)
{
    std::vector<double> columns(values.size());
    std::vector<double> running(std::size_t(width), 0.0);
    for (int y = 0; y < std::min(radius, height); ++y) {
        for (int x = 0; x < width; ++x)
            running[x] += values[std::size_t(y) * width + x];
    }
    for (int y = 0; y < height; ++y) {
        if (y + radius < height) {
            for (int x = 0; x < width; ++x)
                running[x] += values[std::size_t(y + radius) * width + x];
        }
        if (y - radius - 1 >= 0) {
            for (int x = 0; x < width; ++x)
                running[x] -= values[std::size_t(y - radius - 1) * width + x];
        }
        std::copy(running.begin(), running.end(), columns.begin() + std::ptrdiff_t(y) * width);
    }
    std::vector<double> sums(values.size());
    for (int y = 0; y < height; ++y) {
        const double *in = columns.data() + std::size_t(y) * width;
        double *out = sums.data() + std::size_t(y) * width;
        double sum = 0.0;
        for (int x = 0; x < std::min(radius, width); ++x)
            sum += in[x];
        for (int x = 0; x < width; ++x) {
            if (x + radius < width)
                sum += in[x + radius];
            if (x - radius - 1 >= 0)
                sum -= in[x - radius - 1];
            out[x] = sum;
        }
    }
    return sums;
}

// The spread (largest minus smallest) of values over the window around every pixel.
std::vector<float> windowSpread(const std::vector<float> &values, int width, int height, int radius)
{
    std::vector<float> lowest(values.size()), highest(values.size());
    for (int y = 0; y < height; ++y) {
        const float *row = values.data() + std::size_t(y) * width;
        for (int x = 0; x < width; ++x) {
            float low = row[x], high = row[x];
            for (int q = std::max(0, x - radius); q <= std::min(width - 1, x + radius); ++q) {
                low = std::min(low, row[q]);
                high = std::max(high, row[q]);
            }
            lowest[std::size_t(y) * width + x] = low;
            highest[std::size_t(y) * width + x] = high;
        }
    }
    std::vector<float> spread(values.size());
    for (int y = 0; y < height; ++y) {
        float *out = spread.data() + std::size_t(y) * width;
        for (int x = 0; x < width; ++x) {
            float low = lowest[std::size_t(y) * width + x];
            float high = highest[std::size_t(y) * width + x];
            for (int q = std::max(0, y - radius); q <= std::min(height - 1, y + radius); ++q) {
                low = std::min(low, lowest[std::size_t(q) * width + x]);
                high = std::max(high, highest[std::size_t(q) * width + x]);
            }
            out[x] = high - low;
        }
    }
    return spread;
}

// Per pixel, the disparity at its centre of the plane (disparity affine in the picture's
// coordinates, as a slanted surface's is) that best solves the normal equations of every pixel of
// its wide window: curvature · d = target, weighted as they are. Averaging over many pixels
// tames noise where texture is faint; a plane, unlike one disparity for the whole window, leaves
// a slanted surface without bias.
class PlaneFit
{
public:
    PlaneFit(const std::vector<float> &curvature, const std::vector<float> &target, int width,
             int height, int radius)
        : m_width(width)
        , m_height(height)
    {
        const std::size_t pixels = curvature.size();
        // Coordinates from the picture's middle keep the moments' magnitudes small.
        std::array<std::vector<double>, 9> products;
        for (std::vector<double> &product : products)
            product.resize(pixels);
        for (int y = 0; y < height; ++y) {
            const double v = y - 0.5 * height;
            for (int x = 0; x < width; ++x) {
                const double u = x - 0.5 * width;
                const std::size_t p = std::size_t(y) * width + x;
                const double a = curvature[p];
                const double b = target[p];
                const double values[9] = {a,         a * u, a * v, a * u * u, a * u * v,
                                          a * v * v, b,     b * u, b * v};
                for (int k = 0; k < 9; ++k)
                    products[k][p] = values[k];
            }
        }
        for (int k = 0; k < 9; ++k)
            m_sums[k] = windowSums(products[k], width, height, radius);
        // Slopes that the window's texture cannot tell are taken as flat, at a price small
        // against what a textured window holds.
        m_ridge = 0.05 * radius * radius;
    }

    // The fitted plane's disparity at pixel (x, y); false where the window holds nothing to fit.
    bool at(int x, int y, float &disparity) const
    {
        const std::size_t p = std::size_t(y) * m_width + x;
        const double u = x - 0.5 * m_width;
        const double v = y - 0.5 * m_height;
        const double s0 = m_sums[0][p], su = m_sums[1][p], sv = m_sums[2][p];
        const double suu = m_sums[3][p], suv = m_sums[4][p], svv = m_sums[5][p];
        const double t0 = m_sums[6][p], tu = m_sums[7][p], tv = m_sums[8][p];
        if (!(s0 > 0.0))
            return false;
        // Moments about the pixel.
        const double mu = su - u * s0;
        const double mv = sv - v * s0;
        const double muu = suu - 2.0 * u * su + u * u * s0 + m_ridge * s0;
        const double muv = suv - u * sv - v * su + u * v * s0;
        const double mvv = svv - 2.0 * v * sv + v * v * s0 + m_ridge * s0;
        const double bu = tu - u * t0;
        const double bv = tv - v * t0;
        // The plane's offset, its slopes eliminated (a Schur complement).
        const double determinant = muu * mvv - muv * muv;
        if (!(determinant > 0.0))
            return false;
        const double iuu = mvv / determinant, iuv = -muv / determinant, ivv = muu / determinant;
        const double numerator = t0 - (mu * (iuu * bu + iuv * bv) + mv * (iuv * bu + ivv * bv));
        const double denominator = s0 - (mu * (iuu * mu + iuv * mv) + mv * (iuv * mu + ivv * mv));
        if (!(denominator > 1e-12))
            return false;
        disparity = float(numerator / denominator);
        return true;
    }

private:
    int m_width;
    int m_height;
    double m_ridge = 0.0;
    std::array<std::vector<double>, 9> m_sums;
};

} // namespace

std::vector<float> weightedMedian(const std::vector<float> &disparity, const Intensity &view,
                                  int radius)
{
    const int width = view.width;
    const int height = view.height;
    // The weights by intensity difference, looked up in steps of a 1024th.
    constexpr int steps = 1024;
    std::array<float, steps + 1> weightOf {};
    for (int i = 0; i <= steps; ++i)
        weightOf[i] = std::exp(-float(i) / steps / medianEdgeScale);
    std::vector<float> result(disparity);
    std::vector<std::pair<float, float>> votes;
    for (int y = 0; y < height; ++y) {
        const int top = std::max(0, y - radius), bottom = std::min(height - 1, y + radius);
        for (int x = 0; x < width; ++x) {
            const int left = std::max(0, x - radius), right = std::min(width - 1, x + radius);
            float lowest = disparity[std::size_t(y) * width + x];
            float highest = lowest;
            for (int qy = top; qy <= bottom; ++qy) {
                const float *row = disparity.data() + std::size_t(qy) * width;
                for (int qx = left; qx <= right; ++qx) {
                    lowest = std::min(lowest, row[qx]);
                    highest = std::max(highest, row[qx]);
                }
            }
            if (highest - lowest < medianSpread)
                continue;
            const float own = view.values[std::size_t(y) * width + x];
            votes.clear();
            float total = 0.0f;
            for (int qy = top; qy <= bottom; ++qy) {
                for (int qx = left; qx <= right; ++qx) {
                    const std::size_t q = std::size_t(qy) * width + qx;
                    const float difference = std::min(1.0f, std::abs(view.values[q] - own));
                    const float weight = weightOf[int(difference * steps)];
                    votes.emplace_back(disparity[q], weight);
                    total += weight;
                }
            }
            std::sort(votes.begin(), votes.end());
            float cumulative = 0.0f;
            float median = votes.back().first;
            for (const auto &[value, weight] : votes) {
                cumulative += weight;
                if (cumulative >= 0.5f * total) {
                    median = value;
                    break;
                }
            }
            result[std::size_t(y) * width + x] = median;
        }
    }
    return result;
}

ESTIMATION_WIDE_VECTORS std::vector<float>
refineDisparity(const Intensity &view, const SideNeighbours &neighbours,
                const std::vector<std::int32_t> &half, const std::vector<float> &start,
                const EstimateOptions &options, const Tolerances &tolerances)
{
    const int width = view.width;
    const int height = view.height;
    const std::size_t pixels = std::size_t(width) * height;
    std::vector<float> alongX, alongY;
    gradients(view, alongX, alongY);
    const Neighbourhoods neighbourhoods(neighbours);

    std::vector<float> disparity = start;
    std::vector<float> curvature(pixels), target(pixels);
    std::vector<float> sumCurvature(static_cast<std::size_t>(width));
    std::vector<float> sumTarget(static_cast<std::size_t>(width));
    std::vector<float> windowCurvature(pixels), windowTarget(pixels);
    const int radius = options.refineRadius;
    const int wideRadius = options.refineWideRadius;
    const std::vector<float> spread = windowSpread(start, width, height, wideRadius);
    for (int iteration = 0; iteration < options.refinements; ++iteration) {
        // The first step uses the nearer views only, whose shifts the sweep's estimate already
        // gets within a pixel; the farther ones then sharpen it.
        const int farthest =
            iteration == 0 ? std::min(2, options.refineDistance) : options.refineDistance;
        // Per pixel, the normal equations of its own views, linearised at its own disparity:
        // curvature · d = target.
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const std::size_t p = std::size_t(y) * width + x;
                const float d = disparity[p];
                const float own = view.values[p];
                float a = 0.0f, b = 0.0f;
                const Neighbourhoods::Sides &sides = neighbourhoods[half[p]];
                for (int s = 0; s < sides.count; ++s) {
                    for (const Neighbour &neighbour : neighbours[sides.sides[std::size_t(s)]]) {
                        const int distance = std::abs(neighbour.columns + neighbour.rows);
                        if (distance > farthest)
                            break;
                        float value = 0.0f, slope = 0.0f;
                        float g = 0.0f;
                        const float *values = neighbour.view->values.data();
                        if (neighbour.columns != 0) {
                            if (!sampleLine(values + std::size_t(y) * width, 1, width,
                                            float(x) - d * float(neighbour.columns), value, slope))
                                continue;
                            g = -float(neighbour.columns) * 0.5f * (alongX[p] + slope);
                        } else {
                            if (!sampleLine(values + x, width, height,
                                            float(y) - d * float(neighbour.rows), value, slope))
                                continue;
                            g = -float(neighbour.rows) * 0.5f * (alongY[p] + slope);
                        }
                        const float r = value - own;
                        // A residual beyond the limit is a view that sees something else there
                        // (an occluder the sweep's nearer views did not show, a glint): it takes
                        // no part, and nearer ones count less the closer they come to it
                        // (Tukey's biweight).
                        const float share = r / tolerances.residualLimit;
                        const float w = std::abs(share) < 1.0f
                            ? (1.0f - share * share) * (1.0f - share * share)
                            : 0.0f;
                        a += w * g * g;
                        b += w * g * (g * d - r);
                    }
                }
                curvature[p] = a;
                target[p] = b;
            }
        }
        // Then each pixel solves them summed over the pixels of its window on its own surface.
        std::vector<float> next(pixels);
        for (int y = 0; y < height; ++y) {
            const float *startRow = start.data() + std::size_t(y) * width;
            const float *current = disparity.data() + std::size_t(y) * width;
            for (int x = 0; x < width; ++x) {
                sumCurvature[x] = damping;
                sumTarget[x] = damping * current[x];
            }
            for (int qy = std::max(0, y - radius); qy <= std::min(height - 1, y + radius); ++qy) {
                const float *otherStart = start.data() + std::size_t(qy) * width;
                const float *a = curvature.data() + std::size_t(qy) * width;
                const float *b = target.data() + std::size_t(qy) * width;
                for (int dx = -radius; dx <= radius; ++dx) {
                    const int begin = std::max(0, -dx), end = std::min(width, width - dx);
                    for (int x = begin; x < end; ++x) {
                        const float same =
                            std::abs(otherStart[x + dx] - startRow[x]) <= sameSurface ? 1.0f : 0.0f;
                        sumCurvature[x] += same * a[x + dx];
                        sumTarget[x] += same * b[x + dx];
                    }
                }
            }
            std::copy(sumCurvature.begin(), sumCurvature.end(),
                      windowCurvature.begin() + std::ptrdiff_t(y) * width);
            std::copy(sumTarget.begin(), sumTarget.end(),
                      windowTarget.begin() + std::ptrdiff_t(y) * width);
        }
        const PlaneFit wide(curvature, target, width, height, wideRadius);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const std::size_t p = std::size_t(y) * width + x;
                float fitted = 0.0f;
                next[p] = spread[p] <= oneSurfaceSpread && wide.at(x, y, fitted)
                    ? fitted
                    : windowTarget[p] / windowCurvature[p];
            }
        }
        for (std::size_t p = 0; p < pixels; ++p) {
            // A step beyond the sweep's own resolution is a lost match, not a refinement.
            next[p] = std::clamp(next[p], disparity[p] - options.step, disparity[p] + options.step);
        }
        disparity.swap(next);
    }
    return disparity;
}

} // namespace estimation
