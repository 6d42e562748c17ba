#include "support/GLImages.h"
#include "support/GLTestContext.h"
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
        QStringList tabled;
        for (const ShaderProgramFile &entry : shaderProgramFiles)
            tabled << QString::fromLatin1(entry.fragmentFile);
        QCOMPARE(tabled.removeDuplicates(), 0);
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
};

ShaderLibraryGLTest *ShaderLibraryGLTest::s_current = nullptr;

QTEST_MAIN(ShaderLibraryGLTest)
#include "ShaderLibraryGLTest.moc"
