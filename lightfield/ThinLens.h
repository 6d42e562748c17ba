#pragma once

#include "LightfieldPlane.h"
#include "viewer/gpu/GpuPass.h"

#include <QPoint>
#include <QPointF>
#include <QRect>

#include <array>
#include <vector>

// A thin lens over the plane of camera positions: its picture at camera position c is the mean,
// over the positions p within `aperture` view steps of c, of the view from p shifted by
// focus · (p − c) pixels. A surface at disparity `focus` stays where the view from c shows it, and
// one at disparity d spreads over a disc of radius |d − focus| · aperture pixels. An aperture of 0
// is a pinhole: the view from c itself.
struct ThinLens
{
    float focus = 0.0f; // pixels per view step
    float aperture = 0.0f; // radius, view steps

    bool isPinhole() const { return !(aperture > 0.0f); }
    bool operator==(const ThinLens &other) const
    {
        return focus == other.focus && aperture == other.aperture;
    }
    bool operator!=(const ThinLens &other) const { return !(*this == other); }
};

// The widest aperture for a grid of columns × rows: half its smaller side, in view steps, so that
// a lens at the grid's centre stays within it.
double maxLensAperture(int columns, int rows);

// The most camera positions a lens averages per picture, and its uniform arrays hold per pass.
inline constexpr int maxLensSamples = 64;
// The most views a pass of the lens reads: with their colour and disparity and the sum of the
// passes before, within the driver's texture units (at least 16, 32 on most).
inline constexpr int maxLensViews = 15;
// As many as the current context's texture units allow, up to maxLensViews.
int lensViewsPerPass();

// How many camera positions the lens averages for a light field whose disparities lie within
// 0 .. maxDisparity: enough that the copies of a surface that the positions give lie about seven
// pixels apart (each sample's colour is averaged over half that, so that they merge), and at
// least two and a half for every square view step of its disc, from 8 up to maxLensSamples. A
// pinhole takes one.
int lensSampleCount(const ThinLens &lens, int maxDisparity);

// count points spread evenly over the unit disc (a Fermat spiral): each the centre of an equal
// share of its area, so that their mean is the disc's centre and a blur made of them is even.
std::vector<QPointF> unitDiscSpiral(int count);

// One camera position a lens averages, and the stored views that answer for it: the view of its
// grid cell nearest to it, and the next nearest, which answers where the nearest does not see
// what the position sees. Positions beyond the grid's edge take the edge's views.
struct LensSample
{
    QPointF position; // x the column, y the row
    QPoint nearest; // column, row
    QPoint next;
};

// The camera positions of a lens centred on `centre` (x the column, y the row) on a grid of
// columns × rows, in spiral order.
std::vector<LensSample> lensSamples(QPointF centre, const ThinLens &lens, int columns, int rows,
                                    int sampleCount);

// The samples one pass of the lens adds, and the views they read, at most viewsPerPass of them.
struct LensPass
{
    std::vector<QPoint> views;
    std::vector<LensSample> samples;
};

// The samples split into passes: each sample in one pass, with both of its views; samples of one
// grid cell kept together, the cells in row order, so that few passes read the views of many.
std::vector<LensPass> planLensPasses(const std::vector<LensSample> &samples, int viewsPerPass);

// The lens's picture, drawn by the passes of planLensPasses. A sample shows what the stored view
// nearest to it sees along its ray, or, where that view does not see the point, what the next
// nearest sees. Keeps a mipmapped copy of each view it reads, for the next frames, which read
// the same views or most of them. Needs the viewer's context current whenever it is used or
// destroyed.
class LensPasses
{
public:
    explicit LensPasses(const LightfieldPlane &plane);

    // The picture of the lens at camera position `centre` in an output of width × height in the
    // colour layer's format, the corners framing the view as the warp's do; transparent black
    // beyond the view's frame. With searchesDisparity false every view is taken as a whole,
    // shifted so that the focus disparity lines up (shift-and-sum), as for views without
    // disparity. Runs inside FramebufferPasses. *drawn is set to the output texels the lens
    // pictures.
    // Views of gamma-compressed radiance (colourGamma above 1, as the per-frame tone mappers'
    // TonemappedRgb views are) are averaged as radiance, and the picture compressed alike.
    OwnedTexture render(QPointF centre, const ThinLens &lens, int colourLayer, int width,
                        int height, const QuadCorners &corners, bool searchesDisparity,
                        QRect *drawn, float colourGamma = 1.0f);

    // How many views have a mipmapped copy now.
    int mipmappedViewCount() const { return int(m_mipmapped.size()); }
    // The bytes of copies kept beyond those the last pass read; 256 MiB unless set.
    void setMipmapBudget(qint64 bytes) { m_mipmapBudget = bytes; }

private:
    QOpenGLTexture &mipmapped(QPoint view, int colourLayer, float colourGamma);
    void dropMipmapsBeyondBudget();

    const LightfieldPlane &m_plane;
    struct MipmappedView
    {
        QPoint view;
        OwnedTexture texture;
        int lastUse; // the pass that read it last
    };
    std::vector<MipmappedView> m_mipmapped;
    int m_uses = 0; // passes drawn
    qint64 m_mipmapBudget = qint64(256) << 20;
};
