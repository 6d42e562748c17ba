// Benchmarks of the viewer's GPU work, run offscreen on the current display's OpenGL driver.
//
//   lfbench warp      quality of view synthesis against exact views, and its cost per frame
//   lfbench pipeline  the whole per-frame pipeline of any build on any .lf2d file
//   lfbench hdr       what tone-mapping RGBE light fields costs each build, at load and per frame
//   lfbench estimate  disparity estimated from the views against the exact disparity
//   lfbench idle      the CPU a viewer window takes without input and while dragged
//
// Figures are printed, never judged: speed depends on the machine.

#include "DisparityEstimation.h"
#include "Lf2dWriter.h"
#include "SyntheticScene.h"
#include "deliverables/BuildConfiguration.h"
#include "lightfield/LightfieldCamera.h"
#include "lightfield/LightfieldReader.h"
#include "postprocessing/PlaneStages.h"
#include "postprocessing/PostProcessor.h"
#include "support/GLTestContext.h"
#include "viewer/FatalError.h"
#include "viewer/LightfieldRenderer.h"
#include "viewer/gpu/GpuPass.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QRegularExpression>
#include <QSize>
#include <QTemporaryDir>
#include <QTimer>

#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
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

// A window of windowWidth × windowHeight that shows a view of viewWidth × viewHeight at one
// pixel per pixel, centred (an odd extra pixel on the right and at the top): its PSNR against
// the exact view where it shows the view.
double windowPsnr(const Bytes &window, int windowWidth, int windowHeight, const Bytes &exact,
                  int viewWidth, int viewHeight)
{
    const int left = int(std::floor((windowWidth - viewWidth) / 2.0));
    const int bottom = int(std::floor((windowHeight - viewHeight) / 2.0));
    Bytes shown, truth;
    for (int y = std::max(0, bottom); y < std::min(windowHeight, bottom + viewHeight); ++y) {
        for (int x = std::max(0, left); x < std::min(windowWidth, left + viewWidth); ++x) {
            const size_t w = (size_t(y) * windowWidth + x) * 4;
            const size_t v = (size_t(y - bottom) * viewWidth + (x - left)) * 4;
            shown.insert(shown.end(), window.begin() + w, window.begin() + w + 4);
            truth.insert(truth.end(), exact.begin() + v, exact.begin() + v + 4);
        }
    }
    return psnr(shown, truth);
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

// Memory in use through malloc and new, exact to the byte: resident memory moves in the steps in
// which the allocator takes and returns whole regions, a leak moves this.
double heapMegabytes()
{
    return double(mallinfo2().uordblks) / 1048576.0;
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

// GL texture names alive. A driver may hand out ever larger names as frames make and destroy
// textures (then every name below the next one is looked at), or the lowest free ones (then the
// live ones lie well below a generous bound).
int liveTextures(QOpenGLFunctions_3_3_Core *gl)
{
    GLuint next = 0;
    gl->glGenTextures(1, &next);
    gl->glDeleteTextures(1, &next);
    int live = 0;
    for (GLuint name = 1; name < std::max<GLuint>(next, 1u << 16); ++name)
        live += gl->glIsTexture(name) == GL_TRUE;
    return live;
}

// Timings wait for the GL: a driver may queue the commands and only run them at the next
// synchronisation, which would leave the work out of the time.
void finishGl()
{
    QOpenGLContext::currentContext()->functions()->glFinish();
}

// How the copies of the copy floor are timed.
enum class CopyTiming
{
    // Back to back, waited for once at the end: the figure the ratios have always been taken
    // against. A software driver overlaps the copies and may drop one that the next overwrites
    // whole, so it is well below what one copy costs a frame.
    Queued,
    // Each waited for, as a frame is by its buffer swap.
    Waited,
};

// One plain full-screen copy of a texture of width × height, the floor of any frame.
double copyMilliseconds(GLTestContext &offscreen, QOpenGLTexture *source, int width, int height,
                        int repeats, CopyTiming timing = CopyTiming::Queued)
{
    OffscreenTarget target(width, height);
    target.bind();
    offscreen.gl()->glEnable(GL_TEXTURE_2D);
    // The first draw of a kind compiles the driver's shader for it.
    displayTexture(*source, width, height);
    finishGl();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < repeats; ++i) {
        displayTexture(*source, width, height);
        if (timing == CopyTiming::Waited)
            finishGl();
    }
    finishGl();
    const double milliseconds = timer.nsecsElapsed() / 1e6 / repeats;
    offscreen.gl()->glDisable(GL_TEXTURE_2D);
    offscreen.gl()->glBindFramebuffer(GL_FRAMEBUFFER, 0);
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
    finishGl();
    *milliseconds = timer.nsecsElapsed() / 1e6;
    return plane;
}

// Reading every view of a file and uploading it, with nothing else done: the floor of any plane
// build of that file. The views are kept, as a plane keeps them: freeing each one before the next
// would let the driver put every view in the same warm memory, and leave out the cost of the
// memory that any plane must fill.
double readAndUploadMilliseconds(const QString &path)
{
    LightfieldReader reader(QUrl::fromLocalFile(path));
    std::vector<FeatureLayers> views;
    views.reserve(size_t(reader.rows() * reader.columns()));
    QElapsedTimer timer;
    timer.start();
    for (int view = 0; view < reader.rows() * reader.columns(); ++view)
        views.push_back(reader.nextView());
    finishGl();
    return timer.nsecsElapsed() / 1e6;
}

// One build configuration's pipeline on one file, built as the viewer builds it.
struct BenchPipeline
{
    std::unique_ptr<LightfieldReader> reader;
    std::unique_ptr<LightfieldPlane> plane;
    std::unique_ptr<LightfieldCamera> camera;
    std::unique_ptr<PostProcessor> postProcessor;
    double buildMilliseconds = 0.0; // of the plane
    int framesShown = 0; // how far the camera has moved, so that each run of frames goes on
};

BenchPipeline buildPipeline(const QString &path, const BuildConfiguration &configuration)
{
    BenchPipeline pipeline;
    pipeline.plane = loadPlane(path, &pipeline.reader, configuration, &pipeline.buildMilliseconds);
    pipeline.camera = createCamera(PipelineOptions(), pipeline.plane.get());
    pipeline.postProcessor =
        createPostProcessor(PipelineOptions(), pipeline.reader->isHdr(), configuration);
    return pipeline;
}

struct FrameFigures
{
    double milliseconds = 0.0; // mean per timed frame
    double residentBefore = 0.0; // MiB, before and after the timed frames
    double residentAfter = 0.0;
    double heapBefore = 0.0; // MiB the allocator has handed out and not had back
    double heapAfter = 0.0;
    int texturesBefore = 0; // live GL textures, before and after the timed frames
    int texturesAfter = 0;
};

// Frames of the pipeline in a window of width × height while the camera sweeps back and forth
// across the grid, one window pixel a frame, as a dragging user would move it. A few frames first
// let the driver compile and allocate what it defers to first use; they are few because a large
// window's frame can take seconds on a software driver.
FrameFigures timeFrames(GLTestContext &offscreen, BenchPipeline &pipeline, int width, int height,
                        int frames)
{
    // The stages' passes leave bound whatever framebuffer was bound before them, as the window's
    // is in the viewer; the target stands in for the window.
    OffscreenTarget window(width, height);
    window.bind();
    PostProcessor &postProcessor = *pipeline.postProcessor;
    const LightfieldPlane &plane = *pipeline.plane;
    // The camera starts at the grid's first column and the sweep reaches its last.
    const int span = std::max(1, (plane.columns() - 1) * plane.viewSpacing() - 2);
    auto frame = [&] {
        const bool back = (pipeline.framesShown++ / span) % 2 == 1;
        pipeline.camera->mouseMoved(back ? -1 : 1, back ? 1 : -1, 1);
        renderPipelineFrame(*pipeline.camera, postProcessor, QPoint(0, 0), width, height);
    };
    offscreen.gl()->glEnable(GL_TEXTURE_2D);
    for (int i = 0; i < 5; ++i)
        frame();
    finishGl();

    FrameFigures figures;
    figures.residentBefore = residentMegabytes();
    figures.heapBefore = heapMegabytes();
    figures.texturesBefore = liveTextures(offscreen.gl());
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < frames; ++i)
        frame();
    finishGl();
    figures.milliseconds = timer.nsecsElapsed() / 1e6 / frames;
    figures.residentAfter = residentMegabytes();
    figures.heapAfter = heapMegabytes();
    figures.texturesAfter = liveTextures(offscreen.gl());
    offscreen.gl()->glDisable(GL_TEXTURE_2D);
    offscreen.gl()->glBindFramebuffer(GL_FRAMEBUFFER, 0);
    // A frame that never reached the window would make every figure meaningless.
    const Bytes shown = readTextureBytes(window.texture(), width, height);
    if (std::all_of(shown.begin(), shown.end(), [](std::uint8_t byte) { return byte == 0; }))
        std::fprintf(stderr, "lfbench: the frames left the window empty; the figures are void\n");
    return figures;
}

