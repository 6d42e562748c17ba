#include "LightfieldCamera.h"

#include <QDebug>
#include <QOpenGLShaderProgram>
#include <QVector2D>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

// The warp's texture units: each view's colour and disparity side by side, in the cell's order,
// then the search bounds, then each view's nearby-disparity map.
struct WarpUnits
{
    static constexpr GLint colour[4] = {0, 2, 4, 6};
    static constexpr GLint disparity[4] = {1, 3, 5, 7};
    static constexpr GLint searchBounds = 8;
    static constexpr GLint nearby[4] = {9, 10, 11, 12};
};

// The search bounds pass's texture units: each view's disparity tiles.
constexpr GLint boundsTileUnits[4] = {0, 1, 2, 3};

// The position after a move of delta drag pixels, from 1 to just short of the last view,
// (views - 1) × spacing - 1. Computed in 64 bits: the product and the sum both pass 32 bits for
// a large spacing. Not std::clamp: with a single column or row the upper bound lies below the
// lower one, and then the lower bound wins.
int movedPosition(int position, int delta, int views, int spacing)
{
    const std::int64_t high = std::min<std::int64_t>(std::int64_t(views - 1) * spacing - 1,
                                                     std::numeric_limits<int>::max());
    const std::int64_t moved = std::int64_t(position) + delta;
    return int(std::max<std::int64_t>(1, std::min(moved, high)));
}

// The shader's search vector: the camera's offset from the base view. Without a neighbour to the
// right or below (a single column or row) there is nothing to interpolate towards: the offset in
// that direction would only extrapolate the one view.
QVector2D searchVector(const SimpleCamera::Cell &cell)
{
    return QVector2D(cell.nextColumn == cell.column ? 0.0f : cell.offsetX,
                     cell.nextRow == cell.row ? 0.0f : cell.offsetY);
}

// The uniforms that the warp and its bounds pass share.
void setSearchUniforms(QOpenGLShaderProgram &program, const WarpSearch &warp)
{
    program.setUniformValue("searchvectorX", warp.searchVector.x());
    program.setUniformValue("searchvectorY", warp.searchVector.y());
    program.setUniformValue("horizontalResolution", warp.viewWidth);
    program.setUniformValue("verticalResolution", warp.viewHeight);
    program.setUniformValue("maxDisparity", warp.maxDisparity);
    program.setUniformValue("boundsBlockSize", searchBoundsBlockSize);
    program.setUniformValue("edgeSamples", warp.edgeSamples);
}

// Corner `index` of the corners along an axis (0 across, 1 up), in texels of a view of
// viewWidth × viewHeight.
double cornerInTexels(const QuadCorners &corners, int index, int axis, int viewWidth,
                      int viewHeight)
{
    return double(corners[index][axis]) * (axis == 0 ? viewWidth : viewHeight);
}

} // namespace

bool isParallelogram(const QuadCorners &corners)
{
    // Opposite sides equal: lower-left + upper-right = upper-left + lower-right.
    for (int axis = 0; axis < 2; ++axis) {
        const float across = corners[0][axis] + corners[2][axis];
        const float other = corners[1][axis] + corners[3][axis];
        if (std::abs(across - other) > 1e-6f * std::max(1.0f, std::abs(across)))
            return false;
    }
    return true;
}

bool wholeTexelCrop(const QuadCorners &corners, int width, int height, int viewWidth,
                    int viewHeight, QPoint *offset)
{
    // Within this many texels of a texel's corner, a pixel centre still lies far inside the texel
    // a nearest read takes.
    const double tolerance = 1e-3;
    const auto texels = [&](int index, int axis) {
        return cornerInTexels(corners, index, axis, viewWidth, viewHeight);
    };
    const auto whole = [&](double value) {
        return std::abs(value - std::round(value)) < tolerance;
    };
    const double left = texels(0, 0), bottom = texels(0, 1);
    const bool upright = std::abs(texels(1, 0) - left) < tolerance
        && std::abs(texels(3, 1) - bottom) < tolerance
        && std::abs(texels(2, 0) - texels(3, 0)) < tolerance
        && std::abs(texels(2, 1) - texels(1, 1)) < tolerance;
    if (!upright || !whole(left) || !whole(bottom)
        || std::abs(texels(3, 0) - left - width) > tolerance
        || std::abs(texels(1, 1) - bottom - height) > tolerance) {
        return false;
    }
    *offset = QPoint(int(std::lround(left)), int(std::lround(bottom)));
    return true;
}

