#include "RenderArguments.h"
#include "CommandLine.h"

#include "deliverables/BuildConfiguration.h"

#include <cmath>

namespace rendercommand {
namespace {

// The largest view side lf2d writes; an output beyond it is most likely a typing mistake.
constexpr int maxOutputSide = commandline::maxViewSide;
constexpr int maxFrames = 100000;
constexpr int defaultFrames = 36;

const char usageLine[] = "Usage: lf2d render [options] FILE [OUTPUT.png]";

const char renderDescription[] =
    "Writes the picture one of the viewer programs shows of the light field FILE, as an upright\n"
    "PNG without alpha, without opening a window: the file is loaded, the camera's view is\n"
    "synthesised and post-processed by the programs' own pipeline in an offscreen OpenGL\n"
    "context.\n"
    "\n"
    "Camera positions are in view units of the grid, as the viewer's camera moves over it: X is\n"
    "the column, from 0 (left) to columns - 1; Y is the row, from 0 (top) to rows - 1; fractions\n"
    "lie between the stored views. The stored view at column c, row r is at X = c, Y = r. One\n"
    "view step is the file's viewSpacing pixels of drag in the viewer, whose camera starts one\n"
    "drag pixel right of and below the first view, at X = Y = 1 / viewSpacing; that is the\n"
    "default here too. Positions outside the grid are refused.\n"
    "\n"
    "The picture is the centred crop of the given size at one view pixel per output pixel, as a\n"
    "viewer window of that size shows it; beyond the view's edges it is black.\n"
    "\n"
    "--path writes --frames pictures along a path across the grid, named OUTPUT_0000.png,\n"
    "OUTPUT_0001.png, ... (OUTPUT without its .png), for a video or a contact sheet:\n"
    "  sweep   from the left edge to the right edge of the grid along its middle row,\n"
    "          Y = (rows - 1) / 2, evenly spaced, both edges included;\n"
    "  circle  the largest circle around the grid's centre that stays inside it, a full turn\n"
    "          clockwise from its rightmost point, evenly spaced (the last frame leads back to\n"
    "          the first).\n"
    "  focus-pull  at --position (or where the camera starts), the focus from 0 to the file's\n"
    "          maxDisparity, evenly spaced, both ends included; give --aperture.\n"
    "Every frame shows the picture the program settles on at its position: viewer-reinhard05,\n"
    "which adapts to a new position over 150 ms in a window, is shown adapted.\n"
    "\n"
    "--edge-samples N samples the pixels on outlines over their area, N x N points each, where\n"
    "the programs take their centre alone: outlines then mix both sides in a pixel, as the\n"
    "stored views do, and in-between views come closer to what a camera there would take, at\n"
    "several times the cost of a frame on a software renderer. Stored views stay exact.\n"
    "\n"
    "--focus F --aperture R show what a thin lens of radius R view steps centred on the camera\n"
    "position records, focused at disparity F (pixels per view step, 0 to the file's\n"
    "maxDisparity): a surface at disparity F stays sharp, one at disparity d is blurred over a\n"
    "disc of radius |d - F| * R pixels, as the viewer's mouse wheel and [ ] keys set them. R is\n"
    "0 (a pinhole, the default) to half the grid's smaller side in view steps.\n"
    "--disparity-view shows the disparity of what the pinhole picture shows instead, dark for\n"
    "far (0) to yellow for near (maxDisparity), as the viewer's key D does; it needs a light\n"
    "field with disparity maps.\n"
    "\n"
    "Programs (--config):\n%1\n"
    "All of them show 8-bit light fields identically; they differ on RGBE files.\n"
    "\n"
    "Display: opens no window, but needs OpenGL 3.3 or later with the compatibility profile, as\n"
    "the programs do, from the display they would use: the X server in DISPLAY (Xvfb with Mesa\n"
    "is enough), a Wayland compositor when only WAYLAND_DISPLAY is set, or the Qt platform that\n"
    "QT_QPA_PLATFORM names. On a machine without a display, run it under xvfb-run -a.\n"
    "\n"
    "Exit status: 0 on success, 2 for invalid arguments, 1 when the light field cannot be shown\n"
    "or a picture cannot be written.";

using commandline::CommandParser;
using commandline::UsageError;

QString configurationNames()
{
    QStringList names;
    for (const BuildConfiguration &configuration : buildConfigurations())
        names << QString::fromStdString(configuration.name);
    return names.join(QStringLiteral(", "));
}

QPointF parsePosition(const QString &text)
{
    const QString problem = "--position '" + text + "': ";
    const QStringList parts = text.split(',');
    if (parts.size() != 2)
        throw UsageError {problem + "expected X,Y"};
    bool xOk = false;
    bool yOk = false;
    const double x = parts[0].trimmed().toDouble(&xOk);
    const double y = parts[1].trimmed().toDouble(&yOk);
    if (!xOk || !yOk || !std::isfinite(x) || !std::isfinite(y))
        throw UsageError {problem + "the camera position must be two numbers"};
    return QPointF(x, y);
}

QSize parseSize(const QString &text)
{
    const QString problem = "--size '" + text + "': ";
    const QStringList parts = text.split(QLatin1Char('x'), Qt::KeepEmptyParts, Qt::CaseInsensitive);
    bool widthOk = false;
    bool heightOk = false;
    const int width = parts.size() == 2 ? parts[0].trimmed().toInt(&widthOk) : 0;
    const int height = parts.size() == 2 ? parts[1].trimmed().toInt(&heightOk) : 0;
    if (!widthOk || !heightOk)
        throw UsageError {problem + "expected WIDTHxHEIGHT, such as 640x480"};
    if (width < 1 || height < 1 || width > maxOutputSide || height > maxOutputSide) {
        throw UsageError {
            problem + QString("width and height must be between 1 and %1").arg(maxOutputSide)};
    }
    return QSize(width, height);
}

// A focus or an aperture: a number of at least 0. Its largest value depends on the file.
double parseLensValue(const QString &option, const QString &text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 0.0)
        throw UsageError {"--" + option + " '" + text + "': expected a number of at least 0"};
    return value;
}

// The programs' names for the help, as lines of at most 90 characters.
QString programList()
{
    QString programs = QStringLiteral("  ");
    int lineLength = 2;
    for (const BuildConfiguration &configuration : buildConfigurations()) {
        const QString name = QString::fromStdString(configuration.name);
        if (lineLength > 2 && lineLength + 1 + name.size() > 90) {
            programs += QStringLiteral("\n  ");
            lineLength = 2;
        } else if (lineLength > 2) {
            programs += QLatin1Char(' ');
            ++lineLength;
        }
        programs += name;
        lineLength += name.size();
    }
    return programs;
}

} // namespace

