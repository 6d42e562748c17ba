#pragma once

#include "ScreenQuad.h"
#include "ShaderLibrary.h"

#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLShaderProgram>
#include <QOpenGLTexture>
#include <QPoint>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

class QOpenGLContext;

// The pass toolkit. Every image operation of the viewer is a full-screen pass, and every pass is
// written the same way:
//
//     FramebufferPasses passes(m_framebuffer);          // the stage's target, one draw buffer
//     OwnedTexture out = runPass({"linear tone curve",
//     shaderProgram(ShaderProgram::LinearTonemapping),
//                                 width, height, PassFormat::Rgba16F},
//                                {{rgbe.get(), 0}},
//                                [&](QOpenGLShaderProgram &program) {
//                                    program.setUniformValue("textureImage", 0);
//                                });
//
// runPass keeps the order every pass follows: make and attach the output, bind the inputs to
// their units, bind the program and set its uniforms, draw, release the program, release the
// inputs. A texture the pass consumes is passed in as an OwnedTexture and so is destroyed right
// after it. When the scope of the passes ends the colour attachment is detached and the
// framebuffer that was bound before is bound again: the window's (framebuffer 0) while the viewer
// paints, which is what the next stage and the window's own drawing expect.

// The formats the passes render to.
enum class PassFormat
{
    Rgba8, // 8-bit colour: GL_RGBA8, GL_RGBA / GL_UNSIGNED_INT_8_8_8_8
    Rgba16F, // half-float colour, may exceed 1: GL_RGBA16F, GL_RGBA / GL_HALF_FLOAT
    R16F, // one half-float channel: GL_R16F, GL_RED / GL_HALF_FLOAT
    R32F, // one float channel: GL_R32F, GL_RED / GL_FLOAT
    Rgba32F, // four float channels: GL_RGBA32F, GL_RGBA / GL_FLOAT
};

// A framebuffer object, owned. Move-only; it is released with the context it was made in, and
// only while that context is current (a framebuffer cannot be released from another context).
class Framebuffer
{
public:
    Framebuffer() noexcept = default; // holds no framebuffer
    // Generates one with the current context's functions.
    static Framebuffer generate();
    ~Framebuffer();
    Framebuffer(Framebuffer &&other) noexcept;
    Framebuffer &operator=(Framebuffer &&other) noexcept;
    Framebuffer(const Framebuffer &) = delete;
    Framebuffer &operator=(const Framebuffer &) = delete;

    GLuint name() const { return m_name; }
    explicit operator bool() const { return m_name != 0; }

private:
    void release() noexcept;

    GLuint m_name = 0;
    QPointer<QOpenGLContext> m_context;
};

// A sequence of passes into one framebuffer: binds it to GL_FRAMEBUFFER with GL_COLOR_ATTACHMENT0
// as the only draw buffer; on scope exit detaches the colour attachment and binds the framebuffer
// that was bound before.
class FramebufferPasses
{
public:
    explicit FramebufferPasses(const Framebuffer &framebuffer);
    ~FramebufferPasses();
    FramebufferPasses(const FramebufferPasses &) = delete;
    FramebufferPasses &operator=(const FramebufferPasses &) = delete;

private:
    QOpenGLFunctions_3_3_Core *m_gl;
    GLuint m_previous = 0;
};

// A texture bound to a texture unit for the life of the object. Binding makes the unit active and
// leaves it so; release does not change the active unit either, so a pass restores unit 0 once
// after all its inputs are released.
class TextureUnitBinding
{
public:
    TextureUnitBinding(QOpenGLTexture &texture, int unit);
    ~TextureUnitBinding();
    TextureUnitBinding(TextureUnitBinding &&other) noexcept;
    TextureUnitBinding(const TextureUnitBinding &) = delete;
    TextureUnitBinding &operator=(const TextureUnitBinding &) = delete;
    TextureUnitBinding &operator=(TextureUnitBinding &&) = delete;

    // Releases now rather than at the end of the scope.
    void release();

private:
    QOpenGLTexture *m_texture;
    int m_unit;
};

// One input of a pass: a texture and the unit it is bound to while the pass draws.
struct PassInput
{
    QOpenGLTexture *texture;
    int unit;
};

