#pragma once

#include "FeatureLayers.h"
#include "LightfieldPlane.h"
#include "PipelineOptions.h"
#include "ThinLens.h"
#include "viewer/gpu/GpuPass.h"

#include <QOpenGLFunctions_3_3_Core>
#include <QVector2D>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <vector>

// How a window's pixels take the view.
enum class ViewFraming
{
    // One view pixel per window pixel, the view centred: a smaller window shows a crop of it, a
    // larger one transparent black around it.
    TexelPerPixel,
    // The whole view scaled over the whole window, for views larger than the screen; a window of
    // the view's aspect shows it undistorted.
    WholeView,
};

// The texture coordinates of the corners of a width × height output (lower-left, upper-left,
// upper-right, lower-right) that shows a view of viewWidth × viewHeight with the framing.
void framingCorners(ViewFraming framing, int width, int height, int viewWidth, int viewHeight,
                    QuadCorners &corners);

// Stage 2 of the pipeline: every frame it synthesises the view that the window shows.
class LightfieldCamera : public QOpenGLFunctions_3_3_Core
{
public:
    virtual ~LightfieldCamera() = default;
    // The view for a window at global screen position (globalX, globalY) of width × height
    // pixels, framed as framing() says. Needs the viewer's context current; the caller owns the
    // result.
    virtual std::unique_ptr<CameraView> render(int globalX, int globalY, int width, int height) = 0;
    // The view the same window shows with the camera at (x, y) in view units (x the column, y the
    // row, fractions in between), wherever drags have taken the camera; for pictures of chosen
    // positions without a window.
    virtual std::unique_ptr<CameraView> renderAt(float x, float y, int width, int height) = 0;
    // A mouse movement of (dx, dy) window pixels with the given button held (the toolkit's value:
    // 1 left, 2 right, 4 middle, 0 none). Says whether the camera moved, and so whether the
    // window's picture has to be drawn again. The framing plays no part: a drag moves the camera
    // as far per window pixel in either.
    virtual bool mouseMoved(int dx, int dy, int button) = 0;
    // Moves the camera by (columns, rows) view steps within the bounds of a drag, a fraction of a
    // step to the nearest drag pixel but never less than one; says whether it moved.
    virtual bool step(double columns, double rows) = 0;
    // Back to the position the camera starts at; says whether it moved.
    virtual bool returnToStart() = 0;

    // The disparity of the surface each pixel of render()'s view shows, as the same window at
    // the camera's position would show it, in a perceptually uniform colour map over
    // 0 .. maxDisparity: an 8-bit texture, transparent black beyond the view's frame, that needs
    // no post-processing. Null for a light field without disparity.
    virtual OwnedTexture renderDisparity(int width, int height) = 0;
    // The same at camera position (x, y) in view units, as renderAt.
    virtual OwnedTexture renderDisparityAt(float x, float y, int width, int height) = 0;
    // The disparity, in pixels per view step, of the surface that pixel (x, y) of render()'s view
    // of width × height shows (x right and y down from its top-left pixel), with the lens a
    // pinhole; nothing for a light field without disparity or a pixel beyond the view's frame.
    virtual std::optional<float> disparityUnder(QPoint pixel, int width, int height) = 0;

    // One view pixel per window pixel unless set.
    void setFraming(ViewFraming framing) { m_framing = framing; }
    ViewFraming framing() const { return m_framing; }

    // A pinhole unless set: the view at the camera position.
    void setLens(const ThinLens &lens) { m_lens = lens; }
    const ThinLens &lens() const { return m_lens; }

    // The power that turns the values of the plane's colour layer into radiance, which a lens
    // averages: 1 unless set, for 8-bit views, which it averages as they are; the gamma of views
    // of gamma-compressed radiance.
    void setRadianceGamma(float gamma) { m_radianceGamma = gamma; }
    float radianceGamma() const { return m_radianceGamma; }

private:
    ViewFraming m_framing = ViewFraming::TexelPerPixel;
    ThinLens m_lens;
    float m_radianceGamma = 1.0f;
};

// The camera position moves with left-button drags, viewSpacing window pixels per view. The view
// there is warped from the four stored views around it with their disparity maps, or, without
// disparity, is the nearest stored view. The window shows it as its framing says; its position on
// the screen does not matter.
class SimpleCamera : public LightfieldCamera
{
public:
    SimpleCamera(PipelineOptions options, const LightfieldPlane *plane);

