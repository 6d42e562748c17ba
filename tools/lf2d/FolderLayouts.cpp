#include "FolderLayouts.h"

#include "CommandLine.h"
#include "FolderImages.h"
#include "ParametersFile.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace folder {
namespace {

namespace fs = std::filesystem;

std::string inFolder(const std::string &directory, const std::string &name)
{
    return (fs::path(directory) / name).string();
}

bool endsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size()
        && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::vector<std::string> filesIn(const std::string &directory)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entry(directory, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code ignored;
        if (entry->is_regular_file(ignored))
            names.push_back(entry->path().filename().string());
    }
    if (error)
        throw std::runtime_error("Cannot list the folder " + inQuotes(directory) + ": "
                                 + error.message());
    std::sort(names.begin(), names.end());
    return names;
}

// A file whose name places it in the grid, and how many digits each of its numbers has.
struct Numbered
{
    std::string file;
    int row = 0;
    int column = 0;
    std::size_t rowDigits = 0;
    std::size_t columnDigits = 0;
    std::vector<std::string> groups; // all of the form's, the numbers' first
};

// The files whose names match form: its first group is the row (or the index), the second the
// column. A file that starts and ends as form's names do but does not match it is a view named
// wrongly, and stops the import rather than leave a hole in the grid.
std::vector<Numbered> numberedFiles(const std::vector<std::string> &files,
                                    const std::string &directory, const std::string &prefix,
                                    const std::vector<std::string> &extensions,
                                    const std::regex &form, const std::string &formText)
{
    std::vector<Numbered> found;
    for (const std::string &file : files) {
        const bool looksLike = file.compare(0, prefix.size(), prefix) == 0
            && std::any_of(extensions.begin(), extensions.end(),
                           [&file](const std::string &end) { return endsWith(file, end); });
        if (!looksLike)
            continue;
        std::smatch match;
        // Seven digits and more would number grids far beyond what can be imported.
        if (!std::regex_match(file, match, form) || match.length(1) > 6
            || (match.size() > 2 && match.length(2) > 6)) {
            throw std::runtime_error("The file " + inQuotes(inFolder(directory, file))
                                     + " is named like the folder's views but not as " + formText);
        }
        Numbered numbered;
        numbered.file = file;
        for (std::size_t group = 1; group < match.size(); ++group)
            numbered.groups.push_back(match.str(group));
        numbered.row = std::stoi(numbered.groups[0]);
        numbered.rowDigits = numbered.groups[0].size();
        if (numbered.groups.size() > 1) {
            numbered.column = std::stoi(numbered.groups[1]);
            numbered.columnDigits = numbered.groups[1].size();
        }
        found.push_back(std::move(numbered));
    }
    return found;
}

// Where the names of a folder place its views.
struct NameGrid
{
    int columns = 0;
    int rows = 0;
    int first = 0;
    std::size_t rowDigits = 0;
    std::size_t columnDigits = 0;
    const Numbered *firstView = nullptr; // the top left view's file
    const Numbered *lastView = nullptr; // the bottom right one's
};

