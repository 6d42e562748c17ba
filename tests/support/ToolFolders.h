#pragma once

#include "lightfield/Rgbe.h"
#include "support/StoredLightfield.h"
#include "support/ToolRun.h"

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>

#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstring>

// What the tests of 'lf2d import' and 'lf2d export' share: the tool's run, what it stored, and
// the files they write for it.

inline ToolRun lf2d(const QStringList &arguments)
{
    return runTool(QStringLiteral(LF2D_PATH), arguments);
}

inline QString describe(const ToolRun &run)
{
    return QStringLiteral("exit %1\n%2%3").arg(run.exitCode).arg(run.output, run.errors);
}

inline float storedDisparity(const Lightfield &lightfield, int column, int row, int x, int y)
{
    float value[3];
    decodeRgbe(lightfield.texel(column, row, x, y, true), value);
    return value[0];
}

inline bool sameTexel(const std::uint8_t *a, const std::uint8_t *b)
{
    return std::memcmp(a, b, 4) == 0;
}

// PFM, which the image library reads but does not write: a text header ("Pf" for one channel,
// "PF" for three), a scale whose sign gives the byte order, then the rows bottom-up. Every channel
// of a colour map holds the first channel of map.
inline void writePfm(const QString &to, const OIIO::ImageBuf &map, bool colour = false,
                     bool bigEndian = false)
{
    const OIIO::ROI roi = map.roi();
    QByteArray bytes = QStringLiteral("%1\n%2 %3\n%4\n")
                           .arg(colour ? "PF" : "Pf")
                           .arg(roi.width())
                           .arg(roi.height())
                           .arg(bigEndian ? "1.0" : "-1.0")
                           .toLatin1();
    for (int y = roi.yend - 1; y >= roi.ybegin; --y) {
        for (int x = roi.xbegin; x < roi.xend; ++x) {
            const float value = map.getchannel(x, y, 0, 0);
            std::uint32_t bits = 0;
            std::memcpy(&bits, &value, sizeof bits);
            char word[4];
            for (int i = 0; i < 4; ++i)
                word[bigEndian ? 3 - i : i] = char((bits >> (8 * i)) & 0xff);
            for (int channel = 0; channel < (colour ? 3 : 1); ++channel)
                bytes.append(word, 4);
        }
    }
    QFile file(to);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(to));
}

// Copies the image at from to `to` (the format its name says), keeping the rectangle of `width`
// × `height` pixels at (left, top) and adding `add` to every value.
inline void copyImage(const QString &from, const QString &to, int left, int top, int width,
                      int height, float add = 0.0f)
{
    OIIO::ImageBuf source(from.toStdString());
    OIIO::ImageBuf cut = OIIO::ImageBufAlgo::cut(
        source, OIIO::ROI(left, left + width, top, top + height, 0, 1, 0, source.nchannels()));
    if (add != 0.0f)
        cut = OIIO::ImageBufAlgo::add(cut, add);
    if (to.endsWith(".pfm"))
        writePfm(to, cut);
    else if (!cut.write(to.toStdString()))
        qFatal("cannot write %s: %s", qPrintable(to), cut.geterror().c_str());
}

// The names 'lf2d export' gives a view and its map (without the view's extension).
inline QString viewName(int column, int row)
{
    return QString::asprintf("view_%02d_%02d", row, column);
}

inline QString mapName(int column, int row)
{
    return QString::asprintf("disparity_%02d_%02d.pfm", row, column);
}

// A synthetic light field of 5 × 4 views of 64 × 48 pixels unless the options say otherwise,
// written to folder + ".lf2d" and exported into folder.
inline Lightfield synthesiseFolder(const QString &folder, const QStringList &options = {})
{
    const ToolRun run = lf2d(QStringList {"synth", "--columns", "5", "--rows", "4", "--width", "64",
                                          "--height", "48", "--export", folder}
                             + options + QStringList {folder + ".lf2d"});
    if (run.exitCode != 0)
        qFatal("lf2d synth failed: %s", qPrintable(describe(run)));
    return readLightfield(folder + ".lf2d");
}
