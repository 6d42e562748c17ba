// lf2d: makes, inspects and converts light fields: synthetic ones whose views and disparities are
// known exactly (with exact views at any camera position between the stored ones), ones cut from
// a photograph, and ones imported from folders of per-view images.

#include "CommandLine.h"
#include "ImageFolder.h"
#include "Lf2dWriter.h"
#include "LightfieldInfo.h"
#include "PhotoLightfield.h"
#include "RenderCommand.h"
#include "SyntheticScene.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cmath>
#include <cstdio>
#include <exception>
#include <functional>
#include <map>
#include <vector>

namespace {

// Generous bounds that still keep a view within what the viewer can load as one image.
constexpr int maxViewSide = 8192;
constexpr int maxGridSide = 1024;
constexpr int maxViewSpacing = 100000;
constexpr int maxStep = 1024;

const char generalUsage[] = "Usage: lf2d COMMAND [options]\n"
                            "\n"
                            "Commands:\n"
                            "  synth    Write a synthetic light field and/or exact views of it.\n"
                            "  photo    Write a light field of crops of a photograph.\n"
                            "  import   Write a light field from a folder of per-view images.\n"
                            "  export   Write every view of a light field as an image file.\n"
                            "  info     Check a light field and say what it holds.\n"
                            "  render   Write the picture a viewer program shows at a camera\n"
                            "           position, or along a path, as PNG without a window.\n"
                            "\n"
                            "Run 'lf2d COMMAND --help' for the options of a command.\n";

const char synthDescription[] =
    "Writes a synthetic .lf2d light field: a textured background plane (disparity 1) behind a\n"
    "rectangle (3.5), a disc (7.25) and a triangle (11) that partly occlude each other. Every\n"
    "pixel is the mean of 4 x 4 samples over its area; disparity maps hold the exact disparity\n"
    "(pixels per view step) of the front-most layer at each pixel centre. The header's\n"
    "maxDisparity is 12; --max-disparity scales the layers' disparities with it. Shapes scale\n"
    "with the view size, disparities do not: views much smaller than 256 x 256 on a 9 x 9 grid\n"
    "push the nearest layers out of the picture.\n"
    "\n"
    "Camera positions: X is the column, from 0 (left) to columns - 1; Y is the row, from 0 (top)\n"
    "to rows - 1. The stored view at column c, row r is the exact view at X = c, Y = r.\n"
    "\n"
    "8-bit light fields hold display colours. With --hdr they hold linear radiance as RGBE,\n"
    "with a luminance range over 10^4 (an emitting disc near 2000, background shadow near\n"
    "0.05). PNGs of such views show each channel value v as (v / (1 + v))^(1/2.2), rounded to\n"
    "8 bits.\n"
    "\n"
    "OUTPUT may be left out when --exact-view is given: then only the PNGs are written.\n"
    "Exit status: 0 on success, 2 for invalid arguments, 1 when a file cannot be written.";

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

const char exportDescription[] =
    "Writes every view of a .lf2d light field into DIR exactly as stored: 8-bit views as PNG,\n"
    "RGBE views as 32-bit float OpenEXR, disparity maps as PFM, named view_RR_CC and\n"
    "disparity_RR_CC (row and column from 0). 'lf2d import' reads the folder back.\n"
    "\n"
    "Exit status: 0 on success, 2 for invalid arguments, 1 when the light field cannot be read\n"
    "or a file cannot be written.";

const char infoDescription[] =
    "Reads a .lf2d light field with the viewer's own reader and prints its header, whether it\n"
    "passes every check of the reader (with the reader's message if not), the disparity range\n"
    "actually stored, and for RGBE files the luminance range and the dynamic range in stops of\n"
    "every view.\n"
    "\n"
    "Exit status: 0 when the viewer can read the file, 1 when it cannot, 2 for invalid\n"
    "arguments.";

const char photoDescription[] =
    "Writes a .lf2d light field whose views are crops of one photograph: the view at column c,\n"
    "row r (row 0 at the top) starts c x STEP pixels right of and r x STEP pixels below the view\n"
    "at column 0, row 0. The grid looks like a flat scene at disparity STEP, and every view sees "
    "a\n"
    "slightly different part of the photograph. Disparity maps hold STEP everywhere; the\n"
    "header's maxDisparity is STEP.\n"
    "\n"
    "The grid spans (W + (columns - 1) x STEP) x (H + (rows - 1) x STEP) pixels. A photograph\n"
    "more than a quarter larger than that is first shrunk, keeping its aspect ratio, until the\n"
    "grid spans it along one side; otherwise the grid is centred on it. Photographs are never\n"
    "enlarged. A view side left out is the largest that fits, at most 512.\n"
    "\n"
    "Photographs with floating-point pixels (OpenEXR, Radiance .hdr, ...) give RGBE light fields\n"
    "of their linear values, negative values read as 0. Others (PNG, JPEG, ...) give 8-bit light\n"
    "fields of their colours. The first three channels are red, green and blue; a photograph\n"
    "with fewer channels is grey.\n"
    "\n"
    "Exit status: 0 on success, 2 for invalid arguments, 1 when the photograph cannot be read or\n"
    "is too small, or the light field cannot be written.";

using commandline::exitFailure;
using commandline::exitUsage;
using commandline::print;
using commandline::UsageError;

int parseInt(const QCommandLineParser &parser, const QCommandLineOption &option, int minimum,
             int maximum)
{
    const QString name = "--" + option.names().constFirst();
    const QString text = parser.value(option);
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok)
        throw UsageError {name + ": '" + text + "' is not an integer"};
    if (value < minimum || value > maximum) {
        throw UsageError {QString("%1 must be between %2 and %3, not %4")
                              .arg(name)
                              .arg(minimum)
                              .arg(maximum)
                              .arg(value)};
    }
    return value;
}

