#include "LightfieldRenderer.h"

#include "FatalError.h"
#include "deliverables/BuildConfiguration.h"
#include "gpu/GpuPass.h"
#include "viewer/gpu/ConfigurationError.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLTexture>
#include <QScopeGuard>
#include <QScreen>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <new>

namespace {

// The desktop the window is placed on, and the closest it may come to its top and left edges.
constexpr int desktopWidth = 1920;
constexpr int desktopHeight = 1080;
constexpr int minimumMargin = 32;

// Thrown from the plane build when the user closes the window while the light field loads.
struct LoadingStopped
{
};

} // namespace

QRect viewerWindowGeometry(QSize viewSize, const QRect &available)
{
    const int width = viewSize.width();
    const int height = viewSize.height();
    if (width <= available.width() && height <= available.height()) {
        const int x = std::max((desktopWidth - width) / 2, minimumMargin);
        const int y = std::max((desktopHeight - height) / 2, minimumMargin);
        return QRect(x, y, width, height);
    }
    const int roomX = std::max(available.width() - 2 * minimumMargin, 1);
    const int roomY = std::max(available.height() - 2 * minimumMargin, 1);
    const double scale = std::min(double(roomX) / width, double(roomY) / height);
    // The side that limits the scale comes out at the room exactly, the other rounded.
    const int fittedX = std::clamp(int(std::lround(width * scale)), 1, roomX);
    const int fittedY = std::clamp(int(std::lround(height * scale)), 1, roomY);
    return QRect(available.x() + (available.width() - fittedX) / 2,
                 available.y() + (available.height() - fittedY) / 2, fittedX, fittedY);
}

QSurfaceFormat viewerSurfaceFormat()
{
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    // Without this the toolkit asks for a forward-compatible context, which drivers may answer
    // with a core profile that lacks the legacy calls.
    format.setOption(QSurfaceFormat::DeprecatedFunctions);
    return format;
}

LightfieldRenderer::LightfieldRenderer(QUrl file)
    : QOpenGLWindow(QOpenGLWindow::NoPartialUpdate, nullptr)
{
    setSurfaceType(QWindow::OpenGLSurface);
    m_buttons[Qt::RightButton] = false;
    m_buttons[Qt::LeftButton] = false;
    m_buttons[Qt::MiddleButton] = false;

    m_reader = std::make_unique<LightfieldReader>(std::move(file));
    // Until the first picture is shown the title says what is coming; then the window has the
    // program's usual title.
    setTitle(
        tr("Loading %1").arg(QFileInfo(QString::fromStdString(m_reader->fileName())).fileName()));

    const QSize viewSize(m_reader->width(), m_reader->height());
    // The screen the window opens on, until it is shown the primary one.
    const QScreen *opensOn = screen();
    const QRect available =
        opensOn ? opensOn->availableGeometry() : QRect(0, 0, desktopWidth, desktopHeight);
    const QRect geometry = viewerWindowGeometry(viewSize, available);
    if (geometry.size() != viewSize)
        m_framing = ViewFraming::WholeView;
    setGeometry(geometry);
}

LightfieldRenderer::~LightfieldRenderer()
{
    // GL objects are released with the window's context current.
    const bool holdsGlObjects = m_pipeline != nullptr;
    if (holdsGlObjects)
        makeCurrent();
    m_pipeline.reset();
    if (holdsGlObjects)
        doneCurrent();
}

void LightfieldRenderer::mousePressEvent(QMouseEvent *event)
{
    const int button = int(event->button());
    if (button != Qt::NoButton)
        m_buttons[button] = true;
    if (event->button() == Qt::LeftButton)
        m_leftPressedAt = event->pos();
}

void LightfieldRenderer::mouseReleaseEvent(QMouseEvent *event)
{
    const int button = int(event->button());
    if (button != Qt::NoButton)
        m_buttons[button] = false;
    // A drag of a pixel or two is a hand that shook while clicking: the camera moved by it, as by
    // any drag, and the click focuses as well.
    const QPoint moved = event->pos() - m_leftPressedAt;
    if (event->button() == Qt::LeftButton && m_initialised
        && moved.x() * moved.x() + moved.y() * moved.y() <= clickTolerance * clickTolerance) {
        focusOnSurfaceAt(event->pos());
    }
}

void LightfieldRenderer::wheelEvent(QWheelEvent *event)
{
    if (!m_initialised)
        return;
    // A notch is 120 eighths of a degree; finer wheels send parts of one, which add up.
    constexpr int notch = 120;
    m_wheelAngle += event->angleDelta().y();
    const int notches = m_wheelAngle / notch;
    m_wheelAngle -= notches * notch;
    if (notches == 0)
        return;
    const float step = event->modifiers() & Qt::ControlModifier ? 1.0f : focusStep;
    ThinLens lens = m_pipeline->camera().lens();
    lens.focus += float(notches) * step;
    changeLens(lens);
}

