#include "deliverables/BuildConfiguration.h"
#include "lightfield/LightfieldPlane.h"
#include "lightfield/LightfieldReader.h"
#include "lightfield/Rgbe.h"
#include "postprocessing/PlaneStages.h"
#include "support/GLImages.h"
#include "support/GLTestContext.h"
#include "support/LightfieldFiles.h"
#include "support/PlaneBuilder.h"
#include "support/TestPrograms.h"
#include "viewer/gpu/GpuPass.h"
#include "viewer/gpu/ShaderLibrary.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

// The plane of an 8-bit file: views stored in file order, disparity converted to half floats with
// the RGBE decoding, the checked setters, and transparent black outside every stored texture.
class LightfieldPlaneGLTest : public QObject
{
    Q_OBJECT

    GLTestContext m_gl;
    QTemporaryDir m_directory;

    QString write(const QString &name, const QByteArray &content)
    {
        return writeTestFile(m_directory, name, content);
    }

    // RGBE disparity images whose texels cover many exponents, as the file stores them.
    static QByteArray disparityImage(int texels, int seed, std::vector<float> *decoded)
    {
        QByteArray bytes;
        for (int i = 0; i < texels; ++i) {
            // Every fifth texel is stored unnormalised, a mantissa of 1 under an exponent larger
            // than any other's: the largest exponent need not hold the largest value.
            const bool unnormalised = i % 5 == 2;
            const std::uint8_t texel[4] = {
                std::uint8_t(unnormalised ? 1 : 128 + (i * 13 + seed) % 128), std::uint8_t(i),
                std::uint8_t(seed), std::uint8_t(unnormalised ? 142 : 128 + (i + seed) % 14)};
            bytes.append(reinterpret_cast<const char *>(texel), 4);
            float rgb[3];
            decodeRgbe(texel, rgb);
            decoded->push_back(rgb[0]);
        }
        return bytes;
    }

private slots:
    void initTestCase()
    {
        LF_CREATE_GL_CONTEXT(m_gl);
        loadShaderPrograms();
        QVERIFY(isShaderProgramLinked(ShaderProgram::RgbeToFloat));
    }

    void cleanup() { LF_VERIFY_NO_GL_ERROR(m_gl); }

