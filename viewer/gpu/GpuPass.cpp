#include "GpuPass.h"

#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>

#include <algorithm>
#include <utility>

namespace {

QOpenGLFunctions_3_3_Core *currentFunctions()
{
    return QOpenGLContext::currentContext()->versionFunctions<QOpenGLFunctions_3_3_Core>();
}

PassObserver &observer()
{
    static PassObserver installed;
    return installed;
}

const char *runningPass = "";

struct FormatTriple
{
    QOpenGLTexture::TextureFormat internal;
    QOpenGLTexture::PixelFormat pixels;
    QOpenGLTexture::PixelType type;
};

FormatTriple formatOf(PassFormat format)
{
    switch (format) {
    case PassFormat::Rgba16F:
        return {QOpenGLTexture::RGBA16F, QOpenGLTexture::RGBA, QOpenGLTexture::Float16};
    case PassFormat::R16F:
        return {QOpenGLTexture::R16F, QOpenGLTexture::Red, QOpenGLTexture::Float16};
    case PassFormat::R32F:
        return {QOpenGLTexture::R32F, QOpenGLTexture::Red, QOpenGLTexture::Float32};
    case PassFormat::Rgba32F:
        return {QOpenGLTexture::RGBA32F, QOpenGLTexture::RGBA, QOpenGLTexture::Float32};
    case PassFormat::Rgba8:
        break;
    }
    return {QOpenGLTexture::RGBA8_UNorm, QOpenGLTexture::RGBA, QOpenGLTexture::UInt32_RGBA8};
}

template<typename Inputs>
OwnedTexture runPassWith(const Pass &pass, const Inputs &inputs, const UniformSetter &setUniforms)
{
    runningPass = pass.name;
    const FormatTriple format = formatOf(pass.format);
    OwnedTexture output = createAttachedTexture(pass.width, pass.height, format.internal, 0,
                                                format.pixels, format.type);

    std::vector<TextureUnitBinding> bindings;
    bindings.reserve(inputs.size());
    for (const PassInput &input : inputs)
        bindings.emplace_back(*input.texture, input.unit);

    QOpenGLShaderProgram &program = pass.program;
    program.bind();
    if (setUniforms)
        setUniforms(program);
    static const QuadCorners unitSquare = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
    drawTexturedQuad(pass.width, pass.height, pass.corners ? *pass.corners : unitSquare,
                     pass.region);
    program.release();

    for (TextureUnitBinding &binding : bindings)
        binding.release();
    if (!bindings.empty())
        currentFunctions()->glActiveTexture(GL_TEXTURE0);

    if (observer())
        observer()(pass.name);
    runningPass = "";
    return output;
}

} // namespace

Framebuffer Framebuffer::generate()
{
    Framebuffer framebuffer;
    framebuffer.m_context = QOpenGLContext::currentContext();
    currentFunctions()->glGenFramebuffers(1, &framebuffer.m_name);
    return framebuffer;
}

Framebuffer::~Framebuffer()
{
    release();
}

Framebuffer::Framebuffer(Framebuffer &&other) noexcept
    : m_name(std::exchange(other.m_name, 0))
    , m_context(std::move(other.m_context))
{ }

Framebuffer &Framebuffer::operator=(Framebuffer &&other) noexcept
{
    if (this != &other) {
        release();
        m_name = std::exchange(other.m_name, 0);
        m_context = std::move(other.m_context);
    }
    return *this;
}

void Framebuffer::release() noexcept
{
    // A context that is gone took its framebuffers with it; one that is not current cannot be
    // reached from here without a surface, and releases them when it goes.
    if (m_name != 0 && m_context && QOpenGLContext::currentContext() == m_context)
        currentFunctions()->glDeleteFramebuffers(1, &m_name);
    m_name = 0;
}

