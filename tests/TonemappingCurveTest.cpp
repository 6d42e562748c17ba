#include "postprocessing/TonemappingCurve.h"
#include "lightfield/Rgbe.h"
#include "postprocessing/TexelMaths.h"

#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <vector>

Q_DECLARE_METATYPE(CurveStop)

namespace {

struct View
{
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> texels;
    float minimum = 0.0f; // decoded luminance of the darkest texel, floored
    float maximum = 0.0f;
};

// A grey view holding the given luminances, with its range measured from the texels themselves
// so that the extremes sit exactly on the range's ends.
View viewOf(int width, int height, const std::vector<double> &luminances)
{
    View view {width, height, std::vector<std::uint8_t>(4 * luminances.size()), 0.0f, 0.0f};
    view.minimum = std::numeric_limits<float>::infinity();
    for (std::size_t i = 0; i < luminances.size(); ++i) {
        std::uint8_t *texel = view.texels.data() + 4 * i;
        encodeRgbe(float(luminances[i]), float(luminances[i]), float(luminances[i]), texel);
        view.minimum = std::min(view.minimum, texelLuminance(texel));
        view.maximum = std::max(view.maximum, texelLuminance(texel));
    }
    view.minimum = std::max(view.minimum, luminanceFloor);
    return view;
}

// width × height luminances spread evenly in log between low and high.
View logGradient(int width, int height, double low, double high)
{
    std::vector<double> luminances(std::size_t(width) * height);
    for (std::size_t i = 0; i < luminances.size(); ++i)
        luminances[i] = low * std::pow(high / low, double(i) / double(luminances.size() - 1));
    return viewOf(width, height, luminances);
}

View viewNamed(const QString &name)
{
    if (name == "gradient")
        return logGradient(64, 64, 0.01, 100.0);
    if (name == "wide gradient")
        return logGradient(256, 256, 1e-3, 1e3);
    if (name == "narrow view")
        return logGradient(40, 25, 0.1, 10.0);
    if (name == "one bright pixel") {
        std::vector<double> luminances(64, 0.0);
        luminances[27] = 800.0;
        return viewOf(8, 8, luminances);
    }
    std::vector<double> luminances(100 * 70); // "noise"
    std::uint32_t state = 12345;
    for (double &luminance : luminances) {
        state = state * 1664525u + 1013904223u;
        luminance = std::exp(double(state >> 8) / double(1 << 24) * 16.0 - 8.0);
    }
    return viewOf(100, 70, luminances);
}

CurveResult curveOf(const View &view, int trimPassLimit)
{
    return computeTonemappingCurve(view.texels.data(), view.width, view.height, view.minimum,
                                   view.maximum, trimPassLimit);
}

std::int64_t sumOf(const LuminanceHistogram &histogram)
{
    return std::accumulate(histogram.begin(), histogram.end(), std::int64_t(0));
}

// The threshold table written out once more, row by row, to check the implementation's choice.
double thresholdRow(int row, double x)
{
    const double rows[] = {x - 1.255, std::pow(0.249 * x + 0.65, 2.7) - 0.72, x - 0.395,
                           std::pow(0.405 * x + 1.6, 2.18) - 2.86, -2.86};
    return rows[row - 1];
}

} // namespace

// The tone curve's CPU maths, without a GL context.
class TonemappingCurveTest : public QObject
{
    Q_OBJECT

private slots:
    void thresholdTable_data()
    {
        QTest::addColumn<double>("x");
        QTest::addColumn<int>("row");
        const double below = -std::numeric_limits<double>::infinity();
        QTest::newRow("1.9 takes the first row") << 1.9 << 1;
        QTest::newRow("below 1.9 the second") << std::nextafter(1.9, below) << 2;
        QTest::newRow("-0.0184 takes the second row") << -0.0184 << 2;
        QTest::newRow("below -0.0184 the third") << std::nextafter(-0.0184, below) << 3;
        QTest::newRow("-1.44 takes the third row") << -1.44 << 3;
        QTest::newRow("below -1.44 the fourth") << std::nextafter(-1.44, below) << 4;
        QTest::newRow("-3.94 takes the fourth row") << -3.94 << 4;
        QTest::newRow("below -3.94 the floor") << std::nextafter(-3.94, below) << 5;
        QTest::newRow("NaN the floor") << std::nan("") << 5;
    }

