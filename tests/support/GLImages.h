#pragma once

#include "viewer/gpu/GpuPass.h"

#include <QImage>
#include <QString>

#include <cstdint>
#include <vector>

// A framebuffer of the test's own, bound for passes while the object lives (readTextureBytes and
// readTextureFloats of the pass toolkit read the results back).
class ScopedFramebuffer
{
public:
    ScopedFramebuffer();
    GLuint name() const { return m_framebuffer.name(); }

private:
    Framebuffer m_framebuffer;
    FramebufferPasses m_passes;
};

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
    double percentile99 = 0.0; // of the texels' largest channel difference
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