DrawnRegion reachOfViews(const WarpSearch &warp, int width, int height, const QuadCorners &corners)
{
    DrawnRegion everywhere {0, 0, width, height, {0.0f, 0.0f, 0.0f, 0.0f}};
    // Elsewhere the quad's two triangles map pixels to texels in two ways.
    if (!isParallelogram(corners))
        return everywhere;
    // The texel positions whose rays can reach a view: the views, with room for the texels that
    // filtered reads and the outline check take next to a position, widened by as far as a ray
    // travels over the search range.
    const double viewWidth = warp.viewWidth, viewHeight = warp.viewHeight;
    const double range = std::min(warp.maxDisparity, std::max(warp.viewWidth, warp.viewHeight));
    const double reachX = range * (std::abs(warp.searchVector.x()) + 1.0);
    const double reachY = range * (std::abs(warp.searchVector.y()) + 1.0);
    const double margin = 2.0;
    const double lowX = -margin - reachX, highX = viewWidth + margin + reachX;
    const double lowY = -margin - reachY, highY = viewHeight + margin + reachY;

    // Output pixel centre (x, y) lies at texel position origin + x · alongX + y · alongY.
    const auto corner = [&](int index, int axis) {
        return cornerInTexels(corners, index, axis, warp.viewWidth, warp.viewHeight);
    };
    const double originX = corner(0, 0), originY = corner(0, 1);
    const double alongXx = (corner(3, 0) - originX) / width,
                 alongXy = (corner(3, 1) - originY) / width;
    const double alongYx = (corner(1, 0) - originX) / height,
                 alongYy = (corner(1, 1) - originY) / height;
    const double determinant = alongXx * alongYy - alongYx * alongXy;
    if (std::abs(determinant) < 1e-12)
        return everywhere;
    double lowPixelX = std::numeric_limits<double>::max(), highPixelX = -lowPixelX;
    double lowPixelY = lowPixelX, highPixelY = highPixelX;
    for (const double tx : {lowX, highX}) {
        for (const double ty : {lowY, highY}) {
            const double px = tx - originX, py = ty - originY;
            const double x = (px * alongYy - py * alongYx) / determinant;
            const double y = (py * alongXx - px * alongXy) / determinant;
            lowPixelX = std::min(lowPixelX, x);
            highPixelX = std::max(highPixelX, x);
            lowPixelY = std::min(lowPixelY, y);
            highPixelY = std::max(highPixelY, y);
        }
    }
    // Pixel x has its centre at x + 0.5; one pixel more on every side for rounding, and for the
    // sub-samples of a pixel on an outline, which lie within half a pixel of its centre.
    const auto first = [](double centre, int size) {
        return int(std::clamp(std::floor(centre - 0.5) - 1.0, 0.0, double(size)));
    };
    const auto end = [](double centre, int size) {
        return int(std::clamp(std::ceil(centre - 0.5) + 2.0, 0.0, double(size)));
    };
    DrawnRegion region = everywhere;
    region.x = first(lowPixelX, width);
    region.y = first(lowPixelY, height);
    region.width = std::max(0, end(highPixelX, width) - region.x);
    region.height = std::max(0, end(highPixelY, height) - region.y);
    return region;
}

