#include "ShaderLibrary.h"

#include <QDir>
#include <QOpenGLShaderProgram>
#include <QString>

namespace {

QOpenGLShaderProgram **programs()
{
    // Made once and never deleted: the programs outlive every window and must not be released
    // after the last GL context is gone.
    static QOpenGLShaderProgram **table = [] {
        auto **made = new QOpenGLShaderProgram *[shaderProgramCount];
        for (int index = 0; index < shaderProgramCount; ++index)
            made[index] = new QOpenGLShaderProgram;
        return made;
    }();
    return table;
}

bool loaded = false;

// Built before main runs, as the programs exist from the start of the program.
[[maybe_unused]] const bool createdAtStart = (programs(), true);

} // namespace

QString shaderFileName(ShaderProgram program)
{
    return QString::fromLatin1(shaderProgramFiles[static_cast<int>(program)].fragmentFile);
}

QOpenGLShaderProgram &shaderProgram(ShaderProgram program)
{
    return *programs()[static_cast<int>(program)];
}

void loadShaderPrograms()
{
    if (loaded)
        return;
    loaded = true;

    // Resolved against the working directory of this moment, not against the executable.
    const QDir shaderDirectory(QDir::current().absoluteFilePath(QStringLiteral("shaders")));
    const QString vertexPath = shaderDirectory.absoluteFilePath(QStringLiteral("UV.vert"));
    for (int index = 0; index < shaderProgramCount; ++index) {
        QOpenGLShaderProgram *program = programs()[index];
        const bool vertexAdded =
            program->addShaderFromSourceFile(QOpenGLShader::Vertex, vertexPath);
        const bool fragmentAdded =
            program->addShaderFromSourceFile(QOpenGLShader::Fragment,
                                             shaderDirectory.absoluteFilePath(QString::fromLatin1(
                                                 shaderProgramFiles[index].fragmentFile)));
        // A program missing one of its stages would link all the same and quietly draw with the
        // fixed-function pipeline instead; it stays unlinked, as the toolkit's warning says.
        if (vertexAdded && fragmentAdded)
            program->link();
    }
}

bool isShaderProgramLinked(ShaderProgram program)
{
    return shaderProgram(program).isLinked();
}
