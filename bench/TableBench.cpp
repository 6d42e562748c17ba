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
              const char *goal)
{
    std::printf("%-66s %9.2f  %-26s %8.2f %7.2f  %s\n", figure.c_str(), milliseconds, against,
                floor, milliseconds / floor, goal);
    std::fflush(stdout);
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

    // The floors first, as every file was just written: in a process that has not yet freed
    // views, uploads take fresh memory, as a viewer's plane build does.
    const double rgbeFloor = readAndUploadMilliseconds(files.rgbe);
    const double ldrFloor = readAndUploadMilliseconds(files.ldr);

    // Cheap frames first: a software driver runs frames slower for a while after long ones.
    double waitedCopy = 0.0, waitedLargeCopy = 0.0;
    {
        LoadedPipeline pipeline =
            buildPipeline(files.ldrFlat, configurationNamed(eightBitConfiguration));
        QOpenGLTexture *texture = anyPlaneTexture(pipeline.stages->plane());
        const int copies = std::min(frames, 200);
        waitedCopy = copyMilliseconds(offscreen, texture, size, size, copies, CopyTiming::Waited);
        waitedLargeCopy = copyMilliseconds(offscreen, texture, largeWindow.width(),
                                           largeWindow.height(), copies, CopyTiming::Waited);
    }
    const QByteArray viewCopy = QStringLiteral("waited copy %1x%1").arg(size).toLatin1();
    const QByteArray largeCopy = QStringLiteral("waited copy %1x%2")
                                     .arg(largeWindow.width())
                                     .arg(largeWindow.height())
                                     .toLatin1();

    const double eightBitFlat = frameMilliseconds(files.ldrFlat, eightBitConfiguration, window);
    printRow("8-bit frame without disparity", eightBitFlat, viewCopy.constData(), waitedCopy, "");
    for (const char *name : perFrameConfigurations) {
        printRow(std::string("photoreceptor frame without disparity, ") + name,
                 frameMilliseconds(files.rgbeFlat, name, window), viewCopy.constData(), waitedCopy,
                 "<= 4");
    }
    for (const char *name : perFrameConfigurations) {
        printRow(std::string("the same, 1920x1080 window, ") + name,
                 frameMilliseconds(files.rgbeFlat, name, largeWindow), largeCopy.constData(),
                 waitedLargeCopy, "<= 4");
    }

    const double warpLayers = frameMilliseconds(files.ldr, eightBitConfiguration, window);
    printRow("warp frame, layered scene", warpLayers, viewCopy.constData(), waitedCopy, "<= 12");
    printRow("warp frame, cluttered scene",
             frameMilliseconds(clutterFile, eightBitConfiguration, window), viewCopy.constData(),
             waitedCopy, "<= 16");
    for (const char *name : perFrameConfigurations) {
        printRow(std::string("photoreceptor frame with disparity, ") + name,
                 frameMilliseconds(files.rgbe, name, window), "8-bit warp frame", warpLayers,
                 "<= 1.15");
    }

    // Each build in a process of its own, as a viewer builds one plane: one build after another
    // in this process would inherit what the last one left (the 8-bit build takes half as long
    // again after the shared Reinhard stage's). A build takes about a second, the median of three
    // of them is affordable.
    const auto buildMilliseconds = [&](const QString &path, const char *configuration) {
        return medianOfThree([&] { return buildInProcessOfItsOwn(path, configuration); });
    };
    for (const auto &[stage, configuration] : planeStages) {
        printRow(std::string("RGBE plane build with disparity, ") + stage + " stage",
                 buildMilliseconds(files.rgbe, configuration), "read + upload", rgbeFloor,
                 std::string(stage) == "bilateral" ? "<= 5" : "<= 3");
    }
    const double ldrBuild = buildMilliseconds(files.ldr, eightBitConfiguration);
    printRow("8-bit plane build with disparity", ldrBuild, "read + upload", ldrFloor, "<= 1.5");
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
    "views. Each line prints the figure, its floor, their ratio and the ratio aimed at. "
    "Takes --size (default 512), --grid and --frames; run on a quiet machine.",
    &runTable,
    nullptr,
};
