#include "FolderImages.h"

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>

namespace folder {
namespace {

// Bounds that keep every size computed from them far from overflowing.
constexpr int maxViewSide = 16384;

bool isFloatingPoint(OIIO::TypeDesc format)
{
    return format.basetype == OIIO::TypeDesc::HALF || format.basetype == OIIO::TypeDesc::FLOAT
        || format.basetype == OIIO::TypeDesc::DOUBLE;
}

} // namespace

void cannotRead(const std::string &what, const std::string &path, const std::string &error)
{
    // OpenImageIO names the file itself; once is enough.
    std::string reason = trimmed(error);
    const std::string prefix = "Invalid image file " + inQuotes(path) + ": ";
    if (reason.compare(0, prefix.size(), prefix) == 0)
        reason.erase(0, prefix.size());
    if (reason.empty())
        reason = "unreadable image";
    throw std::runtime_error("Cannot read " + what + " " + inQuotes(path) + ": " + reason);
}

std::string inQuotes(const std::string &path)
{
    return "\"" + path + "\"";
}

std::string sizeText(int width, int height)
{
    return std::to_string(width) + " x " + std::to_string(height);
}

float radiance(float value)
{
    if (!(value > 0.0f))
        return 0.0f;
    return std::min(value, FLT_MAX);
}

std::string trimmed(std::string text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    return text;
}

ImageFacts probe(const std::string &what, const std::string &path)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        throw std::runtime_error("The " + what + " " + inQuotes(path) + " is missing");
    auto input = OIIO::ImageInput::open(path);
    if (!input)
        cannotRead(what, path, OIIO::geterror());
    const OIIO::ImageSpec &header = input->spec();
    if (header.width < 1 || header.height < 1 || header.width > maxViewSide
        || header.height > maxViewSide) {
        throw std::runtime_error(
            "The " + what + " " + inQuotes(path) + " is " + sizeText(header.width, header.height)
            + " pixels; views may be 1 to " + std::to_string(maxViewSide) + " pixels on a side");
    }
    return {header.width, header.height, isFloatingPoint(header.format)};
}

// A one-channel PFM of an upright, row-major map. The reader of image files has no PFM writer;
// the format is a text header and the rows bottom-up, little-endian as the negative scale says.
void writePfm(const std::string &path, int width, int height, const std::vector<float> &map)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "Pf\n" << width << " " << height << "\n-1.0\n";
    for (int y = height - 1; y >= 0 && out; --y) {
        for (int x = 0; x < width; ++x) {
            const float value = map[std::size_t(y) * width + x];
            std::uint32_t bits = 0;
            std::memcpy(&bits, &value, sizeof bits);
            const char bytes[4] = {char(bits & 0xff), char((bits >> 8) & 0xff),
                                   char((bits >> 16) & 0xff), char(bits >> 24)};
            out.write(bytes, 4);
        }
    }
    out.close();
    if (!out) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        throw std::runtime_error("Cannot write " + inQuotes(path) + ": " + std::strerror(errno));
    }
}

Image readImage(const std::string &what, const std::string &path, int channels)
{
    OIIO::ImageBuf buffer(path);
    if (!buffer.read(0, 0, true, OIIO::TypeDesc::FLOAT))
        cannotRead(what, path, buffer.geterror());
    const int stored = buffer.nchannels() >= 3 && channels == 3 ? 3 : 1;
    OIIO::ROI roi = buffer.roi();
    roi.zend = roi.zbegin + 1;
    roi.chbegin = 0;
    roi.chend = stored;
    std::vector<float> pixels(roi.npixels() * stored);
    if (!buffer.get_pixels(roi, OIIO::TypeDesc::FLOAT, pixels.data()))
        cannotRead(what, path, buffer.geterror());
    Image image {roi.width(), roi.height(), channels,
                 std::vector<float>(roi.npixels() * std::size_t(channels))};
    for (std::size_t pixel = 0; pixel < roi.npixels(); ++pixel) {
        for (int c = 0; c < channels; ++c)
            image.values[pixel * channels + c] = pixels[pixel * stored + (stored == 1 ? 0 : c)];
    }
    return image;
}

