// lfbench warp: how close synthesised views come to the exact ones, and what a frame costs.

#include "BenchPipeline.h"
#include "BenchScene.h"
#include "BenchSupport.h"
#include "Benchmarks.h"
#include "FrameTiming.h"
#include "Lf2dWriter.h"
#include "WarpQuality.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

namespace {

int runWarp(GLTestContext &offscreen, const QCommandLineParser &options)
{
    const synth::SceneOptions sceneOptions =
        sceneFromOptions(options, 256, SceneChoice::LayersOrClutter);
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

} // namespace

const Benchmark warpBenchmark = {
    "warp",
    "lfbench warp: synthesises views of a synthetic layered light field at grid positions "
    "and at many fractional positions, and prints the PSNR of the synthesised view, of the "
    "nearest stored view and of a bilinear blend of the four surrounding views, each against "
    "the exact view, and of the warp in windows smaller and larger than the views (by odd "
    "numbers of pixels), where they show the views; then the time of one synthesised frame "
    "next to one plain textured-quad copy of the same size, queued back to back and waited "
    "for each time.",
    &runWarp,
    nullptr,
};
