#include "Reinhard05PostProcessors.h"

#include "LinearPlaneStage.h"
#include "LuminanceStatistics.h"
#include "lightfield/LightfieldCamera.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>

namespace {

const KeyList statisticsParameters = {AverageRed,       AverageGreen,        AverageBlue,
                                      AverageLuminance, AverageLogLuminance, MinLuminance,
                                      MaxLuminance};

// The operator's constants, common to both passes.
void setOperatorUniforms(QOpenGLShaderProgram &program, const PhotoreceptorSettings &settings)
{
    program.setUniformValue("textureImage", 0);
    program.setUniformValue("brightness", settings.brightness);
    program.setUniformValue("chromaticAdaptation", settings.chromaticAdaptation);
    program.setUniformValue("lightAdaptation", settings.lightAdaptation);
    program.setUniformValue("preGamma", settings.preGamma);
}

// The stretch of the measured luminance range of the tone-mapped picture onto the full 8-bit
// range. Where a camera's view is larger than what its stored views reach, the passes run only
// where they do; the black around still counts in the range, and the stretch keeps it black.
LuminanceStretch measuredStretch(QOpenGLTexture &mapped, int width, int height, const QRect &drawn)
{
    const auto [minimum, maximum] = reduceMinMaxLuminance(mapped, width, height, &drawn);
    return {minimum, maximum};
}

// The stretch applied by a pass of its own, for callers that take the picture as a texture.
OwnedTexture stretched(OwnedTexture mapped, int width, int height, const QRect &drawn,
                       const LuminanceStretch &stretch)
{
    return normalizeLuminance(std::move(mapped), width, height, stretch.minimum, stretch.maximum,
                              &drawn);
}

// One step of a smoothed value toward its target, which keeps `alpha` of the old value; a value
// that has come within the tolerance of `scale` takes the target. Returns whether it has.
bool smoothTowards(float &smoothed, float target, float alpha, float scale)
{
    smoothed = (1.0f - alpha) * target + alpha * smoothed;
    if (std::abs(smoothed - target) > adaptationTolerance * scale)
        return false;
    smoothed = target;
    return true;
}

// The operator's uniforms for the statistics: one value each in the pass with one set, an array
// of one per view, in the cell's order, in the pass of four.
struct StatisticUniform
{
    int parameter;
    const char *single;
    const char *array;
};
const StatisticUniform statisticUniforms[] = {
    {AverageRed, "averageRed", "averageRed[0]"},
    {AverageGreen, "averageGreen", "averageGreen[0]"},
    {AverageBlue, "averageBlue", "averageBlue[0]"},
    {AverageLuminance, "averageLuminance", "averageLuminance[0]"},
    {AverageLogLuminance, "averageLogLuminance", "averageLogLuminance[0]"},
    {MinLuminance, "minLuminance", "minLuminance[0]"},
    {MaxLuminance, "maxLuminance", "maxLuminance[0]"},
    {Contrast, "m", "m[0]"},
};

// The operator's uniforms for one set of statistics, with the contrast the shader would derive
// derived once here.
void setStatisticUniforms(QOpenGLShaderProgram &program, const LuminanceStatistics &statistics)
{
    LuminanceStatistics given = statistics;
    if (!(given.contrast() > 0.0)) {
        given.values[Contrast] = contrastExponent(given.averageLogLuminance(), given.minLuminance(),
                                                  given.maxLuminance());
    }
    for (const StatisticUniform &uniform : statisticUniforms)
        program.setUniformValue(uniform.single, float(given.values[size_t(uniform.parameter)]));
}

// The variant of the four views' program that leaves out the views without weight. Without
// disparity the camera shows the nearest view, and the views beyond it have no weight wherever
// the camera lies left of or above it: three quarters of the grid.
ShaderProgram programForWeights(const std::array<float, 4> &weights)
{
    const bool right = weights[1] != 0.0f || weights[2] != 0.0f;
    const bool below = weights[2] != 0.0f || weights[3] != 0.0f;
    if (right && below)
        return ShaderProgram::DynamicReinhardTonemapping;
    if (right)
        return ShaderProgram::DynamicReinhardTonemappingOnBaseRow;
    return below ? ShaderProgram::DynamicReinhardTonemappingOnBaseColumn
                 : ShaderProgram::DynamicReinhardTonemappingOnBaseView;
}

} // namespace

TonemappingInterpolatingReinhard05PostProcessor::TonemappingInterpolatingReinhard05PostProcessor(
    PipelineOptions, float brightness)
{
    m_requiredLayers = {TonemappedRgb};
    m_requiredParameters = statisticsParameters;
    m_settings.brightness = brightness;
    initializeOpenGLFunctions();
    m_framebuffer = Framebuffer::generate();
}