// Qt names the program by its path in the first line of the help; the subcommand belongs there.
void printHelp(const QCommandLineParser &parser, const QString &usage)
{
    QString text = parser.helpText();
    text.replace(0, text.indexOf('\n'), usage);
    print(stdout, text);
}

struct ExactView
{
    double x = 0;
    double y = 0;
    QString file;
};

ExactView parseExactView(const QString &text, const synth::SceneOptions &options)
{
    const QString problem = "--exact-view '" + text + "': ";
    const int equals = text.indexOf('=');
    if (equals < 0)
        throw UsageError {problem + "expected X,Y=FILE.png"};
    const QStringList position = text.left(equals).split(',');
    ExactView view;
    view.file = text.mid(equals + 1);
    if (position.size() != 2 || view.file.isEmpty())
        throw UsageError {problem + "expected X,Y=FILE.png"};
    bool xOk = false;
    bool yOk = false;
    view.x = position[0].trimmed().toDouble(&xOk);
    view.y = position[1].trimmed().toDouble(&yOk);
    if (!xOk || !yOk || !std::isfinite(view.x) || !std::isfinite(view.y))
        throw UsageError {problem + "the camera position must be two numbers"};
    // The grid is all the light field covers; a position beyond it is most likely a mistake, such
    // as swapped coordinates.
    if (view.x < 0 || view.x > options.columns - 1 || view.y < 0 || view.y > options.rows - 1) {
        throw UsageError {problem
                          + QString("the camera position must lie within the grid, X in [0, %1] "
                                    "and Y in [0, %2]")
                                .arg(options.columns - 1)
                                .arg(options.rows - 1)};
    }
    return view;
}

