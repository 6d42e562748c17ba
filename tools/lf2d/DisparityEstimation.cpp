#include "DisparityEstimation.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <stdexcept>
#include <thread>

namespace estimation {
namespace {

// Intensity differences beyond this are all just "a mismatch": one outlier (a specular glint, an
// occluder) does not outweigh a window of good matches.
constexpr float truncation = 0.08f;
// Intensity difference at which a neighbour's vote in the median falls to 1/e.
constexpr float medianEdgeScale = 0.03f;

enum Side
{
    Left,
    Right,
    Up,
    Down,
    SideCount
};

// The four half-neighbourhoods: each pairs a horizontal and a vertical side.
constexpr std::array<std::array<Side, 2>, 4> halves {
    {{Left, Up}, {Right, Up}, {Left, Down}, {Right, Down}}};

struct Neighbour
{
    const Intensity *view = nullptr;
    int columns = 0; // view steps from the view being estimated, one of the two is 0
    int rows = 0;
};

// Adds, for every pixel, the truncated difference to the neighbour at candidate disparity d, and
// counts the neighbours that see the pixel at all. Only one axis shifts, so each row needs one
// offset and one interpolation weight.
void accumulate(const Intensity &view, const Neighbour &neighbour, float d, float *sum,
                float *count)
{
    const int width = view.width;
    const int height = view.height;
    const float *source = neighbour.view->values.data();
    if (neighbour.columns != 0) {
        const float shift = -d * float(neighbour.columns);
        const int whole = int(std::floor(shift));
        const float t = shift - float(whole);
        const int begin = std::max(0, -whole);
        const int end = std::min(width, width - whole - 1);
        for (int y = 0; y < height; ++y) {
            const float *own = view.values.data() + std::size_t(y) * width;
            const float *row = source + std::size_t(y) * width + whole;
            float *s = sum + std::size_t(y) * width;
            float *c = count + std::size_t(y) * width;
            for (int x = begin; x < end; ++x) {
                const float sample = row[x] + t * (row[x + 1] - row[x]);
                s[x] += std::min(std::abs(sample - own[x]), truncation);
                c[x] += 1.0f;
            }
        }
    } else {
        const float shift = -d * float(neighbour.rows);
        const int whole = int(std::floor(shift));
        const float t = shift - float(whole);
        const int begin = std::max(0, -whole);
        const int end = std::min(height, height - whole - 1);
        for (int y = begin; y < end; ++y) {
            const float *own = view.values.data() + std::size_t(y) * width;
            const float *above = source + std::size_t(y + whole) * width;
            const float *below = above + width;
            float *s = sum + std::size_t(y) * width;
            float *c = count + std::size_t(y) * width;
            for (int x = 0; x < width; ++x) {
                const float sample = above[x] + t * (below[x] - above[x]);
                s[x] += std::min(std::abs(sample - own[x]), truncation);
                c[x] += 1.0f;
            }
        }
    }
}

// The mean over a (2 · radius + 1)² window, clipped at the picture's edges, in place.
void boxMean(std::vector<float> &values, int width, int height, int radius,
             std::vector<float> &scratch)
{
    scratch.resize(values.size());
    for (int y = 0; y < height; ++y) {
        const float *in = values.data() + std::size_t(y) * width;
        float *out = scratch.data() + std::size_t(y) * width;
        float running = 0.0f;
        for (int x = 0; x < std::min(radius, width); ++x)
            running += in[x];
        for (int x = 0; x < width; ++x) {
            if (x + radius < width)
                running += in[x + radius];
            if (x - radius - 1 >= 0)
                running -= in[x - radius - 1];
            out[x] = running / float(std::min(width - 1, x + radius) - std::max(0, x - radius) + 1);
        }
    }
    std::vector<float> running(width, 0.0f);
    for (int y = 0; y < std::min(radius, height); ++y) {
        for (int x = 0; x < width; ++x)
            running[x] += scratch[std::size_t(y) * width + x];
    }
    for (int y = 0; y < height; ++y) {
        if (y + radius < height) {
            for (int x = 0; x < width; ++x)
                running[x] += scratch[std::size_t(y + radius) * width + x];
        }
        if (y - radius - 1 >= 0) {
            for (int x = 0; x < width; ++x)
                running[x] -= scratch[std::size_t(y - radius - 1) * width + x];
        }
        const float rows = float(std::min(height - 1, y + radius) - std::max(0, y - radius) + 1);
        for (int x = 0; x < width; ++x)
            values[std::size_t(y) * width + x] = running[x] / rows;
    }
}

// Averages costs over a window the way the view's own picture suggests: a guided filter, whose
// output is locally an affine function of the view's intensity, so that the costs of a thin pole
// or of a surface beside an outline are averaged with their own kind and not washed out by the
// window's other side, at the price of a few box filters.
class GuidedFilter
{
public:
    GuidedFilter(const Intensity &view, int radius)
        : m_view(view)
        , m_radius(radius)
        , m_mean(view.values)
        , m_variance(view.values.size())
    {
        std::vector<float> scratch;
        boxMean(m_mean, view.width, view.height, radius, scratch);
        for (std::size_t p = 0; p < m_variance.size(); ++p)
            m_variance[p] = view.values[p] * view.values[p];
        boxMean(m_variance, view.width, view.height, radius, scratch);
        for (std::size_t p = 0; p < m_variance.size(); ++p)
            m_variance[p] = std::max(0.0f, m_variance[p] - m_mean[p] * m_mean[p]);
    }

