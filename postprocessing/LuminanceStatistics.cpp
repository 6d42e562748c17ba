#include "LuminanceStatistics.h"

#include "Parallel.h"
#include "TexelMaths.h"
#include "lightfield/Rgbe.h"
#include "viewer/gpu/GpuPass.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {

// Where the search for the smallest luminance starts, as the statistics have always had it: a
// view brighter than this everywhere reports it as its minimum.
constexpr float minimumStart = 100000.0f;

// What the statistics of a run of texels add up.
struct TexelSums
{
    double sums[5] = {}; // red, green, blue, luminance, log luminance
    float minimum = minimumStart;
    float maximum = 0.0f;
};

// The texels go in runs: one loop decodes a run and one takes its logarithms, each of which the
// compiler vectorizes (with AVX2 where the processor has it), and one adds the run up in texel
// order, as a single loop over the texels did.
WIDE_VECTOR_CLONES
TexelSums sumsOfTexels(const std::uint8_t *rgbeTexels, std::int64_t count)
{
    const std::array<float, 256> &scales = rgbeSingleScales();
    constexpr int run = 256;
    float red[run], green[run], blue[run], luminance[run], logarithm[run];
    TexelSums total;
    double *sums = total.sums;
    float minimum = minimumStart;
    float maximum = 0.0f;
    for (std::int64_t start = 0; start < count; start += run) {
        const int n = int(std::min<std::int64_t>(run, count - start));
        const std::uint8_t *texels = rgbeTexels + start * 4;
        for (int i = 0; i < n; ++i) {
            const float scale = scales[texels[i * 4 + 3]];
            red[i] = float(texels[i * 4]) * scale;
            green[i] = float(texels[i * 4 + 1]) * scale;
            blue[i] = float(texels[i * 4 + 2]) * scale;
            luminance[i] = channelLuminance(red[i], green[i], blue[i]);
        }
        for (int i = 0; i < n; ++i)
            logarithm[i] = naturalLog(luminance[i] + 0.00001f);
        for (int i = 0; i < n; ++i) {
            maximum = std::max(luminance[i], maximum);
            minimum = std::min(luminance[i], minimum);
            sums[0] += red[i];
            sums[1] += green[i];
            sums[2] += blue[i];
            sums[3] += luminance[i];
            sums[4] += logarithm[i];
        }
    }
    total.minimum = minimum;
    total.maximum = maximum;
    return total;
}

WIDE_VECTOR_CLONES
std::pair<double, double> rangeOfTexels(const std::uint8_t *rgbeTexels, std::int64_t count)
{
    const std::array<float, 256> &scales = rgbeSingleScales();
    float minimum = minimumStart;
    float maximum = 0.0f;
    for (std::int64_t i = 0; i < count; ++i) {
        const float luminance = texelLuminanceWith(rgbeTexels + i * 4, scales);
        minimum = std::min(luminance, minimum);
        maximum = std::max(luminance, maximum);
    }
    return {minimum, maximum};
}

} // namespace

std::pair<double, double> luminanceRangeOf(const std::uint8_t *rgbeTexels, std::int64_t count)
{
    // The extremes come out the same whichever parts the texels are taken in.
    std::pair<double, double> range {minimumStart, 0.0};
    for (const auto &[minimum, maximum] :
         partResults(count, parallelTexels, [rgbeTexels](std::int64_t begin, std::int64_t end) {
             return rangeOfTexels(rgbeTexels + begin * 4, end - begin);
         }))
        range = {std::min(range.first, minimum), std::max(range.second, maximum)};
    return range;
}

LuminanceStatistics luminanceStatisticsOf(const std::uint8_t *rgbeTexels, std::int64_t count)
{
    // The parts' sums are added in part order: the averages differ from those of one loop over
    // all texels by rounding in the last places of a double, far below the float they are kept
    // in.
    TexelSums total;
    for (const TexelSums &part :
         partResults(count, parallelTexels, [rgbeTexels](std::int64_t begin, std::int64_t end) {
             return sumsOfTexels(rgbeTexels + begin * 4, end - begin);
         })) {
        for (int i = 0; i < 5; ++i)
            total.sums[i] += part.sums[i];
        total.minimum = std::min(total.minimum, part.minimum);
        total.maximum = std::max(total.maximum, part.maximum);
    }

    LuminanceStatistics statistics;
    const double n = double(count);
    for (int i = 0; i < 5; ++i)
        statistics.values[size_t(i)] = count > 0 ? total.sums[i] / n : 0.0;
    statistics.values[5] = total.minimum;
    statistics.values[6] = total.maximum;
    statistics.values[7] = contrastExponent(statistics.values[4], total.minimum, total.maximum);
    return statistics;
}

LuminanceStatistics statisticsOf(const CameraView &view, int slot)
{
    LuminanceStatistics statistics;
    for (int parameter : viewStatisticsParameters)
        statistics.values[size_t(parameter)] = double(view.getParameter(parameter, slot));
    return statistics;
}

