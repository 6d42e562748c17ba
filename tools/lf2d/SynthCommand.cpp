#include "CommandLine.h"
#include "Commands.h"
#include "ImageFolder.h"
#include "Lf2dWriter.h"
#include "SyntheticScene.h"

#include <QImage>

#include <cmath>
#include <optional>
#include <stdexcept>
#include <vector>

namespace {

using commandline::CommandParser;
using commandline::print;
using commandline::UsageError;

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
    "--exact-refocus X,Y,F,R=FILE.png writes what a thin lens centred on camera position (X, Y)\n"
    "records, focused at disparity F with an aperture of radius R view steps: the mean, over\n"
    "camera positions p within R of (X, Y), of the exact view from p shifted by F * (p - (X, Y))\n"
    "pixels. A surface at disparity F stays where the view from (X, Y) shows it; one at\n"
    "disparity d spreads over a disc of radius |d - F| * R pixels, at most 48. The positions are\n"
    "dense enough that a blurred point's samples lie about half a pixel apart (a few thousand\n"
    "per pixel; the time grows with the square of the largest blur) and may lie beyond the grid:\n"
    "the scene is known everywhere. Near the border the lens sees the scene beyond the views'\n"
    "frame, where a viewer of the stored views has only its black border. 8-bit pictures\n"
    "average display colours, --hdr ones radiance, rounded to 8 bits once as for --exact-view.\n"
    "\n"
    "OUTPUT may be left out when --exact-view or --exact-refocus is given: then only the PNGs\n"
    "are written.\n"
    "Exit status: 0 on success, 2 for invalid arguments, 1 when a file cannot be written.";

// A picture of the scene: the view from camera (x, y), or with an aperture above 0 what a thin
// lens there records.
struct ExactView
{
    double x = 0;
    double y = 0;
    double focus = 0;
    double aperture = 0;
    bool refocused = false; // asked for with --exact-refocus
    QString file;
};

// What the command is asked to write.
struct SynthRequest
{
    synth::SceneOptions scene;
    std::optional<QString> output; // the light field's file
    std::optional<QString> exportDirectory; // where its views go as images
    std::vector<ExactView> exactViews;
};

// Parses NUMBERS=FILE.png for option --name, with the camera position first: `count` finite
// numbers separated by commas.
std::pair<std::vector<double>, QString>
parseNumbersAndFile(const QString &text, const QString &name, const QString &syntax, int count)
{
    const QString problem = "--" + name + " '" + text + "': ";
    const int equals = text.indexOf('=');
    if (equals < 0)
        throw UsageError {problem + "expected " + syntax};
    const QStringList fields = text.left(equals).split(',');
    const QString file = text.mid(equals + 1);
    if (fields.size() != count || file.isEmpty())
        throw UsageError {problem + "expected " + syntax};
    std::vector<double> numbers;
    for (const QString &field : fields) {
        bool ok = false;
        numbers.push_back(field.trimmed().toDouble(&ok));
        if (!ok || !std::isfinite(numbers.back()))
            throw UsageError {problem + "the values before '=' must be numbers, " + syntax};
    }
    return {numbers, file};
}

void requireWithinGrid(const ExactView &view, const QString &problem,
                       const synth::SceneOptions &options)
{
    // The grid is all the light field covers; a position beyond it is most likely a mistake, such
    // as swapped coordinates.
    if (view.x < 0 || view.x > options.columns - 1 || view.y < 0 || view.y > options.rows - 1) {
        throw UsageError {problem
                          + QString("the camera position must lie within the grid, X in [0, %1] "
                                    "and Y in [0, %2]")
                                .arg(options.columns - 1)
                                .arg(options.rows - 1)};
    }
}

ExactView parseExactView(const QString &text, const synth::SceneOptions &options)
{
    const auto [numbers, file] = parseNumbersAndFile(text, "exact-view", "X,Y=FILE.png", 2);
    ExactView view;
    view.x = numbers[0];
    view.y = numbers[1];
    view.file = file;
    requireWithinGrid(view, "--exact-view '" + text + "': ", options);
    return view;
}

ExactView parseExactRefocus(const QString &text, const synth::SceneOptions &options)
{
    const auto [numbers, file] = parseNumbersAndFile(text, "exact-refocus", "X,Y,F,R=FILE.png", 4);
    ExactView view;
    view.x = numbers[0];
    view.y = numbers[1];
    view.focus = numbers[2];
    view.aperture = numbers[3];
    view.refocused = true;
    view.file = file;
    const QString problem = "--exact-refocus '" + text + "': ";
    requireWithinGrid(view, problem, options);
    if (view.aperture < 0)
        throw UsageError {problem + "the aperture radius R must be at least 0"};
    const synth::SyntheticScene scene(options);
    const double blur = scene.refocusBlur(view.focus, view.aperture);
    if (blur > synth::maxRefocusBlur) {
        const auto [nearest, farthest] = scene.disparityRange();
        throw UsageError {problem
                          + QString("at focus %1 the scene's disparities, %2 to %3, would blur "
                                    "over up to %4 pixels; at most %5 are allowed")
                                .arg(view.focus)
                                .arg(nearest)
                                .arg(farthest)
                                .arg(blur)
                                .arg(synth::maxRefocusBlur)};
    }
    return view;
}

// Nothing when the help was asked for.
std::optional<SynthRequest> parseArguments(const QStringList &arguments)
{
    CommandParser parser("synth", "Usage: lf2d synth [options] [OUTPUT.lf2d]", synthDescription);
    const QCommandLineOption columnsOption = commandline::gridColumnsOption(9);
    const QCommandLineOption rowsOption = commandline::gridRowsOption(9);
    const QCommandLineOption widthOption = commandline::viewWidthOption("default 256", "256");
    const QCommandLineOption heightOption = commandline::viewHeightOption("default 256", "256");
    const QCommandLineOption spacingOption = commandline::viewSpacingOption();
    const QCommandLineOption hdrOption("hdr", "Store linear radiance as RGBE instead of 8-bit.");
    const QCommandLineOption noDisparityOption = commandline::noDisparityOption();
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
    const QCommandLineOption exactRefocusOption(
        "exact-refocus",
        "Also write the picture of a thin lens centred on camera position (X, Y), focused at "
        "disparity F (pixels per view step) with an aperture of radius R view steps, as an "
        "upright PNG; R = 0 gives the exact view. Repeatable.",
        "X,Y,F,R=FILE.png");
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
    parser.addOptions({columnsOption, rowsOption, widthOption, heightOption, spacingOption,
                       hdrOption, noDisparityOption, maxDisparityOption, exactViewOption,
                       exactRefocusOption, sceneOption, exportOption});
    parser.addPositionalArgument("OUTPUT", "The .lf2d file to write.", "[OUTPUT.lf2d]");
    if (!parser.parse(arguments))
        return std::nullopt;

    SynthRequest request;
    synth::SceneOptions &options = request.scene;
    options.columns = parser.integer(columnsOption, 1, commandline::maxGridSide);
    options.rows = parser.integer(rowsOption, 1, commandline::maxGridSide);
    options.width = parser.integer(widthOption, 1, commandline::maxViewSide);
    options.height = parser.integer(heightOption, 1, commandline::maxViewSide);
    options.viewSpacing = parser.integer(spacingOption, 1, commandline::maxViewSpacing);
    options.hdr = parser.isSet(hdrOption);
    options.disparity = !parser.isSet(noDisparityOption);
    const QString sceneName = parser.value(sceneOption);
    if (sceneName != "layers" && sceneName != "clutter")
        throw UsageError {"--scene must be layers or clutter, not '" + sceneName + "'"};
    options.scene = sceneName == "clutter" ? synth::SceneKind::Clutter : synth::SceneKind::Layers;
    options.maxDisparity =
        options.scene == synth::SceneKind::Clutter && !parser.isSet(maxDisparityOption)
        ? 24
        : parser.integer(maxDisparityOption, 3, 48);
    if (!QList<int> {3, 6, 12, 24, 48}.contains(options.maxDisparity))
        throw UsageError {"--max-disparity must be 3, 6, 12, 24 or 48"};

    for (const QString &text : parser.values(exactViewOption))
        request.exactViews.push_back(parseExactView(text, options));
    for (const QString &text : parser.values(exactRefocusOption))
        request.exactViews.push_back(parseExactRefocus(text, options));

    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1)
        throw UsageError {"only one OUTPUT file may be given, found " + positional.join(' ')};
    if (positional.isEmpty() && request.exactViews.empty())
        throw UsageError {"nothing to write: give OUTPUT.lf2d, --exact-view or --exact-refocus"};
    if (positional.isEmpty() && parser.isSet(exportOption))
        throw UsageError {"--export needs OUTPUT.lf2d"};
    if (!positional.isEmpty())
        request.output = positional.constFirst();
    if (parser.isSet(exportOption))
        request.exportDirectory = parser.value(exportOption);
    return request;
}

