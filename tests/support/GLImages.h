#pragma once

#include <QImage>
#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLTexture>
#include <QString>

#include <cstdint>
#include <vector>

// A framebuffer object bound with GL_COLOR_ATTACHMENT0 as its draw buffer, for the passes under
// test; detached and unbound again when it goes.
class ScopedFramebuffer
{
public:
    explicit ScopedFramebuffer(QOpenGLFunctions_3_3_Core *gl);
    ~ScopedFramebuffer();
    GLuint name() const { return m_name; }

private:
    QOpenGLFunctions_3_3_Core *m_gl;
    GLuint m_name = 0;
};

// Level 0 of a 2D texture, in GL's row order (row 0 at the bottom), 4 values per texel.
std::vector<float> readTextureFloats(QOpenGLFunctions_3_3_Core *gl, QOpenGLTexture *texture,
                                     int width, int height);
std::vector<std::uint8_t> readTextureBytes(QOpenGLFunctions_3_3_Core *gl, QOpenGLTexture *texture,
                                           int width, int height);

// A float RGBA image in GL row order, for comparisons.
struct RgbaImage
{
    int width = 0;
    int height = 0;
    std::vector<float> texels; // 4 per texel, row 0 at the bottom

    float at(int x, int y, int channel) const
    {
        return texels[(size_t(y) * width + x) * 4 + channel];
    }
};

struct ImageDifference
{
    double maximum = 0.0; // largest absolute channel difference
    double mean = 0.0; // mean absolute channel difference over the counted texels
    double psnr = 0.0; // dB, for values in 0..1
    int counted = 0; // texels compared
};

// Differences of the RGB channels over the texels where mask is true (all when mask is empty).
ImageDifference compareRgb(const RgbaImage &actual, const RgbaImage &expected,
                           const std::vector<bool> &mask = {});

// Writes actual, expected and their amplified difference as PNG files (upright) into the test
// output directory, and returns where they are.
QString saveComparison(const QString &name, const RgbaImage &actual, const RgbaImage &expected);

// Upright 8-bit picture of an image, values clamped to 0..1.
QImage toQImage(const RgbaImage &image);

// The directory for pictures of failed comparisons.
QString testOutputDirectory();
