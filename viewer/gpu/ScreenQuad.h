#pragma once

#include <QOpenGLTexture>

#include <memory>
#include <vector>

// Every image operation of the viewer is a full-screen pass: a fresh texture attached as the
// colour target of a stage's framebuffer, inputs bound to texture units, one program bound and one
// quad drawn over the whole viewport. The frame's final display is the same quad drawn into the
// window with the fixed-function pipeline. GpuPass.h puts these pieces together.

class PassOutputPool;

// Disposes of an owned texture: one that a PassOutputPool lent goes back to that pool, a borrowed
// one is left to its owner, any other is destroyed.
struct TextureDisposal
{
    TextureDisposal() noexcept = default;
    // A texture made with std::make_unique becomes an owned one as it is.
    TextureDisposal(std::default_delete<QOpenGLTexture>) noexcept { }
    void operator()(QOpenGLTexture *texture) const noexcept;

    bool borrowed = false;
};

// A texture and its GL storage, owned: destroying the owner destroys the storage, which needs the
// texture's context to be current, or hands the texture back to the pool that lent it. A raw
// QOpenGLTexture pointer never owns.
using OwnedTexture = std::unique_ptr<QOpenGLTexture, TextureDisposal>;

// A texture that stays its owner's, in the place of an owned one: dropping it does nothing. A
// camera hands out a stored view this way where its output would be a copy of it. Whoever holds it
// reads it, never draws into it or changes its settings, and lets it go before its owner does.
OwnedTexture borrowTexture(QOpenGLTexture &texture);

// Pass outputs kept for the passes of the next frames. A software driver gives every new texture
// fresh memory, zero-filled and mapped in by the system page by page: for a 512 x 512 frame that
// costs more than the passes that draw into it. While a pool is in use (PassOutputPool::Use),
// createAttachedTexture hands out a kept texture of the size and format asked for before it makes
// a new one, and every texture it hands out comes back to the pool when its owner drops it,
// whenever and wherever that happens, unless the pool is full.
class PassOutputPool
{
public:
    explicit PassOutputPool(int capacity = 8);
    // Destroys the kept textures, so the pool's context must be current, as for any owned texture.
    // Textures still lent out stay with their owners, who destroy them.
    ~PassOutputPool();
    PassOutputPool(const PassOutputPool &) = delete;
    PassOutputPool &operator=(const PassOutputPool &) = delete;

    int keptCount() const { return int(m_kept.size()); }

    // Makes a pool the one createAttachedTexture draws from, until the scope ends.
    class Use
    {
    public:
        explicit Use(PassOutputPool &pool);
        ~Use();
        Use(const Use &) = delete;
        Use &operator=(const Use &) = delete;

    private:
        PassOutputPool *m_previous;
    };

private:
    friend struct TextureDisposal;
    friend OwnedTexture createAttachedTexture(int, int, QOpenGLTexture::TextureFormat, int,
                                              QOpenGLTexture::PixelFormat,
                                              QOpenGLTexture::PixelType);

    // A kept texture of this size and format, now lent, or null.
    QOpenGLTexture *lendKept(int width, int height, QOpenGLTexture::TextureFormat format);
    // Records a new texture as lent by this pool.
    void lend(QOpenGLTexture *texture);
    void takeBack(QOpenGLTexture *texture) noexcept;

    std::vector<std::unique_ptr<QOpenGLTexture>> m_kept; // oldest first
    int m_capacity;
};

// Texture coordinates of a quad's four corners, in the order lower-left, upper-left,
// upper-right, lower-right.
using QuadCorners = float[4][2];

// The sampling every pass output starts with: nearest texels, and beyond the edges a clamped
// border of opaque black (0 in red, where a disparity map is read). Textures that stand in for a
// pass's output, filled from the CPU, take it too.
void setPassOutputSampling(QOpenGLTexture &texture);

// A new 2D texture of width × height with one level, nearest filtering and a clamp to an opaque
// black border, its storage allocated but not filled (or, with a pool in use, a kept one of that
// size and format with those settings and whatever a pass drew into it last), attached to
// GL_COLOR_ATTACHMENT0 + attachmentIndex of the framebuffer bound to GL_FRAMEBUFFER.
OwnedTexture createAttachedTexture(int width, int height, QOpenGLTexture::TextureFormat format,
                                   int attachmentIndex, QOpenGLTexture::PixelFormat pixelFormat,
                                   QOpenGLTexture::PixelType pixelType);

// Clears the bound framebuffer, resets the projection matrix (which stays the current matrix
// mode), sets the viewport to width × height and draws one quad over it with texture coordinate
// (0, 0) at the lower-left corner; it does not wait for the GPU. The caller binds the target,
// the inputs and, for a pass, the program.
void drawScreenQuad(int width, int height);

// Where a pass's program must run: the output texels it draws, from (x, y) (GL window
// coordinates, y up) for width × height; every other texel of the output holds `elsewhere`, the
// value the program is known to give there.
struct DrawnRegion
{
    int x;
    int y;
    int width;
    int height;
    float elsewhere[4];
};

// The same quad with the four texture-coordinate corners given. drawScreenQuad is this with the
// unit square. With a region, the program runs only inside it: the output is cleared to the
// region's `elsewhere` and the quad is drawn through a scissor, which is off again afterwards, as
// is the clear colour.
void drawTexturedQuad(int width, int height, const QuadCorners &corners,
                      const DrawnRegion *region = nullptr);