// Checks that the names number rows and columns alike, name each place once, and leave no hole.
NameGrid gridOf(const std::vector<Numbered> &names, const std::string &directory,
                const std::string &formText)
{
    if (names.empty())
        throw std::runtime_error("The folder " + inQuotes(directory) + " has no views named "
                                 + formText);
    const Numbered &model = names.front();
    const auto path = [&directory](const Numbered &name) {
        return inQuotes(inFolder(directory, name.file));
    };
    std::map<std::pair<int, int>, const Numbered *> places;
    int firstRow = model.row;
    int firstColumn = model.column;
    int lastRow = model.row;
    int lastColumn = model.column;
    for (const Numbered &name : names) {
        if (name.rowDigits != model.rowDigits || name.columnDigits != model.columnDigits) {
            throw std::runtime_error("The file " + path(name) + " numbers its row and column with "
                                     + "other widths than " + path(model)
                                     + ": the views of a folder are numbered alike");
        }
        const auto [at, added] = places.insert({{name.row, name.column}, &name});
        if (!added) {
            throw std::runtime_error("The files " + path(*at->second) + " and " + path(name)
                                     + " both name row " + std::to_string(name.row) + ", column "
                                     + std::to_string(name.column));
        }
        firstRow = std::min(firstRow, name.row);
        firstColumn = std::min(firstColumn, name.column);
        lastRow = std::max(lastRow, name.row);
        lastColumn = std::max(lastColumn, name.column);
    }
    if (firstRow != firstColumn || firstRow > 1) {
        throw std::runtime_error("The views of " + inQuotes(directory) + " (" + formText
                                 + ") number rows from " + std::to_string(firstRow)
                                 + " and columns from " + std::to_string(firstColumn)
                                 + "; both should start at 0 or both at 1");
    }
    NameGrid grid;
    grid.first = firstRow;
    grid.columns = lastColumn - firstColumn + 1;
    grid.rows = lastRow - firstRow + 1;
    grid.rowDigits = model.rowDigits;
    grid.columnDigits = model.columnDigits;
    if (grid.columns > commandline::maxGridSide || grid.rows > commandline::maxGridSide) {
        throw std::runtime_error("The views of " + inQuotes(directory) + " (" + formText
                                 + ") reach row " + std::to_string(lastRow) + ", column "
                                 + std::to_string(lastColumn) + ": more than "
                                 + std::to_string(commandline::maxGridSide) + " along a side");
    }
    for (int row = firstRow; row <= lastRow; ++row) {
        for (int column = firstColumn; column <= lastColumn; ++column) {
            if (places.count({row, column}) == 0) {
                throw std::runtime_error("No file in " + inQuotes(directory) + " (" + formText
                                         + ") is the view at row " + std::to_string(row)
                                         + ", column " + std::to_string(column)
                                         + ", though the names reach row " + std::to_string(lastRow)
                                         + ", column " + std::to_string(lastColumn));
            }
        }
    }
    grid.firstView = places.begin()->second;
    grid.lastView = places.rbegin()->second;
    return grid;
}

std::string field(const std::string &name, std::size_t digits)
{
    return "{" + name + ":0" + std::to_string(digits) + "}";
}

std::string numberText(double value)
{
    std::ostringstream text;
    text << value;
    return text.str();
}

std::string gridText(int columns, int rows)
{
    return sizeText(columns, rows) + " views";
}

