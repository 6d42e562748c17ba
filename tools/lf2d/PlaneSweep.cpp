#include "PlaneSweep.h"

#include "BoxFilter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace estimation {
namespace {

// Intensity differences beyond this are all just "a mismatch": one outlier (a specular glint, an
// occluder) does not outweigh a window of good matches. A neighbour that does not see the pixel
// at all counts as such a mismatch.
constexpr float truncation = 0.08f;

// Choices by a mask of all ones or all zeros, which vectorise: GCC 12 turns a choice made by a
// comparison of floats between any values but the compared ones into a branch, and a loop with a
// branch stays scalar.
std::int32_t maskOf(bool condition)
{
    return -std::int32_t(condition);
}

std::int32_t choose(std::int32_t mask, std::int32_t yes, std::int32_t no)
{
    return (yes & mask) | (no & ~mask);
}

float choose(std::int32_t mask, float yes, float no)
{
    std::int32_t a, b;
    std::memcpy(&a, &yes, sizeof a);
    std::memcpy(&b, &no, sizeof b);
    const std::int32_t chosen = choose(mask, a, b);
    float result;
    std::memcpy(&result, &chosen, sizeof result);
    return result;
}

// Adds, along row y, the truncated difference to the neighbour at the shift of candidate d.
// Only one axis shifts, so the row needs one offset and one interpolation weight.
ESTIMATION_WIDE_VECTORS void addDifferences(const Intensity &view, const Neighbour &neighbour,
                                            float d, int y, float *cost)
{
    const int width = view.width;
    const int height = view.height;
    const float *own = view.values.data() + std::size_t(y) * width;
    const float *source = neighbour.view->values.data();
    if (neighbour.columns != 0) {
        const float shift = -d * float(neighbour.columns);
        const int whole = int(std::floor(shift));
        const float t = shift - float(whole);
        const int begin = std::clamp(-whole, 0, width);
        const int end = std::clamp(width - whole - 1, begin, width);
        // Indexed from the row's start: the shift may point before it, where nothing is read.
        const float *row = source + std::size_t(y) * width;
        for (int x = 0; x < begin; ++x)
            cost[x] += truncation;
        for (int x = begin; x < end; ++x) {
            const float sample = row[x + whole] + t * (row[x + whole + 1] - row[x + whole]);
            cost[x] += std::min(std::abs(sample - own[x]), truncation);
        }
        for (int x = end; x < width; ++x)
            cost[x] += truncation;
        return;
    }
    const float shift = -d * float(neighbour.rows);
    const int whole = int(std::floor(shift));
    const float t = shift - float(whole);
    const int first = y + whole;
    if (first < 0 || first >= height) {
        for (int x = 0; x < width; ++x)
            cost[x] += truncation;
        return;
    }
    const float *above = source + std::size_t(first) * width;
    const float *below = source + std::size_t(std::min(first + 1, height - 1)) * width;
    for (int x = 0; x < width; ++x) {
        const float sample = above[x] + t * (below[x] - above[x]);
        cost[x] += std::min(std::abs(sample - own[x]), truncation);
    }
}

// Rows of a quantity kept while a window's worth of later rows is produced, and their running
// sum down the window.
class RowWindow
{
public:
    RowWindow(int width, int radius)
        : m_width(width)
        , m_slots(2 * radius + 2)
        , m_rows(std::size_t(width) * m_slots)
        , m_sum(std::size_t(width))
    { }

    void clear() { std::fill(m_sum.begin(), m_sum.end(), 0.0f); }

    // The row y, to be written before it is added.
    float *row(int y) { return m_rows.data() + std::size_t(y % m_slots) * m_width; }

