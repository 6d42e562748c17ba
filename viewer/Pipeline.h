#pragma once

#include "lightfield/LightfieldCamera.h"
#include "lightfield/LightfieldPlane.h"
#include "postprocessing/PostProcessor.h"

#include <QPoint>
#include <QSize>

#include <memory>
#include <string>

class LightfieldReader;
struct BuildConfiguration;

// Readies the current context for the pipeline as the viewer's window has it: the GL state its
// passes and final display expect, and the shader programs loaded. Raises a configuration error
// when the context lacks OpenGL 3.3 with the legacy calls, or a shader cannot be loaded.
void prepareViewerContext();

// The pipeline of one build configuration on one light field: the plane built from every view of
// the reader, the camera over it and the post-processor, made in this order by the stage
// factories, as the viewer window, lf2d render and the benchmarks all run it. Needs a context
// prepared by prepareViewerContext current while it is built, drawn and destroyed.
class Pipeline
{
public:
    // Reads every view of the reader, reporting the plane build's progress. Raises what the
    // stages raise, and a configuration error naming the file when the GL failed while the views
    // were loaded (a driver out of memory would leave black views rather than stop).
    Pipeline(LightfieldReader &reader, const BuildConfiguration &configuration,
             const PlaneProgressReport &progress = {});

    LightfieldPlane &plane() { return *m_plane; }
    LightfieldCamera &camera() { return *m_camera; }
    PostProcessor &postProcessor() { return *m_postProcessor; }

    // A new post-processor of the configuration in place of the one that has drawn: one that
    // adapts over time starts again adapted to the next frame.
    void restartPostProcessor();

    // One frame for a window of width × height at global position origin, see
    // renderPipelineFrame; with the disparity view, the camera's disparity picture instead.
    void renderFrame(QPoint origin, int width, int height, QSize displaySize = QSize());

    // Whether frames show the disparity of what the camera shows, colour-mapped, instead of its
    // picture (LightfieldCamera::renderDisparity). Only a light field with disparity has one:
    // elsewhere this stays off.
    bool setShowsDisparity(bool shows);
    bool showsDisparity() const { return m_showsDisparity; }

private:
    const BuildConfiguration &m_configuration;
    bool m_isHdr;
    std::unique_ptr<LightfieldPlane> m_plane;
    std::unique_ptr<LightfieldCamera> m_camera;
    std::unique_ptr<PostProcessor> m_postProcessor;
    bool m_showsDisparity = false;
};

// One frame of the pipeline for a window of width × height at global position origin: the
// camera's view at one view pixel per window pixel, checked and post-processed, drawn over the
// bound framebuffer's displaySize (the window's device pixels; by default width × height), and
// every object of the frame freed. Raises the post-processor's requirements message when the
// stages do not fit.
void renderPipelineFrame(LightfieldCamera &camera, PostProcessor &postProcessor, QPoint origin,
                         int width, int height, QSize displaySize = QSize());
// A picture that needs no post-processing, such as the disparity view, drawn over displaySize of
// the bound framebuffer.
void showPicture(OwnedTexture picture, QSize displaySize);
// The rest of such a frame for a view the camera has made: checked, post-processed and drawn over
// displaySize of the bound framebuffer (by default the view's size), the view freed.
void showCameraView(std::unique_ptr<CameraView> view, PostProcessor &postProcessor,
                    QSize displaySize = QSize());

// Raises a configuration error when the GL reported an error since the last check, saying what
// the viewer was doing ("building the plane") and the GL's own name for the error.
void requireNoGlError(const std::string &whatWasDone);
