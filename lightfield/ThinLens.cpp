#include "ThinLens.h"

#include "LightfieldCamera.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QVector2D>

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace {

const double pi = std::acos(-1.0);

// The copies of a surface that the samples make lie about this many pixels apart.
constexpr double copySpacing = 7.0;
constexpr int fewestLensSamples = 8;
// Positions per square view step of the aperture, at least.
constexpr double samplesPerViewStep = 2.5;

// The lens's texture units: each view's colour and disparity side by side, then, past those of the
// views a pass may read, the sum of the passes before.
struct LensUnits
{
    static constexpr GLint colour[maxLensViews] = {0,  2,  4,  6,  8,  10, 12, 14,
                                                   16, 18, 20, 22, 24, 26, 28};
    static constexpr GLint disparity[maxLensViews] = {1,  3,  5,  7,  9,  11, 13, 15,
                                                      17, 19, 21, 23, 25, 27, 29};
};

// The first of two views of a cell's row or column, so that a position between them, or beyond
// the grid next to them, lies in their cell.
int cellStart(double position, int count)
{
    return std::clamp(int(std::floor(position)), 0, std::max(count - 2, 0));
}

PassFormat colourFormat(int colourLayer)
{
    return colourLayer == LdrRgb ? PassFormat::Rgba8 : PassFormat::Rgba16F;
}

// The mipmap level of the output's own pixels: where a window shows the view shrunk, each pixel
// spans several texels.
float outputLod(const QuadCorners &corners, int width, int height, int viewWidth, int viewHeight)
{
    const double across = std::hypot((corners[3][0] - corners[0][0]) * viewWidth,
                                     (corners[3][1] - corners[0][1]) * viewHeight)
        / width;
    const double up = std::hypot((corners[1][0] - corners[0][0]) * viewWidth,
                                 (corners[1][1] - corners[0][1]) * viewHeight)
        / height;
    return float(std::max(0.0, std::log2(std::max(across, up))));
}

qint64 bytesOf(const QOpenGLTexture &texture)
{
    const qint64 texelBytes = texture.format() == QOpenGLTexture::RGBA8_UNorm ? 4 : 8;
    // The mipmaps add a third.
    return qint64(texture.width()) * texture.height() * texelBytes * 4 / 3;
}

} // namespace

double maxLensAperture(int columns, int rows)
{
    return std::max(std::min(columns, rows) - 1, 0) / 2.0;
}

int lensViewsPerPass()
{
    GLint units = 0;
    QOpenGLContext::currentContext()->functions()->glGetIntegerv(GL_MAX_TEXTURE_IMAGE_UNITS,
                                                                 &units);
    // A sample reads two views.
    return std::clamp((units - 1) / 2, 2, maxLensViews);
}

int lensSampleCount(const ThinLens &lens, int maxDisparity)
{
    if (lens.isPinhole())
        return 1;
    const double farthestFromFocus =
        std::max(double(lens.focus), double(maxDisparity) - double(lens.focus));
    const double blur = double(lens.aperture) * std::max(farthestFromFocus, 0.0);
    const double forTheBlur = pi * blur * blur / (copySpacing * copySpacing);
    // A wide lens takes in many stored views, each of which answers for a few positions.
    const double aperture = double(lens.aperture);
    const double forTheViews = samplesPerViewStep * pi * aperture * aperture;
    const double count = std::ceil(std::max(forTheBlur, forTheViews));
    return int(std::clamp(count, double(fewestLensSamples), double(maxLensSamples)));
}

std::vector<QPointF> unitDiscSpiral(int count)
{
    // Point k at radius sqrt((k + ½) / n) holds the ring of area between its neighbours; turning
    // by the golden angle keeps every angle's share even for any n.
    const double goldenAngle = pi * (3.0 - std::sqrt(5.0));
    std::vector<QPointF> points;
    points.reserve(std::size_t(std::max(count, 0)));
    for (int k = 0; k < count; ++k) {
        const double radius = std::sqrt((k + 0.5) / count);
        const double angle = k * goldenAngle;
        points.emplace_back(radius * std::cos(angle), radius * std::sin(angle));
    }
    return points;
}

