// lfbench soak: whether memory and live GL textures stay flat over many frames of every build.

#include "BenchPipeline.h"
#include "BenchScene.h"
#include "BenchSupport.h"
#include "Benchmarks.h"
#include "FrameTiming.h"

#include <QCommandLineParser>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Every configuration for many frames while the camera sweeps the grid: resident memory and live
// GL textures before and after, and whether they stayed flat.
int runSoak(GLTestContext &offscreen, const QCommandLineParser &options)
{
    const std::vector<const BuildConfiguration *> configurations = chosenConfigurations(options);
    if (configurations.empty())
        return 2;
    const synth::SceneOptions sceneOptions = sceneFromOptions(options, 96, SceneChoice::LayersOnly);
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
            LoadedPipeline pipeline = buildPipeline(path, configuration);
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

} // namespace

const Benchmark soakBenchmark = {
    "soak",
    "lfbench soak: every build configuration (or --configs) for 10000 frames (or --frames) "
    "with the camera sweeping a grid of 96x96 views (or --size) with disparity, on the RGBE "
    "light field and once on the 8-bit one; prints resident memory, the memory in use through "
    "the allocator and live GL textures before and after, and the trend of the memory in use: "
    "sampled after each ninth of the frames, the lowest sample of the last third of the run "
    "less the lowest of the first. The driver takes and gives back chunks of about 1 MiB, and "
    "may keep one to the end: growth of 1 MiB or more counts only when the floor rose both "
    "from the first third to the middle one and from there to the last (otherwise the "
    "verdict is 'flat (one step)'). Exits 1 on such growth or when the live textures "
    "changed.",
    &runSoak,
    nullptr,
};