Image cropped(const Image &image, int left, int top, int width, int height)
{
    Image result {width, height, image.channels,
                  std::vector<float>(std::size_t(width) * height * image.channels)};
    for (int y = 0; y < height; ++y) {
        const float *from =
            image.values.data() + (std::size_t(top + y) * image.width + left) * image.channels;
        std::copy(from, from + std::size_t(width) * image.channels,
                  result.values.begin() + std::size_t(y) * width * image.channels);
    }
    return result;
}

Image shrunk(const Image &image, int width, int height)
{
    OIIO::ImageBuf source(
        OIIO::ImageSpec(image.width, image.height, image.channels, OIIO::TypeDesc::FLOAT),
        const_cast<float *>(image.values.data()));
    OIIO::ImageBuf scaled(OIIO::ImageSpec(width, height, image.channels, OIIO::TypeDesc::FLOAT));
    // Positive weights everywhere: a bright lamp does not ring into dark halos.
    if (!OIIO::ImageBufAlgo::resize(scaled, source, "blackman-harris"))
        throw std::runtime_error("Cannot shrink a view: " + trimmed(scaled.geterror()));
    Image result {width, height, image.channels,
                  std::vector<float>(std::size_t(width) * height * image.channels)};
    if (!scaled.get_pixels(OIIO::ROI::All(), OIIO::TypeDesc::FLOAT, result.values.data()))
        throw std::runtime_error("Cannot shrink a view: " + trimmed(scaled.geterror()));
    return result;
}

Image shrunkNearest(const Image &map, int width, int height)
{
    Image result {width, height, 1, std::vector<float>(std::size_t(width) * height)};
    for (int y = 0; y < height; ++y) {
        const int sourceY = std::min(map.height - 1, int((y + 0.5) * map.height / height));
        for (int x = 0; x < width; ++x) {
            const int sourceX = std::min(map.width - 1, int((x + 0.5) * map.width / width));
            result.values[std::size_t(y) * width + x] =
                map.values[std::size_t(sourceY) * map.width + sourceX];
        }
    }
    return result;
}

std::vector<float> propagated(const Image &reference, double shiftColumns, double shiftRows)
{
    const int width = reference.width;
    const int height = reference.height;
    constexpr float empty = -std::numeric_limits<float>::infinity();
    std::vector<float> map(std::size_t(width) * height, empty);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const float d = reference.values[std::size_t(y) * width + x];
            const long targetX = std::lround(x - d * shiftColumns);
            const long targetY = std::lround(y - d * shiftRows);
            if (targetX < 0 || targetX >= width || targetY < 0 || targetY >= height)
                continue;
            float &slot = map[std::size_t(targetY) * width + targetX];
            slot = std::max(slot, d);
        }
    }

    const auto fillAlong = [&](bool rows) {
        const int lines = rows ? height : width;
        const int length = rows ? width : height;
        const auto at = [&](int line, int i) -> float & {
            return rows ? map[std::size_t(line) * width + i] : map[std::size_t(i) * width + line];
        };
        std::vector<float> before(length);
        for (int line = 0; line < lines; ++line) {
            float last = empty;
            for (int i = 0; i < length; ++i) {
                if (at(line, i) != empty)
                    last = at(line, i);
                before[i] = last;
            }
            float next = empty;
            for (int i = length - 1; i >= 0; --i) {
                if (at(line, i) != empty) {
                    next = at(line, i);
                    continue;
                }
                const float left = before[i];
                if (left != empty && next != empty)
                    at(line, i) = std::min(left, next);
                else if (left != empty || next != empty)
                    at(line, i) = std::max(left, next);
            }
        }
    };
    fillAlong(true);
    fillAlong(false);
    // A reference with no pixel that lands in this view at all: the farthest disparity it has.
    float farthest = std::numeric_limits<float>::infinity();
    for (float d : reference.values)
        farthest = std::min(farthest, d);
    for (float &d : map) {
        if (d == empty)
            d = farthest;
    }
    return map;
}

} // namespace folder
