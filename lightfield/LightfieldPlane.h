#pragma once

#include "FeatureLayers.h"
#include "PipelineOptions.h"

#include <QOpenGLTexture>

#include <memory>
#include <vector>

class LightfieldReader;

// Stage 1 of the pipeline: the whole light field resident on the GPU, one FeatureLayers per grid
// position, with the lists of layers and parameters that the plane stage that built it stores.
// Built once; read by the camera every frame.
class LightfieldPlane
{
public:
    LightfieldPlane(KeyList supportedLayers, KeyList supportedParameters, int width, int height,
                    int columns, int rows, int viewSpacing, int reservedValue, int maxDisparity);

    // Stores a listed layer at (column, row) and takes the texture over, which samples as
    // transparent black outside [0, 1] from then on. An unlisted layer raises "LightfieldPlane
    // does not support this FeatureLayer" and leaves the texture with the caller.
    void setFeatureLayer(int column, int row, int layer, OwnedTexture &&texture);
    // An unlisted parameter raises "LightfieldPlane does not support this Parameter".
    void setParameter(int column, int row, int parameter, float value);

    bool supportsLayer(int layer) const { return listContains(m_supportedLayers, layer); }
    // Positions are not range-checked: callers keep them inside the grid.
    const FeatureLayers &featureLayersAt(int column, int row) const;
    QOpenGLTexture *layerAt(int column, int row, int layer) const;

    const KeyList &supportedLayers() const { return m_supportedLayers; }
    const KeyList &supportedParameters() const { return m_supportedParameters; }
    int viewSpacing() const { return m_viewSpacing; }
    int reservedValue() const { return m_reservedValue; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    int columns() const { return m_columns; }
    int rows() const { return m_rows; }
    int maxDisparity() const { return m_maxDisparity; }

private:
    KeyList m_supportedLayers;
    KeyList m_supportedParameters;
    int m_viewSpacing;
    int m_reservedValue;
    int m_width;
    int m_height;
    int m_columns;
    int m_rows;
    int m_maxDisparity;
    std::vector<std::vector<FeatureLayers>> m_views; // [column][row]
};

// The plane of an 8-bit file: each view's colour as LdrRgb, its disparity converted to Disparity.
// Needs the viewer's context current and the shader programs loaded.
std::unique_ptr<LightfieldPlane> buildLdrPlane(PipelineOptions options, LightfieldReader *reader);

// The plane every plane stage builds for a reader's file, before any view is stored: the reader's
// grid and header values, the stage's colour layer followed by Disparity and DisparityTiles when
// the file has disparity, and the parameters the stage stores.
std::unique_ptr<LightfieldPlane> makePlaneFor(const LightfieldReader &reader, int colourLayer,
                                              KeyList parameters = {});

// Converts a view's stored disparity, when the file has disparity, and stores it and its tiles'
// largest disparities at (column, row) of the plane. Returns the stored map, or null without
// disparity. Runs inside FramebufferPasses.
QOpenGLTexture *storeDisparity(LightfieldPlane &plane, const LightfieldReader &reader,
                               FeatureLayers &view, int column, int row);

// The pass that turns a stored RGBE disparity image into a GL_R16F disparity map of width ×
// height ("rgbe2rf.frag"), consuming the source. Runs inside FramebufferPasses.
OwnedTexture convertDisparity(OwnedTexture source, int width, int height);

// The side of the square tiles of DisparityTiles, in texels. The warp's bounds pass reads the
// tiles that a block of four by four output pixels crosses in a stretch of two pixels of the
// rays' travel: at one view pixel per output pixel that is at most two tiles of 8 each way, one
// gather. Tiles of 4 bound the search more tightly but need up to four gathers; frames cost the
// same either way (`lfbench warp`, 512² views).
inline constexpr int disparityTileSize = 8;

// The pass that finds the largest disparity of each tile of a stored RGBE disparity image of
// width × height: a GL_R32F texture of ⌈width / disparityTileSize⌉ × ⌈height / disparityTileSize⌉
// ("rgbe2rf.frag" with DISPARITY_TILES). A tile's value is never below a disparity of the
// converted map in it. Runs inside FramebufferPasses.
OwnedTexture findDisparityTiles(QOpenGLTexture &source, int width, int height);
