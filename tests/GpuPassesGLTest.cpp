#include "support/GLImages.h"
#include "support/GLTestContext.h"
#include "support/TestPrograms.h"
#include "viewer/ScreenQuad.h"

#include <GL/gl.h>
#include <QtTest>

// createAttachedTexture and drawScreenQuad: what a pass writes, where its first row lands, what
// sampling outside a texture gives, and the GL state a pass leaves for the next one.
class GpuPassesGLTest : public QObject
{
    Q_OBJECT

    GLTestContext m_gl;
    std::unique_ptr<QOpenGLShaderProgram> m_constant; // writes "value"
    std::unique_ptr<QOpenGLShaderProgram>
        m_copy; // samples "textureImage" at "scale" × uv + "shift"

    QOpenGLFunctions_3_3_Core *gl() { return m_gl.gl(); }

    GLint integer(GLenum name)
    {
        GLint value = 0;
        gl()->glGetIntegerv(name, &value);
        return value;
    }

    GLint textureParameter(QOpenGLTexture *texture, GLenum name)
    {
        GLint value = 0;
        gl()->glBindTexture(GL_TEXTURE_2D, texture->textureId());
        gl()->glGetTexParameteriv(GL_TEXTURE_2D, name, &value);
        gl()->glBindTexture(GL_TEXTURE_2D, 0);
        return value;
    }

    // An RGBA8 texture whose texel (x, y) holds (x, y, 7, 255), uploaded in GL row order.
    QOpenGLTexture *coordinateTexture(int width, int height)
    {
        QOpenGLTexture *texture =
            createAttachedTexture(width, height, QOpenGLTexture::RGBA8_UNorm, 0,
                                  QOpenGLTexture::RGBA, QOpenGLTexture::UInt8);
        std::vector<std::uint8_t> texels;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                texels.insert(texels.end(), {std::uint8_t(x), std::uint8_t(y), 7, 255});
        }
        texture->setData(QOpenGLTexture::RGBA, QOpenGLTexture::UInt8,
                         static_cast<const void *>(texels.data()));
        return texture;
    }

