#include "CommandLine.h"
#include "Commands.h"
#include "ImageFolder.h"

#include <optional>
#include <stdexcept>
#include <vector>

namespace {

using commandline::CommandParser;
using commandline::maxGridSide;
using commandline::maxViewSide;
using commandline::print;
using commandline::UsageError;

const char importDescription[] =
    "Writes a .lf2d light field from a folder of per-view images. PATTERN names the views with\n"
    "placeholders: {row} and {col}, as in 'views/view_{row}_{col}.png', or {index}, the\n"
    "row-major count, as in 'input_Cam{index:03}.png' ({index:03} pads to 3 digits). Numbering\n"
    "starts at 0 or 1, whichever file exists. The grid is counted from the files there are\n"
    "unless --grid gives it; an {index} count that is not a square needs --grid.\n"
    "\n"
    "Integer images (PNG, JPEG, TIFF; 8 or 16 bits) give an 8-bit light field, floating-point\n"
    "ones (Radiance .hdr, OpenEXR, PFM) an RGBE one. Every view must have the same size.\n"
    "\n"
    "Disparity, in pixels per view step of the folder's grid: a scene point at pixel (x, y) of\n"
    "one view (rows from the top) is at x - d in the view one column to the right and at y - d\n"
    "in the view one row below; nearer points have larger disparities (--negate-disparity for\n"
    "maps the other way round). Either one map per view (--disparity PATTERN, numbered as the\n"
    "views), or one view's map (--reference-disparity FILE, by default the centre view's),\n"
    "forward-warped to every view, where the nearest point wins and newly seen pixels take the\n"
    "farther neighbouring disparity. Without disparity the viewer shows the nearest view.\n"
    "\n"
    "Negative disparities cannot be stored: every view is then shifted by a whole number of\n"
    "pixels per view step (the refocus offset, printed), which adds it to every disparity, and\n"
    "the views are cropped to what all of them still show.\n"
    "\n"
    "Order of work: --flip-*, --every, --crop, --scale, then the refocus shift. Nothing is\n"
    "written when a view or map is missing, unreadable or of another size.\n"
    "\n"
    "Exit status: 0 on success, 2 for invalid arguments, 1 when the folder cannot be imported\n"
    "or the light field cannot be written.";

// The command's options, in the order its help lists them.
struct ImportOptionSet
{
    const QCommandLineOption grid {
        "grid", "The folder's grid, views per row x rows (default: counted from the files).",
        "COLUMNSxROWS"};
    const QCommandLineOption flipRows {
        "flip-rows", "The folder's first row of views is the bottom row of viewpoints."};
    const QCommandLineOption flipColumns {
        "flip-columns", "The folder's first column of views is the rightmost column."};
    const QCommandLineOption disparity {
        "disparity", "Per-view disparity maps (PFM, OpenEXR, ...), numbered as the views.",
        "PATTERN"};
    const QCommandLineOption reference {
        "reference-disparity", "One view's disparity map, propagated to every view.", "FILE"};
    const QCommandLineOption referenceView {
        "reference-view",
        "The view the reference map belongs to, as column,row of the grid after flipping "
        "(default: the centre view).",
        "C,R"};
    const QCommandLineOption negate {
        "negate-disparity", "The maps give nearer points smaller values: use their negatives."};
    const QCommandLineOption every {
        "every", "Keep every N-th view along both axes; disparities scale with N (default 1).", "N",
        "1"};
    const QCommandLineOption crop {
        "crop", "Keep this rectangle of every view, in its pixels: left,top,width,height.",
        "X,Y,W,H"};
    const QCommandLineOption scale {"scale",
                                    "Shrink the views by this factor, above 0 and at most 1; "
                                    "disparities scale with it (default 1).",
                                    "F", "1"};
    const QCommandLineOption spacing = commandline::viewSpacingOption();
    const QCommandLineOption maxDisparity {
        "max-disparity",
        "The header's disparity bound, at least the largest disparity stored (default: that, "
        "rounded up).",
        "D"};
    const QCommandLineOption estimate {
        "estimate", "Estimate every view's disparity from the views themselves."};
    const QCommandLineOption range {
        "disparity-range",
        "The disparities --estimate searches, in pixels per view step of the light field written "
        "(default: found by a quick coarse search of the views); a narrower range is faster and "
        "safer.",
        "MIN,MAX"};

