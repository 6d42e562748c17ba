#include "ClutteredScene.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace synth {
namespace {

constexpr double twoPi = 6.283185307179586;
// At the default bound of 24; everything scales with the bound.
constexpr double baseBound = 24.0;
constexpr int samplesPerAxis = 4;

enum class Shape
{
    Pole, // a vertical bar a whole number of pixels wide
    Wire, // a straight band two pixels wide
    Disc,
    Wall, // a rectangle turned away from the cameras: its disparity grows to the right
    Ground, // everywhere, behind the rest: its disparity grows towards the bottom
};

// Disparity over a layer, affine in the reference picture's pixels as it is for any plane:
// d = a + b · x + c · y, before scaling with the bound.
struct Slant
{
    double a = 0.0;
    double b = 0.0;
    double c = 0.0;
};

struct Rgb
{
    double r, g, b;
};

struct ClutterLayer
{
    Shape shape;
    // Pole: left edge (fraction of the width), width in pixels. Wire: from (p0, p1) to (p2, p3).
    // Disc: centre (p0, p1), radius p2 (fractions of the width). Wall: left, top, right, bottom.
    double p0, p1, p2, p3;
    Slant slant; // b and c per fraction of the picture; turned into per-pixel factors below
    Rgb dark, light;
    double cyclesX, cyclesY; // of the layer's texture, over the picture
};

// Front to back only roughly: which layer a ray sees is decided by disparity, so slanted layers
// may cut through others.
const ClutterLayer layers[] = {
    // Thin occluders: poles one, two and three pixels wide, and a wire.
    {Shape::Pole, 0.21, 1, 0, 0, {20.0, 0, 0}, {0.95, 0.92, 0.30}, {0.60, 0.50, 0.05}, 0, 9},
    {Shape::Pole, 0.52, 2, 0, 0, {18.5, 0, 0}, {0.20, 0.85, 0.95}, {0.05, 0.35, 0.55}, 0, 7},
    {Shape::Pole, 0.83, 3, 0, 0, {17.0, 0, 0}, {0.95, 0.35, 0.75}, {0.50, 0.08, 0.30}, 0, 11},
    {Shape::Wire,
     0.06,
     0.34,
     0.94,
     0.47,
     {15.0, 0, 0},
     {0.98, 0.98, 0.98},
     {0.55, 0.55, 0.55},
     13,
     0},
    // Many layers in depth.
    {Shape::Disc, 0.30, 0.28, 0.10, 0, {13.0, 0, 0}, {0.70, 0.15, 0.10}, {0.98, 0.62, 0.35}, 9, 8},
    {Shape::Disc, 0.68, 0.66, 0.12, 0, {11.0, 0, 0}, {0.15, 0.30, 0.70}, {0.55, 0.75, 0.98}, 7, 10},
    {Shape::Disc, 0.44, 0.74, 0.08, 0, {9.5, 0, 0}, {0.35, 0.55, 0.10}, {0.80, 0.95, 0.40}, 12, 6},
    {Shape::Disc, 0.15, 0.66, 0.09, 0, {7.75, 0, 0}, {0.50, 0.20, 0.55}, {0.90, 0.65, 0.95}, 6, 12},
    // A wall from disparity 5 at its left edge to 10 at its right edge.
    {Shape::Wall,
     0.55,
     0.10,
     0.95,
     0.48,
     {-1.875, 12.5, 0},
     {0.45, 0.30, 0.15},
     {0.92, 0.78, 0.55},
     10,
     10},
    // Ground from 1.5 at the top to 5.5 at the bottom, 1 more at the right.
    {Shape::Ground, 0, 0, 0, 0, {1.5, 1.0, 4.0}, {0.10, 0.16, 0.30}, {0.62, 0.70, 0.85}, 11, 9},
};
constexpr int layerCount = int(sizeof layers / sizeof layers[0]);

struct Hit
{
    int layer = -1;
    double disparity = 0.0;
    double x = 0.0; // the point seen, in reference pixels
    double y = 0.0;
};

class Geometry
{
public:
    Geometry(const SceneOptions &options, double cameraX, double cameraY)
        : m_width(options.width)
        , m_height(options.height)
        , m_scale(options.maxDisparity / baseBound)
        , m_dx(cameraX - (options.columns - 1) / 2.0)
        , m_dy(cameraY - (options.rows - 1) / 2.0)
    {
        // What trace needs of every layer for every ray, worked out once per camera; a refocused
        // picture traces thousands of rays per pixel.
        for (int index = 0; index < layerCount; ++index) {
            const ClutterLayer &layer = layers[index];
            Plane &plane = m_planes[index];
            plane.a = layer.slant.a * m_scale;
            plane.b = layer.slant.b * m_scale / m_width;
            plane.c = layer.slant.c * m_scale / m_height;
            plane.denominator = 1.0 - plane.b * m_dx - plane.c * m_dy;
            // Then d = a / 1 exactly.
            plane.flat = plane.b == 0 && plane.c == 0;
            plane.poleLeft = std::round(layer.p0 * m_width);
            plane.ax = layer.p0 * m_width;
            plane.ay = layer.p1 * m_height;
            plane.ux = layer.p2 * m_width - plane.ax;
            plane.uy = layer.p3 * m_height - plane.ay;
            plane.length2 = plane.ux * plane.ux + plane.uy * plane.uy;
        }
    }