void framingCorners(ViewFraming framing, int width, int height, int viewWidth, int viewHeight,
                    QuadCorners &corners)
{
    if (framing == ViewFraming::WholeView) {
        const float unitSquare[4][2] = {{0.0f, 0.0f}, {0.0f, 1.0f}, {1.0f, 1.0f}, {1.0f, 0.0f}};
        std::copy(&unitSquare[0][0], &unitSquare[0][0] + 8, &corners[0][0]);
        return;
    }
    // A window wider than the view reaches outside [0, 1], where the plane's textures are
    // transparent black. Where the window and the view differ by an odd number of pixels,
    // centring would put every window pixel halfway between two texels, and the filtered reads
    // would blur the whole picture: the crop moves by half a pixel, so that the extra column lies
    // on the right (the extra row at the top).
    const float sx = float(width) / float(viewWidth);
    const float sy = float(height) / float(viewHeight);
    const auto halfPixel = [](int viewSize, int windowSize) {
        return (viewSize - windowSize) % 2 != 0 ? 0.5 / viewSize : 0.0;
    };
    const float gx = float((1.0 - double(sx)) * 0.5 + halfPixel(viewWidth, width));
    const float gy = float((1.0 - double(sy)) * 0.5 + halfPixel(viewHeight, height));
    const float crop[4][2] = {{gx, gy}, {gx, gy + sy}, {gx + sx, gy + sy}, {gx + sx, gy}};
    std::copy(&crop[0][0], &crop[0][0] + 8, &corners[0][0]);
}

OwnedTexture findSearchBounds(QOpenGLTexture *const (&tiles)[4], const WarpSearch &warp, int width,
                              int height, const QuadCorners &corners, const DrawnRegion *region)
{
    const int block = searchBoundsBlockSize;
    const int columns = (width + block - 1) / block;
    const int rows = (height + block - 1) / block;
    // The blocks that meet the region.
    DrawnRegion blocks {0, 0, columns, rows, {0.0f, 0.0f, 0.0f, 0.0f}};
    if (region) {
        blocks.x = region->x / block;
        blocks.y = region->y / block;
        blocks.width = (region->x + region->width + block - 1) / block - blocks.x;
        blocks.height = (region->y + region->height + block - 1) / block - blocks.y;
    }
    const QVector2D lowerLeft(corners[0][0], corners[0][1]);
    const QVector2D upperLeft(corners[1][0], corners[1][1]);
    const QVector2D lowerRight(corners[3][0], corners[3][1]);
    return runPass(
        {"search bounds", shaderProgram(ShaderProgram::SearchBounds), columns, rows,
         PassFormat::Rgba32F, nullptr, &blocks},
        {{tiles[0], boundsTileUnits[0]},
         {tiles[1], boundsTileUnits[1]},
         {tiles[2], boundsTileUnits[2]},
         {tiles[3], boundsTileUnits[3]}},
        [&](QOpenGLShaderProgram &program) {
            program.setUniformValueArray("disparityTiles[0]", boundsTileUnits, 4);
            program.setUniformValue("tileSize", disparityTileSize);
            setSearchUniforms(program, warp);
            program.setUniformValue("uvAtOrigin", lowerLeft);
            program.setUniformValue("uvPerPixelX", (lowerRight - lowerLeft) / float(width));
            program.setUniformValue("uvPerPixelY", (upperLeft - lowerLeft) / float(height));
        });
}

OwnedTexture findNearbyDisparity(QOpenGLTexture &disparity, int width, int height)
{
    return runPass({"nearby disparity", shaderProgram(ShaderProgram::NearbyDisparity), width + 3,
                    height + 3, PassFormat::R16F},
                   {{&disparity, 0}}, [&](QOpenGLShaderProgram &program) {
                       program.setUniformValue("disparity[0]", 0);
                       program.setUniformValue("horizontalResolution", width);
                       program.setUniformValue("verticalResolution", height);
                   });
}

SimpleCamera::SimpleCamera(PipelineOptions, const LightfieldPlane *plane)
    : m_plane(plane)
    , m_lensPasses(*plane)
{
    initializeOpenGLFunctions();
    m_framebuffer = Framebuffer::generate();
}

