#pragma once

class GLTestContext;
class QCommandLineParser;
class QString;

// One command of lfbench.
struct Benchmark
{
    const char *name;
    const char *help; // its paragraph of lfbench --help
    // Runs in the offscreen context with the shaders loaded, and returns the exit status.
    int (*run)(GLTestContext &offscreen, const QCommandLineParser &options);
    // Instead of run, for a benchmark that opens a window of its own on the display.
    int (*runOnDisplay)(const QCommandLineParser &options);
};

extern const Benchmark warpBenchmark;
extern const Benchmark pipelineBenchmark;
extern const Benchmark hdrBenchmark;
extern const Benchmark soakBenchmark;
extern const Benchmark estimateBenchmark;
extern const Benchmark idleBenchmark;
extern const Benchmark bilateralBenchmark;
extern const Benchmark refocusBenchmark;
extern const Benchmark tableBenchmark;
extern const Benchmark buildBenchmark;

// The time of one plane build in a process of its own ("lfbench build"), in ms; NaN after a
// message when the process fails.
double buildInProcessOfItsOwn(const QString &file, const char *configuration);
