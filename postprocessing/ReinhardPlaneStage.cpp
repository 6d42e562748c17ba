#include "ReinhardPlaneStage.h"

#include "LuminanceStatistics.h"
#include "Reinhard05PostProcessors.h"
#include "lightfield/LightfieldReader.h"
#include "viewer/gpu/ConfigurationError.h"
#include "viewer/gpu/GpuPass.h"

#include <QOpenGLContext>

#include <algorithm>
#include <array>
#include <vector>

#ifndef GL_GPU_MEMORY_INFO_CURRENT_AVAILABLE_VIDMEM_NVX
#define GL_GPU_MEMORY_INFO_CURRENT_AVAILABLE_VIDMEM_NVX 0x9049
#endif
#ifndef GL_TEXTURE_FREE_MEMORY_ATI
#define GL_TEXTURE_FREE_MEMORY_ATI 0x87FC
#endif

namespace {

// The operator decodes each view itself, to plain linear colour: no gamma, so "preGamma" 1 undoes
// nothing.
constexpr float preGamma = 1.0f;
constexpr float chromaticAdaptation = 0.5f;
constexpr float lightAdaptation = 0.7f;
// The fixed stretch of the shared flavour, in bytes: the brightest responses clip a little,
// which keeps the light field's one exposure from being set by its few brightest pixels.
constexpr int sharedRangeMinimum = 0;
constexpr int sharedRangeMaximum = 230;

PhotoreceptorSettings operatorSettings(float brightness)
{
    PhotoreceptorSettings settings;
    settings.brightness = brightness;
    settings.chromaticAdaptation = chromaticAdaptation;
    settings.lightAdaptation = lightAdaptation;
    settings.preGamma = preGamma;
    return settings;
}

std::string mebibytes(std::int64_t bytes)
{
    return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB";
}

[[noreturn]] void raiseOutOfTextureMemory(const LightfieldReader &reader, std::int64_t needed,
                                          std::int64_t available)
{
    std::string message = "Not enough GPU memory to tone-map \"" + reader.fileName()
        + "\" with statistics shared by all its views: its " + std::to_string(reader.rows()) + " x "
        + std::to_string(reader.columns()) + " views need " + mebibytes(needed)
        + " of texture memory at once";
    if (available >= 0)
        message += ", and the GPU has " + mebibytes(available) + " free";
    raiseConfigurationError(message);
}

// Whether the last texture allocations failed for want of memory. Other errors are left for
// whoever checks them.
bool outOfMemory()
{
    QOpenGLFunctions_3_3_Core *gl =
        QOpenGLContext::currentContext()->versionFunctions<QOpenGLFunctions_3_3_Core>();
    bool failed = false;
    for (GLenum error = gl->glGetError(); error != GL_NO_ERROR; error = gl->glGetError())
        failed = failed || error == GL_OUT_OF_MEMORY;
    return failed;
}

// Every view with its own statistics and contrast, stretched to its own measured range.
class PerViewStage : public PlaneStage
{
public:
    explicit PerViewStage(float brightness)
        : PlaneStage(LdrRgb)
        , m_brightness(brightness)
    { }

    void storeView(ViewToStore &view) override
    {
        const int width = view.plane.width();
        const int height = view.plane.height();
        const LuminanceStatistics statistics =
            luminanceStatisticsOf(view.colourBytes.data(), std::int64_t(width) * height);
        OwnedTexture mapped =
            photoreceptorTonemapRgbe(view.read.takeLayer(RgbeImage), width, height,
                                     operatorSettings(m_brightness), statistics);
        const auto [minimum, maximum] = reduceMinMaxLuminance(*mapped, width, height);
        view.plane.setFeatureLayer(
            view.column, view.row, LdrRgb,
            normalizeLuminance(std::move(mapped), width, height, minimum, maximum));
    }

private:
    float m_brightness;
};

// One set of statistics pooled over all views: every view is measured as it is read and kept as
// it was uploaded, and tone-mapped with the pooled statistics and the fixed stretch, in one pass,
// in the second sweep.
class SharedStage : public PlaneStage
{
public:
    SharedStage(const LightfieldReader &reader, float brightness, std::int64_t needed,
                std::int64_t available)
        : PlaneStage(LdrRgb)
        , m_reader(reader)
        , m_brightness(brightness)
        , m_needed(needed)
        , m_available(available)
    {
        m_pending.reserve(size_t(reader.rows()) * size_t(reader.columns()));
    }