std::unique_ptr<LightfieldCamera> createCamera(PipelineOptions options,
                                               const LightfieldPlane *plane)
{
    return std::make_unique<SimpleCamera>(std::move(options), plane);
}

std::unique_ptr<CameraView> SimpleCamera::render(int globalX, int globalY, int width, int height)
{
    (void)globalX;
    (void)globalY;
    const float spacing = float(m_plane->viewSpacing());
    return renderAt(float(m_positionX) / spacing, float(m_positionY) / spacing, width, height);
}

std::unique_ptr<CameraView> SimpleCamera::renderAt(float x, float y, int width, int height)
{
    float corners[4][2];
    framingCorners(framing(), width, height, m_plane->width(), m_plane->height(), corners);
    return renderView(width, height, corners, x, y, true);
}

bool SimpleCamera::mouseMoved(int dx, int dy, int button)
{
    if (button != 1)
        return false;
    const int spacing = m_plane->viewSpacing();
    const QPoint before(m_positionX, m_positionY);
    // The last column and row are never reached exactly, so the cell always has a right and a
    // lower neighbour when the grid has them.
    m_positionX = movedPosition(m_positionX, dx, m_plane->columns(), spacing);
    m_positionY = movedPosition(m_positionY, dy, m_plane->rows(), spacing);
    return QPoint(m_positionX, m_positionY) != before;
}

bool SimpleCamera::step(double columns, double rows)
{
    const double spacing = double(m_plane->viewSpacing());
    const auto pixels = [spacing](double steps) {
        const int rounded = int(std::lround(steps * spacing));
        if (rounded == 0 && steps != 0.0)
            return steps > 0.0 ? 1 : -1;
        return rounded;
    };
    return mouseMoved(pixels(columns), pixels(rows), Qt::LeftButton);
}

bool SimpleCamera::returnToStart()
{
    const bool moved = m_positionX != 1 || m_positionY != 1;
    m_positionX = 1;
    m_positionY = 1;
    return moved;
}

SimpleCamera::Cell SimpleCamera::pickCell(float x, float y) const
{
    const int lastColumn = m_plane->columns() - 1;
    const int lastRow = m_plane->rows() - 1;
    // With disparity the cell's base view is the one up and left of the position; without, the
    // nearest view is shown, kept inside the grid when a single column or row rounds outside it.
    int column = 0;
    int row = 0;
    if (m_plane->supportsLayer(Disparity)) {
        column = int(std::floor(x));
        row = int(std::floor(y));
    } else {
        column = std::clamp(int(std::lround(x)), 0, lastColumn);
        row = std::clamp(int(std::lround(y)), 0, lastRow);
    }
    Cell cell;
    cell.offsetX = x - float(column);
    cell.offsetY = float(row) - y;
    cell.column = std::min(column, lastColumn);
    cell.row = std::min(row, lastRow);
    cell.nextColumn = std::min(column + 1, lastColumn);
    cell.nextRow = std::min(row + 1, lastRow);
    return cell;
}

int SimpleCamera::colourLayer() const
{
    return m_plane->supportsLayer(LdrRgb) ? LdrRgb : TonemappedRgb;
}

std::unique_ptr<CameraView> SimpleCamera::cellView(const Cell &cell, int width, int height) const
{
    std::array<const FeatureLayers *, 4> stored;
    const std::array<QPoint, 4> views = cell.views();
    for (size_t i = 0; i < 4; ++i)
        stored[i] = &m_plane->featureLayersAt(views[i].x(), views[i].y());
    return cameraViewOfCell(width, height, stored);
}

