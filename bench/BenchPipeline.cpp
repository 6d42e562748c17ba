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
    QElapsedTimer timer;
    timer.start();
    auto plane = createLightfieldPlane(PipelineOptions(), reader->get(), configuration);
    finishGl();
    *milliseconds = timer.nsecsElapsed() / 1e6;
    return plane;
}

Pipeline buildPipeline(const QString &path, const BuildConfiguration &configuration)
{
    Pipeline pipeline;
    pipeline.plane = loadPlane(path, &pipeline.reader, configuration, &pipeline.buildMilliseconds);
    pipeline.camera = createCamera(PipelineOptions(), pipeline.plane.get());
    pipeline.postProcessor =
        createPostProcessor(PipelineOptions(), pipeline.reader->isHdr(), configuration);
    return pipeline;
}
