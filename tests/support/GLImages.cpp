#include "GLImages.h"

#include <QDir>

#include <algorithm>
#include <cmath>

ScopedFramebuffer::ScopedFramebuffer(QOpenGLFunctions_3_3_Core *gl)
    : m_gl(gl)
{
    m_gl->glGenFramebuffers(1, &m_name);
    m_gl->glBindFramebuffer(GL_FRAMEBUFFER, m_name);
    const GLenum drawBuffer = GL_COLOR_ATTACHMENT0;
    m_gl->glDrawBuffers(1, &drawBuffer);
}

ScopedFramebuffer::~ScopedFramebuffer()
{
    m_gl->glBindFramebuffer(GL_FRAMEBUFFER, m_name);
    m_gl->glFramebufferTexture(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, 0, 0);
    m_gl->glBindFramebuffer(GL_FRAMEBUFFER, 0);
    m_gl->glDeleteFramebuffers(1, &m_name);
}

std::vector<float> readTextureFloats(QOpenGLFunctions_3_3_Core *gl, QOpenGLTexture *texture,
                                     int width, int height)
{
    std::vector<float> texels(size_t(width) * height * 4, -1.0f);
    gl->glActiveTexture(GL_TEXTURE0);
    gl->glBindTexture(GL_TEXTURE_2D, texture->textureId());
    gl->glPixelStorei(GL_PACK_ALIGNMENT, 1);
    gl->glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, texels.data());
    gl->glBindTexture(GL_TEXTURE_2D, 0);
    return texels;
}

std::vector<std::uint8_t> readTextureBytes(QOpenGLFunctions_3_3_Core *gl, QOpenGLTexture *texture,
                                           int width, int height)
{
    std::vector<std::uint8_t> texels(size_t(width) * height * 4, 0xCD);
    gl->glActiveTexture(GL_TEXTURE0);
    gl->glBindTexture(GL_TEXTURE_2D, texture->textureId());
    gl->glPixelStorei(GL_PACK_ALIGNMENT, 1);
    gl->glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    gl->glBindTexture(GL_TEXTURE_2D, 0);
    return texels;
}

ImageDifference compareRgb(const RgbaImage &actual, const RgbaImage &expected,
                           const std::vector<bool> &mask)
{
    ImageDifference difference;
    double sum = 0.0;
    double squares = 0.0;
    const size_t texels = size_t(expected.width) * expected.height;
    for (size_t i = 0; i < texels; ++i) {
        if (!mask.empty() && !mask[i])
            continue;
        ++difference.counted;
        for (int channel = 0; channel < 3; ++channel) {
            const double d = std::abs(double(actual.texels[i * 4 + channel])
                                      - double(expected.texels[i * 4 + channel]));
            difference.maximum = std::max(difference.maximum, d);
            sum += d;
            squares += d * d;
        }
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