void LightfieldRenderer::mouseMoveEvent(QMouseEvent *event)
{
    // Only the first held button in the order left, right, middle is passed on.
    int button = Qt::NoButton;
    for (int candidate : {int(Qt::LeftButton), int(Qt::RightButton), int(Qt::MiddleButton)}) {
        if (m_buttons[candidate]) {
            button = candidate;
            break;
        }
    }
    if (m_initialised
        && m_pipeline->camera().mouseMoved(event->x() - m_lastMouseX, event->y() - m_lastMouseY,
                                           button)) {
        requestFrame();
    }
    m_lastMouseX = event->x();
    m_lastMouseY = event->y();
}

void LightfieldRenderer::keyPressEvent(QKeyEvent *event)
{
    if (m_initialised) {
        ThinLens lens = m_pipeline->camera().lens();
        switch (event->key()) {
        case Qt::Key_BracketLeft:
            lens.aperture -= apertureStep;
            changeLens(lens);
            return;
        case Qt::Key_BracketRight:
            lens.aperture += apertureStep;
            changeLens(lens);
            return;
        case Qt::Key_0:
            lens.aperture = 0.0f;
            changeLens(lens);
            return;
        case Qt::Key_D:
            if (!event->isAutoRepeat())
                toggleDisparityView();
            return;
        default:
            break;
        }
    }
    if (event->key() == Qt::Key_1 && !event->isAutoRepeat()) {
        m_framing = m_framing == ViewFraming::WholeView ? ViewFraming::TexelPerPixel
                                                        : ViewFraming::WholeView;
        if (m_pipeline)
            m_pipeline->camera().setFraming(m_framing);
        requestFrame();
        return;
    }
    // The arrows move the camera a view step, a tenth of one with Shift, and repeat while held.
    const double step = event->modifiers() & Qt::ShiftModifier ? 0.1 : 1.0;
    double columns = 0.0;
    double rows = 0.0;
    switch (event->key()) {
    case Qt::Key_Left:
        columns = -step;
        break;
    case Qt::Key_Right:
        columns = step;
        break;
    case Qt::Key_Up:
        rows = -step;
        break;
    case Qt::Key_Down:
        rows = step;
        break;
    case Qt::Key_Home:
        break;
    default:
        QOpenGLWindow::keyPressEvent(event);
        return;
    }
    if (!m_initialised)
        return;
    LightfieldCamera &camera = m_pipeline->camera();
    const bool moved =
        event->key() == Qt::Key_Home ? camera.returnToStart() : camera.step(columns, rows);
    if (moved)
        requestFrame();
}

bool LightfieldRenderer::event(QEvent *event)
{
    if (m_loading) {
        switch (event->type()) {
        case QEvent::Close:
            // Closing now would destroy the window's surface under the passes that build the
            // plane; the build stops before its next view instead, and then the window closes.
            m_closeRequested = true;
            event->ignore();
            return true;
        case QEvent::Expose:
        case QEvent::UpdateRequest:
            // A paint now would bind the window's framebuffer under the build's passes. The
            // first frame after the build paints the whole window.
            return true;
        default:
            break;
        }
    }
    // A window that paints its whole self draws a frame for every update request the toolkit
    // delivers, also for one that an exposure has already answered.
    if (event->type() == QEvent::UpdateRequest && !m_frameDue)
        return true;
    const bool handled = QOpenGLWindow::event(event);
    // A window that shrinks is not exposed again, but its centred crop of the view moves.
    if (event->type() == QEvent::Resize)
        requestFrame();
    return handled;
}

void LightfieldRenderer::requestFrame()
{
    // The toolkit folds the requests made before the next frame into that one frame.
    if (m_initialised && !m_failed) {
        m_frameDue = true;
        update();
    }
}

void LightfieldRenderer::initializeGL()
{
    if (m_initialised || m_failed)
        return;
    try {
        buildPipeline();
    } catch (const LoadingStopped &) {
        // The user closed the window while the light field was loading; the pipeline is left
        // unbuilt and the window closes as it was asked to.
        setTitle(QString());
        QTimer::singleShot(0, this, &QWindow::close);
    } catch (const std::string &message) {
        fail(message);
    } catch (const std::bad_alloc &) {
        fail("Not enough memory to load the light field");
    }
}

void LightfieldRenderer::showLoadingProgress(const PlaneProgress &progress)
{
    // The work queued for the views before this one is done before the title counts it, and a
    // close waits for no more than one view's.
    glFinish();
    const QString title =
        progress.sweep == 0 ? tr("Loading %1 of %2 views") : tr("Tone-mapping %1 of %2 views");
    setTitle(title.arg(progress.view + 1).arg(progress.viewCount));
    // Lets the title reach the screen and a close request reach event(); paints wait (see there).
    QCoreApplication::processEvents();
    if (m_closeRequested)
        throw LoadingStopped();
}

