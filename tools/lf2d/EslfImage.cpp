#include "EslfImage.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <stdexcept>

namespace folder {
namespace {

// Gives every invalid pixel the mean of its valid neighbours along the rows and columns, one
// ring of the holes at a time from their edges inwards, so that a hole takes the colours around
// it rather than one side's. Returns how many pixels were filled; throws std::logic_error when
// the view has no valid pixel to fill them from.
std::int64_t fillInvalid(Image &view, std::vector<std::uint8_t> &valid)
{
    const int width = view.width;
    const int height = view.height;
    std::vector<int> pending;
    for (int i = 0; i < width * height; ++i) {
        if (!valid[std::size_t(i)])
            pending.push_back(i);
    }
    const std::int64_t count = std::int64_t(pending.size());
    struct Fill
    {
        int pixel;
        float colour[3];
    };
    std::vector<Fill> ring;
    std::vector<int> still;
    while (!pending.empty()) {
        ring.clear();
        still.clear();
        for (const int pixel : pending) {
            const int x = pixel % width;
            const int y = pixel / width;
            Fill fill {pixel, {0.0f, 0.0f, 0.0f}};
            int neighbours = 0;
            const auto add = [&](int nx, int ny) {
                if (nx < 0 || ny < 0 || nx >= width || ny >= height)
                    return;
                const std::size_t at = std::size_t(ny) * width + nx;
                if (!valid[at])
                    return;
                for (int c = 0; c < 3; ++c)
                    fill.colour[c] += view.values[at * 3 + c];
                ++neighbours;
            };
            add(x - 1, y);
            add(x + 1, y);
            add(x, y - 1);
            add(x, y + 1);
            if (neighbours == 0) {
                still.push_back(pixel);
                continue;
            }
            for (float &c : fill.colour)
                c /= float(neighbours);
            ring.push_back(fill);
        }
        if (ring.empty())
            throw std::logic_error("no valid pixel");
        for (const Fill &fill : ring) {
            std::copy(fill.colour, fill.colour + 3, view.values.begin() + fill.pixel * 3);
            valid[std::size_t(fill.pixel)] = 1;
        }
        pending.swap(still);
    }
    return count;
}

} // namespace

EslfViews readEslf(const std::string &path, int lenslet, int views)
{
    const ImageFacts image = probe("ESLF image", path);
    EslfViews eslf;
    eslf.lenslet = lenslet;
    eslf.views = views;
    eslf.imageWidth = image.width;
    eslf.imageHeight = image.height;
    if (lenslet < 1 || lenslet > image.width || lenslet > image.height) {
        throw std::runtime_error(
            "The ESLF image " + inQuotes(path) + " is " + sizeText(image.width, image.height)
            + " pixels, too small for a lenslet of " + sizeText(lenslet, lenslet));
    }
    if (views < 1 || views > lenslet) {
        throw std::runtime_error("The ESLF image " + inQuotes(path) + " holds "
                                 + sizeText(lenslet, lenslet) + " views with a lenslet of "
                                 + std::to_string(lenslet) + " pixels; " + sizeText(views, views)
                                 + " asked for");
    }
    eslf.firstAngle = (lenslet - views) / 2;
    const int width = (image.width + lenslet - 1) / lenslet;
    const int height = (image.height + lenslet - 1) / lenslet;
    eslf.facts = {width, height, image.floatingPoint};

    // The alpha channel marks pixels, it does not weigh their colour: the colours as stored.
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto input = OIIO::ImageInput::open(path, &config);
    if (!input)
        cannotRead("ESLF image", path, OIIO::geterror());
    const OIIO::ImageSpec &header = input->spec();
    const int channels = header.nchannels;
    int alpha = header.alpha_channel;
    if (alpha < 0 && (channels == 2 || channels == 4))
        alpha = channels - 1;
    eslf.hasAlpha = alpha >= 0;
    const int colours = channels >= 3 ? 3 : 1;

    const std::size_t viewPixels = std::size_t(width) * height;
    eslf.images.assign(std::size_t(views) * views,
                       Image {width, height, 3, std::vector<float>(viewPixels * 3)});
    std::vector<std::vector<std::uint8_t>> valid(std::size_t(views) * views,
                                                 std::vector<std::uint8_t>(viewPixels, 0));
    // One row of lenslets at a time: the picture itself is never held whole.
    std::vector<float> block(std::size_t(image.width) * lenslet * channels);
    for (int top = 0; top < image.height; top += lenslet) {
        const int bottom = std::min(image.height, top + lenslet);
        if (!input->read_scanlines(0, 0, header.y + top, header.y + bottom, header.z, 0, channels,
                                   OIIO::TypeDesc::FLOAT, block.data()))
            cannotRead("ESLF image", path, input->geterror());
        const int y = top / lenslet;
        for (int row = eslf.firstAngle; row < std::min(bottom - top, eslf.firstAngle + views);
             ++row) {
            const float *line = block.data() + std::size_t(row) * image.width * channels;
            for (int px = 0; px < image.width; ++px) {
                const int u = px % lenslet - eslf.firstAngle;
                if (u < 0 || u >= views)
                    continue;
                const float *pixel = line + std::size_t(px) * channels;
                if (alpha >= 0 && !(pixel[alpha] >= 0.5f))
                    continue;
                const std::size_t view = std::size_t(row - eslf.firstAngle) * views + u;
                const std::size_t at = std::size_t(y) * width + px / lenslet;
                for (int c = 0; c < 3; ++c) {
                    const float value = pixel[colours == 3 ? c : 0];
                    eslf.images[view].values[at * 3 + c] =
                        image.floatingPoint ? radiance(value) : value;
                }
                valid[view][at] = 1;
            }
        }
    }

    for (std::size_t view = 0; view < eslf.images.size(); ++view) {
        try {
            eslf.filled += fillInvalid(eslf.images[view], valid[view]);
        } catch (const std::logic_error &) {
            throw std::runtime_error(
                "The ESLF image " + inQuotes(path) + " has no valid pixel in the view at u "
                + std::to_string(eslf.firstAngle + int(view) % views) + ", v "
                + std::to_string(eslf.firstAngle + int(view) / views) + " of its lenslets");
        }
    }
    return eslf;
}

} // namespace folder