private slots:
    void initTestCase()
    {
        LF_CREATE_GL_CONTEXT(m_gl);
        m_constant = makeTestProgram("#version 330 compatibility\n"
                                     "uniform vec4 value;\n"
                                     "layout(location = 0) out vec4 colour;\n"
                                     "void main() { colour = value; }\n");
        m_copy = makeTestProgram(
            "#version 330 compatibility\n"
            "uniform sampler2D textureImage;\n"
            "uniform vec2 scale;\n"
            "uniform vec2 shift;\n"
            "in vec2 uv;\n"
            "layout(location = 0) out vec4 colour;\n"
            "void main() { colour = texture(textureImage, scale * uv + shift); }\n");
        QVERIFY(m_constant && m_copy);
    }

    void cleanup() { LF_VERIFY_NO_GL_ERROR(m_gl); }

    void attachedTextureProperties_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("pixelFormat");
        QTest::addColumn<int>("pixelType");
        QTest::addColumn<int>("internalFormat");
        QTest::newRow("8-bit colour")
            << int(QOpenGLTexture::RGBA8_UNorm) << int(QOpenGLTexture::RGBA)
            << int(QOpenGLTexture::UInt32_RGBA8) << GL_RGBA8;
        QTest::newRow("half-float colour")
            << int(QOpenGLTexture::RGBA16F) << int(QOpenGLTexture::RGBA)
            << int(QOpenGLTexture::Float16) << GL_RGBA16F;
        QTest::newRow("half-float disparity")
            << int(QOpenGLTexture::R16F) << int(QOpenGLTexture::Red) << int(QOpenGLTexture::Float16)
            << GL_R16F;
    }

    void attachedTextureProperties()
    {
        QFETCH(int, format);
        QFETCH(int, pixelFormat);
        QFETCH(int, pixelType);
        QFETCH(int, internalFormat);
        ScopedFramebuffer framebuffer(gl());
        std::unique_ptr<QOpenGLTexture> texture(createAttachedTexture(
            5, 3, QOpenGLTexture::TextureFormat(format), 0,
            QOpenGLTexture::PixelFormat(pixelFormat), QOpenGLTexture::PixelType(pixelType)));

        GLint attached = 0;
        gl()->glGetFramebufferAttachmentParameteriv(
            GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &attached);
        QCOMPARE(GLuint(attached), texture->textureId());
        QCOMPARE(gl()->glCheckFramebufferStatus(GL_FRAMEBUFFER), GLenum(GL_FRAMEBUFFER_COMPLETE));

        gl()->glBindTexture(GL_TEXTURE_2D, texture->textureId());
        GLint width = 0, height = 0, actualFormat = 0;
        gl()->glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
        gl()->glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
        gl()->glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &actualFormat);
        GLfloat border[4] = {};
        gl()->glGetTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, border);
        gl()->glBindTexture(GL_TEXTURE_2D, 0);
        QCOMPARE(width, 5);
        QCOMPARE(height, 3);
        QCOMPARE(actualFormat, internalFormat);
        QCOMPARE(textureParameter(texture.get(), GL_TEXTURE_MIN_FILTER), GL_NEAREST);
        QCOMPARE(textureParameter(texture.get(), GL_TEXTURE_MAG_FILTER), GL_NEAREST);
        QCOMPARE(textureParameter(texture.get(), GL_TEXTURE_WRAP_S), GL_CLAMP_TO_BORDER);
        QCOMPARE(textureParameter(texture.get(), GL_TEXTURE_WRAP_T), GL_CLAMP_TO_BORDER);
        QCOMPARE(QVector<float>(border, border + 4), QVector<float>({0, 0, 0, 1}));
    }

    void onePixelPassWritesItsTexel()
    {
        ScopedFramebuffer framebuffer(gl());
        std::unique_ptr<QOpenGLTexture> output(createAttachedTexture(
            1, 1, QOpenGLTexture::RGBA16F, 0, QOpenGLTexture::RGBA, QOpenGLTexture::Float16));
        m_constant->bind();
        m_constant->setUniformValue("value", QVector4D(0.25f, 2.5f, -1.0f, 1.0f));
        drawScreenQuad(1, 1);
        m_constant->release();
        // A half-float target keeps values outside 0..1.
        QCOMPARE(readTextureFloats(gl(), output.get(), 1, 1),
                 std::vector<float>({0.25f, 2.5f, -1.0f, 1.0f}));
        GLint viewport[4] = {};
        gl()->glGetIntegerv(GL_VIEWPORT, viewport);
        QCOMPARE(QVector<GLint>(viewport, viewport + 4), QVector<GLint>({0, 0, 1, 1}));
    }

    void everyTexelOfASmallTargetIsWritten()
    {
        // The viewport follows the output's size, not a larger window's.
        ScopedFramebuffer framebuffer(gl());
        gl()->glViewport(0, 0, 640, 480);
        std::unique_ptr<QOpenGLTexture> output(
            createAttachedTexture(7, 5, QOpenGLTexture::RGBA8_UNorm, 0, QOpenGLTexture::RGBA,
                                  QOpenGLTexture::UInt32_RGBA8));
        m_constant->bind();
        m_constant->setUniformValue("value", QVector4D(0.0f, 1.0f, 0.0f, 1.0f));
        drawScreenQuad(7, 5);
        m_constant->release();
        const auto texels = readTextureBytes(gl(), output.get(), 7, 5);
        for (size_t i = 0; i < texels.size(); i += 4)
            QCOMPARE(QVector<int>({texels[i], texels[i + 1], texels[i + 2], texels[i + 3]}),
                     QVector<int>({0, 255, 0, 255}));
    }

    void passKeepsRowOrderAndSamplesOutsideAsOpaqueBlack()
    {
        ScopedFramebuffer framebuffer(gl());
        std::unique_ptr<QOpenGLTexture> input(coordinateTexture(4, 4));
        std::unique_ptr<QOpenGLTexture> output(
            createAttachedTexture(12, 12, QOpenGLTexture::RGBA8_UNorm, 0, QOpenGLTexture::RGBA,
                                  QOpenGLTexture::UInt32_RGBA8));
        input->bind(0);
        m_copy->bind();
        m_copy->setUniformValue("textureImage", 0);
        // The output shows the input in its middle third and samples outside [0, 1] around it.
        m_copy->setUniformValue("scale", QVector2D(3.0f, 3.0f));
        m_copy->setUniformValue("shift", QVector2D(-1.0f, -1.0f));
        drawScreenQuad(12, 12);
        m_copy->release();
        input->release(0);

        const auto texels = readTextureBytes(gl(), output.get(), 12, 12);
        for (int y = 0; y < 12; ++y) {
            for (int x = 0; x < 12; ++x) {
                const std::uint8_t *texel = &texels[(size_t(y) * 12 + x) * 4];
                const bool inside = x >= 4 && x < 8 && y >= 4 && y < 8;
                const QVector<int> expected =
                    inside ? QVector<int>({x - 4, y - 4, 7, 255}) : QVector<int>({0, 0, 0, 255});
                QCOMPARE(QVector<int>({texel[0], texel[1], texel[2], texel[3]}), expected);
            }
        }
    }

    void finalDisplayShowsTheFirstRowAtTheBottom()
    {
        // The frame's display: no program bound, the fixed-function pipeline draws the texture
        // over the whole target unchanged.
        std::unique_ptr<QOpenGLTexture> input;
        {
            ScopedFramebuffer scratch(gl());
            input.reset(coordinateTexture(6, 4));
        }
        ScopedFramebuffer framebuffer(gl());
        std::unique_ptr<QOpenGLTexture> target(
            createAttachedTexture(6, 4, QOpenGLTexture::RGBA8_UNorm, 0, QOpenGLTexture::RGBA,
                                  QOpenGLTexture::UInt32_RGBA8));
        gl()->glEnable(GL_TEXTURE_2D);
        input->bind(0);
        drawScreenQuad(6, 4);
        input->release(0);
        gl()->glDisable(GL_TEXTURE_2D);

        std::vector<std::uint8_t> pixels(6 * 4 * 4);
        gl()->glReadPixels(0, 0, 6, 4, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 6; ++x) {
                QCOMPARE(int(pixels[(size_t(y) * 6 + x) * 4 + 0]), x);
                QCOMPARE(int(pixels[(size_t(y) * 6 + x) * 4 + 1]), y);
            }
        }
    }

    void passDisciplineLeavesTheStateTheNextPassExpects()
    {
        ScopedFramebuffer scratch(gl());
        std::unique_ptr<QOpenGLTexture> input(coordinateTexture(8, 8));
        gl()->glBindFramebuffer(GL_FRAMEBUFFER, 0);

        // One pass the way every stage runs it.
        GLuint framebuffer = 0;
        gl()->glGenFramebuffers(1, &framebuffer);
        gl()->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        const GLenum drawBuffer = GL_COLOR_ATTACHMENT0;
        gl()->glDrawBuffers(1, &drawBuffer);
        std::unique_ptr<QOpenGLTexture> output(
            createAttachedTexture(8, 8, QOpenGLTexture::RGBA8_UNorm, 0, QOpenGLTexture::RGBA,
                                  QOpenGLTexture::UInt32_RGBA8));
        input->bind(0);
        m_copy->bind();
        m_copy->setUniformValue("textureImage", 0);
        m_copy->setUniformValue("scale", QVector2D(1.0f, 1.0f));
        m_copy->setUniformValue("shift", QVector2D(0.0f, 0.0f));
        drawScreenQuad(8, 8);
        m_copy->release();
        input->release(0);
        gl()->glFramebufferTexture(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, 0, 0);
        gl()->glBindFramebuffer(GL_FRAMEBUFFER, 0);

        QCOMPARE(integer(GL_FRAMEBUFFER_BINDING), 0);
        QCOMPARE(integer(GL_CURRENT_PROGRAM), 0);
        QCOMPARE(integer(GL_ACTIVE_TEXTURE), GL_TEXTURE0);
        QCOMPARE(integer(GL_TEXTURE_BINDING_2D), 0);
        QCOMPARE(integer(GL_MATRIX_MODE), GL_PROJECTION);
        GLfloat projection[16] = {};
        gl()->glGetFloatv(GL_PROJECTION_MATRIX, projection);
        QCOMPARE(QMatrix4x4(projection), QMatrix4x4());
        QCOMPARE(readTextureBytes(gl(), output.get(), 8, 8),
                 readTextureBytes(gl(), input.get(), 8, 8));
        gl()->glDeleteFramebuffers(1, &framebuffer);
    }
};

QTEST_MAIN(GpuPassesGLTest)
#include "GpuPassesGLTest.moc"