// A texture of the plane to copy for the copy floor.
QOpenGLTexture *anyPlaneTexture(const LightfieldPlane &plane)
{
    return plane.layerAt(0, 0, plane.supportedLayers()[0]);
}

// How close views synthesised from the light field at path come to the scene's exact views.
struct WarpQuality
{
    double buildMilliseconds = 0.0;
    int gridWorst = 0; // largest difference from a stored view at its own position, of 255
    double mean[3] = {}; // PSNR of the warp, the nearest stored view and a bilinear blend
    double lowest[3] = {99, 99, 99};
    double centreMean = 0.0; // warp at cell centres
    // The warp in windows smaller and larger than the views, where they show the views.
    QSize windows[2];
    double windowMean[2] = {};
    double windowLowest[2] = {99, 99};
};

// Measures at positionCount fractional positions spread over the grid (a Halton sequence, the
// last ones moved to cell centres), printing a line per position when printRows is set, with the
// camera sampling outlines edgeSamples × edgeSamples.
WarpQuality measureWarpQuality(const synth::SyntheticScene &scene, const QString &path,
                               int positionCount, bool printRows, int edgeSamples = 1)
{
    const synth::SceneOptions &sceneOptions = scene.options();
    WarpQuality quality;
    std::unique_ptr<LightfieldReader> reader;
    auto plane = loadPlane(path, &reader, activeBuildConfiguration(), &quality.buildMilliseconds);
    SimpleCamera camera(PipelineOptions(), plane.get());
    camera.setEdgeSamples(edgeSamples);

    const int width = sceneOptions.width, height = sceneOptions.height;
    // Odd differences, the harder case for a crop at one pixel per pixel.
    quality.windows[0] = QSize(width - 2 * (width / 8) - 1, height - 2 * (height / 8) - 1);
    quality.windows[1] = QSize(width + 2 * (width / 8) + 1, height + 2 * (height / 8) + 1);
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

    for (int column = 0; column < sceneOptions.columns; column += 2) {
        for (int row = 0; row < sceneOptions.rows; row += 2)
            quality.gridWorst = std::max(
                quality.gridWorst, largestDifference(synthesise(column, row), stored[column][row]));
    }

    auto halton = [](int index, int base) {
        double result = 0.0, fraction = 1.0;
        for (; index > 0; index /= base) {
            fraction /= base;
            result += fraction * (index % base);
        }
        return result;
    };
    const double spanX = sceneOptions.columns - 1, spanY = sceneOptions.rows - 1;
    if (printRows)
        std::printf("%-8s %-8s %10s %10s %10s\n", "x", "y", "warp dB", "nearest", "blend");
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
        for (int k = 0; k < 2; ++k) {
            const QSize window = quality.windows[k];
            const double figure = windowPsnr(
                readTextureBytes(
                    *camera.renderAt(float(x), float(y), window.width(), window.height())
                         ->getLayer(LdrRgb),
                    window.width(), window.height()),
                window.width(), window.height(), exact, width, height);
            quality.windowMean[k] += figure / positionCount;
            quality.windowLowest[k] = std::min(quality.windowLowest[k], figure);
        }
        const double figures[3] = {psnr(synthesise(x, y), exact),
                                   psnr(stored[int(std::lround(x))][int(std::lround(y))], exact),
                                   psnr(bilinearBlend(stored, x, y), exact)};
        for (int k = 0; k < 3; ++k) {
            quality.mean[k] += figures[k] / positionCount;
            quality.lowest[k] = std::min(quality.lowest[k], figures[k]);
        }
        if (centre) {
            quality.centreMean += figures[0];
            ++centres;
        }
        if (printRows)
            std::printf("%-8.3f %-8.3f %10.2f %10.2f %10.2f%s\n", x, y, figures[0], figures[1],
                        figures[2], centre ? "  (cell centre)" : "");
    }
    if (centres > 0)
        quality.centreMean /= centres;
    return quality;
}