    void eightBitGridInFileOrder()
    {
        const QByteArray data = patternBytes(6 * 48, 9);
        LightfieldReader reader(QUrl::fromLocalFile(
            write(QStringLiteral("grid.lf2d"), "4 3 6 3 10 5 0 0 04\n" + data)));
        std::unique_ptr<LightfieldPlane> plane = buildLdrPlane(&reader);

        QCOMPARE(plane->supportedLayers(), KeyList({LdrRgb}));
        QCOMPARE(plane->supportedParameters(), KeyList());
        QCOMPARE(plane->columns(), 3);
        QCOMPARE(plane->rows(), 2);
        QCOMPARE(plane->width(), 4);
        QCOMPARE(plane->height(), 3);
        QCOMPARE(plane->viewSpacing(), 10);
        QCOMPARE(plane->reservedValue(), 5);
        QCOMPARE(plane->maxDisparity(), 4);
        for (int view = 0; view < 6; ++view) {
            const int column = view % 3;
            const int row = view / 3;
            const auto bytes = readTextureBytes(*plane->layerAt(column, row, LdrRgb), 4, 3);
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(bytes.data()), 48),
                     data.mid(view * 48, 48));
            QCOMPARE(plane->layerAt(column, row, Disparity), nullptr);
            QCOMPARE(&plane->featureLayersAt(column, row), &plane->featureLayersAt(column, row));
        }
        QCOMPARE(reader.viewsRead(), 6);
        QVERIFY(plane->supportsLayer(LdrRgb));
        QVERIFY(!plane->supportsLayer(Disparity));
    }

    void disparityConvertedToHalfFloats()
    {
        std::vector<float> expected;
        QByteArray data;
        for (int view = 0; view < 4; ++view) {
            data += patternBytes(5 * 4 * 4, view);
            data += disparityImage(5 * 4, view, &expected);
        }
        LightfieldReader reader(QUrl::fromLocalFile(
            write(QStringLiteral("disparity.lf2d"), "5 4 4 2 10 0 0 1 05\n" + data)));
        std::unique_ptr<LightfieldPlane> plane = buildLdrPlane(&reader);
        QCOMPARE(plane->supportedLayers(), KeyList({LdrRgb, Disparity, DisparityTiles}));

        for (int view = 0; view < 4; ++view) {
            const FeatureLayers &layers = plane->featureLayersAt(view % 2, view / 2);
            QVERIFY(!layers.hasLayer(RgbeDisparity));
            QOpenGLTexture *disparity = layers.getLayer(Disparity);
            QVERIFY(disparity);
            QCOMPARE(disparity->format(), QOpenGLTexture::R16F);
            const auto texels = readTextureFloats(*disparity, 5, 4);
            for (int i = 0; i < 20; ++i) {
                const float reference = expected[size_t(view) * 20 + i];
                // Half floats keep 11 significant bits.
                QVERIFY2(std::abs(texels[size_t(i) * 4] - reference) <= reference / 1024.0f,
                         qPrintable(QStringLiteral("view %1 texel %2: %3 instead of %4")
                                        .arg(view)
                                        .arg(i)
                                        .arg(texels[size_t(i) * 4])
                                        .arg(reference)));
            }
            // What the conversion pass makes of the same image, uploaded.
            const QByteArray stored = data.mid(view * 2 * 80 + 80, 80);
            ScopedFramebuffer framebuffer;
            const OwnedTexture converted = convertDisparity(
                uploadRgba8(5, 4, std::vector<std::uint8_t>(stored.begin(), stored.end())), 5, 4);
            QCOMPARE(readTextureFloats(*converted, 5, 4), texels);
        }
    }

    // Every mantissa at every exponent from far below the half floats' smallest step to the top
    // of their range: the nearest half float, ties to even. An 8-bit mantissa fits a half
    // float's normal range exactly; below 2^-14 the steps are 2^-24 and the value rounds (the
    // software driver's own conversion flushes it to 0 there instead).
    void disparityRoundsToTheNearestHalfFloat()
    {
        const int width = 256, height = 49, lowestExponent = 96;
        std::vector<std::uint8_t> image;
        for (int row = 0; row < height; ++row) {
            for (int mantissa = 0; mantissa < width; ++mantissa) {
                const std::uint8_t texel[4] = {std::uint8_t(mantissa), 0, 0,
                                               std::uint8_t(lowestExponent + row)};
                image.insert(image.end(), texel, texel + 4);
            }
        }
        std::vector<std::uint16_t> halfFloats;
        const OwnedTexture map = uploadDisparity(image.data(), width, height, halfFloats);
        const std::vector<float> texels = readTextureFloats(*map, width, height);
        for (int i = 0; i < width * height; ++i) {
            const double value = std::ldexp(double(i % width), lowestExponent + i / width - 136);
            const double smallestNormal = std::ldexp(1.0, -14);
            const double expected = value >= smallestNormal
                ? value
                : std::ldexp(std::nearbyint(std::ldexp(value, 24)), -24);
            QVERIFY2(double(texels[size_t(i) * 4]) == expected,
                     qPrintable(QStringLiteral("mantissa %1, exponent byte %2: %3, not %4")
                                    .arg(i % width)
                                    .arg(lowestExponent + i / width)
                                    .arg(double(texels[size_t(i) * 4]))
                                    .arg(expected)));
        }
    }

    // The warp gathers a map's texels across its edges and takes 0 there, as it does for a pass's
    // output; a disparity no half float holds stays finite, and one below the half floats' normal
    // range keeps its finer steps.
    void disparityMapReadsZeroBeyondItsEdgesAndStaysFinite()
    {
        // 255 × 2^100, 8 × 2^-6, 255 × 2^-23 (a half float below 2^-14) and 1 × 2^-36 (too
        // small for any).
        const std::uint8_t disparity[16] = {255, 0, 0, 236, 8, 0, 0, 130,
                                            255, 0, 0, 113, 1, 0, 0, 100};
        LightfieldReader reader(QUrl::fromLocalFile(
            write(QStringLiteral("extremes.lf2d"),
                  "4 1 2 2 10 0 0 1 04\n" + patternBytes(4 * 4, 0)
                      + QByteArray(reinterpret_cast<const char *>(disparity), 16)
                      + patternBytes(8 * 4, 1))));
        std::unique_ptr<LightfieldPlane> plane = buildLdrPlane(&reader);
        QOpenGLTexture *map = plane->layerAt(0, 0, Disparity);
        QVERIFY(map);
        const auto texels = readTextureFloats(*map, 4, 1);
        QCOMPARE(texels[0], 65504.0f);
        QCOMPARE(texels[4], 0.125f);
        QCOMPARE(texels[8], std::ldexp(255.0f, -23));
        QCOMPARE(texels[12], 0.0f);

        QOpenGLFunctions_3_3_Core *gl = m_gl.gl();
        gl->glActiveTexture(GL_TEXTURE0);
        gl->glBindTexture(GL_TEXTURE_2D, map->textureId());
        GLint minFilter = 0, magFilter = 0, wrapS = 0, wrapT = 0;
        GLfloat border[4] = {1.0f, 1.0f, 1.0f, 0.0f};
        gl->glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
        gl->glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
        gl->glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrapS);
        gl->glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrapT);
        gl->glGetTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, border);
        gl->glBindTexture(GL_TEXTURE_2D, 0);
        QCOMPARE(minFilter, GLint(GL_NEAREST));
        QCOMPARE(magFilter, GLint(GL_NEAREST));
        QCOMPARE(wrapS, GLint(GL_CLAMP_TO_BORDER));
        QCOMPARE(wrapT, GLint(GL_CLAMP_TO_BORDER));
        QCOMPARE(border[0], 0.0f);
    }

    void disparityTilesHoldTheLargestDisparity()
    {
        // The last column and row of tiles are partial.
        const int width = 2 * disparityTileSize + 5, height = disparityTileSize + 3;
        std::vector<float> decoded;
        const QByteArray data =
            patternBytes(width * height * 4, 3) + disparityImage(width * height, 5, &decoded);
        LightfieldReader reader(QUrl::fromLocalFile(write(
            QStringLiteral("tiles.lf2d"),
            QStringLiteral("%1 %2 1 1 10 0 0 1 05\n").arg(width).arg(height).toLatin1() + data)));
        std::unique_ptr<LightfieldPlane> plane = buildLdrPlane(&reader);
        const int columns = (width + disparityTileSize - 1) / disparityTileSize;
        const int rows = (height + disparityTileSize - 1) / disparityTileSize;
        QOpenGLTexture *tiles = plane->layerAt(0, 0, DisparityTiles);
        QVERIFY(tiles);
        QCOMPARE(QSize(tiles->width(), tiles->height()), QSize(columns, rows));
        const auto largest = readTextureFloats(*tiles, columns, rows);
        const auto converted = readTextureFloats(*plane->layerAt(0, 0, Disparity), width, height);
        for (int tileRow = 0; tileRow < rows; ++tileRow) {
            for (int tileColumn = 0; tileColumn < columns; ++tileColumn) {
                float expected = 0.0f, convertedLargest = 0.0f;
                for (int y = tileRow * disparityTileSize;
                     y < std::min(height, (tileRow + 1) * disparityTileSize); ++y) {
                    for (int x = tileColumn * disparityTileSize;
                         x < std::min(width, (tileColumn + 1) * disparityTileSize); ++x) {
                        const size_t texel = size_t(y) * width + x;
                        expected = std::max(expected, decoded[texel]);
                        convertedLargest = std::max(convertedLargest, converted[texel * 4]);
                    }
                }
                const float actual = largest[(size_t(tileRow) * columns + tileColumn) * 4];
                const QByteArray where = QStringLiteral("tile (%1, %2): %3 instead of %4")
                                             .arg(tileColumn)
                                             .arg(tileRow)
                                             .arg(actual)
                                             .arg(expected)
                                             .toLocal8Bit();
                QVERIFY2(actual == expected, where.constData());
                // The half-float map may round a texel up, by at most one part in 2048.
                QVERIFY2(convertedLargest <= actual * (1.0f + 1.0f / 2048.0f), where.constData());
            }
        }
    }

    void buildingLeavesTheDefaultState()
    {
        LightfieldReader reader(QUrl::fromLocalFile(
            write(QStringLiteral("state.lf2d"), "2 2 1 1 10 0 0 1 02\n" + patternBytes(32, 1))));
        buildLdrPlane(&reader);
        GLint framebuffer = -1, program = -1, unit = -1;
        m_gl.gl()->glGetIntegerv(GL_FRAMEBUFFER_BINDING, &framebuffer);
        m_gl.gl()->glGetIntegerv(GL_CURRENT_PROGRAM, &program);
        m_gl.gl()->glGetIntegerv(GL_ACTIVE_TEXTURE, &unit);
        QCOMPARE(framebuffer, 0);
        QCOMPARE(program, 0);
        QCOMPARE(unit, GL_TEXTURE0);
    }

    void checkedSetters()
    {
        LightfieldPlane plane(KeyList {LdrRgb}, KeyList {}, 2, 2, 2, 2, 10, 0, 16);
        OwnedTexture texture = std::make_unique<QOpenGLTexture>(QOpenGLTexture::Target2D);
        QCOMPARE(configurationErrorOf(
                     [&] { plane.setFeatureLayer(1, 1, TonemappedRgb, std::move(texture)); }),
                 QStringLiteral("LightfieldPlane does not support this FeatureLayer"));
        QVERIFY(!plane.featureLayersAt(1, 1).hasLayer(TonemappedRgb));
        // The refused texture stays with the caller.
        QVERIFY(texture);
        QCOMPARE(configurationErrorOf([&] { plane.setParameter(0, 1, AverageRed, 1.0f); }),
                 QStringLiteral("LightfieldPlane does not support this Parameter"));
        QCOMPARE(configurationErrorOf([&] { plane.setParameter(0, 1, 42, 1.0f); }),
                 QStringLiteral("LightfieldPlane does not support this Parameter"));

        LightfieldPlane withParameters(KeyList {TonemappedRgb}, KeyList {AverageRed, Contrast}, 2,
                                       2, 1, 1, 10, 0, 16);
        withParameters.setParameter(0, 0, Contrast, 0.5f);
        QCOMPARE(withParameters.featureLayersAt(0, 0).getParameter(Contrast), 0.5f);
    }

    void storedTexturesAreTransparentOutside()
    {
        LightfieldReader reader(QUrl::fromLocalFile(write(
            QStringLiteral("border.lf2d"), "2 2 1 1 10 0 0 1 02\n" + QByteArray(32, char(200)))));
        std::unique_ptr<LightfieldPlane> plane = buildLdrPlane(&reader);
        auto sampler =
            makeTestProgram("#version 330 compatibility\n"
                            "uniform sampler2D textureImage;\n"
                            "in vec2 uv;\n"
                            "layout(location = 0) out vec4 colour;\n"
                            "void main() { colour = texture(textureImage, 3.0 * uv - 1.0); }\n");
        QVERIFY(sampler);
        for (int layer : {int(LdrRgb), int(Disparity)}) {
            ScopedFramebuffer framebuffer;
            const OwnedTexture output =
                runPass({"outside sampling", *sampler, 6, 6, PassFormat::Rgba16F},
                        {{plane->layerAt(0, 0, layer), 0}}, [](QOpenGLShaderProgram &program) {
                            program.setUniformValue("textureImage", 0);
                        });
            const auto texels = readTextureFloats(*output, 6, 6);
            for (int y = 0; y < 6; ++y) {
                for (int x = 0; x < 6; ++x) {
                    const bool inside = x >= 2 && x < 4 && y >= 2 && y < 4;
                    const float *texel = &texels[(size_t(y) * 6 + x) * 4];
                    if (!inside) {
                        // A single-channel texture reads its missing alpha as 1, border or not.
                        const int channels = layer == Disparity ? 3 : 4;
                        const QVector<float> actual(texel, texel + channels);
                        QVERIFY2(actual == QVector<float>(channels, 0.0f),
                                 qPrintable(QStringLiteral("layer %1 at (%2, %3): %4 %5 %6 %7")
                                                .arg(layer)
                                                .arg(x)
                                                .arg(y)
                                                .arg(texel[0])
                                                .arg(texel[1])
                                                .arg(texel[2])
                                                .arg(texel[3])));
                    } else {
                        QVERIFY(texel[0] > 0.0f);
                    }
                }
            }
        }
    }

    void everyBuildHasAnRgbeStage()
    {
        // An RGBE file goes through the build's own plane stage: the linear stage keeps
        // half-float colour and the statistics for a tone-mapping post-processor, the others
        // finish 8-bit views at load.
        const QString path =
            write(QStringLiteral("hdr.lf2d"), "2 2 2 2 10 0 1 1 2\n" + patternBytes(4 * 16, 2));
        for (const BuildConfiguration &configuration : buildConfigurations()) {
            LightfieldReader reader(QUrl::fromLocalFile(path));
            const auto plane = createLightfieldPlane(PipelineOptions(), &reader, configuration);
            QVERIFY2(plane, configuration.name.c_str());
            QCOMPARE(reader.viewsRead(), 2);
            const bool linear = configuration.planeStage == HdrPlaneStage::Linear;
            QCOMPARE(plane->supportedLayers(),
                     KeyList({linear ? int(TonemappedRgb) : int(LdrRgb), int(Disparity),
                              int(DisparityTiles)}));
            QCOMPARE(int(plane->supportedParameters().size()), linear ? 8 : 0);
            for (int column = 0; column < 2; ++column) {
                QVERIFY(plane->layerAt(column, 0, linear ? TonemappedRgb : LdrRgb));
                QVERIFY(plane->layerAt(column, 0, Disparity));
                QVERIFY(!plane->layerAt(column, 0, RgbeImage));
            }
        }
    }
};

QTEST_MAIN(LightfieldPlaneGLTest)
#include "LightfieldPlaneGLTest.moc"