// The HCI 4D benchmark layout: views numbered row by row from the top left, the grid and the
// disparity range in parameters.cfg, the centre view's disparity in gt_disp_lowres.pfm.
Layout hciLayout(const std::string &directory, const std::vector<std::string> &files,
                 const std::string &ignoreMaps)
{
    const std::string form = "input_CamNNN.png";
    const std::vector<Numbered> views = numberedFiles(files, directory, "input_Cam", {".png"},
                                                      std::regex("input_Cam([0-9]+)\\.png"), form);
    if (views.empty())
        throw std::runtime_error("The folder " + inQuotes(directory)
                                 + " has a parameters.cfg but no views named " + form);
    Layout layout;
    layout.kind = "the HCI 4D benchmark layout";
    const auto digits = std::max_element(views.begin(), views.end(), [](auto &a, auto &b) {
                            return a.rowDigits < b.rowDigits;
                        })->rowDigits;
    layout.views = inFolder(directory, "input_Cam" + field("index", digits) + ".png");
    const auto [firstView, lastView] = std::minmax_element(
        views.begin(), views.end(), [](auto &a, auto &b) { return a.row < b.row; });

    const std::string parametersPath = inFolder(directory, "parameters.cfg");
    std::error_code error;
    if (fs::is_regular_file(parametersPath, error)) {
        const ParametersFile parameters(parametersPath);
        layout.columns = parameters.integer("num_cams_x", 1, commandline::maxGridSide);
        layout.rows = parameters.integer("num_cams_y", 1, commandline::maxGridSide);
        const double lowest = parameters.number("disp_min");
        const double highest = parameters.number("disp_max");
        if (!(lowest < highest) || lowest < -commandline::maxViewSide
            || highest > commandline::maxViewSide) {
            throw std::runtime_error("The parameters file " + inQuotes(parametersPath)
                                     + " states disp_min " + numberText(lowest) + " and disp_max "
                                     + numberText(highest)
                                     + "; the first must be below the second");
        }
        layout.hasStatedRange = true;
        layout.statedLowest = float(lowest);
        layout.statedHighest = float(highest);
        const int count = layout.columns * layout.rows;
        for (const Numbered &view : views) {
            if (view.row - firstView->row >= count) {
                throw std::runtime_error("The folder " + inQuotes(directory) + " has " + view.file
                                         + ", beyond the " + gridText(layout.columns, layout.rows)
                                         + " that " + inQuotes(parametersPath) + " states");
            }
        }
        const ImageFacts facts = probe("view", inFolder(directory, firstView->file));
        const auto width = parameters.optionalInteger("image_resolution_x_px", 1, 1 << 30);
        const auto height = parameters.optionalInteger("image_resolution_y_px", 1, 1 << 30);
        if ((width && *width != facts.width) || (height && *height != facts.height)) {
            throw std::runtime_error(
                "The parameters file " + inQuotes(parametersPath) + " states views of "
                + sizeText(width.value_or(facts.width), height.value_or(facts.height)) + " pixels, "
                + firstView->file + " is " + sizeText(facts.width, facts.height));
        }
        layout.notes.push_back("parameters.cfg: " + gridText(layout.columns, layout.rows) + " of "
                               + sizeText(facts.width, facts.height) + " pixels, disparities from "
                               + numberText(lowest) + " to " + numberText(highest)
                               + " pixels per view step");
    } else {
        layout.notes.push_back("no parameters.cfg: the grid comes from --grid or the count of views");
    }
    layout.notes.push_back("views: " + firstView->file + " to " + lastView->file
                           + ", row by row from the top left");

    const std::string map = inFolder(directory, "gt_disp_lowres.pfm");
    if (!fs::is_regular_file(map, error)) {
        if (ignoreMaps.empty())
            layout.notes.push_back("disparity: no gt_disp_lowres.pfm; --estimate estimates it");
    } else if (ignoreMaps.empty()) {
        layout.referenceDisparity = map;
        layout.notes.push_back(
            "disparity: gt_disp_lowres.pfm, the centre view's, propagated to every view");
    } else {
        layout.notes.push_back("gt_disp_lowres.pfm: not used (" + ignoreMaps + ")");
    }
    return layout;
}

// The Stanford archive layout: out_RR_CC_<y>_<x>.png, the camera's position in decimals after the
// row and the column, sometimes followed by '_'.
Layout stanfordLayout(const std::string &directory, const std::vector<std::string> &files)
{
    const std::string form = "out_RR_CC_<y>_<x>.png";
    const std::string decimal = "(-?[0-9]+(?:\\.[0-9]+)?)";
    const std::vector<Numbered> views = numberedFiles(
        files, directory, "out_", {".png"},
        std::regex("out_([0-9]+)_([0-9]+)_" + decimal + "_" + decimal + "_?\\.png"), form);
    const NameGrid grid = gridOf(views, directory, form);
    Layout layout;
    layout.kind = "the Stanford archive layout";
    layout.views = inFolder(directory,
                            "out_" + field("row", grid.rowDigits) + "_"
                                + field("col", grid.columnDigits) + "_{*}.png");
    layout.columns = grid.columns;
    layout.rows = grid.rows;
    layout.notes.push_back("views: " + layout.views + ", " + gridText(grid.columns, grid.rows)
                           + ", " + grid.firstView->file + " to " + grid.lastView->file);
    // Which way the camera moved is the archive's own coordinate frame; the positions are shown
    // so that a person can tell whether --flip-columns or --flip-rows is wanted.
    const auto position = [&views](int row, int column, int which) {
        for (const Numbered &view : views) {
            if (view.row == row && view.column == column)
                return view.groups[std::size_t(which)];
        }
        return std::string();
    };
    const int first = grid.first;
    const int lastColumn = first + grid.columns - 1;
    const int lastRow = first + grid.rows - 1;
    layout.notes.push_back("camera positions: x " + position(first, first, 3) + " in column "
                           + std::to_string(first) + ", " + position(first, lastColumn, 3)
                           + " in column " + std::to_string(lastColumn) + "; y "
                           + position(first, first, 2) + " in row " + std::to_string(first) + ", "
                           + position(lastRow, first, 2) + " in row " + std::to_string(lastRow)
                           + "; views placed by their row and column");
    return layout;
}

