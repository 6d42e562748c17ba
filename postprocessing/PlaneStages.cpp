#include "PlaneStages.h"

#include "BilateralPlaneStage.h"
#include "CurvePlaneStage.h"
#include "LinearPlaneStage.h"
#include "ReinhardPlaneStage.h"

#include "deliverables/BuildConfiguration.h"
#include "lightfield/LightfieldReader.h"

std::unique_ptr<LightfieldPlane> createLightfieldPlane(PipelineOptions options,
                                                       LightfieldReader *reader)
{
    return createLightfieldPlane(std::move(options), reader, activeBuildConfiguration());
}

std::unique_ptr<LightfieldPlane> createLightfieldPlane(PipelineOptions, LightfieldReader *reader,
                                                       const BuildConfiguration &configuration,
                                                       const PlaneProgressReport &progress)
{
    if (!reader->isHdr())
        return buildLdrPlane(reader, progress);
    switch (configuration.planeStage) {
    case HdrPlaneStage::Linear:
        return buildHdrPlane(reader, progress);
    case HdrPlaneStage::Reinhard: {
        ReinhardPlaneSettings settings;
        settings.sharedStatistics = configuration.sharedStatistics;
        settings.brightness = configuration.planeBrightness;
        return buildReinhardPlane(reader, settings, progress);
    }
    case HdrPlaneStage::Curve:
        return buildCurvePlane(reader, configuration.trimPassLimit, progress);
    case HdrPlaneStage::Bilateral:
        break;
    }
    return buildBilateralPlane(reader, configuration.bilateralDisparitySampler,
                               BilateralSampling::FiveByFiveCells, progress);
}