// The synthetic scene --scene, --grid and --size ask for (views of 256 x 256 by default).
synth::SceneOptions benchScene(const QCommandLineParser &options)
{
    synth::SceneOptions sceneOptions;
    if (options.value(QStringLiteral("scene")) == QLatin1String("clutter")) {
        sceneOptions.scene = synth::SceneKind::Clutter;
        sceneOptions.maxDisparity = 24;
    }
    sceneOptions.columns = sceneOptions.rows = options.value(QStringLiteral("grid")).toInt();
    sceneOptions.width = sceneOptions.height =
        options.isSet(QStringLiteral("size")) ? options.value(QStringLiteral("size")).toInt() : 256;
    return sceneOptions;
}

int warpBenchmark(GLTestContext &offscreen, const QCommandLineParser &options)
{
    const synth::SceneOptions sceneOptions = benchScene(options);
    const int positionCount = options.value(QStringLiteral("positions")).toInt();
    const synth::SyntheticScene scene(sceneOptions);

    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("scene.lf2d"));
    synth::writeLightfield(scene, path.toStdString());
    std::printf("View synthesis on a %dx%d grid of %dx%d views with disparity\n\n",
                sceneOptions.columns, sceneOptions.rows, sceneOptions.width, sceneOptions.height);
    const WarpQuality quality = measureWarpQuality(scene, path, positionCount, true);
    std::printf("\nPlane built in %.0f ms. At grid positions: largest difference from the stored "
                "view %d/255\n",
                quality.buildMilliseconds, quality.gridWorst);
    std::printf("Mean PSNR over %d fractional positions: warp %.2f dB, nearest view %.2f dB, "
                "bilinear blend %.2f dB\n",
                positionCount, quality.mean[0], quality.mean[1], quality.mean[2]);
    std::printf("Lowest: warp %.2f dB, nearest view %.2f dB, bilinear blend %.2f dB; warp at "
                "cell centres %.2f dB\n",
                quality.lowest[0], quality.lowest[1], quality.lowest[2], quality.centreMean);
    std::printf("Warp in windows of %dx%d and %dx%d, where they show the views: mean %.2f and "
                "%.2f dB, lowest %.2f and %.2f dB\n\n",
                quality.windows[0].width(), quality.windows[0].height(), quality.windows[1].width(),
                quality.windows[1].height(), quality.windowMean[0], quality.windowMean[1],
                quality.windowLowest[0], quality.windowLowest[1]);
    double buildMilliseconds = 0.0;

    // Cost of a synthesised frame at the timing size, on a 3 x 3 grid of the same scene with the
    // layers' disparities scaled to a bound of maxDisparity.
    const int size = options.value(QStringLiteral("timing-size")).toInt();
    const int frames = options.value(QStringLiteral("frames")).toInt();
    double copy = 0.0, waitedCopy = 0.0;
    auto timeWarp = [&](int maxDisparity, int edgeSamples = 1) {
        synth::SceneOptions timingOptions = sceneOptions;
        timingOptions.columns = timingOptions.rows = 3;
        timingOptions.width = timingOptions.height = size;
        timingOptions.maxDisparity = maxDisparity;
        const synth::SyntheticScene timingScene(timingOptions);
        const QString timingPath = directory.filePath(QStringLiteral("timing.lf2d"));
        synth::writeLightfield(timingScene, timingPath.toStdString());
        std::unique_ptr<LightfieldReader> timingReader;
        auto timingPlane =
            loadPlane(timingPath, &timingReader, activeBuildConfiguration(), &buildMilliseconds);
        SimpleCamera timingCamera(PipelineOptions(), timingPlane.get());
        timingCamera.setEdgeSamples(edgeSamples);
        const QuadCorners corners = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
        timingCamera.renderView(size, size, corners, 0.5f, 0.5f, true); // warm-up
        finishGl();
        QElapsedTimer timer;
        timer.start();
        for (int frame = 0; frame < frames; ++frame) {
            const float t = float(frame) / float(frames);
            timingCamera.renderView(size, size, corners, 0.1f + 1.8f * t, 1.7f - 1.4f * t, true);
        }
        finishGl();
        const double milliseconds = timer.nsecsElapsed() / 1e6 / frames;
        if (copy == 0.0) {
            QOpenGLTexture *view = timingPlane->layerAt(0, 0, LdrRgb);
            copy = copyMilliseconds(offscreen, view, size, size, frames);
            waitedCopy = copyMilliseconds(offscreen, view, size, size, frames, CopyTiming::Waited);
        }
        return milliseconds;
    };
    const double warpMilliseconds = timeWarp(sceneOptions.maxDisparity);
    std::printf("Frame cost at %dx%d: warp %.2f ms, plain textured-quad copy %.2f ms, ratio "
                "%.1f\n",
                size, size, warpMilliseconds, copy, warpMilliseconds / copy);
    std::printf("  the copy waited for, as a frame is: %.2f ms, ratio %.1f\n", waitedCopy,
                warpMilliseconds / waitedCopy);

    // How the search's cost grows with the disparity range: the same scene, its disparities
    // and bound halved and doubled.
    std::printf("\nWarp cost against the disparity bound at %dx%d (the scene's disparities "
                "scaled with it):\n",
                size, size);
    double first = 0.0;
    for (int maxDisparity : {6, 12, 24}) {
        const double milliseconds = timeWarp(maxDisparity);
        if (first == 0.0)
            first = milliseconds;
        std::printf("  maxDisparity %2d: %8.2f ms, %6.1f x the copy, %5.2f x the cost at 6\n",
                    maxDisparity, milliseconds, milliseconds / copy, milliseconds / first);
    }

    // What sampling the pixels on outlines over their area buys, and costs.
    std::printf("\nOutlines sampled over each pixel's area (SimpleCamera::setEdgeSamples):\n");
    for (int samples : {2, 3}) {
        const WarpQuality sampled = measureWarpQuality(scene, path, positionCount, false, samples);
        const double milliseconds = timeWarp(sceneOptions.maxDisparity, samples);
        std::printf("  %d x %d: mean PSNR %.2f dB, lowest %.2f dB, cell centres %.2f dB; windows "
                    "%.2f and %.2f dB; at grid positions %d/255; frame at %dx%d %.2f ms, %.1f x "
                    "the copy, %.2f x the frame without\n",
                    samples, samples, sampled.mean[0], sampled.lowest[0], sampled.centreMean,
                    sampled.windowMean[0], sampled.windowMean[1], sampled.gridWorst, size, size,
                    milliseconds, milliseconds / copy, milliseconds / warpMilliseconds);
    }
    return 0;
}

