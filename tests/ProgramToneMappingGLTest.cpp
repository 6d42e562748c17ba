#include "deliverables/BuildConfiguration.h"
#include "lightfield/LightfieldReader.h"
#include "lightfield/Rgbe.h"
#include "postprocessing/TonemappingCurve.h"
#include "support/BilateralGridReference.h"
#include "support/CurveReference.h"
#include "support/GLImages.h"
#include "support/GLTestContext.h"
#include "support/LightfieldFiles.h"
#include "support/PhotoreceptorReference.h"
#include "viewer/Pipeline.h"

#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {

// What a program is meant to do with an RGBE light field, as the product's table describes it.
// Written out here rather than read from the table of build constants, so that a wrong constant
// in that table shows as a picture unlike the one this describes.
struct Intent
{
    enum Operator
    {
        FourViews, // photoreceptor every frame with each of the four views' statistics, blended
        Smoothed, // photoreceptor every frame with the camera's blended statistics
        SharedPlane, // photoreceptor at load with statistics pooled over all views
        PerViewPlane, // photoreceptor at load with each view's own statistics
        Curve, // histogram adjustment at load
        Bilateral, // base/detail compression at load
    };
    Operator op = FourViews;
    double brightness = 0.0;
    int trimPassLimit = 0; // 0: trimmed to the tolerance
    bool disparity = false; // the bilateral filter's disparity term

    bool perFrame() const { return op == FourViews || op == Smoothed; }

    QString describe() const
    {
        switch (op) {
        case FourViews:
            return QStringLiteral("four views' statistics every frame, brightness %1")
                .arg(brightness);
        case Smoothed:
            return QStringLiteral("smoothed statistics every frame, brightness %1").arg(brightness);
        case SharedPlane:
            return QStringLiteral("shared statistics at load, brightness %1").arg(brightness);
        case PerViewPlane:
            return QStringLiteral("per-view statistics at load, brightness %1").arg(brightness);
        case Curve:
            return trimPassLimit > 0
                ? QStringLiteral("curve trimmed in %1 passes").arg(trimPassLimit)
                : QStringLiteral("curve trimmed to the tolerance");
        case Bilateral:
            return disparity ? QStringLiteral("bilateral with disparity")
                             : QStringLiteral("bilateral without disparity");
        }
        return QString();
    }
};

Intent photoreceptor(Intent::Operator op, double brightness)
{
    Intent intent;
    intent.op = op;
    intent.brightness = brightness;
    return intent;
}

Intent curve(int trimPassLimit)
{
    Intent intent;
    intent.op = Intent::Curve;
    intent.trimPassLimit = trimPassLimit;
    return intent;
}

Intent bilateral(bool disparity)
{
    Intent intent;
    intent.op = Intent::Bilateral;
    intent.disparity = disparity;
    return intent;
}

// Each program, what it is meant to do, and what a slip of one of its constants would make of it
// instead (the other twin's brightness, a step off, the other kind of statistics, the other
// trimming): the light field must tell each of those apart from the program's picture.
struct ProgramRow
{
    const char *name;
    Intent intent;
    std::vector<Intent> slips;
};

const std::vector<ProgramRow> &programRows()
{
    using I = Intent;
    static const std::vector<ProgramRow> rows = {
        {"viewer-interp-reinhard05",
         photoreceptor(I::FourViews, 5),
         {photoreceptor(I::FourViews, 0), photoreceptor(I::FourViews, 4),
          photoreceptor(I::Smoothed, 5)}},
        {"viewer-interp-reinhard05-b0",
         photoreceptor(I::FourViews, 0),
         {photoreceptor(I::FourViews, 5), photoreceptor(I::FourViews, 1),
          photoreceptor(I::Smoothed, 0)}},
        {"viewer-reinhard05",
         photoreceptor(I::Smoothed, 0),
         {photoreceptor(I::Smoothed, 5), photoreceptor(I::Smoothed, 1),
          photoreceptor(I::FourViews, 0)}},
        {"viewer-curve", curve(0), {curve(4), curve(3)}},
        {"viewer-curve-4pass", curve(4), {curve(3), curve(5), curve(0)}},
        {"viewer-plane-reinhard-b1",
         photoreceptor(I::SharedPlane, 1),
         {photoreceptor(I::SharedPlane, 2), photoreceptor(I::SharedPlane, 0),
          photoreceptor(I::SharedPlane, 6), photoreceptor(I::PerViewPlane, 1)}},
        {"viewer-plane-reinhard-b6",
         photoreceptor(I::SharedPlane, 6),
         {photoreceptor(I::SharedPlane, 1), photoreceptor(I::SharedPlane, 5),
          photoreceptor(I::PerViewPlane, 6)}},
        {"viewer-plane-reinhard-minmax-b5",
         photoreceptor(I::PerViewPlane, 5),
         {photoreceptor(I::PerViewPlane, 0), photoreceptor(I::PerViewPlane, 4),
          photoreceptor(I::SharedPlane, 5)}},
        {"viewer-plane-reinhard-minmax-b0",
         photoreceptor(I::PerViewPlane, 0),
         {photoreceptor(I::PerViewPlane, 5), photoreceptor(I::PerViewPlane, 1),
          photoreceptor(I::SharedPlane, 0)}},
        {"viewer-bilateral", bilateral(false), {bilateral(true)}},
        {"viewer-bilateral-disparity", bilateral(true), {bilateral(false)}},
    };
    return rows;
}

