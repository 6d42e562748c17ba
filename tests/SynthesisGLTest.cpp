#include "Lf2dWriter.h"
#include "SyntheticScene.h"
#include "lightfield/LightfieldCamera.h"
#include "lightfield/LightfieldReader.h"
#include "support/GLImages.h"
#include "support/GLTestContext.h"
#include "viewer/gpu/ShaderLibrary.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <functional>

// View synthesis measured against the truth: a synthetic light field of occluding layers, loaded
// the way the viewer loads files, and the camera's views compared with the scene's exact views.
class SynthesisGLTest : public QObject
{
    Q_OBJECT

    // A scene, written to a file and loaded as the viewer loads it.
    struct Loaded
    {
        QString path;
        std::unique_ptr<synth::SyntheticScene> scene;
        std::unique_ptr<LightfieldReader> reader;
        std::unique_ptr<LightfieldPlane> plane;
    };

    GLTestContext m_gl;
    QTemporaryDir m_directory;
    synth::SceneOptions m_options;
    Loaded m_layers;
    Loaded m_clutter;
    // The scene the running test case measures.
    QString m_path;
    const synth::SyntheticScene *m_scene = nullptr;
    const LightfieldPlane *m_plane = nullptr;

    void load(Loaded &loaded, synth::SceneKind kind, const QString &name)
    {
        synth::SceneOptions options = m_options;
        options.scene = kind;
        options.maxDisparity = kind == synth::SceneKind::Clutter ? 24 : 12;
        loaded.scene = std::make_unique<synth::SyntheticScene>(options);
        loaded.path = m_directory.filePath(name + QStringLiteral(".lf2d"));
        synth::writeLightfield(*loaded.scene, loaded.path.toStdString());
        loaded.reader = std::make_unique<LightfieldReader>(QUrl::fromLocalFile(loaded.path));
        loaded.plane = buildLdrPlane(loaded.reader.get());
    }

    // Makes the scene named in the test data's "scene" column the one measured.
    void useScene()
    {
        QFETCH(QString, scene);
        const Loaded &loaded = scene == QLatin1String("clutter") ? m_clutter : m_layers;
        m_path = loaded.path;
        m_scene = loaded.scene.get();
        m_plane = loaded.plane.get();
    }

    // Every data row for both scenes: "layers: name" and "clutter: name".
    static void forBothScenes(const std::function<void(const char *scene)> &rows)
    {
        QTest::addColumn<QString>("scene");
        rows("layers");
        rows("clutter");
    }

    // The exact view as the file would hold it, in GL row order.
    RgbaImage exactView(double x, double y) const
    {
        const synth::FloatImage image = m_scene->renderView(x, y);
        const std::vector<std::uint8_t> bytes = synth::toFileRgba8(image);
        RgbaImage result {image.width, image.height, std::vector<float>(bytes.size())};
        for (size_t i = 0; i < bytes.size(); ++i)
            result.texels[i] = bytes[i] / 255.0f;
        return result;
    }

    // Texels at least `margin` pixels away from any jump of disparity in the exact view: the
    // places where no occlusion edge or disocclusion can be. A slanted surface changes its
    // disparity by far less than half a pixel over the margin, a jump between surfaces by more.
    std::vector<bool> awayFromEdges(double x, double y, int margin) const
    {
        const std::vector<float> disparity = m_scene->disparityMap(x, y);
        const int width = m_options.width;
        const int height = m_options.height;
        std::vector<bool> mask(size_t(width) * height, false);
        for (int row = 0; row < height; ++row) {
            for (int column = 0; column < width; ++column) {
                const float centre = disparity[size_t(row) * width + column];
                bool uniform = true;
                for (int dy = -margin; dy <= margin && uniform; ++dy) {
                    for (int dx = -margin; dx <= margin && uniform; ++dx) {
                        const int r = std::clamp(row + dy, 0, height - 1);
                        const int c = std::clamp(column + dx, 0, width - 1);
                        uniform = std::abs(disparity[size_t(r) * width + c] - centre) < 0.5f;
                    }
                }
                // Upright rows to GL rows.
                mask[size_t(height - 1 - row) * width + column] = uniform;
            }
        }
        return mask;
    }

