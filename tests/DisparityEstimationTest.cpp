// The disparity estimator on small light fields drawn here, whose disparity is known exactly:
// planes fronto-parallel and slanted, textures smooth, fine and striped, with and without noise,
// an occluding square and a pole one pixel wide.

#include "tools/lf2d/DisparityEstimation.h"
#include "tools/lf2d/BoxFilter.h"
#include "tools/lf2d/NoiseLevel.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <stdexcept>
#include <vector>

using estimation::DisparityRange;
using estimation::EstimateOptions;
using estimation::Intensity;

namespace {

using Texture = std::function<double(double x, double y)>;

// A lattice of random values, interpolated: detail at every scale down to a few pixels, like a
// photograph's.
Texture fineTexture()
{
    return [](double x, double y) {
        const auto lattice = [](int i, int j) {
            std::uint32_t h = std::uint32_t(i) * 73856093u ^ std::uint32_t(j) * 19349663u;
            h ^= h >> 13;
            h *= 0x5bd1e995u;
            h ^= h >> 15;
            return double(h & 0xffffu) / 65535.0;
        };
        const double u = x / 2.5, v = y / 2.5;
        const int i = int(std::floor(u)), j = int(std::floor(v));
        const double s = u - i, t = v - j;
        return 0.2
            + 0.6
            * ((1 - s) * (1 - t) * lattice(i, j) + s * (1 - t) * lattice(i + 1, j)
               + (1 - s) * t * lattice(i, j + 1) + s * t * lattice(i + 1, j + 1));
    };
}

Texture smoothTexture()
{
    return [](double x, double y) {
        return 0.5 + 0.2 * std::sin(x / 2.1) * std::cos(y / 2.7) + 0.15 * std::sin((x + y) / 1.3);
    };
}

// Varies across the picture only: the views above and below see no difference at any
// disparity, and must not confuse those beside.
Texture verticalStripes()
{
    return [](double x, double) {
        return 0.5 + 0.3 * std::sin(x / 1.7) + 0.1 * std::sin(x / 0.9);
    };
}

// Disparity affine in the centre view's picture: d = at + perX · x + perY · y.
struct Plane
{
    double at = 0.0;
    double perX = 0.0;
    double perY = 0.0;
};

// A rectangle in front, at one disparity, in the centre view's picture coordinates, its texture
// darkened by shade.
struct Front
{
    double left = 0, top = 0, right = 0, bottom = 0;
    double disparity = 0;
    double shade = 1.0;
};

struct Scene
{
    int columns = 5;
    int rows = 5;
    int width = 64;
    int height = 64;
    Plane background;
    Texture texture = fineTexture();
    std::vector<Front> fronts;
    double noise = 0.0; // standard deviation, in 8-bit levels

    // The point of the centre view's picture that view (dc, dr) steps from it shows at (u, v),
    // and its disparity, front-most first.
    double trace(double u, double v, int dc, int dr, double &x, double &y,
                 double *shade = nullptr) const
    {
        double best = -1e9;
        for (const Front &front : fronts) {
            const double fx = u + front.disparity * dc, fy = v + front.disparity * dr;
            if (front.disparity > best && fx >= front.left && fx < front.right && fy >= front.top
                && fy < front.bottom) {
                best = front.disparity;
                x = fx;
                y = fy;
                if (shade)
                    *shade = front.shade;
            }
        }
        if (best > -1e9)
            return best;
        // x − d · dc = u and y − d · dr = v, with d affine in (x, y).
        const Plane &p = background;
        const double a11 = 1 - p.perX * dc, a12 = -p.perY * dc, b1 = u + p.at * dc;
        const double a21 = -p.perX * dr, a22 = 1 - p.perY * dr, b2 = v + p.at * dr;
        const double determinant = a11 * a22 - a12 * a21;
        x = (b1 * a22 - a12 * b2) / determinant;
        y = (a11 * b2 - a21 * b1) / determinant;
        return p.at + p.perX * x + p.perY * y;
    }

