#pragma once

// The synthetic scene that warp, estimate, hdr and soak write: its command-line options and the
// light fields made of it.

#include "SyntheticScene.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>

class QCommandLineParser;
class QTemporaryDir;

// --size, --scene and --grid.
QList<QCommandLineOption> sceneCommandLineOptions();

// Whether a benchmark takes --scene. hdr and soak measure tone mapping and memory, which the
// layered scene shows as well as any; they leave --scene alone.
enum class SceneChoice
{
    LayersOrClutter,
    LayersOnly,
};

// The scene the options ask for, its views defaultSize × defaultSize unless --size is given.
synth::SceneOptions sceneFromOptions(const QCommandLineParser &options, int defaultSize,
                                     SceneChoice choice);

// One scene written as RGBE and 8-bit light fields, with and without disparity.
struct HdrFiles
{
    QString rgbe;
    QString rgbeFlat; // no disparity
    QString ldr;
    QString ldrFlat;
};

HdrFiles writeHdrFiles(const QTemporaryDir &directory, const synth::SceneOptions &base);
