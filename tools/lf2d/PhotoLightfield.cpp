#include "PhotoLightfield.h"

#include "Lf2dWriter.h"

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace photo {
namespace {

// Shrinking by less than this would soften every pixel to bring in only a thin strip of the
// scene; cropping keeps the photograph's own pixels instead.
constexpr double smallestKeptScale = 0.8;

// Upright, row-major, 3 floats per pixel.
struct Picture
{
    int width = 0;
    int height = 0;
    std::vector<float> rgb;
};

std::string sizeText(long width, long height)
{
    return std::to_string(width) + " x " + std::to_string(height);
}

bool isFloatingPoint(OIIO::TypeDesc format)
{
    return format.basetype == OIIO::TypeDesc::HALF || format.basetype == OIIO::TypeDesc::FLOAT
        || format.basetype == OIIO::TypeDesc::DOUBLE;
}

// Light fields hold non-negative radiance. Negative values come from colour-space conversions
// and noise in dark regions, not-a-number from broken pixels; both read as black. Infinity is the
// brightest value RGBE can hold.
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

[[noreturn]] void unreadable(const std::string &path, const std::string &error)
{
    // OpenImageIO names the file too; once is enough.
    std::string what = trimmed(error);
    const std::string prefix = "Invalid image file \"" + path + "\": ";
    if (what.compare(0, prefix.size(), prefix) == 0)
        what.erase(0, prefix.size());
    throw std::runtime_error("Cannot read photograph \"" + path + "\": " + what);
}

Picture readPicture(const std::string &path, bool *hdr)
{
    OIIO::ImageBuf image(path);
    if (!image.read(0, 0, true, OIIO::TypeDesc::FLOAT))
        unreadable(path, image.geterror());
    *hdr = isFloatingPoint(image.nativespec().format);

    // Only the first slice of a volume, and red, green and blue, or one grey channel.
    const int channels = image.nchannels() >= 3 ? 3 : 1;
    OIIO::ROI roi = image.roi();
    roi.zend = roi.zbegin + 1;
    roi.chbegin = 0;
    roi.chend = channels;
    std::vector<float> pixels(roi.npixels() * channels);
    if (!image.get_pixels(roi, OIIO::TypeDesc::FLOAT, pixels.data()))
        unreadable(path, image.geterror());

    Picture picture {roi.width(), roi.height(), std::vector<float>(roi.npixels() * 3)};
    for (std::size_t pixel = 0; pixel < roi.npixels(); ++pixel) {
        for (int c = 0; c < 3; ++c) {
            const float value = pixels[pixel * channels + (channels == 3 ? c : 0)];
            picture.rgb[pixel * 3 + c] = *hdr ? radiance(value) : value;
        }
    }
    return picture;
}

Picture shrink(Picture &picture, int width, int height)
{
    OIIO::ImageBuf source(OIIO::ImageSpec(picture.width, picture.height, 3, OIIO::TypeDesc::FLOAT),
                          picture.rgb.data());
    OIIO::ImageBuf scaled(OIIO::ImageSpec(width, height, 3, OIIO::TypeDesc::FLOAT));
    // Blackman-Harris weights are positive everywhere: a lamp or the sun does not ring into dark
    // halos, as it would through the negative lobes of a sharper filter.
    if (!OIIO::ImageBufAlgo::resize(scaled, source, "blackman-harris"))
        throw std::runtime_error("Cannot shrink the photograph: " + trimmed(scaled.geterror()));
    Picture result {width, height, std::vector<float>(std::size_t(width) * height * 3)};
    if (!scaled.get_pixels(OIIO::ROI::All(), OIIO::TypeDesc::FLOAT, result.rgb.data()))
        throw std::runtime_error("Cannot shrink the photograph: " + trimmed(scaled.geterror()));
    return result;
}

synth::FloatImage crop(const Picture &picture, int left, int top, int width, int height)
{
    synth::FloatImage view;
    view.width = width;
    view.height = height;
    view.rgb.resize(std::size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const float *from = picture.rgb.data() + (std::size_t(top + y) * picture.width + left) * 3;
        std::copy(from, from + std::size_t(width) * 3,
                  view.rgb.begin() + std::size_t(y) * width * 3);
    }
    return view;
}

} // namespace

PhotoPlan planViews(int photoWidth, int photoHeight, const PhotoOptions &options)
{
    const long marginX = long(options.columns - 1) * options.step;
    const long marginY = long(options.rows - 1) * options.step;
    const long needWidth = std::max(options.width, 1) + marginX;
    const long needHeight = std::max(options.height, 1) + marginY;
    if (needWidth > photoWidth || needHeight > photoHeight) {
        std::string views;
        if (options.width > 0 && options.height > 0)
            views = ", " + sizeText(options.width, options.height) + " each";
        else if (options.width > 0)
            views = ", " + std::to_string(options.width) + " pixels wide";
        else if (options.height > 0)
            views = ", " + std::to_string(options.height) + " pixels high";
        throw std::runtime_error(
            "it is " + sizeText(photoWidth, photoHeight) + " pixels, too small for a "
            + sizeText(options.columns, options.rows) + " grid of views "
            + std::to_string(options.step) + " pixels apart" + views + ": that needs at least "
            + sizeText(needWidth, needHeight) + " pixels");
    }

    // The smallest scale that still holds the grid, raised as far as the sides left to choose
    // may grow without passing the cap.
    double scale = std::max(double(needWidth) / photoWidth, double(needHeight) / photoHeight);
    if (options.width <= 0 || options.height <= 0) {
        double grown = 1.0;
        if (options.width <= 0)
            grown = std::min(grown, double(defaultViewSideCap + marginX) / photoWidth);
        if (options.height <= 0)
            grown = std::min(grown, double(defaultViewSideCap + marginY) / photoHeight);
        scale = std::max(scale, grown);
    }

    PhotoPlan plan;
    plan.scaledWidth = photoWidth;
    plan.scaledHeight = photoHeight;
    if (scale < smallestKeptScale) {
        plan.scaledWidth = int(std::max(needWidth, std::lround(scale * photoWidth)));
        plan.scaledHeight = int(std::max(needHeight, std::lround(scale * photoHeight)));
    }
    plan.viewWidth = options.width > 0
        ? options.width
        : int(std::min<long>(defaultViewSideCap, plan.scaledWidth - marginX));
    plan.viewHeight = options.height > 0
        ? options.height
        : int(std::min<long>(defaultViewSideCap, plan.scaledHeight - marginY));
    plan.left = int((plan.scaledWidth - marginX - plan.viewWidth) / 2);
    plan.top = int((plan.scaledHeight - marginY - plan.viewHeight) / 2);
    return plan;
}

PhotoSummary writePhotoLightfield(const std::string &photoPath, const std::string &outputPath,
                                  const PhotoOptions &options)
{
    PhotoSummary summary;
    Picture picture = readPicture(photoPath, &summary.hdr);
    summary.photoWidth = picture.width;
    summary.photoHeight = picture.height;
    try {
        summary.plan = planViews(picture.width, picture.height, options);
    } catch (const std::runtime_error &error) {
        throw std::runtime_error("Cannot use photograph \"" + photoPath + "\": " + error.what());
    }
    const PhotoPlan &plan = summary.plan;
    if (plan.scaledWidth != picture.width || plan.scaledHeight != picture.height)
        picture = shrink(picture, plan.scaledWidth, plan.scaledHeight);

    LightfieldHeader header =
        synth::gridHeader(plan.viewWidth, plan.viewHeight, options.columns, options.rows);
    header.viewSpacing = options.viewSpacing;
    header.isHdr = summary.hdr;
    header.hasDisparity = options.disparity;
    // Moving the crop window right by step pixels moves the scene left by as much in the next view:
    // every pixel has disparity step.
    header.maxDisparity = options.step;
    synth::writeLightfield(
        outputPath, header,
        [&](int column, int row) {
            return crop(picture, plan.left + column * options.step, plan.top + row * options.step,
                        plan.viewWidth, plan.viewHeight);
        },
        [&](int, int) {
            return std::vector<float>(std::size_t(plan.viewWidth) * plan.viewHeight,
                                      float(options.step));
        });
    return summary;
}

} // namespace photo