    // Adds row entering to the sum and takes row leaving from it, in one pass; a row below 0
    // takes no part.
    void slide(int entering, int leaving)
    {
        float *__restrict sum = m_sum.data();
        if (entering >= 0 && leaving >= 0) {
            const float *__restrict in = row(entering);
            const float *__restrict out = row(leaving);
            for (int x = 0; x < m_width; ++x)
                sum[x] += in[x] - out[x];
        } else if (entering >= 0 || leaving >= 0) {
            const float *__restrict values = row(std::max(entering, leaving));
            const float sign = entering >= 0 ? 1.0f : -1.0f;
            for (int x = 0; x < m_width; ++x)
                sum[x] += sign * values[x];
        }
    }

    const float *sum() const { return m_sum.data(); }

private:
    int m_width;
    int m_slots;
    std::vector<float> m_rows;
    std::vector<float> m_sum;
};

// A guided filter run over one side's cost rows as they are produced: every output is locally
// an affine function of the view's intensity, a·I + b, so that the costs of a thin pole or of a
// surface beside an outline are averaged with their own kind and not washed out by the window's
// other side. The four box filters it takes run down the picture a row at a time, so that what
// they hold stays in the processor's cache.
class StreamingGuidedFilter
{
public:
    StreamingGuidedFilter(int width, int radius)
        : m_cost(width, radius)
        , m_product(width, radius)
        , m_slope(width, radius)
        , m_offset(width, radius)
        , m_meanCost(std::size_t(width))
        , m_meanProduct(std::size_t(width))
    { }

    void clear()
    {
        for (RowWindow *window : {&m_cost, &m_product, &m_slope, &m_offset})
            window->clear();
    }

    RowWindow &cost() { return m_cost; }
    RowWindow &product() { return m_product; }
    RowWindow &slope() { return m_slope; }
    RowWindow &offset() { return m_offset; }
    float *meanCost() { return m_meanCost.data(); }
    float *meanProduct() { return m_meanProduct.data(); }

private:
    RowWindow m_cost;
    RowWindow m_product; // intensity times cost
    RowWindow m_slope; // a and b of the local affine models
    RowWindow m_offset;
    std::vector<float> m_meanCost;
    std::vector<float> m_meanProduct;
};

// Per pixel, the best candidate so far, the costs just before and after it (for the parabola),
// and the half-neighbourhood that gave its cost.
struct Winners
{
    explicit Winners(std::size_t pixels)
        : best(pixels, std::numeric_limits<float>::infinity())
        , before(pixels, std::numeric_limits<float>::infinity())
        , after(pixels, std::numeric_limits<float>::infinity())
        , previous(pixels, std::numeric_limits<float>::infinity())
        , candidate(pixels, -1)
        , half(pixels, 0)
        , whole(pixels, std::numeric_limits<float>::infinity())
        , total(pixels, 0.0f)
    { }

    // Takes candidate k's costs of one row, with the half each came from.
    void update(std::size_t offset, int width, int k, const float *__restrict cost,
                const std::int32_t *__restrict from, const float *__restrict wholeCost)
    {
        float *__restrict bestRow = best.data() + offset;
        float *__restrict beforeRow = before.data() + offset;
        float *__restrict afterRow = after.data() + offset;
        float *__restrict previousRow = previous.data() + offset;
        std::int32_t *__restrict candidateRow = candidate.data() + offset;
        std::int32_t *__restrict halfRow = half.data() + offset;
        float *__restrict wholeRow = whole.data() + offset;
        float *__restrict totalRow = total.data() + offset;
        for (int x = 0; x < width; ++x) {
            const float c = cost[x];
            const float best = bestRow[x];
            const std::int32_t winner = candidateRow[x];
            const std::int32_t better = maskOf(c < best);
            const std::int32_t follows = maskOf(winner == k - 1);
            beforeRow[x] = choose(better, previousRow[x], beforeRow[x]);
            afterRow[x] = choose(better, std::numeric_limits<float>::infinity(),
                                 choose(follows, c, afterRow[x]));
            bestRow[x] = std::min(c, best);
            candidateRow[x] = choose(better, k, winner);
            halfRow[x] = choose(better, from[x], halfRow[x]);
            wholeRow[x] = choose(better, wholeCost[x], wholeRow[x]);
            previousRow[x] = c;
            totalRow[x] += c;
        }
    }

