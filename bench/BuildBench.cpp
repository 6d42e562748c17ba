// lfbench build: one plane build in a process of its own, as a viewer builds its one plane.

#include "BenchPipeline.h"
#include "BenchSupport.h"
#include "Benchmarks.h"

#include "Lf2dWriter.h"
#include "SyntheticScene.h"
#include "lightfield/LightfieldReader.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>

#include <cmath>
#include <cstdio>
#include <optional>

namespace {

int runBuild(GLTestContext &, const QCommandLineParser &options)
{
    const std::optional<ProgramOnFile> program = programOnFile(options);
    if (!program)
        return 2;
    // The driver compiles each pass's shader for the state it meets at its first draw. A small
    // light field of the same kind built first takes that out of the figure, as builds measured
    // one after another in a process never had it in theirs.
    synth::SceneOptions small;
    small.columns = small.rows = 2;
    small.width = small.height = 64;
    {
        const LightfieldReader file(QUrl::fromLocalFile(program->file));
        small.hdr = file.isHdr();
        small.disparity = file.hasDisparity();
    }
    QTemporaryDir directory;
    const QString warmUp = directory.filePath(QStringLiteral("warm-up.lf2d"));
    synth::writeLightfield(synth::SyntheticScene(small), warmUp.toStdString());
    buildPipeline(warmUp, *program->configuration);

    const double milliseconds =
        buildPipeline(program->file, *program->configuration).buildMilliseconds;
    std::printf("plane build %.3f ms\n", milliseconds);
    return 0;
}

} // namespace

double buildInProcessOfItsOwn(const QString &file, const char *configuration)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("build"), file, QStringLiteral("--config"),
                 QString::fromLatin1(configuration)});
    const bool finished = child.waitForFinished(300000);
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("plane build ([0-9.]+) ms"))
            .match(QString::fromLocal8Bit(child.readAllStandardOutput()));
    if (!finished || child.exitCode() != 0 || !match.hasMatch()) {
        std::fprintf(stderr, "lfbench: building %s with %s in a process of its own failed: %s\n",
                     qPrintable(file), configuration,
                     qPrintable(finished ? QString::fromLocal8Bit(child.readAllStandardError())
                                         : QStringLiteral("no end after 300 s")));
        return std::nan("");
    }
    return match.captured(1).toDouble();
}

const Benchmark buildBenchmark = {
    "build",
    "lfbench build FILE: builds the plane of one build configuration (--config) on a .lf2d file "
    "once, after a small light field of the same kind (which has the driver compile the "
    "passes' shaders), and prints the time. lfbench table runs each of its builds so, in a "
    "process of its own: builds one after another in one process leave the allocator and the "
    "driver in states that slow the next build by up to half.",
    runBuild,
    nullptr,
};