    void thresholdTable()
    {
        QFETCH(double, x);
        QFETCH(int, row);
        QCOMPARE(log10Threshold(x), thresholdRow(row, x));
    }

    void thresholdOfLuminance_data()
    {
        QTest::addColumn<float>("luminance");
        QTest::addColumn<int>("row");
        QTest::newRow("zero") << 0.0f << 5;
        QTest::newRow("0.5") << 0.5f << 3;
        QTest::newRow("1") << 1.0f << 2;
        QTest::newRow("1000") << 1000.0f << 1;
    }

    void thresholdOfLuminance()
    {
        QFETCH(float, luminance);
        QFETCH(int, row);
        const double x = std::log10(luminance);
        const float expected = float(std::pow(10.0, double(float(thresholdRow(row, x)))));
        QCOMPARE(thresholdVersusIntensity(luminance), expected);
        if (row == 5)
            QCOMPARE(thresholdVersusIntensity(luminance), float(std::pow(10.0, -2.86)));
    }

    void luminanceOfColouredTexels_data()
    {
        // Mantissas at exponent 136 are the values themselves; 140 scales them by 16.
        QTest::addColumn<QVector<int>>("rgbe");
        QTest::addColumn<double>("luminance");
        QTest::newRow("red 128") << QVector<int>({128, 0, 0, 136}) << 0.2126 * 128;
        QTest::newRow("green 128") << QVector<int>({0, 128, 0, 136}) << 0.7152 * 128;
        QTest::newRow("blue 128") << QVector<int>({0, 0, 128, 136}) << 0.0722 * 128;
        QTest::newRow("16, 32, 48")
            << QVector<int>({1, 2, 3, 140}) << 0.2126 * 16 + 0.7152 * 32 + 0.0722 * 48;
    }

    void luminanceOfColouredTexels()
    {
        QFETCH(QVector<int>, rgbe);
        QFETCH(double, luminance);
        const std::uint8_t texel[4] = {std::uint8_t(rgbe[0]), std::uint8_t(rgbe[1]),
                                       std::uint8_t(rgbe[2]), std::uint8_t(rgbe[3])};
        QCOMPARE(texelLuminance(texel), float(luminance));
    }

    void binOfLuminance_data()
    {
        QTest::addColumn<float>("luminance");
        QTest::addColumn<float>("lnMinimum");
        QTest::addColumn<float>("range");
        QTest::addColumn<int>("bin");
        const float lnMinimum = std::log(0.01f);
        const float range = std::log(100.0f) - lnMinimum;
        const int middle = int((std::log(0.5) - std::log(0.01)) / std::log(1e4) * curveBins);
        QTest::newRow("at the minimum") << 0.01f << lnMinimum << range << 0;
        QTest::newRow("below the minimum") << 0.001f << lnMinimum << range << 0;
        QTest::newRow("black") << 0.0f << lnMinimum << range << 0;
        QTest::newRow("inside") << 0.5f << lnMinimum << range << middle;
        QTest::newRow("at the maximum") << 100.0f << lnMinimum << range << curveBins - 1;
        QTest::newRow("above the maximum") << 1e4f << lnMinimum << range << curveBins - 1;
        const float nan = std::numeric_limits<float>::quiet_NaN();
        QTest::newRow("zero range, at the minimum") << 2.0f << 0.0f << 0.0f << 0;
        QTest::newRow("zero range, above") << 3.0f << 0.0f << 0.0f << 0;
        QTest::newRow("+inf position") << 1e30f << 0.0f << 1e-40f << 0;
        QTest::newRow("NaN position") << 2.0f << nan << range << 0;
    }

