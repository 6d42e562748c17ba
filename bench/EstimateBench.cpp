// lfbench estimate: disparity estimated from the views against the exact disparity.

#include "BenchScene.h"
#include "Benchmarks.h"
#include "DisparityEstimation.h"
#include "Lf2dWriter.h"
#include "WarpQuality.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <random>
#include <thread>
#include <vector>

namespace {

// The light-field benchmark's own measures of one map against the exact one: the share of
// pixels off by more than 0.07, 0.03 and 0.01 px and the mean squared error, times 100, all
// inside a margin that the field leaves out of every measure.
struct FieldErrors
{
    double badPix[3] = {};
    double mseTimes100 = 0.0;
};

constexpr double badPixThresholds[3] = {0.07, 0.03, 0.01};
constexpr int fieldMargin = 15;

FieldErrors fieldErrors(const std::vector<float> &found, const std::vector<float> &exact, int width,
                        int height)
{
    FieldErrors errors;
    std::int64_t pixels = 0;
    for (int y = fieldMargin; y < height - fieldMargin; ++y) {
        for (int x = fieldMargin; x < width - fieldMargin; ++x) {
            const std::size_t p = std::size_t(y) * width + x;
            const double error = std::abs(double(found[p]) - exact[p]);
            for (int k = 0; k < 3; ++k)
                errors.badPix[k] += error > badPixThresholds[k];
            errors.mseTimes100 += error * error;
            ++pixels;
        }
    }
    for (double &share : errors.badPix)
        share *= 100.0 / std::max<std::int64_t>(1, pixels);
    errors.mseTimes100 *= 100.0 / std::max<std::int64_t>(1, pixels);
    return errors;
}

// The views as an 8-bit file stores them, with Gaussian noise of the given deviation in 8-bit
// levels added first: a camera's sensor noise, which the exact synthetic views lack.
std::vector<std::vector<float>> storedViews(const synth::SyntheticScene &scene, double noise)
{
    const synth::SceneOptions &options = scene.options();
    std::mt19937 random(20240611u);
    std::normal_distribution<float> gauss(0.0f, float(noise / 255.0));
    std::vector<std::vector<float>> colours;
    for (int row = 0; row < options.rows; ++row) {
        for (int column = 0; column < options.columns; ++column) {
            std::vector<float> rgb = scene.renderView(column, row).rgb;
            for (float &value : rgb) {
                if (noise > 0.0)
                    value += gauss(random);
                value = std::round(std::clamp(value, 0.0f, 1.0f) * 255.0f) / 255.0f;
            }
            colours.push_back(std::move(rgb));
        }
    }
    return colours;
}

void runScene(synth::SceneOptions sceneOptions, const QCommandLineParser &options)
{
    const int positionCount = options.value(QStringLiteral("positions")).toInt();
    const double noise = options.value(QStringLiteral("noise")).toDouble();
    const synth::SyntheticScene scene(sceneOptions);
    const int columns = sceneOptions.columns, rows = sceneOptions.rows;
    const int width = sceneOptions.width, height = sceneOptions.height;
    const auto [nearest, farthest] = scene.disparityRange();
    std::printf("%s scene, %d x %d views of %d x %d pixels, disparities %.2f to %.2f px per view "
                "step, noise %.1f of 255\n",
                sceneOptions.scene == synth::SceneKind::Clutter ? "Cluttered" : "Layered", columns,
                rows, width, height, nearest, farthest, noise);

    const std::vector<std::vector<float>> colours = storedViews(scene, noise);
    std::vector<const std::vector<float> *> pointers;
    for (const std::vector<float> &rgb : colours)
        pointers.push_back(&rgb);
    const std::vector<estimation::Intensity> intensities =
        estimation::intensitiesOf(pointers, width, height, false);
    estimation::EstimateOptions estimate;
    const std::clock_t processorStart = std::clock();
    QElapsedTimer timer;
    timer.start();
    const QStringList range = options.value(QStringLiteral("disparity-range")).split(',');
    if (range.size() == 2) {
        estimate.lowest = range[0].toFloat();
        estimate.highest = range[1].toFloat();
    } else {
        const estimation::DisparityRange found =
            estimation::estimateDisparityRange(intensities, columns, rows);
        estimate.lowest = found.lowest;
        estimate.highest = found.highest;
    }
    const double searchSeconds = timer.nsecsElapsed() / 1e9;
    const std::vector<std::vector<float>> maps =
        estimation::estimateDisparities(intensities, columns, rows, estimate);
    const double seconds = timer.nsecsElapsed() / 1e9;
    const double processorSeconds = double(std::clock() - processorStart) / CLOCKS_PER_SEC;

    double absolute = 0.0;
    std::int64_t bad = 0, coarse = 0, pixels = 0;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const std::vector<float> exact = scene.disparityMap(column, row);
            const std::vector<float> &found = maps[std::size_t(row) * columns + column];
            for (std::size_t p = 0; p < exact.size(); ++p) {
                const double error = std::abs(double(found[p]) - exact[p]);
                absolute += error;
                bad += error > 0.07;
                coarse += error > 0.5;
            }
            pixels += std::int64_t(exact.size());
        }
    }
    const int centreColumn = columns / 2, centreRow = rows / 2;
    const FieldErrors centre =
        fieldErrors(maps[std::size_t(centreRow) * columns + centreColumn],
                    scene.disparityMap(centreColumn, centreRow), width, height);
    std::printf("Disparity estimated for all %d views in %.1f s (%.1f s of processor time, %u "
                "threads), searching %.2f to %.2f in steps of %g (%s, %.2f s)\n",
                columns * rows, seconds, processorSeconds,
                std::max(1u, std::thread::hardware_concurrency()), estimate.lowest,
                estimate.highest, estimate.step,
                range.size() == 2 ? "as given" : "found by the coarse search", searchSeconds);
    std::printf("Centre view, %d-pixel margin: BadPix(0.07) %.2f %%, BadPix(0.03) %.2f %%, "
                "BadPix(0.01) %.2f %%, MSE x 100 %.3f\n",
                fieldMargin, centre.badPix[0], centre.badPix[1], centre.badPix[2],
                centre.mseTimes100);
    std::printf("All views:   mean absolute error %.3f px, off by more than 0.07 px: %.2f %%, "
                "by more than 0.5 px: %.2f %%\n",
                absolute / pixels, 100.0 * bad / pixels, 100.0 * coarse / pixels);

    if (positionCount < 1) {
        std::printf("\n");
        return;
    }
    QTemporaryDir directory;
    const QString exactPath = directory.filePath(QStringLiteral("exact.lf2d"));
    const QString estimatedPath = directory.filePath(QStringLiteral("estimated.lf2d"));
    synth::writeLightfield(scene, exactPath.toStdString());
    LightfieldHeader header = synth::gridHeader(width, height, columns, rows);
    header.hasDisparity = true;
    header.maxDisparity = sceneOptions.maxDisparity;
    synth::writeLightfield(
        estimatedPath.toStdString(), header,
        [&](int column, int row) { return scene.renderView(column, row); },
        [&](int column, int row) {
            // The header's bound holds for the stored maps; outliers beyond it are clamped.
            std::vector<float> map = maps[std::size_t(row) * columns + column];
            for (float &value : map)
                value = std::clamp(value, 0.0f, float(sceneOptions.maxDisparity));
            return map;
        });
    const WarpQuality exact = measureWarpQuality(scene, exactPath, positionCount, false);
    const WarpQuality found = measureWarpQuality(scene, estimatedPath, positionCount, false);
    std::printf("Warp PSNR over %d fractional positions, against exact views:\n", positionCount);
    std::printf("  exact disparity:     mean %.2f dB, lowest %.2f dB\n", exact.mean[0],
                exact.lowest[0]);
    std::printf("  estimated disparity: mean %.2f dB, lowest %.2f dB\n", found.mean[0],
                found.lowest[0]);
    std::printf("  nearest stored view: mean %.2f dB, lowest %.2f dB\n\n", exact.mean[1],
                exact.lowest[1]);
}