std::unique_ptr<CameraView> SimpleCamera::renderView(int width, int height,
                                                     const QuadCorners &corners, float x, float y,
                                                     bool useDisparity)
{
    const LightfieldPlane &plane = *m_plane;
    const Cell cell = pickCell(x, y);
    qDebug() << "positionX:" << x << " positionY:" << y;

    auto view = cellView(cell, width, height);
    view->setParameter(ViewOffsetX, cell.offsetX);
    view->setParameter(ViewOffsetY, cell.offsetY);
    interpolateParameters(*view, plane, cell.offsetX, cell.offsetY);

    OwnedTexture output;
    QRect drawn(0, 0, width, height);
    {
        FramebufferPasses passes(m_framebuffer);
        PassOutputPool::Use reuse(m_passOutputs);
        const bool searches = useDisparity && plane.supportsLayer(Disparity);
        if (!lens().isPinhole()) {
            output = m_lensPasses.render(QPointF(x, y), lens(), colourLayer(), width, height,
                                         corners, searches, &drawn, radianceGamma());
        } else if (plane.supportsLayer(Disparity)) {
            output = warpCell(*view, cell, width, height, corners,
                              useDisparity ? plane.maxDisparity() : 0, &drawn);
        } else {
            output = showNearest(*view, width, height, corners, &drawn);
        }
    }
    view->setLayer(colourLayer(), std::move(output));
    view->setDrawn(drawn);
    return view;
}

OwnedTexture SimpleCamera::renderDisparity(int width, int height)
{
    const float spacing = float(m_plane->viewSpacing());
    return renderDisparityAt(float(m_positionX) / spacing, float(m_positionY) / spacing, width,
                             height);
}

OwnedTexture SimpleCamera::renderDisparityAt(float x, float y, int width, int height)
{
    if (!m_plane->supportsLayer(Disparity))
        return nullptr;
    QuadCorners corners;
    framingCorners(framing(), width, height, m_plane->width(), m_plane->height(), corners);
    return synthesisedDisparity(x, y, width, height, corners, WarpOutput::DisparityColours);
}

std::optional<float> SimpleCamera::disparityUnder(QPoint pixel, int width, int height)
{
    if (!m_plane->supportsLayer(Disparity) || pixel.x() < 0 || pixel.y() < 0 || pixel.x() >= width
        || pixel.y() >= height) {
        return std::nullopt;
    }
    // The warp of an output of that one pixel: the corners of the window's pixel, GL rows counted
    // from the bottom.
    QuadCorners window;
    framingCorners(framing(), width, height, m_plane->width(), m_plane->height(), window);
    const double left = double(pixel.x()) / width, right = double(pixel.x() + 1) / width;
    const double bottom = double(height - 1 - pixel.y()) / height,
                 top = double(height - pixel.y()) / height;
    const auto at = [&](double u, double v, int axis) {
        return float((1 - u) * (1 - v) * window[0][axis] + (1 - u) * v * window[1][axis]
                     + u * v * window[2][axis] + u * (1 - v) * window[3][axis]);
    };
    QuadCorners corners;
    const double place[4][2] = {{left, bottom}, {left, top}, {right, top}, {right, bottom}};
    for (int corner = 0; corner < 4; ++corner) {
        for (int axis = 0; axis < 2; ++axis)
            corners[corner][axis] = at(place[corner][0], place[corner][1], axis);
    }
    const float spacing = float(m_plane->viewSpacing());
    OwnedTexture disparity =
        synthesisedDisparity(float(m_positionX) / spacing, float(m_positionY) / spacing, 1, 1,
                             corners, WarpOutput::Disparity);
    const std::vector<float> texel = readTextureFloats(*disparity, 1, 1);
    // Beyond the view's frame the warp shows nothing: alpha 0.
    if (texel[3] <= 0.0f)
        return std::nullopt;
    return texel[0];
}

OwnedTexture SimpleCamera::synthesisedDisparity(float x, float y, int width, int height,
                                                const QuadCorners &corners, WarpOutput output)
{
    const Cell cell = pickCell(x, y);
    auto view = cellView(cell, width, height);
    FramebufferPasses passes(m_framebuffer);
    PassOutputPool::Use reuse(m_passOutputs);
    QRect drawn;
    return warpCell(*view, cell, width, height, corners, m_plane->maxDisparity(), &drawn, output);
}