    // Filters costs in place.
    void filter(std::vector<float> &costs, std::vector<float> &scratch) const
    {
        const int width = m_view.width;
        const int height = m_view.height;
        const std::size_t pixels = costs.size();
        m_product.resize(pixels);
        for (std::size_t p = 0; p < pixels; ++p)
            m_product[p] = m_view.values[p] * costs[p];
        boxMean(costs, width, height, m_radius, scratch);
        boxMean(m_product, width, height, m_radius, scratch);
        // costs now holds the mean cost, m_product the mean of intensity times cost; they become
        // the slope a and the offset b of the local affine model.
        for (std::size_t p = 0; p < pixels; ++p) {
            const float slope =
                (m_product[p] - m_mean[p] * costs[p]) / (m_variance[p] + regularisation);
            m_product[p] = slope;
            costs[p] -= slope * m_mean[p];
        }
        boxMean(m_product, width, height, m_radius, scratch);
        boxMean(costs, width, height, m_radius, scratch);
        for (std::size_t p = 0; p < pixels; ++p)
            costs[p] += m_product[p] * m_view.values[p];
    }

private:
    // Intensity variance below which a window counts as flat and is averaged plainly.
    static constexpr float regularisation = 1e-4f;

    const Intensity &m_view;
    int m_radius;
    std::vector<float> m_mean;
    std::vector<float> m_variance;
    mutable std::vector<float> m_product;
};

// Replaces each disparity with the weighted median of its neighbourhood, weights falling with
// the intensity difference: a window straddling an object's outline votes with the side the
// pixel belongs to.
std::vector<float> weightedMedian(const std::vector<float> &disparity, const Intensity &view,
                                  int radius)
{
    const int width = view.width;
    const int height = view.height;
    std::vector<float> result(disparity.size());
    std::vector<std::pair<float, float>> votes;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const float own = view.values[std::size_t(y) * width + x];
            votes.clear();
            float total = 0.0f;
            for (int qy = std::max(0, y - radius); qy <= std::min(height - 1, y + radius); ++qy) {
                for (int qx = std::max(0, x - radius); qx <= std::min(width - 1, x + radius);
                     ++qx) {
                    const std::size_t q = std::size_t(qy) * width + qx;
                    const float weight =
                        std::exp(-std::abs(view.values[q] - own) / medianEdgeScale);
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

std::vector<float> estimateView(const std::vector<Intensity> &views, int columns, int rows,
                                int column, int row, const EstimateOptions &options)
{
    const Intensity &view = views[std::size_t(row) * columns + column];
    const int width = view.width;
    const int height = view.height;
    const std::size_t pixels = std::size_t(width) * height;

    std::array<std::vector<Neighbour>, SideCount> sides;
    for (int distance = 1; distance <= 2; ++distance) {
        const auto add = [&](Side side, int dc, int dr) {
            const int c = column + dc;
            const int r = row + dr;
            if (c >= 0 && c < columns && r >= 0 && r < rows)
                sides[side].push_back({&views[std::size_t(r) * columns + c], dc, dr});
        };
        add(Left, -distance, 0);
        add(Right, distance, 0);
        add(Up, 0, -distance);
        add(Down, 0, distance);
    }

    const int candidates =
        std::max(1, int(std::floor((options.highest - options.lowest) / options.step)) + 1);
    std::vector<float> volume(std::size_t(candidates) * pixels);
    std::array<std::vector<float>, SideCount> sums;
    std::array<std::vector<float>, SideCount> counts;
    std::vector<float> half(pixels);
    std::vector<float> scratch;
    const GuidedFilter guide(view, options.radius);
    for (int candidate = 0; candidate < candidates; ++candidate) {
        const float d = options.lowest + float(candidate) * options.step;
        for (int side = 0; side < SideCount; ++side) {
            sums[side].assign(pixels, 0.0f);
            counts[side].assign(pixels, 0.0f);
            for (const Neighbour &neighbour : sides[side])
                accumulate(view, neighbour, d, sums[side].data(), counts[side].data());
        }
        float *best = volume.data() + std::size_t(candidate) * pixels;
        std::fill(best, best + pixels, truncation);
        for (const auto &[a, b] : halves) {
            if (sides[a].empty() && sides[b].empty())
                continue;
            for (std::size_t p = 0; p < pixels; ++p) {
                const float n = counts[a][p] + counts[b][p];
                half[p] = n > 0.0f ? (sums[a][p] + sums[b][p]) / n : truncation;
            }
            guide.filter(half, scratch);
            for (std::size_t p = 0; p < pixels; ++p)
                best[p] = std::min(best[p], half[p]);
        }
    }

    std::vector<float> disparity(pixels);
    for (std::size_t p = 0; p < pixels; ++p) {
        int winner = 0;
        for (int candidate = 1; candidate < candidates; ++candidate) {
            if (volume[std::size_t(candidate) * pixels + p]
                < volume[std::size_t(winner) * pixels + p])
                winner = candidate;
        }
        float offset = 0.0f;
        if (winner > 0 && winner + 1 < candidates) {
            const float before = volume[std::size_t(winner - 1) * pixels + p];
            const float at = volume[std::size_t(winner) * pixels + p];
            const float after = volume[std::size_t(winner + 1) * pixels + p];
            const float curvature = before - 2.0f * at + after;
            if (curvature > 0.0f)
                offset = std::clamp(0.5f * (before - after) / curvature, -0.5f, 0.5f);
        }
        disparity[p] = options.lowest + (float(winner) + offset) * options.step;
    }
    return options.medianRadius > 0 ? weightedMedian(disparity, view, options.medianRadius)
                                    : disparity;
}

} // namespace

std::vector<Intensity> intensitiesOf(const std::vector<const std::vector<float> *> &rgbViews,
                                     int width, int height, bool hdr)
{
    const std::size_t pixels = std::size_t(width) * height;
    float brightest = 0.0f;
    std::vector<Intensity> views;
    for (const std::vector<float> *rgb : rgbViews) {
        Intensity view {width, height, std::vector<float>(pixels)};
        for (std::size_t p = 0; p < pixels; ++p) {
            const float *c = rgb->data() + 3 * p;
            view.values[p] = 0.2126f * c[0] + 0.7152f * c[1] + 0.0722f * c[2];
            brightest = std::max(brightest, view.values[p]);
        }
        views.push_back(std::move(view));
    }
    if (hdr) {
        // Differences in the logarithm are differences of ratios; below a ten-thousandth of the
        // brightest pixel, noise would dominate them.
        const float floor = std::max(brightest * 1e-4f, 1e-20f);
        for (Intensity &view : views) {
            for (float &value : view.values)
                value = std::log(value + floor);
        }
    }

    std::vector<float> sample;
    const std::size_t stride = std::max<std::size_t>(1, pixels * views.size() / 200000);
    for (std::size_t i = 0; i < pixels * views.size(); i += stride)
        sample.push_back(views[i / pixels].values[i % pixels]);
    if (sample.empty())
        return views;
    const auto at = [&](double share) {
        const std::size_t k = std::min(sample.size() - 1, std::size_t(share * sample.size()));
        std::nth_element(sample.begin(), sample.begin() + std::ptrdiff_t(k), sample.end());
        return sample[k];
    };
    const float low = at(0.01);
    const float high = at(0.99);
    const float scale = high > low ? 1.0f / (high - low) : 1.0f;
    for (Intensity &view : views) {
        for (float &value : view.values)
            value = std::clamp((value - low) * scale, 0.0f, 1.0f);
    }
    return views;
}

std::vector<std::vector<float>>
estimateDisparities(const std::vector<Intensity> &views, int columns, int rows,
                    const EstimateOptions &options,
                    const std::function<void(int done, int count)> &progress)
{
    if (columns < 1 || rows < 1 || views.size() != std::size_t(columns) * rows)
        throw std::invalid_argument("estimateDisparities: the views do not fill the grid");
    if (!(options.step > 0.0f) || !(options.highest >= options.lowest))
        throw std::invalid_argument("estimateDisparities: an empty range of disparities");
    const int count = columns * rows;
    std::vector<std::vector<float>> maps(count);
    std::atomic<int> next {0};
    std::atomic<int> done {0};
    const auto work = [&](bool reports) {
        for (int index = next++; index < count; index = next++) {
            maps[index] =
                estimateView(views, columns, rows, index % columns, index / columns, options);
            ++done;
            if (reports && progress)
                progress(done, count);
        }
    };
    std::vector<std::thread> helpers;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 1; i < std::min<unsigned>(cores, unsigned(count)); ++i)
        helpers.emplace_back(work, false);
    work(true);
    for (std::thread &helper : helpers)
        helper.join();
    if (progress)
        progress(count, count);
    return maps;
}

} // namespace estimation