    void binOfLuminance()
    {
        QFETCH(float, luminance);
        QFETCH(float, lnMinimum);
        QFETCH(float, range);
        QFETCH(int, bin);
        QCOMPARE(luminanceBin(luminance, lnMinimum, range), bin);
    }

    void extremesFillTheEndBins()
    {
        // The range runs from the dimmer grey to the brighter one; black lies below it.
        const View view = viewOf(3, 2, {0.0, 0.02, 0.02, 3.0, 40.0, 40.0});
        const float lnMinimum = std::log(texelLuminance(view.texels.data() + 4));
        const LuminanceHistogram histogram = luminanceHistogram(view.texels.data(), 6, lnMinimum,
                                                                std::log(view.maximum) - lnMinimum);
        QCOMPARE(histogram[0], 3); // black, and the two at the minimum
        QCOMPARE(histogram[curveBins - 1], 2);
        QCOMPARE(sumOf(histogram), std::int64_t(6));
    }

    // The histogram's fast path is exact only if the library's logarithm lies within this bound
    // of naturalLog: every mantissa where ln x is small and the bound absolute, and a stride of
    // all normal floats.
    void fastLogarithmStaysWithinItsBound()
    {
        std::int64_t outside = 0;
        float worst = 0.0f;
        const auto check = [&](std::uint32_t bits) {
            float x = 0.0f;
            std::memcpy(&x, &bits, sizeof x);
            const float fast = naturalLog(x);
            if (!(std::fabs(fast - std::log(x)) <= naturalLogErrorBound(fast))) {
                ++outside;
                worst = x;
            }
        };
        for (std::uint32_t bits = 0x3f000000u; bits < 0x40000000u; ++bits) // [0.5, 2)
            check(bits);
        for (std::uint32_t bits = 0x00800000u; bits <= 0x7f7fffffu; bits += 97)
            check(bits);
        QVERIFY2(outside == 0,
                 qPrintable(QStringLiteral("%1 logarithms outside the bound, e.g. of %2")
                                .arg(outside)
                                .arg(double(worst), 0, 'g', 9)));
    }

    void histogramBinsEveryTexelAsLuminanceBinDoes_data()
    {
        QTest::addColumn<float>("lnMinimum");
        QTest::addColumn<float>("range");
        const float lnSmallest = std::log(1e-38f);
        QTest::newRow("the whole RGBE range") << lnSmallest << std::log(3e38f) - lnSmallest;
        QTest::newRow("a typical view") << std::log(0.01f) << std::log(1e4f);
        // Each bin a few floats wide, far narrower than the fast logarithm's bound: every texel
        // inside takes the slow way.
        QTest::newRow("bins narrower than the bound") << std::log(100.0f) << 1e-3f;
        QTest::newRow("bins as wide as the bound") << std::log(100.0f) << 0.02f;
        QTest::newRow("a reversed axis") << std::log(100.0f) << -std::log(1e4f);
        QTest::newRow("positions beyond the float range") << 0.0f << 1e-40f;
    }

    void histogramBinsEveryTexelAsLuminanceBinDoes()
    {
        QFETCH(float, lnMinimum);
        QFETCH(float, range);
        std::vector<std::uint8_t> texels;
        const auto add = [&texels](int red, int green, int blue, int exponent) {
            texels.insert(texels.end(),
                          {std::uint8_t(red), std::uint8_t(green), std::uint8_t(blue),
                           std::uint8_t(exponent)});
        };
        // Every exponent, subnormal and black luminances among them, with mixed mantissas ...
        std::uint32_t state = 777;
        for (int exponent = 0; exponent < 256; ++exponent) {
            for (int i = 0; i < 256; ++i) {
                state = state * 1664525u + 1013904223u;
                add(int(state >> 24), int(state >> 16) & 255, int(state >> 8) & 255, exponent);
            }
            add(0, 0, 0, exponent);
        }
        // ... and colours around luminance 100, dense enough to meet many bins' edges.
        for (int red = 0; red < 256; ++red)
            for (int green = 100; green < 160; ++green)
                for (int blue = 0; blue < 256; blue += 15)
                    add(red, green, blue, 136);
        const std::int64_t count = std::int64_t(texels.size() / 4);

        LuminanceHistogram expected {};
        for (std::int64_t i = 0; i < count; ++i)
            ++expected[luminanceBin(texelLuminance(&texels[size_t(i) * 4]), lnMinimum, range)];
        const LuminanceHistogram histogram =
            luminanceHistogram(texels.data(), count, lnMinimum, range);
        for (int bin = 0; bin < curveBins; ++bin)
            QVERIFY2(histogram[bin] == expected[bin],
                     qPrintable(QStringLiteral("bin %1 holds %2 texels, not %3")
                                    .arg(bin)
                                    .arg(histogram[bin])
                                    .arg(expected[bin])));
    }

