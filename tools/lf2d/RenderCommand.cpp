#include "CommandLine.h"
#include "Commands.h"

#include "deliverables/BuildConfiguration.h"
#include "lightfield/LightfieldCamera.h"
#include "lightfield/LightfieldReader.h"
#include "postprocessing/PlaneStages.h"
#include "postprocessing/PostProcessor.h"
#include "viewer/LightfieldRenderer.h"
#include "viewer/gpu/GpuPass.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLoggingCategory>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPointF>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

namespace {

// The largest view side lf2d writes; an output beyond it is most likely a typing mistake.
constexpr int maxOutputSide = 8192;
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
    "Every frame shows the picture the program settles on at its position: viewer-reinhard05,\n"
    "which adapts to a new position over 150 ms in a window, is shown adapted.\n"
    "\n"
    "--edge-samples N samples the pixels on outlines over their area, N x N points each, where\n"
    "the programs take their centre alone: outlines then mix both sides in a pixel, as the\n"
    "stored views do, and in-between views come closer to what a camera there would take, at\n"
    "several times the cost of a frame on a software renderer. Stored views stay exact.\n"
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
using commandline::print;
using commandline::UsageError;

enum class Path
{
    None,
    Sweep,
    Circle,
};

struct RenderRequest
{
    QString file;
    QString output;
    const BuildConfiguration *configuration = nullptr;
    std::optional<QPointF> position; // none: where the viewer's camera starts
    QSize size; // empty: the view's size
    Path path = Path::None;
    int frames = 1;
    int edgeSamples = 1;
};

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

// Parses everything that does not need the file; returns nothing when help was asked for.
std::optional<RenderRequest> parseArguments(const QStringList &arguments)
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
        "path", "Write --frames pictures along a camera path: sweep or circle (see above).",
        "sweep|circle");
    const QCommandLineOption framesOption(
        "frames",
        QString("Pictures along --path, 1 to %1 (default %2).").arg(maxFrames).arg(defaultFrames),
        "N", QString::number(defaultFrames));
    const QCommandLineOption edgeSamplesOption(
        "edge-samples",
        "Sample pixels on outlines N x N over their area, 1 to 4 (default 1: their centre, as "
        "the programs do; see above).",
        "N", "1");
    parser.addOptions({configOption, positionOption, sizeOption, outputOption, pathOption,
                       framesOption, edgeSamplesOption});
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
        else
            throw UsageError {"--path must be sweep or circle, not '" + path + "'"};
        if (request.position)
            throw UsageError {"--position and --path exclude each other: a path sets the position"};
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
    return request;
}

// The grid is all the light field covers; a position beyond it is most likely a mistake, such as
// swapped coordinates.
void requireWithinGrid(QPointF position, const LightfieldReader &reader)
{
    const int lastColumn = reader.columns() - 1;
    const int lastRow = reader.rows() - 1;
    if (position.x() < 0 || position.x() > lastColumn || position.y() < 0
        || position.y() > lastRow) {
        throw UsageError {QString("--position %1,%2 lies outside the grid of \"%3\": X must be in "
                                  "[0, %4] and Y in [0, %5]")
                              .arg(position.x())
                              .arg(position.y())
                              .arg(QString::fromStdString(reader.fileName()))
                              .arg(lastColumn)
                              .arg(lastRow)};
    }
}

std::vector<QPointF> pathPositions(Path path, int frames, const LightfieldReader &reader)
{
    const double lastColumn = reader.columns() - 1;
    const double lastRow = reader.rows() - 1;
    const QPointF centre(lastColumn / 2.0, lastRow / 2.0);
    const double pi = std::acos(-1.0);
    std::vector<QPointF> positions;
    for (int frame = 0; frame < frames; ++frame) {
        QPointF position;
        if (path == Path::Sweep) {
            const double t = frames > 1 ? double(frame) / double(frames - 1) : 0.0;
            position = QPointF(t * lastColumn, centre.y());
        } else {
            const double radius = std::min(lastColumn, lastRow) / 2.0;
            const double angle = 2.0 * pi * double(frame) / double(frames);
            position = centre + radius * QPointF(std::cos(angle), std::sin(angle));
        }
        // Rounding must not carry an edge position a hair outside the grid.
        positions.emplace_back(std::clamp(position.x(), 0.0, lastColumn),
                               std::clamp(position.y(), 0.0, lastRow));
    }
    return positions;
}