int estimateBenchmark(const QCommandLineParser &options)
{
    const synth::SceneOptions sceneOptions = benchScene(options);
    const int positionCount = options.value(QStringLiteral("positions")).toInt();
    const synth::SyntheticScene scene(sceneOptions);
    const int columns = sceneOptions.columns, rows = sceneOptions.rows;

    // The views as an 8-bit file stores them.
    std::vector<std::vector<float>> colours;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            std::vector<float> rgb = scene.renderView(column, row).rgb;
            for (float &value : rgb)
                value = std::round(std::clamp(value, 0.0f, 1.0f) * 255.0f) / 255.0f;
            colours.push_back(std::move(rgb));
        }
    }
    std::vector<const std::vector<float> *> pointers;
    for (const std::vector<float> &rgb : colours)
        pointers.push_back(&rgb);
    estimation::EstimateOptions estimate;
    estimate.lowest = 0.0f;
    estimate.highest = float(sceneOptions.maxDisparity);
    QElapsedTimer timer;
    timer.start();
    const std::vector<std::vector<float>> maps = estimation::estimateDisparities(
        estimation::intensitiesOf(pointers, sceneOptions.width, sceneOptions.height, false),
        columns, rows, estimate);
    const double seconds = timer.nsecsElapsed() / 1e9;

    double absolute = 0.0;
    std::int64_t bad = 0, coarse = 0, pixels = 0;
    double centreAbsolute = 0.0;
    std::int64_t centreBad = 0, centrePixels = 0;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const std::vector<float> exact = scene.disparityMap(column, row);
            const std::vector<float> &found = maps[std::size_t(row) * columns + column];
            const bool centre = column == columns / 2 && row == rows / 2;
            for (std::size_t p = 0; p < exact.size(); ++p) {
                const double error = std::abs(double(found[p]) - exact[p]);
                absolute += error;
                bad += error > 0.07;
                coarse += error > 0.5;
                if (centre) {
                    centreAbsolute += error;
                    centreBad += error > 0.07;
                }
            }
            pixels += std::int64_t(exact.size());
            if (centre)
                centrePixels += std::int64_t(exact.size());
        }
    }
    std::printf("Disparity estimated for all %d views of %dx%d pixels, searching %g to %g in "
                "steps of %g, in %.1f s (%.0f ms a view, %u threads)\n",
                columns * rows, sceneOptions.width, sceneOptions.height, estimate.lowest,
                estimate.highest, estimate.step, seconds, 1000.0 * seconds / (columns * rows),
                std::max(1u, std::thread::hardware_concurrency()));
    std::printf("All views:   mean absolute error %.3f px, off by more than 0.07 px: %.1f %%, "
                "by more than 0.5 px: %.1f %%\n",
                absolute / pixels, 100.0 * bad / pixels, 100.0 * coarse / pixels);
    std::printf("Centre view: mean absolute error %.3f px, off by more than 0.07 px: %.1f %%\n\n",
                centreAbsolute / centrePixels, 100.0 * centreBad / centrePixels);

    QTemporaryDir directory;
    const QString exactPath = directory.filePath(QStringLiteral("exact.lf2d"));
    const QString estimatedPath = directory.filePath(QStringLiteral("estimated.lf2d"));
    synth::writeLightfield(scene, exactPath.toStdString());
    LightfieldHeader header =
        synth::gridHeader(sceneOptions.width, sceneOptions.height, columns, rows);
    header.hasDisparity = true;
    header.maxDisparity = sceneOptions.maxDisparity;
    synth::writeLightfield(
        estimatedPath.toStdString(), header,
        [&](int column, int row) { return scene.renderView(column, row); },
        [&](int column, int row) { return maps[std::size_t(row) * columns + column]; });
    const WarpQuality exact = measureWarpQuality(scene, exactPath, positionCount, false);
    const WarpQuality found = measureWarpQuality(scene, estimatedPath, positionCount, false);
    std::printf("Warp PSNR over %d fractional positions, against exact views:\n", positionCount);
    std::printf("  exact disparity:     mean %.2f dB, lowest %.2f dB\n", exact.mean[0],
                exact.lowest[0]);
    std::printf("  estimated disparity: mean %.2f dB, lowest %.2f dB\n", found.mean[0],
                found.lowest[0]);
    std::printf("  nearest stored view: mean %.2f dB, lowest %.2f dB\n", exact.mean[1],
                exact.lowest[1]);
    return 0;
}

// "WxH" as a size; nothing when it is not one.
std::optional<QSize> parseSize(const QString &text)
{
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^(\\d+)x(\\d+)$")).match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QSize size(match.captured(1).toInt(), match.captured(2).toInt());
    if (size.width() < 1 || size.height() < 1 || size.width() > 16384 || size.height() > 16384)
        return std::nullopt;
    return size;
}

// The build configuration that --config names, or null after saying there is none of that name.
const BuildConfiguration *configurationOption(const QCommandLineParser &options)
{
    const QString name = options.value(QStringLiteral("config"));
    const BuildConfiguration *configuration = findBuildConfiguration(name.toStdString());
    if (!configuration)
        std::fprintf(stderr, "lfbench: no build configuration is named %s\n", qPrintable(name));
    return configuration;
}

