#include "Lf2dWriter.h"
#include "SyntheticScene.h"
#include "lightfield/LightfieldReader.h"
#include "lightfield/Rgbe.h"
#include "postprocessing/BilateralPlaneStage.h"
#include "support/BilateralGridReference.h"
#include "support/GLImages.h"
#include "support/GLTestContext.h"
#include "support/LightfieldFiles.h"
#include "support/PlaneBuilder.h"
#include "viewer/gpu/GpuPass.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The reference's constants for the settings a pass runs with.
BilateralConstants constantsOf(const BilateralSettings &settings)
{
    return {settings.absoluteScale,
            settings.compressionFactor,
            settings.disparityEdgeCompressionFactor,
            settings.filterSize,
            settings.gaussSigmaPosition,
            settings.gaussSigmaIntensity,
            settings.gaussSigmaDisparity,
            settings.colourCorrection,
            settings.sampling == BilateralSampling::EveryTexel ? 1 : 5};
}

// What the pass computes for the settings, on the CPU: the grid, or the window in cells.
std::vector<double> referenceOf(const HdrView &view, bool useDisparity,
                                const BilateralSettings &settings)
{
    if (settings.sampling == BilateralSampling::Grid)
        return referenceGridBilateral(view, useDisparity, constantsOf(settings));
    return referenceBilateral(view, useDisparity, constantsOf(settings));
}

int toByte(double display)
{
    return int(std::lround(std::clamp(display, 0.0, 1.0) * 255.0));
}

// The base layer B of a grey texel of log luminance I, recovered from its output byte: undoing
// the display encoding gives the mapped log luminance c B + (I - B) - absoluteScale.
double baseOfGreyOutput(int byte, double intensity, const BilateralSettings &settings)
{
    const double mapped = std::log2(std::pow(byte / 255.0, 2.2));
    return (mapped + settings.absoluteScale - intensity) / (settings.compressionFactor - 1.0);
}

RgbaImage imageOfBytes(const Bytes &bytes, int width, int height)
{
    RgbaImage image {width, height, {}};
    for (std::uint8_t byte : bytes)
        image.texels.push_back(byte / 255.0f);
    return image;
}

// A textured dim half beside a bright half, eight to twelve stops apart, with colour and a texel
// with an empty channel. Disparity comes in three patches, one of them across the bright edge;
// the other borders are steps of about a stop, which the intensity weight alone hardly sees.
HdrView edgeView(int width, int height)
{
    return makeView(
        width, height,
        [width, height](int x, int y, float rgb[3]) {
            if (x < width / 2) {
                const float level =
                    (y < height / 2 ? 0.05f : 0.1f) * std::exp2(float((x * 7 + y * 3) % 8) / 3.0f);
                rgb[0] = level * 1.3f, rgb[1] = level, rgb[2] = level * 0.5f;
            } else {
                const float level = (x > width * 3 / 4 ? 480.0f : 300.0f)
                    * std::exp2(float((x * 5 + y * 11) % 6) / 4.0f);
                rgb[0] = level * 0.6f, rgb[1] = level, rgb[2] = level * 1.4f;
            }
            if (x == 3 && y == 4)
                rgb[1] = 0.0f;
        },
        [width, height](int x, int y) {
            if (x > width * 3 / 4)
                return 2.25f;
            return y < height / 2 ? 1.0f : 4.5f;
        });
}

} // namespace

Q_DECLARE_METATYPE(BilateralSampling)

// The tone mapping of the bilateral builds, done once while the plane is built: the pass against
// a CPU reference of the operator, the disparity term and edges, black texels, the two programs'
// handling of disparity, the plane the stage builds, and the sampled window against the full one.
class BilateralPlaneStageGLTest : public QObject
{
    Q_OBJECT

    GLTestContext m_gl;
    QTemporaryDir m_directory;

    // The tone mapping of a view, read back as bytes in GL row order.
    static Bytes runTonemap(const HdrView &view, bool useDisparity,
                            const BilateralSettings &settings)
    {
        ScopedFramebuffer framebuffer;
        OwnedTexture disparity;
        if (useDisparity)
            disparity = uploadR16F(view.width, view.height, view.disparity);
        const OwnedTexture out =
            bilateralTonemap(uploadRgba8(view.width, view.height, view.rgbe), disparity.get(),
                             view.width, view.height, settings);
        return readTextureBytes(*out, view.width, view.height);
    }

