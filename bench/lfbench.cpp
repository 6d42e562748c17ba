// Benchmarks of the viewer's GPU work, run offscreen on the current display's OpenGL driver.
//
//   lfbench warp      quality of view synthesis against exact views, and its cost per frame
//   lfbench pipeline  the whole per-frame pipeline of any build on any .lf2d file
//
// Figures are printed, never judged: speed depends on the machine.

#include "Lf2dWriter.h"
#include "SyntheticScene.h"
#include "deliverables/BuildConfiguration.h"
#include "lightfield/LightfieldCamera.h"
#include "lightfield/LightfieldReader.h"
#include "postprocessing/PlaneStages.h"
#include "postprocessing/PostProcessor.h"
#include "support/GLTestContext.h"
#include "viewer/LightfieldRenderer.h"
#include "viewer/gpu/GpuPass.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QOpenGLShaderProgram>
#include <QTemporaryDir>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// PSNR of the RGB channels, 8-bit scale.
double psnr(const Bytes &a, const Bytes &b)
{
    double squares = 0.0;
    size_t count = 0;
    for (size_t i = 0; i < a.size(); i += 4) {
        for (int channel = 0; channel < 3; ++channel) {
            const double d = double(a[i + channel]) - double(b[i + channel]);
            squares += d * d;
            ++count;
        }
    }
    const double mse = squares / double(count);
    return mse > 0.0 ? 10.0 * std::log10(255.0 * 255.0 / mse) : 99.0;
}

int largestDifference(const Bytes &a, const Bytes &b)
{
    int largest = 0;
    for (size_t i = 0; i < a.size(); i += 4) {
        for (int channel = 0; channel < 3; ++channel)
            largest = std::max(largest, std::abs(int(a[i + channel]) - int(b[i + channel])));
    }
    return largest;
}

// The file's bytes of a view, bottom-up rows, as the GL holds them.
Bytes exactBytes(const synth::SyntheticScene &scene, double x, double y)
{
    return synth::toFileRgba8(scene.renderView(x, y));
}

// What a viewer without disparity would show between views: the four views blended.
Bytes bilinearBlend(const std::vector<std::vector<Bytes>> &stored, double x, double y)
{
    const int columns = int(stored.size());
    const int rows = int(stored[0].size());
    const int c0 = std::min(int(std::floor(x)), columns - 1);
    const int r0 = std::min(int(std::floor(y)), rows - 1);
    const int c1 = std::min(c0 + 1, columns - 1);
    const int r1 = std::min(r0 + 1, rows - 1);
    const double u = x - c0;
    const double v = y - r0;
    const Bytes &a = stored[c0][r0], &b = stored[c1][r0], &c = stored[c1][r1], &d = stored[c0][r1];
    Bytes blend(a.size());
    for (size_t i = 0; i < a.size(); ++i) {
        blend[i] = std::uint8_t(std::lround((1 - u) * (1 - v) * a[i] + u * (1 - v) * b[i]
                                            + u * v * c[i] + (1 - u) * v * d[i]));
    }
    return blend;
}

double residentMegabytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1.0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / 1048576.0
                             : -1.0;
}

// GL texture names alive, up to a bound well above what the viewer ever holds at once.
int liveTextures(QOpenGLFunctions_3_3_Core *gl)
{
    int live = 0;
    for (GLuint name = 1; name < 20000; ++name)
        live += gl->glIsTexture(name) == GL_TRUE;
    return live;
}

// One plain full-screen copy of a texture of width × height, the floor of any frame.
double copyMilliseconds(GLTestContext &offscreen, QOpenGLTexture *source, int width, int height,
                        int repeats)
{
    OffscreenTarget target(width, height);
    target.bind();
    offscreen.gl()->glEnable(GL_TEXTURE_2D);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < repeats; ++i)
        displayTexture(*source, width, height);
    const double milliseconds = timer.nsecsElapsed() / 1e6 / repeats;
    offscreen.gl()->glDisable(GL_TEXTURE_2D);
    return milliseconds;
}