    // The nearest layer seen at picture position (x, y) of this camera, in pixels. A point P of
    // a layer with disparity d(P) is seen at P − d(P) · Δ; for d affine in P that is one linear
    // equation in d.
    Hit trace(double x, double y) const
    {
        Hit best;
        best.disparity = -1e300;
        for (int index = 0; index < layerCount; ++index) {
            const Plane &plane = m_planes[index];
            const double d =
                plane.flat ? plane.a : (plane.a + plane.b * x + plane.c * y) / plane.denominator;
            if (d <= best.disparity)
                continue;
            const double px = x + d * m_dx;
            const double py = y + d * m_dy;
            if (inside(layers[index], plane, px, py))
                best = {index, d, px, py};
        }
        return best;
    }

    Rgb shade(const Hit &hit, bool hdr) const
    {
        const ClutterLayer &layer = layers[hit.layer];
        const double fx = hit.x / m_width;
        const double fy = hit.y / m_height;
        const double t = 0.5
            + 0.3 * std::sin(twoPi * layer.cyclesX * fx) * std::cos(twoPi * layer.cyclesY * fy)
            + 0.2 * std::sin(twoPi * (layer.cyclesX * fx + layer.cyclesY * fy) * 0.5);
        Rgb colour {layer.dark.r + (layer.light.r - layer.dark.r) * t,
                    layer.dark.g + (layer.light.g - layer.dark.g) * t,
                    layer.dark.b + (layer.light.b - layer.dark.b) * t};
        if (hdr) {
            // Light from 0.1 at the left to 10 at the right; the thin occluders shine.
            const double light =
                std::pow(10.0, 2.0 * fx - 1.0) * (layer.shape == Shape::Pole ? 40.0 : 1.0);
            colour = {colour.r * light, colour.g * light, colour.b * light};
        }
        return colour;
    }

private:
    // A layer's disparity d = a + b · x + c · y in this camera's terms (b and c per pixel) and
    // the denominator of trace's equation for it; a pole's left edge, and a wire's start, its
    // direction and that direction's squared length, in pixels.
    struct Plane
    {
        double a, b, c, denominator;
        bool flat;
        double poleLeft;
        double ax, ay, ux, uy, length2;
    };

    bool inside(const ClutterLayer &layer, const Plane &plane, double px, double py) const
    {
        switch (layer.shape) {
        case Shape::Pole:
            return px >= plane.poleLeft && px < plane.poleLeft + layer.p1 && py / m_height >= 0.04
                && py / m_height < 0.96;
        case Shape::Wire: {
            const double t = std::clamp(((px - plane.ax) * plane.ux + (py - plane.ay) * plane.uy)
                                            / plane.length2,
                                        0.0, 1.0);
            const double ex = px - (plane.ax + t * plane.ux), ey = py - (plane.ay + t * plane.uy);
            return ex * ex + ey * ey < 1.0;
        }
        case Shape::Disc: {
            const double ex = px / m_width - layer.p0;
            const double ey = (py - layer.p1 * m_height) / m_width;
            return ex * ex + ey * ey < layer.p2 * layer.p2;
        }
        case Shape::Wall: {
            const double fx = px / m_width;
            const double fy = py / m_height;
            return fx >= layer.p0 && fx < layer.p2 && fy >= layer.p1 && fy < layer.p3;
        }
        case Shape::Ground:
            return true;
        }
        return false;
    }

