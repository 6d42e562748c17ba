#include "ReinhardPlaneStage.h"

#include "LinearPlaneStage.h"
#include "LuminanceStatistics.h"
#include "Reinhard05PostProcessors.h"
#include "lightfield/ConfigurationError.h"
#include "lightfield/LightfieldReader.h"
#include "viewer/gpu/GpuPass.h"

#include <QOpenGLContext>

#include <algorithm>
#include <vector>

#ifndef GL_GPU_MEMORY_INFO_CURRENT_AVAILABLE_VIDMEM_NVX
#define GL_GPU_MEMORY_INFO_CURRENT_AVAILABLE_VIDMEM_NVX 0x9049
#endif
#ifndef GL_TEXTURE_FREE_MEMORY_ATI
#define GL_TEXTURE_FREE_MEMORY_ATI 0x87FC
#endif

namespace {

// The linear decode of this stage: no gamma, so the operator sees plain linear colour and
// "preGamma" 1 undoes nothing.
constexpr float linearGamma = 1.0f;
constexpr float preGamma = 1.0f;
constexpr float chromaticAdaptation = 0.5f;
constexpr float lightAdaptation = 0.7f;
// The fixed stretch of the shared flavour, in bytes: the brightest responses clip a little,
// which keeps the light field's one exposure from being set by its few brightest pixels.
constexpr int sharedRangeMinimum = 0;
constexpr int sharedRangeMaximum = 230;

// The statistics the operator is given, narrowed to the floats the shader takes; without the own
// contrast the shader derives one from the others.
PhotoreceptorStatistics operatorStatistics(const LuminanceStatistics &statistics, bool ownContrast)
{
    PhotoreceptorStatistics narrowed;
    narrowed.averageRed = float(statistics.averageRed());
    narrowed.averageGreen = float(statistics.averageGreen());
    narrowed.averageBlue = float(statistics.averageBlue());
    narrowed.averageLuminance = float(statistics.averageLuminance());
    narrowed.averageLogLuminance = float(statistics.averageLogLuminance());
    narrowed.minLuminance = float(statistics.minLuminance());
    narrowed.maxLuminance = float(statistics.maxLuminance());
    narrowed.contrast = ownContrast ? float(statistics.contrast()) : 0.0f;
    return narrowed;
}

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

std::unique_ptr<LightfieldPlane> buildShared(const PipelineOptions &options,
                                             LightfieldReader &reader, float brightness,
                                             std::unique_ptr<LightfieldPlane> plane)
{
    const int width = reader.width();
    const int height = reader.height();
    const std::int64_t views = std::int64_t(reader.rows()) * reader.columns();
    const std::int64_t needed = views * width * height * 8;
    const std::int64_t available = availableTextureMemory(options);
    if (available >= 0 && needed > available)
        raiseOutOfTextureMemory(reader, needed, available);

    // First sweep: every view decoded and measured; the statistics pooled.
    double sums[5] = {};
    double minimum = 10000.0;
    double maximum = 0.0;
    std::vector<OwnedTexture> pending;
    pending.reserve(size_t(views));
    for (int row = 0; row < reader.rows(); ++row) {
        for (int column = 0; column < reader.columns(); ++column) {
            FeatureLayers view = reader.nextView();
            const LuminanceStatistics statistics =
                computeLuminanceStatistics(*view.getLayer(RgbeImage), width, height);
            pending.push_back(
                linearTonemap(view.takeLayer(RgbeImage), width, height, 1.0f, linearGamma));
            if (outOfMemory())
                raiseOutOfTextureMemory(reader, needed, available);
            for (size_t i = 0; i < 5; ++i)
                sums[i] += statistics.values[i];
            minimum = std::min(minimum, statistics.minLuminance());
            maximum = std::max(maximum, statistics.maxLuminance());
            storeDisparity(*plane, reader, view, column, row);
        }
    }
    LuminanceStatistics pooled;
    for (size_t i = 0; i < 5; ++i)
        pooled.values[i] = sums[i] / double(views);
    pooled.values[5] = minimum;
    pooled.values[6] = maximum;
    // The shader derives one contrast from the pooled log average and extremes.
    const PhotoreceptorStatistics statistics = operatorStatistics(pooled, false);

    // Second sweep: every view with the same statistics and the same fixed stretch.
    for (int row = 0; row < reader.rows(); ++row) {
        for (int column = 0; column < reader.columns(); ++column) {
            OwnedTexture &linear = pending[size_t(row) * size_t(reader.columns()) + size_t(column)];
            OwnedTexture mapped = photoreceptorTonemap(std::move(linear), width, height,
                                                       operatorSettings(brightness), statistics);
            plane->setFeatureLayer(column, row, LdrRgb,
                                   normalizeLuminance(std::move(mapped), width, height,
                                                      sharedRangeMinimum, sharedRangeMaximum));
        }
    }
    return plane;
}

std::unique_ptr<LightfieldPlane> buildPerView(LightfieldReader &reader, float brightness,
                                              std::unique_ptr<LightfieldPlane> plane)
{
    const int width = reader.width();
    const int height = reader.height();
    for (int row = 0; row < reader.rows(); ++row) {
        for (int column = 0; column < reader.columns(); ++column) {
            FeatureLayers view = reader.nextView();
            const LuminanceStatistics statistics =
                computeLuminanceStatistics(*view.getLayer(RgbeImage), width, height);
            OwnedTexture linear =
                linearTonemap(view.takeLayer(RgbeImage), width, height, 1.0f, linearGamma);
            OwnedTexture mapped =
                photoreceptorTonemap(std::move(linear), width, height, operatorSettings(brightness),
                                     operatorStatistics(statistics, true));
            const auto [minimum, maximum] = reduceMinMaxLuminance(*mapped, width, height);
            plane->setFeatureLayer(
                column, row, LdrRgb,
                normalizeLuminance(std::move(mapped), width, height, minimum, maximum));
            storeDisparity(*plane, reader, view, column, row);
        }
    }
    return plane;
}

} // namespace

std::int64_t availableTextureMemory(const PipelineOptions &options)
{
    const auto given = options.find("textureMemoryBytes");
    if (given != options.end())
        return QByteArray::fromStdString(given->second).toLongLong();

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

std::unique_ptr<LightfieldPlane> buildReinhardPlane(PipelineOptions options,
                                                    LightfieldReader *reader,
                                                    const ReinhardPlaneSettings &settings)
{
    auto plane = makePlaneFor(*reader, LdrRgb);

    const Framebuffer framebuffer = Framebuffer::generate();
    FramebufferPasses passes(framebuffer);
    if (settings.sharedStatistics)
        return buildShared(options, *reader, settings.brightness, std::move(plane));
    return buildPerView(*reader, settings.brightness, std::move(plane));
}
