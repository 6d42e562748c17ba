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

std::string headerText(const SyntheticScene &scene)
{
    const SceneOptions &o = scene.options();
    constexpr int reservedValue = 0;
    return std::to_string(o.width) + " " + std::to_string(o.height) + " "
        + std::to_string(o.columns * o.rows) + " " + std::to_string(o.columns) + " "
        + std::to_string(o.viewSpacing) + " " + std::to_string(reservedValue) + " "
        + (o.hdr ? "1" : "0") + " " + (o.disparity ? "1" : "0") + " "
        + std::to_string(scene.maxDisparity()) + "\n";
}

} // namespace

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

void writeLightfield(const SyntheticScene &scene, const std::string &path)
{
    const auto fail = [&path](const std::string &what) {
        std::remove(path.c_str());
        throw std::runtime_error("Cannot write light field \"" + path + "\": " + what);
    };

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("Cannot write light field \"" + path
                                 + "\": " + std::strerror(errno));

    const SceneOptions &o = scene.options();
    const auto put = [&](const void *bytes, std::size_t size) {
        out.write(static_cast<const char *>(bytes), std::streamsize(size));
        if (!out)
            fail(std::strerror(errno));
    };
    const std::string header = headerText(scene);
    put(header.data(), header.size());
    for (int row = 0; row < o.rows; ++row) {
        for (int column = 0; column < o.columns; ++column) {
            const FloatImage view = scene.renderView(column, row);
            const std::vector<std::uint8_t> colour = o.hdr ? toFileRgbe(view) : toFileRgba8(view);
            put(colour.data(), colour.size());
            if (o.disparity) {
                const std::vector<std::uint8_t> disparity =
                    disparityToFileRgbe(scene.disparityMap(column, row), o.width, o.height);
                put(disparity.data(), disparity.size());
            }
        }
    }
    out.close();
    if (!out)
        fail(std::strerror(errno));
}

} // namespace synth
