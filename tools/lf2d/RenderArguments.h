#pragma once

#include "lightfield/ThinLens.h"

#include <QPointF>
#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>

struct BuildConfiguration;

// What 'lf2d render' is asked to draw, as its arguments say it.
namespace rendercommand {

enum class Path
{
    None,
    Sweep,
    Circle,
    FocusPull,
};

struct RenderRequest
{
    QString file;
    QString output;
    const BuildConfiguration *configuration = nullptr;
    std::optional<QPointF> position; // none: where the viewer's camera starts
    QSize size; // empty: the view's size
    Path path = Path::None;
    int frames = 1;
    int edgeSamples = 1;
    ThinLens lens; // a pinhole unless asked; a focus pull sets the focus of each frame
    bool disparityView = false; // the disparity of what the picture shows, colour-mapped
};

// Parses everything that does not need the file; returns nothing when the help was asked for
// (and printed). Throws commandline::UsageError for arguments that make no sense.
std::optional<RenderRequest> parseRenderArguments(const QStringList &arguments);

} // namespace rendercommand
