#include "support/GLImages.h"
#include "support/GLTestContext.h"
#include "viewer/ScreenQuad.h"
#include "viewer/ShaderLibrary.h"

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

    void namesInLoadingOrder()
    {
        const QStringList expected = {"rgbe2rgba8BilateralTonemapping.frag",
                                      "rgbe2rgba8LinearTonemapping.frag",
                                      "rgbe2rf.frag",
                                      "simpleWarp.frag",
                                      "ReinhardTonemapping.frag",
                                      "TonemappingCurveTonemapping.frag",
                                      "DynamicReinhardTonemapping.frag",
                                      "MinMaxLuminance.frag",
                                      "MinMaxLuminanceLoop.frag",
                                      "NormalizeLuminance.frag"};
        QStringList names;
        for (int index = 0; index < shaderProgramCount; ++index)
            names << shaderFileName(ShaderProgram(index));
        QCOMPARE(names, expected);
    }

    void everyShaderOfTheProjectLinks()
    {
        // Run from the source root: every fragment shader the project has must compile and link
        // with "UV.vert"; the build's passes bind those that exist.
        QVERIFY(QFile::exists(QStringLiteral("shaders/UV.vert")));
        qInstallMessageHandler(collectWarnings);
        loadShaderPrograms();
        qInstallMessageHandler(nullptr);
        int present = 0;
        for (int index = 0; index < shaderProgramCount; ++index) {
            const ShaderProgram program = ShaderProgram(index);
            if (!QFile::exists(QStringLiteral("shaders/") + shaderFileName(program)))
                continue;
            ++present;
            QVERIFY2(isShaderProgramLinked(program),
                     qPrintable(shaderFileName(program) + ": " + shaderProgram(program).log()));
        }
        QVERIFY(present >= 2);
        for (const QString &warning : qAsConst(m_warnings))
            QVERIFY2(warning.contains(QStringLiteral("Unable to open file")), qPrintable(warning));
    }

    void missingShaderDirectoryStopsNothing()
    {
        QTemporaryDir empty;
        QVERIFY(QDir::setCurrent(empty.path()));
        qInstallMessageHandler(collectWarnings);
        loadShaderPrograms();
        qInstallMessageHandler(nullptr);
        for (int index = 0; index < shaderProgramCount; ++index)
            QVERIFY(!isShaderProgramLinked(ShaderProgram(index)));
        // The toolkit's warnings about the missing files stay visible.
        QVERIFY2(m_warnings.size() >= shaderProgramCount, qPrintable(m_warnings.join('\n')));
        QVERIFY(m_warnings.join('\n').contains(empty.path() + QStringLiteral("/shaders/UV.vert")));
    }

    void everyProgramSharesTheVertexShader()
    {
        // A vertex shader that mirrors the texture coordinate, and ten fragment shaders that copy
        // their input: every program must show the mirroring.
        QTemporaryDir directory;
        QVERIFY(QDir(directory.path()).mkdir(QStringLiteral("shaders")));
        auto write = [&](const QString &name, const QByteArray &source) {
            QFile file(directory.filePath(QStringLiteral("shaders/") + name));
            return file.open(QIODevice::WriteOnly) && file.write(source) == source.size();
        };
        QVERIFY(write(QStringLiteral("UV.vert"),
                      "#version 330 compatibility\n"
                      "out vec2 uv;\n"
                      "void main() {\n"
                      "    gl_Position = gl_Vertex;\n"
                      "    uv = vec2(1.0 - gl_MultiTexCoord0.s, "
                      "gl_MultiTexCoord0.t);\n"
                      "}\n"));
        for (int index = 0; index < shaderProgramCount; ++index) {
            QVERIFY(write(shaderFileName(ShaderProgram(index)),
                          "#version 330 compatibility\n"
                          "uniform sampler2D textureImage;\n"
                          "in vec2 uv;\n"
                          "layout(location = 0) out vec4 colour;\n"
                          "void main() { colour = texture(textureImage, uv); }\n"));
        }
        QVERIFY(QDir::setCurrent(directory.path()));
        loadShaderPrograms();
        // The directory is resolved when the programs load, not later.
        QVERIFY(QDir::setCurrent(m_startDirectory));

        ScopedFramebuffer framebuffer(m_gl.gl());
        std::unique_ptr<QOpenGLTexture> input(createAttachedTexture(
            4, 1, QOpenGLTexture::RGBA8_UNorm, 0, QOpenGLTexture::RGBA, QOpenGLTexture::UInt8));
        const std::uint8_t texels[16] = {10, 0, 0, 255, 20, 0, 0, 255,
                                         30, 0, 0, 255, 40, 0, 0, 255};
        input->setData(QOpenGLTexture::RGBA, QOpenGLTexture::UInt8,
                       static_cast<const void *>(texels));
        for (int index = 0; index < shaderProgramCount; ++index) {
            QOpenGLShaderProgram &program = shaderProgram(ShaderProgram(index));
            QVERIFY2(program.isLinked(), qPrintable(program.log()));
            std::unique_ptr<QOpenGLTexture> output(createAttachedTexture(
                4, 1, QOpenGLTexture::RGBA8_UNorm, 0, QOpenGLTexture::RGBA, QOpenGLTexture::UInt8));
            input->bind(0);
            program.bind();
            program.setUniformValue("textureImage", 0);
            drawScreenQuad(4, 1);
            program.release();
            input->release(0);
            const auto result = readTextureBytes(m_gl.gl(), output.get(), 4, 1);
            QCOMPARE(QVector<int>({result[0], result[4], result[8], result[12]}),
                     QVector<int>({40, 30, 20, 10}));
        }
    }
};

ShaderLibraryGLTest *ShaderLibraryGLTest::s_current = nullptr;

QTEST_MAIN(ShaderLibraryGLTest)
#include "ShaderLibraryGLTest.moc"