OwnedTexture TonemappingInterpolatingReinhard05PostProcessor::process(CameraView &view)
{
    const QRect drawn = view.drawn();
    LuminanceStretch stretch;
    OwnedTexture mapped = processForDisplay(view, stretch);
    FramebufferPasses passes(m_framebuffer);
    return stretched(std::move(mapped), view.width(), view.height(), drawn, stretch);
}

OwnedTexture
TonemappingInterpolatingReinhard05PostProcessor::processForDisplay(CameraView &view,
                                                                   LuminanceStretch &stretch)
{
    const int width = view.width();
    const int height = view.height();
    FramebufferPasses passes(m_framebuffer);
    std::array<LuminanceStatistics, 4> statistics;
    for (size_t i = 0; i < 4; ++i)
        statistics[i] = statisticsOf(view, CameraView::cellSlots[i]);
    // The camera's own weights, so the tone mapping blends the same views the statistics do.
    m_weights = cellWeights(view.getParameter(ViewOffsetX), view.getParameter(ViewOffsetY));
    OwnedTexture input = view.takeLayer(TonemappedRgb);
    const DrawnRegion region = opaqueBlackAround(view.drawn());
    OwnedTexture mapped = runPass(
        {"photoreceptor tone mapping of four views", shaderProgram(programForWeights(m_weights)),
         width, height, PassFormat::Rgba8, nullptr, &region},
        {{input.get(), 0}}, [&](QOpenGLShaderProgram &program) {
            setOperatorUniforms(program, m_settings);
            program.setUniformValueArray("weight[0]", m_weights.data(), 4, 1);
            for (const StatisticUniform &uniform : statisticUniforms) {
                std::array<float, 4> perView;
                for (size_t i = 0; i < 4; ++i)
                    perView[i] = float(statistics[i].values[size_t(uniform.parameter)]);
                program.setUniformValueArray(uniform.array, perView.data(), 4, 1);
            }
        });
    input.reset();
    stretch = measuredStretch(*mapped, width, height, view.drawn());
    return mapped;
}

OwnedTexture photoreceptorTonemap(OwnedTexture input, int width, int height,
                                  const PhotoreceptorSettings &settings,
                                  const LuminanceStatistics &statistics, const QRect *drawn)
{
    const DrawnRegion region = drawn ? opaqueBlackAround(*drawn) : DrawnRegion {};
    return runPass({"photoreceptor tone mapping",
                    shaderProgram(ShaderProgram::ReinhardTonemappingGivenContrast), width, height,
                    PassFormat::Rgba8, nullptr, drawn ? &region : nullptr},
                   {{input.get(), 0}}, [&](QOpenGLShaderProgram &program) {
                       setOperatorUniforms(program, settings);
                       setStatisticUniforms(program, statistics);
                   });
}

OwnedTexture photoreceptorTonemapRgbe(OwnedTexture rgbe, int width, int height,
                                      const PhotoreceptorSettings &settings,
                                      const LuminanceStatistics &statistics,
                                      const LuminanceStretch *stretch)
{
    rgbe->setWrapMode(QOpenGLTexture::MirroredRepeat);
    const ShaderProgram program = stretch ? ShaderProgram::ReinhardTonemappingOfRgbeStretched
                                          : ShaderProgram::ReinhardTonemappingOfRgbe;
    return runPass({stretch ? "photoreceptor tone mapping and stretch of RGBE"
                            : "photoreceptor tone mapping of RGBE",
                    shaderProgram(program), width, height, PassFormat::Rgba8},
                   {{rgbe.get(), 0}}, [&](QOpenGLShaderProgram &pass) {
                       setOperatorUniforms(pass, settings);
                       setStatisticUniforms(pass, statistics);
                       if (stretch) {
                           pass.setUniformValue("stretchMinimum", stretch->minimum);
                           pass.setUniformValue("stretchMaximum", stretch->maximum);
                       }
                   });
}

int smoothedRangeByte(float smoothed)
{
    return int(smoothed + 1e-3f);
}

Reinhard05PostProcessor::Reinhard05PostProcessor(PipelineOptions, float brightness, Clock clock)
    : m_clock(std::move(clock))
{
    m_requiredLayers = {TonemappedRgb};
    m_requiredParameters = statisticsParameters;
    m_settings.brightness = brightness;
    if (!m_clock) {
        auto timer = std::make_shared<QElapsedTimer>();
        timer->start();
        m_clock = [timer] {
            return std::int64_t(timer->elapsed());
        };
    }
    initializeOpenGLFunctions();
    m_framebuffer = Framebuffer::generate();
}

