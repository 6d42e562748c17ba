#include "support/GLImages.h"
#include "support/GLTestContext.h"
#include "support/LightfieldFiles.h"
#include "viewer/gpu/GpuPass.h"
#include "viewer/gpu/ShaderLibrary.h"

#include <QDir>
#include <QOpenGLShaderProgram>
#include <QTemporaryDir>
#include <QtTest>

// The shader registry. The programs are loaded once per process, so each case runs in a process
// of its own (CTest names the case on the command line).
class ShaderLibraryGLTest : public QObject
{
    Q_OBJECT

    GLTestContext m_gl;
    QString m_startDirectory;
    QStringList m_warnings;

    static ShaderLibraryGLTest *s_current;
    static void collectWarnings(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        if (type == QtWarningMsg && s_current)
            s_current->m_warnings << text;
    }

private slots:
    void initTestCase()
    {
        LF_CREATE_GL_CONTEXT(m_gl);
        m_startDirectory = QDir::currentPath();
    }

    void init()
    {
        s_current = this;
        m_warnings.clear();
    }

    void cleanup()
    {
        qInstallMessageHandler(nullptr);
        s_current = nullptr;
        QDir::setCurrent(m_startDirectory);
        LF_VERIFY_NO_GL_ERROR(m_gl);
    }

    void everyShaderFileHasItsProgram()
    {
        // A fragment shader added to shaders/ without a row in the table would never be loaded,
        // and a row whose name is misspelt would never find its file.
        // Two programs from one file differ in their variant.
        QStringList tabled, programs;
        for (const ShaderProgramFile &entry : shaderProgramFiles) {
            tabled << QString::fromLatin1(entry.fragmentFile);
            programs << tabled.back() + ' ' + QString::fromLatin1(entry.variant);
        }
        QCOMPARE(programs.removeDuplicates(), 0);
        QCOMPARE(tabled.size(), shaderProgramCount);
        const QStringList present =
            QDir(QStringLiteral("shaders")).entryList({QStringLiteral("*.frag")}, QDir::Files);
        QVERIFY(!present.isEmpty());
        for (const QString &file : present)
            QVERIFY2(tabled.contains(file), qPrintable(file + " has no program"));
        for (int index = 0; index < shaderProgramCount; ++index)
            QCOMPARE(shaderFileName(ShaderProgram(index)), tabled[index]);
    }

    void everyShaderOfTheProjectLinks()
    {
        // Run from the source root: every fragment shader the project has must compile and link
        // with "UV.vert", without a word from the driver.
        QVERIFY(QFile::exists(QStringLiteral("shaders/UV.vert")));
        qInstallMessageHandler(collectWarnings);
        loadShaderPrograms();
        qInstallMessageHandler(nullptr);
        for (const ShaderProgramFile &entry : shaderProgramFiles) {
            QVERIFY2(QFile::exists(QStringLiteral("shaders/") + entry.fragmentFile),
                     entry.fragmentFile);
            QVERIFY2(isShaderProgramLinked(entry.program),
                     qPrintable(QString::fromLatin1(entry.fragmentFile) + ": "
                                + shaderProgram(entry.program).log()));
        }
        QVERIFY2(m_warnings.isEmpty(), qPrintable(m_warnings.join('\n')));
    }

    void missingShaderDirectoryEndsWithItsMessage()
    {
        // Neither the working directory nor the installed directories have a single file.
        QTemporaryDir empty;
        QVERIFY(QDir::setCurrent(empty.path()));
        const QStringList installed = {empty.filePath(QStringLiteral("bin/shaders")),
                                       empty.filePath(QStringLiteral("share/shaders"))};
        setInstalledShaderDirectories(installed);
        const QString message = configurationErrorOf(loadShaderPrograms);
        QVERIFY2(message.startsWith(QStringLiteral("The shader files \"UV.vert\", \"")),
                 qPrintable(message));
        for (const ShaderProgramFile &entry : shaderProgramFiles) {
            for (const char *file : {entry.vertexFile, entry.fragmentFile})
                QVERIFY2(message.contains(QStringLiteral("\"%1\"").arg(file)), qPrintable(message));
        }
        QVERIFY2(message.endsWith(QStringLiteral(" cannot be found in %1/shaders, %2 or %3")
                                      .arg(empty.path(), installed[0], installed[1])),
                 qPrintable(message));
        // Nothing is compiled before every file is found, and a later call cannot pass for a
        // success.
        for (int index = 0; index < shaderProgramCount; ++index)
            QVERIFY(!isShaderProgramLinked(ShaderProgram(index)));
        QCOMPARE(configurationErrorOf(loadShaderPrograms), message);
    }

