#include "SyntheticScene.h"

#include "ClutteredScene.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>
#include <string>
#include <thread>

namespace synth {
namespace {

constexpr double twoPi = 6.283185307179586;
constexpr double pi = twoPi / 2;

// Front to back: triangle, disc, rectangle, background. Every value is a short binary fraction,
// so that integer view steps move a layer by exactly representable amounts and the disparity
// survives RGBE storage unchanged.
enum Layer
{
    Triangle,
    Disc,
    Rectangle,
    Background,
    LayerCount
};
// At the default bound of 12.
constexpr double baseLayerDisparity[LayerCount] = {11.0, 7.25, 3.5, 1.0};
constexpr int baseDisparityBound = 12;

// Each pixel averages a regular grid of this many samples per axis.
constexpr int samplesPerAxis = 4;

struct Rgb
{
    double r, g, b;
};

Rgb mix(const Rgb &a, const Rgb &b, double t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Rgb scaled(const Rgb &c, double factor)
{
    return {c.r * factor, c.g * factor, c.b * factor};
}

// Shapes in normalised reference-picture coordinates: x from 0 (left) to 1 (right), y from 0
// (top) to 1 (bottom).

bool insideTriangle(double fx, double fy)
{
    constexpr double ax = 0.42, ay = 0.22, bx = 0.74, by = 0.30, cx = 0.50, cy = 0.50;
    const auto side = [fx, fy](double x0, double y0, double x1, double y1) {
        return (x1 - x0) * (fy - y0) - (y1 - y0) * (fx - x0);
    };
    return side(ax, ay, bx, by) >= 0 && side(bx, by, cx, cy) >= 0 && side(cx, cy, ax, ay) >= 0;
}

bool insideDisc(double fx, double fy)
{
    constexpr double cx = 0.60, cy = 0.56, radius = 0.20;
    return (fx - cx) * (fx - cx) + (fy - cy) * (fy - cy) < radius * radius;
}

bool insideRectangle(double fx, double fy)
{
    return fx >= 0.10 && fx < 0.60 && fy >= 0.15 && fy < 0.65;
}

Layer frontLayer(const double fx[LayerCount], const double fy[LayerCount])
{
    if (insideTriangle(fx[Triangle], fy[Triangle]))
        return Triangle;
    if (insideDisc(fx[Disc], fy[Disc]))
        return Disc;
    if (insideRectangle(fx[Rectangle], fy[Rectangle]))
        return Rectangle;
    return Background;
}

// Every texture is a smooth function of a few terms that each depend on x or on y alone. The
// terms are tabulated once per view along the sample columns and rows, which keeps the 16
// samples per pixel cheap. Frequencies are in cycles per picture width or height; at 12 cycles
// or less the shortest period is over 20 pixels of a 256-pixel view, so bilinear resampling
// reproduces the textures closely and only layer outlines are hard edges.
constexpr int termCount = 4;
using Terms = std::array<double, termCount>;

double wave(double cycles, double f)
{
    return std::sin(twoPi * cycles * f);
}

double cosWave(double cycles, double f)
{
    return std::cos(twoPi * cycles * f);
}

Terms xTerms(Layer layer, double fx)
{
    switch (layer) {
    case Triangle:
        return {cosWave(5, fx), wave(5, fx), wave(3, fx), 0};
    case Disc:
        return {wave(8, fx), cosWave(4, fx), 0, 0};
    case Rectangle:
        return {wave(7, fx), cosWave(7, fx), std::exp(0.6 * wave(0.8, fx)), 0};
    default:
        // The illumination of the HDR background, split into factors: 10^((cos πy − cos πx) / 2)
        // runs from 0.1 in the lower left corner to 10 in the upper right one.
        return {wave(5, fx), wave(9, fx), cosWave(9, fx), std::pow(10.0, -0.5 * std::cos(pi * fx))};
    }
}

Terms yTerms(Layer layer, double fy)
{
    switch (layer) {
    case Triangle:
        return {cosWave(7, fy), wave(7, fy), cosWave(2, fy), 0};
    case Disc:
        return {cosWave(6, fy), wave(4, fy), 0, 0};
    case Rectangle:
        return {cosWave(4, fy), wave(4, fy), wave(3, fy), std::exp(0.6 * cosWave(0.6, fy))};
    default:
        return {wave(5, fy), cosWave(4, fy), wave(4, fy), std::pow(10.0, 0.5 * std::cos(pi * fy))};
    }
}

// 8-bit scenes get display colours within [0.05, 0.95], a distinct hue per layer. RGBE scenes
// get linear radiance: a background from deep shadow (about 0.05) to light (about 9), lit
// surfaces of about 0.4 to 11 and an emitting disc of about 2000, a luminance range of over
// 10^4 in every view.
Rgb shade(Layer layer, const Terms &x, const Terms &y, bool hdr)
{
    switch (layer) {
    case Triangle: {
        // Stripes along cos 2π(5x − 7y), gently modulated.
        const double t = 0.5 + 0.35 * (x[0] * y[0] + x[1] * y[1]) + 0.15 * x[2] * y[2];
        const Rgb colour = mix({0.42, 0.10, 0.55}, {0.93, 0.58, 0.90}, t);
        return hdr ? scaled(colour, 14.0) : colour;
    }
    case Disc: {
        // A soft checker.
        const double t = 0.5 + 0.35 * x[0] * y[0] + 0.15 * x[1] * y[1];
        if (hdr)
            return scaled({1.0, 0.78, 0.5}, 2600.0 * (0.7 + 0.3 * t));
        return mix({0.62, 0.16, 0.06}, {0.95, 0.64, 0.22}, t);
    }
    case Rectangle: {
        // Stripes along sin 2π(7x + 4y) over a slow vertical wave.
        const double t = 0.5 + 0.35 * (x[0] * y[0] + x[1] * y[1]) + 0.15 * y[2];
        const Rgb colour = mix({0.08, 0.35, 0.12}, {0.55, 0.88, 0.40}, t);
        return hdr ? scaled(colour, 5.0 * x[2] * y[3]) : colour;
    }
    default: {
        // A soft checker with finer stripes along sin 2π(9x − 4y).
        const double t = 0.5 + 0.35 * x[0] * y[0] + 0.15 * (x[1] * y[1] - x[2] * y[2]);
        if (hdr)
            return scaled(mix({0.35, 0.42, 0.60}, {0.80, 0.86, 0.95}, t), x[3] * y[3]);
        return mix({0.12, 0.18, 0.35}, {0.60, 0.72, 0.92}, t);
    }
    }
}

// Where each layer is looked up from one camera: a picture position s shows the point
// s + D · (camera − reference camera) of a layer with disparity D.
struct LayerOffsets
{
    double x[LayerCount];
    double y[LayerCount];
};

LayerOffsets offsetsFor(const SceneOptions &options, double cameraX, double cameraY)
{
    const double dx = cameraX - (options.columns - 1) / 2.0;
    const double dy = cameraY - (options.rows - 1) / 2.0;
    const double scale = double(options.maxDisparity) / baseDisparityBound;
    LayerOffsets offsets;
    for (int layer = 0; layer < LayerCount; ++layer) {
        offsets.x[layer] = baseLayerDisparity[layer] * scale * dx;
        offsets.y[layer] = baseLayerDisparity[layer] * scale * dy;
    }
    return offsets;
}

// One axis of one view: per layer, the normalised coordinate and the texture terms at every
// sample position along the axis.
struct AxisTable
{
    std::vector<double> coordinate[LayerCount];
    std::vector<Terms> terms[LayerCount];
};

// The samples lie at picture positions position(i), i from 0 to samples - 1, along an axis of
// the given number of pixels.
template<typename Position>
AxisTable sampleAxis(int samples, int pixels, const double offset[LayerCount], bool horizontal,
                     const Position &position)
{
    AxisTable table;
    for (int layer = 0; layer < LayerCount; ++layer) {
        table.coordinate[layer].resize(samples);
        table.terms[layer].resize(samples);
        for (int i = 0; i < samples; ++i) {
            const double f = (position(i) + offset[layer]) / pixels;
            table.coordinate[layer][i] = f;
            table.terms[layer][i] = horizontal ? xTerms(Layer(layer), f) : yTerms(Layer(layer), f);
        }
    }
    return table;
}

// A refocused picture integrates over the aperture disc and over every pixel's area, and both
// are sampled together. Camera position k of N lies on a Fermat spiral, at radius R·√((k + ½)/N)
// and k times the golden angle, which covers the disc evenly without the rows or rings a blur
// would show as copies; it looks at the (k mod 16)-th point of the pixel's 4 × 4 grid, the grid
// renderView averages. So every 16 consecutive positions, a thin ring of the disc, see the whole
// grid once, and a surface at the focus disparity gets exactly renderView's 16 points per pixel:
// it stays as sharp as in the pinhole view.
//
// A point at disparity d lands on N points spread over its blur disc of radius r = |d − f|·R
// pixels, about r·√(π/N) apart. N = π (r / refocusSpacing)² for the layer farthest from the
// focus, rounded up to a multiple of 16, puts them at most half a pixel apart, and each is also
// moved within the pixel, so no copies show. The textures vary over 20 pixels or more, and their
// error is negligible; where an outline is blurred, a pixel holds the share of the N points on
// one side of it, which differs from the disc's share only through the points whose cells the
// outline cuts, about 2R/h of them at spacing h = R·√(π/N). That bounds the error by 2/√(πN) of
// the edge's contrast, for every layer alike, were all of them wrong the same way (3 % at the
// 1264 points of a blur of 10 pixels); they mostly cancel: against 64 times as many points, the
// largest error is 2 steps of 255 and the rms 0.1 to 0.2 (both scenes at 128 × 128, blurs of 10
// and 12.5 pixels).
constexpr double refocusSpacing = 0.5;
constexpr double goldenAngle = pi * 0.7639320225002103; // π (3 − √5)

// Runs work(firstRow, endRow) over the rows in a few threads; every row is independent.
template<typename Work> void forRowBands(int rows, const Work &work)
{
    const int threads =
        std::clamp(int(std::thread::hardware_concurrency()), 1, std::max(1, rows / 16));
    if (threads == 1) {
        work(0, rows);
        return;
    }
    std::vector<std::thread> pool;
    const int band = (rows + threads - 1) / threads;
    for (int first = 0; first < rows; first += band)
        pool.emplace_back(
            [&work, first, band, rows] { work(first, std::min(rows, first + band)); });
    for (std::thread &thread : pool)
        thread.join();
}

} // namespace

SyntheticScene::SyntheticScene(const SceneOptions &options)
    : m_options(options)
{
    const auto require = [](int value, const char *name) {
        if (value < 1)
            throw std::invalid_argument(std::string("synthetic scene: ") + name
                                        + " must be at least 1, not " + std::to_string(value));
    };
    require(options.columns, "columns");
    require(options.rows, "rows");
    require(options.width, "width");
    require(options.height, "height");
    require(options.viewSpacing, "view spacing");
    const int bound = options.maxDisparity;
    if (bound != 3 && bound != 6 && bound != 12 && bound != 24 && bound != 48)
        throw std::invalid_argument("synthetic scene: the disparity bound must be 3, 6, 12, 24 or "
                                    "48, not "
                                    + std::to_string(bound));
}

double SyntheticScene::layerDisparity(int layer) const
{
    return baseLayerDisparity[layer] * m_options.maxDisparity / baseDisparityBound;
}

FloatImage SyntheticScene::renderView(double x, double y) const
{
    if (m_options.scene == SceneKind::Clutter)
        return renderClutteredView(m_options, x, y);
    const int width = m_options.width;
    const int height = m_options.height;
    const bool hdr = m_options.hdr;
    const LayerOffsets offsets = offsetsFor(m_options, x, y);
    const auto subpixel = [](int i) {
        return (i + 0.5) / samplesPerAxis;
    };
    const AxisTable columns = sampleAxis(width * samplesPerAxis, width, offsets.x, true, subpixel);
    const AxisTable rows = sampleAxis(height * samplesPerAxis, height, offsets.y, false, subpixel);

    FloatImage image;
    image.width = width;
    image.height = height;
    image.rgb.resize(std::size_t(width) * height * 3);

    forRowBands(height, [&](int firstRow, int endRow) {
        std::vector<Rgb> sum(width);
        for (int row = firstRow; row < endRow; ++row) {
            std::fill(sum.begin(), sum.end(), Rgb {0, 0, 0});
            for (int sy = row * samplesPerAxis; sy < (row + 1) * samplesPerAxis; ++sy) {
                double fy[LayerCount];
                for (int layer = 0; layer < LayerCount; ++layer)
                    fy[layer] = rows.coordinate[layer][sy];
                for (int sx = 0; sx < width * samplesPerAxis; ++sx) {
                    double fx[LayerCount];
                    for (int layer = 0; layer < LayerCount; ++layer)
                        fx[layer] = columns.coordinate[layer][sx];
                    const Layer layer = frontLayer(fx, fy);
                    const Rgb colour =
                        shade(layer, columns.terms[layer][sx], rows.terms[layer][sy], hdr);
                    Rgb &pixel = sum[sx / samplesPerAxis];
                    pixel.r += colour.r;
                    pixel.g += colour.g;
                    pixel.b += colour.b;
                }
            }
            constexpr double weight = 1.0 / (samplesPerAxis * samplesPerAxis);
            float *out = image.rgb.data() + std::size_t(row) * width * 3;
            for (int column = 0; column < width; ++column) {
                out[3 * column] = float(sum[column].r * weight);
                out[3 * column + 1] = float(sum[column].g * weight);
                out[3 * column + 2] = float(sum[column].b * weight);
            }
        }
    });
    return image;
}

std::vector<float> SyntheticScene::disparityMap(double x, double y) const
{
    if (m_options.scene == SceneKind::Clutter)
        return clutteredDisparityMap(m_options, x, y);
    const int width = m_options.width;
    const int height = m_options.height;
    const LayerOffsets offsets = offsetsFor(m_options, x, y);
    std::vector<float> disparity(std::size_t(width) * height);
    for (int row = 0; row < height; ++row) {
        double fy[LayerCount];
        for (int layer = 0; layer < LayerCount; ++layer)
            fy[layer] = (row + 0.5 + offsets.y[layer]) / height;
        for (int column = 0; column < width; ++column) {
            double fx[LayerCount];
            for (int layer = 0; layer < LayerCount; ++layer)
                fx[layer] = (column + 0.5 + offsets.x[layer]) / width;
            disparity[std::size_t(row) * width + column] =
                float(layerDisparity(frontLayer(fx, fy)));
        }
    }
    return disparity;
}

std::pair<double, double> SyntheticScene::disparityRange() const
{
    if (m_options.scene == SceneKind::Clutter)
        return clutteredDisparityRange(m_options);
    return {layerDisparity(Background), layerDisparity(Triangle)};
}

void SyntheticScene::addPointSamples(double x, double y, double u, double v, int firstRow,
                                     int endRow, double *sums) const
{
    if (m_options.scene == SceneKind::Clutter) {
        addClutteredPointSamples(m_options, x, y, u, v, firstRow, endRow, sums);
        return;
    }
    const int width = m_options.width;
    const LayerOffsets offsets = offsetsFor(m_options, x, y);
    const AxisTable columns =
        sampleAxis(width, width, offsets.x, true, [u](int i) { return i + u; });
    const AxisTable rows = sampleAxis(endRow - firstRow, m_options.height, offsets.y, false,
                                      [v, firstRow](int i) { return firstRow + i + v; });
    for (int i = 0; i < endRow - firstRow; ++i) {
        double fy[LayerCount];
        for (int layer = 0; layer < LayerCount; ++layer)
            fy[layer] = rows.coordinate[layer][i];
        for (int column = 0; column < width; ++column, sums += 3) {
            double fx[LayerCount];
            for (int layer = 0; layer < LayerCount; ++layer)
                fx[layer] = columns.coordinate[layer][column];
            const Layer layer = frontLayer(fx, fy);
            const Rgb colour =
                shade(layer, columns.terms[layer][column], rows.terms[layer][i], m_options.hdr);
            sums[0] += colour.r;
            sums[1] += colour.g;
            sums[2] += colour.b;
        }
    }
}

double SyntheticScene::refocusBlur(double focus, double aperture) const
{
    const auto [nearest, farthest] = disparityRange();
    return aperture * std::max(std::abs(farthest - focus), std::abs(focus - nearest));
}

FloatImage SyntheticScene::renderRefocused(double x, double y, double focus, double aperture) const
{
    const int count = refocusSampleCount(focus, aperture);
    if (aperture == 0)
        return renderView(x, y);
    const int width = m_options.width;
    const int height = m_options.height;
    FloatImage image {width, height, std::vector<float>(std::size_t(width) * height * 3)};
    forRowBands(height, [&](int firstRow, int endRow) {
        std::vector<double> sums(std::size_t(endRow - firstRow) * width * 3);
        for (int k = 0; k < count; ++k) {
            const double radius = aperture * std::sqrt((k + 0.5) / count);
            const double angle = k * goldenAngle;
            const double px = radius * std::cos(angle);
            const double py = radius * std::sin(angle);
            const int cell = k % (samplesPerAxis * samplesPerAxis);
            const double jx = (cell % samplesPerAxis + 0.5) / samplesPerAxis;
            const double jy = (cell / samplesPerAxis + 0.5) / samplesPerAxis;
            addPointSamples(x + px, y + py, jx - focus * px, jy - focus * py, firstRow, endRow,
                            sums.data());
        }
        float *out = image.rgb.data() + std::size_t(firstRow) * width * 3;
        for (std::size_t i = 0; i < sums.size(); ++i)
            out[i] = float(sums[i] / count);
    });
    return image;
}

int SyntheticScene::refocusSampleCount(double focus, double aperture) const
{
    if (!std::isfinite(focus))
        throw std::invalid_argument("refocused view: the focus must be a finite disparity");
    if (!(aperture >= 0) || !std::isfinite(aperture))
        throw std::invalid_argument("refocused view: the aperture must be a finite radius of at "
                                    "least 0");
    const double blur = refocusBlur(focus, aperture);
    if (blur > maxRefocusBlur)
        throw std::invalid_argument("refocused view: the aperture would blur the scene over up to "
                                    + std::to_string(blur) + " pixels, more than "
                                    + std::to_string(maxRefocusBlur));
    if (aperture == 0)
        return 1;
    const int cells = samplesPerAxis * samplesPerAxis;
    const double wanted = pi * (blur / refocusSpacing) * (blur / refocusSpacing);
    return cells * std::max(1, int(std::ceil(wanted / cells)));
}

} // namespace synth
