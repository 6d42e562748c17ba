// lf2d: writes synthetic light fields whose views and disparities are known exactly, together
// with exact views at any camera position between the stored ones, and light fields cut from
// photographs.

#include "Lf2dWriter.h"
#include "PhotoLightfield.h"
#include "SyntheticScene.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cmath>
#include <cstdio>
#include <exception>

namespace {

// Usage mistakes and failures to write exit differently, both non-zero.
constexpr int exitUsage = 2;
constexpr int exitFailure = 1;

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

void print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

struct UsageError
{
    QString message;
};

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
    parser.addOptions({help, columnsOption, rowsOption, widthOption, heightOption, spacingOption,
                       hdrOption, noDisparityOption, maxDisparityOption, exactViewOption});
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
    options.maxDisparity = parseInt(parser, maxDisparityOption, 3, 48);
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

} // namespace

int main(int argc, char **argv)
{
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
    if (command != "synth" && command != "photo") {
        print(stderr, "lf2d: unknown command '" + command + "'\n\n" + generalUsage);
        return exitUsage;
    }

    const QString prefix = "lf2d " + command + ": ";
    try {
        return command == "synth" ? runSynth(arguments.mid(2)) : runPhoto(arguments.mid(2));
    } catch (const UsageError &error) {
        print(stderr,
              prefix + error.message + "\nRun 'lf2d " + command + " --help' for the options.\n");
        return exitUsage;
    } catch (const std::exception &error) {
        print(stderr, prefix + error.what() + "\n");
        return exitFailure;
    }
}