    // A .lf2d file of columns × rows RGBE views, with their disparity when withDisparity is set;
    // makeViewAt gets the view's index in file order.
    QString writeFile(const QString &name, int columns, int rows, int width, int height,
                      const std::function<HdrView(int view)> &makeViewAt, bool withDisparity)
    {
        QByteArray content = QStringLiteral("%1 %2 %3 %4 20 7 1 %5 4\n")
                                 .arg(width)
                                 .arg(height)
                                 .arg(columns * rows)
                                 .arg(columns)
                                 .arg(withDisparity ? 1 : 0)
                                 .toLatin1();
        for (int index = 0; index < columns * rows; ++index) {
            const HdrView view = makeViewAt(index);
            content.append(reinterpret_cast<const char *>(view.rgbe.data()), int(view.rgbe.size()));
            if (!withDisparity)
                continue;
            for (float value : view.disparity) {
                std::uint8_t texel[4];
                encodeRgbe(value, value, value, texel);
                content.append(reinterpret_cast<const char *>(texel), 4);
            }
        }
        return writeTestFile(m_directory, name, content);
    }

    // Every view's LdrRgb of the plane a file gives, in file order.
    std::vector<Bytes> buildViews(const QString &path, bool useDisparity)
    {
        LightfieldReader reader(QUrl::fromLocalFile(path));
        const auto plane = buildBilateralPlane(&reader, useDisparity);
        std::vector<Bytes> views;
        for (int row = 0; row < plane->rows(); ++row) {
            for (int column = 0; column < plane->columns(); ++column)
                views.push_back(readTextureBytes(*plane->layerAt(column, row, LdrRgb),
                                                 reader.width(), reader.height()));
        }
        return views;
    }

    void compareWithReference(const QString &name, const Bytes &actual,
                              const std::vector<double> &reference, int width, int height,
                              int tolerance)
    {
        RgbaImage expected {width, height, {}};
        int worst = 0;
        for (size_t i = 0; i < reference.size() / 3; ++i) {
            for (int channel = 0; channel < 3; ++channel) {
                const int byte = toByte(reference[i * 3 + channel]);
                expected.texels.push_back(byte / 255.0f);
                worst = std::max(worst, std::abs(int(actual[i * 4 + channel]) - byte));
            }
            expected.texels.push_back(1.0f);
            QCOMPARE(int(actual[i * 4 + 3]), 255);
        }
        if (worst > tolerance) {
            const QString where =
                saveComparison(name, imageOfBytes(actual, width, height), expected);
            QFAIL(qPrintable(QStringLiteral("%1: bytes differ by up to %2 from the reference (%3)")
                                 .arg(name)
                                 .arg(worst)
                                 .arg(where)));
        }
    }

private slots:
    void initTestCase()
    {
        LF_CREATE_GL_CONTEXT(m_gl);
        QVERIFY(m_directory.isValid());
        loadShaderPrograms();
        QVERIFY2(isShaderProgramLinked(ShaderProgram::BilateralTonemapping),
                 qPrintable(shaderFileName(ShaderProgram::BilateralTonemapping)));
    }

    void cleanup() { LF_VERIFY_NO_GL_ERROR(m_gl); }

    void passMatchesReference_data()
    {
        QTest::addColumn<BilateralSampling>("sampling");
        QTest::addColumn<bool>("useDisparity");
        QTest::addColumn<float>("edgeCompression");
        const std::pair<BilateralSampling, const char *> samplings[] = {
            {BilateralSampling::EveryTexel, "full window"},
            {BilateralSampling::FiveByFiveCells, "5 x 5 cells"},
            {BilateralSampling::Grid, "bilateral grid"}};
        for (auto [sampling, name] : samplings) {
            QTest::addRow("%s, intensity only", name) << sampling << false << 0.5f;
            QTest::addRow("%s, with disparity", name) << sampling << true << 0.5f;
            // Disparity edges compressed harder than the rest: shows where the edges are.
            QTest::addRow("%s, disparity edges compressed to 0.2", name)
                << sampling << true << 0.2f;
        }
    }

    void passMatchesReference()
    {
        QFETCH(BilateralSampling, sampling);
        QFETCH(bool, useDisparity);
        QFETCH(float, edgeCompression);
        BilateralSettings settings;
        settings.sampling = sampling;
        settings.disparityEdgeCompressionFactor = edgeCompression;
        const HdrView view = edgeView(24, 16);
        const Bytes actual = runTonemap(view, useDisparity, settings);
        // Float maths against double precision: one step of the 8-bit target.
        compareWithReference(QStringLiteral("bilateral-reference"), actual,
                             referenceOf(view, useDisparity, settings), view.width, view.height, 1);
    }

