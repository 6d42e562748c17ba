#include "CommandLine.h"
#include "Commands.h"
#include "EslfImage.h"
#include "FolderLayouts.h"
#include "ImageFolder.h"

#include <QFileInfo>

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
    "row-major count, as in 'input_Cam{index:03}.png' ({index:03} pads to 3 digits); {*} stands\n"
    "for the rest of a name, as in 'out_{row:02}_{col:02}_{*}.png'. Numbering starts at 0 or 1,\n"
    "whichever file exists. The grid is counted from the files there are unless --grid gives\n"
    "it; an {index} count that is not a square needs --grid.\n"
    "\n"
    "A folder (DIR) instead of PATTERN is recognised by its files: the HCI 4D benchmark layout\n"
    "(input_Cam000.png ..., the grid and the disparity range from parameters.cfg, the centre\n"
    "view's disparity from gt_disp_lowres.pfm unless --estimate), the Stanford archive layout\n"
    "(out_RR_CC_<y>_<x>.png) and what 'lf2d export' writes (view_RR_CC.png, disparity_RR_CC.pfm).\n"
    "What was recognised and which files are used is printed first.\n"
    "\n"
    "--eslf FILE reads the views from one ESLF lenslet picture instead: the view at angular\n"
    "position (u, v) is the picture's pixels (x * L + u, y * L + v) for lenslets of L x L\n"
    "pixels; the central --views of each side are kept. Pixels its alpha channel marks invalid,\n"
    "and the padding up to whole lenslets, are filled from their neighbours.\n"
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
    "the views are cropped to what all of them still show. Estimated disparities set it from\n"
    "their lowest percent (and the range parameters.cfg states): estimates below are raised to\n"
    "that, so that a few wrong pixels do not crop every view.\n"
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
        "(default: what parameters.cfg states, or else found by a quick coarse search of the "
        "views); a narrower range is faster and safer.",
        "MIN,MAX"};
    const QCommandLineOption eslf {
        "eslf", "Read the views from one ESLF lenslet picture; then only OUTPUT follows.", "FILE"};
    const QCommandLineOption lenslet {
        "lenslet", "The ESLF picture's lenslets, pixels along a side (default 14).", "L", "14"};
    const QCommandLineOption views {
        "views", "The central ESLF views kept along each side (default 8).", "N", "8"};

    QList<QCommandLineOption> all() const
    {
        return {grid,     flipRows, flipColumns, disparity, reference, referenceView,
                negate,   every,    crop,        scale,     spacing,   maxDisparity,
                estimate, range,    eslf,        lenslet,   views};
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

// origin: where the views came from, as in "a folder grid of 9 x 9 views".
QString describe(const QString &output, const QString &origin, const folder::ImportOptions &options,
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
    text += "  from " + origin;
    if (options.every > 1)
        text += QString(", every %1th view kept").arg(options.every);
    text += "\n";
    if (options.estimate) {
        text += QString("  disparity estimated from the views, searching %1 to %2 pixels per view "
                        "step (%3)\n")
                    .arg(summary.searchedLowest, 0, 'g', 4)
                    .arg(summary.searchedHighest, 0, 'g', 4)
                    .arg(!options.estimateRangeGiven ? "found by a coarse search of the views"
                         : options.estimateRangeStated ? "as parameters.cfg states"
                                                       : "as given");
    }
    if (summary.refocusOffset > 0) {
        text += QString("  refocused: the folder's disparities reach below 0, so every view is "
                        "shifted by %1 pixels per view step, which adds %1 to every disparity "
                        "(subtract it to compare with the folder's maps)\n")
                    .arg(summary.refocusOffset);
    }
    return text;
}

// Reads what the folder at options.views holds and takes from it what the options leave open:
// the views, the grid, the maps, and the range to search when estimating. Returns what was
// recognised, for the console.
QString applyLayout(const CommandParser &parser, const ImportOptionSet &option,
                    folder::ImportOptions &options)
{
    const bool ownMaps = !options.disparities.empty() || !options.referenceDisparity.empty();
    const folder::Layout layout = folder::recogniseLayout(options.views,
                                                          options.estimate ? "--estimate"
                                                              : ownMaps    ? "a map given"
                                                                           : "");
    QString text =
        QString("Recognised %1 in %2\n")
            .arg(QString::fromStdString(layout.kind), QString::fromStdString(options.views));
    for (const std::string &note : layout.notes)
        text += "  " + QString::fromStdString(note) + "\n";
    options.views = layout.views;
    options.columns = layout.columns;
    options.rows = layout.rows;
    if (!options.estimate && !ownMaps) {
        options.disparities = layout.disparities;
        options.referenceDisparity = layout.referenceDisparity;
    }
    if (layout.hasStatedRange) {
        options.hasStatedRange = true;
        options.statedLowest = layout.statedLowest;
        options.statedHighest = layout.statedHighest;
        if (options.estimate && !parser.isSet(option.range)) {
            const float storedScale = float(options.every * options.scale);
            options.estimateLowest = layout.statedLowest * storedScale;
            options.estimateHighest = layout.statedHighest * storedScale;
            options.estimateRangeGiven = true;
            options.estimateRangeStated = true;
            text += QString("  disparity: estimated from %1 to %2 pixels per view step of the "
                            "light field written, as parameters.cfg states\n")
                        .arg(options.estimateLowest, 0, 'g', 4)
                        .arg(options.estimateHighest, 0, 'g', 4);
        }
    }
    return text;
}

// Reads the central views of an ESLF picture and writes them; origin says where they came from.
folder::ImportSummary importEslf(const CommandParser &parser, const ImportOptionSet &option,
                                 folder::ImportOptions &options, const std::string &output,
                                 QString &origin)
{
    if (parser.isSet(option.grid) || parser.isSet(option.disparity)) {
        throw UsageError {"--eslf gives the grid of views itself and has no per-view maps: "
                          "leave out --grid and --disparity"};
    }
    options.flipRows = parser.isSet(option.flipRows);
    options.flipColumns = parser.isSet(option.flipColumns);
    const int lenslet = parser.integer(option.lenslet, 1, maxViewSide);
    const int views = parser.integer(option.views, 1, maxGridSide);
    const QString file = parser.value(option.eslf);
    folder::EslfViews eslf = folder::readEslf(file.toStdString(), lenslet, views);
    QString text = QString("Read the ESLF image %1: %2 x %3 pixels, lenslets of %4 x %4 pixels, "
                           "the central %5 x %5 views (u and v %6 to %7) of %8 x %9 pixels\n")
                       .arg(file)
                       .arg(eslf.imageWidth)
                       .arg(eslf.imageHeight)
                       .arg(lenslet)
                       .arg(views)
                       .arg(eslf.firstAngle)
                       .arg(eslf.firstAngle + views - 1)
                       .arg(eslf.facts.width)
                       .arg(eslf.facts.height);
    text += QString("  %1 pixels of those views filled from their neighbours (%2padding up to "
                    "whole lenslets)\n")
                .arg(eslf.filled)
                .arg(eslf.hasAlpha ? "marked invalid by the alpha channel, or " : "");
    print(stdout, text);
    origin = QString("the ESLF image's %1 x %1 central views").arg(views);
    return folder::importViews(options, std::move(eslf.images), views, views, eslf.facts, output,
                               progressPrinter());
}

} // namespace

