#include "PostProcessor.h"

#include "deliverables/BuildConfiguration.h"
#include "lightfield/ConfigurationError.h"

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
    (void)options;
    if (!isHdr || configuration.postProcessor == HdrPostProcessor::LdrRgb)
        return std::make_unique<LDRRGBPostProcessor>();
    // The Reinhard post-processors are not part of this version.
    raiseConfigurationError(configuration.name + " cannot show RGBE light fields yet");
}
