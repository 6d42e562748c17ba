#pragma once

#include "Pipeline.h"
#include "lightfield/LightfieldReader.h"

#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLWindow>
#include <QRect>
#include <QSize>
#include <QSurfaceFormat>
#include <QUrl>

#include <map>
#include <memory>
#include <string>

// The surface the viewer needs: OpenGL 3.3 or later with the legacy immediate-mode calls.
QSurfaceFormat viewerSurfaceFormat();

// Where the viewer window for views of viewSize goes on a screen whose free area (without panels
// and docks) is `available`. A window of the view's size that fits that area is centred on a
// 1920 × 1080 desktop, no closer than 32 pixels to its left and top edges. One that does not fit
// is shrunk, keeping the view's aspect, to lie inside the area at least 32 pixels from each of its
// edges (room for the window's frame), and centred in it.
QRect viewerWindowGeometry(QSize viewSize, const QRect &available);

// The viewer window: one view of the light field, synthesised at the camera position and moved
// by left-button drags and the arrow keys. The window takes the size of a view, or less when that
// would not fit the screen (see viewerWindowGeometry); a window of the view's size shows one view
// pixel per window pixel, a smaller one the whole view scaled, and the key 1 switches between the
// two. It builds the pipeline (plane, camera, post-processor) when its OpenGL context first becomes
// usable. It draws a frame only when its picture can change: once the light field is loaded, when
// the camera moves, when the window is exposed or resized, and while the post-processor's picture
// is still adapting; the rest of the time it waits in the event loop.
class LightfieldRenderer : public QOpenGLWindow, public QOpenGLFunctions_3_3_Core
{
    Q_OBJECT

public:
    // Opens the file; raises a configuration error when it cannot be read.
    explicit LightfieldRenderer(QUrl file);
    ~LightfieldRenderer() override;

    bool isInitialised() const { return m_initialised; }
    const LightfieldReader *reader() const { return m_reader.get(); }
    const LightfieldCamera *camera() const { return m_pipeline ? &m_pipeline->camera() : nullptr; }
    const LightfieldPlane *plane() const { return m_pipeline ? &m_pipeline->plane() : nullptr; }
    const std::map<int, bool> &buttonTable() const { return m_buttons; }
    int lastMouseX() const { return m_lastMouseX; }
    int lastMouseY() const { return m_lastMouseY; }
    // Frames drawn so far: each one ran the pipeline and was swapped onto the screen.
    int framesShown() const { return m_framesShown; }
    ViewFraming framing() const { return m_framing; }

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void initializeGL() override;
    void paintGL() override;

private:
    // Asks for a frame once the pipeline runs; nothing before, or after it failed.
    void requestFrame();
    void buildPipeline();
    void showLoadingProgress(const PlaneProgress &progress);
    void renderFrame();
    void fail(const std::string &message);

    int m_lastMouseX = 0;
    int m_lastMouseY = 0;
    std::map<int, bool> m_buttons; // toolkit button value → held
    bool m_initialised = false;
    std::unique_ptr<LightfieldReader> m_reader;
    std::unique_ptr<Pipeline> m_pipeline;
    bool m_failed = false; // a configuration error stopped the pipeline for good
    bool m_loading = false; // the plane is being built: no paints, a close waits for the view
    bool m_closeRequested = false; // closed while loading
    bool m_firstFrameShown = false; // the title no longer says the light field is loading
    int m_framesShown = 0;
    bool m_frameDue = false; // a frame was asked for and none has been drawn since
    // What the camera is told once it exists; the whole view when the window was made smaller
    // than the view.
    ViewFraming m_framing = ViewFraming::TexelPerPixel;
};

// Opens the viewer window on a file and shows it. A file that cannot be shown ends the program
// with its message (see reportFatalError) and gives null. Must be called from the event loop.
LightfieldRenderer *openViewerWindow(const QUrl &file);