    // Grey RGB, each pixel the mean of 3 × 3 samples over its area, rounded to 8 bits.
    std::vector<float> render(int column, int row, std::mt19937 &random) const
    {
        const int dc = column - columns / 2, dr = row - rows / 2;
        std::normal_distribution<double> gauss(0.0, noise / 255.0);
        std::vector<float> rgb(std::size_t(width) * height * 3);
        for (int v = 0; v < height; ++v) {
            for (int u = 0; u < width; ++u) {
                double sum = 0.0;
                for (int k = 0; k < 9; ++k) {
                    double x = 0, y = 0, shade = 1.0;
                    trace(u + (k % 3 + 0.5) / 3.0, v + (k / 3 + 0.5) / 3.0, dc, dr, x, y, &shade);
                    sum += shade * texture(x, y);
                }
                double value = sum / 9.0 + (noise > 0 ? gauss(random) : 0.0);
                value = std::round(std::clamp(value, 0.0, 1.0) * 255.0) / 255.0;
                for (int c = 0; c < 3; ++c)
                    rgb[(std::size_t(v) * width + u) * 3 + c] = float(value);
            }
        }
        return rgb;
    }

    std::vector<Intensity> intensities() const
    {
        std::mt19937 random(7);
        std::vector<std::vector<float>> colours;
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < columns; ++column)
                colours.push_back(render(column, row, random));
        }
        std::vector<const std::vector<float> *> pointers;
        for (const std::vector<float> &rgb : colours)
            pointers.push_back(&rgb);
        return estimation::intensitiesOf(pointers, width, height, false);
    }

    // The disparity at every pixel centre of view (column, row).
    std::vector<float> exact(int column, int row) const
    {
        std::vector<float> map(std::size_t(width) * height);
        for (int v = 0; v < height; ++v) {
            for (int u = 0; u < width; ++u) {
                double x = 0, y = 0;
                map[std::size_t(v) * width + u] =
                    float(trace(u + 0.5, v + 0.5, column - columns / 2, row - rows / 2, x, y));
            }
        }
        return map;
    }
};

struct Errors
{
    double mean = 0.0; // absolute
    double signedMean = 0.0;
    double beyond = 0.0; // share of pixels off by more than the threshold
};

// Inside a margin, where every view sees the centre view's picture.
Errors compare(const std::vector<float> &found, const std::vector<float> &exact, int width,
               int height, int margin, double threshold)
{
    Errors errors;
    int pixels = 0;
    for (int y = margin; y < height - margin; ++y) {
        for (int x = margin; x < width - margin; ++x) {
            const std::size_t p = std::size_t(y) * width + x;
            const double error = double(found[p]) - exact[p];
            errors.mean += std::abs(error);
            errors.signedMean += error;
            errors.beyond += std::abs(error) > threshold;
            ++pixels;
        }
    }
    errors.mean /= pixels;
    errors.signedMean /= pixels;
    errors.beyond /= pixels;
    return errors;
}

EstimateOptions searching(float lowest, float highest)
{
    EstimateOptions options;
    options.lowest = lowest;
    options.highest = highest;
    return options;
}

} // namespace

