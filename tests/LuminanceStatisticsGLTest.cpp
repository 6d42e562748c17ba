#include "lightfield/Rgbe.h"
#include "postprocessing/LuminanceStatistics.h"
#include "support/GLImages.h"
#include "support/GLTestContext.h"
#include "support/PlaneBuilder.h"
#include "viewer/gpu/GpuPass.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <random>

// The measurements tone mapping rests on: the per-view statistics of RGBE views on the CPU, the
// GPU pyramid that finds the luminance range of an 8-bit picture, and the stretch of that range.
class LuminanceStatisticsGLTest : public QObject
{
    Q_OBJECT

    GLTestContext m_gl;

    using Bytes = std::vector<std::uint8_t>;

    // The luminance of an 8-bit texel the way the first reduction pass sees it, in bytes.
    static int luminanceByte(const std::uint8_t *texel)
    {
        const double luminance =
            (0.2126 * texel[0] + 0.7152 * texel[1] + 0.0722 * texel[2]) / 255.0;
        return int(std::lround(luminance * 255.0));
    }

    // Random 8-bit texels, with the darkest and the brightest placed where asked; opaque black
    // outside `drawn` unless it is empty.
    static Bytes randomImage(int width, int height, unsigned seed, QPoint darkest, QPoint brightest,
                             QRect drawn = QRect())
    {
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> byte(40, 215);
        Bytes texels(size_t(width) * height * 4);
        for (size_t i = 0; i < texels.size(); ++i) {
            const int texel = int(i / 4);
            const bool black = !drawn.isEmpty() && !drawn.contains(texel % width, texel / width);
            texels[i] = std::uint8_t((i % 4) == 3 ? 255 : black ? 0 : byte(random));
        }
        auto set = [&](QPoint at, std::uint8_t value) {
            std::uint8_t *texel = &texels[(size_t(at.y()) * width + at.x()) * 4];
            texel[0] = texel[1] = texel[2] = value;
        };
        set(darkest, 7);
        set(brightest, 250);
        return texels;
    }

    // Sizes of the passes reduceMinMaxLuminance draws, from the viewport each one leaves.
    std::pair<std::pair<int, int>, QList<QSize>>
    reduceRecordingPasses(QOpenGLTexture &image, int width, int height, QRect drawn)
    {
        QList<QSize> passes;
        setPassObserver([&](const char *) {
            GLint viewport[4] = {};
            m_gl.gl()->glGetIntegerv(GL_VIEWPORT, viewport);
            passes << QSize(viewport[2], viewport[3]);
        });
        const auto range =
            reduceMinMaxLuminance(image, width, height, drawn.isEmpty() ? nullptr : &drawn);
        m_gl.installPassCheck();
        return {range, passes};
    }

private slots:
    void initTestCase()
    {
        LF_CREATE_GL_CONTEXT(m_gl);
        loadShaderPrograms();
        for (ShaderProgram program :
             {ShaderProgram::MinMaxLuminance, ShaderProgram::MinMaxLuminanceLoop,
              ShaderProgram::NormalizeLuminance})
            QVERIFY2(isShaderProgramLinked(program), qPrintable(shaderFileName(program)));
    }

    void cleanup() { LF_VERIFY_NO_GL_ERROR(m_gl); }

