#include "GLImages.h"

#include <QDir>

#include <algorithm>
#include <cmath>

ScopedFramebuffer::ScopedFramebuffer()
    : m_framebuffer(Framebuffer::generate())
    , m_passes(m_framebuffer)
{ }

ImageDifference compareRgb(const RgbaImage &actual, const RgbaImage &expected,
                           const std::vector<bool> &mask)
{
    ImageDifference difference;
    double sum = 0.0;
    double squares = 0.0;
    const size_t texels = size_t(expected.width) * expected.height;
    std::vector<double> largest;
    for (size_t i = 0; i < texels; ++i) {
        if (!mask.empty() && !mask[i])
            continue;
        ++difference.counted;
        double texelLargest = 0.0;
        for (int channel = 0; channel < 3; ++channel) {
            const double d = std::abs(double(actual.texels[i * 4 + channel])
                                      - double(expected.texels[i * 4 + channel]));
            texelLargest = std::max(texelLargest, d);
            sum += d;
            squares += d * d;
        }
        difference.maximum = std::max(difference.maximum, texelLargest);
        largest.push_back(texelLargest);
    }
    if (!largest.empty()) {
        const auto at = largest.begin() + std::ptrdiff_t(largest.size() * 99 / 100);
        std::nth_element(largest.begin(), at, largest.end());
        difference.percentile99 = *at;
    }
    const double values = std::max(1, difference.counted * 3);
    difference.mean = sum / values;
    const double mse = squares / values;
    difference.psnr = mse > 0.0 ? 10.0 * std::log10(1.0 / mse) : 99.0;
    return difference;
}

QImage toQImage(const RgbaImage &image)
{
    QImage picture(image.width, image.height, QImage::Format_RGB32);
    for (int y = 0; y < image.height; ++y) {
        // GL row 0 is the bottom of the picture.
        const int row = image.height - 1 - y;
        for (int x = 0; x < image.width; ++x) {
            auto byte = [&](int channel) {
                return int(std::lround(std::clamp(image.at(x, row, channel), 0.0f, 1.0f) * 255.0f));
            };
            picture.setPixel(x, y, qRgb(byte(0), byte(1), byte(2)));
        }
    }
    return picture;
}

QString testOutputDirectory()
{
    const QString directory = QStringLiteral(LF_TEST_OUTPUT_DIR);
    QDir().mkpath(directory);
    return directory;
}

QString saveComparison(const QString &name, const RgbaImage &actual, const RgbaImage &expected)
{
    const QDir directory(testOutputDirectory());
    RgbaImage difference = expected;
    for (size_t i = 0; i < difference.texels.size(); ++i)
        difference.texels[i] =
            std::min(1.0f, 8.0f * std::abs(actual.texels[i] - expected.texels[i]));
    toQImage(actual).save(directory.filePath(name + QStringLiteral("-actual.png")));
    toQImage(expected).save(directory.filePath(name + QStringLiteral("-expected.png")));
    toQImage(difference).save(directory.filePath(name + QStringLiteral("-difference.png")));
    return directory.filePath(name + QStringLiteral("-*.png"));
}