int pipelineBenchmark(GLTestContext &offscreen, const QCommandLineParser &options)
{
    const QStringList arguments = options.positionalArguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "lfbench pipeline: name a .lf2d file\n");
        return 2;
    }
    const BuildConfiguration *configuration = configurationOption(options);
    if (!configuration)
        return 2;
    const int frames = options.value(QStringLiteral("frames")).toInt();

    std::optional<QSize> window;
    if (options.isSet(QStringLiteral("window"))) {
        window = parseSize(options.value(QStringLiteral("window")));
        if (!window) {
            std::fprintf(stderr, "lfbench: --window takes a size such as 1920x1080\n");
            return 2;
        }
    }

    BenchPipeline pipeline = buildPipeline(arguments[1], *configuration);
    const LightfieldReader &reader = *pipeline.reader;
    if (!window)
        window = QSize(reader.width(), reader.height());
    const int width = window->width(), height = window->height();
    const FrameFigures figures = timeFrames(offscreen, pipeline, width, height, frames);
    const double copy = copyMilliseconds(offscreen, anyPlaneTexture(*pipeline.plane), width, height,
                                         std::min(frames, 200));
    const double waitedCopy = copyMilliseconds(offscreen, anyPlaneTexture(*pipeline.plane), width,
                                               height, std::min(frames, 200), CopyTiming::Waited);

    std::printf("%s on %s: %dx%d views, %dx%d grid, %s%s, %dx%d window\n",
                configuration->name.c_str(), qPrintable(arguments[1]), reader.width(),
                reader.height(), reader.columns(), reader.rows(), reader.isHdr() ? "RGBE" : "8-bit",
                reader.hasDisparity() ? " with disparity" : "", width, height);
    // Read after the build, so that both find the file in the page cache.
    const double readAndUpload = readAndUploadMilliseconds(arguments[1]);
    std::printf("plane build        %10.1f ms\n", pipeline.buildMilliseconds);
    std::printf("read + upload      %10.1f ms (every view read and uploaded, nothing else)\n",
                readAndUpload);
    std::printf("build / floor      %10.1f\n", pipeline.buildMilliseconds / readAndUpload);
    std::printf("frame              %10.3f ms (mean of %d frames while the camera moves)\n",
                figures.milliseconds, frames);
    std::printf("copy floor         %10.3f ms (one plain textured quad of %dx%d, queued back to "
                "back)\n",
                copy, width, height);
    std::printf("frame / floor      %10.1f\n", figures.milliseconds / copy);
    std::printf("copy waited for    %10.3f ms (the same quad, each waited for as a frame is)\n",
                waitedCopy);
    std::printf("frame / waited     %10.1f\n", figures.milliseconds / waitedCopy);
    std::printf("resident memory    %10.1f MiB before, %.1f MiB after\n", figures.residentBefore,
                figures.residentAfter);
    std::printf("live GL textures   %10d before, %d after\n", figures.texturesBefore,
                figures.texturesAfter);
    return 0;
}

// The light fields of the hdr benchmark: one synthetic scene, RGBE and 8-bit, with and without
// disparity.
struct HdrFiles
{
    QString rgbe;
    QString rgbeFlat; // no disparity
    QString ldr;
    QString ldrFlat;
};

HdrFiles writeHdrFiles(const QTemporaryDir &directory, const synth::SceneOptions &base)
{
    auto write = [&](const char *name, bool hdr, bool disparity) {
        synth::SceneOptions sceneOptions = base;
        sceneOptions.hdr = hdr;
        sceneOptions.disparity = disparity;
        const QString path = directory.filePath(QString::fromLatin1(name));
        synth::writeLightfield(synth::SyntheticScene(sceneOptions), path.toStdString());
        return path;
    };
    return {write("rgbe.lf2d", true, true), write("rgbe-flat.lf2d", true, false),
            write("ldr.lf2d", false, true), write("ldr-flat.lf2d", false, false)};
}

// Frame times at the three sizes the table shows, in its order.
struct HdrFrames
{
    double view = 0.0; // window of the view size, with disparity
    double large = 0.0; // 1920 × 1080 window, with disparity
    double flat = 0.0; // window of the view size, file without disparity
};

// One line of the table: a build configuration's figures on the RGBE files.
struct HdrRow
{
    const BuildConfiguration *configuration;
    std::string problem; // the configuration error that ended the row; empty while it has none
    double buildMilliseconds = 0.0; // plane of the file with disparity
    HdrFrames frames;
};

const QSize largeWindow(1920, 1080);

// Whether a configuration error says the build's plane stage does not exist yet.
bool notAvailableYet(const std::string &problem)
{
    return problem.find("cannot show RGBE light fields yet") != std::string::npos;
}

// The configurations that --configs names, all of them without it; empty after a message when a
// name is unknown or none is given.
std::vector<const BuildConfiguration *> chosenConfigurations(const QCommandLineParser &options)
{
    std::vector<const BuildConfiguration *> configurations;
    if (!options.isSet(QStringLiteral("configs"))) {
        for (const BuildConfiguration &configuration : buildConfigurations())
            configurations.push_back(&configuration);
        return configurations;
    }
    const QStringList names =
        options.value(QStringLiteral("configs")).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &name : names) {
        const BuildConfiguration *configuration = findBuildConfiguration(name.toStdString());
        if (!configuration) {
            std::fprintf(stderr, "lfbench: no build configuration is named %s\n", qPrintable(name));
            return {};
        }
        configurations.push_back(configuration);
    }
    if (configurations.empty())
        std::fprintf(stderr, "lfbench hdr: --configs names no build configuration\n");
    return configurations;
}

void printHdrTable(const std::vector<HdrRow> &rows, const HdrFrames &ldr, double floor,
                   double copyView, double copyLarge, int size)
{
    const QByteArray viewHeading = QStringLiteral("%1x%1 frame").arg(size).toLatin1();
    const QByteArray largeHeading =
        QStringLiteral("%1x%2 frame").arg(largeWindow.width()).arg(largeWindow.height()).toLatin1();
    const QByteArray flatHeading = QStringLiteral("%1x%1 no disparity").arg(size).toLatin1();
    std::printf("%-32s %16s   %-22s %-22s %s\n", "", "plane build", viewHeading.constData(),
                largeHeading.constData(), flatHeading.constData());
    std::printf("%-32s %9s %6s   %8s %6s %6s %8s %6s %6s %8s %6s %6s\n", "configuration", "ms",
                "/floor", "ms", "/copy", "/8-bit", "ms", "/copy", "/8-bit", "ms", "/copy",
                "/8-bit");
    for (const HdrRow &row : rows) {
        std::printf("%-32s ", row.configuration->name.c_str());
        if (notAvailableYet(row.problem)) {
            // The builds that tone-map while the plane is built, until their stage exists.
            std::printf("not available yet\n");
        } else if (!row.problem.empty()) {
            std::printf("failed: %s\n", row.problem.c_str());
        } else {
            const HdrFrames &rgbe = row.frames;
            std::printf("%9.1f %6.2f   %8.3f %6.1f %6.2f %8.3f %6.1f %6.2f %8.3f %6.1f %6.2f\n",
                        row.buildMilliseconds, row.buildMilliseconds / floor, rgbe.view,
                        rgbe.view / copyView, rgbe.view / ldr.view, rgbe.large,
                        rgbe.large / copyLarge, rgbe.large / ldr.large, rgbe.flat,
                        rgbe.flat / copyView, rgbe.flat / ldr.flat);
        }
    }
}

