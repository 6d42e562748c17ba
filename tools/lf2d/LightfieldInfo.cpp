#include "LightfieldInfo.h"

#include "lightfield/LightfieldReader.h"
#include "lightfield/Rgbe.h"

#include <QUrl>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>

namespace info {
namespace {

// The header is one short line; a file that starts otherwise shows only what fits here.
constexpr std::size_t maxHeaderLine = 200;

std::string firstLine(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::string line;
    char c = 0;
    while (line.size() < maxHeaderLine && in.get(c) && c != '\n')
        line += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
    return line;
}

std::string number(double value, int precision)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*g", precision, value);
    return text;
}

} // namespace

double ViewLuminance::stops() const
{
    return lowest > 0.0 ? std::log2(highest / lowest) : 0.0;
}

LightfieldInfo inspectLightfield(const std::string &path)
{
    LightfieldInfo info;
    info.headerLine = firstLine(path);
    try {
        LightfieldReader reader(QUrl::fromLocalFile(QString::fromStdString(path)));
        info.header = reader.header();
        const LightfieldHeader &header = info.header;
        info.lowestDisparity = std::numeric_limits<float>::infinity();
        info.highestDisparity = -info.lowestDisparity;
        for (int row = 0; row < header.rows; ++row) {
            for (int column = 0; column < header.columns; ++column) {
                reader.readNextViewImages(
                    [&](FeatureLayer layer, const std::vector<unsigned char> &bytes) {
                        if (layer == FeatureLayer::RgbeDisparity) {
                            // The same value is stored in all three channels; red stands for them.
                            for (std::size_t i = 0; i < bytes.size(); i += 4) {
                                float d[3];
                                decodeRgbe(&bytes[i], d);
                                info.lowestDisparity = std::min(info.lowestDisparity, d[0]);
                                info.highestDisparity = std::max(info.highestDisparity, d[0]);
                            }
                        } else if (header.isHdr) {
                            ViewLuminance view {column, row,
                                                std::numeric_limits<double>::infinity(), 0.0};
                            for (std::size_t i = 0; i < bytes.size(); i += 4) {
                                float rgb[3];
                                decodeRgbe(&bytes[i], rgb);
                                const double luminance =
                                    0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2];
                                if (luminance > 0.0)
                                    view.lowest = std::min(view.lowest, luminance);
                                view.highest = std::max(view.highest, luminance);
                            }
                            if (view.highest == 0.0)
                                view.lowest = 0.0;
                            info.luminance.push_back(view);
                        }
                    });
            }
        }
        if (!header.hasDisparity)
            info.lowestDisparity = info.highestDisparity = 0.0f;
        info.valid = true;
    } catch (const std::string &message) {
        info.problem = message;
    }
    return info;
}

std::string describe(const LightfieldInfo &info)
{
    std::string text = "Header:     " + info.headerLine + "\n";
    if (!info.valid)
        return text + "Checks:     failed: " + info.problem + "\n";
    const LightfieldHeader &header = info.header;
    text += "Checks:     passed: the viewer reads the header and all "
        + std::to_string(header.columns * header.rows) + " views\n";
    text += "Grid:       " + std::to_string(header.columns) + " x " + std::to_string(header.rows)
        + " views of " + std::to_string(header.width) + " x " + std::to_string(header.height)
        + " pixels, " + std::to_string(header.viewSpacing) + " window pixels of drag per view\n";
    text +=
        std::string("Colour:     ") + (header.isHdr ? "RGBE (high dynamic range)" : "8-bit") + "\n";
    if (!header.hasDisparity) {
        text += "Disparity:  none (the viewer shows the nearest stored view)\n";
    } else {
        text += "Disparity:  " + number(info.lowestDisparity, 4) + " to "
            + number(info.highestDisparity, 4) + " pixels per view step stored, bound "
            + std::to_string(header.maxDisparity) + " in the header\n";
        if (info.highestDisparity > float(header.maxDisparity)) {
            text += "            warning: disparities above the header's bound are never found "
                    "by the warp\n";
        }
    }
    if (header.isHdr) {
        double lowest = std::numeric_limits<double>::infinity();
        double highest = 0.0;
        for (const ViewLuminance &view : info.luminance) {
            if (view.lowest > 0.0)
                lowest = std::min(lowest, view.lowest);
            highest = std::max(highest, view.highest);
        }
        const double stops =
            lowest > 0.0 && std::isfinite(lowest) ? std::log2(highest / lowest) : 0.0;
        text += "Luminance:  " + number(std::isfinite(lowest) ? lowest : 0.0, 4) + " to "
            + number(highest, 4) + " over all views, " + number(stops, 3)
            + " stops (black texels left out)\n";
        for (const ViewLuminance &view : info.luminance) {
            text += "  view " + std::to_string(view.column) + "," + std::to_string(view.row) + ": "
                + number(view.lowest, 4) + " to " + number(view.highest, 4) + ", "
                + number(view.stops(), 3) + " stops\n";
        }
    }
    return text;
}

} // namespace info
