// lfbench hdr: what tone-mapping RGBE light fields costs each build, at load and per frame.

#include "BenchPipeline.h"
#include "BenchScene.h"
#include "BenchSupport.h"
#include "Benchmarks.h"
#include "FrameTiming.h"

#include <QCommandLineParser>
#include <QSize>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

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

int runHdr(GLTestContext &offscreen, const QCommandLineParser &options)
{
    const std::vector<const BuildConfiguration *> configurations = chosenConfigurations(options);
    if (configurations.empty())
        return 2;
    const synth::SceneOptions sceneOptions =
        sceneFromOptions(options, 512, SceneChoice::LayersOnly);
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
    auto measure = [&](const QString &path,
                       const std::function<void(HdrRow &, LoadedPipeline &)> &run) {
        for (HdrRow &row : rows) {
            if (!row.problem.empty())
                continue;
            try {
                LoadedPipeline pipeline = buildPipeline(path, *row.configuration);
                run(row, pipeline);
            } catch (const std::string &message) {
                row.problem = message;
            }
        }
    };

    HdrFrames ldr;
    double copyView = 0.0, copyLarge = 0.0;
    {
        LoadedPipeline pipeline = buildPipeline(files.ldrFlat, first);
        QOpenGLTexture *texture = anyPlaneTexture(pipeline.stages->plane());
        copyView = copyMilliseconds(offscreen, texture, size, size, std::min(frames, 200));
        copyLarge = copyMilliseconds(offscreen, texture, largeWindow.width(), largeWindow.height(),
                                     std::min(frames, 200));
        ldr.flat = timeFrames(offscreen, pipeline, size, size, frames).milliseconds;
    }
    measure(files.rgbeFlat, [&](HdrRow &row, LoadedPipeline &pipeline) {
        row.frames.flat = timeFrames(offscreen, pipeline, size, size, frames).milliseconds;
    });

    std::optional<FrameFigures> memory;
    const BuildConfiguration *memoryConfiguration = nullptr;
    {
        LoadedPipeline pipeline = buildPipeline(files.ldr, first);
        ldr.view = timeFrames(offscreen, pipeline, size, size, frames).milliseconds;
    }
    measure(files.rgbe, [&](HdrRow &row, LoadedPipeline &pipeline) {
        row.buildMilliseconds = pipeline.buildMilliseconds;
        const FrameFigures figures = timeFrames(offscreen, pipeline, size, size, frames);
        row.frames.view = figures.milliseconds;
        if (!memory) {
            memory = figures;
            memoryConfiguration = row.configuration;
        }
    });

    {
        LoadedPipeline pipeline = buildPipeline(files.ldr, first);
        ldr.large =
            timeFrames(offscreen, pipeline, largeWindow.width(), largeWindow.height(), frames)
                .milliseconds;
    }
    measure(files.rgbe, [&](HdrRow &row, LoadedPipeline &pipeline) {
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

const Benchmark hdrBenchmark = {
    "hdr",
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
    "--frames 10000 for the memory check).",
    &runHdr,
    nullptr,
};