int runSynth(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(synthDescription);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    const QCommandLineOption columnsOption("columns", "Views per grid row, 1 to 1024 (default 9).",
                                           "N", "9");
    const QCommandLineOption rowsOption("rows", "Grid rows of views, 1 to 1024 (default 9).", "N",
                                        "9");
    const QCommandLineOption widthOption("width", "Pixels per view row, 1 to 8192 (default 256).",
                                         "W", "256");
    const QCommandLineOption heightOption("height", "Pixel rows per view, 1 to 8192 (default 256).",
                                          "H", "256");
    const QCommandLineOption spacingOption("view-spacing",
                                           "Window pixels of drag between neighbouring views, for "
                                           "the header, 1 to 100000 (default 20).",
                                           "S", "20");
    const QCommandLineOption hdrOption("hdr", "Store linear radiance as RGBE instead of 8-bit.");
    const QCommandLineOption noDisparityOption("no-disparity", "Store no disparity maps.");
    const QCommandLineOption maxDisparityOption(
        "max-disparity",
        "The header's disparity bound, 3, 6, 12, 24 or 48 (default 12); the layers' disparities "
        "scale with it.",
        "D", "12");
    const QCommandLineOption exactViewOption(
        "exact-view",
        "Also write the exact view from camera position (X, Y), fractions allowed, as an upright "
        "PNG. Repeatable.",
        "X,Y=FILE.png");
    const QCommandLineOption sceneOption(
        "scene",
        "layers (the default), or clutter: poles 1 to 3 pixels wide and a wire in front of four "
        "discs, a slanted wall and slanted ground, disparities 1.5 to 20 at the bound of 24, "
        "its default.",
        "NAME", "layers");
    const QCommandLineOption exportOption(
        "export",
        "Also write every stored view and disparity map into DIR as images, as lf2d export "
        "does.",
        "DIR");
    parser.addOptions({help, columnsOption, rowsOption, widthOption, heightOption, spacingOption,
                       hdrOption, noDisparityOption, maxDisparityOption, exactViewOption,
                       sceneOption, exportOption});
    parser.addPositionalArgument("OUTPUT", "The .lf2d file to write.", "[OUTPUT.lf2d]");

    if (!parser.parse(QStringList {"lf2d synth"} + arguments))
        throw UsageError {parser.errorText()};
    if (parser.isSet(help)) {
        printHelp(parser, "Usage: lf2d synth [options] [OUTPUT.lf2d]");
        return 0;
    }

    synth::SceneOptions options;
    options.columns = parseInt(parser, columnsOption, 1, maxGridSide);
    options.rows = parseInt(parser, rowsOption, 1, maxGridSide);
    options.width = parseInt(parser, widthOption, 1, maxViewSide);
    options.height = parseInt(parser, heightOption, 1, maxViewSide);
    options.viewSpacing = parseInt(parser, spacingOption, 1, maxViewSpacing);
    options.hdr = parser.isSet(hdrOption);
    options.disparity = !parser.isSet(noDisparityOption);
    const QString sceneName = parser.value(sceneOption);
    if (sceneName != "layers" && sceneName != "clutter")
        throw UsageError {"--scene must be layers or clutter, not '" + sceneName + "'"};
    options.scene = sceneName == "clutter" ? synth::SceneKind::Clutter : synth::SceneKind::Layers;
    options.maxDisparity =
        options.scene == synth::SceneKind::Clutter && !parser.isSet(maxDisparityOption)
        ? 24
        : parseInt(parser, maxDisparityOption, 3, 48);
    if (!QList<int> {3, 6, 12, 24, 48}.contains(options.maxDisparity))
        throw UsageError {"--max-disparity must be 3, 6, 12, 24 or 48"};

    std::vector<ExactView> exactViews;
    for (const QString &text : parser.values(exactViewOption))
        exactViews.push_back(parseExactView(text, options));

    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1)
        throw UsageError {"only one OUTPUT file may be given, found " + positional.join(' ')};
    if (positional.isEmpty() && exactViews.empty())
        throw UsageError {"nothing to write: give OUTPUT.lf2d or --exact-view"};
    if (positional.isEmpty() && parser.isSet(exportOption))
        throw UsageError {"--export needs OUTPUT.lf2d"};

    const synth::SyntheticScene scene(options);
    if (!positional.isEmpty()) {
        const QString path = positional.constFirst();
        synth::writeLightfield(scene, path.toStdString());
        print(stdout,
              QString("Wrote %1: %2 x %3 views of %4 x %5 pixels, %6%7\n")
                  .arg(path)
                  .arg(options.columns)
                  .arg(options.rows)
                  .arg(options.width)
                  .arg(options.height)
                  .arg(options.hdr ? "RGBE" : "8-bit")
                  .arg(options.disparity ? ", with disparity" : ""));
        if (parser.isSet(exportOption)) {
            const QString directory = parser.value(exportOption);
            const folder::ExportSummary exported =
                folder::exportLightfield(path.toStdString(), directory.toStdString());
            print(stdout,
                  QString("Wrote %1 views into %2: %3%4\n")
                      .arg(exported.viewCount)
                      .arg(directory)
                      .arg(QString::fromStdString(exported.views))
                      .arg(exported.disparities.empty()
                               ? QString()
                               : ", " + QString::fromStdString(exported.disparities)));
        }
    }
    for (const ExactView &view : exactViews) {
        const QImage picture = synth::toDisplayImage(scene.renderView(view.x, view.y), options.hdr);
        if (!picture.save(view.file, "PNG"))
            throw std::runtime_error("Cannot write exact view \"" + view.file.toStdString() + "\"");
        print(stdout,
              QString("Wrote %1: exact view at X = %2, Y = %3\n")
                  .arg(view.file)
                  .arg(view.x)
                  .arg(view.y));
    }
    return 0;
}

