#include "Lf2dWriter.h"

#include "lightfield/Rgbe.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace synth {
namespace {

std::uint8_t toByte(float value)
{
    return std::uint8_t(std::lround(std::clamp(value, 0.0f, 1.0f) * 255.0f));
}

// Calls texel(sourceIndex, bytes) for every pixel, visiting source rows bottom row first, so that
// the output comes out in file order.
template<typename Texel>
std::vector<std::uint8_t> bottomUp(int width, int height, const Texel &texel)
{
    std::vector<std::uint8_t> bytes(std::size_t(width) * height * 4);
    std::uint8_t *out = bytes.data();
    for (int row = height - 1; row >= 0; --row) {
        for (int column = 0; column < width; ++column, out += 4)
            texel(std::size_t(row) * width + column, out);
    }
    return bytes;
}

} // namespace

LightfieldHeader gridHeader(int width, int height, int columns, int rows)
{
    LightfieldHeader header;
    header.width = width;
    header.height = height;
    header.viewCount = columns * rows;
    header.columns = columns;
    header.rows = rows;
    header.viewSpacing = 20;
    header.viewBytes = std::int64_t(width) * height * 4;
    return header;
}

std::vector<std::uint8_t> toFileRgba8(const FloatImage &image)
{
    return bottomUp(image.width, image.height, [&image](std::size_t pixel, std::uint8_t *out) {
        const float *rgb = image.rgb.data() + 3 * pixel;
        out[0] = toByte(rgb[0]);
        out[1] = toByte(rgb[1]);
        out[2] = toByte(rgb[2]);
        out[3] = 255;
    });
}

std::vector<std::uint8_t> toFileRgbe(const FloatImage &image)
{
    return bottomUp(image.width, image.height, [&image](std::size_t pixel, std::uint8_t *out) {
        const float *rgb = image.rgb.data() + 3 * pixel;
        encodeRgbe(rgb[0], rgb[1], rgb[2], out);
    });
}

std::vector<std::uint8_t> disparityToFileRgbe(const std::vector<float> &disparity, int width,
                                              int height)
{
    if (disparity.size() != std::size_t(width) * height)
        throw std::invalid_argument("disparity map size does not match " + std::to_string(width)
                                    + " x " + std::to_string(height));
    return bottomUp(width, height, [&disparity](std::size_t pixel, std::uint8_t *out) {
        encodeRgbe(disparity[pixel], disparity[pixel], disparity[pixel], out);
    });
}

QImage toDisplayImage(const FloatImage &image, bool hdr)
{
    QImage picture(image.width, image.height, QImage::Format_RGB888);
    for (int row = 0; row < image.height; ++row) {
        const float *rgb = image.rgb.data() + std::size_t(row) * image.width * 3;
        uchar *out = picture.scanLine(row);
        for (int i = 0; i < image.width * 3; ++i) {
            const float value = std::max(0.0f, rgb[i]);
            out[i] = toByte(hdr ? std::pow(value / (1.0f + value), 1.0f / 2.2f) : value);
        }
    }
    return picture;
}

void writeLightfield(const std::string &path, const LightfieldHeader &header,
                     const ViewSource &view, const DisparitySource &disparity)
{
    // Written beside the destination and renamed over it only when complete: a failure, ours or
    // a view source's, leaves neither a truncated light field nor a clobbered earlier one.
    const std::string partial = path + ".partial";
    const auto failure = [&path](const std::string &what) {
        return std::runtime_error("Cannot write light field \"" + path + "\": " + what);
    };

    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    if (!out)
        throw failure(std::strerror(errno));
    try {
        const auto put = [&](const void *bytes, std::size_t size) {
            out.write(static_cast<const char *>(bytes), std::streamsize(size));
            if (!out)
                throw failure(std::strerror(errno));
        };
        const std::string text = lightfieldHeaderText(header);
        put(text.data(), text.size());
        for (int row = 0; row < header.rows; ++row) {
            for (int column = 0; column < header.columns; ++column) {
                const FloatImage image = view(column, row);
                if (image.width != header.width || image.height != header.height)
                    throw failure("a view is " + std::to_string(image.width) + " x "
                                  + std::to_string(image.height) + " pixels, the header says "
                                  + std::to_string(header.width) + " x "
                                  + std::to_string(header.height));
                const std::vector<std::uint8_t> colour =
                    header.isHdr ? toFileRgbe(image) : toFileRgba8(image);
                put(colour.data(), colour.size());
                if (header.hasDisparity) {
                    const std::vector<std::uint8_t> bytes =
                        disparityToFileRgbe(disparity(column, row), header.width, header.height);
                    put(bytes.data(), bytes.size());
                }
            }
        }
        out.close();
        if (!out)
            throw failure(std::strerror(errno));
        if (std::rename(partial.c_str(), path.c_str()) != 0)
            throw failure(std::strerror(errno));
    } catch (...) {
        out.close();
        std::remove(partial.c_str());
        throw;
    }
}

void writeLightfield(const SyntheticScene &scene, const std::string &path)
{
    const SceneOptions &o = scene.options();
    LightfieldHeader header = gridHeader(o.width, o.height, o.columns, o.rows);
    header.viewSpacing = o.viewSpacing;
    header.isHdr = o.hdr;
    header.hasDisparity = o.disparity;
    header.maxDisparity = scene.maxDisparity();
    writeLightfield(
        path, header, [&scene](int column, int row) { return scene.renderView(column, row); },
        [&scene](int column, int row) { return scene.disparityMap(column, row); });
}

} // namespace synth