class DisparityEstimationTest : public QObject
{
    Q_OBJECT

private slots:
    // Surfaces of every kind of texture, slanted or not, clean or noisy, come back to within a
    // small fraction of a pixel at nearly every pixel, in the centre view and in every other.
    void planesAreEstimated_data()
    {
        QTest::addColumn<int>("texture"); // 0 fine, 1 smooth, 2 vertical stripes
        QTest::addColumn<double>("at");
        QTest::addColumn<double>("perX");
        QTest::addColumn<double>("perY");
        QTest::addColumn<double>("noise");
        QTest::addColumn<double>("meanBound");
        QTest::addColumn<double>("badShareBound"); // off by more than 0.07 px
        QTest::newRow("fine, fronto-parallel") << 0 << 1.25 << 0.0 << 0.0 << 0.0 << 0.02 << 0.02;
        QTest::newRow("fine, slanted") << 0 << 0.5 << 0.02 << -0.015 << 0.0 << 0.03 << 0.05;
        QTest::newRow("smooth, slanted") << 1 << -0.75 << -0.01 << 0.02 << 0.0 << 0.03 << 0.05;
        QTest::newRow("stripes, negative") << 2 << -1.5 << 0.0 << 0.0 << 0.0 << 0.03 << 0.05;
        QTest::newRow("fine, noisy") << 0 << 1.25 << 0.01 << 0.0 << 2.0 << 0.04 << 0.15;
        QTest::newRow("smooth, noisy") << 1 << 0.75 << 0.0 << 0.01 << 2.0 << 0.06 << 0.35;
    }
    void planesAreEstimated()
    {
        QFETCH(int, texture);
        QFETCH(double, at);
        QFETCH(double, perX);
        QFETCH(double, perY);
        QFETCH(double, noise);
        QFETCH(double, meanBound);
        QFETCH(double, badShareBound);
        Scene scene;
        scene.texture = texture == 0 ? fineTexture()
            : texture == 1           ? smoothTexture()
                                     : verticalStripes();
        // Centred on the picture's middle, so that `at` is the disparity there.
        scene.background = {at - perX * 32 - perY * 32, perX, perY};
        scene.noise = noise;
        const std::vector<Intensity> views = scene.intensities();
        const std::vector<std::vector<float>> maps =
            estimation::estimateDisparities(views, 5, 5, searching(-3, 3));
        const Errors centre = compare(maps[12], scene.exact(2, 2), 64, 64, 8, 0.07);
        qInfo("centre view: mean error %.4f px, %.2f %% off by more than 0.07 px", centre.mean,
              100 * centre.beyond);
        QVERIFY2(centre.mean < meanBound, qPrintable(QString::number(centre.mean)));
        QVERIFY2(centre.beyond < badShareBound, qPrintable(QString::number(centre.beyond)));
        for (int index : {0, 4, 7, 20, 24}) {
            const Errors view = compare(maps[std::size_t(index)], scene.exact(index % 5, index / 5),
                                        64, 64, 8, 0.5);
            QVERIFY2(view.mean < 2 * meanBound && view.beyond < 0.01,
                     qPrintable(QString("view %1: %2 px, %3 coarse")
                                    .arg(index)
                                    .arg(view.mean)
                                    .arg(view.beyond)));
        }
    }

