#pragma once

// What several benchmarks measure with or print alike.

#include "deliverables/BuildConfiguration.h"

#include <QByteArray>
#include <QOpenGLFunctions_3_3_Core>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class LightfieldReader;
class QCommandLineParser;
class QStringList;

using Bytes = std::vector<std::uint8_t>;

// PSNR of the RGB channels, 8-bit scale.
double psnr(const Bytes &a, const Bytes &b);

// Memory in use through malloc and new, exact to the byte: resident memory moves in the steps in
// which the allocator takes and returns whole regions, a leak moves this.
double heapMegabytes();
// Resident memory of the process; -1 where /proc does not say.
double residentMegabytes();

// GL texture names alive.
int liveTextures(QOpenGLFunctions_3_3_Core *gl);

// Timings wait for the GL: a driver may queue the commands and only run them at the next
// synchronisation, which would leave the work out of the time.
void finishGl();

// Hands the memory that the process freed back to the system. A plane build or floor measured
// after it finds memory as a viewer's one build does: what it keeps comes fresh from the system,
// while what it frees along the way (a view's upload, its intermediate textures) is reused for the
// next view, as the allocator does within any process. Without it, a build would reuse the
// planes that earlier figures of the run freed, and run faster than in a viewer.
void returnFreedMemory();

// The median of three runs of a timing: one run that the system's writing back of a file just
// written, or another process, interrupts can take several times as long, and every ratio to it
// would move with it.
double medianOfThree(const std::function<double()> &timing);

// CPU seconds of the whole process, every thread of it (the driver's among them).
double processCpuSeconds();

// The .lf2d files named after the command; empty after saying that none is.
QStringList fileArguments(const QCommandLineParser &options);

// "64x64 views, 3x3 grid, RGBE with disparity"
QByteArray lightfieldSummary(const LightfieldReader &reader);

// What pipeline and idle run: the build configuration that --config names on the first file
// named after the command.
struct ProgramOnFile
{
    const BuildConfiguration *configuration = nullptr;
    QString file;
};

// Nothing after saying that the file or the configuration is missing.
std::optional<ProgramOnFile> programOnFile(const QCommandLineParser &options);

// The configurations that --configs names, all of them without it; empty after a message when a
// name is unknown or none is given.
std::vector<const BuildConfiguration *> chosenConfigurations(const QCommandLineParser &options);