int runPhoto(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(photoDescription);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    const QCommandLineOption columnsOption("columns", "Views per grid row, 1 to 1024 (default 5).",
                                           "N", "5");
    const QCommandLineOption rowsOption("rows", "Grid rows of views, 1 to 1024 (default 5).", "N",
                                        "5");
    const QCommandLineOption widthOption(
        "width", "Pixels per view row, 1 to 8192 (default: the largest that fits, at most 512).",
        "W");
    const QCommandLineOption heightOption(
        "height", "Pixel rows per view, 1 to 8192 (default: the largest that fits, at most 512).",
        "H");
    const QCommandLineOption stepOption(
        "step",
        "Pixels the crop moves per view step, the disparity of every pixel, 0 to 1024 (default 8).",
        "STEP", "8");
    const QCommandLineOption spacingOption("view-spacing",
                                           "Window pixels of drag between neighbouring views, for "
                                           "the header, 1 to 100000 (default 20).",
                                           "S", "20");
    const QCommandLineOption noDisparityOption("no-disparity", "Store no disparity maps.");
    parser.addOptions({help, columnsOption, rowsOption, widthOption, heightOption, stepOption,
                       spacingOption, noDisparityOption});
    parser.addPositionalArgument("IMAGE", "The photograph to read.");
    parser.addPositionalArgument("OUTPUT", "The .lf2d file to write.", "OUTPUT.lf2d");

    if (!parser.parse(QStringList {"lf2d photo"} + arguments))
        throw UsageError {parser.errorText()};
    if (parser.isSet(help)) {
        printHelp(parser, "Usage: lf2d photo [options] IMAGE OUTPUT.lf2d");
        return 0;
    }

    photo::PhotoOptions options;
    options.columns = parseInt(parser, columnsOption, 1, maxGridSide);
    options.rows = parseInt(parser, rowsOption, 1, maxGridSide);
    if (parser.isSet(widthOption))
        options.width = parseInt(parser, widthOption, 1, maxViewSide);
    if (parser.isSet(heightOption))
        options.height = parseInt(parser, heightOption, 1, maxViewSide);
    options.step = parseInt(parser, stepOption, 0, maxStep);
    options.viewSpacing = parseInt(parser, spacingOption, 1, maxViewSpacing);
    options.disparity = !parser.isSet(noDisparityOption);

    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2) {
        throw UsageError {QString("expected IMAGE and OUTPUT.lf2d, found %1 argument(s)%2")
                              .arg(positional.size())
                              .arg(positional.isEmpty() ? "" : ": " + positional.join(' '))};
    }
    const QString image = positional.at(0);
    const QString output = positional.at(1);
    const photo::PhotoSummary summary =
        photo::writePhotoLightfield(image.toStdString(), output.toStdString(), options);
    const photo::PhotoPlan &plan = summary.plan;
    const bool shrunk =
        plan.scaledWidth != summary.photoWidth || plan.scaledHeight != summary.photoHeight;
    print(stdout,
          QString("Wrote %1: %2 x %3 views of %4 x %5 pixels, %6%7, from %8 (%9 x %10%11)\n")
              .arg(output)
              .arg(options.columns)
              .arg(options.rows)
              .arg(plan.viewWidth)
              .arg(plan.viewHeight)
              .arg(summary.hdr ? "RGBE" : "8-bit")
              .arg(options.disparity ? QString(", disparity %1").arg(options.step) : QString())
              .arg(image)
              .arg(summary.photoWidth)
              .arg(summary.photoHeight)
              .arg(shrunk
                       ? QString(", shrunk to %1 x %2").arg(plan.scaledWidth).arg(plan.scaledHeight)
                       : QString()));
    return 0;
}

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