    // A point at x is at x − d one view to the right and at y − d one view below: positive
    // disparities for nearer points, negative ones behind the focus, on grids of a single row or
    // column as well.
    void signFollowsTheViewerConvention_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("rows");
        QTest::addColumn<double>("disparity");
        QTest::newRow("grid, near") << 5 << 5 << 2.0;
        QTest::newRow("grid, far") << 5 << 5 << -2.0;
        QTest::newRow("row, near") << 5 << 1 << 1.5;
        QTest::newRow("column, far") << 1 << 5 << -1.5;
    }
    void signFollowsTheViewerConvention()
    {
        QFETCH(int, columns);
        QFETCH(int, rows);
        QFETCH(double, disparity);
        Scene scene;
        scene.columns = columns;
        scene.rows = rows;
        scene.background = {disparity, 0, 0};
        const std::vector<Intensity> views = scene.intensities();
        const std::vector<float> map = estimation::estimateDisparity(
            views, columns, rows, columns / 2, rows / 2, searching(-4, 4));
        const Errors errors = compare(map, scene.exact(columns / 2, rows / 2), 64, 64, 8, 0.1);
        QVERIFY2(std::abs(errors.signedMean) < 0.02 && errors.beyond < 0.05,
                 qPrintable(QString("%1 off on average, %2 by more than 0.1 px")
                                .arg(errors.signedMean)
                                .arg(errors.beyond)));
    }

    // A square in front: its outline stays where it is (the few pixels along it that are off by
    // more than half a pixel lie within a pixel of it), and the background it hides from some
    // views keeps the background's disparity.
    void occludingEdgesStayInPlace()
    {
        Scene scene;
        scene.background = {0.5, 0, 0};
        scene.fronts = {{20, 18, 44, 46, 3.0}};
        const std::vector<Intensity> views = scene.intensities();
        const std::vector<float> map =
            estimation::estimateDisparity(views, 5, 5, 2, 2, searching(-1, 4));
        const std::vector<float> exact = scene.exact(2, 2);
        int wrongAwayFromOutline = 0, wrongAlongOutline = 0, outline = 0;
        for (int y = 8; y < 56; ++y) {
            for (int x = 8; x < 56; ++x) {
                const std::size_t p = std::size_t(y) * 64 + x;
                bool nearOutline = false;
                for (int q = -1; q <= 1; ++q) {
                    nearOutline = nearOutline || exact[p + q] != exact[p]
                        || exact[p + std::size_t(q * 64)] != exact[p];
                }
                const bool wrong = std::abs(map[p] - exact[p]) > 0.5f;
                outline += nearOutline;
                wrongAlongOutline += nearOutline && wrong;
                wrongAwayFromOutline += !nearOutline && wrong;
            }
        }
        qInfo("%d of %d pixels along the outline off by more than 0.5 px, %d elsewhere",
              wrongAlongOutline, outline, wrongAwayFromOutline);
        QCOMPARE(wrongAwayFromOutline, 0);
        QVERIFY(wrongAlongOutline <= outline / 10);
    }

    // A dark pole one pixel wide, far in front: windows of matching costs give it to the
    // background beside it in places; it still comes back along nearly its whole length.
    void thinPoleIsFound()
    {
        Scene scene;
        scene.background = {1.0, 0, 0};
        scene.fronts = {{31, 10, 32, 54, 5.0, 0.4}};
        const std::vector<Intensity> views = scene.intensities();
        const std::vector<float> map =
            estimation::estimateDisparity(views, 5, 5, 2, 2, searching(0, 6));
        int found = 0;
        for (int y = 12; y < 52; ++y)
            found += std::abs(map[std::size_t(y) * 64 + 31] - 5.0f) < 0.5f;
        QVERIFY2(found >= 36, qPrintable(QString("%1 of 40 pixels").arg(found)));
    }

    // The coarse search covers every disparity of the scene, a thin pole's included, with a
    // margin of about a pixel, not the whole range it searched.
    void rangeSearchCoversTheScene_data()
    {
        QTest::addColumn<double>("background");
        QTest::addColumn<double>("perX");
        QTest::addColumn<double>("front");
        QTest::addColumn<bool>("pole");
        QTest::newRow("plane and square") << 0.5 << 0.0 << 3.0 << false;
        QTest::newRow("slanted, behind the focus") << -2.0 << 0.02 << -2.0 << false;
        QTest::newRow("thin pole in front") << 1.0 << 0.0 << 6.0 << true;
    }
    void rangeSearchCoversTheScene()
    {
        QFETCH(double, background);
        QFETCH(double, perX);
        QFETCH(double, front);
        QFETCH(bool, pole);
        Scene scene;
        scene.background = {background, perX, 0};
        if (pole)
            scene.fronts = {{31, 6, 32, 58, front, 0.4}};
        else if (front != background)
            scene.fronts = {{20, 18, 44, 46, front}};
        const double lowest = std::min({background, background + perX * 63, front});
        const double highest = std::max({background, background + perX * 63, front});
        const DisparityRange range = estimation::estimateDisparityRange(scene.intensities(), 5, 5);
        qInfo("scene %.2f to %.2f, found %.2f to %.2f", lowest, highest, range.lowest,
              range.highest);
        QVERIFY(range.lowest <= lowest && range.highest >= highest);
        QVERIFY(range.lowest >= lowest - 2.5 && range.highest <= highest + 2.5);
    }

    void rangeSearchRefusesWhatHasNoRange()
    {
        Scene scene;
        scene.columns = scene.rows = 1;
        QVERIFY_EXCEPTION_THROWN(estimation::estimateDisparityRange(scene.intensities(), 1, 1),
                                 std::invalid_argument);
        scene.columns = scene.rows = 3;
        std::vector<Intensity> views = scene.intensities();
        QVERIFY_EXCEPTION_THROWN(estimation::estimateDisparityRange(views, 3, 2),
                                 std::invalid_argument);
        views[4].width = 32;
        QVERIFY_EXCEPTION_THROWN(estimation::estimateDisparityRange(views, 3, 3),
                                 std::invalid_argument);
    }

    // The estimate never leaves the range it was given, even where the scene does; every view's
    // map is the same whether the views are spread over threads or estimated one by one.
    void mapsStayInTheRangeAndDoNotDependOnThreads()
    {
        Scene scene;
        scene.columns = scene.rows = 3;
        scene.background = {0.0, 0.04, 0};
        const std::vector<Intensity> views = scene.intensities();
        const EstimateOptions options = searching(-0.5, 1.0);
        const std::vector<std::vector<float>> maps =
            estimation::estimateDisparities(views, 3, 3, options);
        for (int index = 0; index < 9; ++index) {
            const std::vector<float> &map = maps[std::size_t(index)];
            // The scene reaches 2.5; its left side lies within the range.
            QVERIFY(*std::min_element(map.begin(), map.end()) >= -0.5f);
            QCOMPARE(*std::max_element(map.begin(), map.end()), 1.0f);
            QVERIFY(map
                    == estimation::estimateDisparity(views, 3, 3, index % 3, index / 3, options));
        }
        QVERIFY_EXCEPTION_THROWN(estimation::estimateDisparities(views, 3, 2, options),
                                 std::invalid_argument);
        QVERIFY_EXCEPTION_THROWN(estimation::estimateDisparities(views, 3, 3, searching(1, 0)),
                                 std::invalid_argument);
    }

    // Window means, clipped at the picture's edges, as a plain double loop takes them, for the
    // unrolled radii and the others, and for pictures narrower than a window.
    void boxMeansMatchPlainSums()
    {
        std::mt19937 random(3);
        std::uniform_real_distribution<float> value(0.0f, 1.0f);
        for (const auto &[width, height] : {std::pair {1, 1}, {3, 7}, {20, 13}, {9, 2}}) {
            for (int radius = 1; radius <= 6; ++radius) {
                std::vector<float> values(std::size_t(width) * height);
                for (float &v : values)
                    v = value(random);
                std::vector<float> means = values;
                estimation::boxMean(means, width, height, radius);
                for (int y = 0; y < height; ++y) {
                    for (int x = 0; x < width; ++x) {
                        double sum = 0.0;
                        int count = 0;
                        for (int qy = std::max(0, y - radius);
                             qy <= std::min(height - 1, y + radius); ++qy) {
                            for (int qx = std::max(0, x - radius);
                                 qx <= std::min(width - 1, x + radius); ++qx) {
                                sum += values[std::size_t(qy) * width + qx];
                                ++count;
                            }
                        }
                        QVERIFY(std::abs(means[std::size_t(y) * width + x] - sum / count) < 1e-5);
                    }
                }
            }
        }
    }

    // White noise added to a smooth picture is measured to within a tenth; the smooth picture
    // alone measures as nearly noiseless. The tolerances widen with the noise, and not below
    // those of clean views.
    void noiseIsMeasured()
    {
        Intensity clean {96, 80, std::vector<float>(96 * 80)};
        for (int y = 0; y < 80; ++y) {
            for (int x = 0; x < 96; ++x)
                clean.values[std::size_t(y) * 96 + x] =
                    float(0.5 + 0.3 * std::sin(x / 5.0) * std::cos(y / 7.0));
        }
        QVERIFY2(estimation::noiseOf(clean) < 0.002f,
                 qPrintable(QString::number(estimation::noiseOf(clean))));
        std::mt19937 random(11);
        std::normal_distribution<float> gauss(0.0f, 0.02f);
        Intensity noisy = clean;
        for (float &v : noisy.values)
            v += gauss(random);
        QVERIFY2(std::abs(estimation::noiseOf(noisy) - 0.02f) < 0.002f,
                 qPrintable(QString::number(estimation::noiseOf(noisy))));
        const estimation::Tolerances quiet = estimation::tolerancesFor(0.0f);
        const estimation::Tolerances loud = estimation::tolerancesFor(0.04f);
        QCOMPARE(quiet.residualLimit, estimation::Tolerances().residualLimit);
        QVERIFY(loud.residualLimit > quiet.residualLimit);
        QVERIFY(loud.guidedRegularisation > quiet.guidedRegularisation);
    }
};

QTEST_GUILESS_MAIN(DisparityEstimationTest)
#include "DisparityEstimationTest.moc"
