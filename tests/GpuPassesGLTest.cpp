#include "support/GLImages.h"
#include "support/GLTestContext.h"
#include "support/PlaneBuilder.h"
#include "support/TestPrograms.h"
#include "viewer/gpu/GpuPass.h"

#include <GL/gl.h>
#include <QtTest>

// The pass toolkit: what a pass writes, where its first row lands, what sampling outside a texture
// gives, which unit each input reaches, the GL state a pass leaves for the next one, who releases
// a framebuffer, and which pass a GL error is blamed on.
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
    OwnedTexture coordinateTexture(int width, int height)
    {
        OwnedTexture texture = createAttachedTexture(width, height, QOpenGLTexture::RGBA8_UNorm, 0,
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
        ScopedFramebuffer framebuffer;
        OwnedTexture texture(createAttachedTexture(5, 3, QOpenGLTexture::TextureFormat(format), 0,
                                                   QOpenGLTexture::PixelFormat(pixelFormat),
                                                   QOpenGLTexture::PixelType(pixelType)));

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
        ScopedFramebuffer framebuffer;
        OwnedTexture output(createAttachedTexture(1, 1, QOpenGLTexture::RGBA16F, 0,
                                                  QOpenGLTexture::RGBA, QOpenGLTexture::Float16));
        m_constant->bind();
        m_constant->setUniformValue("value", QVector4D(0.25f, 2.5f, -1.0f, 1.0f));
        drawScreenQuad(1, 1);
        m_constant->release();
        // A half-float target keeps values outside 0..1.
        QCOMPARE(readTextureFloats(*output, 1, 1), std::vector<float>({0.25f, 2.5f, -1.0f, 1.0f}));
        GLint viewport[4] = {};
        gl()->glGetIntegerv(GL_VIEWPORT, viewport);
        QCOMPARE(QVector<GLint>(viewport, viewport + 4), QVector<GLint>({0, 0, 1, 1}));
    }

    void everyTexelOfASmallTargetIsWritten()
    {
        // The viewport follows the output's size, not a larger window's.
        ScopedFramebuffer framebuffer;
        gl()->glViewport(0, 0, 640, 480);
        OwnedTexture output(createAttachedTexture(7, 5, QOpenGLTexture::RGBA8_UNorm, 0,
                                                  QOpenGLTexture::RGBA,
                                                  QOpenGLTexture::UInt32_RGBA8));
        m_constant->bind();
        m_constant->setUniformValue("value", QVector4D(0.0f, 1.0f, 0.0f, 1.0f));
        drawScreenQuad(7, 5);
        m_constant->release();
        const auto texels = readTextureBytes(*output, 7, 5);
        for (size_t i = 0; i < texels.size(); i += 4)
            QCOMPARE(QVector<int>({texels[i], texels[i + 1], texels[i + 2], texels[i + 3]}),
                     QVector<int>({0, 255, 0, 255}));
    }

    void regionLimitsWhereTheProgramRuns()
    {
        ScopedFramebuffer framebuffer;
        gl()->glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
        const DrawnRegion region {2, 1, 3, 2, {0.0f, 0.0f, 0.5f, 0.0f}};
        const OwnedTexture output =
            runPass({"region", *m_constant, 7, 5, PassFormat::Rgba16F, nullptr, &region}, {},
                    [](QOpenGLShaderProgram &program) {
                        program.setUniformValue("value", QVector4D(1.0f, 0.0f, 0.0f, 1.0f));
                    });
        const std::vector<float> texels = readTextureFloats(*output, 7, 5);
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < 7; ++x) {
                const bool inside = x >= 2 && x < 5 && y >= 1 && y < 3;
                const float *texel = &texels[(size_t(y) * 7 + x) * 4];
                QCOMPARE(std::vector<float>(texel, texel + 4),
                         inside ? std::vector<float>({1.0f, 0.0f, 0.0f, 1.0f})
                                : std::vector<float>({0.0f, 0.0f, 0.5f, 0.0f}));
            }
        }
        // The next pass draws everywhere again and clears with the caller's colour.
        QVERIFY(!gl()->glIsEnabled(GL_SCISSOR_TEST));
        GLfloat clearColour[4] = {};
        gl()->glGetFloatv(GL_COLOR_CLEAR_VALUE, clearColour);
        QCOMPARE(QVector4D(clearColour[0], clearColour[1], clearColour[2], clearColour[3]),
                 QVector4D(1.0f, 1.0f, 1.0f, 1.0f));
        gl()->glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    }

    void copyPassMovesTexelsAndFillsTheRest_data()
    {
        QTest::addColumn<QPoint>("offset");
        QTest::newRow("inside, moved right and up") << QPoint(1, 2);
        QTest::newRow("reaching past every edge") << QPoint(-2, -1);
        QTest::newRow("beside the input") << QPoint(5, 0);
    }

    void copyPassMovesTexelsAndFillsTheRest()
    {
        QFETCH(QPoint, offset);
        ScopedFramebuffer framebuffer;
        OwnedTexture input(coordinateTexture(5, 4));
        if (!copiesInto(*input, PassFormat::Rgba8))
            QSKIP("The GL copies no texels between textures (OpenGL 4.3)");
        gl()->glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
        const float elsewhere[4] = {0.0f, 0.0f, 1.0f, 0.0f};
        // Outputs larger and smaller than the input.
        for (const QSize size : {QSize(8, 7), QSize(3, 2)}) {
            const OwnedTexture output = runCopyPass("copy", *input, size.width(), size.height(),
                                                    PassFormat::Rgba8, offset, elsewhere);
            const auto texels = readTextureBytes(*output, size.width(), size.height());
            for (int y = 0; y < size.height(); ++y) {
                for (int x = 0; x < size.width(); ++x) {
                    const int inputX = x + offset.x(), inputY = y + offset.y();
                    const bool inside = inputX >= 0 && inputX < 5 && inputY >= 0 && inputY < 4;
                    const std::uint8_t *texel = &texels[(size_t(y) * size.width() + x) * 4];
                    QCOMPARE(QVector<int>({texel[0], texel[1], texel[2], texel[3]}),
                             inside ? QVector<int>({inputX, inputY, 7, 255})
                                    : QVector<int>({0, 0, 255, 0}));
                }
            }
        }
        GLfloat clearColour[4] = {};
        gl()->glGetFloatv(GL_COLOR_CLEAR_VALUE, clearColour);
        QCOMPARE(QVector4D(clearColour[0], clearColour[1], clearColour[2], clearColour[3]),
                 QVector4D(1.0f, 1.0f, 1.0f, 1.0f));
        gl()->glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        // Only an input of the output's format is copied.
        QVERIFY(!copiesInto(*input, PassFormat::Rgba16F));
    }

    void passKeepsRowOrderAndSamplesOutsideAsOpaqueBlack()
    {
        ScopedFramebuffer framebuffer;
        OwnedTexture input(coordinateTexture(4, 4));
        OwnedTexture output(createAttachedTexture(12, 12, QOpenGLTexture::RGBA8_UNorm, 0,
                                                  QOpenGLTexture::RGBA,
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

        const auto texels = readTextureBytes(*output, 12, 12);
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
        OwnedTexture input;
        {
            ScopedFramebuffer scratch;
            input = coordinateTexture(6, 4);
        }
        OffscreenTarget window(6, 4);
        window.bind();
        gl()->glEnable(GL_TEXTURE_2D);
        displayTexture(*input, 6, 4);
        gl()->glDisable(GL_TEXTURE_2D);

        const auto pixels = readTextureBytes(window.texture(), 6, 4);
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 6; ++x) {
                QCOMPARE(int(pixels[(size_t(y) * 6 + x) * 4 + 0]), x);
                QCOMPARE(int(pixels[(size_t(y) * 6 + x) * 4 + 1]), y);
            }
        }
        QCOMPARE(integer(GL_TEXTURE_BINDING_2D), 0);
    }

    void passBindsEachInputToItsUnit()
    {
        // Three inputs of constant colours on units 0, 3 and 5; the program weights them so
        // that a mix-up of units shows in the result.
        auto mix = makeTestProgram("#version 330 compatibility\n"
                                   "uniform sampler2D first;\n"
                                   "uniform sampler2D second;\n"
                                   "uniform sampler2D third;\n"
                                   "in vec2 uv;\n"
                                   "layout(location = 0) out vec4 colour;\n"
                                   "void main() {\n"
                                   "    colour = texture(first, uv) + 2.0 * texture(second, uv)\n"
                                   "        + 4.0 * texture(third, uv);\n"
                                   "}\n");
        QVERIFY(mix);
        ScopedFramebuffer framebuffer;
        OwnedTexture inputs[3];
        const float values[3] = {0.125f, 0.25f, 0.5f};
        for (int i = 0; i < 3; ++i)
            inputs[i] = uploadRgba16F(2, 2, std::vector<float>(16, values[i]));
        QStringList passes;
        setPassObserver([&](const char *name) { passes << QString::fromUtf8(name); });
        OwnedTexture output =
            runPass({"unit check", *mix, 2, 2, PassFormat::Rgba16F},
                    {{inputs[0].get(), 0}, {inputs[1].get(), 3}, {inputs[2].get(), 5}},
                    [](QOpenGLShaderProgram &program) {
                        program.setUniformValue("first", 0);
                        program.setUniformValue("second", 3);
                        program.setUniformValue("third", 5);
                    });
        m_gl.installPassCheck();
        QCOMPARE(passes, QStringList({QStringLiteral("unit check")}));
        const float expected = 0.125f + 2.0f * 0.25f + 4.0f * 0.5f;
        QCOMPARE(readTextureFloats(*output, 2, 2), std::vector<float>(16, expected));

        // Every input is released again, unit 0 is active and no program is bound; the
        // framebuffer stays bound for the next pass.
        for (int unit : {0, 3, 5}) {
            gl()->glActiveTexture(GLenum(GL_TEXTURE0 + unit));
            QCOMPARE(integer(GL_TEXTURE_BINDING_2D), 0);
        }
        gl()->glActiveTexture(GL_TEXTURE0);
        QCOMPARE(integer(GL_CURRENT_PROGRAM), 0);
        QCOMPARE(GLuint(integer(GL_FRAMEBUFFER_BINDING)), framebuffer.name());
    }

    void passDisciplineLeavesTheStateTheNextPassExpects()
    {
        OwnedTexture input;
        {
            ScopedFramebuffer scratch;
            input = coordinateTexture(8, 8);
        }
        const Framebuffer framebuffer = Framebuffer::generate();
        OwnedTexture output;
        {
            FramebufferPasses passes(framebuffer);
            QCOMPARE(GLuint(integer(GL_FRAMEBUFFER_BINDING)), framebuffer.name());
            QCOMPARE(integer(GL_DRAW_BUFFER0), GL_COLOR_ATTACHMENT0);
            output = runPass({"copy", *m_copy, 8, 8, PassFormat::Rgba8}, {{input.get(), 0}},
                             [](QOpenGLShaderProgram &program) {
                                 program.setUniformValue("textureImage", 0);
                                 program.setUniformValue("scale", QVector2D(1.0f, 1.0f));
                                 program.setUniformValue("shift", QVector2D(0.0f, 0.0f));
                             });
            GLint attached = 0;
            gl()->glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0,
                                                        GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME,
                                                        &attached);
            QCOMPARE(GLuint(attached), output->textureId());
        }
        QCOMPARE(integer(GL_FRAMEBUFFER_BINDING), 0);
        QCOMPARE(integer(GL_CURRENT_PROGRAM), 0);
        QCOMPARE(integer(GL_ACTIVE_TEXTURE), GL_TEXTURE0);
        QCOMPARE(integer(GL_TEXTURE_BINDING_2D), 0);
        QCOMPARE(integer(GL_MATRIX_MODE), GL_PROJECTION);
        GLfloat projection[16] = {};
        gl()->glGetFloatv(GL_PROJECTION_MATRIX, projection);
        QCOMPARE(QMatrix4x4(projection), QMatrix4x4());
        QCOMPARE(readTextureBytes(*output, 8, 8), readTextureBytes(*input, 8, 8));

        // The last pass's target is detached, so nothing writes into it by accident.
        gl()->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.name());
        GLint attached = -1;
        gl()->glGetFramebufferAttachmentParameteriv(
            GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &attached);
        QCOMPARE(attached, 0);
        gl()->glBindFramebuffer(GL_FRAMEBUFFER, 0);
    }

    void framebufferIsOwnedOnce()
    {
        Framebuffer first = Framebuffer::generate();
        const GLuint name = first.name();
        QVERIFY(gl()->glIsFramebuffer(name) == GL_FALSE); // a name, not yet an object
        gl()->glBindFramebuffer(GL_FRAMEBUFFER, name);
        gl()->glBindFramebuffer(GL_FRAMEBUFFER, 0);
        QVERIFY(gl()->glIsFramebuffer(name) == GL_TRUE);

        Framebuffer second(std::move(first));
        QCOMPARE(first.name(), GLuint(0));
        QVERIFY(!first);
        QCOMPARE(second.name(), name);
        {
            Framebuffer third;
            third = std::move(second);
            QCOMPARE(second.name(), GLuint(0));
            QVERIFY(gl()->glIsFramebuffer(name) == GL_TRUE);
        }
        // Released once, by the last owner, with its context current.
        QVERIFY(gl()->glIsFramebuffer(name) == GL_FALSE);
    }

    // Frames reuse what earlier frames dropped; nothing still owned is handed out twice, a
    // reused texture starts with the settings of a new one and shows only what its new pass
    // drew, and textures outliving their pool are destroyed as usual.
    void passOutputsAreReusedOnlyOnceDropped()
    {
        ScopedFramebuffer framebuffer;
        auto constantPass = [this](QVector4D value, int width = 4, int height = 3) {
            return runPass({"constant", *m_constant, width, height, PassFormat::Rgba8}, {},
                           [value](QOpenGLShaderProgram &program) {
                               program.setUniformValue("value", value);
                           });
        };
        OwnedTexture survivor;
        GLuint keptName = 0;
        {
            PassOutputPool pool(2);
            PassOutputPool::Use use(pool);
            OwnedTexture first = constantPass(QVector4D(1, 0, 0, 1));
            OwnedTexture second = constantPass(QVector4D(0, 1, 0, 1));
            QVERIFY(first.get() != second.get());
            QOpenGLTexture *firstTexture = first.get();
            first->setMinMagFilters(QOpenGLTexture::Linear, QOpenGLTexture::Linear);
            first->setWrapMode(QOpenGLTexture::MirroredRepeat);
            first.reset();
            QCOMPARE(pool.keptCount(), 1);

            // Another size or format is not served from what the pool keeps.
            OwnedTexture wider = constantPass(QVector4D(0, 0, 1, 1), 5, 3);
            QVERIFY(wider.get() != firstTexture);
            QCOMPARE(pool.keptCount(), 1);

            OwnedTexture third = constantPass(QVector4D(0, 0, 1, 1));
            QCOMPARE(third.get(), firstTexture);
            QCOMPARE(pool.keptCount(), 0);
            QCOMPARE(textureParameter(third.get(), GL_TEXTURE_MIN_FILTER), GL_NEAREST);
            QCOMPARE(textureParameter(third.get(), GL_TEXTURE_WRAP_S), GL_CLAMP_TO_BORDER);
            GLint attached = 0;
            gl()->glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0,
                                                        GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME,
                                                        &attached);
            QCOMPARE(GLuint(attached), third->textureId());
            const auto texels = readTextureBytes(*third, 4, 3);
            for (size_t i = 0; i < texels.size(); i += 4)
                QCOMPARE(QVector<int>({texels[i], texels[i + 1], texels[i + 2], texels[i + 3]}),
                         QVector<int>({0, 0, 255, 255}));

            // A full pool lets the texture go that it kept longest.
            QOpenGLTexture *secondTexture = second.get();
            second.reset();
            third.reset();
            keptName = wider->textureId();
            wider.reset();
            QCOMPARE(pool.keptCount(), 2);
            OwnedTexture reused = constantPass(QVector4D(1, 1, 1, 1));
            QCOMPARE(reused.get(), firstTexture);
            QVERIFY(reused.get() != secondTexture);

            // Dropped outside the pool's use, a texture still goes back to its pool.
            {
                PassOutputPool other(2);
                PassOutputPool::Use useOther(other);
                reused.reset();
            }
            QCOMPARE(pool.keptCount(), 2);
            survivor = constantPass(QVector4D(1, 0, 1, 1));
            QCOMPARE(pool.keptCount(), 1);
        }
        // The pool destroyed what it kept; what it had lent is its owner's to destroy.
        QVERIFY(gl()->glIsTexture(keptName) == GL_FALSE);
        const GLuint survivorName = survivor->textureId();
        QVERIFY(gl()->glIsTexture(survivorName) == GL_TRUE);
        survivor.reset();
        QVERIFY(gl()->glIsTexture(survivorName) == GL_FALSE);
        OwnedTexture outsideAnyPool = constantPass(QVector4D(1, 1, 0, 1));
        const GLuint outsideName = outsideAnyPool->textureId();
        outsideAnyPool.reset();
        QVERIFY(gl()->glIsTexture(outsideName) == GL_FALSE);
    }

    void glErrorsNameTheirPass()
    {
        ScopedFramebuffer framebuffer;
        OwnedTexture output = runPass({"faulty pass", *m_constant, 1, 1, PassFormat::Rgba8}, {},
                                      [this](QOpenGLShaderProgram &program) {
                                          program.setUniformValue("value", QVector4D());
                                          gl()->glEnable(GL_INVALID_ENUM); // not a capability
                                      });
        const QStringList errors = m_gl.takeErrors();
        QVERIFY2(!errors.isEmpty(), "the invalid call went unnoticed");
        for (const QString &error : errors)
            QVERIFY2(error.contains(QStringLiteral("\"faulty pass\"")), qPrintable(error));
    }
};

QTEST_MAIN(GpuPassesGLTest)
#include "GpuPassesGLTest.moc"
