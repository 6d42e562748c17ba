#include "Lf2dWriter.h"
#include "SyntheticScene.h"
#include "lightfield/LightfieldCamera.h"
#include "lightfield/LightfieldReader.h"
#include "postprocessing/LinearPlaneStage.h"
#include "support/GLImages.h"
#include "support/GLTestContext.h"
#include "viewer/gpu/ShaderLibrary.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

// The camera's thin lens measured against the truth: the exact thin-lens pictures of a synthetic
// scene, a grid of views whose shift-and-sum can be worked out by hand, and light fields of one
// disparity for the disparity view.
class RefocusGLTest : public QObject
{
    Q_OBJECT

    struct Loaded
    {
        QString path;
        std::unique_ptr<LightfieldReader> reader;
        std::unique_ptr<LightfieldPlane> plane;
    };

    GLTestContext m_gl;
    QTemporaryDir m_directory;
    synth::SceneOptions m_options;
    std::unique_ptr<synth::SyntheticScene> m_layers;
    Loaded m_layersFile;

    static constexpr QuadCorners wholeView = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};

    Loaded load(const QString &name, const std::function<void(const std::string &)> &write,
                bool hdr = false)
    {
        Loaded loaded;
        loaded.path = m_directory.filePath(name + QStringLiteral(".lf2d"));
        write(loaded.path.toStdString());
        loaded.reader = std::make_unique<LightfieldReader>(QUrl::fromLocalFile(loaded.path));
        loaded.plane =
            hdr ? buildHdrPlane(loaded.reader.get()) : buildLdrPlane(loaded.reader.get());
        return loaded;
    }

    static RgbaImage picture(const LightfieldPlane &plane, float x, float y, ThinLens lens,
                             bool searchesDisparity = true)
    {
        SimpleCamera camera(PipelineOptions(), &plane);
        camera.setLens(lens);
        if (plane.supportsLayer(TonemappedRgb))
            camera.setRadianceGamma(linearStageGamma);
        const int layer = plane.supportsLayer(LdrRgb) ? LdrRgb : TonemappedRgb;
        auto view =
            camera.renderView(plane.width(), plane.height(), wholeView, x, y, searchesDisparity);
        return {plane.width(), plane.height(),
                readTextureFloats(*view->getLayer(layer), plane.width(), plane.height())};
    }

    // An upright picture of the scene as the file would hold it, in GL row order.
    static RgbaImage asStored(const synth::FloatImage &image)
    {
        const std::vector<std::uint8_t> bytes = synth::toFileRgba8(image);
        RgbaImage result {image.width, image.height, std::vector<float>(bytes.size())};
        for (size_t i = 0; i < bytes.size(); ++i)
            result.texels[i] = bytes[i] / 255.0f;
        return result;
    }

    // GL-ordered mask of the texels whose exact disparity, and that of every texel within
    // `margin` of them, is `disparity`.
    std::vector<bool> layerInterior(double x, double y, float disparity, int margin) const
    {
        const std::vector<float> map = m_layers->disparityMap(x, y);
        const int width = m_options.width, height = m_options.height;
        std::vector<bool> mask(size_t(width) * height, false);
        for (int row = margin; row < height - margin; ++row) {
            for (int column = margin; column < width - margin; ++column) {
                bool inside = true;
                for (int dy = -margin; dy <= margin && inside; ++dy) {
                    for (int dx = -margin; dx <= margin && inside; ++dx)
                        inside = map[size_t(row + dy) * width + column + dx] == disparity;
                }
                mask[size_t(height - 1 - row) * width + column] = inside;
            }
        }
        return mask;
    }

    static int count(const std::vector<bool> &mask)
    {
        return int(std::count(mask.begin(), mask.end(), true));
    }

