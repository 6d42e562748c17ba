// lfbench bilateral: what the bilateral plane stage takes to load a light field, with its filter
// approximated by the bilateral grid as the programs do, with the window sampled in cells and
// with every texel, and the view it makes.

#include "BenchSupport.h"
#include "Benchmarks.h"
#include "FrameTiming.h"
#include "lightfield/LightfieldReader.h"
#include "postprocessing/BilateralPlaneStage.h"
#include "viewer/gpu/GpuPass.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QUrl>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

// Builds what load makes of the file at path and prints the wall-clock and CPU seconds it took,
// the GL's work included: the CPU of the whole process, the driver's threads among it, is the
// fairer figure on a shared machine.
void printLoad(const char *what, const QString &path,
               const std::function<std::unique_ptr<LightfieldPlane>(LightfieldReader &)> &load)
{
    LightfieldReader reader(QUrl::fromLocalFile(path));
    QElapsedTimer timer;
    const double cpuBefore = processCpuSeconds();
    timer.start();
    // The plane lives until the GL has finished drawing it.
    const std::unique_ptr<LightfieldPlane> plane = load(reader);
    finishGl();
    std::printf("%-30s %7.2f s wall %7.2f s CPU\n", what, timer.nsecsElapsed() / 1e9,
                processCpuSeconds() - cpuBefore);
    std::fflush(stdout);
}

// View (0, 0) of the file as both bilateral programs show it, written into directory as PNG.
bool writePictures(const QString &path, const QString &directory)
{
    for (bool useDisparity : {false, true}) {
        LightfieldReader reader(QUrl::fromLocalFile(path));
        const auto plane = buildBilateralPlane(&reader, useDisparity);
        const Bytes bytes =
            readTextureBytes(*plane->layerAt(0, 0, LdrRgb), reader.width(), reader.height());
        // The GL's rows run bottom-up.
        const QImage picture = QImage(bytes.data(), reader.width(), reader.height(),
                                      reader.width() * 4, QImage::Format_RGBA8888)
                                   .mirrored();
        const QString name = QFileInfo(path).completeBaseName()
            + (useDisparity ? QStringLiteral("-bilateral-disparity.png")
                            : QStringLiteral("-bilateral.png"));
        const QString out = QDir(directory).filePath(name);
        if (!picture.save(out)) {
            std::fprintf(stderr, "lfbench bilateral: cannot write %s\n", qPrintable(out));
            return false;
        }
        std::printf("%s\n", qPrintable(out));
    }
    return true;
}

int runBilateral(GLTestContext &, const QCommandLineParser &options)
{
    const QStringList files = fileArguments(options);
    if (files.isEmpty())
        return 2;
    const bool disparity = !options.isSet(QStringLiteral("no-disparity"));
    const QString pictures = options.value(QStringLiteral("pictures"));
    if (!pictures.isEmpty() && !QDir().mkpath(pictures)) {
        std::fprintf(stderr, "lfbench bilateral: cannot make %s\n", qPrintable(pictures));
        return 1;
    }
    for (const QString &path : files) {
        {
            const LightfieldReader reader(QUrl::fromLocalFile(path));
            if (!reader.isHdr()) {
                std::fprintf(stderr,
                             "lfbench bilateral: %s holds 8-bit views; the stage "
                             "tone-maps RGBE ones\n",
                             qPrintable(path));
                return 2;
            }
            std::printf("%s: %s\n", qPrintable(path), lightfieldSummary(reader).constData());
        }
        printLoad("reading and uploading views", path, [](LightfieldReader &reader) {
            const std::vector<FeatureLayers> views = readEveryView(reader);
            finishGl();
            return nullptr;
        });
        printLoad("stage, bilateral grid", path, [&](LightfieldReader &reader) {
            return buildBilateralPlane(&reader, disparity);
        });
        printLoad("stage, 5 x 5 cells", path, [&](LightfieldReader &reader) {
            return buildBilateralPlane(&reader, disparity, BilateralSampling::FiveByFiveCells);
        });
        if (!options.isSet(QStringLiteral("cells-only"))) {
            printLoad("stage, every texel", path, [&](LightfieldReader &reader) {
                return buildBilateralPlane(&reader, disparity, BilateralSampling::EveryTexel);
            });
        }
        if (!pictures.isEmpty() && !writePictures(path, pictures))
            return 1;
    }
    return 0;
}

} // namespace

const Benchmark bilateralBenchmark = {
    "bilateral",
    "lfbench bilateral FILE...: the plane stage of viewer-bilateral-disparity (without its "
    "disparity, as viewer-bilateral, with --no-disparity) on RGBE .lf2d files: prints the "
    "wall-clock and CPU seconds of reading and uploading the views alone, of the stage with "
    "its filter approximated by a bilateral grid as the programs do, with its window sampled "
    "in 5 x 5 cells, and with every texel (left out with --cells-only: it takes about ten "
    "times as long as the cells). With --pictures DIR, also writes "
    "view (0, 0) of each file as both programs show it into DIR as PNG.",
    &runBilateral,
    nullptr,
};