    RgbaImage synthesise(float x, float y, int edgeSamples = 1)
    {
        return synthesise(*m_plane, x, y, edgeSamples);
    }

    RgbaImage synthesise(const LightfieldPlane &plane, float x, float y, int edgeSamples = 1)
    {
        SimpleCamera camera(PipelineOptions(), &plane);
        camera.setEdgeSamples(edgeSamples);
        const float corners[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
        std::unique_ptr<CameraView> view =
            camera.renderView(m_options.width, m_options.height, corners, x, y, true);
        return {m_options.width, m_options.height,
                readTextureFloats(*view->getLayer(LdrRgb), m_options.width, m_options.height)};
    }

private slots:
    void initTestCase()
    {
        LF_CREATE_GL_CONTEXT(m_gl);
        loadShaderPrograms();
        m_options.columns = 5;
        m_options.rows = 5;
        m_options.width = 160;
        m_options.height = 128;
        load(m_layers, synth::SceneKind::Layers, QStringLiteral("layers"));
        load(m_clutter, synth::SceneKind::Clutter, QStringLiteral("clutter"));
    }

    void cleanup() { LF_VERIFY_NO_GL_ERROR(m_gl); }

    void gridPositionsReproduceTheStoredViews_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("row");
        forBothScenes([](const char *scene) {
            QTest::addRow("%s: first view", scene) << 0 << 0 << QString(scene);
            QTest::addRow("%s: centre view", scene) << 2 << 2 << QString(scene);
            QTest::addRow("%s: last column", scene) << 4 << 1 << QString(scene);
            QTest::addRow("%s: last row", scene) << 3 << 4 << QString(scene);
        });
    }

    void gridPositionsReproduceTheStoredViews()
    {
        useScene();
        QFETCH(int, column);
        QFETCH(int, row);
        const RgbaImage expected = exactView(column, row);
        // A stored view has no outline that the views disagree on: sampled or not, it is itself.
        for (const int edgeSamples : {1, 3}) {
            const RgbaImage actual = synthesise(float(column), float(row), edgeSamples);
            const ImageDifference difference = compareRgb(actual, expected);
            if (difference.maximum > 1.0 / 255.0)
                qWarning("pictures: %s",
                         qPrintable(saveComparison(QTest::currentDataTag(), actual, expected)));
            QVERIFY2(difference.maximum <= 1.0 / 255.0,
                     qPrintable(QStringLiteral("%1 x %1 samples on outlines: off by %2/255")
                                    .arg(edgeSamples)
                                    .arg(difference.maximum * 255.0)));
        }
    }

    void inBetweenViewsMatchTheScene_data()
    {
        QTest::addColumn<float>("x");
        QTest::addColumn<float>("y");
        forBothScenes([](const char *scene) {
            QTest::addRow("%s: cell centre", scene) << 1.5f << 1.5f << QString(scene);
            QTest::addRow("%s: quarter steps", scene) << 2.25f << 0.75f << QString(scene);
            QTest::addRow("%s: near a corner view", scene) << 3.1f << 2.95f << QString(scene);
            QTest::addRow("%s: between two columns", scene) << 0.6f << 3.0f << QString(scene);
            QTest::addRow("%s: between two rows", scene) << 4.0f << 2.4f << QString(scene);
        });
    }

