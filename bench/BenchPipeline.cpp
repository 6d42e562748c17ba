#include "BenchPipeline.h"

#include "BenchSupport.h"
#include "postprocessing/PlaneStages.h"

#include <QElapsedTimer>
#include <QUrl>

std::unique_ptr<LightfieldPlane> loadPlane(const QString &path,
                                           std::unique_ptr<LightfieldReader> *reader,
                                           const BuildConfiguration &configuration,
                                           double *milliseconds)
{
    *reader = std::make_unique<LightfieldReader>(QUrl::fromLocalFile(path));
    returnFreedMemory();
    QElapsedTimer timer;
    timer.start();
    auto plane = createLightfieldPlane(PipelineOptions(), reader->get(), configuration);
    finishGl();
    *milliseconds = timer.nsecsElapsed() / 1e6;
    return plane;
}

LoadedPipeline buildPipeline(const QString &path, const BuildConfiguration &configuration)
{
    LoadedPipeline pipeline;
    pipeline.reader = std::make_unique<LightfieldReader>(QUrl::fromLocalFile(path));
    returnFreedMemory();
    QElapsedTimer timer;
    timer.start();
    pipeline.stages = std::make_unique<Pipeline>(*pipeline.reader, configuration);
    finishGl();
    pipeline.buildMilliseconds = timer.nsecsElapsed() / 1e6;
    return pipeline;
}
