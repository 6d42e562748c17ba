#include "BenchSupport.h"

#include "lightfield/LightfieldReader.h"

#include <QCommandLineParser>
#include <QFile>
#include <QOpenGLContext>
#include <QOpenGLFunctions>

#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

double psnr(const Bytes &a, const Bytes &b)
{
    double squares = 0.0;
    size_t count = 0;
    for (size_t i = 0; i < a.size(); i += 4) {
        for (int channel = 0; channel < 3; ++channel) {
            const double d = double(a[i + channel]) - double(b[i + channel]);
            squares += d * d;
            ++count;
        }
    }
    const double mse = squares / double(count);
    return mse > 0.0 ? 10.0 * std::log10(255.0 * 255.0 / mse) : 99.0;
}

double heapMegabytes()
{
    return double(mallinfo2().uordblks) / 1048576.0;
}

double residentMegabytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1.0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / 1048576.0
                             : -1.0;
}

// A driver may hand out ever larger names as frames make and destroy textures (then every name
// below the next one is looked at), or the lowest free ones (then the live ones lie well below a
// generous bound).
int liveTextures(QOpenGLFunctions_3_3_Core *gl)
{
    GLuint next = 0;
    gl->glGenTextures(1, &next);
    gl->glDeleteTextures(1, &next);
    int live = 0;
    for (GLuint name = 1; name < std::max<GLuint>(next, 1u << 16); ++name)
        live += gl->glIsTexture(name) == GL_TRUE;
    return live;
}

void finishGl()
{
    QOpenGLContext::currentContext()->functions()->glFinish();
}

void returnFreedMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

double medianOfThree(const std::function<double()> &timing)
{
    double runs[3] = {timing(), timing(), timing()};
    std::sort(std::begin(runs), std::end(runs));
    return runs[1];
}

double processCpuSeconds()
{
    timespec time {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
    return double(time.tv_sec) + double(time.tv_nsec) * 1e-9;
}

QStringList fileArguments(const QCommandLineParser &options)
{
    const QStringList arguments = options.positionalArguments();
    if (arguments.size() < 2)
        std::fprintf(stderr, "lfbench %s: name a .lf2d file\n", qPrintable(arguments.value(0)));
    return arguments.mid(1);
}

QByteArray lightfieldSummary(const LightfieldReader &reader)
{
    return QStringLiteral("%1x%2 views, %3x%4 grid, %5%6")
        .arg(reader.width())
        .arg(reader.height())
        .arg(reader.columns())
        .arg(reader.rows())
        .arg(QLatin1String(reader.isHdr() ? "RGBE" : "8-bit"))
        .arg(QLatin1String(reader.hasDisparity() ? " with disparity" : ""))
        .toLocal8Bit();
}

namespace {

// The configuration of that name, or null after saying there is none.
const BuildConfiguration *namedConfiguration(const QString &name)
{
    const BuildConfiguration *configuration = findBuildConfiguration(name.toStdString());
    if (!configuration)
        std::fprintf(stderr, "lfbench: no build configuration is named %s\n", qPrintable(name));
    return configuration;
}

} // namespace

std::optional<ProgramOnFile> programOnFile(const QCommandLineParser &options)
{
    const QStringList files = fileArguments(options);
    if (files.isEmpty())
        return std::nullopt;
    const BuildConfiguration *configuration =
        namedConfiguration(options.value(QStringLiteral("config")));
    if (!configuration)
        return std::nullopt;
    return ProgramOnFile {configuration, files[0]};
}

std::vector<const BuildConfiguration *> chosenConfigurations(const QCommandLineParser &options)
{
    std::vector<const BuildConfiguration *> configurations;
    if (!options.isSet(QStringLiteral("configs"))) {
        for (const BuildConfiguration &configuration : buildConfigurations())
            configurations.push_back(&configuration);
        return configurations;
    }
    const QStringList names =
        options.value(QStringLiteral("configs")).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &name : names) {
        const BuildConfiguration *configuration = namedConfiguration(name);
        if (!configuration)
            return {};
        configurations.push_back(configuration);
    }
    if (configurations.empty())
        std::fprintf(stderr, "lfbench hdr: --configs names no build configuration\n");
    return configurations;
}