    void inBetweenViewsMatchTheScene()
    {
        useScene();
        QFETCH(float, x);
        QFETCH(float, y);
        const RgbaImage expected = exactView(x, y);
        // Three pixels or more away from outlines the warp resamples smooth textures: a few
        // levels of 255. On the layered scene that holds for every such texel, and the whole
        // picture, outlines and disocclusions included, stays above 35 dB. The cluttered scene
        // moves thin occluders up to 20 pixels a view step: a few texels beyond the margin are
        // points that the four views hide between them, so there it holds for 99 % of them, and
        // its many outlines, most of them of poles one to three pixels wide that cover pixels
        // partly, keep the whole picture above 31 dB.
        // Sampled over their area, the pixels where the views disagree mix the sides of an
        // outline as the scene's pixels do: every view comes closer to the scene, and no more
        // than a quarter of its pixels are sampled.
        const bool clutter = m_scene->options().scene == synth::SceneKind::Clutter;
        RgbaImage centres;
        double centresPsnr = 0.0;
        for (const int edgeSamples : {1, 3}) {
            const RgbaImage actual = synthesise(x, y, edgeSamples);
            const ImageDifference inner = compareRgb(actual, expected, awayFromEdges(x, y, 3));
            const ImageDifference whole = compareRgb(actual, expected);
            qInfo("%d x %d samples on outlines: inner: max %.1f/255, 99th percentile %.1f/255, "
                  "mean %.2f/255 over %d texels; whole: %.1f dB",
                  edgeSamples, edgeSamples, inner.maximum * 255.0, inner.percentile99 * 255.0,
                  inner.mean * 255.0, inner.counted, whole.psnr);
            const double innerError = clutter ? inner.percentile99 : inner.maximum;
            const double lowestPsnr = clutter ? 31.0 : 35.0;
            const bool good =
                innerError <= 6.0 / 255.0 && inner.mean <= 1.0 / 255.0 && whole.psnr >= lowestPsnr;
            if (!good || qEnvironmentVariableIsSet("LF_SAVE_IMAGES"))
                qWarning("pictures: %s",
                         qPrintable(saveComparison(QStringLiteral("%1, %2 x %2 samples")
                                                       .arg(QTest::currentDataTag())
                                                       .arg(edgeSamples),
                                                   actual, expected)));
            QVERIFY(inner.counted > m_options.width * m_options.height / 2);
            QVERIFY2(innerError <= 6.0 / 255.0, "error away from outlines too large");
            QVERIFY2(inner.mean <= 1.0 / 255.0, "mean error away from outlines too large");
            QVERIFY2(whole.psnr >= lowestPsnr, "PSNR of the whole view too low");
            if (edgeSamples == 1) {
                centres = actual;
                centresPsnr = whole.psnr;
                continue;
            }
            int sampled = 0;
            for (size_t texel = 0; texel < actual.texels.size(); texel += 4) {
                bool same = true;
                for (size_t channel = 0; channel < 4; ++channel)
                    same =
                        same && actual.texels[texel + channel] == centres.texels[texel + channel];
                sampled += same ? 0 : 1;
            }
            QVERIFY2(sampled > 0 && sampled <= m_options.width * m_options.height / 4,
                     qPrintable(QStringLiteral("%1 texels sampled").arg(sampled)));
            QVERIFY2(whole.psnr >= centresPsnr + 0.5,
                     qPrintable(QStringLiteral("%1 dB sampled against %2 dB")
                                    .arg(whole.psnr)
                                    .arg(centresPsnr)));
        }
    }