    void disparityKeepsSurfacesApart()
    {
        // Two flat grey surfaces one stop apart, which the intensity weight (sigma one stop) hardly
        // separates, at disparities 2 and 6. With the disparity term each keeps its own base layer
        // up to the border; without it the base layers bleed across.
        const int width = 40, height = 8;
        const HdrView view = makeView(
            width, height,
            [](int x, int, float rgb[3]) { rgb[0] = rgb[1] = rgb[2] = x < 20 ? 512.0f : 1024.0f; },
            [](int x, int) { return x < 20 ? 2.0f : 6.0f; });
        const BilateralSettings settings;
        for (bool useDisparity : {true, false}) {
            const Bytes out = runTonemap(view, useDisparity, settings);
            for (int x = 0; x < width; ++x) {
                const double own = x < 20 ? 9.0 : 10.0; // log2 luminance
                const double base =
                    baseOfGreyOutput(out[size_t(4 * width + x) * 4 + 1], own, settings);
                // Far from the border the base is the surface's own; an 8-bit step there is
                // about 0.03 stops of base.
                if (useDisparity || x < 4 || x >= 36) {
                    QVERIFY2(std::abs(base - own) < 0.06,
                             qPrintable(QStringLiteral("disparity %1, x %2: base %3")
                                            .arg(useDisparity)
                                            .arg(x)
                                            .arg(base)));
                } else if (x == 19 || x == 20) {
                    // Beside the border nearly half the window lies across it: the full window
                    // gives a base 0.35 stops off, the cells 0.25.
                    QVERIFY2(std::abs(base - own) > 0.15 && std::abs(base - own) < 0.5,
                             qPrintable(QStringLiteral("x %1: base %2").arg(x).arg(base)));
                }
            }
        }
    }

    void blackTexelsStayBlack_data()
    {
        QTest::addColumn<bool>("useDisparity");
        QTest::newRow("intensity only") << false;
        QTest::newRow("with disparity") << true;
    }

    void blackTexelsStayBlack()
    {
        QFETCH(bool, useDisparity);
        // Black texels amid lit ones and a black block, and texels too dim for a float's
        // exponent: none may spoil the base layer of a neighbour.
        const int width = 24, height = 16;
        HdrView view = edgeView(width, height);
        auto setTexel = [&](int x, int y, std::array<std::uint8_t, 4> rgbe) {
            std::copy(rgbe.begin(), rgbe.end(), view.rgbe.begin() + (y * width + x) * 4);
        };
        for (int y = 2; y < 6; ++y) {
            for (int x = 14; x < 18; ++x)
                setTexel(x, y, {0, 0, 0, 0});
        }
        setTexel(5, 9, {0, 0, 0, 0});
        setTexel(20, 12, {0, 0, 0, 0});
        setTexel(0, 0, {0, 0, 0, 0});
        setTexel(7, 13, {200, 150, 129, 1}); // about 2^-128
        const BilateralSettings settings;
        const Bytes out = runTonemap(view, useDisparity, settings);
        const std::pair<int, int> blacks[] = {{14, 2}, {17, 5}, {5, 9}, {20, 12}, {0, 0}, {7, 13}};
        for (auto [x, y] : blacks) {
            const std::uint8_t *texel = &out[size_t(y * width + x) * 4];
            QVERIFY2(texel[0] == 0 && texel[1] == 0 && texel[2] == 0 && texel[3] == 255,
                     qPrintable(QStringLiteral("(%1, %2) is not black").arg(x).arg(y)));
        }
        compareWithReference(QStringLiteral("bilateral-black"), out,
                             referenceOf(view, useDisparity, settings), width, height, 1);

        // A view with nothing lit at all.
        const HdrView dark = makeView(
            8, 8, [](int, int, float rgb[3]) { rgb[0] = rgb[1] = rgb[2] = 0; },
            [](int x, int) { return float(x); });
        const Bytes darkOut = runTonemap(dark, useDisparity, settings);
        for (size_t i = 0; i < darkOut.size(); ++i)
            QCOMPARE(int(darkOut[i]), i % 4 == 3 ? 255 : 0);
    }

