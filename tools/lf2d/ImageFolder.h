#pragma once

#include "FolderImages.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Light fields from and to folders of per-view images: the way captured camera arrays, gantry
// scans, decoded plenoptic pictures and rendered benchmark scenes are shared.
//
// Disparity is in the viewer's convention: a scene point at pixel (x, y) of one view (rows counted
// from the top) is at x − d in the view one column to the right and at y − d in the view one row
// below, d in pixels per view step. Nearer points have larger disparities.
namespace folder {

// A file name with placeholders for a view's place in the grid: {row}, {col} (or {column}) and
// {index}, the row-major count; each may be zero-padded to a width, as in {index:03}. One {*} in
// the file's own name stands for whatever the rest of a name holds that is not numbering, such as
// the camera positions some archives write into their names.
class NamePattern
{
public:
    // Throws std::invalid_argument saying what is wrong with the pattern.
    explicit NamePattern(const std::string &text);
    // Names nothing: for views that are not files of their own.
    NamePattern() = default;

    bool usesIndex() const { return m_usesIndex; }
    const std::string &text() const { return m_text; }

    // The name of the view at (column, row) of a grid `columns` wide; first is the number of the
    // first row, column and index (0 or 1). With {*}, the one file of the folder that matches, or
    // the name with '*' in it when none does; throws std::runtime_error naming them when several
    // do.
    std::string name(int column, int row, int columns, int first) const;

private:
    std::string matchWildcard(const std::string &name) const;

    enum class Kind
    {
        Literal,
        Row,
        Column,
        Index,
        Wildcard
    };
    struct Piece
    {
        Kind kind = Kind::Literal;
        std::string literal;
        int width = 0;
    };
    std::vector<Piece> m_pieces;
    std::string m_text;
    bool m_usesIndex = false;
    bool m_hasWildcard = false;
    // The file names of the folder {*} is matched in, read on the first use.
    mutable std::shared_ptr<const std::vector<std::string>> m_listing;
};

// A rectangle of every view, in its pixels; width 0 keeps the whole view.
struct Crop
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct ImportOptions
{
    std::string views; // a NamePattern
    int columns = 0; // 0: counted from the files there are
    int rows = 0;
    bool flipRows = false; // the folder's row 0 is the bottom row of viewpoints
    bool flipColumns = false; // the folder's column 0 is the rightmost column of viewpoints
    // Per-view disparity maps, a NamePattern with the same numbering as the views; or one view's
    // map, propagated to every view. Values in pixels per step of the folder's grid.
    std::string disparities;
    std::string referenceDisparity;
    int referenceColumn = -1; // the view referenceDisparity belongs to, after flipping; -1: centre
    int referenceRow = -1;
    bool negateDisparity = false; // maps in which nearer points have smaller values
    // Estimate every view's disparity from the views themselves, searching this range (pixels per
    // step of the light field written, that is after --every and --scale) where it is given, and
    // otherwise the range a coarse search of the views finds.
    bool estimate = false;
    bool estimateRangeGiven = false;
    bool estimateRangeStated = false; // given by the folder's parameters.cfg, not the user
    float estimateLowest = 0.0f;
    float estimateHighest = 0.0f;
    // The disparities the folder states its scene has, in pixels per step of the folder's grid:
    // estimates beyond them are mistakes, and are clamped to them.
    bool hasStatedRange = false;
    float statedLowest = 0.0f;
    float statedHighest = 0.0f;
    int every = 1; // keep every n-th view along both axes
    Crop crop; // taken from every view first
    double scale = 1.0; // then views are shrunk by this factor, in (0, 1]
    int viewSpacing = 20;
    int maxDisparity =
        -1; // the header's bound, at least the largest disparity; -1: that rounded up
};

struct ImportSummary
{
    int folderColumns = 0;
    int folderRows = 0;
    int first = 0; // number of the first row, column or index in the file names
    int columns = 0; // of the light field written
    int rows = 0;
    int width = 0;
    int height = 0;
    bool hdr = false;
    bool disparity = false;
    int refocusOffset = 0; // pixels per view step added to every disparity
    float minDisparity = 0; // as stored, refocus offset included
    float maxDisparity = 0;
    int maxDisparityBound = 0; // the header's
    float searchedLowest = 0; // the range estimation searched, given or found
    float searchedHighest = 0;
    std::int64_t fileBytes = 0;
};

// Called as views are done, with what was done to them ("estimated", "written"), how many so far
// and their total.
using Progress = std::function<void(const char *stage, int done, int count)>;

// Reads the folder's views, and their disparities if asked, and writes the light field to output.
// Integer images (PNG, JPEG, TIFF, 8 or 16 bits) give an 8-bit light field, floating-point ones
// (Radiance, OpenEXR, PFM) an RGBE one. Negative disparities cannot be stored: every view is then
// shifted by a whole number of pixels per view step, the refocus offset, which adds that offset to
// every disparity, and the views are cropped to what all of them still show.
// Throws std::runtime_error naming the file and the problem when a view or map is missing,
// unreadable, of another size or kind than the others, or the options do not fit the folder; no
// output file is left behind then.
ImportSummary importLightfield(const ImportOptions &options, const std::string &output,
                               const Progress &progress = {});

// The same for views already read, columns × rows of them row by row, all of one size and kind
// as facts says; options.views, columns and rows are not used, nor per-view maps.
ImportSummary importViews(const ImportOptions &options, std::vector<Image> views, int columns,
                          int rows, const ImageFacts &facts, const std::string &output,
                          const Progress &progress = {});

struct ExportSummary
{
    std::string views; // the NamePatterns written, for lf2d import
    std::string disparities; // empty without disparity
    int viewCount = 0;
};

// Writes every view of a .lf2d file into directory (created if needed) as it is stored: 8-bit
// views as PNG, RGBE views as 32-bit float OpenEXR, disparity maps as PFM. Throws
// std::runtime_error naming the file that cannot be read or written.
ExportSummary exportLightfield(const std::string &lightfield, const std::string &directory);

} // namespace folder