// The bilateral stage's operator as the programs run it: 5.5 stops off, the base halved (on
// disparity edges too), sigmas of 8 texels, one stop and one pixel of disparity, colour restored
// with the exponent 0.6; the base layer from the bilateral grid of those sigmas (the window's
// radius and cells are the full filter's, which the grid does not use).
const BilateralConstants bilateralConstants = {5.5, 0.5, 0.5, 16, 8.0, 1.0, 1.0, 0.6, 1};

// The light field: two views side by side in one row, the second an exposure sixteen times
// the first's. Each holds a dim room whose light spans three decades, bluish in its darkest
// quarter and greenish above, with a sun in it; a textured bluish wall at disparity 3; and, a
// stop brighter, a textured greenish wall at disparity 0.5, the room's. The colours make the
// luminance weights matter (the darkest and brightest texels are of different hues, so the
// contrast the statistics give depends on them); the room and the sun the statistics and the
// curve, whose every trimming pass changes it; the walls the disparity term.
constexpr int viewWidth = 128;
constexpr int viewHeight = 96;

void sceneColour(int column, int x, int y, float rgb[3])
{
    const float exposure = column == 0 ? 1.0f : 16.0f;
    float level = 0.0f;
    float tint[3] = {1.0f, 1.0f, 1.0f};
    if (x == 10 && y == 70) {
        level = 5000.0f;
        tint[2] = 0.6f;
    } else if (x < 96) {
        level = 0.01f * std::pow(10.0f, 3.0f * float(y * 96 + x) / (96 * 96));
        if (y < 24)
            tint[0] = 0.4f, tint[1] = 0.5f, tint[2] = 2.0f;
        else
            tint[0] = 0.6f, tint[2] = 0.4f;
    } else if (x < 112) {
        level = 30.0f * (1.0f + 0.1f * float((x * 3 + y * 5) % 4));
        tint[0] = 0.5f, tint[1] = 0.8f, tint[2] = 1.6f;
    } else {
        level = 60.0f * (1.0f + 0.1f * float((x * 7 + y * 3) % 4));
        tint[0] = 0.7f, tint[2] = 0.5f;
    }
    for (int channel = 0; channel < 3; ++channel)
        rgb[channel] = exposure * level * tint[channel];
}

float sceneDisparity(int x, int)
{
    return x >= 96 && x < 112 ? 3.0f : 0.5f;
}

double largestDifference(const std::vector<double> &a, const std::vector<double> &b)
{
    double largest = 0.0;
    for (size_t i = 0; i < a.size(); ++i)
        largest = std::max(largest, std::abs(a[i] - b[i]));
    return largest;
}

} // namespace

Q_DECLARE_METATYPE(Intent)
Q_DECLARE_METATYPE(std::vector<Intent>)

// Every program on an RGBE light field, built from its own build configuration, against a CPU
// reference of what the product's table says it does: a wrong constant in the table of one
// program fails that program's row.
class ProgramToneMappingGLTest : public QObject
{
    Q_OBJECT

    GLTestContext m_gl;
    QTemporaryDir m_directory;
    QString m_withDisparity;
    QString m_withoutDisparity;
    std::vector<HdrView> m_views; // GL row order, as the file stores them

    // Where the camera is for each picture the program shows, and which view's colour it shows:
    // the per-frame programs two fifths of the way to the second view, where the camera shows the
    // nearest view and blends the statistics (a file without disparity), the load-time ones at
    // each stored view.
    struct Shot
    {
        float x;
        int view;
    };
    static std::vector<Shot> shotsOf(const Intent &intent)
    {
        if (intent.perFrame())
            return {{0.4f, 0}};
        return {{0.0f, 0}, {1.0f, 1}};
    }