// What a pass is: its name (in messages and GL error reports), its program, its output and how the
// quad covers that output.
struct Pass
{
    const char *name;
    QOpenGLShaderProgram &program; // usually one of the registry's, shaderProgram(...)
    int width; // output size in texels, also the viewport
    int height;
    PassFormat format;
    // Texture coordinates of the output's corners (lower-left, upper-left, upper-right,
    // lower-right); null for the unit square.
    const QuadCorners *corners = nullptr;
    // Where the program runs; null for the whole output.
    const DrawnRegion *region = nullptr;
};

using UniformSetter = std::function<void(QOpenGLShaderProgram &program)>;

// Runs one pass into a fresh texture attached to the bound framebuffer (see FramebufferPasses)
// and returns it. Inputs are bound in the order given and released in the same order.
OwnedTexture runPass(const Pass &pass, std::initializer_list<PassInput> inputs,
                     const UniformSetter &setUniforms);
OwnedTexture runPass(const Pass &pass, const std::vector<PassInput> &inputs,
                     const UniformSetter &setUniforms);

// A pass whose program would read one input texel whole for each output texel, the input moved by
// whole texels: output texel (x, y) is the input's texel (x + offset.x, y + offset.y), and
// `elsewhere` where that lies outside the input, as nearest filtering with a border of `elsewhere`
// gives it. The GL copies the texels instead of running a program, which costs a software driver a
// fraction of a draw and any driver no more than one. The input's format must be the output's
// (copiesInto).
OwnedTexture runCopyPass(const char *name, QOpenGLTexture &input, int width, int height,
                         PassFormat format, QPoint offset, const float (&elsewhere)[4]);
// Whether runCopyPass can copy the input into an output of that format with the current context.
bool copiesInto(const QOpenGLTexture &input, PassFormat format);
// Whether a texture has the internal format of a pass output of that format.
bool sameFormat(const QOpenGLTexture &texture, PassFormat format);

// A copy of a texture of a pass format with every mipmap level made, filtered trilinearly and
// extending its edge texels beyond its edge: for reads that average a footprint of many texels at
// once. Runs inside FramebufferPasses, whose colour attachment it leaves detached.
OwnedTexture mipmappedCopy(const char *name, QOpenGLTexture &input, PassFormat format);

// An off-screen stand-in for a window, for benchmarks and tests: a framebuffer with one RGBA8
// colour texture attached for its whole life.
class OffscreenTarget
{
public:
    OffscreenTarget(int width, int height);
    // Binds the framebuffer for drawing, with its texture as the only draw buffer.
    void bind();
    QOpenGLTexture &texture() { return *m_texture; }

private:
    Framebuffer m_framebuffer;
    OwnedTexture m_texture;
};

// A stretch of the luminance range [minimum, maximum] (bytes) of an 8-bit picture onto the full
// 8-bit range ("NormalizeLuminance.frag"). An empty or reversed range (a flat or black picture)
// leaves the picture as it is, and so does the full range.
struct LuminanceStretch
{
    int minimum = 0;
    int maximum = 255;

    bool changesPicture() const { return maximum > minimum && (minimum > 0 || maximum < 255); }
};

// The frame's final display: the texture over the whole viewport of width × height of the bound
// framebuffer, drawn by the fixed-function pipeline (no program bound, GL_TEXTURE_2D enabled).
void displayTexture(QOpenGLTexture &texture, int width, int height);
// The same with the stretch applied as the texture is drawn, which saves a picture that must be
// stretched a pass of its own; a stretch that changes nothing draws as above.
void displayTexture(QOpenGLTexture &texture, int width, int height,
                    const LuminanceStretch &stretch);

// Level 0 of a 2D texture read back as GL_RGBA / GL_UNSIGNED_BYTE, 4 bytes per texel in GL row
// order (row 0 at the bottom). Leaves unit 0 active with no texture bound.
std::vector<std::uint8_t> readTextureBytes(QOpenGLTexture &texture, int width, int height);
// The same as floats, 4 per texel.
std::vector<float> readTextureFloats(QOpenGLTexture &texture, int width, int height);

// Called after every pass with the pass's name, once the GL has the pass's commands. Tests install
// a check of glGetError here, so an error names the pass that raised it; the programs install none.
using PassObserver = std::function<void(const char *passName)>;
void setPassObserver(PassObserver observer);
// The pass running now, whose GL calls a debug message arriving now comes from; empty between
// passes.
const char *currentPassName();
