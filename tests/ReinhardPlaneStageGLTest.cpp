#include "deliverables/BuildConfiguration.h"
#include "lightfield/LightfieldReader.h"
#include "lightfield/Rgbe.h"
#include "postprocessing/LinearPlaneStage.h"
#include "postprocessing/LuminanceStatistics.h"
#include "postprocessing/PlaneStages.h"
#include "postprocessing/Reinhard05PostProcessors.h"
#include "postprocessing/ReinhardPlaneStage.h"
#include "support/GLImages.h"
#include "support/GLTestContext.h"
#include "support/LightfieldFiles.h"
#include "support/PhotoreceptorReference.h"
#include "support/PlaneBuilder.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <functional>

// The photoreceptor operator applied once per view while the plane is built: the shared flavour
// against a CPU reference of the pooled statistics and the fixed stretch, the per-view flavour
// against each view's own, the twins that differ in brightness only, and the refusal when the
// GPU cannot hold the views the shared flavour keeps at once.
class ReinhardPlaneStageGLTest : public QObject
{
    Q_OBJECT

    GLTestContext m_gl;
    QTemporaryDir m_directory;
    static constexpr int width = 6;
    static constexpr int height = 4;

    using Texel = std::function<void(int column, int row, int x, int y, float *rgb)>;

    // An RGBE file of columns × rows views; with disparity every map holds 1.
    QString writeFile(const QString &name, int columns, int rows, bool disparity,
                      const Texel &texel)
    {
        QByteArray content = QStringLiteral("%1 %2 %3 %4 20 0 1 %5 2\n")
                                 .arg(width)
                                 .arg(height)
                                 .arg(columns * rows)
                                 .arg(columns)
                                 .arg(disparity ? 1 : 0)
                                 .toLatin1();
        auto append = [&](float r, float g, float b) {
            std::uint8_t rgbe[4];
            encodeRgbe(r, g, b, rgbe);
            content.append(reinterpret_cast<const char *>(rgbe), 4);
        };
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < columns; ++column) {
                for (int i = 0; i < width * height; ++i) {
                    float rgb[3];
                    texel(column, row, i % width, i / width, rgb);
                    append(rgb[0], rgb[1], rgb[2]);
                }
                for (int i = 0; disparity && i < width * height; ++i)
                    append(1.0f, 1.0f, 1.0f);
            }
        }
        return writeTestFile(m_directory, name, content);
    }

    // The views of a file as the stage sees them: decoded RGBE texels.
    static std::vector<std::vector<std::uint8_t>> encodedViews(int columns, int rows,
                                                               const Texel &texel)
    {
        std::vector<std::vector<std::uint8_t>> views;
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < columns; ++column) {
                std::vector<std::uint8_t> bytes;
                for (int i = 0; i < width * height; ++i) {
                    float rgb[3];
                    texel(column, row, i % width, i / width, rgb);
                    std::uint8_t rgbe[4];
                    encodeRgbe(rgb[0], rgb[1], rgb[2], rgbe);
                    bytes.insert(bytes.end(), rgbe, rgbe + 4);
                }
                views.push_back(bytes);
            }
        }
        return views;
    }

    // The operator on a view's texels as the linear pass stores them, with the given statistics.
    static std::vector<double> mapped(const std::vector<std::uint8_t> &rgbe,
                                      const ViewStatistics &statistics, double brightness)
    {
        return tonemapColours(linearColours(rgbe, true), statistics, brightness);
    }

    static QString compare(const std::vector<std::uint8_t> &actual,
                           const std::vector<double> &expected, double tolerance)
    {
        for (size_t i = 0; i < expected.size(); ++i) {
            const int got = actual[i / 3 * 4 + i % 3];
            if (std::abs(got - expected[i]) > tolerance)
                return QStringLiteral("texel %1 channel %2: %3, expected %4")
                    .arg(i / 3)
                    .arg(i % 3)
                    .arg(got)
                    .arg(expected[i]);
        }
        return QString();
    }

    // Views that differ in exposure and content, so pooled and own statistics differ.
    static void gradient(int column, int row, int x, int y, float *rgb)
    {
        const float exposure = std::ldexp(1.0f, 3 * column - 2 * row);
        const float base = 0.02f * float(1 + x + width * y);
        rgb[0] = exposure * base * 3.0f;
        rgb[1] = exposure * base;
        rgb[2] = exposure * base * 0.5f + 0.001f;
    }