double contrastExponent(double averageLogLuminance, double minLuminance, double maxLuminance)
{
    const double logMax = std::log(maxLuminance);
    double key = (logMax - averageLogLuminance) / (logMax - std::log(minLuminance));
    if (!std::isfinite(key))
        key = 0.0;
    key = std::clamp(key, 0.0, 1.0);
    return 0.3 + 0.7 * std::pow(key, 1.4);
}

DrawnRegion opaqueBlackAround(const QRect &drawn)
{
    return {drawn.x(), drawn.y(), drawn.width(), drawn.height(), {0.0f, 0.0f, 0.0f, 1.0f}};
}

LuminanceStatistics computeLuminanceStatistics(QOpenGLTexture &rgbe, int width, int height)
{
    const std::vector<std::uint8_t> texels = readTextureBytes(rgbe, width, height);
    return luminanceStatisticsOf(texels.data(), std::int64_t(width) * std::int64_t(height));
}

namespace {

// The side of the blocks each reduction pass takes the extremes of (the shaders' `block`).
constexpr int reductionBlock = 8;
// The first pass's blocks are this many rows tall ("MinMaxLuminance.frag").
constexpr int firstBlockHeight = 4;
// A level of at most this many texels is read back and reduced here: the read waits for the
// passes before it either way, and takes no longer for a few hundred texels than for one, where
// every further pass costs a draw, a texture and a framebuffer attachment.
constexpr int readBackTexels = 256;

int blocksAcross(int texels)
{
    return (texels + reductionBlock - 1) / reductionBlock;
}

} // namespace

std::pair<int, int> reduceMinMaxLuminance(QOpenGLTexture &image, int width, int height,
                                          const QRect *drawn)
{
    // Black outside what was drawn adds its luminance, 0, to the range; the pyramid measures the
    // rest. The first pass takes blocks of 8 x 4 texels, the rest 8 x 8, so even a 1920 x 1080
    // picture needs only three small passes after reading every texel once.
    const QRect whole(0, 0, width, height);
    const QRect measured = drawn ? drawn->intersected(whole) : whole;
    const bool blackOutside = measured != whole;
    if (measured.isEmpty())
        return {0, 0};
    int levelWidth = blocksAcross(measured.width());
    int levelHeight = (measured.height() + firstBlockHeight - 1) / firstBlockHeight;
    OwnedTexture level = runPass({"luminance range", shaderProgram(ShaderProgram::MinMaxLuminance),
                                  levelWidth, levelHeight, PassFormat::Rgba8},
                                 {{&image, 0}}, [&](QOpenGLShaderProgram &program) {
                                     program.setUniformValue("textureImage", 0);
                                     program.setUniformValue("left", measured.left());
                                     program.setUniformValue("bottom", measured.top());
                                     program.setUniformValue("measuredWidth", measured.width());
                                     program.setUniformValue("measuredHeight", measured.height());
                                 });

    while (levelWidth * levelHeight > readBackTexels) {
        const int nextWidth = blocksAcross(levelWidth);
        const int nextHeight = blocksAcross(levelHeight);
        level =
            runPass({"luminance range reduction", shaderProgram(ShaderProgram::MinMaxLuminanceLoop),
                     nextWidth, nextHeight, PassFormat::Rgba8},
                    {{level.get(), 0}}, [&](QOpenGLShaderProgram &program) {
                        program.setUniformValue("textureImage", 0);
                        program.setUniformValue("hRes", levelWidth);
                        program.setUniformValue("vRes", levelHeight);
                    });
        levelWidth = nextWidth;
        levelHeight = nextHeight;
    }

    const std::vector<std::uint8_t> texels = readTextureBytes(*level, levelWidth, levelHeight);
    std::uint8_t minimum = 255;
    std::uint8_t maximum = 0;
    for (size_t i = 0; i < texels.size(); i += 4) {
        minimum = std::min(minimum, texels[i]);
        maximum = std::max(maximum, texels[i + 1]);
    }
    return {blackOutside ? 0 : minimum, maximum};
}

OwnedTexture normalizeLuminance(OwnedTexture image, int width, int height, int minimum, int maximum,
                                const QRect *drawn)
{
    // Black stays black under any stretch: its luminance is never above the range's minimum.
    const DrawnRegion region = drawn ? opaqueBlackAround(*drawn) : DrawnRegion {};
    return runPass({"luminance normalisation", shaderProgram(ShaderProgram::NormalizeLuminance),
                    width, height, PassFormat::Rgba8, nullptr, drawn ? &region : nullptr},
                   {{image.get(), 0}}, [&](QOpenGLShaderProgram &program) {
                       program.setUniformValue("textureImage", 0);
                       program.setUniformValue("minLuminance", minimum);
                       program.setUniformValue("maxLuminance", maximum);
                   });
}
