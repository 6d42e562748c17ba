// lfbench table: the per-frame and load-time costs that matter most, each as a ratio to the floor
// it is held against, in one run: frames against a copy of the window waited for as a frame is,
// tone-mapped frames against the 8-bit frame, plane builds against reading and uploading the file.

#include "BenchPipeline.h"
#include "BenchScene.h"
#include "BenchSupport.h"
#include "Benchmarks.h"
#include "FrameTiming.h"
#include "Lf2dWriter.h"
#include "support/GLTestContext.h"

#include <QCommandLineParser>
#include <QSize>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const QSize largeWindow(1920, 1080);

const BuildConfiguration &configurationNamed(const char *name)
{
    const BuildConfiguration *configuration = findBuildConfiguration(name);
    if (!configuration)
        throw std::string("lfbench: no build configuration is called ") + name;
    return *configuration;
}

// Every build shows 8-bit files alike; this one stands for all.
const char eightBitConfiguration[] = "viewer-interp-reinhard05";
const char *const perFrameConfigurations[] = {"viewer-interp-reinhard05",
                                              "viewer-interp-reinhard05-b0", "viewer-reinhard05"};
// A build of each plane stage, in the order of the table.
const std::pair<const char *, const char *> planeStages[] = {
    {"linear", "viewer-reinhard05"},
    {"Reinhard", "viewer-plane-reinhard-b1"},
    {"curve", "viewer-curve"},
    {"bilateral", "viewer-bilateral-disparity"},
};

void printRow(const std::string &figure, double milliseconds, const char *against, double floor,
              double ratio, const char *goal)
{
    std::printf("%-66s %9.2f  %-26s %8.2f %7.2f  %s\n", figure.c_str(), milliseconds, against,
                floor, ratio, goal);
    std::fflush(stdout);
}

void printRow(const std::string &figure, double milliseconds, const char *against, double floor,
              const char *goal)
{
    printRow(figure, milliseconds, against, floor, milliseconds / floor, goal);
}

