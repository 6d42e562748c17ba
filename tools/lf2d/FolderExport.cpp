#include "FolderImages.h"
#include "ImageFolder.h"

#include "lightfield/LightfieldReader.h"
#include "lightfield/Rgbe.h"

#include <OpenImageIO/imageio.h>

#include <QUrl>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <stdexcept>

namespace folder {

ExportSummary exportLightfield(const std::string &lightfield, const std::string &directory)
{
    std::unique_ptr<LightfieldReader> reader;
    try {
        reader = std::make_unique<LightfieldReader>(
            QUrl::fromLocalFile(QString::fromStdString(lightfield)));
    } catch (const std::string &message) {
        throw std::runtime_error(message);
    }
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        throw std::runtime_error("Cannot create the folder " + inQuotes(directory) + ": "
                                 + error.message());
    }

    const int columns = reader->columns();
    const int rows = reader->rows();
    const int digits = std::max<int>(2, std::to_string(std::max(columns, rows) - 1).size());
    const std::string digitsText = std::to_string(digits);
    const std::string base = (std::filesystem::path(directory) / "").string();
    ExportSummary summary;
    summary.views = base + "view_{row:0" + digitsText + "}_{col:0" + digitsText + "}"
        + (reader->isHdr() ? ".exr" : ".png");
    if (reader->hasDisparity())
        summary.disparities =
            base + "disparity_{row:0" + digitsText + "}_{col:0" + digitsText + "}.pfm";
    const NamePattern viewNames(summary.views);
    const NamePattern mapNames(reader->hasDisparity() ? summary.disparities : summary.views);

    const int width = reader->width();
    const int height = reader->height();
    const auto write = [&](const std::string &path, int channels, OIIO::TypeDesc format,
                           const std::vector<unsigned char> &bytes, bool rgbe) {
        const OIIO::ImageSpec layout(width, height, channels, format);
        std::vector<float> floats;
        std::vector<unsigned char> rgb;
        const void *pixels = nullptr;
        // Stored rows are bottom-up, image files top-down.
        for (int y = 0; y < height; ++y) {
            const unsigned char *row = bytes.data() + std::size_t(height - 1 - y) * width * 4;
            for (int x = 0; x < width; ++x) {
                const unsigned char *texel = row + std::size_t(x) * 4;
                if (rgbe) {
                    float value[3];
                    decodeRgbe(texel, value);
                    floats.insert(floats.end(), value, value + channels);
                } else {
                    rgb.insert(rgb.end(), texel, texel + 3);
                }
            }
        }
        pixels = rgbe ? static_cast<const void *>(floats.data()) : rgb.data();
        if (channels == 1) {
            writePfm(path, width, height, floats);
            return;
        }
        auto out = OIIO::ImageOutput::create(path);
        if (!out || !out->open(path, layout) || !out->write_image(format, pixels)
            || !out->close()) {
            const std::string reason = out ? out->geterror() : OIIO::geterror();
            std::filesystem::remove(path, error);
            throw std::runtime_error("Cannot write " + inQuotes(path) + ": " + trimmed(reason));
        }
    };

    try {
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < columns; ++column) {
                reader->readNextViewImages(
                    [&](FeatureLayer layer, const std::vector<unsigned char> &bytes) {
                        if (layer == FeatureLayer::RgbeDisparity)
                            write(mapNames.name(column, row, columns, 0), 1, OIIO::TypeDesc::FLOAT,
                                  bytes, true);
                        else if (reader->isHdr())
                            write(viewNames.name(column, row, columns, 0), 3, OIIO::TypeDesc::FLOAT,
                                  bytes, true);
                        else
                            write(viewNames.name(column, row, columns, 0), 3, OIIO::TypeDesc::UINT8,
                                  bytes, false);
                    });
                ++summary.viewCount;
            }
        }
    } catch (const std::string &message) {
        throw std::runtime_error(message);
    }
    return summary;
}

} // namespace folder
