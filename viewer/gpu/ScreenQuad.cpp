#include "ScreenQuad.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions_3_3_Core>

#include <GL/gl.h>

namespace {

QOpenGLFunctions_3_3_Core *currentFunctions()
{
    return QOpenGLContext::currentContext()->versionFunctions<QOpenGLFunctions_3_3_Core>();
}

} // namespace

OwnedTexture createAttachedTexture(int width, int height, QOpenGLTexture::TextureFormat format,
                                   int attachmentIndex, QOpenGLTexture::PixelFormat pixelFormat,
                                   QOpenGLTexture::PixelType pixelType)
{
    QOpenGLFunctions_3_3_Core *gl = currentFunctions();

    auto texture = std::make_unique<QOpenGLTexture>(QOpenGLTexture::Target2D);
    texture->create();
    texture->bind();
    texture->setFormat(format);
    texture->setSize(width, height, 1);
    texture->setMinMagFilters(QOpenGLTexture::Nearest, QOpenGLTexture::Nearest);
    texture->setWrapMode(QOpenGLTexture::ClampToBorder);
    texture->setBorderColor(0.0f, 0.0f, 0.0f, 1.0f);
    texture->allocateStorage(pixelFormat, pixelType);
    texture->release();

    gl->glFramebufferTexture(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0 + attachmentIndex,
                             texture->textureId(), 0);
    return texture;
}

void drawTexturedQuad(int width, int height, const QuadCorners &corners)
{
    // The fixed-function calls are not part of the 3.3 core table; they come straight from the
    // system's GL library and need the compatibility profile.
    glClear(GL_COLOR_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glViewport(0, 0, width, height);

    static const GLint positions[4][2] = {{-1, -1}, {-1, 1}, {1, 1}, {1, -1}};
    glBegin(GL_QUADS);
    for (int corner = 0; corner < 4; ++corner) {
        glTexCoord2f(corners[corner][0], corners[corner][1]);
        glVertex2i(positions[corner][0], positions[corner][1]);
    }
    glEnd();
    // No glFinish: the driver orders the passes, a read-back waits for what it reads, and a
    // frame is bounded by the buffer swap.
}

void drawScreenQuad(int width, int height)
{
    static const QuadCorners unitSquare = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
    drawTexturedQuad(width, height, unitSquare);
}