    QString writeFile(const QString &name, bool disparity) const
    {
        QByteArray content = QStringLiteral("%1 %2 2 2 20 0 1 %3 4\n")
                                 .arg(viewWidth)
                                 .arg(viewHeight)
                                 .arg(disparity ? 1 : 0)
                                 .toLatin1();
        for (const HdrView &view : m_views) {
            content.append(reinterpret_cast<const char *>(view.rgbe.data()), int(view.rgbe.size()));
            for (size_t i = 0; disparity && i < view.disparity.size(); ++i) {
                std::uint8_t texel[4];
                encodeRgbe(view.disparity[i], view.disparity[i], view.disparity[i], texel);
                content.append(reinterpret_cast<const char *>(texel), 4);
            }
        }
        return writeTestFile(m_directory, name, content);
    }

    // The picture the intent makes at a shot, as bytes before the target rounds them, 3 a texel.
    std::vector<double> expectedPicture(const Intent &intent, const Shot &shot) const
    {
        std::vector<ViewStatistics> statistics;
        for (const HdrView &view : m_views)
            statistics.push_back(referenceStatistics(view.rgbe));
        const HdrView &shown = m_views[size_t(shot.view)];
        // The camera's bilinear weights of the two views at its position along the row.
        const double weights[2] = {1.0 - shot.x, shot.x};
        switch (intent.op) {
        case Intent::FourViews: {
            std::vector<double> mixed;
            for (int view = 0; view < 2; ++view) {
                const std::vector<double> mapped = tonemapColours(
                    linearColours(shown.rgbe), statistics[size_t(view)], intent.brightness);
                mixed.resize(mapped.size(), 0.0);
                for (size_t i = 0; i < mapped.size(); ++i)
                    mixed[i] += weights[view] * mapped[i];
            }
            return stretchedToTheirRange(mixed);
        }
        case Intent::Smoothed: {
            // The first frame takes the camera's statistics as they are, its contrast derived.
            ViewStatistics blended {0, 0, 0, 0, 0, 0, 0, 0};
            for (int view = 0; view < 2; ++view) {
                const ViewStatistics &own = statistics[size_t(view)];
                const double w = weights[view];
                blended.red += w * own.red;
                blended.green += w * own.green;
                blended.blue += w * own.blue;
                blended.luminance += w * own.luminance;
                blended.logLuminance += w * own.logLuminance;
                blended.minimum += w * own.minimum;
                blended.maximum += w * own.maximum;
            }
            blended.contrast =
                referenceContrast(blended.logLuminance, blended.minimum, blended.maximum);
            return stretchedToTheirRange(
                tonemapColours(linearColours(shown.rgbe), blended, intent.brightness));
        }
        case Intent::SharedPlane:
            // One exposure for the light field: the fixed stretch of 0 to 230.
            return stretched(
                quantised(tonemapColours(linearColours(shown.rgbe, true),
                                         pooledStatistics(statistics), intent.brightness)),
                0, 230);
        case Intent::PerViewPlane:
            return stretchedToTheirRange(tonemapColours(
                linearColours(shown.rgbe, true), statistics[size_t(shot.view)], intent.brightness));
        case Intent::Curve: {
            // The curve's axis from the view's smallest luminance, floored, to its largest.
            const ViewStatistics &own = statistics[size_t(shot.view)];
            const float minimum = std::max(float(own.minimum), luminanceFloor);
            const float maximum = float(own.maximum);
            const CurveResult result = computeTonemappingCurve(
                shown.rgbe.data(), viewWidth, viewHeight, minimum, maximum, intent.trimPassLimit);
            const RgbaImage picture =
                referencePicture(viewWidth, viewHeight, linearColours(shown.rgbe, true),
                                 result.curve, minimum, maximum);
            std::vector<double> bytes;
            for (size_t i = 0; i < picture.texels.size(); ++i) {
                if (i % 4 != 3)
                    bytes.push_back(picture.texels[i] * 255.0);
            }
            return bytes;
        }
        case Intent::Bilateral: {
            std::vector<double> bytes =
                referenceGridBilateral(shown, intent.disparity, bilateralConstants);
            for (double &byte : bytes)
                byte = std::clamp(byte, 0.0, 1.0) * 255.0;
            return bytes;
        }
        }
        return {};
    }

    // In 8-bit steps: the per-frame operators read gamma 2.2 back from half floats and their
    // stretch moves a rounding by up to two steps; the load-time operators decode into half floats
    // as the reference does, and differ from double precision by the GPU's float maths, a step
    // at most, which the photoreceptor's stretch can double.
    static double toleranceOf(const Intent &intent)
    {
        switch (intent.op) {
        case Intent::FourViews:
        case Intent::Smoothed:
            return 3.0;
        case Intent::SharedPlane:
        case Intent::PerViewPlane:
            return 2.0;
        case Intent::Curve:
            return 1.0 + 1e-4;
        case Intent::Bilateral:
            return 1.5;
        }
        return 0.0;
    }