int hdrBenchmark(GLTestContext &offscreen, const QCommandLineParser &options)
{
    const std::vector<const BuildConfiguration *> configurations = chosenConfigurations(options);
    if (configurations.empty())
        return 2;
    synth::SceneOptions sceneOptions;
    sceneOptions.columns = sceneOptions.rows = options.value(QStringLiteral("grid")).toInt();
    sceneOptions.width = sceneOptions.height =
        options.isSet(QStringLiteral("size")) ? options.value(QStringLiteral("size")).toInt() : 512;
    const int frames = options.value(QStringLiteral("frames")).toInt();
    const int size = sceneOptions.width;

    QTemporaryDir directory;
    const HdrFiles files = writeHdrFiles(directory, sceneOptions);
    const double floor = readAndUploadMilliseconds(files.rgbe);

    // Cheap frames are measured before seconds-long ones, all builds at one size before the next:
    // a software driver runs frames measurably slower for a while after seconds-long frames.
    // Every build shows 8-bit files the same way, so their frames are measured once, on the first
    // configuration's pipeline.
    const BuildConfiguration &first = *configurations.front();
    std::vector<HdrRow> rows;
    for (const BuildConfiguration *configuration : configurations)
        rows.push_back({configuration, {}, 0.0, {}});
    auto measure = [&](const QString &path, const std::function<void((HdrRow &, BenchPipeline &))> &run) {
        for (HdrRow &row : rows) {
            if (!row.problem.empty())
                continue;
            try {
                BenchPipeline pipeline = buildPipeline(path, *row.configuration);
                run(row, pipeline);
            } catch (const std::string &message) {
                row.problem = message;
            }
        }
    };

    HdrFrames ldr;
    double copyView = 0.0, copyLarge = 0.0;
    {
        BenchPipeline pipeline = buildPipeline(files.ldrFlat, first);
        QOpenGLTexture *texture = anyPlaneTexture(*pipeline.plane);
        copyView = copyMilliseconds(offscreen, texture, size, size, std::min(frames, 200));
        copyLarge = copyMilliseconds(offscreen, texture, largeWindow.width(), largeWindow.height(),
                                     std::min(frames, 200));
        ldr.flat = timeFrames(offscreen, pipeline, size, size, frames).milliseconds;
    }
    measure(files.rgbeFlat, [&](HdrRow &row, BenchPipeline &pipeline) {
        row.frames.flat = timeFrames(offscreen, pipeline, size, size, frames).milliseconds;
    });

    std::optional<FrameFigures> memory;
    const BuildConfiguration *memoryConfiguration = nullptr;
    {
        BenchPipeline pipeline = buildPipeline(files.ldr, first);
        ldr.view = timeFrames(offscreen, pipeline, size, size, frames).milliseconds;
    }
    measure(files.rgbe, [&](HdrRow &row, BenchPipeline &pipeline) {
        row.buildMilliseconds = pipeline.buildMilliseconds;
        const FrameFigures figures = timeFrames(offscreen, pipeline, size, size, frames);
        row.frames.view = figures.milliseconds;
        if (!memory) {
            memory = figures;
            memoryConfiguration = row.configuration;
        }
    });

    {
        BenchPipeline pipeline = buildPipeline(files.ldr, first);
        ldr.large =
            timeFrames(offscreen, pipeline, largeWindow.width(), largeWindow.height(), frames)
                .milliseconds;
    }
    measure(files.rgbe, [&](HdrRow &row, BenchPipeline &pipeline) {
        row.frames.large =
            timeFrames(offscreen, pipeline, largeWindow.width(), largeWindow.height(), frames)
                .milliseconds;
    });

    std::printf("Tone-mapping cost of each build: a %dx%d grid of %dx%d views of one synthetic "
                "scene, RGBE and 8-bit, with and without disparity; %d frames a figure\n\n",
                sceneOptions.columns, sceneOptions.rows, size, size, frames);
    std::printf("read + upload floor %9.1f ms  every view of the RGBE file read and uploaded\n",
                floor);
    std::printf("copy floor          %9.3f ms  one textured quad of %dx%d, %.3f ms of %dx%d\n",
                copyView, size, size, copyLarge, largeWindow.width(), largeWindow.height());
    std::printf("8-bit frame         %9.3f ms  at %dx%d, %.3f ms at %dx%d, %.3f ms at %dx%d "
                "without disparity\n\n",
                ldr.view, size, size, ldr.large, largeWindow.width(), largeWindow.height(),
                ldr.flat, size, size);
    printHdrTable(rows, ldr, floor, copyView, copyLarge, size);
    if (memory) {
        std::printf("\n%s at %dx%d, %d frames: resident memory %.1f MiB before, %.1f MiB after; "
                    "live GL textures %d before, %d after\n",
                    memoryConfiguration->name.c_str(), size, size, frames, memory->residentBefore,
                    memory->residentAfter, memory->texturesBefore, memory->texturesAfter);
    }
    const bool failed = std::any_of(rows.begin(), rows.end(), [](const HdrRow &row) {
        return !row.problem.empty() && !notAvailableYet(row.problem);
    });
    return failed ? 1 : 0;
}

} // namespace