FramebufferPasses::FramebufferPasses(const Framebuffer &framebuffer)
    : m_gl(currentFunctions())
{
    GLint previous = 0;
    m_gl->glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &previous);
    m_previous = GLuint(previous);
    m_gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.name());
    const GLenum drawBuffer = GL_COLOR_ATTACHMENT0;
    m_gl->glDrawBuffers(1, &drawBuffer);
}

FramebufferPasses::~FramebufferPasses()
{
    m_gl->glFramebufferTexture(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, 0, 0);
    m_gl->glBindFramebuffer(GL_FRAMEBUFFER, m_previous);
}

TextureUnitBinding::TextureUnitBinding(QOpenGLTexture &texture, int unit)
    : m_texture(&texture)
    , m_unit(unit)
{
    m_texture->bind(GLuint(m_unit), QOpenGLTexture::DontResetTextureUnit);
}

TextureUnitBinding::TextureUnitBinding(TextureUnitBinding &&other) noexcept
    : m_texture(std::exchange(other.m_texture, nullptr))
    , m_unit(other.m_unit)
{ }

TextureUnitBinding::~TextureUnitBinding()
{
    release();
}

void TextureUnitBinding::release()
{
    if (m_texture)
        m_texture->release(GLuint(m_unit), QOpenGLTexture::DontResetTextureUnit);
    m_texture = nullptr;
}

OwnedTexture runPass(const Pass &pass, std::initializer_list<PassInput> inputs,
                     const UniformSetter &setUniforms)
{
    return runPassWith(pass, inputs, setUniforms);
}

OwnedTexture runPass(const Pass &pass, const std::vector<PassInput> &inputs,
                     const UniformSetter &setUniforms)
{
    return runPassWith(pass, inputs, setUniforms);
}

bool copiesInto(const QOpenGLTexture &input, PassFormat format)
{
    // Texel copies between textures came with OpenGL 4.3.
    const QOpenGLContext *context = QOpenGLContext::currentContext();
    const bool canCopy = context->format().version() >= qMakePair(4, 3)
        || context->hasExtension(QByteArrayLiteral("GL_ARB_copy_image"));
    return canCopy && sameFormat(input, format);
}

bool sameFormat(const QOpenGLTexture &texture, PassFormat format)
{
    return texture.format() == formatOf(format).internal;
}

OwnedTexture runCopyPass(const char *name, QOpenGLTexture &input, int width, int height,
                         PassFormat format, QPoint offset, const float (&elsewhere)[4])
{
    runningPass = name;
    const FormatTriple formats = formatOf(format);
    OwnedTexture output =
        createAttachedTexture(width, height, formats.internal, 0, formats.pixels, formats.type);
    QOpenGLFunctions_3_3_Core *gl = currentFunctions();

    // The output texels that have an input texel.
    const int left = std::max(0, -offset.x()), right = std::min(width, input.width() - offset.x());
    const int bottom = std::max(0, -offset.y()),
              top = std::min(height, input.height() - offset.y());
    if (left > 0 || bottom > 0 || right < width || top < height) {
        GLfloat clearColour[4];
        gl->glGetFloatv(GL_COLOR_CLEAR_VALUE, clearColour);
        gl->glClearColor(elsewhere[0], elsewhere[1], elsewhere[2], elsewhere[3]);
        gl->glClear(GL_COLOR_BUFFER_BIT);
        gl->glClearColor(clearColour[0], clearColour[1], clearColour[2], clearColour[3]);
    }
    if (left < right && bottom < top) {
        QOpenGLContext::currentContext()->extraFunctions()->glCopyImageSubData(
            input.textureId(), GL_TEXTURE_2D, 0, left + offset.x(), bottom + offset.y(), 0,
            output->textureId(), GL_TEXTURE_2D, 0, left, bottom, 0, right - left, top - bottom, 1);
    }

    if (observer())
        observer()(name);
    runningPass = "";
    return output;
}