void LightfieldRenderer::buildPipeline()
{
    prepareViewerContext();
    // The window's own calls (waiting for the views while they load); prepareViewerContext has
    // made sure the context offers them.
    initializeOpenGLFunctions();
    {
        // Between views the window shows how far the build has come and answers a close.
        m_loading = true;
        const auto loaded = qScopeGuard([this] { m_loading = false; });
        m_pipeline = std::make_unique<Pipeline>(
            *m_reader, activeBuildConfiguration(),
            [this](const PlaneProgress &progress) { showLoadingProgress(progress); });
    }
    m_pipeline->camera().setFraming(m_framing);
    m_initialised = true;
    // Paints asked for while loading were let go.
    requestFrame();
}

void LightfieldRenderer::paintGL()
{
    if (!m_initialised || m_failed)
        return;
    m_frameDue = false;
    try {
        renderFrame();
    } catch (const std::string &message) {
        fail(message);
    } catch (const std::bad_alloc &) {
        fail("Not enough memory to show the light field");
    }
}

void LightfieldRenderer::renderFrame()
{
    // The view is synthesised for the window's logical pixels and shown over all its device
    // pixels, so a screen that scales windows shows it whole, and as sharp as the view itself.
    const qreal ratio = devicePixelRatio();
    const QSize device(qRound(width() * ratio), qRound(height() * ratio));
    m_pipeline->renderFrame(mapToGlobal(QPoint(0, 0)), width(), height(), device);
    ++m_framesShown;
    if (!m_firstFrameShown) {
        m_firstFrameShown = true;
        requireNoGlError("showing the first frame of \"" + m_reader->fileName() + "\"");
        updateTitle();
    }
    if (m_pipeline->postProcessor().isAdapting())
        requestFrame();
}

void LightfieldRenderer::changeLens(ThinLens lens)
{
    const LightfieldPlane &plane = m_pipeline->plane();
    lens.focus = std::clamp(lens.focus, 0.0f, float(std::max(plane.maxDisparity(), 0)));
    lens.aperture =
        std::clamp(lens.aperture, 0.0f, float(maxLensAperture(plane.columns(), plane.rows())));
    LightfieldCamera &camera = m_pipeline->camera();
    const ThinLens before = camera.lens();
    if (lens == before)
        return;
    camera.setLens(lens);
    updateTitle();
    // A pinhole shows the same picture at every focus, and so does the disparity view.
    const bool pictureChanges =
        !m_pipeline->showsDisparity() && !(lens.isPinhole() && before.isPinhole());
    if (pictureChanges)
        requestFrame();
}

void LightfieldRenderer::toggleDisparityView()
{
    const bool before = m_pipeline->showsDisparity();
    if (m_pipeline->setShowsDisparity(!before) != before) {
        updateTitle();
        requestFrame();
    }
}

void LightfieldRenderer::focusOnSurfaceAt(QPoint pixel)
{
    std::optional<float> disparity;
    makeCurrent();
    try {
        disparity = m_pipeline->camera().disparityUnder(pixel, width(), height());
    } catch (const std::string &message) {
        fail(message);
    }
    doneCurrent();
    if (disparity) {
        ThinLens lens = m_pipeline->camera().lens();
        lens.focus = *disparity;
        changeLens(lens);
    }
}

void LightfieldRenderer::updateTitle()
{
    // Numbers as a person writes them: 6.25, 1.5, 6.
    const auto number = [](float value) {
        return QString::number(std::round(double(value) * 100.0) / 100.0, 'g', 8);
    };
    const ThinLens lens = m_pipeline->camera().lens();
    QStringList differences;
    if (lens.focus != 0.0f)
        differences << tr("focus %1 px").arg(number(lens.focus));
    if (!lens.isPinhole()) {
        differences << (lens.aperture == 1.0f ? tr("aperture 1 view")
                                              : tr("aperture %1 views").arg(number(lens.aperture)));
    }
    if (m_pipeline->showsDisparity())
        differences << tr("disparity shown");
    if (differences.isEmpty()) {
        setTitle(QString());
        return;
    }
    const QString program = QString::fromStdString(activeBuildConfiguration().name);
    setTitle(program + QStringLiteral(" \u2014 ") + differences.join(QStringLiteral(", ")));
}

void LightfieldRenderer::fail(const std::string &message)
{
    m_failed = true;
    // Report from the event loop, not from inside the toolkit's painting.
    const QString text = QString::fromStdString(message);
    QTimer::singleShot(0, this, [this, text] {
        hide();
        reportFatalError(text);
    });
}

LightfieldRenderer *openViewerWindow(const QUrl &file)
{
    LightfieldRenderer *renderer = nullptr;
    try {
        renderer = new LightfieldRenderer(file);
    } catch (const std::string &message) {
        reportFatalError(QString::fromStdString(message));
        return nullptr;
    }
    // Nothing keeps the viewer but the application: it is deleted as the program ends, while its
    // context still exists, so that its GL objects are released cleanly.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, renderer,
                     [renderer] { delete renderer; });
    renderer->show();
    return renderer;
}