int runImport(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(importDescription);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    const QCommandLineOption gridOption(
        "grid", "The folder's grid, views per row x rows (default: counted from the files).",
        "COLUMNSxROWS");
    const QCommandLineOption flipRowsOption(
        "flip-rows", "The folder's first row of views is the bottom row of viewpoints.");
    const QCommandLineOption flipColumnsOption(
        "flip-columns", "The folder's first column of views is the rightmost column.");
    const QCommandLineOption disparityOption(
        "disparity", "Per-view disparity maps (PFM, OpenEXR, ...), numbered as the views.",
        "PATTERN");
    const QCommandLineOption referenceOption(
        "reference-disparity", "One view's disparity map, propagated to every view.", "FILE");
    const QCommandLineOption referenceViewOption(
        "reference-view",
        "The view the reference map belongs to, as column,row of the grid after flipping "
        "(default: the centre view).",
        "C,R");
    const QCommandLineOption negateOption(
        "negate-disparity", "The maps give nearer points smaller values: use their negatives.");
    const QCommandLineOption everyOption(
        "every", "Keep every N-th view along both axes; disparities scale with N (default 1).", "N",
        "1");
    const QCommandLineOption cropOption(
        "crop", "Keep this rectangle of every view, in its pixels: left,top,width,height.",
        "X,Y,W,H");
    const QCommandLineOption scaleOption(
        "scale",
        "Shrink the views by this factor, above 0 and at most 1; disparities scale "
        "with it (default 1).",
        "F", "1");
    const QCommandLineOption spacingOption("view-spacing",
                                           "Window pixels of drag between neighbouring views, for "
                                           "the header, 1 to 100000 (default 20).",
                                           "S", "20");
    const QCommandLineOption maxDisparityOption(
        "max-disparity",
        "The header's disparity bound, at least the largest disparity stored (default: that, "
        "rounded up).",
        "D");
    const QCommandLineOption estimateOption(
        "estimate", "Estimate every view's disparity from the views themselves.");
    const QCommandLineOption rangeOption(
        "disparity-range",
        "The disparities --estimate searches, in pixels per view step of the light field written "
        "(default -4,16); a narrower range is faster and safer.",
        "MIN,MAX", "-4,16");
    parser.addOptions({help, gridOption, flipRowsOption, flipColumnsOption, disparityOption,
                       referenceOption, referenceViewOption, negateOption, everyOption, cropOption,
                       scaleOption, spacingOption, maxDisparityOption, estimateOption,
                       rangeOption});
    parser.addPositionalArgument("PATTERN", "The views' file names, with placeholders.");
    parser.addPositionalArgument("OUTPUT", "The .lf2d file to write.", "OUTPUT.lf2d");

    if (!parser.parse(QStringList {"lf2d import"} + arguments))
        throw UsageError {parser.errorText()};
    if (parser.isSet(help)) {
        printHelp(parser, "Usage: lf2d import [options] PATTERN OUTPUT.lf2d");
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2) {
        throw UsageError {QString("expected PATTERN and OUTPUT.lf2d, found %1 argument(s)%2")
                              .arg(positional.size())
                              .arg(positional.isEmpty() ? "" : ": " + positional.join(' '))};
    }

    folder::ImportOptions options;
    options.views = positional.at(0).toStdString();
    try {
        folder::NamePattern check(options.views);
        if (parser.isSet(disparityOption))
            folder::NamePattern maps(parser.value(disparityOption).toStdString());
    } catch (const std::invalid_argument &error) {
        throw UsageError {error.what()};
    }
    if (parser.isSet(gridOption)) {
        const std::vector<int> grid =
            parseIntegers("grid", parser.value(gridOption).toLower(), 'x', 2, "COLUMNSxROWS");
        if (grid[0] < 1 || grid[1] < 1 || grid[0] > maxGridSide || grid[1] > maxGridSide)
            throw UsageError {QString("--grid: 1 to %1 views along each side").arg(maxGridSide)};
        options.columns = grid[0];
        options.rows = grid[1];
    }
    options.flipRows = parser.isSet(flipRowsOption);
    options.flipColumns = parser.isSet(flipColumnsOption);
    options.disparities = parser.value(disparityOption).toStdString();
    options.referenceDisparity = parser.value(referenceOption).toStdString();
    if (!options.disparities.empty() && !options.referenceDisparity.empty())
        throw UsageError {"give --disparity or --reference-disparity, not both"};
    if (parser.isSet(referenceViewOption)) {
        if (options.referenceDisparity.empty())
            throw UsageError {"--reference-view needs --reference-disparity"};
        const std::vector<int> view = parseIntegers(
            "reference-view", parser.value(referenceViewOption), ',', 2, "COLUMN,ROW");
        options.referenceColumn = view[0];
        options.referenceRow = view[1];
    }
    options.negateDisparity = parser.isSet(negateOption);
    options.estimate = parser.isSet(estimateOption);
    if (options.estimate && (!options.disparities.empty() || !options.referenceDisparity.empty()))
        throw UsageError {"give --estimate or disparity maps, not both"};
    {
        const QStringList range = parser.value(rangeOption).split(',');
        bool lowOk = false;
        bool highOk = false;
        if (range.size() == 2) {
            options.estimateLowest = range[0].trimmed().toFloat(&lowOk);
            options.estimateHighest = range[1].trimmed().toFloat(&highOk);
        }
        if (!lowOk || !highOk || !(options.estimateLowest < options.estimateHighest)
            || options.estimateLowest < -maxViewSide || options.estimateHighest > maxViewSide)
            throw UsageError {"--disparity-range: expected MIN,MAX with MIN below MAX"};
    }
    options.every = parseInt(parser, everyOption, 1, maxGridSide);
    if (parser.isSet(cropOption)) {
        const std::vector<int> crop =
            parseIntegers("crop", parser.value(cropOption), ',', 4, "X,Y,W,H");
        if (crop[2] < 1 || crop[3] < 1)
            throw UsageError {"--crop: the width and height must be at least 1"};
        options.crop = {crop[0], crop[1], crop[2], crop[3]};
    }
    bool scaleOk = false;
    options.scale = parser.value(scaleOption).toDouble(&scaleOk);
    if (!scaleOk || !(options.scale > 0.0 && options.scale <= 1.0))
        throw UsageError {"--scale must be a number above 0 and at most 1"};
    options.viewSpacing = parseInt(parser, spacingOption, 1, maxViewSpacing);
    if (parser.isSet(maxDisparityOption))
        options.maxDisparity = parseInt(parser, maxDisparityOption, 0, maxViewSide);

    const QString output = positional.at(1);
    int lastTenth = -1;
    QString lastStage;
    const folder::ImportSummary summary = folder::importLightfield(
        options, output.toStdString(),
        [&lastTenth, &lastStage](const char *stage, int done, int count) {
            const int tenth = done * 10 / count;
            if (tenth != lastTenth || lastStage != stage) {
                lastTenth = tenth;
                lastStage = stage;
                print(stderr,
                      QString("lf2d import: %1 of %2 views %3\n").arg(done).arg(count).arg(stage));
            }
        });
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
    if (summary.refocusOffset > 0) {
        text += QString("  refocused: the folder's disparities reach below 0, so every view is "
                        "shifted by %1 pixels per view step, which adds %1 to every disparity "
                        "(subtract it to compare with the folder's maps)\n")
                    .arg(summary.refocusOffset);
    }
    print(stdout, text);
    return 0;
}

