#include "lightfield/LightfieldReader.h"
#include "lightfield/Rgbe.h"
#include "postprocessing/CurvePlaneStage.h"
#include "postprocessing/LinearPlaneStage.h"
#include "postprocessing/TonemappingCurve.h"
#include "support/CurveReference.h"
#include "support/GLImages.h"
#include "support/GLTestContext.h"
#include "support/LightfieldFiles.h"
#include "support/PlaneBuilder.h"
#include "support/ViewStatisticsReference.h"
#include "viewer/gpu/ShaderLibrary.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>

namespace {

// One 8-bit step: half of it is the target's rounding, the rest covers the GPU's own arithmetic
// (logarithms, exponentials and the filter's interpolation weights), a small fraction of a step
// even where the curve is steep.
const double byteTolerance = 1.0 / 255.0 + 1e-6;

using Colour = std::function<void(int x, int y, float rgb[3])>;

// An RGBE view as a file stores it: width × height texels, bottom row first.
struct RgbeView
{
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> texels;
};

RgbeView rgbeView(int width, int height, const Colour &colour)
{
    RgbeView view {width, height, std::vector<std::uint8_t>(size_t(width) * height * 4)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            float rgb[3];
            colour(x, y, rgb);
            encodeRgbe(rgb[0], rgb[1], rgb[2], &view.texels[(size_t(y) * width + x) * 4]);
        }
    }
    return view;
}

Colour grey(const std::function<float(int x, int y)> &luminance)
{
    return [luminance](int x, int y, float rgb[3]) {
        rgb[0] = rgb[1] = rgb[2] = luminance(x, y);
    };
}

// A grey log gradient over four decades, 0.01 to 100: trimmed in four passes whether the passes
// are counted or trimmed to the tolerance, so both give the same curve.
float evenGradient(int x, int y)
{
    return 0.01f * std::pow(1e4f, float(y * 128 + x) / (128 * 96 - 1));
}

// A dim gradient with one bright texel: trimming to the tolerance stops after two passes, four
// passes trim much further.
float dimViewWithASun(int x, int y)
{
    const int index = y * 128 + x;
    return index == 50 ? 5000.0f : 0.01f * (1.0f + 0.0005f * float(index));
}

// The luminance range the stage measures for a view: its smallest luminance, floored, and its
// largest.
void measuredRange(const RgbeView &view, float *minimum, float *maximum)
{
    const ViewStatistics statistics = referenceStatistics(view.texels);
    *minimum = std::max(float(statistics.minimum), luminanceFloor);
    *maximum = float(statistics.maximum);
}

CurveResult cpuCurve(const RgbeView &view, int trimPassLimit)
{
    float minimum, maximum;
    measuredRange(view, &minimum, &maximum);
    return computeTonemappingCurve(view.texels.data(), view.width, view.height, minimum, maximum,
                                   trimPassLimit);
}

// What the stage should store for a view: its range and curve measured on the CPU, and the
// reference pass over its texels as the linear pass decodes them into half floats.
RgbaImage expectedPicture(const RgbeView &view, int trimPassLimit)
{
    float minimum, maximum;
    measuredRange(view, &minimum, &maximum);
    const CurveResult curve = cpuCurve(view, trimPassLimit);
    return referencePicture(view.width, view.height, linearColours(view.texels, true), curve.curve,
                            minimum, maximum);
}

RgbaImage imageOfBytes(const std::vector<std::uint8_t> &bytes, int width, int height)
{
    RgbaImage image {width, height, std::vector<float>(bytes.size())};
    for (size_t i = 0; i < bytes.size(); ++i)
        image.texels[i] = bytes[i] / 255.0f;
    return image;
}

