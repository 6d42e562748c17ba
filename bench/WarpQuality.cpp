#include "WarpQuality.h"

#include "BenchPipeline.h"
#include "BenchSupport.h"
#include "Lf2dWriter.h"
#include "SyntheticScene.h"
#include "viewer/gpu/GpuPass.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

// A window of windowWidth × windowHeight that shows a view of viewWidth × viewHeight at one
// pixel per pixel, centred (an odd extra pixel on the right and at the top): its PSNR against
// the exact view where it shows the view.
double windowPsnr(const Bytes &window, int windowWidth, int windowHeight, const Bytes &exact,
                  int viewWidth, int viewHeight)
{
    const int left = int(std::floor((windowWidth - viewWidth) / 2.0));
    const int bottom = int(std::floor((windowHeight - viewHeight) / 2.0));
    Bytes shown, truth;
    for (int y = std::max(0, bottom); y < std::min(windowHeight, bottom + viewHeight); ++y) {
        for (int x = std::max(0, left); x < std::min(windowWidth, left + viewWidth); ++x) {
            const size_t w = (size_t(y) * windowWidth + x) * 4;
            const size_t v = (size_t(y - bottom) * viewWidth + (x - left)) * 4;
            shown.insert(shown.end(), window.begin() + w, window.begin() + w + 4);
            truth.insert(truth.end(), exact.begin() + v, exact.begin() + v + 4);
        }
    }
    return psnr(shown, truth);
}

int largestDifference(const Bytes &a, const Bytes &b)
{
    int largest = 0;
    for (size_t i = 0; i < a.size(); i += 4) {
        for (int channel = 0; channel < 3; ++channel)
            largest = std::max(largest, std::abs(int(a[i + channel]) - int(b[i + channel])));
    }
    return largest;
}

// The file's bytes of a view, bottom-up rows, as the GL holds them.
Bytes exactBytes(const synth::SyntheticScene &scene, double x, double y)
{
    return synth::toFileRgba8(scene.renderView(x, y));
}

// What a viewer without disparity would show between views: the four views blended.
Bytes bilinearBlend(const std::vector<std::vector<Bytes>> &stored, double x, double y)
{
    const int columns = int(stored.size());
    const int rows = int(stored[0].size());
    const int c0 = std::min(int(std::floor(x)), columns - 1);
    const int r0 = std::min(int(std::floor(y)), rows - 1);
    const int c1 = std::min(c0 + 1, columns - 1);
    const int r1 = std::min(r0 + 1, rows - 1);
    const double u = x - c0;
    const double v = y - r0;
    const Bytes &a = stored[c0][r0], &b = stored[c1][r0], &c = stored[c1][r1], &d = stored[c0][r1];
    Bytes blend(a.size());
    for (size_t i = 0; i < a.size(); ++i) {
        blend[i] = std::uint8_t(std::lround((1 - u) * (1 - v) * a[i] + u * (1 - v) * b[i]
                                            + u * v * c[i] + (1 - u) * v * d[i]));
    }
    return blend;
}

} // namespace

WarpQuality measureWarpQuality(const synth::SyntheticScene &scene, const QString &path,
                               int positionCount, bool printRows, int edgeSamples)
{
    const synth::SceneOptions &sceneOptions = scene.options();
    WarpQuality quality;
    std::unique_ptr<LightfieldReader> reader;
    auto plane = loadPlane(path, &reader, activeBuildConfiguration(), &quality.buildMilliseconds);
    SimpleCamera camera(PipelineOptions(), plane.get());
    camera.setEdgeSamples(edgeSamples);

    const int width = sceneOptions.width, height = sceneOptions.height;
    // Odd differences, the harder case for a crop at one pixel per pixel.
    quality.windows[0] = QSize(width - 2 * (width / 8) - 1, height - 2 * (height / 8) - 1);
    quality.windows[1] = QSize(width + 2 * (width / 8) + 1, height + 2 * (height / 8) + 1);
    std::vector<std::vector<Bytes>> stored(size_t(sceneOptions.columns),
                                           std::vector<Bytes>(size_t(sceneOptions.rows)));
    for (int column = 0; column < sceneOptions.columns; ++column) {
        for (int row = 0; row < sceneOptions.rows; ++row)
            stored[column][row] = exactBytes(scene, column, row);
    }
    auto synthesise = [&](double x, double y) {
        const QuadCorners corners = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
        auto view = camera.renderView(width, height, corners, float(x), float(y), true);
        return readTextureBytes(*view->getLayer(LdrRgb), width, height);
    };

    for (int column = 0; column < sceneOptions.columns; column += 2) {
        for (int row = 0; row < sceneOptions.rows; row += 2)
            quality.gridWorst = std::max(
                quality.gridWorst, largestDifference(synthesise(column, row), stored[column][row]));
    }

    auto halton = [](int index, int base) {
        double result = 0.0, fraction = 1.0;
        for (; index > 0; index /= base) {
            fraction /= base;
            result += fraction * (index % base);
        }
        return result;
    };
    const double spanX = sceneOptions.columns - 1, spanY = sceneOptions.rows - 1;
    if (printRows)
        std::printf("%-8s %-8s %10s %10s %10s\n", "x", "y", "warp dB", "nearest", "blend");
    int centres = 0;
    for (int index = 1; index <= positionCount; ++index) {
        const bool centre = index > positionCount - std::min(positionCount / 4, 8);
        double x = halton(index, 2) * spanX;
        double y = halton(index, 3) * spanY;
        if (centre) {
            x = std::floor(x) + 0.5;
            y = std::floor(y) + 0.5;
        }
        const Bytes exact = exactBytes(scene, x, y);
        for (int k = 0; k < 2; ++k) {
            const QSize window = quality.windows[k];
            const double figure = windowPsnr(
                readTextureBytes(
                    *camera.renderAt(float(x), float(y), window.width(), window.height())
                         ->getLayer(LdrRgb),
                    window.width(), window.height()),
                window.width(), window.height(), exact, width, height);
            quality.windowMean[k] += figure / positionCount;
            quality.windowLowest[k] = std::min(quality.windowLowest[k], figure);
        }
        const double figures[3] = {psnr(synthesise(x, y), exact),
                                   psnr(stored[int(std::lround(x))][int(std::lround(y))], exact),
                                   psnr(bilinearBlend(stored, x, y), exact)};
        for (int k = 0; k < 3; ++k) {
            quality.mean[k] += figures[k] / positionCount;
            quality.lowest[k] = std::min(quality.lowest[k], figures[k]);
        }
        if (centre) {
            quality.centreMean += figures[0];
            ++centres;
        }
        if (printRows)
            std::printf("%-8.3f %-8.3f %10.2f %10.2f %10.2f%s\n", x, y, figures[0], figures[1],
                        figures[2], centre ? "  (cell centre)" : "");
    }
    if (centres > 0)
        quality.centreMean /= centres;
    return quality;
}