    void statisticsOfKnownTexels()
    {
        // Each texel's luminance worked out by hand: (128, 128, 128, 136) is grey 128 at a scale
        // of 1, luminance 128; (1, 0, 0, 137) red 2, 0.2126 × 2 = 0.4252; (0, 128, 0, 136) green
        // 128, 0.7152 × 128 = 91.5456; (0, 0, 128, 137) blue 256, 0.0722 × 256 = 18.4832. The
        // colours tell the three weights apart.
        const Bytes texels = {128, 128, 128, 136, 1, 0, 0, 137, 0, 128, 0, 136, 0, 0, 128, 137};
        const double luminances[4] = {128.0, 0.4252, 91.5456, 18.4832};
        const LuminanceStatistics statistics = luminanceStatisticsOf(texels.data(), 4);
        QCOMPARE(statistics.averageRed(), (128.0 + 2.0) / 4.0);
        QCOMPARE(statistics.averageGreen(), (128.0 + 128.0) / 4.0);
        QCOMPARE(statistics.averageBlue(), (128.0 + 256.0) / 4.0);
        QVERIFY(std::abs(statistics.averageLuminance() - (128.0 + 0.4252 + 91.5456 + 18.4832) / 4.0)
                < 1e-5);
        QVERIFY(std::abs(statistics.minLuminance() - 0.4252) < 1e-6);
        QCOMPARE(statistics.maxLuminance(), 128.0);
        double logAverage = 0.0;
        for (double luminance : luminances)
            logAverage += std::log(luminance + 0.00001) / 4.0;
        QVERIFY(std::abs(statistics.averageLogLuminance() - logAverage) < 1e-5);
        const double key = (std::log(128.0) - logAverage) / (std::log(128.0) - std::log(0.4252));
        QVERIFY(std::abs(statistics.contrast() - (0.3 + 0.7 * std::pow(key, 1.4))) < 1e-5);
    }

    void statisticsOfEveryExponentAgainstDoublePrecision()
    {
        // Texels of every exponent byte with mantissas all over their range, more than one run of
        // the loop that takes their logarithms and a partial last run, and enough for a part on
        // each of several cores: each figure against the same figure taken texel by texel in
        // double precision.
        Bytes texels;
        for (int i = 0; i < 100001; ++i) {
            const std::uint8_t texel[4] = {std::uint8_t(i * 7 % 256), std::uint8_t(i * 13 % 256),
                                           std::uint8_t(i * 29 % 256), std::uint8_t(i % 256)};
            texels.insert(texels.end(), texel, texel + 4);
        }
        const std::int64_t count = std::int64_t(texels.size() / 4);
        double sums[5] = {};
        double minimum = 100000.0, maximum = 0.0;
        for (std::int64_t i = 0; i < count; ++i) {
            float rgb[3];
            decodeRgbe(&texels[size_t(i) * 4], rgb);
            const float luminance =
                float(0.7152 * double(rgb[1]) + 0.2126 * double(rgb[0]) + 0.0722 * double(rgb[2]));
            sums[0] += rgb[0];
            sums[1] += rgb[1];
            sums[2] += rgb[2];
            sums[3] += luminance;
            sums[4] += std::log(double(luminance + 0.00001f));
            minimum = std::min(minimum, double(luminance));
            maximum = std::max(maximum, double(luminance));
        }
        const LuminanceStatistics statistics = luminanceStatisticsOf(texels.data(), count);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(statistics.values[size_t(i)], sums[i] / double(count));
        // A logarithm in single precision is off by a unit in the last place at most.
        QVERIFY2(std::abs(statistics.averageLogLuminance() - sums[4] / double(count)) < 1e-6,
                 qPrintable(QString::number(statistics.averageLogLuminance() - sums[4] / count)));
        QCOMPARE(statistics.minLuminance(), minimum);
        QCOMPARE(statistics.maxLuminance(), maximum);
        // The curve stage measures the range alone.
        QCOMPARE(luminanceRangeOf(texels.data(), count), std::make_pair(minimum, maximum));
    }