    std::unique_ptr<CameraView> render(int globalX, int globalY, int width, int height) override;
    std::unique_ptr<CameraView> renderAt(float x, float y, int width, int height) override;
    bool mouseMoved(int dx, int dy, int button) override;
    bool step(double columns, double rows) override;
    bool returnToStart() override;
    OwnedTexture renderDisparity(int width, int height) override;
    OwnedTexture renderDisparityAt(float x, float y, int width, int height) override;
    std::optional<float> disparityUnder(QPoint pixel, int width, int height) override;

    // The view at position (x, y) in view units through the camera's lens, with the texture
    // coordinates of the output's four corners (lower-left, upper-left, upper-right,
    // lower-right): with a pinhole the warp of the four views around it, otherwise the lens's
    // picture. Without useDisparity the views are taken as they are, not searched.
    std::unique_ptr<CameraView> renderView(int width, int height, const QuadCorners &corners,
                                           float x, float y, bool useDisparity);

    // The warp's program runs only for the output pixels whose rays can reach a view; with this,
    // for every pixel, as a check that the others show what it would give them.
    void setDrawsEverywhere(bool everywhere) { m_drawsEverywhere = everywhere; }

    // Output pixels on an outline, where the views do not agree on what a pixel shows, are the
    // mean of samples × samples points over the pixel rather than its centre alone, 1 to 4: a
    // camera's pixel there mixes both sides of the outline, as the stored views' pixels do. The
    // frame costs more by as much as the outlines take of it; views at the stored positions
    // stay exact. 1, the centre alone, unless set.
    void setEdgeSamples(int samples) { m_edgeSamples = std::clamp(samples, 1, 4); }
    int edgeSamples() const { return m_edgeSamples; }

    int positionX() const { return m_positionX; }
    int positionY() const { return m_positionY; }

    // The grid cell around a camera position (x, y) in view units: the four stored views a frame is
    // made from, and the camera's offset from the first of them.
    struct Cell
    {
        int column; // the base view, up and left of the position (nearest without disparity)
        int row;
        int nextColumn; // right of the base view, or the base column at the grid's last column
        int nextRow; // below the base view, or the base row at the grid's last row
        float offsetX; // how far the position lies right of the base column, in views
        float offsetY; // the base row minus the position's row, in views

        // The grid positions (column, row) of the four views, in the order of
        // CameraView::cellSlots.
        std::array<QPoint, 4> views() const
        {
            return {QPoint(column, row), QPoint(nextColumn, row), QPoint(nextColumn, nextRow),
                    QPoint(column, nextRow)};
        }
    };
    Cell pickCell(float x, float y) const;

private:
    // What a warp of the cell's views gives each output pixel.
    enum class WarpOutput
    {
        Colour, // the synthesised view
        DisparityColours, // the disparity of the surface shown, colour-mapped (GL_RGBA8)
        Disparity, // that disparity itself (GL_R32F)
    };
    // The view made from the stored views of the cell around (x, y), its colour layer and
    // parameters not yet set.
    std::unique_ptr<CameraView> cellView(const Cell &cell, int width, int height) const;
    OwnedTexture synthesisedDisparity(float x, float y, int width, int height,
                                      const QuadCorners &corners, WarpOutput output);
    // Both set *drawn to the texels of their output that the views can reach.
    OwnedTexture warpCell(const CameraView &view, const Cell &cell, int width, int height,
                          const QuadCorners &corners, int disparityRange, QRect *drawn,
                          WarpOutput output = WarpOutput::Colour);
    OwnedTexture showNearest(const CameraView &view, int width, int height,
                             const QuadCorners &corners, QRect *drawn) const;
    // The nearby-disparity maps of the cell's views (in the cell's order), made for the
    // views that the last cell warped did not have.
    std::array<QOpenGLTexture *, 4> nearbyDisparityOf(const Cell &cell);
    int colourLayer() const;