void writeLightfield(const synth::SyntheticScene &scene, const SynthRequest &request)
{
    const synth::SceneOptions &options = request.scene;
    const QString &output = *request.output;
    synth::writeLightfield(scene, output.toStdString());
    print(stdout,
          QString("Wrote %1: %2 x %3 views of %4 x %5 pixels, %6%7\n")
              .arg(output)
              .arg(options.columns)
              .arg(options.rows)
              .arg(options.width)
              .arg(options.height)
              .arg(options.hdr ? "RGBE" : "8-bit")
              .arg(options.disparity ? ", with disparity" : ""));
    if (!request.exportDirectory)
        return;
    const QString &directory = *request.exportDirectory;
    const folder::ExportSummary exported =
        folder::exportLightfield(output.toStdString(), directory.toStdString());
    print(stdout,
          QString("Wrote %1 views into %2: %3%4\n")
              .arg(exported.viewCount)
              .arg(directory)
              .arg(QString::fromStdString(exported.views))
              .arg(exported.disparities.empty()
                       ? QString()
                       : ", " + QString::fromStdString(exported.disparities)));
}

void writeExactView(const synth::SyntheticScene &scene, const ExactView &view)
{
    const synth::FloatImage image = view.refocused
        ? scene.renderRefocused(view.x, view.y, view.focus, view.aperture)
        : scene.renderView(view.x, view.y);
    const QImage picture = synth::toDisplayImage(image, scene.options().hdr);
    if (!picture.save(view.file, "PNG"))
        throw std::runtime_error("Cannot write exact view \"" + view.file.toStdString() + "\"");
    QString what = QString("exact view at X = %1, Y = %2").arg(view.x).arg(view.y);
    if (view.refocused) {
        what += QString(", focus %1, aperture %2 (%3 camera positions)")
                    .arg(view.focus)
                    .arg(view.aperture)
                    .arg(scene.refocusSampleCount(view.focus, view.aperture));
    }
    print(stdout, QString("Wrote %1: %2\n").arg(view.file, what));
}

} // namespace

int runSynth(const QStringList &arguments)
{
    const std::optional<SynthRequest> request = parseArguments(arguments);
    if (!request)
        return 0;
    const synth::SyntheticScene scene(request->scene);
    if (request->output)
        writeLightfield(scene, *request);
    for (const ExactView &view : request->exactViews)
        writeExactView(scene, view);
    return 0;
}