double median(std::vector<double> values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

int runTable(GLTestContext &offscreen, const QCommandLineParser &options)
{
    const synth::SceneOptions layers = sceneFromOptions(options, 512, SceneChoice::LayersOnly);
    synth::SceneOptions clutter = layers;
    clutter.scene = synth::SceneKind::Clutter;
    clutter.maxDisparity = 24;
    const int frames = options.value(QStringLiteral("frames")).toInt();
    const int size = layers.width;
    const QSize window(size, size);

    QTemporaryDir directory;
    const HdrFiles files = writeHdrFiles(directory, layers);
    const QString clutterFile = directory.filePath(QStringLiteral("clutter.lf2d"));
    synth::writeLightfield(synth::SyntheticScene(clutter), clutterFile.toStdString());

    std::printf("Costs and their floors: %dx%d grids of %dx%d views of the layered scene (and of "
                "the cluttered one for its warp frame), RGBE and 8-bit, with and without "
                "disparity; %d frames a figure, the camera moving one pixel a frame\n\n",
                layers.columns, layers.rows, size, size, frames);
    std::printf("%-66s %9s  %-26s %8s %7s  %s\n", "figure", "ms", "against", "ms", "ratio", "goal");

    const auto frameMilliseconds = [&](const QString &path, const char *configuration, QSize size) {
        LoadedPipeline pipeline = buildPipeline(path, configurationNamed(configuration));
        return timeFrames(offscreen, pipeline, size.width(), size.height(), frames).milliseconds;
    };

    // Each floor is taken next to its figure, before and after it: on a shared machine the
    // speed of both drifts by a third within a run, and a floor from the run's start would move
    // every ratio with it.
    LoadedPipeline copySource =
        buildPipeline(files.ldrFlat, configurationNamed(eightBitConfiguration));
    QOpenGLTexture *copyTexture = anyPlaneTexture(copySource.stages->plane());
    const auto waitedCopyOf = [&](QSize window) {
        return copyMilliseconds(offscreen, copyTexture, window.width(), window.height(),
                                std::min(frames, 200), CopyTiming::Waited);
    };
    const QByteArray viewCopy = QStringLiteral("waited copy %1x%1").arg(size).toLatin1();
    const QByteArray largeCopy = QStringLiteral("waited copy %1x%2")
                                     .arg(largeWindow.width())
                                     .arg(largeWindow.height())
                                     .toLatin1();

    // A frame against the mean of the copies of its window waited for just before and after it.
    const auto printFrameRow = [&](const std::string &figure, const QString &path,
                                   const char *configuration, QSize window, const char *goal) {
        const double before = waitedCopyOf(window);
        const double frame = frameMilliseconds(path, configuration, window);
        printRow(figure, frame, (window == largeWindow ? largeCopy : viewCopy).constData(),
                 0.5 * (before + waitedCopyOf(window)), goal);
    };

    // Cheap frames first: a software driver runs frames slower for a while after long ones.
    printFrameRow("8-bit frame without disparity", files.ldrFlat, eightBitConfiguration, window,
                  "");
    for (const char *name : perFrameConfigurations) {
        printFrameRow(std::string("photoreceptor frame without disparity, ") + name, files.rgbeFlat,
                      name, window, "<= 4");
    }
    for (const char *name : perFrameConfigurations) {
        printFrameRow(std::string("the same, 1920x1080 window, ") + name, files.rgbeFlat, name,
                      largeWindow, "<= 4");
    }
    printFrameRow("warp frame, layered scene", files.ldr, eightBitConfiguration, window, "<= 12");
    printFrameRow("warp frame, cluttered scene", clutterFile, eightBitConfiguration, window,
                  "<= 16");
    // The tone-mapped warp frame against the 8-bit one, timed before and after it.
    for (const char *name : perFrameConfigurations) {
        const double before = frameMilliseconds(files.ldr, eightBitConfiguration, window);
        const double frame = frameMilliseconds(files.rgbe, name, window);
        const double after = frameMilliseconds(files.ldr, eightBitConfiguration, window);
        printRow(std::string("photoreceptor frame with disparity, ") + name, frame,
                 "8-bit warp frame", 0.5 * (before + after), "<= 1.15");
    }

    // Each build in a process of its own, as a viewer builds one plane: one build after another
    // in this process would inherit what the last one left (the 8-bit build takes half as long
    // again after the shared Reinhard stage's). A build takes about a second: three of them, each
    // after a floor of its own, are affordable; the row gives the medians of the builds, of the
    // floors and of the three ratios.
    const auto printBuildRow = [&](const std::string &figure, const QString &path,
                                   const char *configuration, const char *goal) {
        std::vector<double> builds, floors, ratios;
        for (int run = 0; run < 3; ++run) {
            floors.push_back(readAndUploadMilliseconds(path));
            builds.push_back(buildInProcessOfItsOwn(path, configuration));
            ratios.push_back(builds.back() / floors.back());
        }
        printRow(figure, median(builds), "read + upload", median(floors), median(ratios), goal);
    };
    for (const auto &[stage, configuration] : planeStages) {
        printBuildRow(std::string("RGBE plane build with disparity, ") + stage + " stage",
                      files.rgbe, configuration,
                      std::string(stage) == "bilateral" ? "<= 5" : "<= 3");
    }
    printBuildRow("8-bit plane build with disparity", files.ldr, eightBitConfiguration, "<= 1.5");
    return 0;
}

} // namespace

const Benchmark tableBenchmark = {
    "table",
    "lfbench table: the frame and load costs held against their floors, in one run: the 8-bit "
    "frame, the photoreceptor builds' frames without disparity (at the view size and in a "
    "1920x1080 window) and the warp frame of both synthetic scenes, each against one textured "
    "quad of the window's size waited for as a frame is; the photoreceptor frames with "
    "disparity against the 8-bit warp frame; the RGBE plane build of each plane stage and "
    "the 8-bit plane build, with disparity, against reading the file and uploading its "
    "views. Each line prints the figure, its floor, their ratio and the ratio aimed at; each floor "
    "is taken next to its figure (a frame between copies before and after it, each of three "
    "builds after a read and upload of its own, the row giving the median ratio). "
    "Takes --size (default 512), --grid and --frames; run on a quiet machine.",
    &runTable,
    nullptr,
};
