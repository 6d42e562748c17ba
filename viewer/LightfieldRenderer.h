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
// by left-button drags and the arrow keys, seen through a lens that the wheel focuses (a click
// focuses it on the surface under the pointer) and the keys [ and ] open and close (0: a pinhole
// again); D shows the disparity of what the view shows instead. The window takes the size of a
// view, or less when that would not fit the screen (see viewerWindowGeometry); a window of the
// view's size shows one view pixel per window pixel, a smaller one the whole view scaled, and the
// key 1 switches between the two. It builds the pipeline (plane, camera, post-processor) when its
// OpenGL context first becomes usable. It draws a frame only when its picture can change: once the
// light field is loaded, when the camera moves, when the window is exposed or resized, and while
// the post-processor's picture is still adapting; the rest of the time it waits in the event loop.
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
    ThinLens lens() const { return m_pipeline ? m_pipeline->camera().lens() : ThinLens(); }
    bool showsDisparity() const { return m_pipeline && m_pipeline->showsDisparity(); }

    // A wheel notch moves the focus this far, with Ctrl pressed a whole pixel; the keys [ and ]
    // the aperture this far.
    static constexpr float focusStep = 0.25f;
    static constexpr float apertureStep = 0.25f;
    // A left press and release no farther apart than this, in window pixels, is a click.
    static constexpr int clickTolerance = 2;

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void initializeGL() override;
    void paintGL() override;

private:
    // Asks for a frame once the pipeline runs; nothing before, or after it failed.
    void requestFrame();
    void buildPipeline();
    void showLoadingProgress(const PlaneProgress &progress);
    void renderFrame();
    void fail(const std::string &message);
    // Sets the camera's lens, its focus kept within the light field's disparities and its
    // aperture within half the grid's smaller side; the title follows, and so does a frame when
    // the picture changes.
    void changeLens(ThinLens lens);
    void toggleDisparityView();
    // Focuses the lens on the surface that window pixel `pixel` shows.
    void focusOnSurfaceAt(QPoint pixel);
    // The program's own title, and what the lens and the disparity view do when not the default.
    void updateTitle();

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
    QPoint m_leftPressedAt; // where the left button went down
    int m_wheelAngle = 0; // eighths of a degree turned and not yet a whole notch
    bool m_frameDue = false; // a frame was asked for and none has been drawn since
    // What the camera is told once it exists; the whole view when the window was made smaller
    // than the view.
    ViewFraming m_framing = ViewFraming::TexelPerPixel;
};

// Opens the viewer window on a file and shows it. A file that cannot be shown ends the program
// with its message (see reportFatalError) and gives null. Must be called from the event loop.
LightfieldRenderer *openViewerWindow(const QUrl &file);
