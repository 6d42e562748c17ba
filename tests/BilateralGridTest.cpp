#include "postprocessing/BilateralGrid.h"
#include "postprocessing/BilateralPlaneStage.h"
#include "support/BilateralGridReference.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

const BilateralSettings stageSettings;
const BilateralConstants stageConstants = {stageSettings.absoluteScale,
                                           stageSettings.compressionFactor,
                                           stageSettings.disparityEdgeCompressionFactor,
                                           stageSettings.filterSize,
                                           stageSettings.gaussSigmaPosition,
                                           stageSettings.gaussSigmaIntensity,
                                           stageSettings.gaussSigmaDisparity,
                                           stageSettings.colourCorrection,
                                           1};

struct Filtered
{
    Bytes bytes; // RGBA8, 4 per texel
    std::vector<float> base;
};

Filtered runGrid(const HdrView &view, bool useDisparity,
                 const BilateralSettings &settings = stageSettings)
{
    BilateralGridFilter filter;
    Filtered out {Bytes(size_t(view.width) * view.height * 4), {}};
    filter.tonemap(view.rgbe.data(), useDisparity ? view.disparity.data() : nullptr, view.width,
                   view.height, settings, out.bytes.data());
    out.base = filter.baseLayer();
    return out;
}

int toByte(double display)
{
    return int(std::lround(std::clamp(display, 0.0, 1.0) * 255.0));
}

// The 8-bit difference of the RGB channels from display values: the mean and largest, in steps,
// and the PSNR.
struct Difference
{
    double mean = 0.0;
    int maximum = 0;
    double psnr = 0.0;
};

Difference differenceOf(const Bytes &bytes, const std::vector<double> &display)
{
    Difference difference;
    double squares = 0.0;
    const size_t channels = display.size();
    for (size_t i = 0; i < channels; ++i) {
        const int step = std::abs(int(bytes[i / 3 * 4 + i % 3]) - toByte(display[i]));
        difference.mean += step / double(channels);
        squares += double(step) * step / double(channels);
        difference.maximum = std::max(difference.maximum, step);
    }
    difference.psnr = squares > 0 ? 10 * std::log10(255.0 * 255.0 / squares) : HUGE_VAL;
    return difference;
}

// Two textured surfaces half a stop apart, which the intensity weight (sigma one stop) hardly
// tells apart, at disparities 2 (left) and 6 (right).
HdrView twoSurfaces(int width, int height)
{
    return makeView(
        width, height,
        [width](int x, int y, float rgb[3]) {
            const float level = (x < width / 2 ? 512.0f : 724.1f)
                * std::exp2(float((x * 3 + y * 5) % 4 - 1.5f) / 8.0f);
            rgb[0] = level * 0.9f, rgb[1] = level, rgb[2] = level * 1.2f;
        },
        [width](int x, int) { return x < width / 2 ? 2.0f : 6.0f; });
}

// A three-texel point light of 2^12 (2^16 at its middle) in a dim textured room near 2^-2.
HdrView pointLight(int width, int height)
{
    return makeView(
        width, height,
        [](int x, int y, float rgb[3]) {
            float level = 0.2f * std::exp2(float((x * 3 + y * 5) % 7) / 6.0f);
            if (std::abs(x - 30) <= 1 && std::abs(y - 33) <= 1)
                level = x == 30 && y == 33 ? 65536.0f : 4096.0f;
            rgb[0] = level, rgb[1] = level * 0.9f, rgb[2] = level * 0.7f;
        },
        [](int x, int y) { return (x - 30) * (x - 30) + (y - 33) * (y - 33) <= 4 ? 3.0f : 1.0f; });
}