    void curveFromCounts()
    {
        LuminanceHistogram histogram {};
        histogram[10] = 1;
        histogram[20] = 5;
        const ToneCurve curve = curveFromHistogram(histogram, 6);
        QCOMPARE(int(curve[9]), 0);
        QCOMPARE(int(curve[19]), 43); // 255 / 6 = 42.5 rounds away from zero
        QCOMPARE(int(curve[20]), 255);

        // Nothing left to distribute: the ramp of a flat histogram.
        histogram.fill(1);
        const ToneCurve ramp = curveFromHistogram(LuminanceHistogram {}, 0);
        QVERIFY(ramp == curveFromHistogram(histogram, curveBins));
        QCOMPARE(int(ramp[0]), 0);
        QCOMPARE(int(ramp[curveBins / 2 - 1]), 128);
        QCOMPARE(int(ramp[curveBins - 1]), 255);
    }

    void curveFollowsTheTrimmedHistogram_data()
    {
        QTest::addColumn<QString>("view");
        QTest::addColumn<int>("trimPassLimit");
        for (const char *view : {"gradient", "one bright pixel", "noise"}) {
            QTest::addRow("%s, tolerance", view) << QString(view) << 0;
            QTest::addRow("%s, four passes", view) << QString(view) << 4;
        }
    }

    void curveFollowsTheTrimmedHistogram()
    {
        QFETCH(QString, view);
        QFETCH(int, trimPassLimit);
        const View input = viewNamed(view);
        const CurveResult result = curveOf(input, trimPassLimit);
        QVERIFY(!result.degenerate);
        QCOMPARE(sumOf(result.histogram), result.remainingTotal);
        QVERIFY(result.curve == curveFromHistogram(result.histogram, result.remainingTotal));
        QVERIFY(std::is_sorted(result.curve.begin(), result.curve.end()));
        if (result.remainingTotal > 0)
            QCOMPARE(int(result.curve[curveBins - 1]), 255);
        if (trimPassLimit == 4) {
            QCOMPARE(result.trimPasses, 4);
            QCOMPARE(result.stop, CurveStop::PassLimit);
        } else if (result.trimPasses > 0) {
            // The tolerance rules only decide when to stop; the passes themselves are the same.
            const CurveResult fixed = curveOf(input, result.trimPasses);
            QVERIFY(fixed.histogram == result.histogram);
            QVERIFY(fixed.curve == result.curve);
        }
    }

    void toleranceStopRules_data()
    {
        QTest::addColumn<QString>("view");
        QTest::addColumn<CurveStop>("stop");
        // 1000 texels over a range of ln 100 give a ceiling base of 0: the first pass trims all.
        QTest::newRow("few texels, narrow range")
            << QString("narrow view") << CurveStop::RemainingBelowTolerance;
        // 16 texels a bin against a ceiling base of 32: little to trim.
        QTest::newRow("many texels, wide range")
            << QString("wide gradient") << CurveStop::TrimBelowTolerance;
    }