    // Where the four views hide a point between them and the camera's ray leaves some of them
    // across their edge, the point is filled from what the views see nearest to the ray, never
    // from the transparent border beyond their edges: a thin dark seam along the picture's edge
    // would show it.
    void pictureEdgesAreFilledFromTheViews()
    {
        useScene();
        const int width = m_options.width;
        const int height = m_options.height;
        std::vector<bool> frame(size_t(width) * height, false);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                frame[size_t(y) * width + x] = x < 2 || y < 2 || x >= width - 2 || y >= height - 2;
        }
        double worst = 99.0;
        for (int i = 1; i <= 24; ++i) {
            // Spread over the grid: a Halton sequence in bases 2 and 3.
            double x = 0.0, y = 0.0, fx = 1.0, fy = 1.0;
            for (int k = i; k > 0; k /= 2)
                x += (fx /= 2.0) * (k % 2);
            for (int k = i; k > 0; k /= 3)
                y += (fy /= 3.0) * (k % 3);
            x *= m_options.columns - 1;
            y *= m_options.rows - 1;
            const ImageDifference edge =
                compareRgb(synthesise(float(x), float(y)), exactView(x, y), frame);
            worst = std::min(worst, edge.psnr);
        }
        qInfo("lowest PSNR of the outermost two pixels: %.1f dB", worst);
        QVERIFY2(worst >= 24.0, qPrintable(QString::number(worst)));
    }

    void pictureEdgesAreFilledFromTheViews_data()
    {
        forBothScenes([](const char *scene) { QTest::addRow("%s", scene) << QString(scene); });
    }

    void windowsOfOtherSizesShowTheSameView_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        forBothScenes([](const char *scene) {
            QTest::addRow("%s: smaller by odd numbers", scene) << 121 << 93 << QString(scene);
            QTest::addRow("%s: larger by odd numbers", scene) << 187 << 135 << QString(scene);
            QTest::addRow("%s: larger and smaller by even numbers", scene)
                << 200 << 100 << QString(scene);
        });
    }

    // A window of another size than the views shows the synthesised view at one view pixel per
    // window pixel, cut out or framed: its pixels are those of the view-sized picture, neither
    // shifted nor resampled, also when the sizes differ by an odd number of pixels.
    void windowsOfOtherSizesShowTheSameView()
    {
        useScene();
        QFETCH(int, width);
        QFETCH(int, height);
        SimpleCamera camera(PipelineOptions(), m_plane);
        const int viewWidth = m_options.width, viewHeight = m_options.height;
        auto shown = [&camera](float x, float y, int w, int h) {
            return RgbaImage {
                w, h, readTextureFloats(*camera.renderAt(x, y, w, h)->getLayer(LdrRgb), w, h)};
        };
        for (const auto &[x, y] : {std::pair {1.5f, 2.5f}, std::pair {2.3f, 0.8f}}) {
            const RgbaImage view = shown(x, y, viewWidth, viewHeight);
            const RgbaImage window = shown(x, y, width, height);
            // The odd pixel of a difference lies on the right and at the top.
            const int left = int(std::floor((width - viewWidth) / 2.0));
            const int bottom = int(std::floor((height - viewHeight) / 2.0));
            int compared = 0, off = 0;
            double sum = 0.0;
            for (int row = std::max(0, bottom); row < std::min(height, bottom + viewHeight);
                 ++row) {
                for (int column = std::max(0, left); column < std::min(width, left + viewWidth);
                     ++column) {
                    double largest = 0.0;
                    for (int channel = 0; channel < 3; ++channel)
                        largest = std::max(
                            largest,
                            double(std::abs(window.at(column, row, channel)
                                            - view.at(column - left, row - bottom, channel))));
                    ++compared;
                    off += largest > 1.5 / 255.0;
                    sum += largest;
                }
            }
            qInfo("at (%.1f, %.1f): %d of %d pixels off by more than a level, mean %.3f/255", x, y,
                  off, compared, sum / compared * 255.0);
            // Not every pixel: where a search step lands exactly on a texel boundary, the last
            // bit of the interpolated coordinate, which differs between window sizes, decides
            // which texel a disparity is read from. A crop half a pixel off resamples the whole
            // picture instead (70 to 90 % of the pixels, 6 to 10 levels on average).
            QVERIFY(sum / compared <= 1.0 / 255.0);
            QVERIFY(off <= compared / 20);
        }
    }

    void windowsFarLargerThanTheViewsDrawOnlyWhereRaysReach_data()
    {
        forBothScenes([](const char *scene) { QTest::addRow("%s", scene) << QString(scene); });
    }

    // The warp's program runs only where rays can reach a view; the rest of a large window is
    // what the program would give it, to the bit.
    void windowsFarLargerThanTheViewsDrawOnlyWhereRaysReach()
    {
        useScene();
        const int width = 2 * m_options.width + 81, height = 2 * m_options.height + 17;
        SimpleCamera limited(PipelineOptions(), m_plane);
        SimpleCamera everywhere(PipelineOptions(), m_plane);
        everywhere.setDrawsEverywhere(true);
        // Near the corners of cells, where the views' rays travel farthest.
        for (const auto &[x, y] : {std::pair {1.05f, 2.95f}, std::pair {3.95f, 0.05f}}) {
            const std::unique_ptr<CameraView> view = limited.renderAt(x, y, width, height);
            const std::vector<float> shown =
                readTextureFloats(*view->getLayer(LdrRgb), width, height);
            const std::vector<float> full = readTextureFloats(
                *everywhere.renderAt(x, y, width, height)->getLayer(LdrRgb), width, height);
            QCOMPARE(shown, full);
            QVERIFY(std::any_of(full.begin(), full.end(), [](float value) { return value > 0; }));
            // What the camera says it drew holds all that is not transparent black.
            const QRect drawn = view->drawn();
            QVERIFY(QRect(0, 0, width, height).contains(drawn));
            QVERIFY(drawn.width() < width && drawn.height() < height);
            for (int texel = 0; texel < width * height; ++texel) {
                if (!drawn.contains(texel % width, texel / width)) {
                    for (size_t channel = 0; channel < 4; ++channel)
                        QCOMPARE(full[size_t(texel) * 4 + channel], 0.0f);
                }
            }
        }
        // The region is a small part of such a window.
        const QuadCorners corners = {{-1.0f, -1.0f}, {-1.0f, 2.0f}, {2.0f, 2.0f}, {2.0f, -1.0f}};
        const WarpSearch warp {QVector2D(0.5f, -0.5f), m_options.width, m_options.height,
                               m_plane->maxDisparity()};
        const DrawnRegion region =
            reachOfViews(warp, 3 * m_options.width, 3 * m_options.height, corners);
        QVERIFY(region.x > 0 && region.y > 0);
        QVERIFY(region.width < 2 * m_options.width);
        QVERIFY(region.height < 2 * m_options.height);
        // A quad that is no parallelogram maps its two triangles differently: all of it is drawn.
        const QuadCorners skewed = {{-1.0f, -1.0f}, {-1.0f, 2.0f}, {2.5f, 2.0f}, {2.0f, -1.0f}};
        const DrawnRegion whole =
            reachOfViews(warp, 3 * m_options.width, 3 * m_options.height, skewed);
        QCOMPARE(QRect(whole.x, whole.y, whole.width, whole.height),
                 QRect(0, 0, 3 * m_options.width, 3 * m_options.height));
    }

    void nearbyDisparityIsTheLargestAroundEachTexel_data()
    {
        forBothScenes([](const char *scene) { QTest::addRow("%s", scene) << QString(scene); });
    }

    // The map the warp asks whether a nearer surface lies around the point it reads, against the
    // largest of each 4 x 4 window of the disparity map on the CPU, beyond the edge counting 0.
    void nearbyDisparityIsTheLargestAroundEachTexel()
    {
        useScene();
        const int width = m_options.width, height = m_options.height;
        QOpenGLTexture &disparity = *m_plane->layerAt(2, 1, Disparity);
        const std::vector<float> source = readTextureFloats(disparity, width, height);
        std::vector<float> nearby;
        {
            const Framebuffer framebuffer = Framebuffer::generate();
            FramebufferPasses passes(framebuffer);
            const OwnedTexture map = findNearbyDisparity(disparity, width, height);
            nearby = readTextureFloats(*map, width + 3, height + 3);
        }
        for (int y = 0; y < height + 3; ++y) {
            for (int x = 0; x < width + 3; ++x) {
                // Map texel (x, y) holds the window from view texel (x - 3, y - 3) to (x, y).
                float largest = 0.0f;
                for (int ty = y - 3; ty <= y; ++ty) {
                    for (int tx = x - 3; tx <= x; ++tx) {
                        if (tx >= 0 && ty >= 0 && tx < width && ty < height)
                            largest = std::max(largest, source[(size_t(ty) * width + tx) * 4]);
                    }
                }
                const float found = nearby[(size_t(y) * (width + 3) + x) * 4];
                if (found != largest) {
                    QFAIL(qPrintable(QStringLiteral("texel (%1, %2) holds %3, not %4")
                                         .arg(x)
                                         .arg(y)
                                         .arg(double(found))
                                         .arg(double(largest))));
                }
            }
        }
    }

    void aCameraCrossingCellsShowsWhatAFreshOneShows_data()
    {
        forBothScenes([](const char *scene) { QTest::addRow("%s", scene) << QString(scene); });
    }

    // The camera keeps per-view maps from cell to cell: after any path across the grid a frame
    // is the one a camera that never moved makes.
    void aCameraCrossingCellsShowsWhatAFreshOneShows()
    {
        useScene();
        SimpleCamera moving(PipelineOptions(), m_plane);
        const float corners[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
        // Right into a cell that shares two views, down into one that shares two again, back to
        // the first, which shares one, and into the last cell, whose views repeat at the edge.
        for (const QPointF position : {QPointF(1.5, 1.5), QPointF(2.4, 1.3), QPointF(2.3, 2.6),
                                       QPointF(1.2, 1.7), QPointF(4.0, 3.4)}) {
            const float x = float(position.x()), y = float(position.y());
            const std::unique_ptr<CameraView> view =
                moving.renderView(m_options.width, m_options.height, corners, x, y, true);
            const std::vector<float> shown =
                readTextureFloats(*view->getLayer(LdrRgb), m_options.width, m_options.height);
            QVERIFY2(shown == synthesise(x, y).texels,
                     qPrintable(QStringLiteral("at (%1, %2)").arg(x).arg(y)));
        }
    }

    void skippedStepsChangeNoSurface_data()
    {
        forBothScenes([](const char *scene) { QTest::addRow("%s", scene) << QString(scene); });
    }

    void skippedStepsChangeNoSurface()
    {
        useScene();
        // A plane whose tiles all claim a disparity beyond any search range: the bounds skip
        // nothing, every step of every ray is examined.
        LightfieldReader reader(QUrl::fromLocalFile(m_path));
        std::unique_ptr<LightfieldPlane> everyStep = buildLdrPlane(&reader);
        const int columns = (m_options.width + disparityTileSize - 1) / disparityTileSize;
        const int rows = (m_options.height + disparityTileSize - 1) / disparityTileSize;
        const std::vector<float> unbounded(size_t(columns) * rows, 1e9f);
        for (int row = 0; row < m_options.rows; ++row) {
            for (int column = 0; column < m_options.columns; ++column) {
                everyStep->setFeatureLayer(
                    column, row, DisparityTiles,
                    uploadDisparityTiles(unbounded, m_options.width, m_options.height));
            }
        }
        // Every surface is found where the full search finds it; only the fill of points that
        // no view sees may differ, as it looks back along fewer steps of the rays: on the
        // cluttered scene up to half a percent of the texels, next to thin occluders and where
        // rays leave the view. The same holds for the points that sample pixels on outlines,
        // which lie off the pixel centres that the bounds are found for.
        for (const QPointF position :
             {QPointF(1.5, 1.5), QPointF(2.25, 0.75), QPointF(0.6, 3.0), QPointF(3.9, 3.9)}) {
            for (const int edgeSamples : {1, 3}) {
                const float x = float(position.x()), y = float(position.y());
                const RgbaImage skipping = synthesise(x, y, edgeSamples);
                const RgbaImage full = synthesise(*everyStep, x, y, edgeSamples);
                int differing = 0;
                for (size_t texel = 0; texel < full.texels.size(); texel += 4) {
                    bool same = true;
                    for (size_t channel = 0; channel < 3; ++channel)
                        same = same
                            && skipping.texels[texel + channel] == full.texels[texel + channel];
                    differing += same ? 0 : 1;
                }
                const ImageDifference skippingError = compareRgb(skipping, exactView(x, y));
                const ImageDifference fullError = compareRgb(full, exactView(x, y));
                qInfo(
                    "(%.2f, %.2f), %d x %d samples on outlines: %d texels differ; %.2f dB against "
                    "%.2f dB",
                    x, y, edgeSamples, edgeSamples, differing, skippingError.psnr, fullError.psnr);
                QVERIFY2(differing <= m_options.width * m_options.height / 100,
                         qPrintable(QStringLiteral("%1 texels differ").arg(differing)));
                QVERIFY(skippingError.psnr >= fullError.psnr - 0.2);
            }
        }
    }

    void searchBoundsSkipOnlyStepsThatMeetNoSurface_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QPointF>("cropAt");
        QTest::addColumn<QPointF>("position");
        QTest::addColumn<int>("edgeSamples");
        forBothScenes([](const char *scene) {
            QTest::addRow("%s: the view", scene)
                << 160 << 128 << QPointF(0, 0) << QPointF(1.5, 1.5) << 1 << QString(scene);
            QTest::addRow("%s: an odd crop", scene)
                << 97 << 131 << QPointF(-0.13, 0.21) << QPointF(2.3, 0.8) << 1 << QString(scene);
            // Unit corners on a window of another size: a block covers more or fewer texels.
            QTest::addRow("%s: stretched", scene)
                << 240 << 96 << QPointF(0, 0) << QPointF(0.6, 3.0) << 1 << QString(scene);
            // Points off the pixel centres, where pixels on outlines are sampled.
            QTest::addRow("%s: an odd crop, outlines sampled", scene)
                << 97 << 131 << QPointF(-0.13, 0.21) << QPointF(2.3, 0.8) << 3 << QString(scene);
        });
    }

    // The bounds pass against the search it bounds, step by step on the CPU: no pixel of a block
    // can end a bracket before the step its bounds name, and the bounds skip most of what they
    // could: a stretch of the ray that may hold a surface is still passed down to the largest
    // disparity its tiles hold.
    void searchBoundsSkipOnlyStepsThatMeetNoSurface()
    {
        useScene();
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QPointF, cropAt);
        QFETCH(QPointF, position);
        QFETCH(int, edgeSamples);
        const int viewWidth = m_options.width, viewHeight = m_options.height;
        const double sx = double(width) / viewWidth, sy = double(height) / viewHeight;
        const float left = float(cropAt.x()), bottom = float(cropAt.y());
        const float right = float(cropAt.x() + (cropAt.isNull() ? 1.0 : sx));
        const float top = float(cropAt.y() + (cropAt.isNull() ? 1.0 : sy));
        const QuadCorners corners = {{left, bottom}, {left, top}, {right, top}, {right, bottom}};
        QVERIFY(isParallelogram(corners));

        SimpleCamera camera(PipelineOptions(), m_plane);
        const SimpleCamera::Cell cell = camera.pickCell(float(position.x()), float(position.y()));
        const QVector2D search(cell.offsetX, cell.offsetY);
        const WarpSearch warp {search, viewWidth, viewHeight, m_plane->maxDisparity(), edgeSamples};
        const QPoint views[4] = {{cell.column, cell.row},
                                 {cell.nextColumn, cell.row},
                                 {cell.nextColumn, cell.nextRow},
                                 {cell.column, cell.nextRow}};
        QOpenGLTexture *tiles[4];
        std::vector<float> disparity[4];
        for (int i = 0; i < 4; ++i) {
            tiles[i] = m_plane->layerAt(views[i].x(), views[i].y(), DisparityTiles);
            disparity[i] = readTextureFloats(
                *m_plane->layerAt(views[i].x(), views[i].y(), Disparity), viewWidth, viewHeight);
        }
        const int columns = (width + searchBoundsBlockSize - 1) / searchBoundsBlockSize;
        const int rows = (height + searchBoundsBlockSize - 1) / searchBoundsBlockSize;
        std::vector<float> bounds;
        {
            const Framebuffer framebuffer = Framebuffer::generate();
            FramebufferPasses passes(framebuffer);
            const OwnedTexture texture = findSearchBounds(tiles, warp, width, height, corners);
            bounds = readTextureFloats(*texture, columns, rows);
        }

        // As the warp's search steps: from the range down, half a pixel of travel a step.
        const QVector2D viewOffsets[4] = {{0, 0}, {-1, 0}, {-1, 1}, {0, 1}};
        const double range = std::min(m_plane->maxDisparity(), std::max(viewWidth, viewHeight));
        const std::array<float, 4> weights = cellWeights(cell.offsetX, cell.offsetY);
        double skipped = 0.0, skippable = 0.0;
        for (int i = 0; i < 4; ++i) {
            // A view without weight is not searched.
            if (weights[i] == 0.0f)
                continue;
            const QVector2D offset = search + viewOffsets[i];
            const double reach = std::max(std::abs(offset.x()), std::abs(offset.y()));
            const int steps = int(std::ceil(2.0 * range * reach));
            const double delta = range / steps;
            // The first step at which the ray of output point (x, y) meets a disparity at least
            // its own, taking either texel where the position lies within rounding of an edge.
            auto firstMeeting = [&](double x, double y) {
                const double u = left + x / width * (right - left);
                const double v = bottom + y / height * (top - bottom);
                for (int k = 1; k <= steps; ++k) {
                    const double d = range - k * delta;
                    const double px = u * viewWidth + d * offset.x();
                    const double py = v * viewHeight + d * offset.y();
                    for (const double tx : {std::floor(px - 1e-3), std::floor(px + 1e-3)}) {
                        for (const double ty : {std::floor(py - 1e-3), std::floor(py + 1e-3)}) {
                            const bool inside =
                                tx >= 0 && ty >= 0 && tx < viewWidth && ty < viewHeight;
                            const float found = inside
                                ? disparity[i][(size_t(ty) * viewWidth + size_t(tx)) * 4]
                                : 0.0f;
                            if (found >= d)
                                return k;
                        }
                    }
                }
                return steps + 1;
            };
            for (int blockY = 0; blockY < rows; ++blockY) {
                for (int blockX = 0; blockX < columns; ++blockX) {
                    int earliest = steps + 1;
                    for (int y = blockY * 4; y < std::min(blockY * 4 + 4, height); ++y) {
                        for (int x = blockX * 4; x < std::min(blockX * 4 + 4, width); ++x) {
                            // The pixel's centre, or the grid of points that samples it.
                            for (int j = 0; j < edgeSamples; ++j) {
                                for (int k = 0; k < edgeSamples; ++k) {
                                    earliest = std::min(earliest,
                                                        firstMeeting(x + (k + 0.5) / edgeSamples,
                                                                     y + (j + 0.5) / edgeSamples));
                                }
                            }
                        }
                    }
                    const float bound = bounds[(size_t(blockY) * columns + blockX) * 4 + i];
                    QCOMPARE(bound, std::floor(bound));
                    if (bound > float(earliest)) {
                        QFAIL(qPrintable(QStringLiteral("view %1, block (%2, %3): the bounds "
                                                        "skip to step %4, a pixel meets a "
                                                        "surface at step %5")
                                             .arg(i)
                                             .arg(blockX)
                                             .arg(blockY)
                                             .arg(double(bound))
                                             .arg(earliest)));
                    }
                    skipped += std::min(double(bound), double(steps)) - 1.0;
                    skippable += std::min(earliest, steps) - 1.0;
                }
            }
        }
        qInfo("the bounds skip %.0f of %.0f steps that a block could skip", skipped, skippable);
        QVERIFY(skipped >= 0.7 * skippable);
    }
};

QTEST_MAIN(SynthesisGLTest)
#include "SynthesisGLTest.moc"