QString frameFileName(const QString &output, int frame, int frames)
{
    const QString base = output.chopped(4); // without ".png"
    const int digits = std::max(4, int(QString::number(frames - 1).size()));
    return base + QString("_%1.png").arg(frame, digits, 10, QLatin1Char('0'));
}

// Writing is checked before the light field is loaded, which may take long.
void requireWritableDirectory(const QString &output)
{
    const QFileInfo info(output);
    const QFileInfo directory(info.absolutePath());
    if (!directory.isDir()) {
        throw std::runtime_error("Cannot write \"" + output.toStdString() + "\": the directory \""
                                 + QDir::toNativeSeparators(info.absolutePath()).toStdString()
                                 + "\" does not exist");
    }
}

// The application object a GL context needs, on the platform a program's window would use, so
// that the picture comes from the same driver. Qt ends the process when that platform cannot
// start, as when the X server in DISPLAY cannot be reached; its offscreen platform stands in
// then, which finds no OpenGL either and lets the context's failure be reported.
std::unique_ptr<QGuiApplication> makeGuiApplication(int &argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        if (qEnvironmentVariableIsSet("DISPLAY"))
            qputenv("QT_QPA_PLATFORM", "xcb;offscreen");
        else if (!qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
            throw std::runtime_error("No display to draw with: lf2d render needs OpenGL from an X "
                                     "server, and DISPLAY is not set; on a machine without one, "
                                     "run it under xvfb-run -a");
    }
    // The camera logs a line per frame, meant for a developer watching the viewer.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    // Set before the application object exists, as the programs do.
    QSurfaceFormat::setDefaultFormat(viewerSurfaceFormat());
    return std::make_unique<QGuiApplication>(argc, argv);
}

// A current context of the programs' kind on a surface no one sees, and a framebuffer of the
// output size standing in for the window.
class OffscreenContext
{
public:
    OffscreenContext()
    {
        const QSurfaceFormat format = viewerSurfaceFormat();
        m_surface.setFormat(format);
        m_surface.create();
        m_context.setFormat(format);
        if (!m_surface.isValid() || !m_context.create() || !m_context.makeCurrent(&m_surface)) {
            const QString platform = QGuiApplication::platformName();
            const QString display = qEnvironmentVariable("DISPLAY");
            throw std::runtime_error(
                "No OpenGL context could be made on Qt's '" + platform.toStdString()
                + "' platform ("
                + (display.isEmpty() ? "DISPLAY is not set" : "DISPLAY=" + display.toStdString())
                + "): the display cannot be reached or offers no OpenGL; lf2d render needs "
                  "OpenGL 3.3 or later, on a machine without a display under xvfb-run -a");
        }
    }
    ~OffscreenContext()
    {
        // GL objects made in the context are released by their owners first, while it is current.
        m_context.doneCurrent();
    }
    OffscreenContext(const OffscreenContext &) = delete;
    OffscreenContext &operator=(const OffscreenContext &) = delete;

private:
    QOffscreenSurface m_surface;
    QOpenGLContext m_context;
};

// What the window shows, upright and opaque as a screenshot of it: the window has no alpha.
QImage readPicture(OffscreenTarget &target, QSize size)
{
    const std::vector<std::uint8_t> bytes =
        readTextureBytes(target.texture(), size.width(), size.height());
    const QImage bottomUp(bytes.data(), size.width(), size.height(), size.width() * 4,
                          QImage::Format_RGBX8888);
    return bottomUp.mirrored().convertToFormat(QImage::Format_RGB32);
}

QString describePosition(const std::optional<QPointF> &position)
{
    if (!position)
        return QStringLiteral("the viewer's starting position");
    return QString("X = %1, Y = %2").arg(position->x()).arg(position->y());
}