private slots:
    void initTestCase()
    {
        LF_CREATE_GL_CONTEXT(m_gl);
        loadShaderPrograms();
        m_options.width = 192;
        m_options.height = 160;
        m_layers = std::make_unique<synth::SyntheticScene>(m_options);
        m_layersFile = load(QStringLiteral("layers"), [&](const std::string &path) {
            synth::writeLightfield(*m_layers, path);
        });
    }

    void cleanup() { LF_VERIFY_NO_GL_ERROR(m_gl); }

    // The lens's picture of the layered scene against the exact thin-lens picture: within 36 dB
    // wherever the camera and the focus are, most of the difference on outlines, where the
    // views' pixels mix two surfaces, and near the picture's border, where the exact lens sees
    // the scene beyond the views' frame.
    void matchesTheExactLens_data()
    {
        QTest::addColumn<float>("x");
        QTest::addColumn<float>("y");
        QTest::addColumn<float>("focus");
        QTest::addColumn<float>("aperture");
        QTest::addRow("on a view, focus on the rectangle") << 4.0f << 4.0f << 3.5f << 1.0f;
        QTest::addRow("between views, focus on the disc") << 3.5f << 4.25f << 7.25f << 0.5f;
        QTest::addRow("focus between layers") << 4.3f << 3.6f << 5.0f << 1.0f;
        QTest::addRow("focus on the background") << 4.6f << 4.1f << 1.0f << 0.75f;
    }
    void matchesTheExactLens()
    {
        QFETCH(float, x);
        QFETCH(float, y);
        QFETCH(float, focus);
        QFETCH(float, aperture);
        const RgbaImage actual = picture(*m_layersFile.plane, x, y, {focus, aperture});
        const RgbaImage expected = asStored(m_layers->renderRefocused(x, y, focus, aperture));
        const ImageDifference difference = compareRgb(actual, expected);
        qInfo("%.2f dB", difference.psnr);
        if (difference.psnr < 36.0)
            qWarning("pictures: %s",
                     qPrintable(saveComparison(QTest::currentDataTag(), actual, expected)));
        QVERIFY2(difference.psnr >= 36.0, qPrintable(QString("%1 dB").arg(difference.psnr)));
    }

    // Focused on a layer, the layer stays as the pinhole shows it, while a layer at another
    // disparity blurs, as the exact lens has it.
    void focusedLayerStaysWhereItIs()
    {
        const float x = 4.0f, y = 4.0f;
        const ThinLens lens {7.25f, 1.0f}; // the disc's disparity
        const RgbaImage refocused = picture(*m_layersFile.plane, x, y, lens);
        const RgbaImage pinhole = picture(*m_layersFile.plane, x, y, ThinLens());
        const RgbaImage exact =
            asStored(m_layers->renderRefocused(x, y, lens.focus, lens.aperture));
        // Farther from other layers than their blur reaches: 6.25 pixels for the background.
        const std::vector<bool> disc = layerInterior(x, y, 7.25f, 7);
        QVERIFY(count(disc) > 200);
        const ImageDifference sharp = compareRgb(refocused, pinhole, disc);
        // The stored views lie multiples of 7.25 pixels from each other: those read a quarter of
        // a texel off are filtered, slightly.
        QVERIFY2(sharp.mean < 1.5 / 255.0 && sharp.percentile99 < 8.0 / 255.0,
                 qPrintable(QString("mean %1/255, 99%% %2/255")
                                .arg(sharp.mean * 255.0)
                                .arg(sharp.percentile99 * 255.0)));
        // The background, blurred over 6.25 pixels, lies far from the pinhole's and near the
        // exact lens's.
        const std::vector<bool> background = layerInterior(x, y, 1.0f, 12);
        QVERIFY(count(background) > 500);
        const ImageDifference blurred = compareRgb(refocused, pinhole, background);
        const ImageDifference truth = compareRgb(refocused, exact, background);
        QVERIFY2(blurred.mean > 5.0 * truth.mean && truth.psnr > 40.0,
                 qPrintable(QString("from the pinhole %1/255, from the exact lens %2/255, %3 dB")
                                .arg(blurred.mean * 255.0)
                                .arg(truth.mean * 255.0)
                                .arg(truth.psnr)));
    }

    // Without disparity the lens shifts the stored views so that the focus disparity lines up,
    // each weighed by the share of the aperture nearest to it. Every view of a 3 × 3 grid holds
    // one bright column of pixels, at x = 40 - 4 · column, a point at disparity 4: focused there,
    // the copies fall together at 36; focused at 0, three copies lie four pixels apart, each as
    // bright as its column's share of the disc of radius 1 around the centre view.
    void shiftAndSumWeighsTheViews()
    {
        const Loaded grid = load(QStringLiteral("columns"), [](const std::string &path) {
            synth::writeLightfield(
                path, synth::gridHeader(64, 16, 3, 3),
                [](int column, int) {
                    synth::FloatImage image {64, 16, std::vector<float>(64 * 16 * 3, 0.0f)};
                    for (int y = 0; y < 16; ++y) {
                        for (int channel = 0; channel < 3; ++channel)
                            image.rgb[(size_t(y) * 64 + 40 - 4 * column) * 3 + channel] = 1.0f;
                    }
                    return image;
                },
                nullptr);
        });
        const auto rowOf = [](const RgbaImage &image) {
            std::vector<float> row(size_t(image.width));
            for (int x = 0; x < image.width; ++x)
                row[size_t(x)] = image.at(x, 8, 0);
            return row;
        };
        const std::vector<float> focused =
            rowOf(picture(*grid.plane, 1.0f, 1.0f, {4.0f, 1.0f}, false));
        for (int x = 0; x < 64; ++x)
            QVERIFY2(std::abs(focused[size_t(x)] - (x == 36 ? 1.0f : 0.0f)) < 1.5f / 255.0f,
                     qPrintable(QString("x %1: %2").arg(x).arg(focused[size_t(x)])));

        // The share of the unit disc nearest to each column, integrated on a fine grid.
        double shares[3] = {};
        int inside = 0;
        for (int i = 0; i < 2000; ++i) {
            for (int j = 0; j < 2000; ++j) {
                const double u = (i + 0.5) / 1000.0 - 1.0, v = (j + 0.5) / 1000.0 - 1.0;
                if (u * u + v * v > 1.0)
                    continue;
                ++inside;
                ++shares[u < -0.5 ? 0 : u < 0.5 ? 1 : 2];
            }
        }
        const std::vector<float> spread =
            rowOf(picture(*grid.plane, 1.0f, 1.0f, {0.0f, 1.0f}, false));
        for (int column = 0; column < 3; ++column) {
            const double expected = shares[column] / inside;
            const float shown = spread[size_t(40 - 4 * column)];
            // The lens's 64 positions share the disc out to within a few hundredths.
            QVERIFY2(std::abs(shown - expected) < 0.03,
                     qPrintable(
                         QString("column %1: %2, share %3").arg(column).arg(shown).arg(expected)));
        }
    }

    // The disparity view maps 0 to the colour map's dark violet and maxDisparity to its yellow,
    // and nearer layers to lighter colours.
    void disparityViewColoursTheDepth_data()
    {
        QTest::addColumn<float>("disparity");
        QTest::addColumn<QColor>("colour");
        QTest::addRow("far") << 0.0f << QColor(68, 1, 84);
        QTest::addRow("near") << 12.0f << QColor(253, 231, 37);
    }
    void disparityViewColoursTheDepth()
    {
        QFETCH(float, disparity);
        QFETCH(QColor, colour);
        const Loaded flat = load(QStringLiteral("flat"), [&](const std::string &path) {
            LightfieldHeader header = synth::gridHeader(32, 24, 2, 2);
            header.hasDisparity = true;
            header.maxDisparity = 12;
            synth::writeLightfield(
                path, header,
                [](int, int) {
                    return synth::FloatImage {32, 24, std::vector<float>(32 * 24 * 3, 0.5f)};
                },
                [&](int, int) { return std::vector<float>(32 * 24, disparity); });
        });
        SimpleCamera camera(PipelineOptions(), flat.plane.get());
        OwnedTexture map = camera.renderDisparityAt(0.4f, 0.6f, 32, 24);
        const std::vector<std::uint8_t> bytes = readTextureBytes(*map, 32, 24);
        for (size_t i = 0; i < bytes.size(); i += 4) {
            QVERIFY(std::abs(bytes[i] - colour.red()) <= 1);
            QVERIFY(std::abs(bytes[i + 1] - colour.green()) <= 1);
            QVERIFY(std::abs(bytes[i + 2] - colour.blue()) <= 1);
            QCOMPARE(int(bytes[i + 3]), 255);
        }

        // The layered scene's four layers, lighter the nearer.
        SimpleCamera layersCamera(PipelineOptions(), m_layersFile.plane.get());
        OwnedTexture layers = layersCamera.renderDisparityAt(4.0f, 4.0f, 192, 160);
        const std::vector<std::uint8_t> texels = readTextureBytes(*layers, 192, 160);
        double previous = -1.0;
        for (float layer : {1.0f, 3.5f, 7.25f, 11.0f}) {
            const std::vector<bool> mask = layerInterior(4.0, 4.0, layer, 2);
            QVERIFY(count(mask) > 50);
            double lightness = 0.0;
            for (size_t i = 0; i < mask.size(); ++i) {
                if (mask[i])
                    lightness += 0.2126 * texels[4 * i] + 0.7152 * texels[4 * i + 1]
                        + 0.0722 * texels[4 * i + 2];
            }
            lightness /= count(mask);
            QVERIFY2(lightness > previous + 10.0, qPrintable(QString::number(lightness)));
            previous = lightness;
        }
    }

    // A click focuses on the disparity of the surface under the pointer.
    void disparityUnderNamesTheSurface()
    {
        SimpleCamera camera(PipelineOptions(), m_layersFile.plane.get());
        // The camera starts a drag pixel right of and below the first view; at (4, 4):
        camera.step(3.95, 3.95);
        const float spacing = float(m_layersFile.plane->viewSpacing());
        const float x = float(camera.positionX()) / spacing,
                    y = float(camera.positionY()) / spacing;
        const std::vector<float> exact = m_layers->disparityMap(x, y);
        int checked = 0;
        for (float layer : {1.0f, 3.5f, 7.25f, 11.0f}) {
            const std::vector<bool> mask = layerInterior(x, y, layer, 3);
            const auto first = std::find(mask.begin(), mask.end(), true);
            QVERIFY(first != mask.end());
            const int index = int(first - mask.begin());
            // Mask rows count from the bottom, window rows from the top.
            const QPoint pixel(index % 192, 159 - index / 192);
            QCOMPARE(exact[size_t(pixel.y()) * 192 + pixel.x()], layer);
            const std::optional<float> found = camera.disparityUnder(pixel, 192, 160);
            QVERIFY(found);
            QVERIFY2(std::abs(*found - layer) < 0.05f, qPrintable(QString::number(*found)));
            ++checked;
        }
        QCOMPARE(checked, 4);
        QVERIFY(!camera.disparityUnder(QPoint(192, 10), 192, 160));
        // A window wider than the view shows nothing left of it.
        QVERIFY(!camera.disparityUnder(QPoint(3, 80), 200, 160));
    }

    // Mipmapped copies of the views are kept for the next frames within a budget; past it, they
    // are made again, and the picture is the same.
    void copiesBeyondTheBudgetAreMadeAgain()
    {
        const LightfieldPlane &plane = *m_layersFile.plane;
        const ThinLens lens {5.0f, 2.0f};
        const auto render = [&](LensPasses &passes) {
            ScopedFramebuffer framebuffer;
            QRect drawn;
            OwnedTexture picture =
                passes.render(QPointF(4.2, 3.7), lens, LdrRgb, 192, 160, wholeView, true, &drawn);
            return RgbaImage {192, 160, readTextureFloats(*picture, 192, 160)};
        };
        LensPasses kept(plane);
        const RgbaImage expected = render(kept);
        // An aperture of two view steps reads more views than one pass can.
        QVERIFY2(kept.mipmappedViewCount() > maxLensViews,
                 qPrintable(QString::number(kept.mipmappedViewCount())));
        LensPasses tight(plane);
        tight.setMipmapBudget(0);
        for (int frame = 0; frame < 2; ++frame) {
            const ImageDifference difference = compareRgb(render(tight), expected);
            QCOMPARE(difference.maximum, 0.0);
            // Only the last pass's views are left.
            QVERIFY(tight.mipmappedViewCount() <= maxLensViews);
            QVERIFY(tight.mipmappedViewCount() < kept.mipmappedViewCount());
        }
    }

    // Linear radiance through the lens, as the per-frame tone mappers take it: finite, and the
    // picture's border as bright as the views' border, not black.
    void radianceStaysFiniteToTheBorder()
    {
        synth::SceneOptions options = m_options;
        options.hdr = true;
        const synth::SyntheticScene scene(options);
        const Loaded rgbe = load(
            QStringLiteral("rgbe"),
            [&](const std::string &path) { synth::writeLightfield(scene, path); }, true);
        const RgbaImage lens = picture(*rgbe.plane, 0.3f, 7.6f, {0.0f, 2.0f});
        const RgbaImage pinhole = picture(*rgbe.plane, 0.3f, 7.6f, ThinLens());
        for (int y = 0; y < lens.height; ++y) {
            for (int x = 0; x < lens.width; ++x) {
                const bool border = x == 0 || y == 0 || x == lens.width - 1 || y == lens.height - 1;
                for (int channel = 0; channel < 4; ++channel)
                    QVERIFY(std::isfinite(lens.at(x, y, channel)));
                if (border) {
                    const float shown = lens.at(x, y, 0) + lens.at(x, y, 1) + lens.at(x, y, 2);
                    const float stored =
                        pinhole.at(x, y, 0) + pinhole.at(x, y, 1) + pinhole.at(x, y, 2);
                    QVERIFY2(shown > 0.1f * stored,
                             qPrintable(QString("(%1, %2): %3 against %4")
                                            .arg(x)
                                            .arg(y)
                                            .arg(shown)
                                            .arg(stored)));
                }
                QVERIFY(std::abs(lens.at(x, y, 3) - 1.0f) < 1e-3f);
            }
        }
    }
};

QTEST_MAIN(RefocusGLTest)
#include "RefocusGLTest.moc"
