#include "PostProcessor.h"

#include "Reinhard05PostProcessors.h"

#include "deliverables/BuildConfiguration.h"
#include "viewer/gpu/ConfigurationError.h"

const char *const postProcessorRequirementsMessage =
    "FeatureLayers or TonemappingParameters supplied to the PostProcessor don't meet the "
    "requirements of the PostProcessor! Some required layers or parameters are missing. Please "
    "check the pipeline configuration for errors.";

bool PostProcessor::meetsRequirements(const CameraView &view) const
{
    for (int layer : m_requiredLayers) {
        if (!view.hasLayer(layer))
            return false;
    }
    for (int parameter : m_requiredParameters) {
        if (!view.hasParameter(parameter))
            return false;
    }
    return true;
}

OwnedTexture PostProcessor::processForDisplay(CameraView &view, LuminanceStretch &stretch)
{
    stretch = LuminanceStretch();
    return process(view);
}

OwnedTexture LDRRGBPostProcessor::process(CameraView &view)
{
    if (view.hasLayer(LdrRgb))
        return view.takeLayer(LdrRgb);
    if (view.hasLayer(TonemappedRgb))
        return view.takeLayer(TonemappedRgb);
    raiseConfigurationError(postProcessorRequirementsMessage);
}

std::unique_ptr<PostProcessor> createPostProcessor(PipelineOptions options, bool isHdr)
{
    return createPostProcessor(std::move(options), isHdr, activeBuildConfiguration());
}

std::unique_ptr<PostProcessor> createPostProcessor(PipelineOptions options, bool isHdr,
                                                   const BuildConfiguration &configuration)
{
    if (isHdr) {
        switch (configuration.postProcessor) {
        case HdrPostProcessor::InterpolatingReinhard05:
            return std::make_unique<TonemappingInterpolatingReinhard05PostProcessor>(
                std::move(options), configuration.postProcessorBrightness);
        case HdrPostProcessor::Reinhard05:
            return std::make_unique<Reinhard05PostProcessor>(std::move(options),
                                                             configuration.postProcessorBrightness);
        case HdrPostProcessor::LdrRgb:
            break;
        }
    }
    return std::make_unique<LDRRGBPostProcessor>();
}
