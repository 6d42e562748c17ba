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
// collected: the driver's debug output where it offers KHR_debug, and glGetError always.
class GLTestContext
{
public:
    // Creates the context and makes it current; on failure says why, and the test must fail.
    bool create(QString *why);
    void makeCurrent();

    QOpenGLContext *context() const { return m_context.get(); }
    QOpenGLFunctions_3_3_Core *gl() const { return m_functions; }

    // Errors raised since the last call, each described; empty when there were none.
    QStringList takeErrors();

private:
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
