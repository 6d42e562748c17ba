#include "tools/lf2d/SyntheticScene.h"
#include "lightfield/Rgbe.h"
#include "support/ToolRun.h"
#include "tools/lf2d/Lf2dWriter.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

using synth::FloatImage;
using synth::SceneOptions;
using synth::SyntheticScene;

namespace {

using Rgb = std::array<double, 3>;

Rgb pixelAt(const FloatImage &image, int x, int y)
{
    const float *p = image.rgb.data() + 3 * (std::size_t(y) * image.width + x);
    return {p[0], p[1], p[2]};
}

// Bilinear interpolation between pixel centres, which lie at (i + 0.5, j + 0.5).
Rgb bilinearAt(const FloatImage &image, double x, double y)
{
    const int x0 = int(std::floor(x - 0.5));
    const int y0 = int(std::floor(y - 0.5));
    const double ax = x - 0.5 - x0;
    const double ay = y - 0.5 - y0;
    const Rgb p00 = pixelAt(image, x0, y0), p10 = pixelAt(image, x0 + 1, y0);
    const Rgb p01 = pixelAt(image, x0, y0 + 1), p11 = pixelAt(image, x0 + 1, y0 + 1);
    Rgb result;
    for (int c = 0; c < 3; ++c) {
        result[c] =
            (1 - ay) * ((1 - ax) * p00[c] + ax * p10[c]) + ay * ((1 - ax) * p01[c] + ax * p11[c]);
    }
    return result;
}

double maxDifference(const Rgb &a, const Rgb &b)
{
    return std::max({std::abs(a[0] - b[0]), std::abs(a[1] - b[1]), std::abs(a[2] - b[2])});
}

// Channels round to half a mantissa step of the shared exponent, and the largest channel rounds to
// a mantissa of at least 128, so it spans at least 127.5 steps.
double rgbeTolerance(const Rgb &value)
{
    return std::max({value[0], value[1], value[2]}) / 255 * 1.0001;
}

// True when every pixel within radius of (x, y) lies inside the picture and has disparity d, or
// one within the tolerance of d.
bool uniformAround(const std::vector<float> &disparity, int width, int height, int x, int y,
                   int radius, float d, float tolerance = 0)
{
    if (x - radius < 0 || y - radius < 0 || x + radius >= width || y + radius >= height)
        return false;
    for (int j = y - radius; j <= y + radius; ++j) {
        for (int i = x - radius; i <= x + radius; ++i) {
            if (std::abs(disparity[std::size_t(j) * width + i] - d) > tolerance)
                return false;
        }
    }
    return true;
}

struct ParsedFile
{
    QByteArray bytes;
    int header[9] = {};
    std::size_t dataOffset = 0;
};

// Reads the header the way a loader does: nine integers, then exactly one separator byte.
ParsedFile readLightfield(const QString &path)
{
    QFile file(path);
    ParsedFile parsed;
    if (file.open(QIODevice::ReadOnly))
        parsed.bytes = file.readAll();
    std::istringstream stream(parsed.bytes.toStdString());
    for (int &value : parsed.header)
        stream >> value;
    if (!stream || stream.get() != '\n')
        throw std::runtime_error("malformed header in " + path.toStdString());
    parsed.dataOffset = std::size_t(stream.tellg());
    return parsed;
}

std::size_t imageBytes(const SceneOptions &o)
{
    return std::size_t(o.width) * o.height * 4;
}

std::size_t gridBytes(const SceneOptions &o)
{
    return std::size_t(o.columns) * o.rows * (o.disparity ? 2 : 1) * imageBytes(o);
}

ToolRun runTool(const QStringList &arguments)
{
    return runTool(QStringLiteral(LF2D_PATH), arguments);
}

} // namespace

