#pragma once

#include "deliverables/BuildConfiguration.h"
#include "lightfield/LightfieldCamera.h"
#include "lightfield/LightfieldReader.h"
#include "postprocessing/PostProcessor.h"
#include "viewer/Pipeline.h"

#include <QString>

#include <memory>

// The plane of the file at path as the configuration builds it, with the reader it keeps reading
// from; *milliseconds is the time the build took, the GL's share included.
std::unique_ptr<LightfieldPlane> loadPlane(const QString &path,
                                           std::unique_ptr<LightfieldReader> *reader,
                                           const BuildConfiguration &configuration,
                                           double *milliseconds);

// One build configuration's pipeline on one file, built as the viewer builds it, with the reader
// it was built from.
struct LoadedPipeline
{
    std::unique_ptr<LightfieldReader> reader;
    std::unique_ptr<Pipeline> stages;
    double buildMilliseconds = 0.0; // of the stages, the plane's build nearly all of it
    int framesShown = 0; // how far the camera has moved, so that each run of frames goes on
};

LoadedPipeline buildPipeline(const QString &path, const BuildConfiguration &configuration);