std::array<QOpenGLTexture *, 4> SimpleCamera::nearbyDisparityOf(const Cell &cell)
{
    const std::array<QPoint, 4> views = cell.views();
    // The maps of views that this cell lacks go first: back to the frames' pool, whose storage
    // the new maps then take.
    std::vector<NearbyMap> kept;
    for (NearbyMap &entry : m_nearbyMaps) {
        if (std::find(views.begin(), views.end(), entry.view) != views.end())
            kept.push_back(std::move(entry));
    }
    m_nearbyMaps = std::move(kept);
    // At the grid's last column or row a view stands for two of the cell's; it has one map.
    std::array<QOpenGLTexture *, 4> maps {};
    for (size_t i = 0; i < 4; ++i) {
        const QPoint view = views[i];
        auto found = std::find_if(m_nearbyMaps.begin(), m_nearbyMaps.end(),
                                  [&](const NearbyMap &entry) { return entry.view == view; });
        if (found == m_nearbyMaps.end()) {
            QOpenGLTexture &disparity = *m_plane->layerAt(view.x(), view.y(), Disparity);
            m_nearbyMaps.push_back(
                {view, findNearbyDisparity(disparity, m_plane->width(), m_plane->height())});
            found = m_nearbyMaps.end() - 1;
        }
        maps[i] = found->map.get();
    }
    return maps;
}

OwnedTexture SimpleCamera::warpCell(const CameraView &view, const Cell &cell, int width, int height,
                                    const QuadCorners &corners, int disparityRange, QRect *drawn,
                                    WarpOutput output)
{
    const QVector2D search = searchVector(cell);
    const WarpSearch warp {search, m_plane->width(), m_plane->height(), disparityRange,
                           m_edgeSamples};

    // Output pixels whose rays cannot reach a view read every view beyond its transparent black
    // edge, and are transparent black.
    const DrawnRegion reach = reachOfViews(warp, width, height, corners);
    const DrawnRegion *region = m_drawsEverywhere ? nullptr : &reach;
    *drawn = QRect(reach.x, reach.y, reach.width, reach.height);

    // Where each block of output pixels can begin its searches.
    OwnedTexture bounds;
    if (disparityRange > 0 && isParallelogram(corners)) {
        QOpenGLTexture *tiles[4];
        for (int i = 0; i < 4; ++i)
            tiles[i] = view.getLayer(DisparityTiles, CameraView::cellSlots[i]);
        bounds = findSearchBounds(tiles, warp, width, height, corners, region);
    }

    std::vector<PassInput> inputs;
    for (size_t i = 0; i < 4; ++i) {
        QOpenGLTexture *colour = view.getLayer(colourLayer(), CameraView::cellSlots[i]);
        QOpenGLTexture *disparity = view.getLayer(Disparity, CameraView::cellSlots[i]);
        // The search reads between texels; the plane's textures keep these filters.
        colour->setMinMagFilters(QOpenGLTexture::Linear, QOpenGLTexture::Linear);
        disparity->setMinMagFilters(QOpenGLTexture::Linear, QOpenGLTexture::Linear);
        inputs.push_back({colour, WarpUnits::colour[i]});
        inputs.push_back({disparity, WarpUnits::disparity[i]});
    }
    if (bounds)
        inputs.push_back({bounds.get(), WarpUnits::searchBounds});
    const std::array<QOpenGLTexture *, 4> nearby = nearbyDisparityOf(cell);
    for (size_t i = 0; i < 4; ++i)
        inputs.push_back({nearby[i], WarpUnits::nearby[i]});

    PassFormat format = colourLayer() == LdrRgb ? PassFormat::Rgba8 : PassFormat::Rgba16F;
    ShaderProgram warpProgram =
        m_edgeSamples > 1 ? ShaderProgram::SampledOutlinesWarp : ShaderProgram::SimpleWarp;
    const char *name = "view synthesis";
    if (output != WarpOutput::Colour) {
        format = output == WarpOutput::Disparity ? PassFormat::Rgba32F : PassFormat::Rgba8;
        warpProgram = ShaderProgram::SynthesisedDisparity;
        name = "synthesised disparity";
    }
    return runPass({name, shaderProgram(warpProgram), width, height, format, &corners, region},
                   inputs, [&](QOpenGLShaderProgram &program) {
                       if (output != WarpOutput::Colour)
                           program.setUniformValue("colourMapped",
                                                   output == WarpOutput::Disparity ? 0 : 1);
                       program.setUniformValueArray("input1[0]", WarpUnits::colour, 4);
                       program.setUniformValueArray("disparity[0]", WarpUnits::disparity, 4);
                       program.setUniformValueArray("nearbyDisparity[0]", WarpUnits::nearby, 4);
                       setSearchUniforms(program, warp);
                       program.setUniformValue("searchBounds", WarpUnits::searchBounds);
                       program.setUniformValue("boundedSearch", bounds ? 1 : 0);
                   });
}

