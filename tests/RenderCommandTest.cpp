// Runs 'lf2d render' on light fields written by 'lf2d synth' and checks its pictures against the
// stored views, read from the file's own bytes, and against a program's window.

#include "deliverables/BuildConfiguration.h"
#include "support/DrivenProgram.h"
#include "support/StoredLightfield.h"
#include "support/ToolRun.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstdlib>

namespace {

// One stored colour image of an 8-bit .lf2d file, upright and opaque, straight from the file's
// bytes.
QImage storedView(const QString &path, int column, int row)
{
    const Lightfield lightfield = readLightfield(path);
    if (lightfield.hdr)
        return QImage();
    QImage picture(lightfield.width, lightfield.height, QImage::Format_RGB32);
    for (int y = 0; y < lightfield.height; ++y) {
        for (int x = 0; x < lightfield.width; ++x) {
            const std::uint8_t *p = lightfield.texel(column, row, x, y);
            picture.setPixel(x, y, qRgb(p[0], p[1], p[2]));
        }
    }
    return picture;
}

// The largest difference of any colour channel, in levels; pictures of different sizes differ
// entirely.
int largestDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 255;
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(p) - qRed(q)),
                                std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        }
    }
    return largest;
}

} // namespace

// 'lf2d render' draws through the programs' own pipeline without a window: at a stored view's
// position it gives that view in every program, --size crops around the view's centre as a
// window of that size does, --path frames lie where the path says, it shows what a program's
// window shows, and bad arguments and files end with a message and no picture.
class RenderCommandTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_directory;
    // 3 × 3 views of 160 × 120 pixels of the synthetic scene, 8-bit, with and without disparity.
    QString m_withDisparity;
    QString m_withoutDisparity;

    ToolRun lf2d(const QStringList &arguments)
    {
        return runTool(QStringLiteral(LF2D_PATH), arguments, 120);
    }

    QString path(const QString &name) const { return m_directory.filePath(name); }

    QString synthesise(const QString &name, const QStringList &options)
    {
        const ToolRun run = lf2d(QStringList {"synth", "--columns", "3", "--rows", "3", "--width",
                                              "160", "--height", "120"}
                                 + options + QStringList {path(name)});
        if (run.exitCode != 0)
            qFatal("lf2d synth failed: %s", qPrintable(run.errors));
        return path(name);
    }

    // Renders with the arguments into a fresh PNG and loads it; fails the test on any error.
    QImage render(const QString &name, const QStringList &arguments)
    {
        const QString output = path(name + QStringLiteral(".png"));
        const ToolRun run = lf2d(QStringList {"render"} + arguments + QStringList {output});
        if (run.exitCode != 0) {
            qWarning("lf2d render %s: exit %d: %s", qPrintable(arguments.join(' ')), run.exitCode,
                     qPrintable(run.errors));
            return QImage();
        }
        return loadPicture(output);
    }

    // Saves the pictures of a failed comparison where the test output goes.
    QString keep(const QString &name, const QImage &actual, const QImage &expected)
    {
        const QString directory = QStringLiteral(LF_BINARY_DIR "/test-output");
        QDir().mkpath(directory);
        actual.save(directory + "/render-" + name + "-actual.png");
        expected.save(directory + "/render-" + name + "-expected.png");
        return directory;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_directory.isValid());
        QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "lf2d render needs an X display");
        m_withDisparity = synthesise(QStringLiteral("disparity.lf2d"), {});
        m_withoutDisparity = synthesise(QStringLiteral("plain.lf2d"), {"--no-disparity"});
    }

    void storedViewPositionsGiveTheStoredViews_data()
    {
        QTest::addColumn<bool>("disparity");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("row");
        // The first and last views lie where no drag takes the viewer's camera, at the grid's
        // edge, where the warp's cell has no neighbour on one side.
        QTest::newRow("centre view") << true << QStringList() << 1 << 1;
        QTest::newRow("first view") << true << QStringList() << 0 << 0;
        QTest::newRow("last view") << true << QStringList() << 2 << 2;
        QTest::newRow("last column, first row") << true << QStringList() << 2 << 0;
        QTest::newRow("nearest view, centre") << false << QStringList() << 1 << 1;
        QTest::newRow("nearest view, first column, last row") << false << QStringList() << 0 << 2;
        // Sampled or not, a stored view has no outline the views disagree on.
        QTest::newRow("centre view, outlines sampled")
            << true << QStringList {"--edge-samples", "3"} << 1 << 1;
        // Every program shows 8-bit files alike.
        for (const BuildConfiguration &configuration : buildConfigurations()) {
            const QString name = QString::fromStdString(configuration.name);
            QTest::newRow(qPrintable(name)) << true << QStringList {"--config", name} << 1 << 0;
        }
    }

    void storedViewPositionsGiveTheStoredViews()
    {
        QFETCH(bool, disparity);
        QFETCH(QStringList, options);
        QFETCH(int, column);
        QFETCH(int, row);
        const QString file = disparity ? m_withDisparity : m_withoutDisparity;
        QStringList arguments {"--position", QStringLiteral("%1,%2").arg(column).arg(row)};
        arguments << options;
        const QImage rendered = render(QStringLiteral("stored"), arguments << file);
        const QImage expected = storedView(file, column, row);
        QVERIFY(!expected.isNull());
        QCOMPARE(rendered.size(), QSize(160, 120));
        // The nearest view is copied texel for texel; the warp resamples the stored view where it
        // lies, to within a level (as the camera's own tests allow).
        const int tolerance = disparity ? 1 : 0;
        const int difference = largestDifference(rendered, expected);
        if (difference > tolerance)
            keep(QTest::currentDataTag(), rendered, expected);
        QVERIFY2(difference <= tolerance,
                 qPrintable(QStringLiteral("off by %1 levels").arg(difference)));
    }

    void edgeSamplesReachTheCamera()
    {
        // Between the views the outlines come out sampled over the pixels' area: other colours
        // along them, the same elsewhere.
        const QStringList at {"--position", "1.5,1.5", m_withDisparity};
        const QImage centres = render(QStringLiteral("centres"), at);
        const QImage sampled =
            render(QStringLiteral("sampled"), QStringList {"--edge-samples", "2"} + at);
        QCOMPARE(sampled.size(), centres.size());
        int changed = 0;
        for (int y = 0; y < centres.height(); ++y) {
            for (int x = 0; x < centres.width(); ++x)
                changed += centres.pixel(x, y) != sampled.pixel(x, y) ? 1 : 0;
        }
        QVERIFY2(changed > 0 && changed < centres.width() * centres.height() / 4,
                 qPrintable(QStringLiteral("%1 pixels changed").arg(changed)));
    }

    void sizeCropsAroundTheViewsCentre()
    {
        const QImage view = storedView(m_withoutDisparity, 2, 1);
        // Smaller than the view: its centre. Both margins are whole pixels.
        const QImage small = render(QStringLiteral("small"),
                                    {"--position", "2,1", "--size", "100x80", m_withoutDisparity});
        QCOMPARE(small.size(), QSize(100, 80));
        QCOMPARE(largestDifference(small, view.copy(30, 20, 100, 80)), 0);

        // Larger: the whole view in the middle, black around it.
        const QImage large = render(QStringLiteral("large"),
                                    {"--position", "2,1", "--size", "200x150", m_withoutDisparity});
        QCOMPARE(large.size(), QSize(200, 150));
        QCOMPARE(largestDifference(large.copy(20, 15, 160, 120), view), 0);
        for (const QPoint corner : {QPoint(0, 0), QPoint(199, 0), QPoint(0, 149), QPoint(199, 149),
                                    QPoint(19, 75), QPoint(100, 14)})
            QCOMPARE(large.pixel(corner), qRgb(0, 0, 0));
    }

    void pathFramesLieOnThePath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QList<QPoint>>("views");
        // On a 3 × 3 grid the sweep runs along row 1; the circle has radius 1 around view (1, 1)
        // and turns clockwise from its right: each frame lies on a stored view, which the file
        // without disparity shows as it is.
        QTest::newRow("sweep") << "sweep" << QList<QPoint> {{0, 1}, {1, 1}, {2, 1}};
        QTest::newRow("circle") << "circle" << QList<QPoint> {{2, 1}, {1, 2}, {0, 1}, {1, 0}};
    }

    void pathFramesLieOnThePath()
    {
        QFETCH(QString, path);
        QFETCH(QList<QPoint>, views);
        const QString base = this->path(path);
        const ToolRun run =
            lf2d({"render", "--path", path, "--frames", QString::number(views.size()),
                  m_withoutDisparity, "--output", base + ".png"});
        QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
        for (int frame = 0; frame < views.size(); ++frame) {
            const QString name =
                QStringLiteral("%1_%2.png").arg(base).arg(frame, 4, 10, QChar('0'));
            const QImage picture = loadPicture(name);
            QVERIFY2(!picture.isNull(), qPrintable(name + " was not written"));
            const QImage expected =
                storedView(m_withoutDisparity, views[frame].x(), views[frame].y());
            QVERIFY2(largestDifference(picture, expected) == 0,
                     qPrintable(QStringLiteral("frame %1 is not view (%2, %3)")
                                    .arg(frame)
                                    .arg(views[frame].x())
                                    .arg(views[frame].y())));
        }
        // As many frames as asked for, and no picture under the plain name.
        QVERIFY(!QFile::exists(
            QStringLiteral("%1_%2.png").arg(base).arg(views.size(), 4, 10, QChar('0'))));
        QVERIFY(!QFile::exists(base + ".png"));
        QVERIFY2(run.output.contains(QStringLiteral("%1 frames").arg(views.size())),
                 qPrintable(run.output));
    }

    // The lens as the viewer's controls set it: an aperture of 0 is the pinhole's picture, a
    // focus pull runs from focus 0 to the file's largest disparity, and the disparity view shows
    // the background's depth in the colour map's dark end.
    void lensAndDisparityReachTheCamera()
    {
        const QStringList at {"--position", "1.3,0.6", m_withDisparity};
        const QImage pinhole = render(QStringLiteral("pinhole"), at);
        QCOMPARE(
            render(QStringLiteral("closed"), QStringList {"--focus", "4", "--aperture", "0"} + at),
            pinhole);
        const QImage near =
            render(QStringLiteral("near"), QStringList {"--focus", "12", "--aperture", "1"} + at);
        const QImage far =
            render(QStringLiteral("far"), QStringList {"--focus", "0", "--aperture", "1"} + at);
        QVERIFY(largestDifference(near, pinhole) > 20 && largestDifference(far, near) > 20);

        const QString base = path(QStringLiteral("pull"));
        const ToolRun run = lf2d({"render", "--path", "focus-pull", "--frames", "3", "--aperture",
                                  "1", "--position", "1.3,0.6", m_withDisparity, base + ".png"});
        QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
        QVERIFY2(run.output.contains("3 frames of viewer-interp-reinhard05 of " + m_withDisparity
                                     + " focused from 0 to 12 at X = 1.3, Y = 0.6"),
                 qPrintable(run.output));
        QCOMPARE(loadPicture(base + "_0000.png"), far);
        QCOMPARE(loadPicture(base + "_0002.png"), near);
        QVERIFY(largestDifference(loadPicture(base + "_0001.png"), near) > 20);

        // The corner shows the background, at disparity 1 of 12.
        const QImage depth = render(QStringLiteral("depth"), QStringList {"--disparity-view"} + at);
        const QRgb corner = depth.pixel(2, 2);
        QVERIFY2(std::abs(qRed(corner) - 70) <= 3 && std::abs(qGreen(corner) - 30) <= 3
                     && std::abs(qBlue(corner) - 110) <= 3,
                 qPrintable(QString::number(corner, 16)));
    }

    void badInputEndsWithAMessageAndNoPicture_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const QString missing = path(QStringLiteral("missing.lf2d"));
        QFile broken(path(QStringLiteral("broken.lf2d")));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("160 120 9 3 20 0 0 0 12\n" + QByteArray(1000, '\x40'));
        broken.close();

        QTest::newRow("unknown program")
            << QStringList {"--config", "viewer-sepia", m_withDisparity} << 2
            << "--config: no program is named 'viewer-sepia'; the programs are "
               "viewer-interp-reinhard05, ";
        QTest::newRow("missing file")
            << QStringList {missing} << 1
            << "Cannot open lightfield file \"" + missing + "\": no such file";
        QTest::newRow("truncated file") << QStringList {broken.fileName()} << 1
                                        << "Lightfield file \"" + broken.fileName()
                + "\" is truncated: 9 views of 76800 bytes "
                  "expected, 1000 bytes found";
        const QString text = path(QStringLiteral("text.lf2d"));
        QFile textFile(text);
        QVERIFY(textFile.open(QIODevice::WriteOnly));
        textFile.write("not a light field\n");
        textFile.close();
        QTest::newRow("not a light field")
            << QStringList {text} << 1
            << "Lightfield file \"" + text + "\" is not a valid .lf2d file: header value 'width'";
        QTest::newRow("column beyond the grid")
            << QStringList {"--position", "2.5,1", m_withDisparity} << 2
            << "--position 2.5,1 lies outside the grid of \"" + m_withDisparity
                + "\": X must be in [0, 2] and Y in [0, 2]";
        QTest::newRow("row before the grid")
            << QStringList {"--position", "1,-0.25", m_withDisparity} << 2
            << "--position 1,-0.25 lies outside the grid of";
        QTest::newRow("edge samples beyond 4")
            << QStringList {"--edge-samples", "5", m_withDisparity} << 2
            << "--edge-samples must be a whole number from 1 to 4, not '5'";
        QTest::newRow("position not a pair") << QStringList {"--position", "1", m_withDisparity}
                                             << 2 << "--position '1': expected X,Y";
        QTest::newRow("position not numbers")
            << QStringList {"--position", "a,b", m_withDisparity} << 2
            << "--position 'a,b': the camera position must be two numbers";
        QTest::newRow("empty size") << QStringList {"--size", "0x100", m_withDisparity} << 2
                                    << "--size '0x100': width and height must be between 1";
        QTest::newRow("unknown path") << QStringList {"--path", "spiral", m_withDisparity} << 2
                                      << "--path must be sweep, circle or focus-pull, not 'spiral'";
        QTest::newRow("no frames")
            << QStringList {"--path", "sweep", "--frames", "0", m_withDisparity} << 2
            << "--frames must be a whole number from 1";
        QTest::newRow("frames without a path")
            << QStringList {"--frames", "3", m_withDisparity} << 2 << "--frames needs --path";
        QTest::newRow("position and path")
            << QStringList {"--path", "circle", "--position", "1,1", m_withDisparity} << 2
            << "--position and --path exclude each other";
        QTest::newRow("negative focus") << QStringList {"--focus", "-1", m_withDisparity} << 2
                                        << "--focus '-1': expected a number of at least 0";
        QTest::newRow("focus beyond the disparities")
            << QStringList {"--focus", "12.5", m_withDisparity} << 2
            << "--focus 12.5 exceeds the largest disparity of \"" + m_withDisparity + "\", 12";
        QTest::newRow("aperture wider than the grid")
            << QStringList {"--aperture", "1.5", m_withDisparity} << 2
            << "--aperture 1.5 exceeds half the smaller side of the grid of \"" + m_withDisparity
                + "\": at most 1";
        QTest::newRow("aperture not a number")
            << QStringList {"--aperture", "wide", m_withDisparity} << 2
            << "--aperture 'wide': expected a number of at least 0";
        QTest::newRow("disparity view without disparity")
            << QStringList {"--disparity-view", m_withoutDisparity} << 2
            << "--disparity-view: \"" + m_withoutDisparity + "\" has no disparity maps";
        QTest::newRow("disparity view through a lens")
            << QStringList {"--disparity-view", "--aperture", "1", m_withDisparity} << 2
            << "--disparity-view shows the pinhole's disparity";
        QTest::newRow("focus and a focus pull")
            << QStringList {"--path", "focus-pull", "--focus", "2", m_withDisparity} << 2
            << "--focus and --path focus-pull exclude each other";
    }

    void badInputEndsWithAMessageAndNoPicture()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, message);
        const QString output = path(QStringLiteral("refused.png"));
        const ToolRun run = lf2d(QStringList {"render"} + arguments + QStringList {output});
        QCOMPARE(run.exitCode, status);
        QVERIFY2(run.errors.contains(QStringLiteral("lf2d render: ") + message),
                 qPrintable(run.errors));
        QVERIFY(!QFile::exists(output));
        QVERIFY(!QFile::exists(path(QStringLiteral("refused_0000.png"))));
    }

    void withoutAPngOutputItSaysSo()
    {
        const ToolRun none = lf2d({"render", m_withDisparity});
        QCOMPARE(none.exitCode, 2);
        QVERIFY2(none.errors.contains(QStringLiteral("lf2d render: nothing to write")),
                 qPrintable(none.errors));
        const QString jpeg = path(QStringLiteral("view.jpg"));
        const ToolRun misnamed = lf2d({"render", m_withDisparity, "--output", jpeg});
        QCOMPARE(misnamed.exitCode, 2);
        QVERIFY2(
            misnamed.errors.contains("lf2d render: the output '" + jpeg + "' must be a .png file"),
            qPrintable(misnamed.errors));
        QVERIFY(!QFile::exists(jpeg));
    }

    void withoutADisplayItSaysSo_data()
    {
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("message");
        QTest::newRow("none") << QString() << "DISPLAY is not set";
        // A server that is not there: Qt would end the process on its X platform.
        QTest::newRow("unreachable") << ":4095"
                                     << "(DISPLAY=:4095): the display cannot be reached";
    }

    void withoutADisplayItSaysSo()
    {
        QFETCH(QString, display);
        QFETCH(QString, message);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        if (!display.isEmpty())
            environment.insert(QStringLiteral("DISPLAY"), display);
        const QString output = path(QStringLiteral("no-display.png"));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(LF2D_PATH), {"render", m_withDisparity, output});
        QVERIFY(process.waitForFinished(60000));
        const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QVERIFY2(errors.contains(message), qPrintable(errors));
        QVERIFY(!QFile::exists(output));
    }

    void helpNamesEveryProgram()
    {
        const ToolRun run = lf2d({"render", "--help"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.output.startsWith(QStringLiteral("Usage: lf2d render [options] FILE")));
        for (const BuildConfiguration &configuration : buildConfigurations())
            QVERIFY(run.output.contains(QString::fromStdString(configuration.name)));
        QVERIFY(lf2d({"--help"}).output.contains(QStringLiteral("  render ")));
    }

    // The window of viewer-interp-reinhard05, which tone-maps every frame, on an RGBE light field
    // with disparity: the screenshot at the camera's starting position and the render there.
    void showsWhatTheProgramsWindowShows()
    {
        const QString file = synthesise(QStringLiteral("rgbe.lf2d"), {"--hdr"});
        const QString program = QStringLiteral("viewer-interp-reinhard05");
        const DrivenRun run =
            driveProgram(QStringLiteral(LF_BINARY_DIR "/") + program, file,
                         path(QStringLiteral("window")), QStringLiteral(LF_SOURCE_DIR), {});
        QVERIFY2(run.status == 0, qPrintable(run.output + run.stderrText));
        const QImage shown = loadPicture(run.directory + QStringLiteral("/view-0.png"));
        QCOMPARE(shown.size(), QSize(160, 120));

        const QImage rendered = render(QStringLiteral("window"), {"--config", program, file});
        // The same driver draws both through the same passes; the mean allows a level here and
        // there, a wrong stage or position moves it by many.
        const double difference = meanAbsoluteDifference(rendered, shown);
        qInfo("mean difference from the window: %.3f levels", difference);
        if (difference > 0.25)
            keep(QStringLiteral("window"), rendered, shown);
        QVERIFY2(difference <= 0.25, qPrintable(QString::number(difference)));

        // Both show the tone-mapped scene, not an empty frame: the range is stretched to 8 bits.
        int darkest = 255;
        int brightest = 0;
        for (int y = 0; y < rendered.height(); ++y) {
            for (int x = 0; x < rendered.width(); ++x) {
                const int grey = qGray(rendered.pixel(x, y));
                darkest = std::min(darkest, grey);
                brightest = std::max(brightest, grey);
            }
        }
        QVERIFY2(brightest - darkest > 200,
                 qPrintable(QStringLiteral("levels %1 to %2").arg(darkest).arg(brightest)));
    }
};

QTEST_GUILESS_MAIN(RenderCommandTest)
#include "RenderCommandTest.moc"
