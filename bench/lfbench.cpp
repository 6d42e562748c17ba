// Benchmarks of the viewer's GPU work, run offscreen, one command each (see Benchmarks.h):
//
//   lfbench warp      quality of view synthesis against exact views, and its cost per frame
//   lfbench pipeline  the whole per-frame pipeline of any build on any .lf2d file
//   lfbench hdr       what tone-mapping RGBE light fields costs each build, at load and per frame
//   lfbench soak      whether memory and live GL textures stay flat over many frames
//   lfbench estimate  disparity estimated from the views against the exact disparity
//   lfbench idle      the CPU a viewer window takes without input and while dragged
//   lfbench bilateral what the bilateral plane stage takes to load a light field
//   lfbench refocus   the thin lens's pictures against exact ones, and their cost
//   lfbench table     the main frame and load costs as ratios to their floors, in one run
//
// Figures are printed, never judged: speed depends on the machine.

#include "BenchScene.h"
#include "Benchmarks.h"
#include "support/GLTestContext.h"
#include "viewer/LightfieldRenderer.h"
#include "viewer/gpu/ShaderLibrary.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QStringList>

#include <cstdio>
#include <exception>
#include <string>

namespace {

// In the order of --help.
const Benchmark *const benchmarks[] = {
    &warpBenchmark, &pipelineBenchmark,  &hdrBenchmark,     &soakBenchmark,  &estimateBenchmark,
    &idleBenchmark, &bilateralBenchmark, &refocusBenchmark, &tableBenchmark, &buildBenchmark,
};

QString description()
{
    QString text =
        QStringLiteral("Benchmarks of the light-field viewer's GPU work, run offscreen.");
    for (const Benchmark *benchmark : benchmarks)
        text += QStringLiteral("\n\n") + QLatin1String(benchmark->help);
    return text + QStringLiteral("\n\nRun from the directory that holds shaders/.");
}

// "a, b or c"
QString commandNames()
{
    QStringList names;
    for (const Benchmark *benchmark : benchmarks)
        names << QLatin1String(benchmark->name);
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

const Benchmark *findBenchmark(const QString &name)
{
    for (const Benchmark *benchmark : benchmarks) {
        if (name == QLatin1String(benchmark->name))
            return benchmark;
    }
    return nullptr;
}

} // namespace

int main(int argc, char *argv[])
{
    // The camera logs its position every frame, which would bury the figures.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    QSurfaceFormat::setDefaultFormat(viewerSurfaceFormat());
    QGuiApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(description());
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("command"), commandNames());
    parser.addOptions(sceneCommandLineOptions());
    parser.addOptions({
        {QStringLiteral("positions"),
         QStringLiteral("warp, estimate: fractional positions measured (default 64)."),
         QStringLiteral("N"), QStringLiteral("64")},
        {QStringLiteral("noise"),
         QStringLiteral("estimate: Gaussian noise added to the views, in 8-bit levels (default "
                        "0)."),
         QStringLiteral("SIGMA"), QStringLiteral("0")},
        {QStringLiteral("disparity-range"),
         QStringLiteral("estimate: the disparities searched (default: found by a coarse "
                        "search)."),
         QStringLiteral("MIN,MAX")},
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
        {QStringLiteral("no-disparity"),
         QStringLiteral("bilateral: the stage leaves the file's disparity out, as viewer-bilateral "
                        "does.")},
        {QStringLiteral("cells-only"),
         QStringLiteral("bilateral: the grid and the window sampled in cells, not every texel.")},
        {QStringLiteral("pictures"),
         QStringLiteral("bilateral: writes view (0, 0) of each file, as both programs show it, "
                        "into DIR."),
         QStringLiteral("DIR")},
        {QStringLiteral("passes"),
         QStringLiteral("pipeline: also the time of each pass, every pass waited for.")},
        {QStringLiteral("cost-only"), QStringLiteral("refocus: only the frame cost.")},
        {QStringLiteral("quick"), QStringLiteral("refocus: no 1920x1080 frames.")},
        {QStringLiteral("rows"), QStringLiteral("refocus: every picture's figures.")},
    });
    parser.process(application);
    const Benchmark *benchmark = findBenchmark(parser.positionalArguments().value(0));

    if (parser.value(QStringLiteral("frames")).toInt() < 1) {
        std::fprintf(stderr, "lfbench: --frames takes a number of at least 1\n");
        return 2;
    }

    // A window of its own on the display, not the offscreen context.
    if (benchmark && benchmark->runOnDisplay)
        return benchmark->runOnDisplay(parser);

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
        if (benchmark)
            return benchmark->run(offscreen, parser);
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