// Empty when the pictures agree within the tolerance; otherwise the worst texel and where to see
// the pictures.
QString differenceOf(const QString &name, const RgbaImage &actual, const RgbaImage &expected)
{
    size_t worst = 0;
    for (size_t i = 0; i < expected.texels.size(); ++i) {
        if (i % 4 != 3
            && std::abs(actual.texels[i] - expected.texels[i])
                > std::abs(actual.texels[worst] - expected.texels[worst]))
            worst = i;
    }
    if (std::abs(actual.texels[worst] - expected.texels[worst]) <= byteTolerance)
        return QString();
    return QStringLiteral("%1: texel %2 channel %3 is %4 of 255, expected %5; see %6")
        .arg(name)
        .arg(worst / 4)
        .arg(worst % 4)
        .arg(actual.texels[worst] * 255.0)
        .arg(expected.texels[worst] * 255.0)
        .arg(saveComparison(name, actual, expected));
}

// A curve with a shape of its own: a ramp from 20 to 170 with a step of 60 at bin 100, so that
// the ends differ from everything in between and reading half a bin off near the bottom shows.
ToneCurve steppedRamp()
{
    ToneCurve curve;
    for (int j = 0; j < curveBins; ++j)
        curve[size_t(j)] =
            std::uint8_t(std::lround(20.0 + 150.0 * j / (curveBins - 1)) + (j >= 100 ? 60 : 0));
    return curve;
}

} // namespace

// The histogram-adjustment plane stage: the curve texture against the CPU curve, the curve pass
// against a CPU reference, and whole planes built from RGBE files, degenerate views included.
class CurvePlaneStageGLTest : public QObject
{
    Q_OBJECT

    GLTestContext m_gl;
    QTemporaryDir m_directory;

    // An RGBE file of the views (file order: row by row, column by column), all of one size, each
    // followed by a grey disparity image of disparity(view index) when that is given.
    QString writeRgbeFile(const QString &name, int columns, const std::vector<RgbeView> &views,
                          const std::function<float(int)> &disparity = {})
    {
        const RgbeView &first = views.front();
        QByteArray content = QStringLiteral("%1 %2 %3 %4 20 0 1 %5 %6\n")
                                 .arg(first.width)
                                 .arg(first.height)
                                 .arg(views.size())
                                 .arg(columns)
                                 .arg(disparity ? 1 : 0)
                                 .arg(disparity ? 8 : 0)
                                 .toLatin1();
        for (size_t index = 0; index < views.size(); ++index) {
            content.append(reinterpret_cast<const char *>(views[index].texels.data()),
                           int(views[index].texels.size()));
            if (disparity) {
                const float d = disparity(int(index));
                const RgbeView map =
                    rgbeView(first.width, first.height, grey([d](int, int) { return d; }));
                content.append(reinterpret_cast<const char *>(map.texels.data()),
                               int(map.texels.size()));
            }
        }
        return writeTestFile(m_directory, name, content);
    }

    static std::vector<std::uint8_t> pictureAt(const LightfieldPlane &plane, int column, int row)
    {
        return readTextureBytes(*plane.layerAt(column, row, LdrRgb), plane.width(), plane.height());
    }

    // The curve pass over a picture of linear colours (RGBA, 4 floats a texel), stored as half
    // floats; returns what it drew and the reference for the values the texture really holds.
    std::pair<RgbaImage, RgbaImage> runCurvePass(int width, int height,
                                                 const std::vector<float> &picture,
                                                 const ToneCurve &curve, float minimum,
                                                 float maximum)
    {
        ScopedFramebuffer framebuffer;
        OwnedTexture linear = uploadRgba16F(width, height, picture);
        const std::vector<float> held = readTextureFloats(*linear, width, height);
        const OwnedTexture out = tonemapWithCurve(std::move(linear), uploadToneCurve(curve), width,
                                                  height, minimum, maximum);
        return {imageOfBytes(readTextureBytes(*out, width, height), width, height),
                referencePicture(width, height, held, curve, minimum, maximum)};
    }

private slots:
    void initTestCase()
    {
        LF_CREATE_GL_CONTEXT(m_gl);
        QVERIFY(m_directory.isValid());
        loadShaderPrograms();
        for (ShaderProgram program :
             {ShaderProgram::TonemappingCurve, ShaderProgram::TonemappingCurveOfRgbe,
              ShaderProgram::LinearTonemapping, ShaderProgram::RgbeToFloat})
            QVERIFY2(isShaderProgramLinked(program), qPrintable(shaderFileName(program)));
    }