OwnedTexture SimpleCamera::showNearest(const CameraView &view, int width, int height,
                                       const QuadCorners &corners, QRect *drawn) const
{
    const PassFormat format = colourLayer() == LdrRgb ? PassFormat::Rgba8 : PassFormat::Rgba16F;
    QOpenGLTexture &nearest = *view.getLayer(colourLayer(), CameraView::Base);
    // The window's crop reads the view's texels whole, one per output texel, and beyond the view
    // its transparent black border: a copy gives the same texels for a fraction of the cost.
    QPoint offset;
    const bool crop =
        wholeTexelCrop(corners, width, height, m_plane->width(), m_plane->height(), &offset);
    // A window of the view's size, over the whole view: the frame is the stored view itself.
    if (crop && offset.isNull() && width == m_plane->width() && height == m_plane->height()
        && sameFormat(nearest, format)) {
        *drawn = QRect(0, 0, width, height);
        return borrowTexture(nearest);
    }
    if (crop && copiesInto(nearest, format)) {
        static const float transparentBlack[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        *drawn = QRect(0, 0, width, height)
                     .intersected(QRect(-offset, QSize(m_plane->width(), m_plane->height())));
        return runCopyPass("nearest view", nearest, width, height, format, offset,
                           transparentBlack);
    }
    // Otherwise the warp's variant that only reads the nearest view, on its first sampler:
    // nothing moves, nothing blends.
    return runPass({"nearest view", shaderProgram(ShaderProgram::NearestView), width, height,
                    format, &corners},
                   {{&nearest, 0}},
                   [](QOpenGLShaderProgram &program) { program.setUniformValue("input1[0]", 0); });
}

std::array<float, 4> cellWeights(float offsetX, float offsetY)
{
    const double u = std::clamp(double(offsetX), 0.0, 1.0);
    const double v = std::clamp(-double(offsetY), 0.0, 1.0);
    return {float((1.0 - u) * (1.0 - v)), float(u * (1.0 - v)), float(u * v), float((1.0 - u) * v)};
}

void interpolateParameters(CameraView &view, const LightfieldPlane &plane, float dx, float dy)
{
    const std::array<float, 4> weights = cellWeights(dx, dy);
    for (int parameter : plane.supportedParameters()) {
        float blended = 0.0f;
        if (parameter == Contrast) {
            float logSum = 0.0f;
            for (size_t i = 0; i < 4; ++i) {
                // A view without weight contributes a factor of 1, also when its value is 0 and
                // its logarithm is -inf.
                if (weights[i] != 0.0f)
                    logSum += weights[i]
                        * std::log(view.getParameter(parameter, CameraView::cellSlots[i]));
            }
            blended = std::exp(logSum);
        } else {
            for (size_t i = 0; i < 4; ++i)
                blended += weights[i] * view.getParameter(parameter, CameraView::cellSlots[i]);
        }
        view.setParameter(parameter, blended);
    }
}