    void storeView(ViewToStore &view) override
    {
        const int width = view.plane.width();
        const int height = view.plane.height();
        const LuminanceStatistics statistics =
            luminanceStatisticsOf(view.colourBytes.data(), std::int64_t(width) * height);
        m_pending.push_back(view.read.takeLayer(RgbeImage));
        if (outOfMemory())
            raiseOutOfTextureMemory(m_reader, m_needed, m_available);
        for (int parameter = AverageRed; parameter <= AverageLogLuminance; ++parameter)
            m_sums[size_t(parameter)] += statistics.values[size_t(parameter)];
        m_minimum = std::min(m_minimum, statistics.minLuminance());
        m_maximum = std::max(m_maximum, statistics.maxLuminance());
    }

    bool needsSecondSweep() const override { return true; }

    void finishView(LightfieldPlane &plane, int column, int row) override
    {
        if (column == 0 && row == 0)
            poolStatistics();
        const int width = plane.width();
        const int height = plane.height();
        OwnedTexture &rgbe = m_pending[size_t(row) * size_t(plane.columns()) + size_t(column)];
        const LuminanceStretch stretch {sharedRangeMinimum, sharedRangeMaximum};
        plane.setFeatureLayer(column, row, LdrRgb,
                              photoreceptorTonemapRgbe(std::move(rgbe), width, height,
                                                       operatorSettings(m_brightness), m_pooled,
                                                       &stretch));
    }

private:
    void poolStatistics()
    {
        const double views = double(m_pending.size());
        for (int parameter = AverageRed; parameter <= AverageLogLuminance; ++parameter)
            m_pooled.values[size_t(parameter)] = m_sums[size_t(parameter)] / views;
        m_pooled.values[MinLuminance] = m_minimum;
        m_pooled.values[MaxLuminance] = m_maximum;
        // No contrast of its own: the shader derives one from the pooled log average and
        // extremes.
        m_pooled.values[Contrast] = 0.0;
    }

    const LightfieldReader &m_reader;
    float m_brightness;
    std::int64_t m_needed;
    std::int64_t m_available;
    std::vector<OwnedTexture> m_pending; // every view's RGBE texture, in file order
    std::array<double, 5> m_sums {};
    double m_minimum = 10000.0;
    double m_maximum = 0.0;
    LuminanceStatistics m_pooled;
};

} // namespace

std::int64_t availableTextureMemory(const ReinhardPlaneSettings &settings)
{
    if (settings.textureMemoryBytes >= 0)
        return settings.textureMemoryBytes;

    QOpenGLContext *context = QOpenGLContext::currentContext();
    QOpenGLFunctions_3_3_Core *gl = context->versionFunctions<QOpenGLFunctions_3_3_Core>();
    // Both report kibibytes.
    if (context->hasExtension(QByteArrayLiteral("GL_NVX_gpu_memory_info"))) {
        GLint kibibytes = 0;
        gl->glGetIntegerv(GL_GPU_MEMORY_INFO_CURRENT_AVAILABLE_VIDMEM_NVX, &kibibytes);
        return std::int64_t(kibibytes) * 1024;
    }
    if (context->hasExtension(QByteArrayLiteral("GL_ATI_meminfo"))) {
        GLint free[4] = {};
        gl->glGetIntegerv(GL_TEXTURE_FREE_MEMORY_ATI, free);
        return std::int64_t(free[0]) * 1024;
    }
    return -1;
}

std::unique_ptr<PlaneStage> makeReinhardStage(const LightfieldReader &reader,
                                              const ReinhardPlaneSettings &settings)
{
    if (!settings.sharedStatistics)
        return std::make_unique<PerViewStage>(settings.brightness);
    // Every view's RGBE texture is held between the two sweeps.
    const std::int64_t views = std::int64_t(reader.rows()) * reader.columns();
    const std::int64_t needed = views * reader.width() * reader.height() * 4;
    const std::int64_t available = availableTextureMemory(settings);
    if (available >= 0 && needed > available)
        raiseOutOfTextureMemory(reader, needed, available);
    return std::make_unique<SharedStage>(reader, settings.brightness, needed, available);
}

std::unique_ptr<LightfieldPlane> buildReinhardPlane(LightfieldReader *reader,
                                                    const ReinhardPlaneSettings &settings,
                                                    const PlaneProgressReport &progress)
{
    return buildPlane(*reader, *makeReinhardStage(*reader, settings), progress);
}