// Every configuration for many frames while the camera sweeps the grid: resident memory and live
// GL textures before and after, and whether they stayed flat.
int soakBenchmark(GLTestContext &offscreen, const QCommandLineParser &options)
{
    const std::vector<const BuildConfiguration *> configurations = chosenConfigurations(options);
    if (configurations.empty())
        return 2;
    synth::SceneOptions sceneOptions;
    sceneOptions.columns = sceneOptions.rows = options.value(QStringLiteral("grid")).toInt();
    sceneOptions.width = sceneOptions.height =
        options.isSet(QStringLiteral("size")) ? options.value(QStringLiteral("size")).toInt() : 96;
    const int frames = options.isSet(QStringLiteral("frames"))
        ? options.value(QStringLiteral("frames")).toInt()
        : 10000;
    const int size = sceneOptions.width;

    QTemporaryDir directory;
    const HdrFiles files = writeHdrFiles(directory, sceneOptions);
    std::printf("Soak: %d frames a build while the camera sweeps a %dx%d grid of %dx%d views with "
                "disparity; memory in use may grow by less than 1 MiB\n\n",
                frames, sceneOptions.columns, sceneOptions.rows, size, size);
    std::printf("%-34s %9s %19s %19s %6s %14s %s\n", "build and file", "ms/frame", "resident MiB",
                "in use MiB", "trend", "textures", "verdict");
    bool allFlat = true;
    auto soak = [&](const BuildConfiguration &configuration, const QString &path,
                    const char *kind) {
        std::string name = configuration.name + " " + kind;
        try {
            BenchPipeline pipeline = buildPipeline(path, configuration);
            // The frames run in chunks with the memory in use sampled after each. The driver
            // takes and gives back chunks of about 1 MiB as it pleases, which two samples alone
            // would take for growth, and it may take one and keep it to the end. A leak raises
            // the floor of the samples steadily: growth counts when the floor rises from the
            // first third of the run to the middle one and again to the last.
            constexpr int chunks = 9;
            std::vector<double> inUse;
            FrameFigures first, last;
            double milliseconds = 0.0;
            for (int chunk = 0; chunk < chunks; ++chunk) {
                const int count = frames / chunks + (chunk < frames % chunks ? 1 : 0);
                const FrameFigures figures =
                    timeFrames(offscreen, pipeline, size, size, std::max(1, count));
                if (chunk == 0) {
                    first = figures;
                    inUse.push_back(figures.heapBefore);
                }
                last = figures;
                inUse.push_back(figures.heapAfter);
                milliseconds += figures.milliseconds * std::max(1, count);
            }
            const auto floorOf = [&inUse](int begin) {
                return *std::min_element(inUse.begin() + begin, inUse.begin() + begin + 4);
            };
            const double early = floorOf(0), middle = floorOf(3), late = floorOf(6);
            const double growth = late - early;
            const bool steady = middle - early > 0.25 && late - middle > 0.25;
            const bool texturesKept = last.texturesAfter == first.texturesBefore;
            const bool flat = (growth < 1.0 || !steady) && texturesKept;
            allFlat = allFlat && flat;
            const char *verdict = !flat ? "GROWS" : growth >= 1.0 ? "flat (one step)" : "flat";
            std::printf("%-34s %9.3f %8.1f -> %-8.1f %8.2f -> %-8.2f %+6.2f %5d -> %-5d %s\n",
                        name.c_str(), milliseconds / frames, first.residentBefore,
                        last.residentAfter, first.heapBefore, last.heapAfter, growth,
                        first.texturesBefore, last.texturesAfter, verdict);
        } catch (const std::string &message) {
            allFlat = false;
            std::printf("%-34s failed: %s\n", name.c_str(), message.c_str());
        }
        std::fflush(stdout);
    };
    // 8-bit files take the same road in every build.
    soak(*configurations.front(), files.ldr, "8-bit");
    for (const BuildConfiguration *configuration : configurations)
        soak(*configuration, files.rgbe, "RGBE");
    return allFlat ? 0 : 1;
}