    QList<QCommandLineOption> all() const
    {
        return {grid,  flipRows, flipColumns, disparity, reference,    referenceView, negate,
                every, crop,     scale,       spacing,   maxDisparity, estimate,      range};
    }
};

// COLUMNSxROWS, or the parts of a comma-separated list of integers.
std::vector<int> parseIntegers(const QString &name, const QString &text, QChar separator, int count,
                               const QString &form)
{
    const QStringList parts = text.split(separator);
    std::vector<int> values;
    for (const QString &part : parts) {
        bool ok = false;
        const int value = part.trimmed().toInt(&ok);
        if (!ok || value < 0)
            break;
        values.push_back(value);
    }
    if (int(values.size()) != count || parts.size() != count)
        throw UsageError {"--" + name + " '" + text + "': expected " + form};
    return values;
}

// The views' pattern and the folder's grid, and how the views are turned.
void readFolderOptions(const CommandParser &parser, const ImportOptionSet &option,
                       folder::ImportOptions &options)
{
    try {
        folder::NamePattern check(options.views);
        if (parser.isSet(option.disparity))
            folder::NamePattern maps(parser.value(option.disparity).toStdString());
    } catch (const std::invalid_argument &error) {
        throw UsageError {error.what()};
    }
    if (parser.isSet(option.grid)) {
        const std::vector<int> grid =
            parseIntegers("grid", parser.value(option.grid).toLower(), 'x', 2, "COLUMNSxROWS");
        if (grid[0] < 1 || grid[1] < 1 || grid[0] > maxGridSide || grid[1] > maxGridSide)
            throw UsageError {QString("--grid: 1 to %1 views along each side").arg(maxGridSide)};
        options.columns = grid[0];
        options.rows = grid[1];
    }
    options.flipRows = parser.isSet(option.flipRows);
    options.flipColumns = parser.isSet(option.flipColumns);
}

// Where the disparity comes from: maps, one view's map, the views themselves or nowhere.
void readDisparityOptions(const CommandParser &parser, const ImportOptionSet &option,
                          folder::ImportOptions &options)
{
    options.disparities = parser.value(option.disparity).toStdString();
    options.referenceDisparity = parser.value(option.reference).toStdString();
    if (!options.disparities.empty() && !options.referenceDisparity.empty())
        throw UsageError {"give --disparity or --reference-disparity, not both"};
    if (parser.isSet(option.referenceView)) {
        if (options.referenceDisparity.empty())
            throw UsageError {"--reference-view needs --reference-disparity"};
        const std::vector<int> view = parseIntegers(
            "reference-view", parser.value(option.referenceView), ',', 2, "COLUMN,ROW");
        options.referenceColumn = view[0];
        options.referenceRow = view[1];
    }
    options.negateDisparity = parser.isSet(option.negate);
    options.estimate = parser.isSet(option.estimate);
    if (options.estimate && (!options.disparities.empty() || !options.referenceDisparity.empty()))
        throw UsageError {"give --estimate or disparity maps, not both"};

    if (!parser.isSet(option.range))
        return;
    const QStringList range = parser.value(option.range).split(',');
    bool lowOk = false;
    bool highOk = false;
    if (range.size() == 2) {
        options.estimateLowest = range[0].trimmed().toFloat(&lowOk);
        options.estimateHighest = range[1].trimmed().toFloat(&highOk);
    }
    if (!lowOk || !highOk || !(options.estimateLowest < options.estimateHighest)
        || options.estimateLowest < -maxViewSide || options.estimateHighest > maxViewSide)
        throw UsageError {"--disparity-range: expected MIN,MAX with MIN below MAX"};
    options.estimateRangeGiven = true;
}

// Which views are kept, what of them and at what size, and the rest of the header.
void readStoredOptions(const CommandParser &parser, const ImportOptionSet &option,
                       folder::ImportOptions &options)
{
    options.every = parser.integer(option.every, 1, maxGridSide);
    if (parser.isSet(option.crop)) {
        const std::vector<int> crop =
            parseIntegers("crop", parser.value(option.crop), ',', 4, "X,Y,W,H");
        if (crop[2] < 1 || crop[3] < 1)
            throw UsageError {"--crop: the width and height must be at least 1"};
        options.crop = {crop[0], crop[1], crop[2], crop[3]};
    }
    bool scaleOk = false;
    options.scale = parser.value(option.scale).toDouble(&scaleOk);
    if (!scaleOk || !(options.scale > 0.0 && options.scale <= 1.0))
        throw UsageError {"--scale must be a number above 0 and at most 1"};
    options.viewSpacing = parser.integer(option.spacing, 1, commandline::maxViewSpacing);
    if (parser.isSet(option.maxDisparity))
        options.maxDisparity = parser.integer(option.maxDisparity, 0, maxViewSide);
}

// A line on stderr for every tenth of the views done, and whenever the work changes.
folder::Progress progressPrinter()
{
    return [lastTenth = -1, lastStage = QString()](const char *stage, int done, int count) mutable {
        const int tenth = done * 10 / count;
        if (tenth != lastTenth || lastStage != stage) {
            lastTenth = tenth;
            lastStage = stage;
            print(stderr,
                  QString("lf2d import: %1 of %2 views %3\n").arg(done).arg(count).arg(stage));
        }
    };
}

QString describe(const QString &output, const folder::ImportOptions &options,
                 const folder::ImportSummary &summary)
{
    QString text = QString("Wrote %1: %2 x %3 views of %4 x %5 pixels, %6, ")
                       .arg(output)
                       .arg(summary.columns)
                       .arg(summary.rows)
                       .arg(summary.width)
                       .arg(summary.height)
                       .arg(summary.hdr ? "RGBE" : "8-bit");
    if (summary.disparity) {
        text += QString("disparity %1 to %2 pixels per view step (bound %3)")
                    .arg(summary.minDisparity, 0, 'g', 4)
                    .arg(summary.maxDisparity, 0, 'g', 4)
                    .arg(summary.maxDisparityBound);
    } else {
        text += "no disparity";
    }
    text += QString(", %1 MiB\n").arg(summary.fileBytes / 1048576.0, 0, 'f', 1);
    text += QString("  from a folder grid of %1 x %2 views numbered from %3")
                .arg(summary.folderColumns)
                .arg(summary.folderRows)
                .arg(summary.first);
    if (options.every > 1)
        text += QString(", every %1th view kept").arg(options.every);
    text += "\n";
    if (options.estimate) {
        text += QString("  disparity estimated from the views, searching %1 to %2 pixels per view "
                        "step (%3)\n")
                    .arg(summary.searchedLowest, 0, 'g', 4)
                    .arg(summary.searchedHighest, 0, 'g', 4)
                    .arg(options.estimateRangeGiven ? "as given"
                                                    : "found by a coarse search of the views");
    }
    if (summary.refocusOffset > 0) {
        text += QString("  refocused: the folder's disparities reach below 0, so every view is "
                        "shifted by %1 pixels per view step, which adds %1 to every disparity "
                        "(subtract it to compare with the folder's maps)\n")
                    .arg(summary.refocusOffset);
    }
    return text;
}

} // namespace

int runImport(const QStringList &arguments)
{
    CommandParser parser("import", "Usage: lf2d import [options] PATTERN OUTPUT.lf2d",
                         importDescription);
    const ImportOptionSet option;
    parser.addOptions(option.all());
    parser.addPositionalArgument("PATTERN", "The views' file names, with placeholders.");
    parser.addPositionalArgument("OUTPUT", "The .lf2d file to write.", "OUTPUT.lf2d");
    if (!parser.parse(arguments))
        return 0;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2) {
        throw UsageError {QString("expected PATTERN and OUTPUT.lf2d, found %1 argument(s)%2")
                              .arg(positional.size())
                              .arg(positional.isEmpty() ? "" : ": " + positional.join(' '))};
    }

    folder::ImportOptions options;
    options.views = positional.at(0).toStdString();
    readFolderOptions(parser, option, options);
    readDisparityOptions(parser, option, options);
    readStoredOptions(parser, option, options);

    const QString output = positional.at(1);
    const folder::ImportSummary summary =
        folder::importLightfield(options, output.toStdString(), progressPrinter());
    print(stdout, describe(output, options, summary));
    return 0;
}