int runEstimate(GLTestContext &, const QCommandLineParser &options)
{
    // Both scenes unless --scene names one.
    std::vector<synth::SceneOptions> scenes;
    if (options.isSet(QStringLiteral("scene"))) {
        scenes.push_back(sceneFromOptions(options, 512, SceneChoice::LayersOrClutter));
    } else {
        synth::SceneOptions layers = sceneFromOptions(options, 512, SceneChoice::LayersOnly);
        synth::SceneOptions clutter = layers;
        clutter.scene = synth::SceneKind::Clutter;
        clutter.maxDisparity = 24;
        scenes = {layers, clutter};
    }
    for (const synth::SceneOptions &scene : scenes)
        runScene(scene, options);
    return 0;
}

} // namespace

const Benchmark estimateBenchmark = {
    "estimate",
    "lfbench estimate: estimates the disparity of every view of the synthetic scenes, layered "
    "and cluttered (or the one --scene names; --grid, --size, default 512), from their 8-bit "
    "views, with --noise SIGMA 8-bit levels of Gaussian noise added, searching the range "
    "--disparity-range MIN,MAX or else the one the estimator's coarse search finds, and prints "
    "the time (the coarse search's included) and the range; for "
    "the centre view the light-field benchmark's measures inside a 15-pixel margin: the share of "
    "pixels off by more than 0.07, 0.03 and 0.01 px (BadPix) and the mean squared error times "
    "100, in pixels per view step; over all views the mean absolute error and the share off by "
    "more than 0.07 and 0.5 px; then the warp's PSNR against exact views with the estimated and "
    "the exact disparity (--positions; 0 leaves it out).",
    &runEstimate,
    nullptr,
};
