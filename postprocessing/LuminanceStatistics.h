#pragma once

#include "lightfield/FeatureLayers.h"
#include "viewer/gpu/ScreenQuad.h"

#include <QRect>

#include <array>
#include <cstdint>
#include <utility>

// The statistics of an RGBE view (or of several, blended or pooled), in the order of the
// TonemappingParameter values 0 to 7 they become: average red, green, blue and luminance, the mean
// of ln(L + 0.00001), the smallest and largest luminance, and the contrast exponent m of the
// photoreceptor operator. The one shape they take from the CPU measurement through the plane's
// parameters to the operator's uniforms; a contrast of 0 leaves the operator to derive one.
struct LuminanceStatistics
{
    std::array<double, 8> values {};

    double averageRed() const { return values[AverageRed]; }
    double averageGreen() const { return values[AverageGreen]; }
    double averageBlue() const { return values[AverageBlue]; }
    double averageLuminance() const { return values[AverageLuminance]; }
    double averageLogLuminance() const { return values[AverageLogLuminance]; }
    double minLuminance() const { return values[MinLuminance]; }
    double maxLuminance() const { return values[MaxLuminance]; }
    double contrast() const { return values[Contrast]; }
};

// The parameters a view's statistics are stored as, AverageRed to Contrast.
inline const KeyList viewStatisticsParameters = {
    AverageRed,          AverageGreen, AverageBlue,  AverageLuminance,
    AverageLogLuminance, MinLuminance, MaxLuminance, Contrast};

// The statistics a slot of a camera's view carries as parameters (absent ones 0).
LuminanceStatistics statisticsOf(const CameraView &view, int slot = CameraView::Own);

// The statistics of count RGBE texels (R, G, B, E bytes each; a channel is mantissa ×
// 2^(E − 136)), with the precision the viewer has always used: scale and products in single
// precision, luminance summed in double and rounded to single, sums in double, the logarithm in
// single precision. The minimum starts at 100000 and the maximum at 0.
LuminanceStatistics luminanceStatisticsOf(const std::uint8_t *rgbeTexels, std::int64_t count);

// The smallest and largest luminance of count RGBE texels, exactly as luminanceStatisticsOf
// measures them, without its sums and logarithms.
std::pair<double, double> luminanceRangeOf(const std::uint8_t *rgbeTexels, std::int64_t count);

// m = 0.3 + 0.7·k^1.4 with the key k = (ln max − avgLog) / (ln max − ln min). The key is kept in
// [0, 1] and is 0 where it is not a number: a dim view makes it negative (only the log average is
// offset by 0.00001), a flat or black one 0/0, and a view with a black texel −∞ in the
// denominator. The contrast is therefore always in [0.3, 1].
double contrastExponent(double averageLogLuminance, double minLuminance, double maxLuminance);

// The region of a pass that runs only inside `drawn` and leaves opaque black outside it: what a
// tone-mapping pass makes of the transparent black a camera leaves where its views do not reach.
DrawnRegion opaqueBlackAround(const QRect &drawn);

// The statistics of an RGBE texture of width × height texels, read back from the GPU.
LuminanceStatistics computeLuminanceStatistics(QOpenGLTexture &rgbe, int width, int height);

// The smallest and largest luminance of an 8-bit image, as bytes 0 to 255, measured by a pyramid
// of passes that each take the extremes of blocks of 8 x 8 texels (8 x 4 in the first; rounding
// up) down to a level of at most 256 texels, which is read back and reduced on the CPU.
// With `drawn`, the image is black outside it, and only the texels inside are measured. Runs
// inside FramebufferPasses; the image is left as it is.
std::pair<int, int> reduceMinMaxLuminance(QOpenGLTexture &image, int width, int height,
                                          const QRect *drawn = nullptr);

// Stretches the luminance range [minimum, maximum] (bytes) of an 8-bit image onto the full 8-bit
// range, consuming the image. A range that is empty or reversed (a flat or black picture) leaves
// the image as it is. Runs inside FramebufferPasses.
// With `drawn`, the image is opaque black outside it, and so is the result.
OwnedTexture normalizeLuminance(OwnedTexture image, int width, int height, int minimum, int maximum,
                                const QRect *drawn = nullptr);
