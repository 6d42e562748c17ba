#pragma once

// The frames of a pipeline and the floors they are held against: a plain copy of a texture and
// reading and uploading a file's views.

#include "lightfield/FeatureLayers.h"

#include <QElapsedTimer>
#include <QString>

#include <vector>

class GLTestContext;
class LightfieldPlane;
class LightfieldReader;
class QOpenGLTexture;
struct LoadedPipeline;

// How the copies of the copy floor are timed.
enum class CopyTiming
{
    // Back to back, waited for once at the end: the figure the ratios have always been taken
    // against. A software driver overlaps the copies and may drop one that the next overwrites
    // whole, so it is well below what one copy costs a frame.
    Queued,
    // Each waited for, as a frame is by its buffer swap; the median copy.
    Waited,
};

// One plain full-screen copy of a texture of width × height, the floor of any frame.
double copyMilliseconds(GLTestContext &offscreen, QOpenGLTexture *source, int width, int height,
                        int repeats, CopyTiming timing = CopyTiming::Queued);

// Every view of the reader's file read and uploaded, with nothing else done, in file order.
std::vector<FeatureLayers> readEveryView(LightfieldReader &reader);

// The time readEveryView takes on a file, the median of three: the floor of any plane build of
// that file.
double readAndUploadMilliseconds(const QString &path);

// A texture of the plane to copy for the copy floor.
QOpenGLTexture *anyPlaneTexture(const LightfieldPlane &plane);

struct FrameFigures
{
    double milliseconds = 0.0; // mean per timed frame
    double residentBefore = 0.0; // MiB, before and after the timed frames
    double residentAfter = 0.0;
    double heapBefore = 0.0; // MiB the allocator has handed out and not had back
    double heapAfter = 0.0;
    int texturesBefore = 0; // live GL textures, before and after the timed frames
    int texturesAfter = 0;
};

// Frames of the pipeline in a window of width × height while the camera sweeps back and forth
// across the grid, one window pixel a frame, as a dragging user would move it.
FrameFigures timeFrames(GLTestContext &offscreen, LoadedPipeline &pipeline, int width, int height,
                        int frames);

// Where a frame's time goes: the same frames as timeFrames, each pass waited for as it ends, and
// the mean wall-clock and process CPU milliseconds of each pass name per frame, in the order the
// passes first ran. The CPU work before a pass (uniforms, state) counts towards it; waiting
// serialises what a driver would overlap, so the sum exceeds the frame time a little. The CPU
// figure, the driver's threads included, holds better than the wall clock on a busy machine.
struct PassTime
{
    std::string name;
    double wall = 0.0;
    double cpu = 0.0;
};
// Tallies every pass that runs while it lives, each waited for as it ends.
class PassTally
{
public:
    PassTally();
    ~PassTally();
    PassTally(const PassTally &) = delete;
    PassTally &operator=(const PassTally &) = delete;

    // Forgets what was tallied so far.
    void restart();
    // The tally divided by a number of runs.
    std::vector<PassTime> perRun(int runs) const;

private:
    QElapsedTimer m_timer;
    std::vector<PassTime> m_passes;
    double m_lastWall = 0.0;
    double m_lastCpu = 0.0;
};

std::vector<PassTime> passMilliseconds(GLTestContext &offscreen, LoadedPipeline &pipeline,
                                       int width, int height, int frames);