// Texels of every kind: colour, an empty channel, black texels and a block, one too dim for a
// float's exponent, a bright edge and disparity steps, on a size that no cell divides.
HdrView mixedView(int width, int height)
{
    HdrView view = makeView(
        width, height,
        [width](int x, int y, float rgb[3]) {
            const float level = x < width / 2 ? 0.08f * std::exp2(float((x * 7 + y * 3) % 8) / 3)
                                              : 300.0f * std::exp2(float((x * 5 + y * 11) % 6) / 4);
            rgb[0] = level * 1.3f, rgb[1] = (x == 3 && y == 4) ? 0.0f : level,
            rgb[2] = level * 0.5f;
            if ((x > 14 && x < 19 && y > 2 && y < 7) || (x == 9 && y == 9))
                rgb[0] = rgb[1] = rgb[2] = 0.0f;
        },
        [width, height](int x, int y) {
            if (x > width * 3 / 4)
                return 2.25f;
            return y < height / 2 ? 1.0f : 4.5f;
        });
    // At (7, 11), or where that falls on a smaller view.
    const std::uint8_t tiny[4] = {200, 150, 129, 1}; // about 2^-128
    std::copy(tiny, tiny + 4, view.rgbe.begin() + ((11 % height) * width + 7 % width) * 4);
    return view;
}

} // namespace

