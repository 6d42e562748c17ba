#pragma once

#include <string>
#include <vector>

// The plane stage that tone-maps the views of an RGBE file while the plane is built.
enum class HdrPlaneStage
{
    Linear, // linear pass to half-float with per-view statistics, for the Reinhard post-processors
    Reinhard, // photoreceptor operator per view, to 8 bits
    Curve, // histogram-adjustment tone curve, to 8 bits
    Bilateral, // disparity-aware bilateral base/detail compression, to 8 bits
};

// The post-processor that shows the camera's view of an RGBE file.
enum class HdrPostProcessor
{
    InterpolatingReinhard05, // operator per frame with the four neighbouring views' statistics
    Reinhard05, // operator per frame with temporally smoothed statistics
    LdrRgb, // pass-through of an 8-bit view made by the plane stage
};

// What one deliverable compiles in. The eleven programs share every source file and differ only
// in which of these they run with; 8-bit files take the same road in all of them.
struct BuildConstants
{
    HdrPlaneStage planeStage = HdrPlaneStage::Linear;
    HdrPostProcessor postProcessor = HdrPostProcessor::InterpolatingReinhard05;
    float postProcessorBrightness = 0.0f; // brightness f of a Reinhard post-processor
    float planeBrightness = 0.0f; // brightness f of the Reinhard plane stage
    bool sharedStatistics = false; // Reinhard plane stage: one set of statistics for all views
    int trimPassLimit = 0; // curve plane stage: 0 trims to tolerance, otherwise this many passes
    // Bilateral plane stage: the disparity map weighs in the filter and marks edges
    // ("disparityImage" is unit 1). Without it the filter sees luminance only, whatever the file
    // holds.
    bool bilateralDisparitySampler = false;
};

// A deliverable: its name and what it compiles in.
struct BuildConfiguration : BuildConstants
{
    std::string name; // the executable's name
};

// The eleven deliverables, in the order of the product's table.
const std::vector<BuildConfiguration> &buildConfigurations();
// The configuration of that name, or null.
const BuildConfiguration *findBuildConfiguration(const std::string &name);

// The configuration the running program was built as. Set once by the entry point; tests may
// also pass any configuration to the factories directly.
const BuildConfiguration &activeBuildConfiguration();
void setActiveBuildConfiguration(const BuildConfiguration &configuration);