int runExport(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(exportDescription);
    const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    parser.addOption(help);
    parser.addPositionalArgument("FILE", "The .lf2d light field to read.", "FILE.lf2d");
    parser.addPositionalArgument("DIR", "The folder to write the images into.");
    if (!parser.parse(QStringList {"lf2d export"} + arguments))
        throw UsageError {parser.errorText()};
    if (parser.isSet(help)) {
        printHelp(parser, "Usage: lf2d export FILE.lf2d DIR");
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2)
        throw UsageError {"expected FILE.lf2d and DIR"};
    const folder::ExportSummary summary =
        folder::exportLightfield(positional.at(0).toStdString(), positional.at(1).toStdString());
    QString text = QString("Wrote %1 views into %2\n  views: %3\n")
                       .arg(summary.viewCount)
                       .arg(positional.at(1))
                       .arg(QString::fromStdString(summary.views));
    if (!summary.disparities.empty())
        text += "  disparity maps: " + QString::fromStdString(summary.disparities) + "\n";
    print(stdout, text);
    return 0;
}

int runInfo(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(infoDescription);
    const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    parser.addOption(help);
    parser.addPositionalArgument("FILE", "The .lf2d light field to check.", "FILE.lf2d");
    if (!parser.parse(QStringList {"lf2d info"} + arguments))
        throw UsageError {parser.errorText()};
    if (parser.isSet(help)) {
        printHelp(parser, "Usage: lf2d info FILE.lf2d");
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        throw UsageError {"expected one FILE.lf2d"};
    const info::LightfieldInfo found = info::inspectLightfield(positional.at(0).toStdString());
    print(stdout, QString::fromStdString(info::describe(found)));
    return found.valid ? 0 : exitFailure;
}

} // namespace