    double m_width;
    double m_height;
    double m_scale;
    double m_dx;
    double m_dy;
    Plane m_planes[layerCount];
};

} // namespace

FloatImage renderClutteredView(const SceneOptions &options, double x, double y)
{
    const Geometry geometry(options, x, y);
    const int width = options.width;
    const int height = options.height;
    FloatImage image {width, height, std::vector<float>(std::size_t(width) * height * 3)};
    const auto work = [&](int firstRow, int endRow) {
        for (int row = firstRow; row < endRow; ++row) {
            for (int column = 0; column < width; ++column) {
                Rgb sum {0, 0, 0};
                for (int sy = 0; sy < samplesPerAxis; ++sy) {
                    for (int sx = 0; sx < samplesPerAxis; ++sx) {
                        const Rgb colour =
                            geometry.shade(geometry.trace(column + (sx + 0.5) / samplesPerAxis,
                                                          row + (sy + 0.5) / samplesPerAxis),
                                           options.hdr);
                        sum = {sum.r + colour.r, sum.g + colour.g, sum.b + colour.b};
                    }
                }
                constexpr double weight = 1.0 / (samplesPerAxis * samplesPerAxis);
                float *out = image.rgb.data() + (std::size_t(row) * width + column) * 3;
                out[0] = float(sum.r * weight);
                out[1] = float(sum.g * weight);
                out[2] = float(sum.b * weight);
            }
        }
    };
    const int threads = std::clamp(int(std::thread::hardware_concurrency()), 1, 8);
    std::vector<std::thread> pool;
    const int band = (height + threads - 1) / threads;
    for (int first = band; first < height; first += band)
        pool.emplace_back(work, first, std::min(height, first + band));
    work(0, std::min(height, band));
    for (std::thread &thread : pool)
        thread.join();
    return image;
}

void addClutteredPointSamples(const SceneOptions &options, double x, double y, double u, double v,
                              int firstRow, int endRow, double *sums)
{
    const Geometry geometry(options, x, y);
    for (int row = firstRow; row < endRow; ++row) {
        for (int column = 0; column < options.width; ++column, sums += 3) {
            const Rgb colour = geometry.shade(geometry.trace(column + u, row + v), options.hdr);
            sums[0] += colour.r;
            sums[1] += colour.g;
            sums[2] += colour.b;
        }
    }
}

std::pair<double, double> clutteredDisparityRange(const SceneOptions &options)
{
    double lowest = INFINITY;
    double highest = -INFINITY;
    for (const ClutterLayer &layer : layers) {
        // Slants are affine, so a layer's extremes lie at corners of its extent; the ground
        // spans the picture, and only the wall and the ground are slanted.
        const bool ground = layer.shape == Shape::Ground;
        for (const double fx : {ground ? 0.0 : layer.p0, ground ? 1.0 : layer.p2}) {
            for (const double fy : {ground ? 0.0 : layer.p1, ground ? 1.0 : layer.p3}) {
                const double d = layer.slant.a + layer.slant.b * fx + layer.slant.c * fy;
                lowest = std::min(lowest, d);
                highest = std::max(highest, d);
            }
        }
    }
    const double scale = options.maxDisparity / baseBound;
    return {lowest * scale, highest * scale};
}

std::vector<float> clutteredDisparityMap(const SceneOptions &options, double x, double y)
{
    const Geometry geometry(options, x, y);
    std::vector<float> disparity(std::size_t(options.width) * options.height);
    for (int row = 0; row < options.height; ++row) {
        for (int column = 0; column < options.width; ++column)
            disparity[std::size_t(row) * options.width + column] =
                float(geometry.trace(column + 0.5, row + 0.5).disparity);
    }
    return disparity;
}

} // namespace synth