    void bothProgramsAgreeWithoutDisparity()
    {
        // The colour of the edge view in 3 × 2 views, shifted a texel per view.
        const int width = 24, height = 16;
        const HdrView wide = edgeView(width + 8, height);
        auto viewAt = [&](int index) {
            auto at = [&](int x, int y) {
                return size_t(y * (width + 8) + x + index);
            };
            return makeView(
                width, height,
                [&](int x, int y, float rgb[3]) { decodeRgbe(&wide.rgbe[at(x, y) * 4], rgb); },
                [&](int x, int y) { return wide.disparity[at(x, y)]; });
        };
        const QString plain =
            writeFile(QStringLiteral("plain.lf2d"), 3, 2, width, height, viewAt, false);
        const QString withDisparity =
            writeFile(QStringLiteral("disparity.lf2d"), 3, 2, width, height, viewAt, true);

        // viewer-bilateral-disparity on a file without disparity has nothing to use.
        const std::vector<Bytes> reference = buildViews(plain, false);
        QCOMPARE(buildViews(plain, true), reference);
        // viewer-bilateral leaves the file's disparity out of the picture.
        QCOMPARE(buildViews(withDisparity, false), reference);
        // ... which viewer-bilateral-disparity uses: the views differ.
        const std::vector<Bytes> separated = buildViews(withDisparity, true);
        for (size_t view = 0; view < reference.size(); ++view)
            QVERIFY(separated[view] != reference[view]);
    }

    void planeHoldsEveryViewInFileOrder_data()
    {
        QTest::addColumn<bool>("hasDisparity");
        QTest::addColumn<bool>("useDisparity");
        QTest::newRow("viewer-bilateral, no disparity") << false << false;
        QTest::newRow("viewer-bilateral-disparity, no disparity") << false << true;
        QTest::newRow("viewer-bilateral, disparity") << true << false;
        QTest::newRow("viewer-bilateral-disparity, disparity") << true << true;
    }