std::unique_ptr<LightfieldPlane> loadPlane(const QString &path,
                                           std::unique_ptr<LightfieldReader> *reader,
                                           const BuildConfiguration &configuration,
                                           double *milliseconds)
{
    *reader = std::make_unique<LightfieldReader>(QUrl::fromLocalFile(path));
    QElapsedTimer timer;
    timer.start();
    auto plane = createLightfieldPlane(PipelineOptions(), reader->get(), configuration);
    *milliseconds = timer.nsecsElapsed() / 1e6;
    return plane;
}

int warpBenchmark(GLTestContext &offscreen, const QCommandLineParser &options)
{
    synth::SceneOptions sceneOptions;
    sceneOptions.columns = sceneOptions.rows = options.value(QStringLiteral("grid")).toInt();
    sceneOptions.width = sceneOptions.height = options.value(QStringLiteral("size")).toInt();
    const int positionCount = options.value(QStringLiteral("positions")).toInt();
    const synth::SyntheticScene scene(sceneOptions);

    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("scene.lf2d"));
    synth::writeLightfield(scene, path.toStdString());
    std::unique_ptr<LightfieldReader> reader;
    double buildMilliseconds = 0.0;
    auto plane = loadPlane(path, &reader, activeBuildConfiguration(), &buildMilliseconds);
    SimpleCamera camera(PipelineOptions(), plane.get());

    const int width = sceneOptions.width, height = sceneOptions.height;
    std::vector<std::vector<Bytes>> stored(size_t(sceneOptions.columns),
                                           std::vector<Bytes>(size_t(sceneOptions.rows)));
    for (int column = 0; column < sceneOptions.columns; ++column) {
        for (int row = 0; row < sceneOptions.rows; ++row)
            stored[column][row] = exactBytes(scene, column, row);
    }
    auto synthesise = [&](double x, double y) {
        const QuadCorners corners = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
        auto view = camera.renderView(width, height, corners, float(x), float(y), true);
        return readTextureBytes(*view->getLayer(LdrRgb), width, height);
    };

    std::printf("View synthesis on a %dx%d grid of %dx%d views with disparity (plane built in "
                "%.0f ms)\n\n",
                sceneOptions.columns, sceneOptions.rows, width, height, buildMilliseconds);

    int gridWorst = 0;
    for (int column = 0; column < sceneOptions.columns; column += 2) {
        for (int row = 0; row < sceneOptions.rows; row += 2)
            gridWorst = std::max(gridWorst,
                                 largestDifference(synthesise(column, row), stored[column][row]));
    }
    std::printf("At grid positions: largest difference from the stored view %d/255\n\n", gridWorst);

    // Fractional positions spread over the grid (a Halton sequence), then every kind of cell
    // centre.
    auto halton = [](int index, int base) {
        double result = 0.0, fraction = 1.0;
        for (; index > 0; index /= base) {
            fraction /= base;
            result += fraction * (index % base);
        }
        return result;
    };
    const double spanX = sceneOptions.columns - 1, spanY = sceneOptions.rows - 1;
    std::printf("%-8s %-8s %10s %10s %10s\n", "x", "y", "warp dB", "nearest", "blend");
    double sums[3] = {}, minimum[3] = {99, 99, 99}, centreSum = 0.0;
    int centres = 0;
    for (int index = 1; index <= positionCount; ++index) {
        const bool centre = index > positionCount - std::min(positionCount / 4, 8);
        double x = halton(index, 2) * spanX;
        double y = halton(index, 3) * spanY;
        if (centre) {
            x = std::floor(x) + 0.5;
            y = std::floor(y) + 0.5;
        }
        const Bytes exact = exactBytes(scene, x, y);
        const double figures[3] = {psnr(synthesise(x, y), exact),
                                   psnr(stored[int(std::lround(x))][int(std::lround(y))], exact),
                                   psnr(bilinearBlend(stored, x, y), exact)};
        for (int k = 0; k < 3; ++k) {
            sums[k] += figures[k];
            minimum[k] = std::min(minimum[k], figures[k]);
        }
        if (centre) {
            centreSum += figures[0];
            ++centres;
        }
        std::printf("%-8.3f %-8.3f %10.2f %10.2f %10.2f%s\n", x, y, figures[0], figures[1],
                    figures[2], centre ? "  (cell centre)" : "");
    }
    std::printf("\nMean PSNR over %d fractional positions: warp %.2f dB, nearest view %.2f dB, "
                "bilinear blend %.2f dB\n",
                positionCount, sums[0] / positionCount, sums[1] / positionCount,
                sums[2] / positionCount);
    std::printf("Lowest: warp %.2f dB, nearest view %.2f dB, bilinear blend %.2f dB; warp at "
                "cell centres %.2f dB\n\n",
                minimum[0], minimum[1], minimum[2], centres ? centreSum / centres : 0.0);

    // Cost of a synthesised frame at the timing size.
    synth::SceneOptions timingOptions = sceneOptions;
    timingOptions.columns = timingOptions.rows = 3;
    timingOptions.width = timingOptions.height =
        options.value(QStringLiteral("timing-size")).toInt();
    const synth::SyntheticScene timingScene(timingOptions);
    const QString timingPath = directory.filePath(QStringLiteral("timing.lf2d"));
    synth::writeLightfield(timingScene, timingPath.toStdString());
    std::unique_ptr<LightfieldReader> timingReader;
    auto timingPlane =
        loadPlane(timingPath, &timingReader, activeBuildConfiguration(), &buildMilliseconds);
    SimpleCamera timingCamera(PipelineOptions(), timingPlane.get());
    const int size = timingOptions.width;
    const int frames = options.value(QStringLiteral("frames")).toInt();
    const QuadCorners corners = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
    timingCamera.renderView(size, size, corners, 0.5f, 0.5f, true); // warm-up
    QElapsedTimer timer;
    timer.start();
    for (int frame = 0; frame < frames; ++frame) {
        const float t = float(frame) / float(frames);
        timingCamera.renderView(size, size, corners, 0.1f + 1.8f * t, 1.7f - 1.4f * t, true);
    }
    const double warpMilliseconds = timer.nsecsElapsed() / 1e6 / frames;
    const double copy =
        copyMilliseconds(offscreen, timingPlane->layerAt(0, 0, LdrRgb), size, size, frames);
    std::printf("Frame cost at %dx%d: warp %.2f ms, plain textured-quad copy %.2f ms, ratio "
                "%.1f\n",
                size, size, warpMilliseconds, copy, warpMilliseconds / copy);
    return 0;
}

