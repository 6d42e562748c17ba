// lfbench refocus: how close the lens comes to the exact thin-lens picture of the synthetic
// scenes, next to plain shift-and-sum of the stored views, and what a refocused frame costs.

#include "BenchPipeline.h"
#include "BenchScene.h"
#include "BenchSupport.h"
#include "Benchmarks.h"
#include "FrameTiming.h"
#include "Lf2dWriter.h"
#include "lightfield/ThinLens.h"
#include "viewer/gpu/GpuPass.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace {

const QuadCorners wholeView = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};

struct Tally
{
    double sum = 0.0;
    double lowest = std::numeric_limits<double>::max();
    int count = 0;

    void add(double value)
    {
        sum += value;
        lowest = std::min(lowest, value);
        ++count;
    }
    double mean() const { return count > 0 ? sum / count : 0.0; }
};

// The scene's disparities a lens is focused at: the nearest and the farthest layer's, as the
// reference camera sees them, and halfway between.
std::vector<double> focusDisparities(const synth::SyntheticScene &scene)
{
    const auto [nearest, farthest] = scene.disparityRange();
    return {nearest, 0.5 * (nearest + farthest), farthest};
}

// A scene written as a light field and built into a plane as the active build builds it; the
// file and the reader live as long as the plane.
struct ScenePlane
{
    explicit ScenePlane(const synth::SyntheticScene &scene)
    {
        const QString path = directory.filePath(QStringLiteral("scene.lf2d"));
        synth::writeLightfield(scene, path.toStdString());
        double buildMilliseconds = 0.0;
        plane = loadPlane(path, &reader, activeBuildConfiguration(), &buildMilliseconds);
    }

    QTemporaryDir directory;
    std::unique_ptr<LightfieldReader> reader;
    std::unique_ptr<LightfieldPlane> plane;
};

// The lens's picture and plain shift-and-sum against the exact thin-lens picture of the scene,
// at three camera positions (a stored view, a cell's centre and an odd place), the focus
// disparities and apertures of 0.5, 1 and 2 view steps (or those that fit the grid).
void measureQuality(const char *title, const synth::SceneOptions &options, bool printRows)
{
    const synth::SyntheticScene scene(options);
    const ScenePlane loaded(scene);
    SimpleCamera camera(PipelineOptions(), loaded.plane.get());
    const int width = options.width, height = options.height;

    const double lastColumn = options.columns - 1, lastRow = options.rows - 1;
    const std::vector<std::pair<double, double>> positions = {
        {std::round(lastColumn / 2), std::round(lastRow / 2)},
        {std::floor(lastColumn / 2) - 0.5, std::floor(lastRow / 2) + 0.25},
        {lastColumn * 0.29, lastRow * 0.71}};
    const double widest = maxLensAperture(options.columns, options.rows);
    std::vector<double> apertures;
    for (double aperture : {0.5, 1.0, 2.0}) {
        if (aperture <= widest)
            apertures.push_back(aperture);
    }

    std::printf("%s: %dx%d grid of %dx%d views, disparities %.2f to %.2f\n", title, options.columns,
                options.rows, width, height, scene.disparityRange().first,
                scene.disparityRange().second);
    Tally lens, shiftAndSum;
    for (const std::pair<double, double> &position : positions) {
        const double x = position.first, y = position.second;
        for (double focus : focusDisparities(scene)) {
            for (double aperture : apertures) {
                const Bytes exact =
                    synth::toFileRgba8(scene.renderRefocused(x, y, focus, aperture));
                camera.setLens({float(focus), float(aperture)});
                const auto render = [&](bool searches) {
                    auto view =
                        camera.renderView(width, height, wholeView, float(x), float(y), searches);
                    return readTextureBytes(*view->getLayer(LdrRgb), width, height);
                };
                const double lensPsnr = psnr(render(true), exact);
                const double plainPsnr = psnr(render(false), exact);
                lens.add(lensPsnr);
                shiftAndSum.add(plainPsnr);
                if (printRows) {
                    std::printf("  at %.2f,%.2f focus %5.2f aperture %.1f: lens %.2f dB, "
                                "shift-and-sum %.2f dB\n",
                                x, y, focus, aperture, lensPsnr, plainPsnr);
                }
            }
        }
    }
    std::printf("  lens: mean %.2f dB, lowest %.2f dB; stored views shifted and summed: mean "
                "%.2f dB, lowest %.2f dB (%d pictures)\n\n",
                lens.mean(), lens.lowest, shiftAndSum.mean(), shiftAndSum.lowest, lens.count);
}

