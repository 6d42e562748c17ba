#include "ShaderLibrary.h"

#include "ConfigurationError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QOpenGLShaderProgram>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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

// Built before main runs, as the programs exist from the start of the program.
[[maybe_unused]] const bool createdAtStart = (programs(), true);

std::optional<QStringList> &installedDirectoriesSet()
{
    static std::optional<QStringList> directories;
    return directories;
}

std::string quoted(const QString &text)
{
    return '"' + text.toStdString() + '"';
}

// "a", "a and b", "a, b and c"; with "or" for alternatives.
std::string listed(const QStringList &items, const char *conjunction)
{
    std::string text;
    for (int index = 0; index < items.size(); ++index) {
        if (index > 0)
            text += index + 1 == items.size() ? std::string(" ") + conjunction + " " : ", ";
        text += items[index].toStdString();
    }
    return text;
}

struct ShaderSource
{
    QString file; // the name the table uses
    QString path; // where it was found
    QByteArray code;
};

// Every file the programs need, each read once from the first directory that has it. Reports all
// missing files at once, so that a partial installation shows its whole extent.
std::vector<ShaderSource> readShaderSources()
{
    QStringList files;
    for (const ShaderProgramFile &entry : shaderProgramFiles)
        files << QString::fromLatin1(entry.vertexFile);
    for (const ShaderProgramFile &entry : shaderProgramFiles)
        files << QString::fromLatin1(entry.fragmentFile);
    files.removeDuplicates();
    // Resolved against the working directory of this moment.
    const QStringList directories =
        QStringList {QDir::current().absoluteFilePath(QStringLiteral("shaders"))}
        + installedShaderDirectories();

    std::vector<ShaderSource> sources;
    QStringList missing;
    for (const QString &file : files) {
        QString found;
        for (const QString &directory : directories) {
            const QString candidate = QDir(directory).filePath(file);
            if (QFileInfo(candidate).isFile()) {
                found = candidate;
                break;
            }
        }
        if (found.isEmpty())
            missing << QString::fromStdString(quoted(file));
        else
            sources.push_back({file, found, {}});
    }
    if (!missing.isEmpty()) {
        raiseConfigurationError((missing.size() == 1 ? "The shader file " : "The shader files ")
                                + listed(missing, "and") + " of the viewer cannot be found in "
                                + listed(directories, "or"));
    }
    for (ShaderSource &source : sources) {
        QFile file(source.path);
        if (!file.open(QIODevice::ReadOnly)) {
            raiseConfigurationError("The shader file " + quoted(source.path)
                                    + " cannot be read: " + file.errorString().toStdString());
        }
        source.code = file.readAll();
    }
    return sources;
}

const ShaderSource &sourceOf(const std::vector<ShaderSource> &sources, const char *file)
{
    return *std::find_if(sources.begin(), sources.end(), [file](const ShaderSource &source) {
        return source.file == QLatin1String(file);
    });
}

// The code of a program's fragment shader: the file's, with the program's variant macros defined
// right after the "#version" line, which must stay first.
QByteArray fragmentCode(const ShaderSource &source, const char *variant)
{
    if (!variant)
        return source.code;
    QByteArray code = source.code;
    const int lineEnd = code.indexOf('\n');
    QByteArray define;
    for (const QByteArray &macro : QByteArray(variant).split(' ')) {
        if (!macro.isEmpty())
            define += "#define " + macro + '\n';
    }
    if (code.startsWith("#version") && lineEnd >= 0)
        return code.insert(lineEnd + 1, define);
    return define + code;
}

std::string driverLog(const QString &log)
{
    const QString trimmed = log.trimmed();
    return trimmed.isEmpty() ? std::string("(the driver gives no log)") : trimmed.toStdString();
}

void compileAndLinkAll()
{
    const std::vector<ShaderSource> sources = readShaderSources();
    // Each vertex shader is compiled once for the programs that share it; like the programs, they
    // live until the process ends.
    std::vector<std::pair<const char *, QOpenGLShader *>> vertexShaders;
    const auto vertexShaderOf = [&](const char *file) {
        for (const auto &[name, shader] : vertexShaders) {
            if (QLatin1String(name) == QLatin1String(file))
                return shader;
        }
        const ShaderSource &vertex = sourceOf(sources, file);
        auto *shader = new QOpenGLShader(QOpenGLShader::Vertex);
        if (!shader->compileSourceCode(vertex.code)) {
            raiseConfigurationError("The shader file " + quoted(vertex.path)
                                    + " does not compile:\n" + driverLog(shader->log()));
        }
        vertexShaders.emplace_back(file, shader);
        return shader;
    };
    for (const ShaderProgramFile &entry : shaderProgramFiles) {
        QOpenGLShaderProgram *program = programs()[static_cast<int>(entry.program)];
        QOpenGLShader *vertexShader = vertexShaderOf(entry.vertexFile);
        const ShaderSource &vertex = sourceOf(sources, entry.vertexFile);
        const ShaderSource &fragment = sourceOf(sources, entry.fragmentFile);
        if (!program->addShaderFromSourceCode(QOpenGLShader::Fragment,
                                              fragmentCode(fragment, entry.variant))) {
            const std::string variant =
                entry.variant ? std::string(" with ") + entry.variant + " defined" : "";
            raiseConfigurationError("The shader file " + quoted(fragment.path) + " does not compile"
                                    + variant + ":\n" + driverLog(program->log()));
        }
        if (!program->addShader(vertexShader) || !program->link()) {
            raiseConfigurationError("The shader files " + quoted(vertex.path) + " and "
                                    + quoted(fragment.path) + " do not link:\n"
                                    + driverLog(program->log()));
        }
    }
}

} // namespace

QString shaderFileName(ShaderProgram program)
{
    return QString::fromLatin1(shaderProgramFiles[static_cast<int>(program)].fragmentFile);
}

QOpenGLShaderProgram &shaderProgram(ShaderProgram program)
{
    return *programs()[static_cast<int>(program)];
}

QStringList installedShaderDirectories()
{
    if (installedDirectoriesSet())
        return *installedDirectoriesSet();
    // Without an application object the executable's directory is unknown; the working
    // directory's shaders are all there is then.
    if (!QCoreApplication::instance())
        return {};
    const QDir executableDirectory(QCoreApplication::applicationDirPath());
    return {executableDirectory.absoluteFilePath(QStringLiteral("shaders")),
            QDir::cleanPath(executableDirectory.absoluteFilePath(
                QStringLiteral(LF_INSTALLED_SHADERS_FROM_EXECUTABLE)))};
}

void setInstalledShaderDirectories(const QStringList &directories)
{
    installedDirectoriesSet() = directories;
}

void loadShaderPrograms()
{
    static bool attempted = false;
    static std::string failure;
    if (!attempted) {
        attempted = true;
        try {
            compileAndLinkAll();
        } catch (const std::string &message) {
            failure = message;
        }
    }
    if (!failure.empty())
        raiseConfigurationError(failure);
}

bool isShaderProgramLinked(ShaderProgram program)
{
    return shaderProgram(program).isLinked();
}