// What 'lf2d export' writes: view_RR_CC.png or .exr, and disparity_RR_CC.pfm.
Layout exportLayout(const std::string &directory, const std::vector<std::string> &files,
                    const std::string &ignoreMaps)
{
    const std::string form = "view_RR_CC.png or .exr";
    const std::vector<Numbered> views =
        numberedFiles(files, directory, "view_", {".png", ".exr"},
                      std::regex("view_([0-9]+)_([0-9]+)\\.(png|exr)"), form);
    const NameGrid grid = gridOf(views, directory, form);
    const std::string extension = grid.firstView->groups[2];
    for (const Numbered &view : views) {
        if (view.groups[2] != extension) {
            throw std::runtime_error("The file " + inQuotes(inFolder(directory, view.file))
                                     + " is not a ." + extension + " file as "
                                     + grid.firstView->file + " is: one kind of views a folder");
        }
    }
    Layout layout;
    layout.kind = "the layout lf2d export writes";
    layout.views = inFolder(directory,
                            "view_" + field("row", grid.rowDigits) + "_"
                                + field("col", grid.columnDigits) + "." + extension);
    layout.columns = grid.columns;
    layout.rows = grid.rows;
    layout.notes.push_back("views: " + layout.views + ", " + gridText(grid.columns, grid.rows));

    const std::string mapForm = "disparity_RR_CC.pfm";
    const std::vector<Numbered> maps =
        numberedFiles(files, directory, "disparity_", {".pfm"},
                      std::regex("disparity_([0-9]+)_([0-9]+)\\.pfm"), mapForm);
    if (maps.empty()) {
        if (ignoreMaps.empty())
            layout.notes.push_back("disparity: none; --estimate estimates it");
        return layout;
    }
    const NameGrid mapGrid = gridOf(maps, directory, mapForm);
    const std::string mapPattern = inFolder(directory,
                                            "disparity_" + field("row", mapGrid.rowDigits) + "_"
                                                + field("col", mapGrid.columnDigits) + ".pfm");
    if (ignoreMaps.empty()) {
        layout.disparities = mapPattern;
        layout.notes.push_back("disparity: " + mapPattern + ", one map a view");
    } else {
        layout.notes.push_back(mapPattern + ": not used (" + ignoreMaps + ")");
    }
    return layout;
}

} // namespace

Layout recogniseLayout(const std::string &directory, const std::string &ignoreMaps)
{
    const std::vector<std::string> files = filesIn(directory);
    const auto has = [&files](const std::string &prefix) {
        return std::any_of(files.begin(), files.end(), [&prefix](const std::string &file) {
            return file.compare(0, prefix.size(), prefix) == 0;
        });
    };
    if (has("parameters.cfg") || has("input_Cam"))
        return hciLayout(directory, files, ignoreMaps);
    if (has("out_"))
        return stanfordLayout(directory, files);
    if (has("view_"))
        return exportLayout(directory, files, ignoreMaps);
    throw std::runtime_error(
        "The folder " + inQuotes(directory)
        + " has no layout lf2d knows: input_Cam000.png ... with parameters.cfg, "
          "out_RR_CC_<y>_<x>.png, or view_RR_CC.png as lf2d export writes them. Name the views "
          "with a PATTERN instead");
}

} // namespace folder
