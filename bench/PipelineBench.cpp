// lfbench pipeline: the whole per-frame pipeline of any build on any .lf2d file.

#include "BenchPipeline.h"
#include "BenchSupport.h"
#include "Benchmarks.h"
#include "FrameTiming.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <QSize>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

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

int runPipeline(GLTestContext &offscreen, const QCommandLineParser &options)
{
    const std::optional<ProgramOnFile> program = programOnFile(options);
    if (!program)
        return 2;
    const BuildConfiguration *configuration = program->configuration;
    const QString &file = program->file;
    const int frames = options.value(QStringLiteral("frames")).toInt();

    std::optional<QSize> window;
    if (options.isSet(QStringLiteral("window"))) {
        window = parseSize(options.value(QStringLiteral("window")));
        if (!window) {
            std::fprintf(stderr, "lfbench: --window takes a size such as 1920x1080\n");
            return 2;
        }
    }

    std::optional<PassTally> buildPasses;
    if (options.isSet(QStringLiteral("passes")))
        buildPasses.emplace();
    LoadedPipeline pipeline = buildPipeline(file, *configuration);
    const std::vector<PassTime> buildPassTimes =
        buildPasses ? buildPasses->perRun(1) : std::vector<PassTime>();
    buildPasses.reset();
    const LightfieldReader &reader = *pipeline.reader;
    if (!window)
        window = QSize(reader.width(), reader.height());
    const int width = window->width(), height = window->height();
    const FrameFigures figures = timeFrames(offscreen, pipeline, width, height, frames);
    const double copy = copyMilliseconds(offscreen, anyPlaneTexture(pipeline.stages->plane()),
                                         width, height, std::min(frames, 200));
    const double waitedCopy =
        copyMilliseconds(offscreen, anyPlaneTexture(pipeline.stages->plane()), width, height,
                         std::min(frames, 200), CopyTiming::Waited);

    std::printf("%s on %s: %s, %dx%d window\n", configuration->name.c_str(), qPrintable(file),
                lightfieldSummary(reader).constData(), width, height);
    // Read after the build, so that both find the file in the page cache.
    const double readAndUpload = readAndUploadMilliseconds(file);
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
    if (options.isSet(QStringLiteral("passes"))) {
        std::printf("\nplane build per pass, each waited for (ms)       wall      CPU\n");
        for (const PassTime &pass : buildPassTimes)
            std::printf("  %-40s %8.3f %8.3f\n", pass.name.c_str(), pass.wall, pass.cpu);
        std::printf("\nper pass, each waited for (ms per frame)          wall      CPU\n");
        for (const PassTime &pass : passMilliseconds(offscreen, pipeline, width, height, frames))
            std::printf("  %-40s %8.3f %8.3f\n", pass.name.c_str(), pass.wall, pass.cpu);
    }
    return 0;
}

} // namespace

const Benchmark pipelineBenchmark = {
    "pipeline",
    "lfbench pipeline FILE: runs the whole per-frame pipeline of one build configuration on a "
    ".lf2d file while the camera moves, in a window of the view size or of --window, and "
    "prints the plane build time next to the floor of reading the file and uploading its "
    "views, the time per frame, the copy floor (one plain textured quad, the copies queued "
    "back to back: a software driver overlaps them, so this is well below a frame's copy), "
    "the same copy waited for each time as a frame is by its buffer swap, and resident "
    "memory and live GL textures before and after the frames.",
    &runPipeline,
    nullptr,
};
