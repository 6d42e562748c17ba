#include "PlaneStages.h"

#include "BilateralPlaneStage.h"
#include "CurvePlaneStage.h"
#include "LinearPlaneStage.h"
#include "ReinhardPlaneStage.h"

#include "deliverables/BuildConfiguration.h"
#include "lightfield/LightfieldReader.h"

namespace {

std::unique_ptr<PlaneStage> planeStageFor(const LightfieldReader &reader,
                                          const BuildConfiguration &configuration)
{
    if (!reader.isHdr())
        return makeLdrStage();
    switch (configuration.planeStage) {
    case HdrPlaneStage::Linear:
        return makeLinearStage();
    case HdrPlaneStage::Reinhard: {
        ReinhardPlaneSettings settings;
        settings.sharedStatistics = configuration.sharedStatistics;
        settings.brightness = configuration.planeBrightness;
        return makeReinhardStage(reader, settings);
    }
    case HdrPlaneStage::Curve:
        return makeCurveStage(configuration.trimPassLimit);
    case HdrPlaneStage::Bilateral:
        break;
    }
    return makeBilateralStage(configuration.bilateralDisparitySampler);
}

} // namespace

std::unique_ptr<LightfieldPlane> createLightfieldPlane(PipelineOptions options,
                                                       LightfieldReader *reader)
{
    return createLightfieldPlane(std::move(options), reader, activeBuildConfiguration());
}

std::unique_ptr<LightfieldPlane> createLightfieldPlane(PipelineOptions, LightfieldReader *reader,
                                                       const BuildConfiguration &configuration,
                                                       const PlaneProgressReport &progress)
{
    return buildPlane(*reader, *planeStageFor(*reader, configuration), progress);
}