OwnedTexture mipmappedCopy(const char *name, QOpenGLTexture &input, PassFormat format)
{
    runningPass = name;
    const FormatTriple formats = formatOf(format);
    const int width = input.width(), height = input.height();
    OwnedTexture copy(new QOpenGLTexture(QOpenGLTexture::Target2D));
    copy->create();
    copy->setFormat(formats.internal);
    copy->setSize(width, height);
    copy->setMipLevels(copy->maximumMipLevels());
    copy->allocateStorage(formats.pixels, formats.type);
    copy->setMinMagFilters(QOpenGLTexture::LinearMipMapLinear, QOpenGLTexture::Linear);
    copy->setWrapMode(QOpenGLTexture::ClampToEdge);

    // Level 0 is read from the input attached to the bound framebuffer: a read any OpenGL 3
    // driver can do between colour-renderable formats.
    QOpenGLFunctions_3_3_Core *gl = currentFunctions();
    gl->glFramebufferTexture(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, input.textureId(), 0);
    gl->glReadBuffer(GL_COLOR_ATTACHMENT0);
    copy->bind(0);
    gl->glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, width, height);
    gl->glFramebufferTexture(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, 0, 0);
    gl->glGenerateMipmap(GL_TEXTURE_2D);
    copy->release(0);

    if (observer())
        observer()(name);
    runningPass = "";
    return copy;
}

OffscreenTarget::OffscreenTarget(int width, int height)
    : m_framebuffer(Framebuffer::generate())
{
    bind();
    const FormatTriple format = formatOf(PassFormat::Rgba8);
    m_texture =
        createAttachedTexture(width, height, format.internal, 0, format.pixels, format.type);
    currentFunctions()->glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void OffscreenTarget::bind()
{
    QOpenGLFunctions_3_3_Core *gl = currentFunctions();
    gl->glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer.name());
    const GLenum drawBuffer = GL_COLOR_ATTACHMENT0;
    gl->glDrawBuffers(1, &drawBuffer);
}

void displayTexture(QOpenGLTexture &texture, int width, int height)
{
    runningPass = "display";
    texture.bind(0);
    drawScreenQuad(width, height);
    texture.release(0);
    if (observer())
        observer()(runningPass);
    runningPass = "";
}

void displayTexture(QOpenGLTexture &texture, int width, int height, const LuminanceStretch &stretch)
{
    if (!stretch.changesPicture()) {
        displayTexture(texture, width, height);
        return;
    }
    runningPass = "stretched display";
    QOpenGLShaderProgram &program = shaderProgram(ShaderProgram::NormalizeLuminance);
    texture.bind(0);
    program.bind();
    program.setUniformValue("textureImage", 0);
    program.setUniformValue("minLuminance", stretch.minimum);
    program.setUniformValue("maxLuminance", stretch.maximum);
    drawScreenQuad(width, height);
    program.release();
    texture.release(0);
    if (observer())
        observer()(runningPass);
    runningPass = "";
}

namespace {

template<typename Element>
std::vector<Element> readTexture(QOpenGLTexture &texture, int width, int height, GLenum type,
                                 Element fill)
{
    std::vector<Element> texels(size_t(width) * size_t(height) * 4, fill);
    QOpenGLFunctions_3_3_Core *gl = currentFunctions();
    gl->glActiveTexture(GL_TEXTURE0);
    gl->glBindTexture(GL_TEXTURE_2D, texture.textureId());
    gl->glPixelStorei(GL_PACK_ALIGNMENT, 1);
    gl->glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, type, texels.data());
    gl->glBindTexture(GL_TEXTURE_2D, 0);
    return texels;
}

} // namespace

std::vector<std::uint8_t> readTextureBytes(QOpenGLTexture &texture, int width, int height)
{
    return readTexture<std::uint8_t>(texture, width, height, GL_UNSIGNED_BYTE, 0);
}

std::vector<float> readTextureFloats(QOpenGLTexture &texture, int width, int height)
{
    return readTexture<float>(texture, width, height, GL_FLOAT, 0.0f);
}

void setPassObserver(PassObserver newObserver)
{
    observer() = std::move(newObserver);
}

const char *currentPassName()
{
    return runningPass;
}