    void cleanup() { LF_VERIFY_NO_GL_ERROR(m_gl); }

    void curveTextureHoldsTheCpuCurve_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("trimPassLimit");
        QTest::newRow("sun, trimmed to the tolerance") << 0 << 0;
        QTest::newRow("sun, four passes") << 0 << 4;
        QTest::newRow("flat view, constant curve") << 1 << 0;
    }

    void curveTextureHoldsTheCpuCurve()
    {
        QFETCH(int, kind);
        QFETCH(int, trimPassLimit);
        const RgbeView view =
            rgbeView(128, 96, grey(kind == 0 ? dimViewWithASun : [](int, int) { return 0.5f; }));
        const CurveResult expected = cpuCurve(view, trimPassLimit);
        QCOMPARE(expected.degenerate, kind == 1);
        float minimum, maximum;
        measuredRange(view, &minimum, &maximum);

        const OwnedTexture rgbe = uploadRgba8(view.width, view.height, view.texels);
        const OwnedTexture curve = computeTonemappingCurve(*rgbe, view.width, view.height, minimum,
                                                           maximum, trimPassLimit);
        const std::vector<std::uint8_t> held = readTextureBytes(*curve, curveBins, 1);
        for (int j = 0; j < curveBins; ++j) {
            QVERIFY2(held[size_t(j) * 4] == expected.curve[size_t(j)],
                     qPrintable(QStringLiteral("bin %1: %2, expected %3")
                                    .arg(j)
                                    .arg(held[size_t(j) * 4])
                                    .arg(expected.curve[size_t(j)])));
        }

        QOpenGLFunctions_3_3_Core *gl = m_gl.gl();
        gl->glActiveTexture(GL_TEXTURE0);
        gl->glBindTexture(GL_TEXTURE_2D, curve->textureId());
        GLint internalFormat = 0, width = 0, height = 0, minFilter = 0, magFilter = 0, wrap = 0;
        gl->glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &internalFormat);
        gl->glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
        gl->glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
        gl->glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
        gl->glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
        gl->glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap);
        gl->glBindTexture(GL_TEXTURE_2D, 0);
        QCOMPARE(internalFormat, GLint(GL_R8));
        QCOMPARE(width, curveBins);
        QCOMPARE(height, 1);
        QCOMPARE(minFilter, GLint(GL_LINEAR));
        QCOMPARE(magFilter, GLint(GL_LINEAR));
        QCOMPARE(wrap, GLint(GL_MIRRORED_REPEAT));
    }

    void curvePassMatchesTheReference()
    {
        // The axis runs from 0.01 to 100. Texels below and above it, far enough that a mirrored
        // read would land near the other end, black, greys along the axis (one between bins 99 and
        // 100, where the step is), and colours for the saturation exponent, one bright enough to
        // clip.
        const float stepLuminance = 0.01f * std::pow(1e4f, 99.7f / (curveBins - 1));
        const std::vector<std::array<float, 3>> colours = {
            {0, 0, 0},
            {1e-6f, 1e-6f, 1e-6f},
            {0.005f, 0.005f, 0.005f},
            {0.01f, 0.01f, 0.01f},
            {stepLuminance, stepLuminance, stepLuminance},
            {0.3f, 0.3f, 0.3f},
            {1, 1, 1},
            {20, 20, 20},
            {100, 100, 100},
            {1e4f, 1e4f, 1e4f},
            {1.0f, 0.2f, 0.05f},
            {0.02f, 0.05f, 0.3f},
            {5, 5, 0},
            {0, 0.5f, 0},
            {400, 5, 5},
            {3, 0.01f, 4},
        };
        std::vector<float> picture;
        for (const std::array<float, 3> &colour : colours)
            picture.insert(picture.end(), {colour[0], colour[1], colour[2], 1.0f});
        const auto [actual, expected] = runCurvePass(8, 2, picture, steppedRamp(), 0.01f, 100.0f);
        const QString difference = differenceOf(QStringLiteral("curve-pass"), actual, expected);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));

        // What the reference stands for, checked on the picture itself: black stays black,
        // texels at or beyond either end of the axis read that end's bin (a mirrored read would
        // take 1e-6 and 1e4 to the other end), and the clipping colour is held at white.
        for (int channel = 0; channel < 4; ++channel)
            QCOMPARE(actual.texels[size_t(channel)], channel == 3 ? 1.0f : 0.0f);
        for (int x : {2, 3})
            QCOMPARE(actual.at(x, 0, 1), actual.at(1, 0, 1));
        QCOMPARE(actual.at(1, 1, 1), actual.at(0, 1, 1));
        QVERIFY(actual.at(0, 1, 1) > actual.at(7, 0, 1));
        QCOMPARE(actual.at(6, 1, 0), 1.0f);
    }

    void rgbePassDrawsWhatTheDecodeAndTheCurvePassDraw()
    {
        // The plane stage decodes in the curve pass. Bit for bit what the linear pass and the
        // curve pass draw, from exponents too faint for a half float to hold exactly to colours
        // beyond the largest one, which the linear pass holds there channel by channel.
        const std::vector<std::uint8_t> rgbe = rgbeAcrossTheHalfFloatRange();
        const int width = int(rgbe.size() / 4);
        ScopedFramebuffer framebuffer;
        OwnedTexture linear = linearTonemap(uploadRgba8(width, 1, rgbe), width, 1, 1.0f, 1.0f);
        const OwnedTexture twoPasses = tonemapWithCurve(
            std::move(linear), uploadToneCurve(steppedRamp()), width, 1, 0.01f, 100.0f);
        const OwnedTexture onePass = tonemapRgbeWithCurve(
            uploadRgba8(width, 1, rgbe), uploadToneCurve(steppedRamp()), width, 1, 0.01f, 100.0f);
        QCOMPARE(readTextureBytes(*onePass, width, 1), readTextureBytes(*twoPasses, width, 1));
    }

    void degenerateRangesReadOnePlace_data()
    {
        QTest::addColumn<float>("minimum");
        QTest::addColumn<float>("maximum");
        const float infinity = std::numeric_limits<float>::infinity();
        QTest::newRow("flat") << 0.5f << 0.5f;
        QTest::newRow("reversed") << 5.0f << 1.0f;
        QTest::newRow("zero minimum") << 0.0f << 10.0f;
        QTest::newRow("infinite maximum") << 1.0f << infinity;
        QTest::newRow("maximum under the floor") << luminanceFloor << 5e-8f;
        QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << 1.0f;
    }

    void degenerateRangesReadOnePlace()
    {
        QFETCH(float, minimum);
        QFETCH(float, maximum);
        // The CPU gives such a range a constant curve; the pass must turn it into defined,
        // finite colours whatever the luminance. A ramp shows that every texel reads the same
        // place of the curve.
        const std::vector<float> picture = {0,    0,    0,     1, 1e-3f, 1e-3f, 1e-3f, 1,
                                            0.5f, 0.5f, 0.5f,  1, 4e4f,  4e4f,  4e4f,  1,
                                            1.0f, 0.2f, 0.05f, 1, 0,     0,     2,     1};
        const RgbeView flat = rgbeView(4, 4, grey([](int, int) { return 0.5f; }));
        const CurveResult constant =
            computeTonemappingCurve(flat.texels.data(), 4, 4, minimum, maximum, 0);
        QVERIFY(constant.degenerate);
        for (const ToneCurve &curve : {constant.curve, rampCurve()}) {
            const auto [actual, expected] = runCurvePass(6, 1, picture, curve, minimum, maximum);
            const QString difference =
                differenceOf(QStringLiteral("degenerate-range"), actual, expected);
            QVERIFY2(difference.isEmpty(), qPrintable(difference));
            QCOMPARE(actual.at(1, 0, 1), actual.at(2, 0, 1));
            QCOMPARE(actual.at(2, 0, 1), actual.at(3, 0, 1));
        }
    }

    void planeHoldsEveryViewInFileOrder_data()
    {
        QTest::addColumn<bool>("hasDisparity");
        QTest::addColumn<int>("trimPassLimit");
        QTest::newRow("disparity, trimmed to the tolerance") << true << 0;
        QTest::newRow("no disparity, four passes") << false << 4;
    }

    void planeHoldsEveryViewInFileOrder()
    {
        QFETCH(bool, hasDisparity);
        QFETCH(int, trimPassLimit);
        // 2 columns, 3 rows of views that differ in range and in where their brightest texel is,
        // so a view stored at the wrong place cannot match.
        const int width = 40, height = 30;
        std::vector<RgbeView> views;
        for (int index = 0; index < 6; ++index) {
            views.push_back(rgbeView(width, height, [index](int x, int y, float rgb[3]) {
                const float base = 0.002f * std::pow(10.0f, 0.4f * index);
                const float value = (x == 5 * index + 3 && y == 7)
                    ? 800.0f
                    : base * std::pow(300.0f, float(x + y) / (width + height));
                rgb[0] = value;
                rgb[1] = value * (0.4f + 0.1f * index);
                rgb[2] = value * 0.3f;
            }));
        }
        auto disparity = [](int index) {
            return 1.0f + 0.5f * index;
        };
        const QString path =
            writeRgbeFile(QStringLiteral("grid.lf2d"), 2, views,
                          hasDisparity ? std::function<float(int)>(disparity) : nullptr);

        LightfieldReader reader(QUrl::fromLocalFile(path));
        const auto plane = buildCurvePlane(&reader, trimPassLimit);
        QCOMPARE(plane->supportedLayers(),
                 hasDisparity ? KeyList({LdrRgb, Disparity, DisparityTiles}) : KeyList({LdrRgb}));
        QVERIFY(plane->supportedParameters().empty());
        for (int row = 0; row < 3; ++row) {
            for (int column = 0; column < 2; ++column) {
                const int index = row * 2 + column;
                const FeatureLayers &view = plane->featureLayersAt(column, row);
                QVERIFY(!view.hasLayer(RgbeImage) && !view.hasLayer(RgbeDisparity));
                QVERIFY(view.parameters().empty());
                const QString difference =
                    differenceOf(QStringLiteral("plane-view-%1").arg(index),
                                 imageOfBytes(pictureAt(*plane, column, row), width, height),
                                 expectedPicture(views[size_t(index)], trimPassLimit));
                QVERIFY2(difference.isEmpty(), qPrintable(difference));
                QCOMPARE(view.hasLayer(Disparity), hasDisparity);
                if (hasDisparity) {
                    const std::vector<float> map =
                        readTextureFloats(*view.getLayer(Disparity), width, height);
                    QVERIFY(std::abs(map[0] - disparity(index)) < 1e-3f);
                }
            }
        }
    }

    void passLimitChangesOnlyViewsTrimmedDifferently()
    {
        const std::vector<RgbeView> views = {rgbeView(128, 96, grey(dimViewWithASun)),
                                             rgbeView(128, 96, grey(evenGradient))};
        // What the views are chosen for: the sun's view stops trimming after fewer than four
        // passes, with a different curve; the gradient's runs four passes either way.
        const CurveResult sunToTolerance = cpuCurve(views[0], 0);
        const CurveResult sunFourPasses = cpuCurve(views[0], 4);
        QVERIFY(sunToTolerance.trimPasses < 4 && sunFourPasses.trimPasses == 4);
        QVERIFY(sunToTolerance.curve != sunFourPasses.curve);
        QCOMPARE(cpuCurve(views[1], 0).trimPasses, 4);
        QCOMPARE(cpuCurve(views[1], 4).trimPasses, 4);

        const QString path = writeRgbeFile(QStringLiteral("passes.lf2d"), 2, views);
        std::vector<std::uint8_t> pictures[2][2]; // [pass limit 0 or 4][view]
        for (int limit : {0, 1}) {
            LightfieldReader reader(QUrl::fromLocalFile(path));
            const auto plane = buildCurvePlane(&reader, limit * 4);
            for (int view = 0; view < 2; ++view) {
                pictures[limit][view] = pictureAt(*plane, view, 0);
                const QString difference =
                    differenceOf(QStringLiteral("passes-%1-view-%2").arg(limit * 4).arg(view),
                                 imageOfBytes(pictures[limit][view], 128, 96),
                                 expectedPicture(views[size_t(view)], limit * 4));
                QVERIFY2(difference.isEmpty(), qPrintable(difference));
            }
        }
        int largest = 0;
        for (size_t i = 0; i < pictures[0][0].size(); ++i)
            largest = std::max(largest, std::abs(pictures[0][0][i] - pictures[1][0][i]));
        QVERIFY2(largest > 10, qPrintable(QStringLiteral("largest difference %1").arg(largest)));
        QVERIFY(pictures[0][1] == pictures[1][1]);
    }

    void degenerateViewsGiveDefinedPictures()
    {
        // All black, flat grey, lit only below the floor, and a gradient with one black texel,
        // whose minimum 0 is floored.
        const int width = 8, height = 6;
        const std::vector<RgbeView> views = {
            rgbeView(width, height, grey([](int, int) { return 0.0f; })),
            rgbeView(width, height, grey([](int, int) { return 0.5f; })),
            rgbeView(width, height, grey([](int x, int) { return 1e-8f * (1 + x); })),
            rgbeView(width, height, grey([](int x, int y) {
                         return (x == 0 && y == 0) ? 0.0f : 0.01f * std::pow(2.0f, float(x));
                     })),
        };
        const QString path = writeRgbeFile(QStringLiteral("degenerate.lf2d"), 2, views);
        LightfieldReader reader(QUrl::fromLocalFile(path));
        const auto plane = buildCurvePlane(&reader, 0);
        std::vector<std::uint8_t> pictures[4];
        for (int index = 0; index < 4; ++index) {
            pictures[index] = pictureAt(*plane, index % 2, index / 2);
            const QString difference = differenceOf(QStringLiteral("degenerate-view-%1").arg(index),
                                                    imageOfBytes(pictures[index], width, height),
                                                    expectedPicture(views[size_t(index)], 0));
            QVERIFY2(difference.isEmpty(), qPrintable(difference));
        }
        auto red = [&](int index, int x, int y) {
            return int(pictures[index][(size_t(y) * width + x) * 4]);
        };
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                QCOMPARE(red(0, x, y), 0); // black, not a NaN of any colour
                QCOMPARE(red(1, x, y), red(1, 0, 0)); // flat stays flat, at mid-curve
                QCOMPARE(red(2, x, y), 0); // nothing lit above the floor
                if (x > 0)
                    QVERIFY(red(3, x, y) > red(3, x - 1, y));
            }
        }
        QVERIFY(red(1, 0, 0) > 0 && red(1, 0, 0) < 255);
        QCOMPARE(red(3, 0, 0), 0);
    }
};

QTEST_MAIN(CurvePlaneStageGLTest)
#include "CurvePlaneStageGLTest.moc"