class SyntheticSceneTest : public QObject
{
    Q_OBJECT

private slots:
    void warpingByDisparityPredictsOtherViews_data()
    {
        QTest::addColumn<double>("column");
        QTest::addColumn<double>("row");
        QTest::addColumn<double>("stepColumns");
        QTest::addColumn<double>("stepRows");
        QTest::addColumn<int>("maxDisparity");
        QTest::newRow("one view right") << 4.0 << 4.0 << 1.0 << 0.0 << 12;
        QTest::newRow("one view up") << 4.0 << 4.0 << 0.0 << -1.0 << 12;
        QTest::newRow("one view diagonally") << 4.0 << 4.0 << 1.0 << 1.0 << 12;
        QTest::newRow("between views") << 4.0 << 4.0 << 0.3 << -0.6 << 12;
        QTest::newRow("four views down-left") << 4.0 << 4.0 << -4.0 << 4.0 << 12;
        QTest::newRow("corner to corner") << 0.0 << 8.0 << 8.0 << -8.0 << 12;
        QTest::newRow("halved disparities") << 4.0 << 4.0 << 2.0 << 2.0 << 6;
        QTest::newRow("doubled disparities") << 4.0 << 4.0 << 1.0 << -1.0 << 24;
    }

    // A pixel well inside a layer shows the same point as the pixel D · step away in the other
    // view. The textures are smooth enough for bilinear resampling to reproduce them closely,
    // which is what lets synthesised views be measured against these.
    void warpingByDisparityPredictsOtherViews()
    {
        QFETCH(double, column);
        QFETCH(double, row);
        QFETCH(double, stepColumns);
        QFETCH(double, stepRows);
        QFETCH(int, maxDisparity);
        SceneOptions options;
        options.maxDisparity = maxDisparity;
        const SyntheticScene scene(options);
        QCOMPARE(scene.maxDisparity(), maxDisparity);
        // The nearest layer, the triangle, at 11/12 of the bound.
        const std::vector<float> centre = scene.disparityMap(4, 4);
        QCOMPARE(*std::max_element(centre.begin(), centre.end()), float(11.0 * maxDisparity / 12));
        const int w = scene.options().width;
        const int h = scene.options().height;
        const FloatImage from = scene.renderView(column, row);
        const FloatImage to = scene.renderView(column + stepColumns, row + stepRows);
        const std::vector<float> fromDisparity = scene.disparityMap(column, row);
        const std::vector<float> toDisparity =
            scene.disparityMap(column + stepColumns, row + stepRows);

        double worst = 0;
        std::map<float, int> compared;
        int hidden = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const float d = fromDisparity[std::size_t(y) * w + x];
                const double tx = x + 0.5 - d * stepColumns;
                const double ty = y + 0.5 - d * stepRows;
                // Where the point lands on a pixel centre, only something nearer may hide it.
                const int cx = int(tx - 0.5);
                const int cy = int(ty - 0.5);
                if (cx == tx - 0.5 && cy == ty - 0.5 && cx >= 0 && cy >= 0 && cx < w && cy < h) {
                    const float there = toDisparity[std::size_t(cy) * w + cx];
                    QVERIFY(there >= d);
                    hidden += there > d;
                }
                if (!uniformAround(fromDisparity, w, h, x, y, 2, d)
                    || !uniformAround(toDisparity, w, h, int(std::floor(tx)), int(std::floor(ty)),
                                      3, d))
                    continue;
                worst = std::max(worst, maxDifference(pixelAt(from, x, y), bilinearAt(to, tx, ty)));
                ++compared[d];
            }
        }
        // Every layer must take part, or the check says nothing about it.
        QVERIFY(compared.size() >= 4);
        for (const auto &[d, count] : compared)
            QVERIFY2(count >= 200, qPrintable(QString("only %1 pixels at %2").arg(count).arg(d)));
        QVERIFY2(worst < 0.005, qPrintable(QString("largest difference %1").arg(worst)));
        if (stepColumns == std::round(stepColumns) && stepRows == std::round(stepRows))
            QVERIFY(hidden > 100);
    }

    void layersOccludeEachOtherFromEveryCorner()
    {
        const SyntheticScene scene {SceneOptions {}};
        const int w = scene.options().width;
        const int h = scene.options().height;
        for (const auto &camera : {std::array<double, 2> {4, 4}, {0, 0}, {8, 0}, {0, 8}, {8, 8}}) {
            const std::vector<float> disparity = scene.disparityMap(camera[0], camera[1]);
            std::map<float, int> area;
            for (float d : disparity)
                ++area[d];
            // Exact, not filtered: a handful of values, none outside the header's bound.
            QVERIFY(area.size() >= 4 && area.size() <= 8);
            QVERIFY(area.begin()->first >= 0 && area.rbegin()->first <= scene.maxDisparity());
            // Every layer stays in the picture from every camera of the grid.
            for (const auto &[d, pixels] : area)
                QVERIFY2(pixels >= w * h / 50,
                         qPrintable(QString("disparity %1 covers %2 pixels").arg(d).arg(pixels)));
        }

        // In the centre view every two layers in front of the background meet somewhere.
        const std::vector<float> disparity = scene.disparityMap(4, 4);
        const float background = *std::min_element(disparity.begin(), disparity.end());
        std::set<std::pair<float, float>> meetings;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x + 1 < w; ++x) {
                const float a = disparity[std::size_t(y) * w + x];
                const float b = disparity[std::size_t(y) * w + x + 1];
                if (a != b && a != background && b != background)
                    meetings.insert({std::min(a, b), std::max(a, b)});
            }
        }
        QVERIFY(meetings.size() >= 3);
    }

    // Where a layer outline crosses a pixel, the pixel mixes both sides instead of taking one.
    void layerEdgesAreAntialiased()
    {
        const SyntheticScene scene {SceneOptions {}};
        const int w = scene.options().width;
        int edges = 0;
        int mixed = 0;
        for (const auto &camera : {std::array<double, 2> {4, 4}, {2.3, 5.7}}) {
            const FloatImage view = scene.renderView(camera[0], camera[1]);
            const std::vector<float> disparity = scene.disparityMap(camera[0], camera[1]);
            for (int y = 0; y < view.height; ++y) {
                for (int x = 1; x + 2 < w; ++x) {
                    // An outline between x and x + 1, with a pixel of each side beyond it.
                    const float *d = disparity.data() + std::size_t(y) * w + x;
                    if (d[0] == d[1] || d[-1] != d[0] || d[2] != d[1])
                        continue;
                    const Rgb a = pixelAt(view, x - 1, y);
                    const Rgb b = pixelAt(view, x + 2, y);
                    double contrast = 0;
                    for (int c = 0; c < 3; ++c)
                        contrast += (b[c] - a[c]) * (b[c] - a[c]);
                    if (contrast < 0.04)
                        continue;
                    ++edges;
                    for (int i = 0; i < 2; ++i) {
                        const Rgb p = pixelAt(view, x + i, y);
                        double t = 0;
                        for (int c = 0; c < 3; ++c)
                            t += (p[c] - a[c]) * (b[c] - a[c]) / contrast;
                        if (t > 0.2 && t < 0.8) {
                            ++mixed;
                            break;
                        }
                    }
                }
            }
        }
        QVERIFY(edges > 100);
        QVERIFY2(mixed > edges * 2 / 5, qPrintable(QString("%1 of %2").arg(mixed).arg(edges)));
    }

    void hdrViewsSpanWideLuminanceRange()
    {
        SceneOptions options;
        options.hdr = true;
        const SyntheticScene scene(options);
        for (const auto &camera : {std::array<double, 2> {4, 4}, {0, 8}, {7.5, 0.5}}) {
            const FloatImage view = scene.renderView(camera[0], camera[1]);
            double lowest = INFINITY;
            double highest = 0;
            for (std::size_t i = 0; i < view.rgb.size(); i += 3) {
                const double l =
                    0.2126 * view.rgb[i] + 0.7152 * view.rgb[i + 1] + 0.0722 * view.rgb[i + 2];
                lowest = std::min(lowest, l);
                highest = std::max(highest, l);
            }
            QVERIFY2(lowest > 0 && highest / lowest >= 1e4,
                     qPrintable(QString("luminance from %1 to %2").arg(lowest).arg(highest)));
        }
    }

    void refocusKeepsTheFocusStillAndBlursTheRest_data()
    {
        QTest::addColumn<bool>("clutter");
        QTest::addColumn<double>("focus");
        QTest::addColumn<double>("aperture");
        QTest::newRow("background in focus") << false << 1.0 << 1.0;
        QTest::newRow("triangle in focus") << false << 11.0 << 1.0;
        QTest::newRow("cluttered scene, nearest disc in focus") << true << 13.0 << 0.5;
    }

    // From a camera off the centre and between views, so that a wrong sign along either axis
    // would move the focused surface. Where every ray of the lens reaches that surface, the
    // picture is the pinhole view's; layers at other disparities lose most of their texture's
    // contrast.
    void refocusKeepsTheFocusStillAndBlursTheRest()
    {
        QFETCH(bool, clutter);
        QFETCH(double, focus);
        QFETCH(double, aperture);
        SceneOptions options;
        options.width = options.height = 128;
        if (clutter) {
            options.scene = synth::SceneKind::Clutter;
            options.maxDisparity = 24;
        }
        const SyntheticScene scene(options);
        const double x = clutter ? 4.3 : 3.3;
        const double y = clutter ? 3.6 : 5.6;
        const FloatImage view = scene.renderView(x, y);
        QVERIFY(scene.renderRefocused(x, y, focus, 0).rgb == view.rgb);
        const FloatImage picture = scene.renderRefocused(x, y, focus, aperture);
        const std::vector<float> disparity = scene.disparityMap(x, y);

        const int w = options.width;
        // Only nearer layers can stop a ray on its way to the focused surface, and they spread
        // over (d − focus) · aperture pixels.
        const int reach = int(std::ceil((scene.disparityRange().second - focus) * aperture)) + 1;
        int still = 0;
        double worst = 0;
        // Squared differences of horizontal neighbours within layers away from the focus.
        double viewContrast = 0;
        double pictureContrast = 0;
        for (int j = 0; j < options.height; ++j) {
            for (int i = 0; i + 1 < w; ++i) {
                const float d = disparity[std::size_t(j) * w + i];
                if (d == float(focus)
                    && uniformAround(disparity, w, options.height, i, j, reach, d)) {
                    worst =
                        std::max(worst, maxDifference(pixelAt(picture, i, j), pixelAt(view, i, j)));
                    ++still;
                } else if (std::abs(d - focus) >= 3
                           && uniformAround(disparity, w, options.height, i, j, 2, d, 0.25f)) {
                    for (int c = 0; c < 3; ++c) {
                        viewContrast +=
                            std::pow(pixelAt(view, i + 1, j)[c] - pixelAt(view, i, j)[c], 2);
                        pictureContrast +=
                            std::pow(pixelAt(picture, i + 1, j)[c] - pixelAt(picture, i, j)[c], 2);
                    }
                }
            }
        }
        QVERIFY2(still >= 100, qPrintable(QString("only %1 pixels in focus").arg(still)));
        QVERIFY2(worst < 1e-5, qPrintable(QString("the focused surface moved by %1").arg(worst)));
        QVERIFY2(pictureContrast < 0.3 * viewContrast,
                 qPrintable(QString("contrast %1 of %2").arg(pictureContrast).arg(viewContrast)));
    }

    // With the background in focus, the rectangle (3.5) spreads 2.5 pixels per view step of
    // aperture beyond its left and top edges, and no further.
    void refocusBlursAnEdgeOverItsRadius()
    {
        SceneOptions options;
        options.width = options.height = 160;
        const SyntheticScene scene(options);
        const double left = 0.10 * options.width;
        const double top = 0.15 * options.height;
        const FloatImage view = scene.renderView(4, 4);
        for (const double aperture : {1.0, 2.0}) {
            const FloatImage picture = scene.renderRefocused(4, 4, 1.0, aperture);
            const double radius = 2.5 * aperture;
            // Per line across the edge: how far beyond it the picture leaves the pinhole view,
            // from the centre of the farthest pixel that differs.
            const auto reach = [&](bool across, int line) {
                double farthest = 0;
                const double edge = across ? left : top;
                for (int k = 0; k < int(edge); ++k) {
                    const int i = across ? k : line;
                    const int j = across ? line : k;
                    const double change =
                        maxDifference(pixelAt(picture, i, j), pixelAt(view, i, j));
                    const double distance = edge - (k + 0.5);
                    if (change > 1e-3)
                        farthest = std::max(farthest, distance);
                    else if (distance < radius - 1)
                        return -1.0; // untouched although the blur should reach it
                }
                return farthest;
            };
            // Lines clear of the triangle and the disc, whose blur reaches up to 20 pixels.
            for (int j = 48; j < 80; ++j) {
                const double r = reach(true, j);
                QVERIFY2(r >= radius - 1 && r <= radius + 0.5,
                         qPrintable(QString("row %1: %2 of %3 px").arg(j).arg(r).arg(radius)));
            }
            for (int i = 24; i < 44; ++i) {
                const double r = reach(false, i);
                QVERIFY2(r >= radius - 1 && r <= radius + 0.5,
                         qPrintable(QString("column %1: %2 of %3 px").arg(i).arg(r).arg(radius)));
            }
        }
    }

    void fileHoldsRenderedViewsBottomUp_data()
    {
        QTest::addColumn<bool>("hdr");
        QTest::addColumn<bool>("disparity");
        QTest::newRow("8-bit with disparity") << false << true;
        QTest::newRow("8-bit") << false << false;
        QTest::newRow("RGBE with disparity") << true << true;
        QTest::newRow("RGBE") << true << false;
    }

    void fileHoldsRenderedViewsBottomUp()
    {
        QFETCH(bool, hdr);
        QFETCH(bool, disparity);
        const SceneOptions options {3, 2, 40, 24, 13, hdr, disparity};
        const SyntheticScene scene(options);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath("scene.lf2d");
        synth::writeLightfield(scene, path.toStdString());
        const ParsedFile file = readLightfield(path);
        const int expected[9] = {40, 24, 6, 3, 13, 0, hdr, disparity, scene.maxDisparity()};
        for (int i = 0; i < 9; ++i)
            QCOMPARE(file.header[i], expected[i]);
        QCOMPARE(std::size_t(file.bytes.size()), file.dataOffset + gridBytes(options));

        // Views follow each other row by row, and each image starts with its bottom row.
        const auto *at =
            reinterpret_cast<const std::uint8_t *>(file.bytes.constData()) + file.dataOffset;
        for (int row = 0; row < options.rows; ++row) {
            for (int column = 0; column < options.columns; ++column) {
                const FloatImage view = scene.renderView(column, row);
                const std::vector<float> depth = scene.disparityMap(column, row);
                for (int fileRow = 0; fileRow < options.height; ++fileRow) {
                    const int y = options.height - 1 - fileRow;
                    for (int x = 0; x < options.width; ++x) {
                        const std::uint8_t *texel = at + (fileRow * options.width + x) * 4;
                        const Rgb value = pixelAt(view, x, y);
                        float decoded[3];
                        if (hdr) {
                            decodeRgbe(texel, decoded);
                            for (int c = 0; c < 3; ++c)
                                QVERIFY(std::abs(decoded[c] - value[c]) <= rgbeTolerance(value));
                        } else {
                            for (int c = 0; c < 3; ++c)
                                QVERIFY(std::abs(texel[c] - value[c] * 255) <= 0.5001);
                            QCOMPARE(int(texel[3]), 255);
                        }
                        if (disparity) {
                            decodeRgbe(texel + imageBytes(options), decoded);
                            const float d = depth[std::size_t(y) * options.width + x];
                            QVERIFY(decoded[0] == d && decoded[1] == d && decoded[2] == d);
                        }
                    }
                }
                at += (disparity ? 2 : 1) * imageBytes(options);
            }
        }
    }

    void failuresAreReported()
    {
        QVERIFY_EXCEPTION_THROWN(SyntheticScene(SceneOptions {9, 9, 0}), std::invalid_argument);
        QVERIFY_EXCEPTION_THROWN(SyntheticScene(SceneOptions {9, 0}), std::invalid_argument);
        const SyntheticScene lens(SceneOptions {9, 9, 8, 8});
        QVERIFY_EXCEPTION_THROWN(lens.renderRefocused(4, 4, 1, -1), std::invalid_argument);
        QVERIFY_EXCEPTION_THROWN(lens.renderRefocused(4, 4, NAN, 1), std::invalid_argument);
        QVERIFY_EXCEPTION_THROWN(lens.renderRefocused(4, 4, 1, INFINITY), std::invalid_argument);
        QVERIFY_EXCEPTION_THROWN(lens.renderRefocused(4, 4, 1, 5), std::invalid_argument);

        const SyntheticScene scene(SceneOptions {2, 2, 8, 8});
        QTemporaryDir dir;
        const std::string path = dir.filePath("missing/scene.lf2d").toStdString();
        try {
            synth::writeLightfield(scene, path);
            QFAIL("writing into a missing directory succeeded");
        } catch (const std::runtime_error &error) {
            QVERIFY(std::string(error.what()).find(path) != std::string::npos);
        }
    }

    void toolWritesLightfieldAndExactViews()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString output = dir.filePath("grid.lf2d");
        const QString stored = dir.filePath("stored.png");
        const QString between = dir.filePath("between.png");
        const QString pinhole = dir.filePath("pinhole.png");
        const QString refocused = dir.filePath("refocused.png");
        ToolRun run = runTool({"synth",
                               "--columns",
                               "5",
                               "--rows",
                               "3",
                               "--width",
                               "48",
                               "--height",
                               "32",
                               "--view-spacing",
                               "7",
                               "--exact-view",
                               "3,1=" + stored,
                               "--exact-view",
                               "3.5,0.25=" + between,
                               "--exact-refocus",
                               "3,1,7.25,0=" + pinhole,
                               "--exact-refocus",
                               "2.5,1.5,3.5,0.5=" + refocused,
                               output});
        QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
        const SceneOptions options {5, 3, 48, 32, 7};
        const ParsedFile file = readLightfield(output);
        const int expected[9] = {48, 32, 15, 5, 7, 0, 0, 1, 12};
        for (int i = 0; i < 9; ++i)
            QCOMPARE(file.header[i], expected[i]);
        QCOMPARE(std::size_t(file.bytes.size()), file.dataOffset + gridBytes(options));

        // The exact view at a grid position is the stored view, upright.
        const QImage storedView(stored);
        QCOMPARE(storedView.size(), QSize(48, 32));
        const auto *view = reinterpret_cast<const std::uint8_t *>(file.bytes.constData())
            + file.dataOffset + (1 * 5 + 3) * 2 * imageBytes(options);
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 48; ++x) {
                const std::uint8_t *texel = view + ((31 - y) * 48 + x) * 4;
                QCOMPARE(storedView.pixel(x, y), qRgb(texel[0], texel[1], texel[2]));
            }
        }
        // X is the column and Y the row also between the stored views.
        QCOMPARE(QImage(between).convertToFormat(QImage::Format_RGB888),
                 synth::toDisplayImage(SyntheticScene(options).renderView(3.5, 0.25), false));
        // A lens without aperture is the pinhole, to the byte; with one, X, Y, F and R are
        // taken in that order.
        QCOMPARE(QImage(pinhole), QImage(stored));
        QCOMPARE(QImage(refocused).convertToFormat(QImage::Format_RGB888),
                 synth::toDisplayImage(SyntheticScene(options).renderRefocused(2.5, 1.5, 3.5, 0.5),
                                       false));

        // Exact views alone need no light field.
        const QString hdrView = dir.filePath("hdr.png");
        const QString hdrRefocused = dir.filePath("hdr-refocused.png");
        run = runTool({"synth", "--hdr", "--no-disparity", "--width", "20", "--height", "30",
                       "--exact-view", "1.5,6=" + hdrView, "--exact-refocus",
                       "1.5,6,1,0.75=" + hdrRefocused});
        QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 7);
        SceneOptions hdrOptions {9, 9, 20, 30, 20, true, false};
        QCOMPARE(QImage(hdrView).convertToFormat(QImage::Format_RGB888),
                 synth::toDisplayImage(SyntheticScene(hdrOptions).renderView(1.5, 6), true));
        QCOMPARE(QImage(hdrRefocused).convertToFormat(QImage::Format_RGB888),
                 synth::toDisplayImage(SyntheticScene(hdrOptions).renderRefocused(1.5, 6, 1, 0.75),
                                       true));

        // The cluttered scene, both encodings.
        for (const bool hdr : {false, true}) {
            const QString clutter = dir.filePath(hdr ? "clutter-hdr.png" : "clutter.png");
            QStringList arguments {"synth",
                                   "--scene",
                                   "clutter",
                                   "--width",
                                   "24",
                                   "--height",
                                   "20",
                                   "--exact-refocus",
                                   "4.5,3,16,0.5=" + clutter};
            if (hdr)
                arguments << "--hdr";
            run = runTool(arguments);
            QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
            SceneOptions clutterOptions {9, 9, 24, 20, 20, hdr};
            clutterOptions.scene = synth::SceneKind::Clutter;
            clutterOptions.maxDisparity = 24;
            QCOMPARE(QImage(clutter).convertToFormat(QImage::Format_RGB888),
                     synth::toDisplayImage(
                         SyntheticScene(clutterOptions).renderRefocused(4.5, 3, 16, 0.5), hdr));
        }

        run = runTool({"synth", "--help"});
        QCOMPARE(run.exitCode, 0);
        for (const char *option :
             {"--columns", "--rows", "--width", "--height", "--view-spacing", "--hdr",
              "--no-disparity", "--max-disparity", "--exact-view", "--exact-refocus"})
            QVERIFY2(run.output.contains(option), option);
    }

    void toolRejectsBadArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::newRow("no command") << QStringList {} << 2;
        QTest::newRow("unknown command") << QStringList {"render", "out.lf2d"} << 2;
        QTest::newRow("nothing to write") << QStringList {"synth"} << 2;
        QTest::newRow("no columns") << QStringList {"synth", "--columns", "0", "out.lf2d"} << 2;
        QTest::newRow("huge view") << QStringList {"synth", "--width", "9000", "out.lf2d"} << 2;
        QTest::newRow("not a number") << QStringList {"synth", "--rows", "many", "out.lf2d"} << 2;
        QTest::newRow("no spacing")
            << QStringList {"synth", "--view-spacing", "0", "out.lf2d"} << 2;
        QTest::newRow("disparity bound off the scale")
            << QStringList {"synth", "--max-disparity", "5", "out.lf2d"} << 2;
        QTest::newRow("unknown option") << QStringList {"synth", "--depth", "out.lf2d"} << 2;
        QTest::newRow("two outputs") << QStringList {"synth", "a.lf2d", "b.lf2d"} << 2;
        QTest::newRow("view without file") << QStringList {"synth", "--exact-view", "1,2"} << 2;
        QTest::newRow("view off the grid")
            << QStringList {"synth", "--columns", "4", "--exact-view", "3.5,1=v.png"} << 2;
        QTest::newRow("unwritable output")
            << QStringList {"synth", "--width", "8", "--height", "8", "missing/out.lf2d"} << 1;
        QTest::newRow("refocus without file")
            << QStringList {"synth", "--exact-refocus", "4,4,1,1"} << 2;
        QTest::newRow("refocus without aperture")
            << QStringList {"synth", "--exact-refocus", "4,4,1=v.png"} << 2;
        QTest::newRow("focus not a number")
            << QStringList {"synth", "--exact-refocus", "4,4,far,1=v.png"} << 2;
        QTest::newRow("negative aperture")
            << QStringList {"synth", "--exact-refocus", "4,4,1,-0.5=v.png"} << 2;
        QTest::newRow("refocus off the grid")
            << QStringList {"synth", "--exact-refocus", "4,8.5,1,1=v.png"} << 2;
        // The triangle, at 11, would spread over 50 pixels.
        QTest::newRow("blur too wide")
            << QStringList {"synth", "--exact-refocus", "4,4,1,5=v.png"} << 2;
    }

    void toolRejectsBadArguments()
    {
        QFETCH(QStringList, arguments);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        for (QString &argument : arguments) {
            if (argument.endsWith(".lf2d"))
                argument = dir.filePath(argument);
            else if (argument.endsWith("=v.png"))
                argument.replace("=v.png", "=" + dir.filePath("v.png"));
        }
        QFETCH(int, status);
        const ToolRun run = runTool(arguments);
        QCOMPARE(run.exitCode, status);
        QVERIFY(!run.errors.trimmed().isEmpty());
        if (arguments.contains("--exact-refocus"))
            QVERIFY2(run.errors.contains("--exact-refocus"), qPrintable(run.errors));
        QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
    }
};

QTEST_GUILESS_MAIN(SyntheticSceneTest)
#include "SyntheticSceneTest.moc"
