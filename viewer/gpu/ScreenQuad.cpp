#include "ScreenQuad.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions_3_3_Core>

#include <GL/gl.h>

#include <algorithm>
#include <unordered_map>
#include <utility>

namespace {

QOpenGLFunctions_3_3_Core *currentFunctions()
{
    return QOpenGLContext::currentContext()->versionFunctions<QOpenGLFunctions_3_3_Core>();
}

PassOutputPool *poolInUse = nullptr;

// Which pool lent each texture that is lent out now. A texture is in it from the moment it is
// lent until it comes back, so no address of a destroyed texture lingers in it. Never destroyed:
// an owner destroyed during the program's exit may still look its texture up.
std::unordered_map<const QOpenGLTexture *, PassOutputPool *> &lentTextures()
{
    static auto *lent = new std::unordered_map<const QOpenGLTexture *, PassOutputPool *>();
    return *lent;
}

} // namespace

// A kept pass output gets these back too, as its last owner may have changed them.
void setPassOutputSampling(QOpenGLTexture &texture)
{
    texture.setMinMagFilters(QOpenGLTexture::Nearest, QOpenGLTexture::Nearest);
    texture.setWrapMode(QOpenGLTexture::ClampToBorder);
    texture.setBorderColor(0.0f, 0.0f, 0.0f, 1.0f);
}

void TextureDisposal::operator()(QOpenGLTexture *texture) const noexcept
{
    if (borrowed)
        return;
    auto &lent = lentTextures();
    const auto found = lent.find(texture);
    if (found == lent.end()) {
        delete texture;
        return;
    }
    PassOutputPool *pool = found->second;
    lent.erase(found);
    pool->takeBack(texture);
}

OwnedTexture borrowTexture(QOpenGLTexture &texture)
{
    TextureDisposal leaveToOwner;
    leaveToOwner.borrowed = true;
    return OwnedTexture(&texture, leaveToOwner);
}

PassOutputPool::PassOutputPool(int capacity)
    : m_capacity(std::max(capacity, 0))
{
    // Taking a texture back never allocates, so a texture's disposal cannot throw.
    m_kept.reserve(size_t(m_capacity));
}

PassOutputPool::~PassOutputPool()
{
    if (poolInUse == this)
        poolInUse = nullptr;
    auto &lent = lentTextures();
    for (auto entry = lent.begin(); entry != lent.end();) {
        if (entry->second == this)
            entry = lent.erase(entry);
        else
            ++entry;
    }
}

QOpenGLTexture *PassOutputPool::lendKept(int width, int height,
                                         QOpenGLTexture::TextureFormat format)
{
    for (auto kept = m_kept.begin(); kept != m_kept.end(); ++kept) {
        QOpenGLTexture &texture = **kept;
        if (texture.width() == width && texture.height() == height && texture.format() == format) {
            QOpenGLTexture *lentOut = kept->release();
            m_kept.erase(kept);
            lend(lentOut);
            return lentOut;
        }
    }
    return nullptr;
}

void PassOutputPool::lend(QOpenGLTexture *texture)
{
    lentTextures().emplace(texture, this);
}

void PassOutputPool::takeBack(QOpenGLTexture *texture) noexcept
{
    if (m_capacity == 0) {
        delete texture;
        return;
    }
    // A full pool lets the texture go that waited longest: what a frame uses comes back every
    // frame and stays.
    if (int(m_kept.size()) == m_capacity)
        m_kept.erase(m_kept.begin());
    m_kept.emplace_back(texture);
}

PassOutputPool::Use::Use(PassOutputPool &pool)
    : m_previous(std::exchange(poolInUse, &pool))
{ }

PassOutputPool::Use::~Use()
{
    poolInUse = m_previous;
}

OwnedTexture createAttachedTexture(int width, int height, QOpenGLTexture::TextureFormat format,
                                   int attachmentIndex, QOpenGLTexture::PixelFormat pixelFormat,
                                   QOpenGLTexture::PixelType pixelType)
{
    QOpenGLFunctions_3_3_Core *gl = currentFunctions();

    OwnedTexture texture;
    if (poolInUse) {
        if (QOpenGLTexture *kept = poolInUse->lendKept(width, height, format)) {
            texture.reset(kept);
            texture->bind();
            setPassOutputSampling(*texture);
            texture->release();
        }
    }
    if (!texture) {
        texture.reset(new QOpenGLTexture(QOpenGLTexture::Target2D));
        texture->create();
        texture->bind();
        texture->setFormat(format);
        texture->setSize(width, height, 1);
        setPassOutputSampling(*texture);
        texture->allocateStorage(pixelFormat, pixelType);
        texture->release();
        if (poolInUse)
            poolInUse->lend(texture.get());
    }

    gl->glFramebufferTexture(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0 + attachmentIndex,
                             texture->textureId(), 0);
    return texture;
}

void drawTexturedQuad(int width, int height, const QuadCorners &corners, const DrawnRegion *region)
{
    // The fixed-function calls are not part of the 3.3 core table; they come straight from the
    // system's GL library and need the compatibility profile.
    if (region) {
        GLfloat clearColour[4];
        glGetFloatv(GL_COLOR_CLEAR_VALUE, clearColour);
        glClearColor(region->elsewhere[0], region->elsewhere[1], region->elsewhere[2],
                     region->elsewhere[3]);
        glClear(GL_COLOR_BUFFER_BIT);
        glClearColor(clearColour[0], clearColour[1], clearColour[2], clearColour[3]);
        glEnable(GL_SCISSOR_TEST);
        glScissor(region->x, region->y, region->width, region->height);
    } else {
        glClear(GL_COLOR_BUFFER_BIT);
    }
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
    if (region)
        glDisable(GL_SCISSOR_TEST);
    // No glFinish: the driver orders the passes, a read-back waits for what it reads, and a
    // frame is bounded by the buffer swap.
}

void drawScreenQuad(int width, int height)
{
    static const QuadCorners unitSquare = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
    drawTexturedQuad(width, height, unitSquare);
}