bool Reinhard05PostProcessor::adapt(const CameraView &view)
{
    LuminanceStatistics current = statisticsOf(view);
    // The shader derives the contrast from the smoothed extremes and log average.
    current.values[Contrast] = 0.0;
    const std::int64_t now = m_clock();
    // A picture that has stopped adapting is drawn again only once the view has changed: the
    // time since its last frame passed with the eye adapted to it, and the adaptation to the
    // change starts with this frame.
    if (!m_initialised || !m_adapting)
        m_lastClock = now;
    if (!m_initialised) {
        m_statistics = current;
        m_initialised = true;
    }

    const double elapsed = double(now - m_lastClock);
    m_lastClock = now;
    m_adaptationFactor = float(std::exp(elapsed / -adaptationTimeConstant));

    const float alpha = m_adaptationFactor;
    bool reached = true;
    // The smoothing runs in single precision, as the values are kept in the view's parameters.
    const auto blend = [&](int parameter, float scale) {
        float smoothed = float(m_statistics.values[size_t(parameter)]);
        reached = smoothTowards(smoothed, float(current.values[size_t(parameter)]), alpha, scale)
            && reached;
        m_statistics.values[size_t(parameter)] = smoothed;
    };
    // What "close" means for each: the luminances are taken relative to themselves (the extremes
    // enter the operator through their logarithms, and a black texel's 0 is reached exactly); a
    // colour average counts against the average luminance it is mixed with, so a channel that
    // goes dark does not hold up the rest; the log average is compared as logarithms are, in
    // absolute terms near 0.
    const auto size = [&current](int parameter) {
        return std::abs(float(current.values[size_t(parameter)]));
    };
    const float luminance = size(AverageLuminance);
    blend(AverageRed, std::max(size(AverageRed), luminance));
    blend(AverageGreen, std::max(size(AverageGreen), luminance));
    blend(AverageBlue, std::max(size(AverageBlue), luminance));
    blend(AverageLuminance, luminance);
    blend(MaxLuminance, size(MaxLuminance));
    blend(AverageLogLuminance, std::max(1.0f, size(AverageLogLuminance)));
    blend(MinLuminance, size(MinLuminance));
    return reached;
}

bool Reinhard05PostProcessor::adaptRange(int minimum, int maximum)
{
    // A black first picture measures no range; the next one seeds it again.
    if (m_smoothedMaxLuminance == 0.0f) {
        m_smoothedMinLuminance = float(minimum);
        m_smoothedMaxLuminance = float(maximum);
        return true;
    }
    const float alpha = m_adaptationFactor;
    m_smoothedMinLuminance = (1.0f - alpha) * float(minimum) + alpha * m_smoothedMinLuminance;
    m_smoothedMaxLuminance = (1.0f - alpha) * float(maximum) + alpha * m_smoothedMaxLuminance;
    // The stretch takes whole bytes, which stay put from the moment they are the measured ones:
    // the smoothed values only come closer to those.
    if (smoothedRangeByte(m_smoothedMinLuminance) != minimum
        || smoothedRangeByte(m_smoothedMaxLuminance) != maximum) {
        return false;
    }
    m_smoothedMinLuminance = float(minimum);
    m_smoothedMaxLuminance = float(maximum);
    return true;
}

OwnedTexture Reinhard05PostProcessor::process(CameraView &view)
{
    const QRect drawn = view.drawn();
    LuminanceStretch stretch;
    OwnedTexture mapped = processForDisplay(view, stretch);
    FramebufferPasses passes(m_framebuffer);
    return stretched(std::move(mapped), view.width(), view.height(), drawn, stretch);
}

OwnedTexture Reinhard05PostProcessor::processForDisplay(CameraView &view, LuminanceStretch &stretch)
{
    const int width = view.width();
    const int height = view.height();
    FramebufferPasses passes(m_framebuffer);
    const bool statisticsReached = adapt(view);
    const QRect drawn = view.drawn();
    OwnedTexture mapped = photoreceptorTonemap(view.takeLayer(TonemappedRgb), width, height,
                                               m_settings, m_statistics, &drawn);

    const LuminanceStretch measured = measuredStretch(*mapped, width, height, drawn);
    const bool rangeReached = adaptRange(measured.minimum, measured.maximum);
    m_adapting = !(statisticsReached && rangeReached);
    stretch = {smoothedRangeByte(m_smoothedMinLuminance),
               smoothedRangeByte(m_smoothedMaxLuminance)};
    return mapped;
}