std::vector<LensSample> lensSamples(QPointF centre, const ThinLens &lens, int columns, int rows,
                                    int sampleCount)
{
    std::vector<LensSample> samples;
    for (const QPointF &unit : unitDiscSpiral(sampleCount)) {
        const QPointF position = centre + double(std::max(lens.aperture, 0.0f)) * unit;
        // The four views of the position's cell; at the grid's last column or row, and on a grid
        // of one, a view stands for its missing neighbour.
        const int column = cellStart(position.x(), columns);
        const int row = cellStart(position.y(), rows);
        const int nextColumn = std::min(column + 1, columns - 1);
        const int nextRow = std::min(row + 1, rows - 1);
        std::array<QPoint, 4> views = {QPoint(column, row), QPoint(nextColumn, row),
                                       QPoint(nextColumn, nextRow), QPoint(column, nextRow)};
        const auto distance = [&](QPoint view) {
            return std::hypot(position.x() - view.x(), position.y() - view.y());
        };
        // Of views at one distance the first in the cell's order, so that the choice does not
        // flicker between frames.
        std::stable_sort(views.begin(), views.end(),
                         [&](QPoint a, QPoint b) { return distance(a) < distance(b); });
        // Where a view stands for its neighbour it is listed twice; the next is another one, but
        // for a grid of a single view.
        const auto other =
            std::find_if(views.begin(), views.end(), [&](QPoint view) { return view != views[0]; });
        samples.push_back({position, views[0], other != views.end() ? *other : views[0]});
    }
    return samples;
}

std::vector<LensPass> planLensPasses(const std::vector<LensSample> &samples, int viewsPerPass)
{
    // Samples sorted by their cell, of which the nearest view and the next are two corners.
    std::vector<LensSample> sorted = samples;
    const auto cellOf = [](const LensSample &sample) {
        return std::make_pair(std::min(sample.nearest.y(), sample.next.y()),
                              std::min(sample.nearest.x(), sample.next.x()));
    };
    std::stable_sort(sorted.begin(), sorted.end(), [&](const LensSample &a, const LensSample &b) {
        return cellOf(a) < cellOf(b);
    });
    std::vector<LensPass> passes;
    for (const LensSample &sample : sorted) {
        const auto lacks = [](const LensPass &pass, QPoint view) {
            return std::find(pass.views.begin(), pass.views.end(), view) == pass.views.end();
        };
        if (passes.empty()) {
            passes.emplace_back();
        } else {
            const LensPass &last = passes.back();
            const int added = int(lacks(last, sample.nearest))
                + int(sample.next != sample.nearest && lacks(last, sample.next));
            if (int(last.views.size()) + added > viewsPerPass)
                passes.emplace_back();
        }
        LensPass &pass = passes.back();
        for (QPoint view : {sample.nearest, sample.next}) {
            if (lacks(pass, view))
                pass.views.push_back(view);
        }
        pass.samples.push_back(sample);
    }
    return passes;
}

LensPasses::LensPasses(const LightfieldPlane &plane)
    : m_plane(plane)
{ }

QOpenGLTexture &LensPasses::mipmapped(QPoint view, int colourLayer, float colourGamma)
{
    auto found = std::find_if(m_mipmapped.begin(), m_mipmapped.end(),
                              [&](const MipmappedView &entry) { return entry.view == view; });
    if (found == m_mipmapped.end()) {
        QOpenGLTexture &colour = *m_plane.layerAt(view.x(), view.y(), colourLayer);
        const PassFormat format = colourFormat(colourLayer);
        OwnedTexture copy;
        if (colourGamma != 1.0f) {
            const OwnedTexture radiance =
                runPass({"lens view radiance", shaderProgram(ShaderProgram::NearestView),
                         m_plane.width(), m_plane.height(), format},
                        {{&colour, 0}}, [&](QOpenGLShaderProgram &program) {
                            program.setUniformValue("input1[0]", 0);
                            program.setUniformValue("decodeGamma", colourGamma);
                        });
            copy = mipmappedCopy("lens view mipmaps", *radiance, format);
        } else {
            copy = mipmappedCopy("lens view mipmaps", colour, format);
        }
        m_mipmapped.push_back({view, std::move(copy), 0});
        found = m_mipmapped.end() - 1;
    }
    found->lastUse = m_uses;
    return *found->texture;
}

