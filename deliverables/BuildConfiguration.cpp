#include "BuildConfiguration.h"

#include "deliverables/ProgramNames.h"

#include <iterator>
#include <string_view>

namespace {

constexpr BuildConstants make(HdrPlaneStage planeStage, HdrPostProcessor postProcessor)
{
    BuildConstants constants;
    constants.planeStage = planeStage;
    constants.postProcessor = postProcessor;
    return constants;
}

constexpr BuildConstants interpolatingReinhard05(float brightness)
{
    BuildConstants constants =
        make(HdrPlaneStage::Linear, HdrPostProcessor::InterpolatingReinhard05);
    constants.postProcessorBrightness = brightness;
    return constants;
}

constexpr BuildConstants curve(int trimPassLimit)
{
    BuildConstants constants = make(HdrPlaneStage::Curve, HdrPostProcessor::LdrRgb);
    constants.trimPassLimit = trimPassLimit;
    return constants;
}

// sharedStatistics: one set of statistics for all views, otherwise a set for each.
constexpr BuildConstants planeReinhard(bool sharedStatistics, float brightness)
{
    BuildConstants constants = make(HdrPlaneStage::Reinhard, HdrPostProcessor::LdrRgb);
    constants.sharedStatistics = sharedStatistics;
    constants.planeBrightness = brightness;
    return constants;
}

constexpr BuildConstants bilateral(bool disparitySampler)
{
    BuildConstants constants = make(HdrPlaneStage::Bilateral, HdrPostProcessor::LdrRgb);
    constants.bilateralDisparitySampler = disparitySampler;
    return constants;
}

struct Program
{
    std::string_view name;
    BuildConstants constants;
};

constexpr Program programs[] = {
    {"viewer-interp-reinhard05", interpolatingReinhard05(5.0f)},
    {"viewer-interp-reinhard05-b0", interpolatingReinhard05(0.0f)},
    {"viewer-reinhard05", make(HdrPlaneStage::Linear, HdrPostProcessor::Reinhard05)},
    {"viewer-curve", curve(0)},
    {"viewer-curve-4pass", curve(4)},
    {"viewer-plane-reinhard-b1", planeReinhard(true, 1.0f)},
    {"viewer-plane-reinhard-b6", planeReinhard(true, 6.0f)},
    {"viewer-plane-reinhard-minmax-b5", planeReinhard(false, 5.0f)},
    {"viewer-plane-reinhard-minmax-b0", planeReinhard(false, 0.0f)},
    {"viewer-bilateral", bilateral(false)},
    {"viewer-bilateral-disparity", bilateral(true)},
};

// The build makes an executable of each name in deliverables/programs.txt, and each finds its
// constants here by its name: a program missing from the table could not start, and the table's
// order is the one the list gives the product's table.
constexpr bool tableNamesTheListedPrograms()
{
    if (std::size(programs) != std::size(programNames))
        return false;
    for (std::size_t i = 0; i < std::size(programs); ++i) {
        if (programs[i].name != programNames[i])
            return false;
    }
    return true;
}
static_assert(tableNamesTheListedPrograms(),
              "the table must name the programs of deliverables/programs.txt, in its order");

std::vector<BuildConfiguration> makeConfigurations()
{
    std::vector<BuildConfiguration> all;
    for (const Program &program : programs)
        all.push_back({program.constants, std::string(program.name)});
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
