#pragma once

#include <QFile>
#include <QOpenGLShaderProgram>
#include <QString>

#include <memory>

// A program made of the viewer's own "UV.vert" and a fragment shader written by a test, for
// checking the pass helpers with known maths.
inline std::unique_ptr<QOpenGLShaderProgram> makeTestProgram(const char *fragmentSource)
{
    auto program = std::make_unique<QOpenGLShaderProgram>();
    QFile vertex(QStringLiteral(LF_SOURCE_DIR "/shaders/UV.vert"));
    if (!vertex.open(QIODevice::ReadOnly)
        || !program->addShaderFromSourceCode(QOpenGLShader::Vertex, vertex.readAll())
        || !program->addShaderFromSourceCode(QOpenGLShader::Fragment, fragmentSource)
        || !program->link()) {
        return nullptr;
    }
    return program;
}