OwnedTexture LensPasses::render(QPointF centre, const ThinLens &lens, int colourLayer, int width,
                                int height, const QuadCorners &corners, bool searchesDisparity,
                                QRect *drawn, float colourGamma)
{
    const int viewWidth = m_plane.width(), viewHeight = m_plane.height();
    // Without disparity the samples only weigh the stored views by the share of the aperture
    // nearest to each; they need no spacing of their own.
    const int sampleCount =
        searchesDisparity ? lensSampleCount(lens, m_plane.maxDisparity()) : maxLensSamples;
    const int viewsPerPass = lensViewsPerPass();
    const std::vector<LensPass> passes = planLensPasses(
        lensSamples(centre, lens, m_plane.columns(), m_plane.rows(), sampleCount), viewsPerPass);
    const float sampleSpacing = float(double(lens.aperture) * std::sqrt(pi / sampleCount));
    const float minimumLod = outputLod(corners, width, height, viewWidth, viewHeight);

    // The lens pictures the view's frame: the output pixels whose centres the corners put in the
    // view, and a pixel of margin for rounding; the shader draws nothing beyond the frame itself.
    const WarpSearch frame {QVector2D(0.0f, 0.0f), viewWidth, viewHeight, 0};
    const DrawnRegion region = reachOfViews(frame, width, height, corners);
    *drawn = QRect(region.x, region.y, region.width, region.height);

    OwnedTexture sum;
    for (std::size_t index = 0; index < passes.size(); ++index) {
        const LensPass &pass = passes[index];
        ++m_uses;
        const auto slotOf = [&](QPoint view) {
            return GLint(std::find(pass.views.begin(), pass.views.end(), view)
                         - pass.views.begin());
        };
        std::vector<PassInput> inputs;
        std::vector<QVector2D> viewPositions;
        for (std::size_t slot = 0; slot < pass.views.size(); ++slot) {
            const QPoint view = pass.views[slot];
            inputs.push_back({&mipmapped(view, colourLayer, colourGamma), LensUnits::colour[slot]});
            if (searchesDisparity) {
                inputs.push_back(
                    {m_plane.layerAt(view.x(), view.y(), Disparity), LensUnits::disparity[slot]});
            }
            viewPositions.emplace_back(QPointF(view) - centre);
        }
        if (sum)
            inputs.push_back({sum.get(), 2 * viewsPerPass});
        std::vector<QVector2D> positions;
        std::vector<GLint> sampleViews;
        for (const LensSample &sample : pass.samples) {
            positions.emplace_back(sample.position - centre);
            sampleViews.push_back(slotOf(sample.nearest));
            sampleViews.push_back(slotOf(sample.next));
        }

        const bool last = index + 1 == passes.size();
        OwnedTexture next = runPass(
            {"thin lens", shaderProgram(ShaderProgram::Refocus), width, height,
             last ? colourFormat(colourLayer) : PassFormat::Rgba32F, &corners, &region},
            inputs, [&](QOpenGLShaderProgram &program) {
                program.setUniformValueArray("lensColour[0]", LensUnits::colour, maxLensViews);
                program.setUniformValueArray("lensDisparity[0]", LensUnits::disparity,
                                             maxLensViews);
                program.setUniformValue("partialSum", 2 * viewsPerPass);
                program.setUniformValue("addsToPartialSum", sum ? 1 : 0);
                program.setUniformValue("horizontalResolution", viewWidth);
                program.setUniformValue("verticalResolution", viewHeight);
                program.setUniformValueArray("lensViewPosition[0]", viewPositions.data(),
                                             int(viewPositions.size()));
                program.setUniformValueArray("lensSample[0]", positions.data(),
                                             int(positions.size()));
                QOpenGLContext::currentContext()->functions()->glUniform2iv(
                    program.uniformLocation("lensSampleViews[0]"), int(positions.size()),
                    sampleViews.data());
                program.setUniformValue("lensSampleCount", int(positions.size()));
                program.setUniformValue("focus", lens.focus);
                program.setUniformValue("sampleSpacing", sampleSpacing);
                program.setUniformValue("minimumLod", minimumLod);
                program.setUniformValue("searchesDisparity", searchesDisparity ? 1 : 0);
                program.setUniformValue("sampleWeight", 1.0f / float(sampleCount));
                program.setUniformValue("outputGamma", last ? colourGamma : 1.0f);
            });
        sum = std::move(next);
        // Views so large that the pass's copies alone pass the budget are copied again for the
        // next frame: a wide lens over them costs time rather than memory without bound.
        dropMipmapsBeyondBudget();
    }
    return sum;
}

void LensPasses::dropMipmapsBeyondBudget()
{
    // The copies the last pass read stay; of the others, those read longest ago go first.
    std::sort(m_mipmapped.begin(), m_mipmapped.end(),
              [](const MipmappedView &a, const MipmappedView &b) { return a.lastUse > b.lastUse; });
    qint64 kept = 0;
    auto end = m_mipmapped.begin();
    for (; end != m_mipmapped.end(); ++end) {
        kept += bytesOf(*end->texture);
        if (end->lastUse != m_uses && kept > m_mipmapBudget)
            break;
    }
    m_mipmapped.erase(end, m_mipmapped.end());
}