    void eachFileComesFromTheFirstDirectoryThatHasIt()
    {
        // The working directory's shaders/ holds vertex shaders that mirror the texture
        // coordinate; the first installed directory unmirrored ones and fragment shaders
        // that copy their input; the second only files that do not compile. Every program must
        // link and show the mirroring.
        QTemporaryDir directory;
        const QString working = directory.filePath(QStringLiteral("shaders"));
        const QString first = directory.filePath(QStringLiteral("installed"));
        const QString second = directory.filePath(QStringLiteral("other"));
        for (const QString &path : {working, first, second})
            QVERIFY(QDir().mkpath(path));
        auto write = [](const QString &path, const QByteArray &source) {
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write(source) == source.size();
        };
        auto vertexShader = [](const char *u) {
            return QByteArray("#version 330 compatibility\n"
                              "out vec2 uv;\n"
                              "void main() {\n"
                              "    gl_Position = gl_Vertex;\n"
                              "    uv = vec2(")
                + u + ", gl_MultiTexCoord0.t);\n}\n";
        };
        for (const ShaderProgramFile &entry : shaderProgramFiles) {
            const QString vertex = '/' + QString::fromLatin1(entry.vertexFile);
            QVERIFY(write(working + vertex, vertexShader("1.0 - gl_MultiTexCoord0.s")));
            QVERIFY(write(first + vertex, vertexShader("gl_MultiTexCoord0.s")));
            QVERIFY(write(second + vertex, "not a shader"));
        }
        for (int index = 0; index < shaderProgramCount; ++index) {
            const QString name = '/' + shaderFileName(ShaderProgram(index));
            QVERIFY(write(first + name,
                          "#version 330 compatibility\n"
                          "uniform sampler2D textureImage;\n"
                          "in vec2 uv;\n"
                          "layout(location = 0) out vec4 colour;\n"
                          "void main() { colour = texture(textureImage, uv); }\n"));
            QVERIFY(write(second + name, "not a shader"));
        }
        setInstalledShaderDirectories({first, second});
        QVERIFY(QDir::setCurrent(directory.path()));
        QCOMPARE(configurationErrorOf(loadShaderPrograms), QString());
        // The directory is resolved when the programs load, not later.
        QVERIFY(QDir::setCurrent(m_startDirectory));

        ScopedFramebuffer framebuffer;
        OwnedTexture input(createAttachedTexture(4, 1, QOpenGLTexture::RGBA8_UNorm, 0,
                                                 QOpenGLTexture::RGBA, QOpenGLTexture::UInt8));
        const std::uint8_t texels[16] = {10, 0, 0, 255, 20, 0, 0, 255,
                                         30, 0, 0, 255, 40, 0, 0, 255};
        input->setData(QOpenGLTexture::RGBA, QOpenGLTexture::UInt8,
                       static_cast<const void *>(texels));
        for (const ShaderProgramFile &entry : shaderProgramFiles) {
            QOpenGLShaderProgram &program = shaderProgram(entry.program);
            QVERIFY2(program.isLinked(), qPrintable(program.log()));
            const OwnedTexture output = runPass(
                {entry.fragmentFile, program, 4, 1, PassFormat::Rgba8}, {{input.get(), 0}},
                [](QOpenGLShaderProgram &bound) { bound.setUniformValue("textureImage", 0); });
            const auto result = readTextureBytes(*output, 4, 1);
            QCOMPARE(QVector<int>({result[0], result[4], result[8], result[12]}),
                     QVector<int>({40, 30, 20, 10}));
        }
    }

    void brokenShaderEndsWithTheDriversLog_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("logMentions");
        QTest::newRow("compile") << QByteArray("#version 330 compatibility\n"
                                               "layout(location = 0) out vec4 colour;\n"
                                               "void main() { colour = undeclaredColour; }\n")
                                 << QStringLiteral(
                                        "The shader file \"{broken}\" does not compile:\n")
                                 << QStringLiteral("undeclaredColour");
        // A function declared and never defined compiles and fails only at the link.
        QTest::newRow("link") << QByteArray("#version 330 compatibility\n"
                                            "vec4 shadeElsewhere();\n"
                                            "layout(location = 0) out vec4 colour;\n"
                                            "void main() { colour = shadeElsewhere(); }\n")
                              << QStringLiteral("The shader files \"{vertex}\" and \"{broken}\" "
                                                "do not link:\n")
                              << QStringLiteral("shadeElsewhere");
    }

    void brokenShaderEndsWithTheDriversLog()
    {
        // The working directory's broken simpleWarp.frag wins over the project's, which supplies
        // every other file.
        QFETCH(QByteArray, source);
        QFETCH(QString, failure);
        QFETCH(QString, logMentions);
        QTemporaryDir directory;
        QVERIFY(QDir(directory.path()).mkdir(QStringLiteral("shaders")));
        const QString broken = directory.filePath(QStringLiteral("shaders/simpleWarp.frag"));
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(source) == source.size());
        file.close();
        setInstalledShaderDirectories({QStringLiteral(LF_SOURCE_DIR "/shaders")});
        QVERIFY(QDir::setCurrent(directory.path()));
        const QString message = configurationErrorOf(loadShaderPrograms);
        // The driver's debug output reports the failure as well, as an error of no pass.
        m_gl.takeErrors();
        failure.replace(QStringLiteral("{broken}"), broken)
            .replace(QStringLiteral("{vertex}"), QStringLiteral(LF_SOURCE_DIR "/shaders/UV.vert"));
        QVERIFY2(message.startsWith(failure), qPrintable(message));
        QVERIFY2(message.contains(logMentions), qPrintable(message));
        QVERIFY(!isShaderProgramLinked(ShaderProgram::SimpleWarp));
        QCOMPARE(configurationErrorOf(loadShaderPrograms), message);
    }
};

ShaderLibraryGLTest *ShaderLibraryGLTest::s_current = nullptr;

QTEST_MAIN(ShaderLibraryGLTest)
#include "ShaderLibraryGLTest.moc"
