#pragma once

#include "lightfield/LightfieldPlane.h"
#include "lightfield/PipelineOptions.h"

#include <memory>

class LightfieldReader;
struct BuildConfiguration;

// Stage 1 of the pipeline for any file: builds the plane from every view of the reader, with
// buildLdrPlane for 8-bit files and the configuration's plane stage for RGBE files, reporting its
// progress. Needs the viewer's context current and the shader programs loaded. Without a
// configuration, the running program's.
std::unique_ptr<LightfieldPlane> createLightfieldPlane(PipelineOptions options,
                                                       LightfieldReader *reader);
std::unique_ptr<LightfieldPlane> createLightfieldPlane(PipelineOptions options,
                                                       LightfieldReader *reader,
                                                       const BuildConfiguration &configuration,
                                                       const PlaneProgressReport &progress = {});
