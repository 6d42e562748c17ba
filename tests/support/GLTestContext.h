#pragma once

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLDebugLogger>
#include <QOpenGLFunctions_3_3_Core>
#include <QStringList>
#include <QtTest>

#include <memory>

// A current OpenGL context of the kind the viewer gets (3.3 or later, compatibility profile, the
// legacy immediate-mode calls available), on an offscreen surface, with every GL error of a test
// collected: the driver's debug output where it offers KHR_debug, and glGetError after every pass
// of the pass toolkit and at every check. Errors name the pass that raised them.
class GLTestContext
{
public:
    GLTestContext() = default;
    ~GLTestContext();
    GLTestContext(const GLTestContext &) = delete;
    GLTestContext &operator=(const GLTestContext &) = delete;

    // Creates the context and makes it current; on failure says why, and the test must fail.
    // Benchmarks leave the driver's debug output off, which may cost time on every call.
    bool create(QString *why, bool debugOutput = true);
    void makeCurrent();

    QOpenGLContext *context() const { return m_context.get(); }
    QOpenGLFunctions_3_3_Core *gl() const { return m_functions; }

    // Checks glGetError after every pass of the pass toolkit (done by create; call again after a
    // test replaced the observer).
    void installPassCheck();

    // Errors raised since the last call, each described; empty when there were none.
    QStringList takeErrors();

private:
    void collectErrors(const QString &where);

    std::unique_ptr<QOffscreenSurface> m_surface;
    std::unique_ptr<QOpenGLContext> m_context;
    std::unique_ptr<QOpenGLDebugLogger> m_logger;
    QOpenGLFunctions_3_3_Core *m_functions = nullptr;
    QStringList m_errors;
};

// Fails the test with the errors' descriptions if any GL error was raised since the last check.
#define LF_VERIFY_NO_GL_ERROR(fixture)                                                             \
    do {                                                                                           \
        const QStringList glErrors = (fixture).takeErrors();                                       \
        QVERIFY2(glErrors.isEmpty(), qPrintable(glErrors.join(QStringLiteral("; "))));             \
    } while (false)

// Creates the fixture in initTestCase, failing loudly when no suitable context can be had.
#define LF_CREATE_GL_CONTEXT(fixture)                                                              \
    do {                                                                                           \
        QString whyNot;                                                                            \
        QVERIFY2((fixture).create(&whyNot), qPrintable(whyNot));                                   \
    } while (false)