int runImport(const QStringList &arguments)
{
    CommandParser parser("import",
                         "Usage: lf2d import [options] PATTERN|DIR OUTPUT.lf2d\n"
                         "       lf2d import [options] --eslf FILE OUTPUT.lf2d",
                         importDescription);
    const ImportOptionSet option;
    parser.addOptions(option.all());
    parser.addPositionalArgument("PATTERN", "The views' file names, with placeholders, or DIR.");
    parser.addPositionalArgument("OUTPUT", "The .lf2d file to write.", "OUTPUT.lf2d");
    if (!parser.parse(arguments))
        return 0;
    const QStringList positional = parser.positionalArguments();
    const bool eslf = parser.isSet(option.eslf);
    if (positional.size() != (eslf ? 1 : 2)) {
        throw UsageError {
            QString("expected %1, found %2 argument(s)%3")
                .arg(eslf ? "OUTPUT.lf2d after --eslf FILE" : "PATTERN (or DIR) and OUTPUT.lf2d")
                .arg(positional.size())
                .arg(positional.isEmpty() ? "" : ": " + positional.join(' '))};
    }

    if (!eslf && (parser.isSet(option.lenslet) || parser.isSet(option.views)))
        throw UsageError {"--lenslet and --views go with --eslf"};

    folder::ImportOptions options;
    readStoredOptions(parser, option, options);
    readDisparityOptions(parser, option, options);
    const QString output = positional.last();
    folder::ImportSummary summary;
    QString origin;
    if (eslf) {
        summary = importEslf(parser, option, options, output.toStdString(), origin);
    } else {
        options.views = positional.at(0).toStdString();
        if (QFileInfo(positional.at(0)).isDir())
            print(stdout, applyLayout(parser, option, options));
        readFolderOptions(parser, option, options);
        summary = folder::importLightfield(options, output.toStdString(), progressPrinter());
        origin = QString("a folder grid of %1 x %2 views numbered from %3")
                     .arg(summary.folderColumns)
                     .arg(summary.folderRows)
                     .arg(summary.first);
    }
    print(stdout, describe(output, origin, options, summary));
    return 0;
}
