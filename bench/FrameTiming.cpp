#include "FrameTiming.h"

#include "BenchPipeline.h"
#include "BenchSupport.h"
#include "support/GLTestContext.h"
#include "viewer/LightfieldRenderer.h"
#include "viewer/gpu/GpuPass.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

double copyMilliseconds(GLTestContext &offscreen, QOpenGLTexture *source, int width, int height,
                        int repeats, CopyTiming timing)
{
    OffscreenTarget target(width, height);
    target.bind();
    offscreen.gl()->glEnable(GL_TEXTURE_2D);
    // The first draw of a kind compiles the driver's shader for it.
    displayTexture(*source, width, height);
    finishGl();
    double milliseconds = 0.0;
    if (timing == CopyTiming::Waited) {
        // The median copy: a waited copy is short enough that a moment of another process on
        // the cores would otherwise move the floor, and every ratio with it, by half.
        std::vector<double> copies;
        for (int i = 0; i < repeats; ++i) {
            QElapsedTimer timer;
            timer.start();
            displayTexture(*source, width, height);
            finishGl();
            copies.push_back(timer.nsecsElapsed() / 1e6);
        }
        std::nth_element(copies.begin(), copies.begin() + copies.size() / 2, copies.end());
        milliseconds = copies[copies.size() / 2];
    } else {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < repeats; ++i)
            displayTexture(*source, width, height);
        finishGl();
        milliseconds = timer.nsecsElapsed() / 1e6 / repeats;
    }
    offscreen.gl()->glDisable(GL_TEXTURE_2D);
    offscreen.gl()->glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return milliseconds;
}

// The views are kept, as a plane keeps them: freeing each one before the next would let the
// driver put every view in the same warm memory, and leave out the cost of the memory that any
// plane must fill.
std::vector<FeatureLayers> readEveryView(LightfieldReader &reader)
{
    std::vector<FeatureLayers> views;
    views.reserve(size_t(reader.rows() * reader.columns()));
    for (int view = 0; view < reader.rows() * reader.columns(); ++view)
        views.push_back(reader.nextView());
    return views;
}

double readAndUploadMilliseconds(const QString &path)
{
    return medianOfThree([&path] {
        LightfieldReader reader(QUrl::fromLocalFile(path));
        returnFreedMemory();
        QElapsedTimer timer;
        timer.start();
        const std::vector<FeatureLayers> views = readEveryView(reader);
        finishGl();
        return timer.nsecsElapsed() / 1e6;
    });
}

QOpenGLTexture *anyPlaneTexture(const LightfieldPlane &plane)
{
    return plane.layerAt(0, 0, plane.supportedLayers()[0]);
}

// A few frames first let the driver compile and allocate what it defers to first use; they are
// few because a large window's frame can take seconds on a software driver.
FrameFigures timeFrames(GLTestContext &offscreen, LoadedPipeline &pipeline, int width, int height,
                        int frames)
{
    // The stages' passes leave bound whatever framebuffer was bound before them, as the window's
    // is in the viewer; the target stands in for the window.
    OffscreenTarget window(width, height);
    window.bind();
    const LightfieldPlane &plane = pipeline.stages->plane();
    // The camera starts at the grid's first column and the sweep reaches its last.
    const int span = std::max(1, (plane.columns() - 1) * plane.viewSpacing() - 2);
    auto frame = [&] {
        const bool back = (pipeline.framesShown++ / span) % 2 == 1;
        pipeline.stages->camera().mouseMoved(back ? -1 : 1, back ? 1 : -1, 1);
        pipeline.stages->renderFrame(QPoint(0, 0), width, height);
    };
    offscreen.gl()->glEnable(GL_TEXTURE_2D);
    for (int i = 0; i < 5; ++i)
        frame();
    finishGl();

    FrameFigures figures;
    figures.residentBefore = residentMegabytes();
    figures.heapBefore = heapMegabytes();
    figures.texturesBefore = liveTextures(offscreen.gl());
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < frames; ++i)
        frame();
    finishGl();
    figures.milliseconds = timer.nsecsElapsed() / 1e6 / frames;
    figures.residentAfter = residentMegabytes();
    figures.heapAfter = heapMegabytes();
    figures.texturesAfter = liveTextures(offscreen.gl());
    offscreen.gl()->glDisable(GL_TEXTURE_2D);
    offscreen.gl()->glBindFramebuffer(GL_FRAMEBUFFER, 0);
    // A frame that never reached the window would make every figure meaningless.
    const Bytes shown = readTextureBytes(window.texture(), width, height);
    if (std::all_of(shown.begin(), shown.end(), [](std::uint8_t byte) { return byte == 0; }))
        std::fprintf(stderr, "lfbench: the frames left the window empty; the figures are void\n");
    return figures;
}

PassTally::PassTally()
{
    m_timer.start();
    restart();
    setPassObserver([this](const char *name) {
        finishGl();
        const double wall = double(m_timer.nsecsElapsed()) / 1e6;
        const double cpu = processCpuSeconds() * 1e3;
        auto found = std::find_if(m_passes.begin(), m_passes.end(),
                                  [&](const PassTime &pass) { return pass.name == name; });
        if (found == m_passes.end())
            found = m_passes.insert(m_passes.end(), {name, 0.0, 0.0});
        found->wall += wall - m_lastWall;
        found->cpu += cpu - m_lastCpu;
        m_lastWall = wall;
        m_lastCpu = cpu;
    });
}

PassTally::~PassTally()
{
    setPassObserver({});
}

void PassTally::restart()
{
    m_passes.clear();
    m_lastWall = double(m_timer.nsecsElapsed()) / 1e6;
    m_lastCpu = processCpuSeconds() * 1e3;
}

std::vector<PassTime> PassTally::perRun(int runs) const
{
    std::vector<PassTime> passes = m_passes;
    for (PassTime &pass : passes) {
        pass.wall /= runs;
        pass.cpu /= runs;
    }
    return passes;
}

std::vector<PassTime> passMilliseconds(GLTestContext &offscreen, LoadedPipeline &pipeline,
                                       int width, int height, int frames)
{
    PassTally tally;
    timeFrames(offscreen, pipeline, width, height, 5);
    tally.restart();
    timeFrames(offscreen, pipeline, width, height, frames);
    return tally.perRun(frames);
}