int pipelineBenchmark(GLTestContext &offscreen, const QCommandLineParser &options)
{
    const QStringList arguments = options.positionalArguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "lfbench pipeline: name a .lf2d file\n");
        return 2;
    }
    const QString name = options.value(QStringLiteral("config"));
    const BuildConfiguration *configuration = findBuildConfiguration(name.toStdString());
    if (!configuration) {
        std::fprintf(stderr, "lfbench: no build configuration is named %s\n", qPrintable(name));
        return 2;
    }
    const int frames = options.value(QStringLiteral("frames")).toInt();

    std::unique_ptr<LightfieldReader> reader;
    double buildMilliseconds = 0.0;
    auto plane = loadPlane(arguments[1], &reader, *configuration, &buildMilliseconds);
    auto camera = createCamera(PipelineOptions(), plane.get());
    auto postProcessor = createPostProcessor(PipelineOptions(), reader->isHdr(), *configuration);
    const int width = reader->width(), height = reader->height();
    OffscreenTarget window(width, height);
    offscreen.gl()->glEnable(GL_TEXTURE_2D);
    offscreen.gl()->glClearColor(1, 1, 1, 1);

    // The camera sweeps back and forth across the grid, as a dragging user would move it.
    const int span = std::max(1, (plane->columns() - 1) * plane->viewSpacing() - 2);
    int direction = 1;
    auto frame = [&](int index) {
        if (index % span == 0)
            direction = -direction;
        camera->mouseMoved(direction, (index / span) % 2 ? 1 : -1, 1);
        window.bind();
        renderPipelineFrame(*camera, *postProcessor, QPoint(0, 0), width, height);
    };
    for (int i = 0; i < 10; ++i)
        frame(i);

    const double residentBefore = residentMegabytes();
    const int texturesBefore = liveTextures(offscreen.gl());
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < frames; ++i)
        frame(i);
    const double frameMilliseconds = timer.nsecsElapsed() / 1e6 / frames;
    const double residentAfter = residentMegabytes();
    const int texturesAfter = liveTextures(offscreen.gl());
    offscreen.gl()->glDisable(GL_TEXTURE_2D);
    const double copy =
        copyMilliseconds(offscreen, plane->layerAt(0, 0, plane->supportedLayers()[0]), width,
                         height, std::min(frames, 200));

    std::printf("%s on %s: %dx%d views, %dx%d grid, %s%s\n", configuration->name.c_str(),
                qPrintable(arguments[1]), width, height, plane->columns(), plane->rows(),
                reader->isHdr() ? "RGBE" : "8-bit",
                reader->hasDisparity() ? " with disparity" : "");
    std::printf("plane build        %10.1f ms\n", buildMilliseconds);
    std::printf("frame              %10.3f ms (mean of %d frames while the camera moves)\n",
                frameMilliseconds, frames);
    std::printf("copy floor         %10.3f ms (one plain textured quad of %dx%d)\n", copy, width,
                height);
    std::printf("frame / floor      %10.1f\n", frameMilliseconds / copy);
    std::printf("resident memory    %10.1f MiB before, %.1f MiB after\n", residentBefore,
                residentAfter);
    std::printf("live GL textures   %10d before, %d after\n", texturesBefore, texturesAfter);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QSurfaceFormat::setDefaultFormat(viewerSurfaceFormat());
    QGuiApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Benchmarks of the light-field viewer's GPU work, run offscreen.\n\n"
        "lfbench warp: synthesises views of a synthetic layered light field at grid positions "
        "and at many fractional positions, and prints the PSNR of the synthesised view, of the "
        "nearest stored view and of a bilinear blend of the four surrounding views, each against "
        "the exact view; then the time of one synthesised frame next to one plain textured-quad "
        "copy of the same size.\n\n"
        "lfbench pipeline FILE: runs the whole per-frame pipeline of one build configuration on a "
        ".lf2d file while the camera moves, and prints the plane build time, the time per frame, "
        "the copy floor, and resident memory and live GL textures before and after the frames.\n\n"
        "Run from the directory that holds shaders/."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("warp or pipeline"));
    parser.addOptions({
        {QStringLiteral("size"), QStringLiteral("warp: view width and height (default 256)."),
         QStringLiteral("N"), QStringLiteral("256")},
        {QStringLiteral("grid"), QStringLiteral("warp: views per row and column (default 9)."),
         QStringLiteral("N"), QStringLiteral("9")},
        {QStringLiteral("positions"),
         QStringLiteral("warp: fractional positions measured (default 64)."), QStringLiteral("N"),
         QStringLiteral("64")},
        {QStringLiteral("timing-size"),
         QStringLiteral("warp: view size of the frame timing (default 512)."), QStringLiteral("N"),
         QStringLiteral("512")},
        {QStringLiteral("frames"),
         QStringLiteral("Frames timed (default 100; pipeline: use 10000 for the memory check)."),
         QStringLiteral("N"), QStringLiteral("100")},
        {QStringLiteral("config"),
         QStringLiteral("pipeline: build configuration, e.g. viewer-interp-reinhard05 (the "
                        "default)."),
         QStringLiteral("NAME"), QStringLiteral("viewer-interp-reinhard05")},
    });
    parser.process(application);
    const QStringList arguments = parser.positionalArguments();

    GLTestContext offscreen;
    QString whyNot;
    if (!offscreen.create(&whyNot, false)) {
        std::fprintf(stderr, "lfbench: %s\n", qPrintable(whyNot));
        return 1;
    }
    std::printf("OpenGL: %s, %s\n\n",
                reinterpret_cast<const char *>(offscreen.gl()->glGetString(GL_RENDERER)),
                reinterpret_cast<const char *>(offscreen.gl()->glGetString(GL_VERSION)));
    loadShaderPrograms();
    try {
        if (arguments.value(0) == QLatin1String("warp"))
            return warpBenchmark(offscreen, parser);
        if (arguments.value(0) == QLatin1String("pipeline"))
            return pipelineBenchmark(offscreen, parser);
    } catch (const std::string &message) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return 1;
    }
    parser.showHelp(2);
}