    void contrastIsAlwaysAnExponentOfThreeTenthsToOne_data()
    {
        QTest::addColumn<QVector<float>>("luminances");
        QTest::addColumn<double>("expected"); // negative: any value in [0.3, 1]
        // A black texel makes ln min = -inf: no key.
        QTest::newRow("one black texel") << QVector<float>({0.0f, 5.0f, 9.0f}) << 0.3;
        QTest::newRow("all black") << QVector<float>({0.0f, 0.0f}) << 0.3;
        QTest::newRow("flat grey") << QVector<float>({0.5f, 0.5f, 0.5f}) << 0.3;
        // The log average carries +0.00001 but the extremes do not: with luminances this dim
        // the average of the logs lies above ln max and the raw key is negative.
        QTest::newRow("dim") << QVector<float>({2e-7f, 3e-7f, 4e-7f}) << 0.3;
        QTest::newRow("ordinary view") << QVector<float>({0.01f, 0.5f, 20.0f, 300.0f}) << -1.0;
    }

    void contrastIsAlwaysAnExponentOfThreeTenthsToOne()
    {
        QFETCH(QVector<float>, luminances);
        QFETCH(double, expected);
        Bytes texels;
        for (float luminance : luminances) {
            std::uint8_t texel[4];
            encodeRgbe(luminance, luminance, luminance, texel);
            texels.insert(texels.end(), texel, texel + 4);
        }
        const LuminanceStatistics statistics =
            luminanceStatisticsOf(texels.data(), luminances.size());
        for (double value : statistics.values)
            QVERIFY(std::isfinite(value));
        if (expected > 0.0)
            QCOMPARE(statistics.contrast(), expected);
        QVERIFY(statistics.contrast() >= 0.3 && statistics.contrast() <= 1.0);
    }

    void statisticsReadTheTextureBack()
    {
        // An RGBE texture of odd width, read back whole: the same figures as its bytes give.
        const int width = 7, height = 3;
        Bytes texels(size_t(width) * height * 4);
        for (size_t i = 0; i < texels.size(); ++i)
            texels[i] = std::uint8_t((i % 4) == 3 ? 120 + i % 30 : 17 * i % 256);
        const OwnedTexture texture = uploadRgba8(width, height, texels);
        const LuminanceStatistics fromGpu = computeLuminanceStatistics(*texture, width, height);
        const LuminanceStatistics fromBytes = luminanceStatisticsOf(texels.data(), width * height);
        QCOMPARE(fromGpu.values, fromBytes.values);
    }

