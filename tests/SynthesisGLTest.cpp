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

// View synthesis measured against the truth: a synthetic light field of occluding layers, loaded
// the way the viewer loads files, and the camera's views compared with the scene's exact views.
class SynthesisGLTest : public QObject
{
    Q_OBJECT

    GLTestContext m_gl;
    QTemporaryDir m_directory;
    QString m_path; // of the light field
    synth::SceneOptions m_options;
    std::unique_ptr<synth::SyntheticScene> m_scene;
    std::unique_ptr<LightfieldReader> m_reader;
    std::unique_ptr<LightfieldPlane> m_plane;

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

    // Texels at least `margin` pixels away from any change of disparity in the exact view: the
    // places where no occlusion edge or disocclusion can be.
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
                        uniform = disparity[size_t(r) * width + c] == centre;
                    }
                }
                // Upright rows to GL rows.
                mask[size_t(height - 1 - row) * width + column] = uniform;
            }
        }
        return mask;
    }

    RgbaImage synthesise(float x, float y) { return synthesise(*m_plane, x, y); }

    RgbaImage synthesise(const LightfieldPlane &plane, float x, float y)
    {
        SimpleCamera camera(PipelineOptions(), &plane);
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
        m_scene = std::make_unique<synth::SyntheticScene>(m_options);
        m_path = m_directory.filePath(QStringLiteral("layers.lf2d"));
        synth::writeLightfield(*m_scene, m_path.toStdString());
        m_reader = std::make_unique<LightfieldReader>(QUrl::fromLocalFile(m_path));
        m_plane = buildLdrPlane(PipelineOptions(), m_reader.get());
    }

    void cleanup() { LF_VERIFY_NO_GL_ERROR(m_gl); }

    void gridPositionsReproduceTheStoredViews_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("row");
        QTest::newRow("first view") << 0 << 0;
        QTest::newRow("centre view") << 2 << 2;
        QTest::newRow("last column") << 4 << 1;
        QTest::newRow("last row") << 3 << 4;
    }

    void gridPositionsReproduceTheStoredViews()
    {
        QFETCH(int, column);
        QFETCH(int, row);
        const RgbaImage actual = synthesise(float(column), float(row));
        const RgbaImage expected = exactView(column, row);
        const ImageDifference difference = compareRgb(actual, expected);
        if (difference.maximum > 1.0 / 255.0)
            qWarning("pictures: %s",
                     qPrintable(saveComparison(QTest::currentDataTag(), actual, expected)));
        QVERIFY2(difference.maximum <= 1.0 / 255.0,
                 qPrintable(QStringLiteral("off by %1/255").arg(difference.maximum * 255.0)));
    }

    void inBetweenViewsMatchTheScene_data()
    {
        QTest::addColumn<float>("x");
        QTest::addColumn<float>("y");
        QTest::newRow("cell centre") << 1.5f << 1.5f;
        QTest::newRow("quarter steps") << 2.25f << 0.75f;
        QTest::newRow("near a corner view") << 3.1f << 2.95f;
        QTest::newRow("between two columns") << 0.6f << 3.0f;
        QTest::newRow("between two rows") << 4.0f << 2.4f;
    }

    void inBetweenViewsMatchTheScene()
    {
        QFETCH(float, x);
        QFETCH(float, y);
        const RgbaImage actual = synthesise(x, y);
        const RgbaImage expected = exactView(x, y);
        // Three pixels or more away from layer outlines the warp resamples smooth textures: a few
        // levels of 255 at most. Over the whole picture, outlines and disocclusions included, the
        // PSNR stays above 35 dB.
        const ImageDifference inner = compareRgb(actual, expected, awayFromEdges(x, y, 3));
        const ImageDifference whole = compareRgb(actual, expected);
        qInfo("inner: max %.1f/255, mean %.2f/255 over %d texels; whole: %.1f dB",
              inner.maximum * 255.0, inner.mean * 255.0, inner.counted, whole.psnr);
        const bool good =
            inner.maximum <= 6.0 / 255.0 && inner.mean <= 1.0 / 255.0 && whole.psnr >= 35.0;
        if (!good || qEnvironmentVariableIsSet("LF_SAVE_IMAGES"))
            qWarning("pictures: %s",
                     qPrintable(saveComparison(QTest::currentDataTag(), actual, expected)));
        QVERIFY(inner.counted > m_options.width * m_options.height / 2);
        QVERIFY2(inner.maximum <= 6.0 / 255.0, "largest error away from outlines too large");
        QVERIFY2(inner.mean <= 1.0 / 255.0, "mean error away from outlines too large");
        QVERIFY2(whole.psnr >= 35.0, "PSNR of the whole view below 35 dB");
    }

    void skippedTilesChangeNoSurface()
    {
        // A plane whose tiles all claim a disparity beyond any search range: nothing is
        // skipped, every step of every ray is examined.
        LightfieldReader reader(QUrl::fromLocalFile(m_path));
        std::unique_ptr<LightfieldPlane> everyStep = buildLdrPlane(PipelineOptions(), &reader);
        const int columns = (m_options.width + disparityTileSize - 1) / disparityTileSize;
        const int rows = (m_options.height + disparityTileSize - 1) / disparityTileSize;
        const std::vector<float> unbounded(size_t(columns) * rows, 1e9f);
        for (int row = 0; row < m_options.rows; ++row) {
            for (int column = 0; column < m_options.columns; ++column) {
                auto tiles = std::make_unique<QOpenGLTexture>(QOpenGLTexture::Target2D);
                tiles->setFormat(QOpenGLTexture::R32F);
                tiles->setSize(columns, rows);
                tiles->setMinMagFilters(QOpenGLTexture::Nearest, QOpenGLTexture::Nearest);
                tiles->allocateStorage(QOpenGLTexture::Red, QOpenGLTexture::Float32);
                tiles->setData(QOpenGLTexture::Red, QOpenGLTexture::Float32, unbounded.data());
                everyStep->setFeatureLayer(column, row, DisparityTiles, std::move(tiles));
            }
        }
        // Every surface is found where the full search finds it; only the fill of points that
        // no view sees may differ, as it looks back along fewer steps of the rays.
        for (const QPointF position :
             {QPointF(1.5, 1.5), QPointF(2.25, 0.75), QPointF(0.6, 3.0), QPointF(3.9, 3.9)}) {
            const float x = float(position.x()), y = float(position.y());
            const RgbaImage skipping = synthesise(x, y);
            const RgbaImage full = synthesise(*everyStep, x, y);
            int differing = 0;
            for (size_t texel = 0; texel < full.texels.size(); texel += 4) {
                bool same = true;
                for (size_t channel = 0; channel < 3; ++channel)
                    same = same && skipping.texels[texel + channel] == full.texels[texel + channel];
                differing += same ? 0 : 1;
            }
            const ImageDifference skippingError = compareRgb(skipping, exactView(x, y));
            const ImageDifference fullError = compareRgb(full, exactView(x, y));
            qInfo("(%.2f, %.2f): %d texels differ; %.2f dB against %.2f dB", x, y, differing,
                  skippingError.psnr, fullError.psnr);
            QVERIFY2(differing <= m_options.width * m_options.height / 200,
                     qPrintable(QStringLiteral("%1 texels differ").arg(differing)));
            QVERIFY(skippingError.psnr >= fullError.psnr - 0.2);
        }
    }
};

QTEST_MAIN(SynthesisGLTest)
#include "SynthesisGLTest.moc"
