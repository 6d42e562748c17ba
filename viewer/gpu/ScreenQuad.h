#pragma once

#include <QOpenGLTexture>

#include <memory>

// Every image operation of the viewer is a full-screen pass: a fresh texture attached as the
// colour target of a stage's framebuffer, inputs bound to texture units, one program bound and one
// quad drawn over the whole viewport. The frame's final display is the same quad drawn into the
// window with the fixed-function pipeline. GpuPass.h puts these pieces together.

// A texture and its GL storage, owned: destroying the owner destroys the storage, which needs the
// texture's context to be current. A raw QOpenGLTexture pointer never owns.
using OwnedTexture = std::unique_ptr<QOpenGLTexture>;

// Texture coordinates of a quad's four corners, in the order lower-left, upper-left,
// upper-right, lower-right.
using QuadCorners = float[4][2];

// A new 2D texture of width × height with one level, nearest filtering and a clamp to an opaque
// black border, its storage allocated but not filled, attached to GL_COLOR_ATTACHMENT0 +
// attachmentIndex of the framebuffer bound to GL_FRAMEBUFFER.
OwnedTexture createAttachedTexture(int width, int height, QOpenGLTexture::TextureFormat format,
                                   int attachmentIndex, QOpenGLTexture::PixelFormat pixelFormat,
                                   QOpenGLTexture::PixelType pixelType);

// Clears the bound framebuffer, resets the projection matrix (which stays the current matrix
// mode), sets the viewport to width × height and draws one quad over it with texture coordinate
// (0, 0) at the lower-left corner, then waits for the GPU to finish. The caller binds the target,
// the inputs and, for a pass, the program.
void drawScreenQuad(int width, int height);

// The same quad with the four texture-coordinate corners given. drawScreenQuad is this with the
// unit square.
void drawTexturedQuad(int width, int height, const QuadCorners &corners);