// The stage's bilateral grid on the CPU: against a double-precision reference of the same grid,
// and against the filter as defined (every texel of the window) where it matters most.
class BilateralGridTest : public QObject
{
    Q_OBJECT

private slots:
    void matchesItsReference_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("useDisparity");
        QTest::addColumn<float>("edgeCompression");
        QTest::newRow("37 x 23, intensity only") << 37 << 23 << false << 0.5f;
        QTest::newRow("37 x 23, with disparity") << 37 << 23 << true << 0.5f;
        QTest::newRow("37 x 23, disparity edges compressed to 0.2") << 37 << 23 << true << 0.2f;
        // Smaller than a cell: the mirrored texels fill every cell.
        QTest::newRow("5 x 3, with disparity") << 5 << 3 << true << 0.5f;
        QTest::newRow("64 x 48, with disparity") << 64 << 48 << true << 0.5f;
    }

    void matchesItsReference()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, useDisparity);
        QFETCH(float, edgeCompression);
        const HdrView view = mixedView(width, height);
        BilateralSettings settings;
        settings.disparityEdgeCompressionFactor = edgeCompression;
        BilateralConstants constants = stageConstants;
        constants.disparityEdgeCompressionFactor = edgeCompression;
        const Filtered grid = runGrid(view, useDisparity, settings);
        const std::vector<double> base =
            referenceGridBase(view, useDisparity,
                              gridConstantsFor(constants.sigmaPosition, constants.sigmaIntensity,
                                               constants.sigmaDisparity));
        for (size_t i = 0; i < base.size(); ++i)
            QVERIFY2(std::abs(grid.base[i] - base[i]) < 1e-3,
                     qPrintable(QStringLiteral("texel %1: base %2, the reference's %3")
                                    .arg(i)
                                    .arg(grid.base[i])
                                    .arg(base[i])));
        // Float maths against double precision: one step of 8 bits. Black texels exactly.
        const std::vector<double> display = referenceDisplay(view, base, useDisparity, constants);
        QVERIFY(differenceOf(grid.bytes, display).maximum <= 1);
        for (size_t i = 0; i < display.size() / 3; ++i) {
            QCOMPARE(int(grid.bytes[i * 4 + 3]), 255);
            if (display[i * 3] == 0 && display[i * 3 + 1] == 0 && display[i * 3 + 2] == 0)
                QVERIFY2(grid.bytes[i * 4] == 0 && grid.bytes[i * 4 + 1] == 0
                             && grid.bytes[i * 4 + 2] == 0,
                         qPrintable(QStringLiteral("texel %1 is not black").arg(i)));
        }
    }

    void closeToTheFullWindow_data()
    {
        QTest::addColumn<QString>("scene");
        QTest::addColumn<bool>("useDisparity");
        QTest::addColumn<double>("meanLimit"); // steps of 8 bits
        QTest::addColumn<int>("maximumLimit");
        QTest::addColumn<double>("baseLimit"); // stops of log2 luminance, largest
        // Measured: the surfaces 0.03 steps off on average (PSNR 63 dB), at most 1, the base at
        // most 0.003 stops; the light 0.14 (57 dB), at most 1, the base 0.014 stops, and 0.065 with
        // disparity, where the thirteen texels of the disc around the light at its own disparity
        // make up their base layers among themselves.
        QTest::newRow("two surfaces, disparity") << "surfaces" << true << 0.1 << 1 << 0.01;
        QTest::newRow("point light, intensity only") << "light" << false << 0.25 << 1 << 0.03;
        QTest::newRow("point light, disparity") << "light" << true << 0.25 << 1 << 0.1;
    }

    void closeToTheFullWindow()
    {
        QFETCH(QString, scene);
        QFETCH(bool, useDisparity);
        QFETCH(double, meanLimit);
        QFETCH(int, maximumLimit);
        QFETCH(double, baseLimit);
        const HdrView view = scene == "surfaces" ? twoSurfaces(64, 32) : pointLight(64, 64);
        const Filtered grid = runGrid(view, useDisparity);
        const std::vector<double> base = referenceBilateralBase(view, useDisparity, stageConstants);
        double baseError = 0.0;
        for (size_t i = 0; i < base.size(); ++i)
            baseError = std::max(baseError, std::abs(grid.base[i] - base[i]));
        const Difference difference =
            differenceOf(grid.bytes, referenceDisplay(view, base, useDisparity, stageConstants));
        qInfo("against every texel: mean %.3f, max %d steps of 8 bits, PSNR %.1f dB; base at "
              "most %.3f stops off",
              difference.mean, difference.maximum, difference.psnr, baseError);
        QVERIFY(difference.mean < meanLimit);
        QVERIFY(difference.maximum <= maximumLimit);
        QVERIFY(baseError < baseLimit);
    }

    void disparityKeepsEquallyBrightSurfacesApart()
    {
        // With disparity each surface keeps its own base layer (its mean log2 luminance, 9 and
        // 9.5 less the colour's) up to the edge between them; without, the two bleed into each
        // other there.
        const int width = 64, height = 32;
        const HdrView view = twoSurfaces(width, height);
        const double colour = std::log2(0.2126 * 0.9 + 0.7152 + 0.0722 * 1.2);
        for (bool useDisparity : {true, false}) {
            const Filtered grid = runGrid(view, useDisparity);
            for (int x = 0; x < width; ++x) {
                const double own = (x < width / 2 ? 9.0 : 9.5) + colour;
                const double base = grid.base[size_t(height / 2 * width + x)];
                const bool beside = x == width / 2 - 1 || x == width / 2;
                if (useDisparity || x < 4 || x >= width - 4)
                    QVERIFY2(std::abs(base - own) < 0.06,
                             qPrintable(QStringLiteral("disparity %1, x %2: base %3")
                                            .arg(useDisparity)
                                            .arg(x)
                                            .arg(base)));
                else if (beside)
                    QVERIFY2(std::abs(base - own) > 0.1,
                             qPrintable(QStringLiteral("x %1: base %2").arg(x).arg(base)));
            }
        }
    }

    void pointLightLeavesItsSurroundingsAlone()
    {
        // Sixteen stops above the room, the light takes no part in the room's base layer: the
        // texels around it map as the room does elsewhere, and it keeps its own base.
        const int width = 64, height = 64;
        const HdrView view = pointLight(width, height);
        const Filtered grid = runGrid(view, false);
        const Filtered far =
            runGrid(makeView(width, height,
                             [&](int x, int y, float rgb[3]) {
                                 decodeRgbe(&view.rgbe[size_t(y * width + x) * 4], rgb);
                                 if (std::abs(x - 30) <= 1 && std::abs(y - 33) <= 1)
                                     rgb[0] = rgb[1] = rgb[2] = 0.0f;
                             }),
                    false);
        for (int y = 28; y <= 38; ++y) {
            for (int x = 25; x <= 35; ++x) {
                const size_t texel = size_t(y * width + x);
                if (std::abs(x - 30) <= 1 && std::abs(y - 33) <= 1) {
                    QVERIFY2(grid.base[texel] > 11.5,
                             qPrintable(QStringLiteral("light (%1, %2): base %3")
                                            .arg(x)
                                            .arg(y)
                                            .arg(grid.base[texel])));
                } else {
                    QVERIFY2(std::abs(grid.base[texel] - far.base[texel]) < 0.01,
                             qPrintable(QStringLiteral("(%1, %2): base %3 beside the light, %4 "
                                                       "without it")
                                            .arg(x)
                                            .arg(y)
                                            .arg(grid.base[texel])
                                            .arg(far.base[texel])));
                }
            }
        }
    }
};

QTEST_GUILESS_MAIN(BilateralGridTest)
#include "BilateralGridTest.moc"