    // The picture the pipeline shows with the camera at the shot, in GL row order.
    static std::vector<std::uint8_t> render(Pipeline &pipeline, const Shot &shot)
    {
        std::unique_ptr<CameraView> view =
            pipeline.camera().renderAt(shot.x, 0.0f, viewWidth, viewHeight);
        PassOutputPool::Use reuse(pipeline.postProcessor().passOutputs());
        const OwnedTexture shown = pipeline.postProcessor().process(*view);
        return readTextureBytes(*shown, viewWidth, viewHeight);
    }

private slots:
    void initTestCase()
    {
        LF_CREATE_GL_CONTEXT(m_gl);
        QVERIFY(m_directory.isValid());
        prepareViewerContext();
        for (int column = 0; column < 2; ++column) {
            m_views.push_back(makeView(
                viewWidth, viewHeight,
                [column](int x, int y, float rgb[3]) { sceneColour(column, x, y, rgb); },
                sceneDisparity));
        }
        m_withDisparity = writeFile(QStringLiteral("disparity.lf2d"), true);
        m_withoutDisparity = writeFile(QStringLiteral("plain.lf2d"), false);
    }

    void cleanup() { LF_VERIFY_NO_GL_ERROR(m_gl); }

    void everyProgramHasARow()
    {
        QSet<QString> rows, programs;
        for (const ProgramRow &row : programRows())
            rows.insert(QString::fromLatin1(row.name));
        for (const BuildConfiguration &configuration : buildConfigurations())
            programs.insert(QString::fromStdString(configuration.name));
        QCOMPARE(rows, programs);
    }

    void showsWhatItsConstantsMake_data()
    {
        QTest::addColumn<Intent>("intent");
        QTest::addColumn<std::vector<Intent>>("slips");
        for (const ProgramRow &row : programRows())
            QTest::newRow(row.name) << row.intent << row.slips;
    }

    void showsWhatItsConstantsMake()
    {
        QFETCH(Intent, intent);
        QFETCH(std::vector<Intent>, slips);
        const double tolerance = toleranceOf(intent);
        const std::vector<Shot> shots = shotsOf(intent);
        std::vector<std::vector<double>> expected;
        for (const Shot &shot : shots)
            expected.push_back(expectedPicture(intent, shot));

        // The light field tells the program from each slip: somewhere the pictures differ by
        // more than both tolerances, so no picture can pass for both.
        for (const Intent &slip : slips) {
            double largest = 0.0;
            for (size_t i = 0; i < shots.size(); ++i)
                largest = std::max(largest,
                                   largestDifference(expectedPicture(slip, shots[i]), expected[i]));
            QVERIFY2(largest > 2.0 * tolerance,
                     qPrintable(QStringLiteral("%1 and %2 differ by only %3 steps")
                                    .arg(intent.describe(), slip.describe())
                                    .arg(largest)));
        }

        const BuildConfiguration *configuration = findBuildConfiguration(QTest::currentDataTag());
        QVERIFY(configuration);
        LightfieldReader reader(
            QUrl::fromLocalFile(intent.perFrame() ? m_withoutDisparity : m_withDisparity));
        Pipeline pipeline(reader, *configuration);
        for (size_t i = 0; i < shots.size(); ++i) {
            const std::vector<std::uint8_t> shown = render(pipeline, shots[i]);
            size_t worst = 0;
            for (size_t j = 0; j < expected[i].size(); ++j) {
                if (std::abs(shown[j / 3 * 4 + j % 3] - expected[i][j])
                    > std::abs(shown[worst / 3 * 4 + worst % 3] - expected[i][worst]))
                    worst = j;
            }
            const double got = shown[worst / 3 * 4 + worst % 3];
            QVERIFY2(std::abs(got - expected[i][worst]) <= tolerance,
                     qPrintable(QStringLiteral("%1, camera at %2: texel %3 channel %4 is %5, "
                                               "expected %6")
                                    .arg(intent.describe())
                                    .arg(shots[i].x)
                                    .arg(worst / 3)
                                    .arg(worst % 3)
                                    .arg(got)
                                    .arg(expected[i][worst])));
        }
    }
};

QTEST_MAIN(ProgramToneMappingGLTest)
#include "ProgramToneMappingGLTest.moc"