int main(int argc, char **argv)
{
    // Only render draws; it makes the application object drawing needs once its arguments and
    // file are checked, so that those need no display.
    if (argc > 1 && qstrcmp(argv[1], "render") == 0)
        return runRender(argc, argv);
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName("lf2d");
    const QStringList arguments = QCoreApplication::arguments();

    if (arguments.size() < 2) {
        print(stderr, generalUsage);
        return exitUsage;
    }
    const QString command = arguments.at(1);
    if (command == "-h" || command == "--help" || command == "help") {
        print(stdout, generalUsage);
        return 0;
    }
    const std::map<QString, std::function<int(const QStringList &)>> commands {
        {"synth", runSynth},
        {"photo", runPhoto},
        {"import", runImport},
        {"export", runExport},
        {"info", runInfo}};
    const auto found = commands.find(command);
    if (found == commands.end()) {
        print(stderr, "lf2d: unknown command '" + command + "'\n\n" + generalUsage);
        return exitUsage;
    }

    const QString prefix = "lf2d " + command + ": ";
    try {
        return found->second(arguments.mid(2));
    } catch (const UsageError &error) {
        print(stderr,
              prefix + error.message + "\nRun 'lf2d " + command + " --help' for the options.\n");
        return exitUsage;
    } catch (const std::exception &error) {
        print(stderr, prefix + error.what() + "\n");
        return exitFailure;
    }
}