// The median milliseconds of frames of width × height with the lens and of pinhole frames, taken
// in turn so that whatever else the machine does weighs on both alike; the camera moves a little
// between frames, as a dragging user would move it.
struct FramePair
{
    double lens = 0.0;
    double pinhole = 0.0;
    double lensCpu = 0.0; // CPU milliseconds of the process, the driver's threads included
    double pinholeCpu = 0.0;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

FramePair frameMilliseconds(SimpleCamera &camera, const ThinLens &lens, int width, int height,
                            int frames)
{
    std::vector<double> lensTimes, pinholeTimes, lensCpu, pinholeCpu;
    const auto timeFrame = [&](const ThinLens &frameLens, float t, std::vector<double> *wall,
                               std::vector<double> *cpu) {
        camera.setLens(frameLens);
        finishGl();
        const double cpuBefore = processCpuSeconds();
        QElapsedTimer timer;
        timer.start();
        camera.renderView(width, height, wholeView, 3.4f + 0.2f * t, 3.6f - 0.2f * t, true);
        finishGl();
        if (wall) {
            wall->push_back(timer.nsecsElapsed() / 1e6);
            cpu->push_back((processCpuSeconds() - cpuBefore) * 1e3);
        }
    };
    // Warm-up: the programs' variants made, the views' mipmaps made.
    timeFrame(lens, 0.0f, nullptr, nullptr);
    timeFrame(ThinLens(), 0.0f, nullptr, nullptr);
    for (int frame = 0; frame < frames; ++frame) {
        const float t = float(frame) / float(std::max(frames, 1));
        timeFrame(lens, t, &lensTimes, &lensCpu);
        timeFrame(ThinLens(), t, &pinholeTimes, &pinholeCpu);
    }
    return {median(lensTimes), median(pinholeTimes), median(lensCpu), median(pinholeCpu)};
}

void measureCost(GLTestContext &offscreen, const synth::SceneOptions &base, int width, int height,
                 int frames)
{
    synth::SceneOptions options = base;
    options.width = width;
    options.height = height;
    const synth::SyntheticScene scene(options);
    const ScenePlane loaded(scene);
    SimpleCamera camera(PipelineOptions(), loaded.plane.get());

    const double waitedCopy = copyMilliseconds(offscreen, loaded.plane->layerAt(0, 0, LdrRgb),
                                               width, height, frames, CopyTiming::Waited);
    std::printf("Frame cost at %dx%d on a %dx%d grid (medians; each lens frame timed next to a "
                "pinhole one): waited copy %.2f ms\n",
                width, height, options.columns, options.rows, waitedCopy);
    const std::vector<double> focuses = focusDisparities(scene);
    for (double aperture : {0.5, 1.0, 2.0}) {
        for (double focus : focuses) {
            const ThinLens lens {float(focus), float(aperture)};
            const FramePair times = frameMilliseconds(camera, lens, width, height, frames);
            std::printf("  aperture %.1f focus %5.2f (%2d samples): %8.2f ms, pinhole warp %7.2f "
                        "ms, ratio %5.2f; CPU time %8.2f and %7.2f ms, ratio %5.2f\n",
                        aperture, focus, lensSampleCount(lens, loaded.plane->maxDisparity()),
                        times.lens, times.pinhole, times.lens / times.pinhole, times.lensCpu,
                        times.pinholeCpu, times.lensCpu / times.pinholeCpu);
        }
    }
}

int runRefocus(GLTestContext &offscreen, const QCommandLineParser &options)
{
    const synth::SceneOptions layers = sceneFromOptions(options, 256, SceneChoice::LayersOnly);
    const bool printRows = options.isSet(QStringLiteral("rows"));
    if (!options.isSet(QStringLiteral("cost-only"))) {
        measureQuality("Layered scene", layers, printRows);
        synth::SceneOptions clutter = layers;
        clutter.scene = synth::SceneKind::Clutter;
        clutter.maxDisparity = 24;
        measureQuality("Cluttered scene", clutter, printRows);
        // Views four of the layered scene's steps apart: disparities four times as large.
        synth::SceneOptions sparse = layers;
        sparse.columns = sparse.rows = 3;
        sparse.maxDisparity = 48;
        measureQuality("Layered scene, sparse grid", sparse, printRows);
    }
    const int size = options.value(QStringLiteral("timing-size")).toInt();
    const int frames = options.value(QStringLiteral("frames")).toInt();
    measureCost(offscreen, layers, size, size, frames);
    if (!options.isSet(QStringLiteral("quick")))
        measureCost(offscreen, layers, 1920, 1080, std::max(frames / 4, 2));
    return 0;
}

} // namespace

const Benchmark refocusBenchmark = {
    "refocus",
    "lfbench refocus: the thin lens's picture of the layered scene, of the cluttered one and "
    "of the layered one on a 3x3 grid (views four steps apart) against the exact thin-lens "
    "picture, at three camera positions, focused at the nearest and the farthest layer and "
    "halfway, with apertures 0.5, 1 and 2 view steps: PSNR of each, mean and lowest, next to "
    "plain shift-and-sum of the stored views; then the cost of a refocused frame at "
    "--timing-size and at 1920x1080 next to the pinhole warp's (--cost-only skips the "
    "pictures, --quick the large frame, --rows prints every picture's figures).",
    &runRefocus,
    nullptr,
};
