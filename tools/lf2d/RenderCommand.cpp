#include "CommandLine.h"
#include "Commands.h"
#include "RenderArguments.h"

#include "deliverables/BuildConfiguration.h"
#include "lightfield/LightfieldCamera.h"
#include "lightfield/LightfieldReader.h"
#include "postprocessing/PostProcessor.h"
#include "viewer/LightfieldRenderer.h"
#include "viewer/Pipeline.h"
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

using commandline::print;
using commandline::UsageError;
using rendercommand::Path;
using rendercommand::RenderRequest;

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

// The lens within the range the viewer's controls give it, and the disparity view of a light
// field that has disparity.
void requireLensFits(const RenderRequest &request, const LightfieldReader &reader)
{
    const QString file = QString::fromStdString(reader.fileName());
    if (request.lens.focus > float(reader.maxDisparity())) {
        throw UsageError {QString("--focus %1 exceeds the largest disparity of \"%2\", %3")
                              .arg(double(request.lens.focus))
                              .arg(file)
                              .arg(reader.maxDisparity())};
    }
    const double widest = maxLensAperture(reader.columns(), reader.rows());
    if (double(request.lens.aperture) > widest) {
        throw UsageError {QString("--aperture %1 exceeds half the smaller side of the grid of "
                                  "\"%2\": at most %3")
                              .arg(double(request.lens.aperture))
                              .arg(file)
                              .arg(widest)};
    }
    if (request.disparityView && !reader.hasDisparity())
        throw UsageError {"--disparity-view: \"" + file + "\" has no disparity maps"};
}

// The lens of one frame: a focus pull takes the focus from 0 to the file's largest disparity.
ThinLens lensOfFrame(const RenderRequest &request, int frame, int frames,
                     const LightfieldReader &reader)
{
    ThinLens lens = request.lens;
    if (request.path == Path::FocusPull) {
        const double t = frames > 1 ? double(frame) / double(frames - 1) : 0.0;
        lens.focus = float(t * reader.maxDisparity());
    }
    return lens;
}

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
    requireLensFits(request, reader);
    std::vector<std::optional<QPointF>> positions;
    if (request.path == Path::None || request.path == Path::FocusPull) {
        if (request.position)
            requireWithinGrid(*request.position, reader);
        positions.assign(std::size_t(request.path == Path::None ? 1 : request.frames),
                         request.position);
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
    auto pipeline = std::make_unique<Pipeline>(reader, *request.configuration);
    // Only the viewer's camera samples outlines.
    if (auto *camera = dynamic_cast<SimpleCamera *>(&pipeline->camera()))
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
        if (frame > 0)
            pipeline->restartPostProcessor();
        LightfieldCamera &camera = pipeline->camera();
        camera.setLens(lensOfFrame(request, int(frame), int(positions.size()), reader));
        if (request.disparityView) {
            OwnedTexture disparity = position
                ? camera.renderDisparityAt(float(position->x()), float(position->y()), size.width(),
                                           size.height())
                : camera.renderDisparity(size.width(), size.height());
            displayTexture(*disparity, size.width(), size.height());
        } else if (position) {
            showCameraView(camera.renderAt(float(position->x()), float(position->y()), size.width(),
                                           size.height()),
                           pipeline->postProcessor());
        } else {
            // The very call of the viewer's window; the camera ignores the window's place.
            pipeline->renderFrame(QPoint(0, 0), size.width(), size.height());
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
        const QString path = request.path == Path::Sweep ? QStringLiteral("along a sweep")
            : request.path == Path::Circle               ? QStringLiteral("along a circle")
                                                         : QString("focused from 0 to %1 at %2")
                                                 .arg(reader.maxDisparity())
                                                 .arg(describePosition(request.position));
        print(stdout,
              QString("Wrote %1 ... %2: %3 frames of %4 of %5 %6, %7 x %8 pixels\n")
                  .arg(frameFileName(request.output, 0, count),
                       frameFileName(request.output, count - 1, count), QString::number(count),
                       QString::fromStdString(request.configuration->name), request.file, path,
                       QString::number(size.width()), QString::number(size.height())));
    }
    print(stdout,
          QString("Plane built in %1 ms, %2 ms per frame (drawn and read back)\n")
              .arg(planeMilliseconds, 0, 'f', 1)
              .arg(frameMilliseconds / double(positions.size()), 0, 'f', 1));

    // GL objects go while the context is still current.
    pipeline.reset();
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
            const std::optional<RenderRequest> request =
                rendercommand::parseRenderArguments(arguments);
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