    void reductionPyramid_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("darkest");
        QTest::addColumn<QPoint>("brightest");
        QTest::addColumn<QList<QSize>>("passes");
        QTest::addColumn<QRect>("drawn"); // empty: the whole image is measured
        QTest::newRow("1x1: the first pass only") << QSize(1, 1) << QPoint(0, 0) << QPoint(0, 0)
                                                  << QList<QSize>({QSize(1, 1)}) << QRect();
        // Black outside a drawn part: only the part is measured, its extremes on its edges, and
        // the black counts as the minimum.
        QTest::newRow("13x9, drawn 7x5 inside") << QSize(13, 9) << QPoint(8, 7) << QPoint(2, 3)
                                                << QList<QSize>({{1, 2}}) << QRect(2, 3, 7, 5);
        QTest::newRow("13x9, drawn reaching past its corner")
            << QSize(13, 9) << QPoint(12, 8) << QPoint(10, 6) << QList<QSize>({{1, 1}})
            << QRect(10, 6, 9, 9);
        QTest::newRow("13x9, drawn whole: no black")
            << QSize(13, 9) << QPoint(0, 8) << QPoint(12, 0) << QList<QSize>({{2, 3}})
            << QRect(0, 0, 13, 9);
        QTest::newRow("5x3") << QSize(5, 3) << QPoint(1, 1) << QPoint(3, 0)
                             << QList<QSize>({{1, 1}}) << QRect();
        // At sizes that are not whole blocks the last blocks reach past the level; the extremes
        // sit exactly there, so a read that fell outside would lose them.
        QTest::newRow("partial blocks, extremes in the last column and row")
            << QSize(7, 5) << QPoint(6, 2) << QPoint(3, 4) << QList<QSize>({{1, 2}}) << QRect();
        QTest::newRow("partial blocks, both extremes in the last corner texels")
            << QSize(9, 1) << QPoint(8, 0) << QPoint(0, 0) << QList<QSize>({{2, 1}}) << QRect();
        QTest::newRow("partial blocks on two levels")
            << QSize(130, 66) << QPoint(129, 65) << QPoint(128, 0)
            << QList<QSize>({{17, 17}, {3, 3}}) << QRect();
        QTest::newRow("partial blocks, drawn part offset")
            << QSize(140, 70) << QPoint(131, 61) << QPoint(3, 67)
            << QList<QSize>({{17, 17}, {3, 3}}) << QRect(3, 0, 130, 68);
        QTest::newRow("1920x1080") << QSize(1920, 1080) << QPoint(1919, 1079) << QPoint(0, 1079)
                                   << QList<QSize>({{240, 270}, {30, 34}, {4, 5}}) << QRect();
    }

    void reductionPyramid()
    {
        QFETCH(QSize, size);
        QFETCH(QPoint, darkest);
        QFETCH(QPoint, brightest);
        QFETCH(QList<QSize>, passes);
        QFETCH(QRect, drawn);
        const int width = size.width(), height = size.height();
        const Bytes texels = randomImage(width, height, 7u, darkest, brightest, drawn);
        int expectedMinimum = 255, expectedMaximum = 0;
        for (size_t i = 0; i < texels.size(); i += 4) {
            expectedMinimum = std::min(expectedMinimum, luminanceByte(&texels[i]));
            expectedMaximum = std::max(expectedMaximum, luminanceByte(&texels[i]));
        }
        const OwnedTexture image = uploadRgba8(width, height, texels);
        ScopedFramebuffer framebuffer;
        const auto [range, sizes] = reduceRecordingPasses(*image, width, height, drawn);
        QCOMPARE(sizes, passes);
        // One step of rounding where the shader and the reference round differently.
        QVERIFY2(std::abs(range.first - expectedMinimum) <= 1,
                 qPrintable(
                     QStringLiteral("min %1, expected %2").arg(range.first).arg(expectedMinimum)));
        QVERIFY2(std::abs(range.second - expectedMaximum) <= 1,
                 qPrintable(
                     QStringLiteral("max %1, expected %2").arg(range.second).arg(expectedMaximum)));
        // The image is measured, not changed.
        QCOMPARE(readTextureBytes(*image, width, height), texels);
    }

    void normalisation_data()
    {
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::newRow("full range: unchanged") << 0 << 255;
        QTest::newRow("stretch of 50..150") << 50 << 150;
        // A flat or black picture measures no range; it passes unchanged.
        QTest::newRow("empty range") << 90 << 90;
        QTest::newRow("reversed range") << 200 << 100;
    }

    void normalisation()
    {
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        const int width = 16, height = 4;
        Bytes texels(size_t(width) * height * 4);
        for (size_t i = 0; i < texels.size(); ++i)
            texels[i] = std::uint8_t((i % 4) == 3 ? 255 : (i * 37) % 256);
        ScopedFramebuffer framebuffer;
        OwnedTexture image = uploadRgba8(width, height, texels);
        const OwnedTexture stretched =
            normalizeLuminance(std::move(image), width, height, minimum, maximum);
        const Bytes result = readTextureBytes(*stretched, width, height);
        for (size_t i = 0; i < texels.size(); ++i) {
            int expected = texels[i];
            if (i % 4 != 3 && maximum > minimum) {
                const double v =
                    (texels[i] / 255.0 - minimum / 255.0) / ((maximum - minimum) / 255.0);
                expected = int(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
            }
            QVERIFY2(std::abs(int(result[i]) - expected) <= 1,
                     qPrintable(QStringLiteral("byte %1: %2, expected %3")
                                    .arg(i)
                                    .arg(result[i])
                                    .arg(expected)));
        }
    }
};

QTEST_MAIN(LuminanceStatisticsGLTest)
#include "LuminanceStatisticsGLTest.moc"
