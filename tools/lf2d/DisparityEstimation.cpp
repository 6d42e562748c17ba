#include "DisparityEstimation.h"

#include "DisparityRefinement.h"
#include "PlaneSweep.h"
#include "ViewNeighbours.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <stdexcept>
#include <thread>

namespace estimation {
namespace {

void checkGrid(const std::vector<Intensity> &views, int columns, int rows, const char *what)
{
    if (columns < 1 || rows < 1 || views.size() != std::size_t(columns) * rows)
        throw std::invalid_argument(std::string(what) + ": the views do not fill the grid");
    for (const Intensity &view : views) {
        if (view.width != views[0].width || view.height != views[0].height
            || view.values.size() != std::size_t(view.width) * view.height)
            throw std::invalid_argument(std::string(what) + ": the views differ in size");
    }
}

// A pixel votes for the range when its best candidate costs less than this share of the mean
// over all candidates.
constexpr float distinctShare = 0.5f;
// The coarse search's bound, pixels per view step, when a quarter of the view is more: matching
// views that far apart is beyond the estimator anyway, and the search's time grows with it.
constexpr int farthestCoarseDisparity = 128;
// Votes a candidate needs at the least to count as a disparity of the scene.
constexpr int minimumVotes = 16;

// The sweep's neighbours: the nearest two on every side are enough to find the right candidate,
// and the farther ones would only add occlusions to it.
constexpr int sweepDistance = 2;

// One sweep, its candidates shared out between the machine's cores.
Sweep sweepOnCores(const Intensity &view, const SideNeighbours &neighbours,
                   const EstimateOptions &options)
{
    const int candidates =
        std::max(1, int(std::floor((options.highest - options.lowest) / options.step)) + 1);
    const int parts =
        std::clamp(int(std::thread::hardware_concurrency()), 1, std::min(candidates, 8));
    const Tolerances tolerances = tolerancesFor(noiseOf(view));
    std::vector<Sweep> sweeps(static_cast<std::size_t>(parts));
    std::vector<int> counts(static_cast<std::size_t>(parts));
    const auto sweepPart = [&](int part) {
        const int first = candidates * part / parts;
        const int end = candidates * (part + 1) / parts;
        EstimateOptions share = options;
        share.lowest = options.lowest + float(first) * options.step;
        share.highest = options.lowest + float(end - 1) * options.step;
        counts[std::size_t(part)] = end - first;
        sweeps[std::size_t(part)] = sweepView(view, neighbours, share, tolerances);
    };
    std::vector<std::thread> helpers;
    for (int part = 1; part < parts; ++part)
        helpers.emplace_back(sweepPart, part);
    sweepPart(0);
    for (std::thread &helper : helpers)
        helper.join();
    Sweep merged = std::move(sweeps[0]);
    for (std::size_t p = 0; p < merged.cost.size(); ++p)
        merged.meanCost[p] *= float(counts[0]);
    for (int part = 1; part < parts; ++part) {
        const Sweep &other = sweeps[std::size_t(part)];
        for (std::size_t p = 0; p < merged.cost.size(); ++p) {
            if (other.cost[p] < merged.cost[p]) {
                merged.cost[p] = other.cost[p];
                merged.disparity[p] = other.disparity[p];
                merged.half[p] = other.half[p];
            }
            merged.meanCost[p] += other.meanCost[p] * float(counts[std::size_t(part)]);
        }
    }
    for (float &mean : merged.meanCost)
        mean /= float(candidates);
    return merged;
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
            value = (value - low) * scale;
    }
    return views;
}

std::vector<float> estimateDisparity(const std::vector<Intensity> &views, int columns, int rows,
                                     int column, int row, const EstimateOptions &options)
{
    const Intensity &view = views[std::size_t(row) * columns + column];
    const Tolerances tolerances = tolerancesFor(noiseOf(view));
    Sweep sweep = sweepView(view, neighboursOf(views, columns, rows, column, row, sweepDistance),
                            options, tolerances);
    std::vector<float> disparity = options.medianRadius > 0
        ? weightedMedian(sweep.disparity, view, options.medianRadius)
        : std::move(sweep.disparity);
    const SideNeighbours all =
        neighboursOf(views, columns, rows, column, row, std::max(1, options.refineDistance));
    propagateDisparity(view, all, disparity, sweep.half);
    if (options.refinements > 0)
        disparity = refineDisparity(view, all, sweep.half, disparity, options, tolerances);
    // The range is the caller's promise about the scene: a refinement that leaves it has
    // followed noise.
    for (float &value : disparity)
        value = std::clamp(value, options.lowest, options.highest);
    return disparity;
}

std::vector<std::vector<float>>
estimateDisparities(const std::vector<Intensity> &views, int columns, int rows,
                    const EstimateOptions &options,
                    const std::function<void(int done, int count)> &progress)
{
    checkGrid(views, columns, rows, "estimateDisparities");
    if (!(options.step > 0.0f) || !(options.highest >= options.lowest))
        throw std::invalid_argument("estimateDisparities: an empty range of disparities");
    const int count = columns * rows;
    std::vector<std::vector<float>> maps(count);
    std::atomic<int> next {0};
    std::atomic<int> done {0};
    const auto work = [&](bool reports) {
        for (int index = next++; index < count; index = next++) {
            maps[index] =
                estimateDisparity(views, columns, rows, index % columns, index / columns, options);
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

DisparityRange estimateDisparityRange(const std::vector<Intensity> &views, int columns, int rows)
{
    checkGrid(views, columns, rows, "estimateDisparityRange");
    if (columns * rows < 2)
        throw std::invalid_argument("estimateDisparityRange: a single view has no disparity");
    const int column = columns / 2;
    const int row = rows / 2;
    // At full size: at half, thin poles are lost in noise.
    const Intensity &view = views[std::size_t(row) * columns + column];
    EstimateOptions coarse;
    coarse.highest =
        float(std::clamp(std::max(view.width, view.height) / 4, 1, farthestCoarseDisparity));
    coarse.lowest = -coarse.highest;
    // Finer steps than a pixel: between whole-pixel candidates, a fine texture matches no
    // candidate well enough to stand out.
    coarse.step = 0.5f;
    const Sweep sweep =
        sweepOnCores(view, neighboursOf(views, columns, rows, column, row, sweepDistance), coarse);

    // Votes, in bins a pixel wide, of the pixels whose best candidate stands out from the rest;
    // flat or repetitive picture matches every candidate about as well.
    const int bins = int(coarse.highest - coarse.lowest) + 1;
    std::vector<int> votes(std::size_t(bins), 0);
    int voters = 0;
    for (std::size_t p = 0; p < sweep.disparity.size(); ++p) {
        if (!(sweep.cost[p] < distinctShare * sweep.meanCost[p]))
            continue;
        const int k = int(std::lround(sweep.disparity[p] - coarse.lowest));
        ++votes[std::size_t(std::clamp(k, 0, bins - 1))];
        ++voters;
    }
    // A thin pole is a few hundred pixels of a large view; stray mismatches spread over every
    // candidate are far fewer at each.
    const int enough = std::max(minimumVotes, voters / 2000);
    int first = bins, last = -1;
    for (int k = 0; k < bins; ++k) {
        if (votes[std::size_t(k)] >= enough) {
            first = std::min(first, k);
            last = k;
        }
    }
    if (last < 0)
        return {-1.0f, 1.0f};
    const float lowest = coarse.lowest + float(first);
    const float highest = coarse.lowest + float(last);
    // The bins' width, and the views away from the centre, which see slanted surfaces a little
    // beyond what the centre sees.
    const float margin = 1.0f + 0.05f * (highest - lowest);
    return {lowest - margin, highest + margin};
}

} // namespace estimation
