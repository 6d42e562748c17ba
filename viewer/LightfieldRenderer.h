#pragma once

#include "lightfield/LightfieldCamera.h"
#include "lightfield/LightfieldPlane.h"
#include "lightfield/LightfieldReader.h"
#include "postprocessing/PostProcessor.h"

#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLWindow>
#include <QSurfaceFormat>
#include <QUrl>

#include <map>
#include <memory>
#include <string>

// The surface the viewer needs: OpenGL 3.3 or later with the legacy immediate-mode calls.
QSurfaceFormat viewerSurfaceFormat();

// Readies the current context for the pipeline as the viewer's window has it: the GL state its
// passes and final display expect, and the shader programs loaded. Raises a configuration error
// when the context lacks OpenGL 3.3 with the legacy calls, or a shader cannot be loaded.
void prepareViewerContext();

// One frame of the pipeline for a window of width × height at global position origin: the
// camera's view at one view pixel per window pixel, checked and post-processed, drawn over the
// bound framebuffer's displaySize (the window's device pixels; by default width × height), and
// every object of the frame freed. Raises the post-processor's requirements message when the
// stages do not fit.
void renderPipelineFrame(LightfieldCamera &camera, PostProcessor &postProcessor, QPoint origin,
                         int width, int height, QSize displaySize = QSize());
// The rest of such a frame for a view the camera has made: checked, post-processed and drawn over
// displaySize of the bound framebuffer (by default the view's size), the view freed.
void showCameraView(std::unique_ptr<CameraView> view, PostProcessor &postProcessor,
                    QSize displaySize = QSize());

// Raises a configuration error when the GL reported an error since the last check, saying what
// the viewer was doing ("building the plane") and the GL's own name for the error.
void requireNoGlError(const std::string &whatWasDone);

// The viewer window: one view of the light field, synthesised at the camera position and moved
// by left-button drags. The window takes the size of a view and builds the pipeline (plane,
// camera, post-processor) when its OpenGL context first becomes usable. It draws a frame only
// when its picture can change: once the light field is loaded, when the camera moves, when the
// window is exposed or resized, and while the post-processor's picture is still adapting; the
// rest of the time it waits in the event loop.
class LightfieldRenderer : public QOpenGLWindow, public QOpenGLFunctions_3_3_Core
{
    Q_OBJECT

public:
    // Opens the file; raises a configuration error when it cannot be read.
    explicit LightfieldRenderer(QUrl file);
    ~LightfieldRenderer() override;

    bool isInitialised() const { return m_initialised; }
    const LightfieldReader *reader() const { return m_reader.get(); }
    const LightfieldCamera *camera() const { return m_camera.get(); }
    const LightfieldPlane *plane() const { return m_plane.get(); }
    const std::map<int, bool> &buttonTable() const { return m_buttons; }
    int lastMouseX() const { return m_lastMouseX; }
    int lastMouseY() const { return m_lastMouseY; }
    // Frames drawn so far: each one ran the pipeline and was swapped onto the screen.
    int framesShown() const { return m_framesShown; }

protected:
    bool event(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void initializeGL() override;
    void paintGL() override;

private:
    // Asks for a frame once the pipeline runs; nothing before, or after it failed.
    void requestFrame();
    void buildPipeline();
    void showLoadingProgress(int viewsRead, int viewCount);
    void renderFrame();
    void fail(const std::string &message);

    int m_lastMouseX = 0;
    int m_lastMouseY = 0;
    std::map<int, bool> m_buttons; // toolkit button value → held
    bool m_initialised = false;
    std::unique_ptr<LightfieldReader> m_reader;
    std::unique_ptr<LightfieldCamera> m_camera;
    std::unique_ptr<PostProcessor> m_postProcessor;
    std::unique_ptr<LightfieldPlane> m_plane;
    bool m_failed = false; // a configuration error stopped the pipeline for good
    bool m_loading = false; // the plane is being built: no paints, a close waits for the view
    bool m_closeRequested = false; // closed while loading
    bool m_firstFrameShown = false; // the title no longer says the light field is loading
    int m_framesShown = 0;
    bool m_frameDue = false; // a frame was asked for and none has been drawn since
};