int render(const RenderRequest &request, int &argc, char **argv)
{
    const QString firstOutput =
        request.path == Path::None ? request.output : frameFileName(request.output, 0, 1);
    requireWritableDirectory(firstOutput);

    // The reader checks the file without OpenGL, so a bad one is refused before a display is
    // looked for.
    LightfieldReader reader(QUrl::fromLocalFile(request.file));
    std::vector<std::optional<QPointF>> positions;
    if (request.path == Path::None) {
        if (request.position)
            requireWithinGrid(*request.position, reader);
        positions.push_back(request.position);
    } else {
        for (const QPointF &position : pathPositions(request.path, request.frames, reader))
            positions.emplace_back(position);
    }
    const QSize size =
        request.size.isEmpty() ? QSize(reader.width(), reader.height()) : request.size;

    // The program of that name, as its entry point sets it up.
    setActiveBuildConfiguration(*request.configuration);
    const std::unique_ptr<QGuiApplication> application = makeGuiApplication(argc, argv);
    OffscreenContext offscreen;
    prepareViewerContext();

    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<LightfieldPlane> plane = createLightfieldPlane(PipelineOptions(), &reader);
    requireNoGlError("loading the views of \"" + reader.fileName() + "\"");
    auto camera = std::make_unique<SimpleCamera>(PipelineOptions(), plane.get());
    camera->setEdgeSamples(request.edgeSamples);
    const double planeMilliseconds = timer.nsecsElapsed() / 1e6;

    OffscreenTarget window(size.width(), size.height());
    window.bind();
    double frameMilliseconds = 0.0;
    for (std::size_t frame = 0; frame < positions.size(); ++frame) {
        const std::optional<QPointF> &position = positions[frame];
        timer.restart();
        // A post-processor of its own for every frame: the one that adapts over time starts
        // adapted to the frame's position.
        const std::unique_ptr<PostProcessor> postProcessor =
            createPostProcessor(PipelineOptions(), reader.isHdr());
        if (position) {
            showCameraView(camera->renderAt(float(position->x()), float(position->y()),
                                            size.width(), size.height()),
                           *postProcessor);
        } else {
            // The very call of the viewer's window; the camera ignores the window's place.
            renderPipelineFrame(*camera, *postProcessor, QPoint(0, 0), size.width(), size.height());
        }
        const QImage picture = readPicture(window, size);
        frameMilliseconds += timer.nsecsElapsed() / 1e6;
        requireNoGlError("drawing the view at " + describePosition(position).toStdString());

        const QString file = request.path == Path::None
            ? request.output
            : frameFileName(request.output, int(frame), int(positions.size()));
        if (!picture.save(file, "PNG"))
            throw std::runtime_error("Cannot write \"" + file.toStdString() + "\"");
        if (request.path == Path::None) {
            print(stdout,
                  QString("Wrote %1: %2 of %3 at %4, %5 x %6 pixels\n")
                      .arg(file, QString::fromStdString(request.configuration->name), request.file,
                           describePosition(position), QString::number(size.width()),
                           QString::number(size.height())));
        }
    }
    if (request.path != Path::None) {
        const int count = int(positions.size());
        print(stdout,
              QString("Wrote %1 ... %2: %3 frames of %4 of %5 along a %6, %7 x %8 pixels\n")
                  .arg(frameFileName(request.output, 0, count),
                       frameFileName(request.output, count - 1, count), QString::number(count),
                       QString::fromStdString(request.configuration->name), request.file,
                       request.path == Path::Sweep ? QStringLiteral("sweep")
                                                   : QStringLiteral("circle"),
                       QString::number(size.width()), QString::number(size.height())));
    }
    print(stdout,
          QString("Plane built in %1 ms, %2 ms per frame (drawn and read back)\n")
              .arg(planeMilliseconds, 0, 'f', 1)
              .arg(frameMilliseconds / double(positions.size()), 0, 'f', 1));

    // GL objects go while the context is still current.
    camera.reset();
    plane.reset();
    return 0;
}

} // namespace

int runRender(int &argc, char **argv)
{
    QStringList arguments;
    for (int i = 2; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return commandline::runCommand(QStringLiteral("render"), [&] {
        try {
            const std::optional<RenderRequest> request = parseArguments(arguments);
            return request ? render(*request, argc, argv) : 0;
        } catch (const std::string &message) {
            // The pipeline's configuration errors, the reader's among them, are written for the
            // user.
            throw std::runtime_error(message);
        } catch (const std::bad_alloc &) {
            throw std::runtime_error("not enough memory to show the light field");
        }
    });
}
