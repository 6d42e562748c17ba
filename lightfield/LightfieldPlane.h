#pragma once

#include "FeatureLayers.h"

#include <QOpenGLTexture>

#include <cstdint>
#include <functional>
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

// How far a plane build has come, reported before each step of it, while the plane is built: the
// viewer shows it and may stop the build by throwing. Most stages visit every view once, as it is
// read; a stage whose views all depend on each other visits them a second time.
struct PlaneProgress
{
    int view = 0; // views of this sweep done so far
    int viewCount = 0;
    int sweep = 0; // 0 while the views are read
    int sweepCount = 1;
};
using PlaneProgressReport = std::function<void(const PlaneProgress &progress)>;

// One view of the reader on its way into the plane: its disparity already stored, its colour image
// (LdrRgb or RgbeImage) still with the reader's layers.
struct ViewToStore
{
    LightfieldPlane &plane;
    int column;
    int row;
    FeatureLayers &read; // what the reader gave, less its disparity image
    QOpenGLTexture *disparity; // the stored Disparity layer; null without disparity
    // The colour image's bytes as the file stores them (RGBA8 or RGBE, rows bottom-up): what a
    // stage measures on the CPU need not be read back from the GPU.
    const std::vector<unsigned char> &colourBytes;
};

// What a plane stage stores (its colour layer and the parameters it gives every view) and how one
// view read from the file becomes stored layers. buildPlane does everything else.
class PlaneStage
{
public:
    PlaneStage(int colourLayer, KeyList parameters = {})
        : m_colourLayer(colourLayer)
        , m_parameters(std::move(parameters))
    { }
    virtual ~PlaneStage() = default;
    PlaneStage(const PlaneStage &) = delete;
    PlaneStage &operator=(const PlaneStage &) = delete;

    int colourLayer() const { return m_colourLayer; }
    const KeyList &parameters() const { return m_parameters; }

    // Stores what the stage makes of one view, in file order. Runs inside FramebufferPasses.
    virtual void storeView(ViewToStore &view) = 0;

    // A stage whose views depend on all the others keeps what storeView made of each, and
    // finishes the views in a second sweep, in file order again, once all have been read.
    virtual bool needsSecondSweep() const { return false; }
    virtual void finishView(LightfieldPlane & /*plane*/, int /*column*/, int /*row*/) { }

private:
    int m_colourLayer;
    KeyList m_parameters;
};

// The one loop that builds a plane: the plane for the reader's grid with the stage's colour layer,
// Disparity and DisparityTiles when the file has disparity, and the stage's parameters; every view
// read row by row, its disparity converted and stored, then handed to the stage; the second sweep
// when the stage asks for one; progress before every step. Needs the viewer's context current and
// the shader programs loaded.
std::unique_ptr<LightfieldPlane> buildPlane(LightfieldReader &reader, PlaneStage &stage,
                                            const PlaneProgressReport &progress = {});

// The stage of 8-bit files: each view's colour stored as LdrRgb as it was read.
std::unique_ptr<PlaneStage> makeLdrStage();

// The plane of an 8-bit file: each view's colour as LdrRgb, its disparity converted to Disparity.
std::unique_ptr<LightfieldPlane> buildLdrPlane(LightfieldReader *reader,
                                               const PlaneProgressReport &progress = {});

// A stored RGBE disparity image of width × height (rows bottom-up, as the file holds them) as a
// GL_R16F disparity map, sampled as pass outputs are (setPassOutputSampling). Decoded on the CPU
// from the bytes the reader has just read, so the image itself is never uploaded; a disparity
// beyond the largest half float is held there. halfFloats is room for the decoded map, reused
// from view to view.
OwnedTexture uploadDisparity(const unsigned char *rgbe, int width, int height,
                             std::vector<std::uint16_t> &halfFloats);

// The same map from a disparity image already uploaded as a texture: the pass of "rgbe2rf.frag",
// consuming the source. Runs inside FramebufferPasses. The plane build reads the bytes instead,
// which spares each view the image's upload and this pass.
OwnedTexture convertDisparity(OwnedTexture source, int width, int height);

// The side of the square tiles of DisparityTiles, in texels. The warp's bounds pass reads the
// tiles that a block of four by four output pixels crosses in a stretch of four pixels of the
// rays' travel: at one view pixel per output pixel that is at most two tiles of 8 each way, one
// gather. Tiles of 4 bound the search more tightly but need up to four gathers; frames cost the
// same either way (`lfbench warp`, 512² views).
inline constexpr int disparityTileSize = 8;

// The largest disparity of each tile of a stored RGBE disparity image of width × height (rows
// bottom-up, as the file holds them): ⌈width / disparityTileSize⌉ × ⌈height / disparityTileSize⌉
// values, tile rows in the texels' order. Found on the CPU from the bytes the reader has just read:
// on a software driver a pass this small runs on one thread, and cost more than the view's upload.
// A tile's value is never below a disparity of the converted map in it, but for the half-float
// rounding of that map (at most one part in 2048 up).
std::vector<float> disparityTilesOf(const unsigned char *rgbe, int width, int height);

// The DisparityTiles layer of those values: GL_R32F, nearest filtering.
OwnedTexture uploadDisparityTiles(const std::vector<float> &tiles, int width, int height);
