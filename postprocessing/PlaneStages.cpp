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

std::unique_ptr<LightfieldPlane> createLightfieldPlane(PipelineOptions options,
                                                       LightfieldReader *reader,
                                                       const BuildConfiguration &configuration)
{
    if (!reader->isHdr())
        return buildLdrPlane(std::move(options), reader);
    switch (configuration.planeStage) {
    case HdrPlaneStage::Linear:
        return buildHdrPlane(std::move(options), reader);
    case HdrPlaneStage::Reinhard:
        return buildReinhardPlane(std::move(options), reader,
                                  {configuration.sharedStatistics, configuration.planeBrightness});
    case HdrPlaneStage::Curve:
        return buildCurvePlane(std::move(options), reader, configuration.trimPassLimit);
    case HdrPlaneStage::Bilateral:
        break;
    }
    return buildBilateralPlane(std::move(options), reader, configuration.bilateralDisparitySampler);
}
