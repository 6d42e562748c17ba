#pragma once

#include "viewer/gpu/ScreenQuad.h"

#include <QRect>

#include <array>
#include <map>
#include <memory>
#include <vector>

// Texture layers a view can carry. Plain integer keys: lists of them are std::vector<int>, and a
// key outside this table is simply one that no stage uses.
enum FeatureLayer : int
{
    LdrRgb = 0, // 8-bit RGBA colour
    RgbeImage = 1, // RGBE colour exactly as stored in the file
    RgbeDisparity = 2, // RGBE disparity exactly as stored in the file
    Disparity = 3, // disparity in pixels per view step, GL_R16F
    TonemappedRgb = 4, // half-float colour, may exceed 1
    // The largest disparity in each tile of disparityTileSize × disparityTileSize texels of the
    // view, GL_R32F: where a ray of the view synthesis may stop at all.
    DisparityTiles = 5,
};

// Scalar values a view can carry, 32-bit float.
enum TonemappingParameter : int
{
    AverageRed = 0,
    AverageGreen = 1,
    AverageBlue = 2,
    AverageLuminance = 3,
    AverageLogLuminance = 4, // mean of ln(L + 0.00001)
    MinLuminance = 5,
    MaxLuminance = 6,
    Contrast = 7, // exponent m of the photoreceptor operator
    ViewOffsetX = 8, // camera output: offset right of the base column, in views
    ViewOffsetY = 9, // camera output: base row minus the camera's row position, in views
};

using KeyList = std::vector<int>;

inline bool listContains(const KeyList &list, int key)
{
    for (int element : list) {
        if (element == key)
            return true;
    }
    return false;
}

// The textures and scalars of one view. It owns its textures: destroying it destroys every texture
// still stored, which needs the textures' context to be current, apart from borrowed ones
// (borrowTexture). Move-only, so that no two containers can believe they own the same texture.
class FeatureLayers
{
public:
    FeatureLayers() = default;
    ~FeatureLayers();
    FeatureLayers(const FeatureLayers &) = delete;
    FeatureLayers &operator=(const FeatureLayers &) = delete;
    FeatureLayers(FeatureLayers &&other) noexcept;
    FeatureLayers &operator=(FeatureLayers &&other) noexcept;

    bool hasLayer(int layer) const;
    QOpenGLTexture *getLayer(int layer) const; // null when absent; the container keeps it
    // Inserts or replaces. A replaced texture goes back to the caller, to keep or let go.
    OwnedTexture setLayer(int layer, OwnedTexture texture);
    // Hands a texture over to the caller and removes its key; null when absent.
    OwnedTexture takeLayer(int layer);

    bool hasParameter(int parameter) const;
    float getParameter(int parameter) const; // 0.0 when absent
    void setParameter(int parameter, float value);

    const std::map<int, OwnedTexture> &layers() const { return m_layers; }
    const std::map<int, float> &parameters() const { return m_parameters; }

private:
    void destroyTextures();

    std::map<int, OwnedTexture> m_layers;
    std::map<int, float> m_parameters;
};

// The camera's output for one frame: a synthesised view of its own (slot 0) and the four stored
// views of the grid cell it was made from (slots 1 to 4), which stay owned by the plane. The own
// colour layer may be a stored view itself, borrowed from the plane, where the frame would be a
// copy of it; like the plane's, it is only read.
class CameraView
{
public:
    enum Slot : int
    {
        Own = 0,
        Right = 1,
        Base = 2,
        Diagonal = 3,
        Below = 4
    };

    // The four stored views of the camera's grid cell in the one order in which the camera and
    // the post-processors keep them (weights, samplers, statistics): the base view, the one right
    // of it, the diagonal one and the one below, round the cell from its base.
    static constexpr Slot cellSlots[4] = {Base, Right, Diagonal, Below};

    CameraView(int width, int height, const FeatureLayers &right, const FeatureLayers &base,
               const FeatureLayers &diagonal, const FeatureLayers &below);
    CameraView(const CameraView &) = delete;
    CameraView &operator=(const CameraView &) = delete;

    int width() const { return m_width; }
    int height() const { return m_height; }

    // Slots 1 to 4 read the stored views; slot 0 and every other value read the own layers.
    QOpenGLTexture *getLayer(int layer, int slot = Own) const;
    float getParameter(int parameter, int slot = Own) const;

    // These act on the own layers only.
    bool hasLayer(int layer) const { return m_own.hasLayer(layer); }
    bool hasParameter(int parameter) const { return m_own.hasParameter(parameter); }
    OwnedTexture setLayer(int layer, OwnedTexture texture)
    {
        return m_own.setLayer(layer, std::move(texture));
    }
    OwnedTexture takeLayer(int layer) { return m_own.takeLayer(layer); }
    void setParameter(int parameter, float value) { m_own.setParameter(parameter, value); }

    const FeatureLayers &own() const { return m_own; }
    const FeatureLayers &slot(int slot) const;

    // The texels of the camera's colour layer that its views can reach, in GL texel coordinates
    // (row 0 at the bottom); every other texel is transparent black. The whole view unless the
    // camera narrows it, as it does where a window is larger than the views.
    QRect drawn() const { return m_drawn; }
    void setDrawn(const QRect &drawn) { m_drawn = drawn; }

private:
    int m_height;
    int m_width;
    QRect m_drawn;
    FeatureLayers m_own;
    const FeatureLayers &m_right;
    const FeatureLayers &m_base;
    const FeatureLayers &m_below;
    const FeatureLayers &m_diagonal;
};

// A camera's view of width × height made from the four stored views of its cell, given in the
// order of CameraView::cellSlots.
std::unique_ptr<CameraView> cameraViewOfCell(int width, int height,
                                             const std::array<const FeatureLayers *, 4> &cell);
