// lfbench estimate: disparity estimated from the views against the exact disparity.

#include "BenchScene.h"
#include "Benchmarks.h"
#include "DisparityEstimation.h"
#include "Lf2dWriter.h"
#include "WarpQuality.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

int runEstimate(GLTestContext &, const QCommandLineParser &options)
{
    const synth::SceneOptions sceneOptions =
        sceneFromOptions(options, 256, SceneChoice::LayersOrClutter);
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

} // namespace

const Benchmark estimateBenchmark = {
    "estimate",
    "lfbench estimate: estimates the disparity of every view of a synthetic layered light "
    "field (--grid, --size) from its 8-bit views and prints the time, the mean absolute "
    "error against the exact disparity and the share of pixels off by more than 0.07 and "
    "0.5 px, then the warp's PSNR against exact views with the estimated and the exact "
    "disparity (--positions).",
    &runEstimate,
    nullptr,
};