    void planeHoldsEveryViewInFileOrder()
    {
        QFETCH(bool, hasDisparity);
        QFETCH(bool, useDisparity);
        // 3 columns, 2 rows; view k (file order) is flat grey at 2^(2k) with disparity k / 4 + 1.
        // A flat view is its own base layer, so it comes out at 2^(0.5 · 2k - 5.5).
        const int columns = 3, rows = 2, width = 8, height = 6;
        const QString path = writeFile(
            QStringLiteral("order-%1.lf2d").arg(hasDisparity), columns, rows, width, height,
            [&](int k) {
                return makeView(
                    width, height,
                    [k](int, int, float rgb[3]) { rgb[0] = rgb[1] = rgb[2] = std::exp2(2.0f * k); },
                    [k](int, int) { return k / 4.0f + 1.0f; });
            },
            hasDisparity);
        LightfieldReader reader(QUrl::fromLocalFile(path));
        const auto plane = buildBilateralPlane(&reader, useDisparity);
        QCOMPARE(plane->supportedLayers(),
                 hasDisparity ? KeyList({LdrRgb, Disparity, DisparityTiles}) : KeyList({LdrRgb}));
        QVERIFY(plane->supportedParameters().empty());
        QCOMPARE(plane->columns(), columns);
        QCOMPARE(plane->rows(), rows);
        QCOMPARE(plane->reservedValue(), 7);
        QCOMPARE(plane->maxDisparity(), 4);

        QOpenGLFunctions_3_3_Core *gl = m_gl.gl();
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < columns; ++column) {
                const int k = row * columns + column;
                const FeatureLayers &view = plane->featureLayersAt(column, row);
                QCOMPARE(int(view.layers().size()), hasDisparity ? 3 : 1);
                QVERIFY(view.parameters().empty());
                const int expected = toByte(std::pow(std::exp2(k - 5.5), 1 / 2.2));
                const Bytes colour = readTextureBytes(*view.getLayer(LdrRgb), width, height);
                for (size_t i = 0; i < colour.size(); ++i)
                    QVERIFY2(std::abs(int(colour[i]) - (i % 4 == 3 ? 255 : expected)) <= 1,
                             qPrintable(QStringLiteral("view %1: byte %2 is %3, expected %4")
                                            .arg(k)
                                            .arg(i)
                                            .arg(colour[i])
                                            .arg(expected)));
                if (!hasDisparity)
                    continue;
                QOpenGLTexture *disparity = view.getLayer(Disparity);
                const std::vector<float> values = readTextureFloats(*disparity, width, height);
                for (size_t i = 0; i < values.size(); i += 4)
                    QCOMPARE(values[i], k / 4.0f + 1.0f);
                // The pass sampled it mirrored; the camera needs it as the plane left it.
                disparity->bind();
                GLint wrap[2] = {};
                GLfloat border[4] = {1, 1, 1, 1};
                gl->glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap[0]);
                gl->glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrap[1]);
                gl->glGetTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, border);
                disparity->release();
                QCOMPARE(wrap[0], GLint(GL_CLAMP_TO_BORDER));
                QCOMPARE(wrap[1], GLint(GL_CLAMP_TO_BORDER));
                for (GLfloat component : border)
                    QCOMPARE(component, 0.0f);
            }
        }
    }

    void samplingsAreCloseToTheFullWindow_data()
    {
        QTest::addColumn<BilateralSampling>("sampling");
        QTest::addColumn<bool>("useDisparity");
        QTest::addColumn<double>("meanLimit"); // steps of 8 bits
        QTest::addColumn<int>("maximumLimit");
        QTest::addColumn<double>("outlierLimit"); // share of channels more than 3 steps off
        // Measured on llvmpipe, the cells: max 23 (26 with disparity), mean 0.19 (0.16), 0.6 %
        // (1 %) of the channels beyond 3 steps; the grid: max 18 (6), mean 0.14 (0.11), 0.2 %
        // (0.08 %). Both err on antialiased borders, whose few similar texels decide their base
        // layer: the cells sample them differently, the grid spreads them over its samples. A
        // fault in the weighting shows everywhere and moves the mean.
        QTest::newRow("5 x 5 cells, intensity only")
            << BilateralSampling::FiveByFiveCells << false << 0.3 << 40 << 0.02;
        QTest::newRow("5 x 5 cells, with disparity")
            << BilateralSampling::FiveByFiveCells << true << 0.3 << 40 << 0.02;
        QTest::newRow("bilateral grid, intensity only")
            << BilateralSampling::Grid << false << 0.2 << 24 << 0.005;
        QTest::newRow("bilateral grid, with disparity")
            << BilateralSampling::Grid << true << 0.2 << 12 << 0.005;
    }

    void samplingsAreCloseToTheFullWindow()
    {
        QFETCH(BilateralSampling, sampling);
        QFETCH(bool, useDisparity);
        QFETCH(double, meanLimit);
        QFETCH(int, maximumLimit);
        QFETCH(double, outlierLimit);
        // The centre view of the synthetic scene: textured layers from shadow (0.05) to an
        // emitting disc (2000), antialiased borders and four depths.
        synth::SceneOptions options;
        options.width = options.height = 128;
        options.hdr = true;
        const synth::SyntheticScene scene(options);
        HdrView view {options.width, options.height, synth::toFileRgbe(scene.renderView(4, 4)), {}};
        const std::vector<float> upright = scene.disparityMap(4, 4);
        for (int y = options.height - 1; y >= 0; --y)
            view.disparity.insert(view.disparity.end(), upright.begin() + y * options.width,
                                  upright.begin() + (y + 1) * options.width);

        BilateralSettings settings;
        settings.sampling = BilateralSampling::EveryTexel;
        const Bytes full = runTonemap(view, useDisparity, settings);
        settings.sampling = sampling;
        const Bytes sampled = runTonemap(view, useDisparity, settings);
        const RgbaImage fullImage = imageOfBytes(full, view.width, view.height);
        const RgbaImage sampledImage = imageOfBytes(sampled, view.width, view.height);
        const ImageDifference difference = compareRgb(sampledImage, fullImage);
        int outliers = 0; // channels more than 3 steps off
        for (size_t i = 0; i < full.size(); ++i)
            outliers += i % 4 != 3 && std::abs(int(full[i]) - int(sampled[i])) > 3 ? 1 : 0;
        const int channels = view.width * view.height * 3;
        qInfo("against every texel: max %.0f, mean %.3f steps of 8 bits, PSNR %.1f dB, %d of %d "
              "channels more than 3 steps off",
              difference.maximum * 255, difference.mean * 255, difference.psnr, outliers, channels);
        const bool close = difference.mean * 255 < meanLimit
            && difference.maximum * 255 <= maximumLimit + 0.5 && outliers < outlierLimit * channels;
        if (!close)
            QFAIL(qPrintable(QStringLiteral("the sampled filter differs from the full window (%1)")
                                 .arg(saveComparison(QStringLiteral("bilateral-sampled"),
                                                     sampledImage, fullImage))));
    }
};

QTEST_MAIN(BilateralPlaneStageGLTest)
#include "BilateralPlaneStageGLTest.moc"
