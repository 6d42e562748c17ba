#include "BuildConfiguration.h"

namespace {

BuildConfiguration make(std::string name, HdrPlaneStage planeStage, HdrPostProcessor postProcessor)
{
    BuildConfiguration configuration;
    configuration.name = std::move(name);
    configuration.planeStage = planeStage;
    configuration.postProcessor = postProcessor;
    return configuration;
}

std::vector<BuildConfiguration> makeConfigurations()
{
    std::vector<BuildConfiguration> all;

    BuildConfiguration interp = make("viewer-interp-reinhard05", HdrPlaneStage::Linear,
                                     HdrPostProcessor::InterpolatingReinhard05);
    interp.postProcessorBrightness = 5.0f;
    all.push_back(interp);
    interp.name = "viewer-interp-reinhard05-b0";
    interp.postProcessorBrightness = 0.0f;
    all.push_back(interp);

    all.push_back(make("viewer-reinhard05", HdrPlaneStage::Linear, HdrPostProcessor::Reinhard05));

    BuildConfiguration curve = make("viewer-curve", HdrPlaneStage::Curve, HdrPostProcessor::LdrRgb);
    all.push_back(curve);
    curve.name = "viewer-curve-4pass";
    curve.trimPassLimit = 4;
    all.push_back(curve);

    BuildConfiguration shared =
        make("viewer-plane-reinhard-b1", HdrPlaneStage::Reinhard, HdrPostProcessor::LdrRgb);
    shared.sharedStatistics = true;
    shared.planeBrightness = 1.0f;
    all.push_back(shared);
    shared.name = "viewer-plane-reinhard-b6";
    shared.planeBrightness = 6.0f;
    all.push_back(shared);

    BuildConfiguration perView =
        make("viewer-plane-reinhard-minmax-b5", HdrPlaneStage::Reinhard, HdrPostProcessor::LdrRgb);
    perView.planeBrightness = 5.0f;
    all.push_back(perView);
    perView.name = "viewer-plane-reinhard-minmax-b0";
    perView.planeBrightness = 0.0f;
    all.push_back(perView);

    BuildConfiguration bilateral =
        make("viewer-bilateral", HdrPlaneStage::Bilateral, HdrPostProcessor::LdrRgb);
    all.push_back(bilateral);
    bilateral.name = "viewer-bilateral-disparity";
    bilateral.bilateralDisparitySampler = true;
    all.push_back(bilateral);

    return all;
}

const BuildConfiguration *active = nullptr;

} // namespace

const std::vector<BuildConfiguration> &buildConfigurations()
{
    static const std::vector<BuildConfiguration> all = makeConfigurations();
    return all;
}

const BuildConfiguration *findBuildConfiguration(const std::string &name)
{
    for (const BuildConfiguration &configuration : buildConfigurations()) {
        if (configuration.name == name)
            return &configuration;
    }
    return nullptr;
}

const BuildConfiguration &activeBuildConfiguration()
{
    return active ? *active : buildConfigurations().front();
}

void setActiveBuildConfiguration(const BuildConfiguration &configuration)
{
    active = &configuration;
}
