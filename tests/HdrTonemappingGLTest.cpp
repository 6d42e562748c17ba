#include "lightfield/LightfieldCamera.h"
#include "lightfield/LightfieldReader.h"
#include "lightfield/Rgbe.h"
#include "postprocessing/LinearPlaneStage.h"
#include "postprocessing/LuminanceStatistics.h"
#include "postprocessing/Reinhard05PostProcessors.h"
#include "support/GLImages.h"
#include "support/GLTestContext.h"
#include "support/LightfieldFiles.h"
#include "support/PhotoreceptorReference.h"
#include "support/PlaneBuilder.h"
#include "viewer/LightfieldRenderer.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <functional>

namespace {

// A table row of statistics.
struct ViewStatisticsRow
{
    ViewStatistics values;
};

} // namespace

Q_DECLARE_METATYPE(ViewStatisticsRow)

// The per-frame tone mapping of RGBE light fields: the linear plane stage, the photoreceptor
// operator of both post-processors against a CPU reference, their statistics and weights, the
// temporal smoothing, and whole frames of degenerate views.
class HdrTonemappingGLTest : public QObject
{
    Q_OBJECT

    GLTestContext m_gl;
    QTemporaryDir m_directory;

    // An RGBE file of columns × rows views of width × height, without disparity; texel(column,
    // row, x, y) gives linear RGB (x, y in file order, bottom row first).
    QString writeRgbeFile(const QString &name, int columns, int rows, int width, int height,
                          const std::function<void(int, int, int, int, float *)> &texel)
    {
        QByteArray content = QStringLiteral("%1 %2 %3 %4 20 0 1 0 0\n")
                                 .arg(width)
                                 .arg(height)
                                 .arg(columns * rows)
                                 .arg(columns)
                                 .toLatin1();
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < columns; ++column) {
                for (int y = 0; y < height; ++y) {
                    for (int x = 0; x < width; ++x) {
                        float rgb[3];
                        texel(column, row, x, y, rgb);
                        std::uint8_t rgbe[4];
                        encodeRgbe(rgb[0], rgb[1], rgb[2], rgbe);
                        content.append(reinterpret_cast<const char *>(rgbe), 4);
                    }
                }
            }
        }
        return writeTestFile(m_directory, name, content);
    }

    // One frame of the whole pipeline for a file: linear plane, camera at its start, the
    // post-processor, drawn into a window-sized target and read back.
    std::vector<std::uint8_t> renderFile(const QString &path, PostProcessor &postProcessor)
    {
        LightfieldReader reader(QUrl::fromLocalFile(path));
        const auto plane = buildHdrPlane(&reader);
        SimpleCamera camera(PipelineOptions(), plane.get());
        OffscreenTarget window(reader.width(), reader.height());
        window.bind();
        m_gl.gl()->glEnable(GL_TEXTURE_2D);
        renderPipelineFrame(camera, postProcessor, QPoint(), reader.width(), reader.height());
        m_gl.gl()->glDisable(GL_TEXTURE_2D);
        m_gl.gl()->glBindFramebuffer(GL_FRAMEBUFFER, 0);
        return readTextureBytes(window.texture(), reader.width(), reader.height());
    }

    // A CameraView whose own layers hold a half-float picture and the given statistics, with
    // four stored views that hold their own.
    struct Frame
    {
        FeatureLayers stored[4]; // base, right, diagonal, below
        std::unique_ptr<CameraView> view;
    };

    // Four views whose statistics differ in every value, for the cell of a frame.
    static constexpr ViewStatistics fourViews[4] = {{0.8, 0.5, 0.3, 0.55, -1.5, 0.01, 100.0, 0.4},
                                                    {2.0, 1.5, 1.0, 1.5, 0.2, 0.1, 200.0, 0.7},
                                                    {0.1, 0.1, 0.1, 0.1, -3.0, 0.001, 10.0, 0.9},
                                                    {5.0, 4.0, 3.0, 4.2, 1.0, 0.5, 50.0, 0.3}};

    static void setStatistics(FeatureLayers &layers, const ViewStatistics &statistics)
    {
        const double values[8] = {statistics.red,       statistics.green,        statistics.blue,
                                  statistics.luminance, statistics.logLuminance, statistics.minimum,
                                  statistics.maximum,   statistics.contrast};
        for (int parameter = AverageRed; parameter <= Contrast; ++parameter)
            layers.setParameter(parameter, float(values[parameter]));
    }

    static std::unique_ptr<Frame> makeFrame(int width, int height, const std::vector<float> &rgba,
                                            const ViewStatistics views[4], float offsetX,
                                            float offsetY)
    {
        auto frame = std::make_unique<Frame>();
        for (int i = 0; i < 4; ++i)
            setStatistics(frame->stored[i], views[i]);
        frame->view = std::make_unique<CameraView>(
            width, height, frame->stored[1], frame->stored[0], frame->stored[2], frame->stored[3]);
        frame->view->setLayer(TonemappedRgb, uploadRgba16F(width, height, rgba));
        const std::array<float, 4> w = cellWeights(offsetX, offsetY);
        for (int parameter = AverageRed; parameter <= Contrast; ++parameter) {
            float blended = 0.0f;
            for (int i = 0; i < 4; ++i)
                blended += w[size_t(i)] * frame->stored[i].getParameter(parameter);
            frame->view->setParameter(parameter, blended);
        }
        frame->view->setParameter(ViewOffsetX, offsetX);
        frame->view->setParameter(ViewOffsetY, offsetY);
        return frame;
    }

    // A half-float picture in gamma 2.2 (as the linear stage stores it) of linear values that
    // span four decades, and those linear values.
    static void testPicture(int width, int height, std::vector<float> *stored,
                            std::vector<double> *linear)
    {
        for (int i = 0; i < width * height; ++i) {
            const double value = std::pow(10.0, -2.0 + 4.0 * i / double(width * height - 1));
            const double rgb[3] = {value, value * 0.6, value * 0.3 + 0.01};
            for (int channel = 0; channel < 3; ++channel) {
                linear->push_back(rgb[channel]);
                stored->push_back(float(std::pow(rgb[channel], 1.0 / 2.2)));
            }
            stored->push_back(1.0f);
        }
    }