// CPU seconds of the whole process, every thread of it (the driver's among them).
double processCpuSeconds()
{
    timespec time {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
    return double(time.tv_sec) + double(time.tv_nsec) * 1e-9;
}

// Runs the event loop for the given seconds while `during` is called every `interval` ms, and
// prints the CPU the process took meanwhile, in cores.
void printCpuOver(const char *what, double seconds, const LightfieldRenderer &window,
                  int interval = 0, const std::function<void()> &during = {})
{
    QTimer ticks;
    if (during) {
        QObject::connect(&ticks, &QTimer::timeout, during);
        ticks.start(interval);
    }
    const int framesBefore = window.framesShown();
    const double cpuBefore = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    ticks.stop();
    const double elapsed = wall.nsecsElapsed() * 1e-9;
    const double cpu = processCpuSeconds() - cpuBefore;
    std::printf("%-16s %5.1f s: %6.3f cores (%.2f s of CPU), %d frames\n", what, elapsed,
                cpu / elapsed, cpu, window.framesShown() - framesBefore);
}

void sendMouse(QWindow &window, QEvent::Type type, QPointF position, Qt::MouseButton button,
               Qt::MouseButtons held)
{
    QMouseEvent event(type, position, window.mapToGlobal(position.toPoint()), button, held,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &event);
}

// The viewer's window on a file, on the display: what the process costs while nobody touches
// it, and while a left-button drag goes round and round.
int idleBenchmark(const QCommandLineParser &options)
{
    const QStringList arguments = options.positionalArguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "lfbench idle: name a .lf2d file\n");
        return 2;
    }
    const BuildConfiguration *configuration = configurationOption(options);
    if (!configuration)
        return 2;
    setActiveBuildConfiguration(*configuration);
    setFatalErrorHandler([](const QString &message) {
        std::fprintf(stderr, "lfbench idle: %s\n", qPrintable(message));
        std::exit(1);
    });

    LightfieldRenderer window(QUrl::fromLocalFile(arguments[1]));
    window.show();
    // The title says the light field is loading until the first picture is shown.
    QElapsedTimer loading;
    loading.start();
    while (!(window.isInitialised() && window.title().isEmpty())) {
        if (loading.elapsed() > 600000) {
            std::fprintf(stderr, "lfbench idle: no picture after 10 minutes\n");
            return 1;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    const LightfieldReader &reader = *window.reader();
    std::printf("%s on %s: %dx%d views, %dx%d grid, %s%s, loaded in %.1f s\n",
                configuration->name.c_str(), qPrintable(arguments[1]), reader.width(),
                reader.height(), reader.columns(), reader.rows(), reader.isHdr() ? "RGBE" : "8-bit",
                reader.hasDisparity() ? " with disparity" : "", loading.elapsed() / 1000.0);
    // A picture that still adapts after the load has a moment to settle.
    printCpuOver("settling", 2.0, window);
    printCpuOver("without input", 10.0, window);

    // A hand dragging in circles of 60 pixels, a mouse event every 10 ms: the camera goes back
    // and forth over about six views each way without stopping.
    const QPointF centre(window.width() / 2.0, window.height() / 2.0);
    const double radius = 60.0;
    QElapsedTimer drag;
    sendMouse(window, QEvent::MouseMove, centre + QPointF(radius, 0.0), Qt::NoButton, Qt::NoButton);
    sendMouse(window, QEvent::MouseButtonPress, centre + QPointF(radius, 0.0), Qt::LeftButton,
              Qt::LeftButton);
    drag.start();
    printCpuOver("dragging", 10.0, window, 10, [&] {
        const double angle = 2.0 * M_PI * double(drag.elapsed()) / 2000.0;
        sendMouse(window, QEvent::MouseMove,
                  centre + radius * QPointF(std::cos(angle), std::sin(angle)), Qt::NoButton,
                  Qt::LeftButton);
    });
    sendMouse(window, QEvent::MouseButtonRelease, centre, Qt::LeftButton, Qt::NoButton);
    printCpuOver("after the drag", 10.0, window);
    std::printf("goal without input: under 0.02 cores\n");
    return 0;
}

int main(int argc, char *argv[])
{
    // The camera logs its position every frame, which would bury the figures.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    QSurfaceFormat::setDefaultFormat(viewerSurfaceFormat());
    QGuiApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Benchmarks of the light-field viewer's GPU work, run offscreen.\n\n"
        "lfbench warp: synthesises views of a synthetic layered light field at grid positions "
        "and at many fractional positions, and prints the PSNR of the synthesised view, of the "
        "nearest stored view and of a bilinear blend of the four surrounding views, each against "
        "the exact view, and of the warp in windows smaller and larger than the views (by odd "
        "numbers of pixels), where they show the views; then the time of one synthesised frame "
        "next to one plain textured-quad copy of the same size, queued back to back and waited "
        "for each time.\n\n"
        "lfbench pipeline FILE: runs the whole per-frame pipeline of one build configuration on a "
        ".lf2d file while the camera moves, in a window of the view size or of --window, and "
        "prints the plane build time next to the floor of reading the file and uploading its "
        "views, the time per frame, the copy floor (one plain textured quad, the copies queued "
        "back to back: a software driver overlaps them, so this is well below a frame's copy), "
        "the same copy waited for each time as a frame is by its buffer swap, and resident "
        "memory and "
        "live GL textures before and after the frames.\n\n"
        "lfbench hdr: what tone-mapping costs each build configuration, on a synthetic scene "
        "written as RGBE and as 8-bit light fields, with and without disparity. Above the table: "
        "the read + upload floor (every view of the RGBE file read and uploaded, nothing else), "
        "the copy floor (one textured quad of the window's size) and the 8-bit frame (every build "
        "shows 8-bit files alike, so it is measured once). Columns: 'plane build' is the time to "
        "build the plane of the RGBE file with disparity, in ms and as a multiple of the read + "
        "upload floor; each frame group is the mean frame time while the camera moves, in ms, as "
        "a multiple of the copy floor of that window and as a multiple of the 8-bit frame of the "
        "same window and disparity: the view-sized and the 1920x1080 window on the file with "
        "disparity, and the view-sized window on the file without. Builds whose plane stage does "
        "not exist yet say 'not available yet'. Last, resident memory and live GL textures "
        "before and after the timed frames of the first configuration at the view size (use "
        "--frames 10000 for the memory check).\n\n"
        "lfbench soak: every build configuration (or --configs) for 10000 frames (or --frames) "
        "with the camera sweeping a grid of 96x96 views (or --size) with disparity, on the RGBE "
        "light field and once on the 8-bit one; prints resident memory, the memory in use through "
        "the allocator and live GL textures before and after, and the trend of the memory in use: "
        "sampled after each ninth of the frames, the lowest sample of the last third of the run "
        "less the lowest of the first. The driver takes and gives back chunks of about 1 MiB, and "
        "may keep one to the end: growth of 1 MiB or more counts only when the floor rose both "
        "from the first third to the middle one and from there to the last (otherwise the "
        "verdict is 'flat (one step)'). Exits 1 on such growth or when the live textures "
        "changed.\n\n"
        "lfbench estimate: estimates the disparity of every view of a synthetic layered light "
        "field (--grid, --size) from its 8-bit views and prints the time, the mean absolute "
        "error against the exact disparity and the share of pixels off by more than 0.07 and "
        "0.5 px, then the warp's PSNR against exact views with the estimated and the exact "
        "disparity (--positions).\n\n"
        "lfbench idle FILE: opens the viewer's window of one build configuration (--config) on "
        "a .lf2d file, on the display, and prints the CPU time the whole process takes, in "
        "cores, and the frames it draws: for 2 s after the first picture, over 10 s without "
        "input, over 10 s of a left-button drag going round in circles of 60 pixels (a mouse "
        "event every 10 ms), and over the 10 s after the drag.\n\n"
        "Run from the directory that holds shaders/."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("warp, pipeline, hdr, soak, estimate or idle"));
    parser.addOptions({
        {QStringLiteral("size"),
         QStringLiteral("warp, hdr: view width and height (default 256 for warp, 512 for hdr)."),
         QStringLiteral("N")},
        {QStringLiteral("scene"),
         QStringLiteral("warp, estimate: layers (the default) or clutter, the harder scene of "
                        "lf2d synth --scene clutter."),
         QStringLiteral("NAME"), QStringLiteral("layers")},
        {QStringLiteral("grid"), QStringLiteral("warp, hdr: views per row and column (default 9)."),
         QStringLiteral("N"), QStringLiteral("9")},
        {QStringLiteral("positions"),
         QStringLiteral("warp: fractional positions measured (default 64)."), QStringLiteral("N"),
         QStringLiteral("64")},
        {QStringLiteral("timing-size"),
         QStringLiteral("warp: view size of the frame timing (default 512)."), QStringLiteral("N"),
         QStringLiteral("512")},
        {QStringLiteral("frames"),
         QStringLiteral("Frames timed per figure (default 100; pipeline, hdr: use 10000 for the "
                        "memory check)."),
         QStringLiteral("N"), QStringLiteral("100")},
        {QStringLiteral("config"),
         QStringLiteral("pipeline, idle: build configuration, e.g. viewer-interp-reinhard05 (the "
                        "default)."),
         QStringLiteral("NAME"), QStringLiteral("viewer-interp-reinhard05")},
        {QStringLiteral("window"),
         QStringLiteral("pipeline: window size, e.g. 1920x1080 (default: the view size)."),
         QStringLiteral("WxH")},
        {QStringLiteral("configs"),
         QStringLiteral("hdr, soak: build configurations, comma-separated (default: all eleven)."),
         QStringLiteral("A,B,...")},
    });
    parser.process(application);
    const QStringList arguments = parser.positionalArguments();

    if (parser.value(QStringLiteral("frames")).toInt() < 1) {
        std::fprintf(stderr, "lfbench: --frames takes a number of at least 1\n");
        return 2;
    }

    // A window of its own on the display, not the offscreen context.
    if (arguments.value(0) == QLatin1String("idle"))
        return idleBenchmark(parser);

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
        if (arguments.value(0) == QLatin1String("hdr"))
            return hdrBenchmark(offscreen, parser);
        if (arguments.value(0) == QLatin1String("estimate"))
            return estimateBenchmark(parser);
        if (arguments.value(0) == QLatin1String("soak"))
            return soakBenchmark(offscreen, parser);
    } catch (const std::string &message) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return 1;
    } catch (const std::exception &error) {
        // The synthetic light fields could not be written.
        std::fprintf(stderr, "lfbench: %s\n", error.what());
        return 1;
    }
    parser.showHelp(2);
}