    void toleranceStopRules()
    {
        QFETCH(QString, view);
        QFETCH(CurveStop, stop);
        const View input = viewNamed(view);
        const CurveResult result = curveOf(input, 0);
        const std::int64_t texels = std::int64_t(input.width) * input.height;
        QCOMPARE(result.tolerance, std::int64_t(texels * 25 / 1000));
        QCOMPARE(result.stop, stop);
        QVERIFY(result.trimPasses >= 1);
        const std::int64_t before =
            result.trimPasses == 1 ? texels : curveOf(input, result.trimPasses - 1).remainingTotal;
        if (stop == CurveStop::RemainingBelowTolerance) {
            QVERIFY(result.remainingTotal < result.tolerance);
            QVERIFY(before >= result.tolerance);
        } else {
            QVERIFY(result.remainingTotal >= result.tolerance);
            QVERIFY(before - result.remainingTotal < result.tolerance);
        }
    }

    void tinyViewsTerminate_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("empty") << 0 << 0;
        QTest::newRow("1x1") << 1 << 1;
        QTest::newRow("3x2") << 3 << 2;
        QTest::newRow("6x6") << 6 << 6;
        QTest::newRow("39x1") << 39 << 1;
    }

    void tinyViewsTerminate()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        std::vector<double> luminances(std::size_t(width) * height);
        for (std::size_t i = 0; i < luminances.size(); ++i)
            luminances[i] = i % 3 == 0 ? 1e-3 : 5.0 * double(i + 1);
        const View view = viewOf(width, height, luminances);
        const float minimum = 1e-3f;
        const float maximum = 1e3f;
        const CurveResult result =
            computeTonemappingCurve(view.texels.data(), width, height, minimum, maximum, 0);
        QCOMPARE(result.tolerance, std::int64_t(0));
        QCOMPARE(result.stop, CurveStop::NothingTrimmed);
        QVERIFY(result.trimPasses <= int(luminances.size()) + 1);
        QVERIFY(std::is_sorted(result.curve.begin(), result.curve.end()));
        QCOMPARE(int(result.curve[curveBins - 1]), 255);
        // A pass that trims nothing is a fixed point: more passes change nothing.
        const CurveResult more = computeTonemappingCurve(view.texels.data(), width, height, minimum,
                                                         maximum, result.trimPasses + 3);
        QVERIFY(more.histogram == result.histogram);
        QVERIFY(more.curve == result.curve);
    }

    void degenerateRangesGiveConstantCurves_data()
    {
        QTest::addColumn<float>("minimum");
        QTest::addColumn<float>("maximum");
        QTest::addColumn<int>("value");
        const float nan = std::numeric_limits<float>::quiet_NaN();
        const float infinity = std::numeric_limits<float>::infinity();
        QTest::newRow("all black") << luminanceFloor << 0.0f << 0;
        QTest::newRow("maximum at the floor") << luminanceFloor << luminanceFloor << 0;
        QTest::newRow("flat view") << 2.5f << 2.5f << 128;
        QTest::newRow("minimum above maximum") << 10.0f << 1.0f << 128;
        QTest::newRow("NaN minimum") << nan << 5.0f << 128;
        QTest::newRow("NaN maximum") << luminanceFloor << nan << 128;
        QTest::newRow("infinite maximum") << 1.0f << infinity << 128;
        QTest::newRow("zero minimum") << 0.0f << 5.0f << 128;
    }

    void degenerateRangesGiveConstantCurves()
    {
        QFETCH(float, minimum);
        QFETCH(float, maximum);
        QFETCH(int, value);
        const View view = viewNamed("one bright pixel");
        const CurveResult result = computeTonemappingCurve(view.texels.data(), view.width,
                                                           view.height, minimum, maximum, 0);
        QVERIFY(result.degenerate);
        QCOMPARE(result.stop, CurveStop::DegenerateRange);
        QCOMPARE(result.trimPasses, 0);
        QCOMPARE(result.remainingTotal, std::int64_t(view.width) * view.height);
        QCOMPARE(sumOf(result.histogram), result.remainingTotal);
        for (std::uint8_t byte : result.curve)
            QCOMPARE(int(byte), value);
    }
};

QTEST_GUILESS_MAIN(TonemappingCurveTest)
#include "TonemappingCurveTest.moc"