private slots:
    void initTestCase()
    {
        LF_CREATE_GL_CONTEXT(m_gl);
        QVERIFY(m_directory.isValid());
        loadShaderPrograms();
        for (ShaderProgram program :
             {ShaderProgram::LinearTonemapping, ShaderProgram::ReinhardTonemapping,
              ShaderProgram::DynamicReinhardTonemapping, ShaderProgram::SimpleWarp})
            QVERIFY2(isShaderProgramLinked(program), qPrintable(shaderFileName(program)));
    }

    void cleanup() { LF_VERIFY_NO_GL_ERROR(m_gl); }

    void linearPass_data()
    {
        QTest::addColumn<QVector<int>>("rgbe");
        QTest::addColumn<float>("whitePoint");
        QTest::addColumn<float>("gamma");
        QTest::addColumn<QVector<float>>("expected");
        const float tone = float(std::pow(128.0, 1.0 / 2.2)); // ≈ 9.07: above 1, kept
        QTest::newRow("128 with gamma 2.2") << QVector<int>({128, 128, 128, 136}) << 1.0f << 2.2f
                                            << QVector<float>({tone, tone, tone});
        QTest::newRow("decode only") << QVector<int>({1, 0, 200, 137}) << 1.0f << 1.0f
                                     << QVector<float>({2.0f, 0.0f, 400.0f});
        QTest::newRow("white point") << QVector<int>({64, 32, 16, 136}) << 4.0f << 1.0f
                                     << QVector<float>({16.0f, 8.0f, 4.0f});
        // Beyond the largest half float the value is held there, not turned into infinity.
        QTest::newRow("beyond half floats") << QVector<int>({255, 1, 0, 200}) << 1.0f << 1.0f
                                            << QVector<float>({65504.0f, 65504.0f, 0.0f});
    }

    void linearPass()
    {
        QFETCH(QVector<int>, rgbe);
        QFETCH(float, whitePoint);
        QFETCH(float, gamma);
        QFETCH(QVector<float>, expected);
        const std::vector<std::uint8_t> texel(rgbe.begin(), rgbe.end());
        ScopedFramebuffer framebuffer;
        const OwnedTexture out = linearTonemap(uploadRgba8(1, 1, texel), 1, 1, whitePoint, gamma);
        const std::vector<float> result = readTextureFloats(*out, 1, 1);
        for (int channel = 0; channel < 3; ++channel) {
            // Half floats keep 11 significant bits.
            QVERIFY2(std::abs(result[size_t(channel)] - expected[channel])
                         <= 1e-3f * std::max(1.0f, expected[channel]),
                     qPrintable(QStringLiteral("channel %1: %2, expected %3")
                                    .arg(channel)
                                    .arg(result[size_t(channel)])
                                    .arg(expected[channel])));
        }
    }

    void linearPassOverEveryMantissaAndManyExponents()
    {
        // Every mantissa byte in red (and in other orders in green and blue), a row per exponent,
        // against the curve in double precision: the pass takes a channel's power from its
        // mantissa's and its exponent's.
        const int width = 256, height = 8;
        const float whitePoint = 3.0f, gamma = 2.2f;
        std::vector<std::uint8_t> texels;
        for (int y = 0; y < height; ++y) {
            for (int m = 0; m < width; ++m) {
                const std::uint8_t texel[4] = {std::uint8_t(m), std::uint8_t(255 - m),
                                               std::uint8_t(m * 7 % 256),
                                               std::uint8_t(116 + 5 * y)};
                texels.insert(texels.end(), texel, texel + 4);
            }
        }
        ScopedFramebuffer framebuffer;
        const OwnedTexture out =
            linearTonemap(uploadRgba8(width, height, texels), width, height, whitePoint, gamma);
        const std::vector<float> result = readTextureFloats(*out, width, height);
        for (size_t texel = 0; texel < size_t(width) * height; ++texel) {
            for (size_t channel = 0; channel < 3; ++channel) {
                const double linear = texels[texel * 4 + channel]
                    * std::ldexp(1.0, texels[texel * 4 + 3] - 136) / double(whitePoint);
                const double expected = std::pow(linear, 1.0 / double(gamma));
                // Half floats keep 11 significant bits.
                if (std::abs(result[texel * 4 + channel] - expected)
                    > 1e-3 * std::max(expected, 1e-3))
                    QFAIL(qPrintable(QStringLiteral("texel %1 channel %2: %3, expected %4")
                                         .arg(texel)
                                         .arg(channel)
                                         .arg(result[texel * 4 + channel])
                                         .arg(expected)));
            }
        }
    }

    void linearPlaneStoresEveryViewWithItsStatistics()
    {
        // 2 columns, 3 rows; view k is uniformly lit at 2^k.
        const QString path = writeRgbeFile(QStringLiteral("grid.lf2d"), 2, 3, 3, 2,
                                           [](int column, int row, int x, int, float *rgb) {
                                               const float level =
                                                   std::ldexp(1.0f, row * 2 + column);
                                               rgb[0] = rgb[1] = rgb[2] = level * (1 + x);
                                           });
        LightfieldReader reader(QUrl::fromLocalFile(path));
        const auto plane = buildHdrPlane(&reader);
        QCOMPARE(plane->supportedLayers(), KeyList({TonemappedRgb}));
        QCOMPARE(plane->supportedParameters(),
                 KeyList({AverageRed, AverageGreen, AverageBlue, AverageLuminance,
                          AverageLogLuminance, MinLuminance, MaxLuminance, Contrast}));
        for (int row = 0; row < 3; ++row) {
            for (int column = 0; column < 2; ++column) {
                const FeatureLayers &view = plane->featureLayersAt(column, row);
                const float level = std::ldexp(1.0f, row * 2 + column);
                QCOMPARE(view.getParameter(MinLuminance), level);
                QCOMPARE(view.getParameter(MaxLuminance), 3 * level);
                QCOMPARE(view.getParameter(AverageRed), 2 * level);
                for (int parameter = AverageRed; parameter <= Contrast; ++parameter)
                    QVERIFY(view.hasParameter(parameter));
                QVERIFY(!view.hasLayer(RgbeImage));
                const std::vector<float> stored =
                    readTextureFloats(*view.getLayer(TonemappedRgb), 3, 2);
                QVERIFY(std::abs(stored[4] - std::pow(2 * level, 1 / 2.2f)) < 0.01f);
            }
        }
    }

    void operatorOfOneView()
    {
        // The plain operator, "m" 0: the contrast comes from the statistics.
        const int width = 16, height = 8;
        std::vector<float> stored;
        std::vector<double> linear;
        testPicture(width, height, &stored, &linear);
        const ViewStatistics view = {0.8, 0.5, 0.3, 0.55, std::log(0.2), 0.01, 100.0, 0.0};
        ScopedFramebuffer framebuffer;
        const OwnedTexture input = uploadRgba16F(width, height, stored);
        const OwnedTexture out =
            runPass({"operator", shaderProgram(ShaderProgram::ReinhardTonemapping), width, height,
                     PassFormat::Rgba16F},
                    {{input.get(), 0}}, [&](QOpenGLShaderProgram &program) {
                        program.setUniformValue("textureImage", 0);
                        program.setUniformValue("brightness", 1.0f);
                        program.setUniformValue("chromaticAdaptation", 0.5f);
                        program.setUniformValue("lightAdaptation", 0.7f);
                        program.setUniformValue("preGamma", 2.2f);
                        program.setUniformValue("m", 0.0f);
                        program.setUniformValue("averageRed", float(view.red));
                        program.setUniformValue("averageGreen", float(view.green));
                        program.setUniformValue("averageBlue", float(view.blue));
                        program.setUniformValue("averageLuminance", float(view.luminance));
                        program.setUniformValue("averageLogLuminance", float(view.logLuminance));
                        program.setUniformValue("minLuminance", float(view.minimum));
                        program.setUniformValue("maxLuminance", float(view.maximum));
                    });
        ViewStatistics derived = view;
        derived.contrast = referenceContrast(view.logLuminance, view.minimum, view.maximum);
        const std::vector<float> result = readTextureFloats(*out, width, height);
        for (int i = 0; i < width * height; ++i) {
            const std::array<double, 3> expected = tonemap(&linear[size_t(i) * 3], derived, 1.0);
            for (int channel = 0; channel < 3; ++channel)
                QVERIFY2(std::abs(result[size_t(i) * 4 + channel] - expected[size_t(channel)])
                             < 3e-3,
                         qPrintable(QStringLiteral("texel %1 channel %2: %3, expected %4")
                                        .arg(i)
                                        .arg(channel)
                                        .arg(result[size_t(i) * 4 + channel])
                                        .arg(expected[size_t(channel)])));
        }
    }

    // Statistics without a usable key (every one of these gives the contrast's fallback, 0.3) and
    // black texels under black averages, which are 0/0 for the operator: both operators against
    // the reference, the one-view operator deriving its contrast, the four-view one given the
    // contrast the linear stage stores for such a view.
    void operatorFallbacksGiveTheReference_data()
    {
        QTest::addColumn<ViewStatisticsRow>("view");
        QTest::newRow("all zero") << ViewStatisticsRow {{0, 0, 0, 0, std::log(1e-5), 0, 0, 0}};
        QTest::newRow("flat") << ViewStatisticsRow {
            {0.5, 0.5, 0.5, 0.5, std::log(0.5), 0.5, 0.5, 0}};
        QTest::newRow("black texel") << ViewStatisticsRow {{1, 1, 1, 1, -2, 0, 10, 0}};
        // The log average lies above ln max: the key is negative.
        QTest::newRow("dim") << ViewStatisticsRow {
            {2e-7, 2e-7, 2e-7, 2e-7, std::log(1.02e-5), 1e-7, 3e-7, 0}};
    }

    void operatorFallbacksGiveTheReference()
    {
        QFETCH(ViewStatisticsRow, view);
        ViewStatistics statistics = view.values;
        statistics.contrast =
            referenceContrast(statistics.logLuminance, statistics.minimum, statistics.maximum);
        QCOMPARE(statistics.contrast, 0.3);
        // Black, a dim red, grey and a bright colour, in gamma 2.2 as the linear stage stores
        // them.
        const std::vector<float> picture = {0, 0, 0, 1, 1e-4f, 0, 0, 1, 3, 3, 3, 1, 200, 0, 50, 1};
        std::vector<double> expected;
        for (size_t i = 0; i < picture.size(); i += 4) {
            double rgb[3];
            for (int channel = 0; channel < 3; ++channel)
                rgb[channel] = std::pow(halfFloat(picture[i + channel]), 2.2);
            const std::array<double, 3> mapped = tonemap(rgb, statistics, 0.0);
            expected.insert(expected.end(), mapped.begin(), mapped.end());
        }
        ScopedFramebuffer framebuffer;
        const OwnedTexture input = uploadRgba16F(4, 1, picture);
        const float one[4] = {1, 0, 0, 0};
        const float values[8] = {float(statistics.red),          float(statistics.green),
                                 float(statistics.blue),         float(statistics.luminance),
                                 float(statistics.logLuminance), float(statistics.minimum),
                                 float(statistics.maximum),      float(statistics.contrast)};
        // The variant that takes the contrast as given gets the one the CPU derives.
        const float derived = float(
            contrastExponent(statistics.logLuminance, statistics.minimum, statistics.maximum));
        for (ShaderProgram program :
             {ShaderProgram::ReinhardTonemapping, ShaderProgram::DynamicReinhardTonemapping,
              ShaderProgram::ReinhardTonemappingGivenContrast}) {
            const bool perView = program == ShaderProgram::DynamicReinhardTonemapping;
            const float singleContrast =
                program == ShaderProgram::ReinhardTonemappingGivenContrast ? derived : 0.0f;
            const OwnedTexture out = runPass(
                {"operator", shaderProgram(program), 4, 1, PassFormat::Rgba16F}, {{input.get(), 0}},
                [&](QOpenGLShaderProgram &shader) {
                    shader.setUniformValue("textureImage", 0);
                    shader.setUniformValue("brightness", 0.0f);
                    shader.setUniformValue("chromaticAdaptation", 0.5f);
                    shader.setUniformValue("lightAdaptation", 0.7f);
                    shader.setUniformValue("preGamma", 2.2f);
                    const char *names[8] = {
                        "averageRed",          "averageGreen", "averageBlue",  "averageLuminance",
                        "averageLogLuminance", "minLuminance", "maxLuminance", "m"};
                    for (int i = 0; i < 8; ++i) {
                        const float repeated[4] = {values[i], values[i], values[i], values[i]};
                        if (perView)
                            shader.setUniformValueArray((QByteArray(names[i]) + "[0]").constData(),
                                                        repeated, 4, 1);
                        else
                            shader.setUniformValue(names[i], i == 7 ? singleContrast : values[i]);
                    }
                    if (perView)
                        shader.setUniformValueArray("weight[0]", one, 4, 1);
                });
            const std::vector<float> result = readTextureFloats(*out, 4, 1);
            for (size_t i = 0; i < expected.size(); ++i) {
                const float got = result[i / 3 * 4 + i % 3];
                QVERIFY2(std::abs(got - expected[i]) < 3e-3,
                         qPrintable(QStringLiteral("%1, texel %2 channel %3: %4, expected %5")
                                        .arg(shaderFileName(program))
                                        .arg(i / 3)
                                        .arg(i % 3)
                                        .arg(got)
                                        .arg(expected[i])));
            }
        }
    }

    void interpolatingPostProcessor_data()
    {
        QTest::addColumn<float>("offsetX");
        QTest::addColumn<float>("offsetY");
        QTest::addColumn<QVector<float>>("weights");
        QTest::newRow("on the base view") << 0.0f << 0.0f << QVector<float>({1, 0, 0, 0});
        QTest::newRow("cell centre")
            << 0.5f << -0.5f << QVector<float>({0.25f, 0.25f, 0.25f, 0.25f});
        QTest::newRow("a quarter right") << 0.25f << 0.0f << QVector<float>({0.75f, 0.25f, 0, 0});
        // The shader leaves views without weight out in pairs; here the pair between the two
        // with weight.
        QTest::newRow("a quarter below") << 0.0f << -0.25f << QVector<float>({0.75f, 0, 0, 0.25f});
        // A nearest-view cell left of and above its view: the views beyond the base view are
        // on the other side of the camera and get no weight.
        QTest::newRow("left of the base view") << -0.3f << 0.4f << QVector<float>({1, 0, 0, 0});
    }

    void interpolatingPostProcessor()
    {
        QFETCH(float, offsetX);
        QFETCH(float, offsetY);
        QFETCH(QVector<float>, weights);
        const int width = 16, height = 8;
        std::vector<float> stored;
        std::vector<double> linear;
        testPicture(width, height, &stored, &linear);
        const ViewStatistics *views = fourViews;
        auto frame = makeFrame(width, height, stored, views, offsetX, offsetY);
        TonemappingInterpolatingReinhard05PostProcessor postProcessor(PipelineOptions(), 5.0f);
        QVERIFY(postProcessor.meetsRequirements(*frame->view));
        const OwnedTexture out = postProcessor.process(*frame->view);
        QVERIFY(!frame->view->hasLayer(TonemappedRgb));
        for (int i = 0; i < 4; ++i)
            QCOMPARE(postProcessor.weights()[size_t(i)], weights[i]);

        std::vector<double> expected;
        for (int i = 0; i < width * height; ++i) {
            double mixed[3] = {};
            for (int v = 0; v < 4; ++v) {
                const std::array<double, 3> mapped = tonemap(&linear[size_t(i) * 3], views[v], 5.0);
                for (int channel = 0; channel < 3; ++channel)
                    mixed[channel] += weights[v] * mapped[size_t(channel)];
            }
            expected.insert(expected.end(), mixed, mixed + 3);
        }
        expected = stretchedToTheirRange(expected);
        const std::vector<std::uint8_t> result = readTextureBytes(*out, width, height);
        for (int i = 0; i < width * height; ++i) {
            for (int channel = 0; channel < 3; ++channel) {
                const double want = expected[size_t(i) * 3 + channel];
                const int got = result[size_t(i) * 4 + channel];
                QVERIFY2(std::abs(got - want) <= 3.0,
                         qPrintable(QStringLiteral("texel %1 channel %2: %3, expected %4")
                                        .arg(i)
                                        .arg(channel)
                                        .arg(got)
                                        .arg(want)));
            }
        }
    }

    // In a window larger than the views the camera's picture is transparent black outside what
    // it drew. Both per-frame operators map only that part, and give the picture of the whole,
    // byte for byte: the black outside is opaque, and the luminance range still counts it.
    void perFrameOperatorsMapOnlyWhatTheCameraDrew()
    {
        const int width = 12, height = 10;
        const QRect drawn(3, 2, 6, 5);
        std::vector<float> picture(size_t(width) * height * 4, 0.0f);
        for (int y = drawn.top(); y <= drawn.bottom(); ++y) {
            for (int x = drawn.left(); x <= drawn.right(); ++x) {
                float *rgba = &picture[(size_t(y) * width + x) * 4];
                rgba[0] = 0.1f + 0.1f * x;
                rgba[1] = 0.2f + 0.15f * y;
                rgba[2] = 0.05f * (x + y);
                rgba[3] = 1.0f;
            }
        }
        const ViewStatistics *views = fourViews;
        const auto compare = [&](PostProcessor &forWhole, PostProcessor &forPart) {
            auto whole = makeFrame(width, height, picture, views, 0.3f, -0.6f);
            auto part = makeFrame(width, height, picture, views, 0.3f, -0.6f);
            part->view->setDrawn(drawn);
            const OwnedTexture expected = forWhole.process(*whole->view);
            const OwnedTexture mapped = forPart.process(*part->view);
            QCOMPARE(readTextureBytes(*mapped, width, height),
                     readTextureBytes(*expected, width, height));
        };
        TonemappingInterpolatingReinhard05PostProcessor interpolatingWhole(PipelineOptions(), 1.0f);
        TonemappingInterpolatingReinhard05PostProcessor interpolatingPart(PipelineOptions(), 1.0f);
        compare(interpolatingWhole, interpolatingPart);
        if (QTest::currentTestFailed())
            return;
        const auto stoppedClock = [] {
            return std::int64_t(0);
        };
        Reinhard05PostProcessor smoothedWhole(PipelineOptions(), 1.0f, stoppedClock);
        Reinhard05PostProcessor smoothedPart(PipelineOptions(), 1.0f, stoppedClock);
        compare(smoothedWhole, smoothedPart);
    }

    // The window leaves the stretch to its display draw instead of a pass of its own; what it
    // shows is what process() gives, byte for byte, black outside the drawn part included.
    void windowShowsWhatProcessGives()
    {
        const int width = 12, height = 10;
        std::vector<float> picture(size_t(width) * height * 4, 1.0f);
        for (size_t i = 0; i < picture.size(); ++i) {
            if (i % 4 != 3)
                picture[i] = 0.02f + 0.07f * float((i * 7) % 23);
        }
        const ViewStatistics *views = fourViews;
        const auto compare = [&](PostProcessor &forTexture, PostProcessor &forWindow) {
            auto first = makeFrame(width, height, picture, views, 0.3f, -0.6f);
            auto second = makeFrame(width, height, picture, views, 0.3f, -0.6f);
            first->view->setDrawn(QRect(2, 1, 8, 7));
            second->view->setDrawn(QRect(2, 1, 8, 7));
            const OwnedTexture expected = forTexture.process(*first->view);
            LuminanceStretch stretch;
            const OwnedTexture mapped = forWindow.processForDisplay(*second->view, stretch);
            // Stretches that leave the picture alone would not test the display's.
            QVERIFY(stretch.changesPicture());
            OffscreenTarget window(width, height);
            window.bind();
            displayTexture(*mapped, width, height, stretch);
            m_gl.gl()->glBindFramebuffer(GL_FRAMEBUFFER, 0);
            QCOMPARE(readTextureBytes(window.texture(), width, height),
                     readTextureBytes(*expected, width, height));
        };
        TonemappingInterpolatingReinhard05PostProcessor interpolatingTexture(PipelineOptions(),
                                                                             1.0f);
        TonemappingInterpolatingReinhard05PostProcessor interpolatingWindow(PipelineOptions(),
                                                                            1.0f);
        compare(interpolatingTexture, interpolatingWindow);
        if (QTest::currentTestFailed())
            return;
        const auto stoppedClock = [] {
            return std::int64_t(0);
        };
        Reinhard05PostProcessor smoothedTexture(PipelineOptions(), 1.0f, stoppedClock);
        Reinhard05PostProcessor smoothedWindow(PipelineOptions(), 1.0f, stoppedClock);
        compare(smoothedTexture, smoothedWindow);
    }

    void smoothedStatisticsFollowAFakeClock()
    {
        std::int64_t now = 1000;
        Reinhard05PostProcessor postProcessor(PipelineOptions(), 0.0f, [&now] { return now; });
        const int width = 4, height = 4;
        std::vector<float> stored(size_t(width) * height * 4, 0.5f);
        for (size_t i = 0; i < stored.size(); i += 8)
            stored[i] = 0.9f;
        ViewStatistics views[4];
        std::fill(views, views + 4, ViewStatistics {1, 1, 1, 1, 0, 0.5, 2, 0});

        // The first frame seeds the statistics: no time has passed and they are used as they
        // are, so the picture has nowhere to go.
        auto first = makeFrame(width, height, stored, views, 0, 0);
        postProcessor.process(*first->view);
        QCOMPARE(postProcessor.adaptationFactor(), 1.0f);
        QCOMPARE(postProcessor.statistics().averageLuminance(), 1.0);
        QVERIFY(postProcessor.smoothedMaxLuminance() > 0.0f);
        QVERIFY(!postProcessor.isAdapting());

        // Half a second later the camera has moved and the view's average is 2. The window
        // drew nothing meanwhile, its picture adapted: the adaptation starts with this frame.
        now += 500;
        std::fill(views, views + 4, ViewStatistics {2, 2, 2, 2, 0.5, 0.5, 4, 0});
        auto moved = makeFrame(width, height, stored, views, 0, 0);
        postProcessor.process(*moved->view);
        QCOMPARE(postProcessor.adaptationFactor(), 1.0f);
        QCOMPARE(postProcessor.statistics().averageLuminance(), 1.0);
        QVERIFY(postProcessor.isAdapting());

        // 150 ms later α = e^-1 and 1 becomes (1 − α)·2 + α·1.
        now += 150;
        auto second = makeFrame(width, height, stored, views, 0, 0);
        postProcessor.process(*second->view);
        QVERIFY(std::abs(postProcessor.adaptationFactor() - std::exp(-1.0)) < 1e-6);
        QVERIFY(std::abs(postProcessor.statistics().averageLuminance() - 1.632) < 1e-3);
        QVERIFY(std::abs(postProcessor.statistics().maxLuminance() - (2 + 2 * (1 - std::exp(-1.0))))
                < 1e-3);
        QVERIFY(postProcessor.isAdapting());
        // A long pause while adapting (a window hidden, say) adapts fully, to the view's own
        // values.
        now += 10000;
        auto third = makeFrame(width, height, stored, views, 0, 0);
        postProcessor.process(*third->view);
        QCOMPARE(postProcessor.statistics().averageLuminance(), 2.0);
        QCOMPARE(postProcessor.statistics().maxLuminance(), 4.0);
        QVERIFY(!postProcessor.isAdapting());
    }

    // Frames 16 ms apart after a change of light: the smoothed values approach the camera's
    // until they take them, and from then on the picture stands still and asks for no frame.
    // It is the picture of the view's own statistics, where the smoothing was heading.
    void adaptationSettlesAndStops()
    {
        std::int64_t now = 0;
        Reinhard05PostProcessor postProcessor(PipelineOptions(), 0.0f, [&now] { return now; });
        const int width = 8, height = 6;
        std::vector<float> stored;
        std::vector<double> linear;
        testPicture(width, height, &stored, &linear);
        ViewStatistics views[4];
        std::fill(views, views + 4, ViewStatistics {0.2, 0.2, 0.2, 0.2, -2.0, 0.01, 5, 0});
        auto dim = makeFrame(width, height, stored, views, 0, 0);
        const OwnedTexture dimOut = postProcessor.process(*dim->view);
        const std::vector<std::uint8_t> dimPicture = readTextureBytes(*dimOut, width, height);
        QVERIFY(!postProcessor.isAdapting());

        const ViewStatistics bright {3, 2.5, 2, 2.6, 0.4, 0.05, 90, 0};
        std::fill(views, views + 4, bright);
        std::vector<std::uint8_t> last;
        int frames = 0;
        do {
            now += 16;
            auto frame = makeFrame(width, height, stored, views, 0, 0);
            const OwnedTexture out = postProcessor.process(*frame->view);
            last = readTextureBytes(*out, width, height);
            ++frames;
        } while (postProcessor.isAdapting() && frames < 1000);

        // Within the tolerance after about ln(relative change / tolerance) time constants.
        QVERIFY2(frames > 10 && frames < 200, qPrintable(QString::number(frames)));
        const LuminanceStatistics &settled = postProcessor.statistics();
        QCOMPARE(settled.averageRed(), double(float(bright.red)));
        QCOMPARE(settled.averageLuminance(), double(float(bright.luminance)));
        QCOMPARE(settled.averageLogLuminance(), double(float(bright.logLuminance)));
        QCOMPARE(settled.minLuminance(), double(float(bright.minimum)));
        QCOMPARE(settled.maxLuminance(), double(float(bright.maximum)));
        QVERIFY(last != dimPicture);
        Reinhard05PostProcessor seeded(PipelineOptions(), 0.0f, [&now] { return now; });
        auto fresh = makeFrame(width, height, stored, views, 0, 0);
        const OwnedTexture freshOut = seeded.process(*fresh->view);
        QCOMPARE(last, readTextureBytes(*freshOut, width, height));

        // Later frames of the same view, however far apart, show the same picture.
        for (std::int64_t pause : {16, 5000}) {
            now += pause;
            auto again = makeFrame(width, height, stored, views, 0, 0);
            const OwnedTexture out = postProcessor.process(*again->view);
            QCOMPARE(readTextureBytes(*out, width, height), last);
            QVERIFY(!postProcessor.isAdapting());
        }
    }

    void smoothedRangeIsTruncatedWithoutFlicker()
    {
        QCOMPARE(smoothedRangeByte(12.9f), 12);
        QCOMPARE(smoothedRangeByte(200.7f), 200);
        // A steady range blended with itself at any adaptation factor stays what it is.
        for (int step = 0; step <= 1000; ++step) {
            const float alpha = float(std::exp(-step / 100.0));
            for (int value : {3, 57, 200, 254}) {
                const float blended = (1.0f - alpha) * float(value) + alpha * float(value);
                QCOMPARE(smoothedRangeByte(blended), value);
            }
        }
    }

    void blackFirstPictureSeedsTheRangeAgain()
    {
        std::int64_t now = 0;
        Reinhard05PostProcessor postProcessor(PipelineOptions(), 0.0f, [&now] { return now; });
        ViewStatistics views[4];
        std::fill(views, views + 4, ViewStatistics {0, 0, 0, 0, std::log(1e-5), 0, 0, 0});
        auto black = makeFrame(2, 2, std::vector<float>(16, 0.0f), views, 0, 0);
        const OwnedTexture blackOut = postProcessor.process(*black->view);
        QCOMPARE(postProcessor.smoothedMaxLuminance(), 0.0f);
        QCOMPARE(
            readTextureBytes(*blackOut, 2, 2),
            std::vector<std::uint8_t>({0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255}));

        now += 16;
        std::fill(views, views + 4, ViewStatistics {1, 1, 1, 1, 0, 0.25, 4, 0});
        std::vector<float> lit = {0.5f, 0.5f, 0.5f, 1, 1,    1,    1,    1,
                                  0.8f, 0.8f, 0.8f, 1, 0.2f, 0.2f, 0.2f, 1};
        auto next = makeFrame(2, 2, lit, views, 0, 0);
        postProcessor.process(*next->view);
        // Seeded from its own measurement, not blended with the black frame's nothing.
        QVERIFY(postProcessor.smoothedMaxLuminance() > 100.0f);
        QVERIFY(postProcessor.smoothedMinLuminance() < postProcessor.smoothedMaxLuminance());
    }

    void degenerateViewsGiveSensiblePictures_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("all black") << 0;
        QTest::newRow("flat grey") << 1;
        QTest::newRow("one black texel") << 2;
        QTest::newRow("a single bright pixel") << 3;
        QTest::newRow("luminances near 1e-5") << 4;
    }

    void degenerateViewsGiveSensiblePictures()
    {
        QFETCH(int, kind);
        const int width = 8, height = 6;
        auto texel = [kind](int, int, int x, int y, float *rgb) {
            float value = 0.0f;
            switch (kind) {
            case 0:
                break;
            case 1:
                value = 0.5f;
                break;
            case 2:
                value = (x == 0 && y == 0) ? 0.0f : 0.1f + 0.3f * x;
                break;
            case 3:
                value = (x == 5 && y == 4) ? 5000.0f : 0.001f;
                break;
            case 4:
                value = 1e-5f * (1.0f + 0.2f * x);
                break;
            }
            rgb[0] = rgb[1] = rgb[2] = value;
        };
        const QString path = writeRgbeFile(QStringLiteral("degenerate%1.lf2d").arg(kind), 2, 2,
                                           width, height, texel);

        // The statistics the stage stores are finite, whatever the view.
        {
            LightfieldReader reader(QUrl::fromLocalFile(path));
            const auto plane = buildHdrPlane(&reader);
            for (int parameter = AverageRed; parameter <= Contrast; ++parameter)
                QVERIFY(std::isfinite(plane->featureLayersAt(0, 0).getParameter(parameter)));
        }

        TonemappingInterpolatingReinhard05PostProcessor interpolating(PipelineOptions(), 5.0f);
        Reinhard05PostProcessor smoothed(PipelineOptions(), 0.0f);
        for (PostProcessor *postProcessor : {static_cast<PostProcessor *>(&interpolating),
                                             static_cast<PostProcessor *>(&smoothed)}) {
            const std::vector<std::uint8_t> shown = renderFile(path, *postProcessor);
            auto at = [&](int x, int y) {
                // The window shows the picture upright; GL rows count from the bottom, as the
                // file's do.
                return int(shown[(size_t(y) * width + x) * 4]);
            };
            int darkest = 255, brightest = 0;
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    darkest = std::min(darkest, at(x, y));
                    brightest = std::max(brightest, at(x, y));
                }
            }
            switch (kind) {
            case 0:
                QCOMPARE(brightest, 0); // black stays black, not a NaN of any colour
                break;
            case 1:
                QCOMPARE(darkest, brightest); // flat stays flat
                QVERIFY(brightest > 0);
                break;
            case 2:
                QCOMPARE(at(0, 0), 0);
                QVERIFY(brightest > 200); // the stretch uses the range
                for (int x = 1; x + 1 < width; ++x)
                    QVERIFY(at(x + 1, 3) >= at(x, 3));
                break;
            case 3:
                QCOMPARE(at(5, 4), brightest);
                QVERIFY(brightest > 200);
                QVERIFY(at(0, 0) < brightest);
                break;
            case 4:
                // The operator adapts to absolute luminance: at brightness 0 a scene this dim
                // maps below one 8-bit step and stays dark, at brightness 5 it is a picture
                // whose gradient survives the stretch. Either way it is ordered, not noise.
                for (int x = 0; x + 1 < width; ++x)
                    QVERIFY(at(x + 1, 2) >= at(x, 2));
                if (postProcessor == &interpolating)
                    QVERIFY(brightest - darkest > 100);
                break;
            }
        }
    }
};

QTEST_MAIN(HdrTonemappingGLTest)
#include "HdrTonemappingGLTest.moc"
