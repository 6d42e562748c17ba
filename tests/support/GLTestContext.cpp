#include "GLTestContext.h"

#include "viewer/LightfieldRenderer.h"
#include "viewer/gpu/GpuPass.h"

#include <GL/gl.h>

bool GLTestContext::create(QString *why, bool debugOutput)
{
    QSurfaceFormat format = viewerSurfaceFormat();
    if (debugOutput)
        format.setOption(QSurfaceFormat::DebugContext);

    m_surface = std::make_unique<QOffscreenSurface>();
    m_surface->setFormat(format);
    m_surface->create();
    if (!m_surface->isValid()) {
        *why = QStringLiteral("No offscreen surface: is there a display (DISPLAY=%1)?")
                   .arg(qEnvironmentVariable("DISPLAY"));
        return false;
    }

    m_context = std::make_unique<QOpenGLContext>();
    m_context->setFormat(format);
    if (QOpenGLContext::globalShareContext())
        m_context->setShareContext(QOpenGLContext::globalShareContext());
    if (!m_context->create() || !m_context->makeCurrent(m_surface.get())) {
        *why = QStringLiteral("No OpenGL context could be created");
        return false;
    }

    const QSurfaceFormat actual = m_context->format();
    if (actual.version() < qMakePair(3, 3)) {
        *why = QStringLiteral("OpenGL %1.%2 is too old; the viewer needs 3.3 or later")
                   .arg(actual.majorVersion())
                   .arg(actual.minorVersion());
        return false;
    }
    if (actual.profile() == QSurfaceFormat::CoreProfile) {
        *why = QStringLiteral("Got a core-profile context; the viewer needs the legacy calls");
        return false;
    }
    m_functions = m_context->versionFunctions<QOpenGLFunctions_3_3_Core>();
    if (!m_functions || !m_functions->initializeOpenGLFunctions()) {
        *why = QStringLiteral("The OpenGL 3.3 functions could not be resolved");
        return false;
    }

    if (debugOutput && m_context->hasExtension(QByteArrayLiteral("GL_KHR_debug"))) {
        m_logger = std::make_unique<QOpenGLDebugLogger>();
        if (m_logger->initialize()) {
            QObject::connect(
                m_logger.get(), &QOpenGLDebugLogger::messageLogged,
                [this](const QOpenGLDebugMessage &message) {
                    if (message.type() != QOpenGLDebugMessage::ErrorType)
                        return;
                    const QString pass = QString::fromUtf8(currentPassName());
                    m_errors << (pass.isEmpty()
                                     ? QStringLiteral("debug output: %1").arg(message.message())
                                     : QStringLiteral("debug output during pass \"%1\": %2")
                                           .arg(pass, message.message()));
                });
            m_logger->startLogging(QOpenGLDebugLogger::SynchronousLogging);
        }
    }

    // The legacy calls the passes use must work in this context.
    while (m_functions->glGetError() != GL_NO_ERROR) { }
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (m_functions->glGetError() != GL_NO_ERROR) {
        *why = QStringLiteral("The legacy matrix calls are not available");
        return false;
    }
    m_errors.clear();
    installPassCheck();

    qInfo("OpenGL renderer: %s, version %s",
          reinterpret_cast<const char *>(m_functions->glGetString(GL_RENDERER)),
          reinterpret_cast<const char *>(m_functions->glGetString(GL_VERSION)));
    return true;
}

void GLTestContext::makeCurrent()
{
    m_context->makeCurrent(m_surface.get());
}

GLTestContext::~GLTestContext()
{
    if (m_functions)
        setPassObserver(nullptr);
}

void GLTestContext::installPassCheck()
{
    setPassObserver([this](const char *pass) {
        collectErrors(QStringLiteral("after pass \"%1\"").arg(QString::fromUtf8(pass)));
    });
}

void GLTestContext::collectErrors(const QString &where)
{
    for (GLenum error = m_functions->glGetError(); error != GL_NO_ERROR;
         error = m_functions->glGetError()) {
        m_errors
            << QStringLiteral("glGetError %1: 0x%2").arg(where).arg(error, 4, 16, QLatin1Char('0'));
    }
}

QStringList GLTestContext::takeErrors()
{
    collectErrors(QStringLiteral("outside the passes"));
    QStringList errors;
    errors.swap(m_errors);
    return errors;
}
