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

// The measured luminance range of the tone-mapped picture stretched to the full 8-bit range.
// Where a camera's view is larger than what its stored views reach, the passes run only where
// they do; the black around still counts in the range, and the stretch keeps it black.
OwnedTexture stretched(OwnedTexture mapped, int width, int height, const QRect &drawn)
{
    const auto [minimum, maximum] = reduceMinMaxLuminance(*mapped, width, height, &drawn);
    return normalizeLuminance(std::move(mapped), width, height, minimum, maximum, &drawn);
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

} // namespace

TonemappingInterpolatingReinhard05PostProcessor::TonemappingInterpolatingReinhard05PostProcessor(
    PipelineOptions options, float brightness)
{
    (void)options;
    m_requiredLayers = {TonemappedRgb};
    m_requiredParameters = statisticsParameters;
    m_settings.brightness = brightness;
    initializeOpenGLFunctions();
    m_framebuffer = Framebuffer::generate();
}

void TonemappingInterpolatingReinhard05PostProcessor::gatherStatistics(const CameraView &view)
{
    const int sources[4] = {CameraView::Base, CameraView::Right, CameraView::Diagonal,
                            CameraView::Below};
    for (size_t i = 0; i < 4; ++i) {
        const int slot = sources[i];
        m_averageRed[i] = view.getParameter(AverageRed, slot);
        m_averageGreen[i] = view.getParameter(AverageGreen, slot);
        m_averageBlue[i] = view.getParameter(AverageBlue, slot);
        m_averageLuminance[i] = view.getParameter(AverageLuminance, slot);
        m_averageLogLuminance[i] = view.getParameter(AverageLogLuminance, slot);
        m_minLuminance[i] = view.getParameter(MinLuminance, slot);
        m_maxLuminance[i] = view.getParameter(MaxLuminance, slot);
        m_contrast[i] = view.getParameter(Contrast, slot);
    }
    // The camera's own weights, so the tone mapping blends the same views the statistics do.
    m_weight = cellWeights(view.getParameter(ViewOffsetX), view.getParameter(ViewOffsetY));
}

OwnedTexture TonemappingInterpolatingReinhard05PostProcessor::process(CameraView &view)
{
    const int width = view.width();
    const int height = view.height();
    FramebufferPasses passes(m_framebuffer);
    gatherStatistics(view);
    OwnedTexture input = view.takeLayer(TonemappedRgb);
    const DrawnRegion region = opaqueBlackAround(view.drawn());
    OwnedTexture mapped = runPass(
        {"photoreceptor tone mapping of four views",
         shaderProgram(ShaderProgram::DynamicReinhardTonemapping), width, height, PassFormat::Rgba8,
         nullptr, &region},
        {{input.get(), 0}}, [&](QOpenGLShaderProgram &program) {
            setOperatorUniforms(program, m_settings);
            program.setUniformValueArray("m[0]", m_contrast.data(), 4, 1);
            program.setUniformValueArray("weight[0]", m_weight.data(), 4, 1);
            program.setUniformValueArray("averageRed[0]", m_averageRed.data(), 4, 1);
            program.setUniformValueArray("averageGreen[0]", m_averageGreen.data(), 4, 1);
            program.setUniformValueArray("averageBlue[0]", m_averageBlue.data(), 4, 1);
            program.setUniformValueArray("averageLuminance[0]", m_averageLuminance.data(), 4, 1);
            program.setUniformValueArray("averageLogLuminance[0]", m_averageLogLuminance.data(), 4,
                                         1);
            program.setUniformValueArray("minLuminance[0]", m_minLuminance.data(), 4, 1);
            program.setUniformValueArray("maxLuminance[0]", m_maxLuminance.data(), 4, 1);
        });
    input.reset();
    return stretched(std::move(mapped), width, height, view.drawn());
}

