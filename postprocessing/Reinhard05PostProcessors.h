#pragma once

#include "LinearPlaneStage.h"
#include "LuminanceStatistics.h"
#include "PostProcessor.h"
#include "viewer/gpu/GpuPass.h"

#include <array>
#include <cstdint>
#include <functional>

// The photoreceptor operator of Reinhard and Devlin (2005) applied every frame to the camera's
// half-float view (the linear plane stage's TonemappedRgb, gamma 2.2), followed by a stretch of
// the result's luminance range to the full 8-bit range. Both consume the view's TonemappedRgb
// and return a new RGBA8 texture of the view's size.

// Operator constants, the same in every build but for the brightness.
struct PhotoreceptorSettings
{
    float brightness = 0.0f; // f = exp(-brightness)
    float chromaticAdaptation = 0.5f; // c
    float lightAdaptation = 0.7f; // a
    float preGamma = linearStageGamma; // the gamma of the input colour, undone first
};

// The operator with one set of statistics ("ReinhardTonemapping.frag"), consuming the input,
// into a new RGBA8 texture of width × height. With `drawn`, the input is transparent black outside
// it: the program runs only inside, and the rest is opaque black, as the operator maps black.
// Runs inside FramebufferPasses.
OwnedTexture photoreceptorTonemap(OwnedTexture input, int width, int height,
                                  const PhotoreceptorSettings &settings,
                                  const LuminanceStatistics &statistics,
                                  const QRect *drawn = nullptr);

// The same operator on a view's RGBE texture, consuming it, for the plane stages: the decode
// linearTonemap would make with white point 1 and gamma 1 happens in the operator's pass (the
// input is linear, so settings.preGamma does not apply). With `stretch`, the result is also
// stretched as normalizeLuminance would stretch it, in the same pass.
OwnedTexture photoreceptorTonemapRgbe(OwnedTexture rgbe, int width, int height,
                                      const PhotoreceptorSettings &settings,
                                      const LuminanceStatistics &statistics,
                                      const LuminanceStretch *stretch = nullptr);

// Tone-maps with the statistics of each of the four stored views the camera's view was made from
// and blends the four results with the cell's bilinear weights. Keeps nothing between frames.
class TonemappingInterpolatingReinhard05PostProcessor : public PostProcessor
{
public:
    TonemappingInterpolatingReinhard05PostProcessor(PipelineOptions options, float brightness);
    OwnedTexture process(CameraView &view) override;
    OwnedTexture processForDisplay(CameraView &view, LuminanceStretch &stretch) override;

    const PhotoreceptorSettings &settings() const { return m_settings; }
    // The weights of the last frame, in the cell's order (CameraView::cellSlots).
    const std::array<float, 4> &weights() const { return m_weights; }

private:
    PhotoreceptorSettings m_settings;
    std::array<float, 4> m_weights {};
    Framebuffer m_framebuffer;
};

// Tone-maps with the camera's blended statistics, smoothed over time with a time constant of
// 150 ms, so the picture adapts to a new part of the light field the way an eye would; the
// measured output range is smoothed the same way. Once the smoothed values have come so close to
// the camera's that the rest of the way cannot change the picture, they take the camera's values
// and the picture stands still until the view changes.
class Reinhard05PostProcessor : public PostProcessor
{
public:
    // Milliseconds of a monotonic clock.
    using Clock = std::function<std::int64_t()>;

    // Without a clock, the process's monotonic clock.
    explicit Reinhard05PostProcessor(PipelineOptions options, float brightness = 0.0f,
                                     Clock clock = {});
    OwnedTexture process(CameraView &view) override;
    OwnedTexture processForDisplay(CameraView &view, LuminanceStretch &stretch) override;
    // Until the smoothed statistics and range have reached the camera's.
    bool isAdapting() const override { return m_adapting; }

    // The smoothed statistics; the contrast is left for the shader to derive.
    const LuminanceStatistics &statistics() const { return m_statistics; }
    float adaptationFactor() const { return m_adaptationFactor; }
    float smoothedMinLuminance() const { return m_smoothedMinLuminance; }
    float smoothedMaxLuminance() const { return m_smoothedMaxLuminance; }
    const PhotoreceptorSettings &settings() const { return m_settings; }

private:
    // Each returns whether its values have reached the camera's.
    bool adapt(const CameraView &view);
    bool adaptRange(int minimum, int maximum);

    PhotoreceptorSettings m_settings;
    bool m_initialised = false;
    LuminanceStatistics m_statistics;
    float m_adaptationFactor = 1.0f; // weight the old statistics keep this frame
    float m_smoothedMinLuminance = 0.0f; // output range, bytes
    float m_smoothedMaxLuminance = 0.0f;
    Framebuffer m_framebuffer;
    Clock m_clock;
    std::int64_t m_lastClock = 0;
    bool m_adapting = false;
};

// How close, relative to the size of the value it approaches, a smoothed statistic of the
// Reinhard05PostProcessor comes before it takes that value: the rest of the way would change the
// tone-mapped picture by a few hundredths of an 8-bit level.
constexpr float adaptationTolerance = 1e-4f;

// A smoothed range value as the whole byte the stretch takes, truncated (12.9 is 12). Blending a
// steady value with itself in floats can land a hair below it (199.99998 for 200), and plain
// truncation would then make the whole picture flicker by one level; a thousandth of a byte of
// slack absorbs that rounding.
int smoothedRangeByte(float smoothed);

// The time constant of the Reinhard05PostProcessor's adaptation, in milliseconds.
constexpr double adaptationTimeConstant = 150.0;