private slots:
    void initTestCase()
    {
        LF_CREATE_GL_CONTEXT(m_gl);
        QVERIFY(m_directory.isValid());
        loadShaderPrograms();
    }

    void cleanup() { LF_VERIFY_NO_GL_ERROR(m_gl); }

    void sharedStatisticsDriveEveryView()
    {
        const QString path = writeFile(QStringLiteral("shared.lf2d"), 2, 2, true, gradient);
        LightfieldReader reader(QUrl::fromLocalFile(path));
        const auto plane = buildReinhardPlane(&reader, {true, 1.0f});
        QCOMPARE(plane->supportedLayers(), KeyList({LdrRgb, Disparity, DisparityTiles}));
        QVERIFY(plane->supportedParameters().empty());

        const auto views = encodedViews(2, 2, gradient);
        std::vector<ViewStatistics> own;
        for (const auto &view : views)
            own.push_back(referenceStatistics(view));
        const ViewStatistics pooled = pooledStatistics(own);
        for (int row = 0; row < 2; ++row) {
            for (int column = 0; column < 2; ++column) {
                const auto shown =
                    readTextureBytes(*plane->layerAt(column, row, LdrRgb), width, height);
                // Half-float linear colour and two 8-bit roundings: two steps.
                const QString mismatch = compare(
                    shown,
                    stretched(quantised(mapped(views[size_t(row * 2 + column)], pooled, 1.0)), 0,
                              230),
                    2.0);
                QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
                QVERIFY(plane->layerAt(column, row, Disparity));
            }
        }
    }

    void sharedMinimumStartsAtTenThousand()
    {
        // Every luminance above 10000: the pooled minimum stays 10000, below the view's own. A
        // strongly negative brightness keeps the responses of such a bright view off their
        // ceiling, where the contrast the minimum sets shows.
        auto bright = [](int, int, int x, int, float *rgb) {
            rgb[0] = rgb[1] = rgb[2] = 20000.0f + 5000.0f * float(x);
        };
        const QString path = writeFile(QStringLiteral("bright.lf2d"), 1, 1, false, bright);
        LightfieldReader reader(QUrl::fromLocalFile(path));
        const auto plane = buildReinhardPlane(&reader, {true, -10.0f});
        QCOMPARE(plane->supportedLayers(), KeyList({LdrRgb}));
        const auto view = encodedViews(1, 1, bright)[0];
        const ViewStatistics own = referenceStatistics(view);
        QVERIFY(own.minimum > 10000.0);
        const ViewStatistics pooled = pooledStatistics({own});
        QCOMPARE(pooled.minimum, 10000.0);
        const QString mismatch =
            compare(readTextureBytes(*plane->layerAt(0, 0, LdrRgb), width, height),
                    stretched(quantised(mapped(view, pooled, -10.0)), 0, 230), 2.0);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    }

    void perViewStatisticsAndRange()
    {
        const QString path = writeFile(QStringLiteral("perview.lf2d"), 2, 1, false, gradient);
        LightfieldReader reader(QUrl::fromLocalFile(path));
        const auto plane = buildReinhardPlane(&reader, {false, 5.0f});
        const auto views = encodedViews(2, 1, gradient);
        for (int column = 0; column < 2; ++column) {
            // Its own statistics and contrast, stretched to the measured range: the luminance
            // bytes of the quantised result.
            const ViewStatistics own = referenceStatistics(views[size_t(column)]);
            const auto shown = readTextureBytes(*plane->layerAt(column, 0, LdrRgb), width, height);
            const QString mismatch =
                compare(shown, stretchedToTheirRange(mapped(views[size_t(column)], own, 5.0)), 3.0);
            QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
        }
    }

    void operatorPassDecodesAsTheLinearPassDoes_data()
    {
        QTest::addColumn<bool>("stretch");
        QTest::newRow("per view: the operator alone") << false;
        QTest::newRow("shared: with the fixed stretch") << true;
    }

    // The stages decode RGBE in the operator's pass (and the shared one stretches there too):
    // what the linear pass, the operator's pass on its half floats and the stretch's pass draw,
    // from exponents too faint for a half float to hold exactly to colours beyond the largest
    // one. One step: the pass on linear colour raises it to "preGamma" 1 approximately, and the
    // stretch in a pass of its own starts from bytes.
    void operatorPassDecodesAsTheLinearPassDoes()
    {
        QFETCH(bool, stretch);
        const std::vector<std::uint8_t> rgbe = rgbeAcrossTheHalfFloatRange();
        const int width = int(rgbe.size() / 4);
        const LuminanceStatistics statistics = luminanceStatisticsOf(rgbe.data(), width);
        PhotoreceptorSettings settings;
        settings.brightness = 1.0f;
        settings.preGamma = 1.0f;
        const LuminanceStretch range {10, 230};

        ScopedFramebuffer framebuffer;
        OwnedTexture twoPasses =
            photoreceptorTonemap(linearTonemap(uploadRgba8(width, 1, rgbe), width, 1, 1.0f, 1.0f),
                                 width, 1, settings, statistics);
        if (stretch)
            twoPasses =
                normalizeLuminance(std::move(twoPasses), width, 1, range.minimum, range.maximum);
        const OwnedTexture onePass =
            photoreceptorTonemapRgbe(uploadRgba8(width, 1, rgbe), width, 1, settings, statistics,
                                     stretch ? &range : nullptr);
        const std::vector<std::uint8_t> expected = readTextureBytes(*twoPasses, width, 1);
        const std::vector<std::uint8_t> actual = readTextureBytes(*onePass, width, 1);
        for (size_t i = 0; i < expected.size(); ++i) {
            QVERIFY2(std::abs(int(actual[i]) - int(expected[i])) <= 1,
                     qPrintable(QStringLiteral("texel %1 channel %2: %3, expected %4")
                                    .arg(i / 4)
                                    .arg(i % 4)
                                    .arg(actual[i])
                                    .arg(expected[i])));
        }
    }

    void twinsDifferInBrightnessOnly_data()
    {
        QTest::addColumn<QString>("dim");
        QTest::addColumn<QString>("bright");
        QTest::newRow("shared") << "viewer-plane-reinhard-b1"
                                << "viewer-plane-reinhard-b6";
        QTest::newRow("per view") << "viewer-plane-reinhard-minmax-b0"
                                  << "viewer-plane-reinhard-minmax-b5";
    }

    void twinsDifferInBrightnessOnly()
    {
        QFETCH(QString, dim);
        QFETCH(QString, bright);
        const QString path = writeFile(QStringLiteral("twins.lf2d"), 2, 1, false, gradient);
        std::vector<std::uint8_t> pictures[2];
        for (int i = 0; i < 2; ++i) {
            const BuildConfiguration *configuration =
                findBuildConfiguration((i == 0 ? dim : bright).toStdString());
            QVERIFY(configuration);
            LightfieldReader reader(QUrl::fromLocalFile(path));
            const auto plane = createLightfieldPlane(PipelineOptions(), &reader, *configuration);
            pictures[i] = readTextureBytes(*plane->layerAt(0, 0, LdrRgb), width, height);
        }
        // A larger brightness lowers f = exp(-brightness) and lifts every response; the
        // pictures share their order of light and dark.
        double sums[2] = {};
        for (size_t i = 0; i < pictures[0].size(); ++i) {
            if (i % 4 != 3) {
                sums[0] += pictures[0][i];
                sums[1] += pictures[1][i];
                QVERIFY(pictures[1][i] + 2 >= pictures[0][i]);
            }
        }
        QVERIFY2(sums[1] > sums[0] * 1.05,
                 qPrintable(QStringLiteral("%1 vs %2").arg(sums[1]).arg(sums[0])));
    }

    // The shared flavour reads every view before it can finish one: its progress counts both
    // sweeps, and a stop in the second leaves the views read and the plane unbuilt.
    void progressCountsEverySweep_data()
    {
        QTest::addColumn<bool>("shared");
        QTest::newRow("shared statistics") << true;
        QTest::newRow("per view") << false;
    }

    void progressCountsEverySweep()
    {
        QFETCH(bool, shared);
        const QString path = writeFile(QStringLiteral("progress.lf2d"), 3, 1, false, gradient);
        LightfieldReader reader(QUrl::fromLocalFile(path));
        QStringList steps;
        const auto record = [&](const PlaneProgress &progress) {
            steps << QStringLiteral("%1/%2 of sweep %3/%4")
                         .arg(progress.view)
                         .arg(progress.viewCount)
                         .arg(progress.sweep)
                         .arg(progress.sweepCount);
        };
        QVERIFY(buildReinhardPlane(&reader, {shared, 1.0f}, record));
        QStringList expected;
        for (int sweep = 0; sweep < (shared ? 2 : 1); ++sweep) {
            for (int view = 0; view < 3; ++view)
                expected << QStringLiteral("%1/3 of sweep %2/%3")
                                .arg(view)
                                .arg(sweep)
                                .arg(shared ? 2 : 1);
        }
        QCOMPARE(steps, expected);

        struct Stop
        {
        };
        LightfieldReader again(QUrl::fromLocalFile(path));
        const auto stopInLastSweep = [&](const PlaneProgress &progress) {
            if (progress.sweep == progress.sweepCount - 1 && progress.view == 1)
                throw Stop();
        };
        QVERIFY_EXCEPTION_THROWN(buildReinhardPlane(&again, {shared, 1.0f}, stopInLastSweep), Stop);
        QCOMPARE(again.viewsRead(), shared ? 3 : 1);
    }

    void sharedFlavourRefusesWhatTheGpuCannotHold()
    {
        const QString path = writeFile(QStringLiteral("large.lf2d"), 2, 2, false, gradient);
        LightfieldReader reader(QUrl::fromLocalFile(path));
        // The four RGBE views need 4 × 6 × 4 × 4 = 384 bytes at once.
        ReinhardPlaneSettings settings {true, 1.0f, 350};
        const QString message =
            configurationErrorOf([&] { buildReinhardPlane(&reader, settings); });
        QVERIFY2(message.contains(QStringLiteral("Not enough GPU memory")), qPrintable(message));
        QVERIFY(message.contains(path));
        QVERIFY(message.contains(QStringLiteral("2 x 2 views")));
        // Nothing was read: the check comes before the first view.
        QCOMPARE(reader.viewsRead(), 0);

        LightfieldReader again(QUrl::fromLocalFile(path));
        settings.textureMemoryBytes = 384;
        QVERIFY(buildReinhardPlane(&again, settings));
    }
};

QTEST_MAIN(ReinhardPlaneStageGLTest)
#include "ReinhardPlaneStageGLTest.moc"