OwnedTexture photoreceptorTonemap(OwnedTexture input, int width, int height,
                                  const PhotoreceptorSettings &settings,
                                  const PhotoreceptorStatistics &statistics, const QRect *drawn)
{
    const DrawnRegion region = drawn ? opaqueBlackAround(*drawn) : DrawnRegion {};
    return runPass({"photoreceptor tone mapping", shaderProgram(ShaderProgram::ReinhardTonemapping),
                    width, height, PassFormat::Rgba8, nullptr, drawn ? &region : nullptr},
                   {{input.get(), 0}}, [&](QOpenGLShaderProgram &program) {
                       setOperatorUniforms(program, settings);
                       program.setUniformValue("m", statistics.contrast);
                       program.setUniformValue("averageRed", statistics.averageRed);
                       program.setUniformValue("averageGreen", statistics.averageGreen);
                       program.setUniformValue("averageBlue", statistics.averageBlue);
                       program.setUniformValue("averageLuminance", statistics.averageLuminance);
                       program.setUniformValue("averageLogLuminance",
                                               statistics.averageLogLuminance);
                       program.setUniformValue("minLuminance", statistics.minLuminance);
                       program.setUniformValue("maxLuminance", statistics.maxLuminance);
                   });
}

int smoothedRangeByte(float smoothed)
{
    return int(smoothed + 1e-3f);
}

Reinhard05PostProcessor::Reinhard05PostProcessor(PipelineOptions options, float brightness,
                                                 Clock clock)
    : m_clock(std::move(clock))
{
    (void)options;
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
    PhotoreceptorStatistics current;
    current.averageRed = view.getParameter(AverageRed);
    current.averageGreen = view.getParameter(AverageGreen);
    current.averageBlue = view.getParameter(AverageBlue);
    current.averageLuminance = view.getParameter(AverageLuminance);
    current.averageLogLuminance = view.getParameter(AverageLogLuminance);
    current.minLuminance = view.getParameter(MinLuminance);
    current.maxLuminance = view.getParameter(MaxLuminance);
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
    const auto blend = [alpha, &reached](float &smoothed, float value, float scale) {
        reached = smoothTowards(smoothed, value, alpha, scale) && reached;
    };
    // What "close" means for each: the luminances are taken relative to themselves (the extremes
    // enter the operator through their logarithms, and a black texel's 0 is reached exactly); a
    // colour average counts against the average luminance it is mixed with, so a channel that
    // goes dark does not hold up the rest; the log average is compared as logarithms are, in
    // absolute terms near 0.
    const float luminance = std::abs(current.averageLuminance);
    blend(m_statistics.averageRed, current.averageRed,
          std::max(std::abs(current.averageRed), luminance));
    blend(m_statistics.averageGreen, current.averageGreen,
          std::max(std::abs(current.averageGreen), luminance));
    blend(m_statistics.averageBlue, current.averageBlue,
          std::max(std::abs(current.averageBlue), luminance));
    blend(m_statistics.averageLuminance, current.averageLuminance, luminance);
    blend(m_statistics.maxLuminance, current.maxLuminance, std::abs(current.maxLuminance));
    blend(m_statistics.averageLogLuminance, current.averageLogLuminance,
          std::max(1.0f, std::abs(current.averageLogLuminance)));
    blend(m_statistics.minLuminance, current.minLuminance, std::abs(current.minLuminance));
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
    const int width = view.width();
    const int height = view.height();
    FramebufferPasses passes(m_framebuffer);
    const bool statisticsReached = adapt(view);
    const QRect drawn = view.drawn();
    OwnedTexture mapped = photoreceptorTonemap(view.takeLayer(TonemappedRgb), width, height,
                                               m_settings, m_statistics, &drawn);

    const auto [minimum, maximum] = reduceMinMaxLuminance(*mapped, width, height, &drawn);
    const bool rangeReached = adaptRange(minimum, maximum);
    m_adapting = !(statisticsReached && rangeReached);
    return normalizeLuminance(std::move(mapped), width, height,
                              smoothedRangeByte(m_smoothedMinLuminance),
                              smoothedRangeByte(m_smoothedMaxLuminance), &drawn);
}