    const LightfieldPlane *m_plane;
    Framebuffer m_framebuffer;
    // The frames' views, reused: each frame draws into the texture an earlier frame dropped.
    PassOutputPool m_passOutputs;
    // The nearby-disparity maps of the last cell's views: the next frames warp the same cell, or
    // one that shares two of its views.
    struct NearbyMap
    {
        QPoint view; // column, row
        OwnedTexture map;
    };
    std::vector<NearbyMap> m_nearbyMaps;
    LensPasses m_lensPasses;
    bool m_drawsEverywhere = false;
    int m_edgeSamples = 1;
    int m_positionX = 1;
    int m_positionY = 1;
};

// What the warp of one frame searches: the camera's offset from the cell's base view (x right,
// y the negated offset downward, in views), the views' size and the disparity range.
struct WarpSearch
{
    QVector2D searchVector;
    int viewWidth;
    int viewHeight;
    int maxDisparity;
    // Sub-samples each way of an output pixel on an outline (see SimpleCamera::setEdgeSamples).
    int edgeSamples = 1;
};

// The side of the square blocks of output pixels for which the warp finds, in a pass of its own,
// where each view's search can begin.
inline constexpr int searchBoundsBlockSize = 4;

// Whether the texture coordinates of an output's corners (lower-left, upper-left, upper-right,
// lower-right) are affine in its pixels, as the search bounds need.
bool isParallelogram(const QuadCorners &corners);

// Whether the corners crop a view of viewWidth × viewHeight texels at one texel per output pixel
// of a width × height output, upright and moved by whole texels; if so, *offset is the texel that
// output pixel (0, 0) shows.
bool wholeTexelCrop(const QuadCorners &corners, int width, int height, int viewWidth,
                    int viewHeight, QPoint *offset);

// The output pixels of a warp of width × height with the given corners whose rays can reach a
// view, each view's border around it included, as the region its program runs in; elsewhere
// every view is read beyond its transparent black edge, and so the output is transparent black.
// The whole output where the corners are degenerate or do not form a parallelogram.
DrawnRegion reachOfViews(const WarpSearch &warp, int width, int height, const QuadCorners &corners);

// The pass that finds, for each block of searchBoundsBlockSize × searchBoundsBlockSize pixels of
// a warp's output of width × height with the given corners, the first step of the search at which
// each view can meet a surface ("simpleWarp.frag" with SEARCH_BOUNDS): a GL_RGBA32F texture of
// ⌈width / block⌉ × ⌈height / block⌉, one channel per view (base, right, diagonal, below), each a
// whole number. No pixel of a block can end a bracket of its search at an earlier step. tiles are
// the views' DisparityTiles; the corners form a parallelogram. With a region of output pixels,
// only the blocks that meet it are found, and the others hold 0. Runs inside FramebufferPasses.
OwnedTexture findSearchBounds(QOpenGLTexture *const (&tiles)[4], const WarpSearch &warp, int width,
                              int height, const QuadCorners &corners,
                              const DrawnRegion *region = nullptr);

// The pass that finds, for each texel t of a view's disparity map of width × height, the largest
// disparity of its texels from t - 1 to t + 2 each way, counting 0 for those beyond its edge
// ("simpleWarp.frag" with NEARBY_DISPARITY): a GL_R16F texture of (width + 3) × (height + 3)
// holding t's value at t + 2, so that every window that reaches into the view has one. The warp
// asks it whether a surface nearer than the one it found lies around the point it reads, whose
// colour would then be tinted by that surface. Runs inside FramebufferPasses.
OwnedTexture findNearbyDisparity(QOpenGLTexture &disparity, int width, int height);

std::unique_ptr<LightfieldCamera> createCamera(PipelineOptions options,
                                               const LightfieldPlane *plane);

// The bilinear weights of a cell's four views, in the order of CameraView::cellSlots, for the
// camera's offset from the base view (offsetX to the right, offsetY the negated offset downward,
// as the camera stores them). A nearest-view cell (no disparity) can lie right of or below the
// camera; an offset pointing out of the cell is held at its edge, so only views on the camera's
// side of the base view take part: no weight is negative, and they sum to 1.
std::array<float, 4> cellWeights(float offsetX, float offsetY);

// Blends every parameter the plane supports from the four views with the cell weights of the
// offset (dx, dy) into the view's own layers. Contrast, an exponent, is blended geometrically.
void interpolateParameters(CameraView &view, const LightfieldPlane &plane, float dx, float dy);