    std::vector<float> best;
    std::vector<float> before;
    std::vector<float> after;
    std::vector<float> previous; // the cost of the candidate before the current one
    std::vector<std::int32_t> candidate;
    std::vector<std::int32_t> half;
    std::vector<float> whole; // the whole cross's cost at the best candidate
    std::vector<float> total; // of every candidate's cost
};

} // namespace

ESTIMATION_WIDE_VECTORS Sweep sweepView(const Intensity &view, const SideNeighbours &neighbours,
                                        const EstimateOptions &options,
                                        const Tolerances &tolerances)
{
    const int width = view.width;
    const int height = view.height;
    const int radius = options.radius;
    const std::size_t pixels = std::size_t(width) * height;

    // What the guided filter needs of the view: its mean and variance over every window.
    std::vector<float> mean = view.values;
    boxMean(mean, width, height, radius);
    std::vector<float> inverseVariance(pixels);
    for (std::size_t p = 0; p < pixels; ++p)
        inverseVariance[p] = view.values[p] * view.values[p];
    boxMean(inverseVariance, width, height, radius);
    for (std::size_t p = 0; p < pixels; ++p)
        inverseVariance[p] = 1.0f
            / (std::max(0.0f, inverseVariance[p] - mean[p] * mean[p])
               + tolerances.guidedRegularisation);
    const std::vector<float> across = inverseWindowCounts(width, radius);
    const std::vector<float> down = inverseWindowCounts(height, radius);

    // Sides without views take no part; a half with no views at all never wins.
    std::vector<int> sides;
    for (int side = 0; side < SideCount; ++side) {
        if (!neighbours[side].empty())
            sides.push_back(side);
    }
    std::vector<StreamingGuidedFilter> filters(SideCount, StreamingGuidedFilter(width, radius));
    std::vector<std::vector<float>> filtered(SideCount, std::vector<float>(std::size_t(width)));

    std::vector<float> rowCost(static_cast<std::size_t>(width));
    std::vector<std::int32_t> rowHalf(static_cast<std::size_t>(width));
    std::vector<float> rowWhole(static_cast<std::size_t>(width));
    std::vector<float> rowSum(static_cast<std::size_t>(width));
    const Neighbourhoods neighbourhoods(neighbours);

    const int candidates =
        std::max(1, int(std::floor((options.highest - options.lowest) / options.step)) + 1);
    Winners winners(pixels);
    for (int k = 0; k < candidates; ++k) {
        const float d = options.lowest + float(k) * options.step;
        for (int side : sides)
            filters[side].clear();
        // Row yIn enters the first box filter; the first filter's output for row yIn − radius
        // enters the second; the second's for row yIn − 2 · radius is the filtered cost.
        for (int yIn = 0; yIn < height + 2 * radius; ++yIn) {
            const int yMean = yIn - radius;
            const int yOut = yMean - radius;
            for (int side : sides) {
                StreamingGuidedFilter &filter = filters[side];
                if (yIn < height) {
                    float *cost = filter.cost().row(yIn);
                    std::fill(cost, cost + width, 0.0f);
                    for (const Neighbour &neighbour : neighbours[side])
                        addDifferences(view, neighbour, d, yIn, cost);
                    float *product = filter.product().row(yIn);
                    const float *intensity = view.values.data() + std::size_t(yIn) * width;
                    for (int x = 0; x < width; ++x)
                        product[x] = intensity[x] * cost[x];
                }
                if (yMean >= 0 && yMean < height) {
                    // The window of rows yMean − radius to yMean + radius = yIn.
                    const int entering = yIn < height ? yIn : -1;
                    filter.cost().slide(entering, yMean - radius - 1);
                    filter.product().slide(entering, yMean - radius - 1);
                    float *sumCost = filter.meanCost();
                    float *sumProduct = filter.meanProduct();
                    rowSums(filter.cost().sum(), sumCost, width, radius);
                    rowSums(filter.product().sum(), sumProduct, width, radius);
                    const std::size_t row = std::size_t(yMean) * width;
                    const float *mu = mean.data() + row;
                    const float *inverse = inverseVariance.data() + row;
                    float *slope = filter.slope().row(yMean);
                    float *offset = filter.offset().row(yMean);
                    const float scale = down[yMean];
                    for (int x = 0; x < width; ++x) {
                        const float normal = across[x] * scale;
                        const float c = sumCost[x] * normal;
                        const float a = (sumProduct[x] * normal - mu[x] * c) * inverse[x];
                        slope[x] = a;
                        offset[x] = c - a * mu[x];
                    }
                } else if (yIn < height) {
                    // Rows above the first window's end only enter it.
                    filter.cost().slide(yIn, -1);
                    filter.product().slide(yIn, -1);
                }
                if (yOut >= 0) {
                    const int entering = yMean < height ? yMean : -1;
                    filter.slope().slide(entering, yOut - radius - 1);
                    filter.offset().slide(entering, yOut - radius - 1);
                    float *out = filtered[side].data();
                    float *sumOffset = filter.meanCost();
                    rowSums(filter.slope().sum(), out, width, radius);
                    rowSums(filter.offset().sum(), sumOffset, width, radius);
                    const float *intensity = view.values.data() + std::size_t(yOut) * width;
                    const float scale = down[yOut];
                    for (int x = 0; x < width; ++x)
                        out[x] = (out[x] * intensity[x] + sumOffset[x]) * (across[x] * scale);
                } else if (yMean >= 0 && yMean < height) {
                    filter.slope().slide(yMean, -1);
                    filter.offset().slide(yMean, -1);
                }
            }
            if (yOut < 0)
                continue;
            float *__restrict cost = rowCost.data();
            std::int32_t *__restrict from = rowHalf.data();
            std::fill(cost, cost + width, std::numeric_limits<float>::infinity());
            // Every half's cost, and the whole cross's, as the mean over its sides' views.
            for (std::int32_t h = 0; h <= wholeCross; ++h) {
                const Neighbourhoods::Sides &entry = neighbourhoods[h];
                if (entry.weight == 0.0f)
                    continue;
                float *__restrict sum = h == wholeCross ? rowWhole.data() : rowSum.data();
                const float *__restrict first = filtered[entry.sides[0]].data();
                for (int x = 0; x < width; ++x)
                    sum[x] = first[x] * entry.weight;
                for (int k = 1; k < entry.count; ++k) {
                    const float *__restrict other = filtered[entry.sides[std::size_t(k)]].data();
                    for (int x = 0; x < width; ++x)
                        sum[x] += other[x] * entry.weight;
                }
                if (h == wholeCross)
                    continue;
                for (int x = 0; x < width; ++x) {
                    from[x] = choose(maskOf(sum[x] < cost[x]), h, from[x]);
                    cost[x] = std::min(sum[x], cost[x]);
                }
            }
            winners.update(std::size_t(yOut) * width, width, k, rowCost.data(), rowHalf.data(),
                           rowWhole.data());
        }
    }

    Sweep sweep {std::vector<float>(pixels), std::move(winners.half), std::move(winners.best),
                 std::move(winners.total)};
    for (std::size_t p = 0; p < pixels; ++p) {
        float offset = 0.0f;
        const float before = winners.before[p];
        const float at = sweep.cost[p];
        const float after = winners.after[p];
        if (std::isfinite(before) && std::isfinite(after)) {
            const float curvature = before - 2.0f * at + after;
            if (curvature > 0.0f)
                offset = std::clamp(0.5f * (before - after) / curvature, -0.5f, 0.5f);
        }
        sweep.disparity[p] =
            options.lowest + (float(std::max(0, winners.candidate[p])) + offset) * options.step;
        sweep.meanCost[p] /= float(candidates);
        if (!occluded(winners.whole[p], sweep.cost[p]))
            sweep.half[p] = wholeCross;
    }
    return sweep;
}

} // namespace estimation