std::optional<RenderRequest> parseRenderArguments(const QStringList &arguments)
{
    CommandParser parser("render", usageLine, QString(renderDescription).arg(programList()));
    const QString defaultConfiguration = QString::fromStdString(buildConfigurations().front().name);
    const QCommandLineOption configOption(
        "config",
        "The program whose pipeline draws the picture, one of those listed above (default "
            + defaultConfiguration + ", the first).",
        "NAME", defaultConfiguration);
    const QCommandLineOption positionOption(
        "position",
        "Camera position: X the column, Y the row, fractions allowed (default: where the "
        "viewer's camera starts, 1 / viewSpacing for both).",
        "X,Y");
    const QCommandLineOption sizeOption(
        "size",
        "Output size in pixels, 1 to 8192 each (default: the view's size, as the viewer "
        "window opens).",
        "WxH");
    const QCommandLineOption outputOption("output", "The PNG file to write (or give OUTPUT).",
                                          "FILE.png");
    const QCommandLineOption pathOption(
        "path",
        "Write --frames pictures along a camera path, sweep or circle, or of a focus-pull (see "
        "above).",
        "sweep|circle|focus-pull");
    const QCommandLineOption framesOption(
        "frames",
        QString("Pictures along --path, 1 to %1 (default %2).").arg(maxFrames).arg(defaultFrames),
        "N", QString::number(defaultFrames));
    const QCommandLineOption edgeSamplesOption(
        "edge-samples",
        "Sample pixels on outlines N x N over their area, 1 to 4 (default 1: their centre, as "
        "the programs do; see above).",
        "N", "1");
    const QCommandLineOption focusOption(
        "focus", "The lens's focus, a disparity in pixels per view step (default 0; see above).",
        "F", "0");
    const QCommandLineOption apertureOption(
        "aperture", "The lens's radius in view steps (default 0: a pinhole; see above).", "R", "0");
    const QCommandLineOption disparityViewOption(
        "disparity-view", "Show the disparity of what the picture shows, colour-mapped.");
    parser.addOptions({configOption, positionOption, sizeOption, outputOption, pathOption,
                       framesOption, edgeSamplesOption, focusOption, apertureOption,
                       disparityViewOption});
    parser.addPositionalArgument("FILE", "The .lf2d light field to show.");
    parser.addPositionalArgument("OUTPUT", "The PNG file to write, unless --output is given.",
                                 "[OUTPUT.png]");

    if (!parser.parse(arguments))
        return std::nullopt;

    RenderRequest request;
    const QString name = parser.value(configOption);
    request.configuration = findBuildConfiguration(name.toStdString());
    if (!request.configuration) {
        throw UsageError {"--config: no program is named '" + name + "'; the programs are "
                          + configurationNames()};
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        throw UsageError {"no light field given: expected FILE"};
    if (positional.size() > 2) {
        throw UsageError {"expected FILE and at most one OUTPUT.png, found "
                          + positional.join(' ')};
    }
    request.file = positional.at(0);
    if (positional.size() == 2 && parser.isSet(outputOption))
        throw UsageError {"give the output either as OUTPUT or with --output, not both"};
    request.output = positional.size() == 2 ? positional.at(1) : parser.value(outputOption);
    if (request.output.isEmpty())
        throw UsageError {"nothing to write: give OUTPUT.png or --output FILE.png"};
    // Pictures are written as PNG whatever the name; another extension would misname them.
    if (!request.output.endsWith(QLatin1String(".png"), Qt::CaseInsensitive))
        throw UsageError {"the output '" + request.output + "' must be a .png file"};

    if (parser.isSet(positionOption))
        request.position = parsePosition(parser.value(positionOption));
    if (parser.isSet(sizeOption))
        request.size = parseSize(parser.value(sizeOption));

    if (parser.isSet(pathOption)) {
        const QString path = parser.value(pathOption);
        if (path == QLatin1String("sweep"))
            request.path = Path::Sweep;
        else if (path == QLatin1String("circle"))
            request.path = Path::Circle;
        else if (path == QLatin1String("focus-pull"))
            request.path = Path::FocusPull;
        else
            throw UsageError {"--path must be sweep, circle or focus-pull, not '" + path + "'"};
        if (request.position && request.path != Path::FocusPull)
            throw UsageError {"--position and --path exclude each other: a path sets the position"};
        if (request.path == Path::FocusPull && parser.isSet(focusOption))
            throw UsageError {"--focus and --path focus-pull exclude each other: the pull sets it"};
        bool ok = false;
        request.frames = parser.value(framesOption).toInt(&ok);
        if (!ok || request.frames < 1 || request.frames > maxFrames) {
            throw UsageError {QString("--frames must be a whole number from 1 to %1, not '%2'")
                                  .arg(maxFrames)
                                  .arg(parser.value(framesOption))};
        }
    } else if (parser.isSet(framesOption)) {
        throw UsageError {"--frames needs --path"};
    }
    bool ok = false;
    request.edgeSamples = parser.value(edgeSamplesOption).toInt(&ok);
    if (!ok || request.edgeSamples < 1 || request.edgeSamples > 4) {
        throw UsageError {"--edge-samples must be a whole number from 1 to 4, not '"
                          + parser.value(edgeSamplesOption) + "'"};
    }
    request.lens.focus =
        float(parseLensValue(focusOption.names().first(), parser.value(focusOption)));
    request.lens.aperture =
        float(parseLensValue(apertureOption.names().first(), parser.value(apertureOption)));
    request.disparityView = parser.isSet(disparityViewOption);
    if (request.disparityView && (!request.lens.isPinhole() || request.path == Path::FocusPull))
        throw UsageError {"--disparity-view shows the pinhole's disparity: no --aperture or "
                          "focus-pull with it"};
    return request;
}

} // namespace rendercommand
