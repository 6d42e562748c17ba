#include "DisparityEstimation.h"
#include "FolderImages.h"
#include "FolderViews.h"
#include "ImageFolder.h"
#include "Lf2dWriter.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <optional>
#include <stdexcept>

namespace folder {
namespace {

std::string describeView(int column, int row)
{
    return "column " + std::to_string(column) + ", row " + std::to_string(row);
}

// What is kept of every view and map of the folder, and the size that is shrunk to, before any
// refocusing.
struct Framing
{
    Crop crop;
    int width = 0;
    int height = 0;
};

Framing frameViews(const ImportOptions &options, const ImageFacts &views)
{
    Framing framing;
    framing.crop = options.crop.width > 0 ? options.crop : Crop {0, 0, views.width, views.height};
    const Crop &crop = framing.crop;
    if (crop.left < 0 || crop.top < 0 || crop.width < 1 || crop.height < 1
        || crop.left + crop.width > views.width || crop.top + crop.height > views.height) {
        throw std::runtime_error("The crop " + sizeText(crop.width, crop.height) + " at "
                                 + std::to_string(crop.left) + "," + std::to_string(crop.top)
                                 + " does not fit in the views of "
                                 + sizeText(views.width, views.height) + " pixels");
    }
    if (!(options.scale > 0.0 && options.scale <= 1.0))
        throw std::runtime_error("the scale must be above 0 and at most 1");
    framing.width = std::max(1, int(std::lround(crop.width * options.scale)));
    framing.height = std::max(1, int(std::lround(crop.height * options.scale)));
    return framing;
}

// Crops and shrinks a view or a map of the folder to the light field's size; disparity values
// are left as they are.
Image framed(Image image, const Framing &framing)
{
    const Crop &crop = framing.crop;
    image = cropped(image, crop.left, crop.top, crop.width, crop.height);
    if (image.width != framing.width || image.height != framing.height)
        image = image.channels == 1 ? shrunkNearest(image, framing.width, framing.height)
                                    : shrunk(image, framing.width, framing.height);
    return image;
}

Image readView(const FolderViews &folder, const Source &source, const ImageFacts &views)
{
    if (folder.memory)
        return (
            *folder.memory)[std::size_t(source.fileRow) * folder.grid.columns + source.fileColumn];
    const std::string path = folder.viewPath(source);
    Image view = readImage("view", path, 3);
    if (view.width != views.width || view.height != views.height)
        throw std::runtime_error("The view " + inQuotes(path) + " changed while read");
    if (views.floatingPoint) {
        for (float &value : view.values)
            value = radiance(value);
    }
    return view;
}

// Reads a map, checks it and returns it in the folder's pixels and view steps, sign applied.
Image readMap(const std::string &path, const ImageFacts &views, bool negate)
{
    const ImageFacts map = probe("disparity map", path);
    if (map.width != views.width || map.height != views.height) {
        throw std::runtime_error("The disparity map " + inQuotes(path) + " is "
                                 + sizeText(map.width, map.height) + " pixels, the views are "
                                 + sizeText(views.width, views.height));
    }
    Image image = readImage("disparity map", path, 1);
    for (float &d : image.values) {
        if (!std::isfinite(d)) {
            throw std::runtime_error("The disparity map " + inQuotes(path)
                                     + " has a value that is not a finite number");
        }
        if (negate)
            d = -d;
    }
    return image;
}

struct DisparityRange
{
    float lowest = 0.0f;
    float highest = 0.0f;
};

DisparityRange rangeOf(const std::vector<float> &map)
{
    const auto [low, high] = std::minmax_element(map.begin(), map.end());
    return {*low, *high};
}

// The range that holds both.
DisparityRange joined(DisparityRange a, DisparityRange b)
{
    return {std::min(a.lowest, b.lowest), std::max(a.highest, b.highest)};
}

constexpr DisparityRange noRangeYet {std::numeric_limits<float>::infinity(),
                                     -std::numeric_limits<float>::infinity()};

// One view's map, and where that view lies in the folder's grid after flipping.
struct ReferenceMap
{
    Image map;
    double column = 0;
    double row = 0;
};

ReferenceMap readReferenceMap(const ImportOptions &options, const FolderGrid &grid,
                              const ImageFacts &views)
{
    ReferenceMap reference;
    reference.column =
        options.referenceColumn < 0 ? (grid.columns - 1) / 2 : options.referenceColumn;
    reference.row = options.referenceRow < 0 ? (grid.rows - 1) / 2 : options.referenceRow;
    if (reference.column >= grid.columns || reference.row >= grid.rows) {
        throw std::runtime_error("the disparity map's view, "
                                 + describeView(int(reference.column), int(reference.row))
                                 + ", lies outside the folder's grid of "
                                 + sizeText(grid.columns, grid.rows) + " views");
    }
    reference.map = readMap(options.referenceDisparity, views, options.negateDisparity);
    return reference;
}

// The range of the per-view maps of the views kept, over what the crop keeps of them, in the
// folder's pixels and view steps.
DisparityRange perViewMapRange(const FolderViews &folder, const ImageFacts &views, const Crop &crop,
                               bool negate)
{
    DisparityRange range = noRangeYet;
    for (int row = 0; row < folder.storedRows(); ++row) {
        for (int column = 0; column < folder.storedColumns(); ++column) {
            const Image map =
                cropped(readMap(folder.mapPath(folder.sourceOf(column, row)), views, negate),
                        crop.left, crop.top, crop.width, crop.height);
            range = joined(range, rangeOf(map.values));
        }
    }
    return range;
}

// Estimated maps come in the light field's steps and pixels already, from the views as they will
// be stored before any refocusing; those views are kept for writing.
struct Estimate
{
    std::vector<Image> views;
    std::vector<std::vector<float>> maps;
    estimation::DisparityRange searched;
};

Estimate estimateDisparities(const FolderViews &folder, const ImageFacts &facts,
                             const Framing &framing, const ImportOptions &options,
                             const Progress &progress)
{
    if (folder.storedColumns() * folder.storedRows() < 2) {
        throw std::runtime_error("--estimate needs at least two views, and the light field holds "
                                 "one, "
                                 + inQuotes(folder.viewPath(folder.sourceOf(0, 0))));
    }
    Estimate estimate;
    for (int row = 0; row < folder.storedRows(); ++row) {
        for (int column = 0; column < folder.storedColumns(); ++column) {
            estimate.views.push_back(
                framed(readView(folder, folder.sourceOf(column, row), facts), framing));
        }
    }
    std::vector<const std::vector<float> *> colours;
    for (const Image &view : estimate.views)
        colours.push_back(&view.values);
    const std::vector<estimation::Intensity> intensities =
        estimation::intensitiesOf(colours, framing.width, framing.height, facts.floatingPoint);
    estimate.searched = {options.estimateLowest, options.estimateHighest};
    if (!options.estimateRangeGiven) {
        estimate.searched = estimation::estimateDisparityRange(intensities, folder.storedColumns(),
                                                               folder.storedRows());
    }
    estimation::EstimateOptions search;
    search.lowest = estimate.searched.lowest;
    search.highest = estimate.searched.highest;
    estimate.maps =
        estimation::estimateDisparities(intensities, folder.storedColumns(), folder.storedRows(),
                                        search, [&progress](int done, int count) {
                                            if (progress)
                                                progress("estimated", done, count);
                                        });
    return estimate;
}

// The range of the estimated maps in the folder's pixels and view steps, as maps read from files
// have it.
DisparityRange folderRangeOf(const Estimate &estimate, float storedScale)
{
    DisparityRange range = noRangeYet;
    for (const std::vector<float> &map : estimate.maps) {
        const DisparityRange stored = rangeOf(map);
        range = joined(range, {stored.lowest / storedScale, stored.highest / storedScale});
    }
    return range;
}

// The share of estimated pixels whose disparity may lie below the bound the refocusing follows.
constexpr double outlierShare = 0.01;

// A few pixels matched wrongly, in a patch without texture or at a view's border, would
// otherwise set the refocus offset and crop every view by it: the bound is the lowest percent of
// the estimates, raised to the lowest disparity the folder states if it has one, and estimates
// below it are raised to it. Estimates above a stated highest disparity are lowered to that.
void clampOutliers(Estimate &estimate, const ImportOptions &options, float storedScale)
{
    DisparityRange range = noRangeYet;
    std::size_t count = 0;
    for (const std::vector<float> &map : estimate.maps) {
        range = joined(range, rangeOf(map));
        count += map.size();
    }
    // A histogram finds the percentile within a 4096th of the range without a sorted copy of
    // every view's map. The bound is the lower edge of the bin it falls in.
    constexpr int bins = 4096;
    const float width = (range.highest - range.lowest) / bins;
    float bound = range.lowest;
    if (width > 0.0f) {
        std::vector<std::size_t> histogram(bins, 0);
        for (const std::vector<float> &map : estimate.maps) {
            for (const float d : map)
                ++histogram[std::min(bins - 1, int((d - range.lowest) / width))];
        }
        const auto allowed = std::size_t(double(count) * outlierShare);
        std::size_t below = 0;
        int bin = 0;
        while (below + histogram[std::size_t(bin)] <= allowed) // never past the last bin
            below += histogram[std::size_t(bin++)];
        bound = range.lowest + float(bin) * width;
    }
    float ceiling = range.highest;
    if (options.hasStatedRange) {
        bound = std::max(bound, options.statedLowest * storedScale);
        ceiling = std::min(ceiling, options.statedHighest * storedScale);
    }
    for (std::vector<float> &map : estimate.maps) {
        for (float &d : map)
            d = std::clamp(d, bound, std::max(bound, ceiling));
    }
}

// Sets the stored views' size, the refocus offset and the disparity range and bound from the
// range of the folder's disparities; storedScale takes those to the light field's steps and
// pixels.
void fitDisparities(ImportSummary &summary, DisparityRange folderRange, float storedScale,
                    const Framing &framing, int maxDisparity)
{
    const float lowest = folderRange.lowest;
    const float highest = folderRange.highest;
    if (summary.disparity && lowest < 0.0f)
        summary.refocusOffset = int(std::ceil(-lowest * storedScale));
    const int offset = summary.refocusOffset;
    summary.width = framing.width - offset * (summary.columns - 1);
    summary.height = framing.height - offset * (summary.rows - 1);
    if (summary.width < 1 || summary.height < 1) {
        throw std::runtime_error(
            "the disparities reach down to " + std::to_string(lowest)
            + " pixels per view step; shifting the views by " + std::to_string(offset)
            + " pixels per step to make them non-negative leaves nothing that every view shows");
    }
    summary.minDisparity = summary.disparity ? lowest * storedScale + offset : 0.0f;
    summary.maxDisparity = summary.disparity ? highest * storedScale + offset : 0.0f;
    summary.maxDisparityBound = int(std::ceil(summary.maxDisparity));
    if (maxDisparity >= 0) {
        if (maxDisparity < summary.maxDisparity) {
            throw std::runtime_error("the disparities reach " + std::to_string(summary.maxDisparity)
                                     + " pixels per view step, above the bound asked for, "
                                     + std::to_string(maxDisparity));
        }
        summary.maxDisparityBound = summary.disparity ? maxDisparity : 0;
    }
    if (summary.maxDisparityBound > std::max(summary.width, summary.height)) {
        throw std::runtime_error("the disparities reach " + std::to_string(summary.maxDisparity)
                                 + " pixels per view step, more than the views' larger side");
    }
}

// Where the stored views and their disparities come from.
struct ImportSources
{
    const FolderViews &folder;
    const ImageFacts &facts;
    const Framing &framing;
    const ImportOptions &options;
    const ReferenceMap *reference; // one view's map, or none
    const Estimate *estimate; // estimated maps and the views they came from, or none
    float storedScale; // from the folder's view steps and pixels to the light field's
};

// The view at (column, row) as the light field stores it, before refocusing.
Image storedView(const ImportSources &sources, int column, int row)
{
    if (sources.estimate)
        return sources.estimate->views[std::size_t(row) * sources.folder.storedColumns() + column];
    const FolderViews &folder = sources.folder;
    return framed(readView(folder, folder.sourceOf(column, row), sources.facts), sources.framing);
}

// The disparity of the view at (column, row) in the light field's steps and pixels, before
// refocusing.
Image storedDisparity(const ImportSources &sources, int column, int row)
{
    const Framing &framing = sources.framing;
    if (sources.estimate) {
        return Image {
            framing.width, framing.height, 1,
            sources.estimate->maps[std::size_t(row) * sources.folder.storedColumns() + column]};
    }
    const Source source = sources.folder.sourceOf(column, row);
    const ReferenceMap *reference = sources.reference;
    Image map =
        framed(reference ? Image {reference->map.width, reference->map.height, 1,
                                  propagated(reference->map, source.gridColumn - reference->column,
                                             source.gridRow - reference->row)}
                         : readMap(sources.folder.mapPath(source), sources.facts,
                                   sources.options.negateDisparity),
               framing);
    for (float &d : map.values)
        d *= sources.storedScale;
    return map;
}

// Writes the refocused views and maps, and reports each as written.
void writeImported(const std::string &output, const ImportSources &sources,
                   const ImportSummary &summary, const Progress &progress)
{
    // View (column, row) shows at s what the folder's view shows at s + offset · (column, row):
    // every point then moves offset pixels further per view step, and the views are cropped to
    // what all of them share.
    const int offset = summary.refocusOffset;
    const auto refocused = [&summary, offset](const Image &image, int column, int row) {
        return cropped(image, offset * column, offset * row, summary.width, summary.height);
    };

    LightfieldHeader header =
        synth::gridHeader(summary.width, summary.height, summary.columns, summary.rows);
    header.viewSpacing = sources.options.viewSpacing;
    header.isHdr = summary.hdr;
    header.hasDisparity = summary.disparity;
    header.maxDisparity = summary.maxDisparityBound;
    const int viewCount = summary.columns * summary.rows;
    int written = 0;
    synth::writeLightfield(
        output, header,
        [&](int column, int row) {
            const Image view = refocused(storedView(sources, column, row), column, row);
            if (!summary.disparity && progress)
                progress("written", ++written, viewCount);
            return synth::FloatImage {view.width, view.height, std::move(view.values)};
        },
        [&](int column, int row) {
            Image map = refocused(storedDisparity(sources, column, row), column, row);
            for (float &d : map.values)
                d += float(offset);
            if (progress)
                progress("written", ++written, viewCount);
            return map.values;
        });
}

} // namespace

namespace {

ImportSummary importFrom(const FolderViews &folder, const ImageFacts &facts,
                         const ImportOptions &options, const std::string &output,
                         const Progress &progress)
{
    ImportSummary summary;
    summary.folderColumns = folder.grid.columns;
    summary.folderRows = folder.grid.rows;
    summary.first = folder.grid.first;
    summary.columns = folder.storedColumns();
    summary.rows = folder.storedRows();
    summary.hdr = facts.floatingPoint;
    const bool referenceMap = !options.referenceDisparity.empty();
    summary.disparity = !options.disparities.empty() || referenceMap || options.estimate;
    const Framing framing = frameViews(options, facts);

    std::optional<ReferenceMap> reference;
    DisparityRange range;
    if (referenceMap) {
        reference = readReferenceMap(options, folder.grid, facts);
        range = rangeOf(reference->map.values);
    } else if (!options.disparities.empty()) {
        range = perViewMapRange(folder, facts, framing.crop, options.negateDisparity);
    }
    const float storedScale = float(folder.every * options.scale);
    std::optional<Estimate> estimate;
    if (options.estimate) {
        estimate = estimateDisparities(folder, facts, framing, options, progress);
        clampOutliers(*estimate, options, storedScale);
        range = folderRangeOf(*estimate, storedScale);
        summary.searchedLowest = estimate->searched.lowest;
        summary.searchedHighest = estimate->searched.highest;
    }
    fitDisparities(summary, range, storedScale, framing, options.maxDisparity);

    const ImportSources sources {folder,
                                 facts,
                                 framing,
                                 options,
                                 reference ? &*reference : nullptr,
                                 estimate ? &*estimate : nullptr,
                                 storedScale};
    writeImported(output, sources, summary, progress);

    std::error_code error;
    summary.fileBytes = std::int64_t(std::filesystem::file_size(output, error));
    return summary;
}

} // namespace

ImportSummary importLightfield(const ImportOptions &options, const std::string &output,
                               const Progress &progress)
{
    const FolderViews folder = openFolder(options);
    return importFrom(folder, probeViews(folder), options, output, progress);
}

ImportSummary importViews(const ImportOptions &options, std::vector<Image> views, int columns,
                          int rows, const ImageFacts &facts, const std::string &output,
                          const Progress &progress)
{
    return importFrom(viewsInMemory(options, std::move(views), columns, rows), facts, options,
                      output, progress);
}

} // namespace folder
