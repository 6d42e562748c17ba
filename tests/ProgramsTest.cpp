#include "Lf2dWriter.h"
#include "SyntheticScene.h"
#include "deliverables/BuildConfiguration.h"
#include "support/DrivenProgram.h"
#include "support/LightfieldFiles.h"

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <vector>

namespace {

// Luminance of a screenshot pixel in levels, with the weights the viewer measures its range by.
double luminanceOf(QRgb pixel)
{
    return 0.2126 * qRed(pixel) + 0.7152 * qGreen(pixel) + 0.0722 * qBlue(pixel);
}

std::vector<double> luminanceImage(const QImage &image)
{
    std::vector<double> values;
    values.reserve(std::size_t(image.width()) * std::size_t(image.height()));
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            values.push_back(luminanceOf(image.pixel(x, y)));
    }
    return values;
}

// Ranks from 0, ties sharing their mean rank, so that a monotonic remapping of the values keeps
// their ranks.
std::vector<double> ranksOf(const std::vector<double> &values)
{
    std::vector<std::size_t> order(values.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::sort(order.begin(), order.end(),
              [&values](std::size_t a, std::size_t b) { return values[a] < values[b]; });
    std::vector<double> ranks(values.size());
    for (std::size_t first = 0; first < order.size();) {
        std::size_t end = first;
        while (end < order.size() && values[order[end]] == values[order[first]])
            ++end;
        for (std::size_t i = first; i < end; ++i)
            ranks[order[i]] = 0.5 * double(first + end - 1);
        first = end;
    }
    return ranks;
}

double correlation(const std::vector<double> &a, const std::vector<double> &b)
{
    const double n = double(a.size());
    const double meanA = std::accumulate(a.begin(), a.end(), 0.0) / n;
    const double meanB = std::accumulate(b.begin(), b.end(), 0.0) / n;
    double ab = 0.0, aa = 0.0, bb = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        ab += (a[i] - meanA) * (b[i] - meanB);
        aa += (a[i] - meanA) * (a[i] - meanA);
        bb += (b[i] - meanB) * (b[i] - meanB);
    }
    return aa > 0.0 && bb > 0.0 ? ab / std::sqrt(aa * bb) : 0.0;
}

// What a tone-mapped screenshot looks like in numbers.
struct PictureSummary
{
    double minimum = 0.0; // luminance, levels
    double maximum = 0.0;
    double mean = 0.0;
    double deviation = 0.0;
    int levels = 0; // distinct luminance levels, rounded
    // Pixels over 32 levels brighter or darker than all their neighbours: a NaN turned black or
    // a stray value. A pixel on an outline lies between the two sides and does not count.
    int outliers = 0;
    int magenta = 0; // nearly pure magenta pixels, a colour no layer of the scene comes close to

    QString describe() const
    {
        return QStringLiteral("luminance %1..%2, mean %3, deviation %4, %5 levels, %6 outliers, "
                              "%7 magenta pixels")
            .arg(minimum)
            .arg(maximum)
            .arg(mean)
            .arg(deviation)
            .arg(levels)
            .arg(outliers)
            .arg(magenta);
    }
};

PictureSummary summarise(const QImage &image)
{
    const int width = image.width();
    const int height = image.height();
    const std::vector<double> luminance = luminanceImage(image);
    const auto at = [&](int x, int y) {
        return luminance[std::size_t(y) * width + x];
    };
    PictureSummary summary;
    summary.minimum = *std::min_element(luminance.begin(), luminance.end());
    summary.maximum = *std::max_element(luminance.begin(), luminance.end());
    summary.mean = std::accumulate(luminance.begin(), luminance.end(), 0.0) / luminance.size();
    double squares = 0.0;
    std::vector<bool> seen(256, false);
    for (double value : luminance) {
        squares += (value - summary.mean) * (value - summary.mean);
        seen[std::size_t(std::lround(value))] = true;
    }
    summary.deviation = std::sqrt(squares / luminance.size());
    summary.levels = int(std::count(seen.begin(), seen.end(), true));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double low = 255.0;
            double high = 0.0;
            for (int ny = std::max(0, y - 1); ny <= std::min(height - 1, y + 1); ++ny) {
                for (int nx = std::max(0, x - 1); nx <= std::min(width - 1, x + 1); ++nx) {
                    if (nx != x || ny != y) {
                        low = std::min(low, at(nx, ny));
                        high = std::max(high, at(nx, ny));
                    }
                }
            }
            if (at(x, y) > high + 32.0 || at(x, y) < low - 32.0)
                ++summary.outliers;
            const QRgb pixel = image.pixel(x, y);
            if (qRed(pixel) > 230 && qBlue(pixel) > 230 && qGreen(pixel) < 40)
                ++summary.magenta;
        }
    }
    return summary;
}

} // namespace

// The shipped programs, started as a user starts them and driven through their windows on the
// display with scripts/drive-viewer.sh: every build shows an 8-bit light field the same way, the
// builds that tone-map every frame show an RGBE one over the whole 8-bit range, closing the
// viewer ends the program with status 0, and a bad file ends it with its message on standard
// error and a non-zero status, never with a crash.
class ProgramsTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_directory;
    QString m_grid;
    QImage m_firstView;
    // RGBE light fields of the synthetic scene, 3 × 3 views of 160 × 120 pixels: one with
    // disparity, one without whose light dims across the grid.
    QString m_rgbeWithDisparity;
    QString m_rgbeDimming;

    // Each RGBE run serves several checks; it is made once, by the first that needs it. A map
    // keeps the runs in place, so that a check may hold one while it asks for another.
    std::map<QString, DrivenRun> m_rgbeRuns;

    DrivenRun drive(const QString &program, const QString &file, const QString &name,
                    const QStringList &options = {})
    {
        return driveProgram(QStringLiteral(LF_BINARY_DIR "/") + program, file,
                            m_directory.filePath(name), QStringLiteral(LF_SOURCE_DIR), options);
    }

    QString write(const QString &name, const QByteArray &content)
    {
        return writeTestFile(m_directory, name, content);
    }

    // The camera starts a pixel of drag right of and below the first stored view. With disparity
    // it goes most of a cell, to (0.75, 0.75) in view steps, then on in three small steps of
    // 0.15, the second of which crosses into the next cell. Without, it goes to the far corner,
    // the dimmest view, and stays there for another screenshot.
    const DrivenRun &rgbeRun(const QString &program, bool disparity)
    {
        const QString name = program + (disparity ? "-rgbe-disparity" : "-rgbe-dimming");
        auto found = m_rgbeRuns.find(name);
        if (found == m_rgbeRuns.end()) {
            const QStringList moves = disparity
                ? QStringList {"--drag", "14,14", "--drag", "3,3", "--drag", "3,3", "--drag", "3,3"}
                : QStringList {"--drag", "40,40", "--again", "2"};
            found = m_rgbeRuns
                        .emplace(name,
                                 drive(program, disparity ? m_rgbeWithDisparity : m_rgbeDimming,
                                       name, moves))
                        .first;
        }
        return found->second;
    }

    void keepScreenshots()
    {
        if (m_directory.autoRemove()) {
            m_directory.setAutoRemove(false);
            qWarning("The screenshots stay in %s", qPrintable(m_directory.path()));
        }
    }

    static QImage screenshot(const DrivenRun &run, const QString &name)
    {
        return loadPicture(run.directory + '/' + name);
    }

    // The builds that tone-map RGBE every frame.
    static QStringList rgbePrograms()
    {
        return {QStringLiteral("viewer-interp-reinhard05"),
                QStringLiteral("viewer-interp-reinhard05-b0"), QStringLiteral("viewer-reinhard05")};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_directory.isValid());
        if (qEnvironmentVariableIsSet("LF_KEEP_SCREENSHOTS"))
            keepScreenshots();
        QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "the programs need an X display");
        synth::SceneOptions options;
        options.columns = options.rows = 3;
        options.width = 200;
        options.height = 150;
        options.disparity = false;
        const synth::SyntheticScene scene(options);
        m_grid = m_directory.filePath(QStringLiteral("grid.lf2d"));
        synth::writeLightfield(scene, m_grid.toStdString());
        // Without disparity a fresh camera shows the first stored view as it is.
        m_firstView = synth::toDisplayImage(scene.renderView(0, 0), false)
                          .convertToFormat(QImage::Format_RGB32);

        synth::SceneOptions hdr = options;
        hdr.width = 160;
        hdr.height = 120;
        hdr.hdr = true;
        hdr.disparity = true;
        m_rgbeWithDisparity = m_directory.filePath(QStringLiteral("rgbe-disparity.lf2d"));
        synth::writeLightfield(synth::SyntheticScene(hdr), m_rgbeWithDisparity.toStdString());

        // The light falls by a factor of √10 per view step right or down, so the far corner
        // gets a hundredth of the first view's: its statistics differ from the first view's far
        // more than the camera's own movement would make them.
        const synth::SyntheticScene dimming(hdr);
        LightfieldHeader header = synth::gridHeader(hdr.width, hdr.height, hdr.columns, hdr.rows);
        header.isHdr = true;
        m_rgbeDimming = m_directory.filePath(QStringLiteral("rgbe-dimming.lf2d"));
        synth::writeLightfield(m_rgbeDimming.toStdString(), header,
                               [&dimming](int column, int row) {
                                   synth::FloatImage view = dimming.renderView(column, row);
                                   const float exposure =
                                       float(std::pow(10.0, -0.5 * (column + row)));
                                   for (float &value : view.rgb)
                                       value *= exposure;
                                   return view;
                               },
                               {});
    }

    // A failed case leaves every screenshot for a person to look at.
    void cleanup()
    {
        if (QTest::currentTestFailed())
            keepScreenshots();
    }

    void everyProgramShowsTheLightField_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("direct");
        for (const BuildConfiguration &configuration : buildConfigurations()) {
            const QString name = QString::fromStdString(configuration.name);
            QTest::newRow(qPrintable(name)) << name << false;
            QTest::newRow(qPrintable(name + " given the file")) << name << true;
        }
    }

    // Through the selector, and opened from the command line as a file manager does.
    void everyProgramShowsTheLightField()
    {
        QFETCH(QString, program);
        QFETCH(bool, direct);
        const DrivenRun run =
            drive(program, m_grid, program + (direct ? "-given" : ""),
                  direct ? QStringList {QStringLiteral("--open-directly")} : QStringList());
        QVERIFY2(run.status == 0, qPrintable(run.output + run.stderrText));
        // Every program finds every shader it has.
        QVERIFY2(!run.stderrText.contains(QStringLiteral("QOpenGLShader")),
                 qPrintable(run.stderrText));
        const QImage shown = QImage(run.directory + QStringLiteral("/view-0.png"))
                                 .convertToFormat(QImage::Format_RGB32);
        if (shown != m_firstView) {
            m_firstView.save(run.directory + QStringLiteral("/expected.png"));
            QFAIL(qPrintable(QStringLiteral("%1 shows another picture than the first view; see %2")
                                 .arg(program, run.directory)));
        }
    }

    void dragsMoveTheCamera()
    {
        synth::SceneOptions options;
        options.columns = options.rows = 3;
        options.width = options.height = 192;
        const QString file = m_directory.filePath(QStringLiteral("disparity.lf2d"));
        synth::writeLightfield(synth::SyntheticScene(options), file.toStdString());
        const DrivenRun run =
            drive(QStringLiteral("viewer-interp-reinhard05"), file, QStringLiteral("drag"),
                  {QStringLiteral("--drag"), QStringLiteral("30,10")});
        QVERIFY2(run.status == 0, qPrintable(run.output + run.stderrText));
        const QImage before(run.directory + QStringLiteral("/view-0.png"));
        const QImage after(run.directory + QStringLiteral("/view-1.png"));
        QCOMPARE(before.size(), QSize(192, 192));
        QCOMPARE(after.size(), QSize(192, 192));
        QVERIFY(before != after);
        QVERIFY2(!run.stderrText.contains(QStringLiteral("Unable to open file \"" LF_SOURCE_DIR
                                                         "/shaders/simpleWarp.frag")),
                 qPrintable(run.stderrText));
    }

    void badFilesEndWithTheirMessage_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("message");
        const QByteArray data = patternBytes(400, 1);
        const QString invalid = QStringLiteral(" is not a valid .lf2d file: ");
        QTest::newRow("text header") << "text.lf2d" << QByteArray("not a light field\n")
                                     << invalid + "header value 'width' is not a 32-bit integer";
        QTest::newRow("flag as a word")
            << "flag.lf2d"
            << "4 3 6 3 10 0 yes 0 04\n" + data << invalid + "header flag 'isHdr' must be 0 or 1";
        QTest::newRow("no columns")
            << "columns.lf2d"
            << "4 3 6 0 10 0 0 0 04\n" + data << invalid + "'columns' must be at least 1, found 0";
        QTest::newRow("no row") << "rows.lf2d"
                                << "4 3 2 3 10 0 0 0 04\n" + data
                                << invalid
                + "'viewCount' (2) is smaller than 'columns' (3), so the "
                  "grid has no row";
        QTest::newRow("zero spacing") << "spacing.lf2d"
                                      << "4 3 6 3 0 0 0 0 04\n" + data
                                      << invalid + "'viewSpacing' must be at least 1, found 0";
        QTest::newRow("negative disparity bound")
            << "bound.lf2d"
            << "4 3 6 3 10 0 0 0 -4\n" + data
            << invalid + "'maxDisparity' must be at least 0, found -4";
        QTest::newRow("huge views") << "huge.lf2d"
                                    << "99999 99999 1 1 10 0 0 0 0\n" + data
                                    << invalid
                + "views of 99999 x 99999 pixels are too large (at most "
                  "2 GiB per image)";
        QTest::newRow("truncated") << "truncated.lf2d"
                                   << "4 3 6 3 10 0 0 0 04\n" + data.left(200)
                                   << QStringLiteral(" is truncated: 6 views of 48 bytes expected, "
                                                     "200 bytes found");
        // A search this far would take the driver minutes per frame.
        QTest::newRow("disparity bound beyond the views") << "far.lf2d"
                                                          << "4 3 6 3 10 0 1 1 2000000000\n" + data
                                                          << invalid
                + "'maxDisparity' (2000000000) is larger than the views' larger side (4 "
                  "pixels)";
        QTest::newRow("not a number")
            << "nan.lf2d"
            << "4 3 6 3 nan 0 0 0 04\n" + data
            << invalid + "header value 'viewSpacing' is not a 32-bit integer";
        QTest::newRow("header only") << "empty.lf2d" << QByteArray("4 3 6 3 10 0 0 0 04\n")
                                     << QStringLiteral(" is truncated: 6 views of 48 bytes "
                                                       "expected, 0 bytes found");
        // An empty file ends before the first value.
        QTest::newRow("empty") << "nothing.lf2d" << QByteArray()
                               << invalid + "the header ends before 'width'";
    }

    // A file given on the command line ends the program as it does chosen in the selector: with
    // status 1, its message and the dialog.
    void refusedFileGivenOnTheCommandLine()
    {
        const QString path =
            write(QStringLiteral("refused.lf2d"), "4 3 6 3 10 0 0 0 04\n" + patternBytes(200, 1));
        const QString missing = m_directory.filePath(QStringLiteral("missing.lf2d"));
        const auto messages = [](const DrivenRun &run, const QString &file) {
            return run.stderrText.split('\n').filter(QStringLiteral("\"%1\"").arg(file));
        };
        const DrivenRun chosen = drive(QStringLiteral("viewer-curve"), path,
                                       QStringLiteral("refused-chosen"), {"--expect-error"});
        QVERIFY2(chosen.status == 1, qPrintable(chosen.output));
        for (const QString &file : {path, missing}) {
            const DrivenRun given = drive(QStringLiteral("viewer-curve"), file,
                                          QFileInfo(file).baseName() + QStringLiteral("-given"),
                                          {"--open-directly", "--expect-error"});
            QVERIFY2(given.status == 1, qPrintable(given.output));
            QVERIFY(QFile::exists(given.directory + QStringLiteral("/error-dialog.png")));
            const QStringList expected = file == path
                ? messages(chosen, path)
                : QStringList {QStringLiteral("Cannot open lightfield file \"%1\": no such file")
                                   .arg(missing)};
            QCOMPARE(messages(given, file), expected);
        }
    }

    // The toolkit's own options go before the file; anything else the program cannot follow ends
    // it with a short usage message and status 2. Run without a display, on Qt's minimal platform
    // (its offscreen one does not free its screen, which the sanitized build reports as a leak).
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output");
        const QString refused =
            QStringLiteral("Lightfield file \"@empty\" is not a valid .lf2d file: the "
                           "header ends before 'width'");
        QTest::newRow("the toolkit's options, then the file")
            << QStringList {"-platform", "minimal", "@empty"} << 1 << refused;
        QTest::newRow("two files") << QStringList {"-platform", "minimal", "@empty", "@empty"} << 2
                                   << "viewer-curve: only one light field can be opened";
        QTest::newRow("unknown option") << QStringList {"-platform", "minimal", "--frame", "@empty"}
                                        << 2 << "viewer-curve: Unknown option 'frame'";
        QTest::newRow("help") << QStringList {"-platform", "minimal", "--help"} << 0
                              << "[options] [FILE]";
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, output);
        const QString empty = write(QStringLiteral("empty.lf2d"), QByteArray());
        arguments.replaceInStrings(QStringLiteral("@empty"), empty);
        output.replace(QStringLiteral("@empty"), empty);
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral(LF_BINARY_DIR "/viewer-curve"), arguments);
        QVERIFY(process.waitForFinished(30000));
        const QString said = QString::fromLocal8Bit(process.readAll());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(process.exitCode() == status, qPrintable(said));
        QVERIFY2(said.contains(output), qPrintable(said));
        if (status == 2)
            QVERIFY2(said.contains(QStringLiteral("Usage: viewer-curve [FILE.lf2d]")),
                     qPrintable(said));
    }

    // A view larger than the screen opens in a window that fits it, showing the whole view
    // scaled; the key 1 shows one view pixel per window pixel, centred, and back.
    void viewsLargerThanTheScreenFitIt()
    {
        // Gradients across and down, and a checkerboard of 100-pixel squares in blue.
        const int width = 2000, height = 1200;
        const auto colour = [](int x, int y) {
            return qRgb(x * 255 / (width - 1), y * 255 / (height - 1),
                        (x / 100 + y / 100) % 2 ? 230 : 20);
        };
        QByteArray content =
            QStringLiteral("%1 %2 1 1 20 0 0 0 0\n").arg(width).arg(height).toLatin1();
        for (int y = height - 1; y >= 0; --y) {
            for (int x = 0; x < width; ++x) {
                const QRgb pixel = colour(x, y);
                content.append(char(qRed(pixel))).append(char(qGreen(pixel)));
                content.append(char(qBlue(pixel))).append(char(255));
            }
        }
        const QString file = write(QStringLiteral("large.lf2d"), content);
        const DrivenRun run = drive(QStringLiteral("viewer-curve"), file, QStringLiteral("large"),
                                    {"--open-directly", "--key", "1", "--key", "1"});
        QVERIFY2(run.status == 0, qPrintable(run.output + run.stderrText));
        const QImage whole = screenshot(run, QStringLiteral("view-0.png"));
        const QImage crop = screenshot(run, QStringLiteral("view-1.png"));
        const QImage again = screenshot(run, QStringLiteral("view-2.png"));
        // The test's screen is 1920 × 1080, with nothing taken from it.
        const QSize shown = whole.size();
        QVERIFY2(shown.width() <= 1920 && shown.height() <= 1080 && shown.height() >= 1000,
                 qPrintable(run.output));
        QVERIFY2(std::abs(shown.width() * height - shown.height() * width) <= width / 2,
                 qPrintable(run.output));
        // Each window pixel shows the view's texel under its centre.
        QImage scaled(shown, QImage::Format_RGB32);
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                scaled.setPixel(x, y,
                                colour(int((x + 0.5) * width / shown.width()),
                                       int((y + 0.5) * height / shown.height())));
            }
        }
        QVERIFY2(meanAbsoluteDifference(whole, scaled) < 0.5, qPrintable(run.directory));
        const QPoint offset((width - shown.width() + 1) / 2, (height - shown.height()) / 2);
        QImage expectedCrop(shown, QImage::Format_RGB32);
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x)
                expectedCrop.setPixel(x, y, colour(x + offset.x(), y + offset.y()));
        }
        QVERIFY2(crop == expectedCrop, qPrintable(run.directory));
        QVERIFY2(again == whole, qPrintable(run.directory));
    }

    // The lens through a program's window driven as a user drives it: ] opens it, the wheel
    // focuses it, a click on the triangle, the nearest layer, focuses it there, and 0 makes it a
    // pinhole again, texel for texel; the title says what differs from the defaults.
    void lensThroughTheProgramsWindow()
    {
        synth::SceneOptions options;
        options.columns = options.rows = 5;
        options.width = 192;
        options.height = 160;
        const synth::SyntheticScene scene(options);
        const QString file = m_directory.filePath(QStringLiteral("lens.lf2d"));
        synth::writeLightfield(scene, file.toStdString());
        // One view step right of where the camera starts, a drag pixel right of and below the
        // first view.
        const double x = 1.0 + 1.0 / options.viewSpacing, y = 1.0 / options.viewSpacing;
        const std::vector<float> disparity = scene.disparityMap(x, y);
        // A pixel of the triangle with nothing else within five pixels of it.
        const int margin = 5;
        QPoint triangle(-1, -1);
        for (int row = margin; row + margin < options.height && triangle.x() < 0; ++row) {
            for (int column = margin; column + margin < options.width; ++column) {
                bool inside = true;
                for (int dy = -margin; dy <= margin && inside; ++dy) {
                    for (int dx = -margin; dx <= margin && inside; ++dx)
                        inside = disparity[size_t(row + dy) * options.width + column + dx] == 11.0f;
                }
                if (inside) {
                    triangle = QPoint(column, row);
                    break;
                }
            }
        }
        QVERIFY(triangle.x() >= 0);
        const QString click = QStringLiteral("%1,%2").arg(triangle.x()).arg(triangle.y());
        const DrivenRun run =
            drive(QStringLiteral("viewer-curve"), file, QStringLiteral("lens"),
                  {"--open-directly", "--key", "Right", "--key", "bracketright", "--key",
                   "bracketright", "--key", "bracketright", "--key", "bracketright", "--wheel", "3",
                   "--click", click, "--key", "0"});
        QVERIFY2(run.status == 0, qPrintable(run.output + run.stderrText));
        QFile titlesFile(run.directory + QStringLiteral("/view-titles.txt"));
        QVERIFY(titlesFile.open(QIODevice::ReadOnly));
        const QStringList titles = QString::fromUtf8(titlesFile.readAll()).split('\n');
        const QString program = QStringLiteral("viewer-curve \u2014 ");
        QCOMPARE(titles.value(4), QStringLiteral("view-5: ") + program + "aperture 1 view");
        QCOMPARE(titles.value(5),
                 QStringLiteral("view-6: ") + program + "focus 0.75 px, aperture 1 view");
        QCOMPARE(titles.value(6),
                 QStringLiteral("view-7: ") + program + "focus 11 px, aperture 1 view");
        QCOMPARE(titles.value(7), QStringLiteral("view-8: ") + program + "focus 11 px");

        const QImage pinhole = screenshot(run, QStringLiteral("view-1.png"));
        const QImage opened = screenshot(run, QStringLiteral("view-5.png"));
        const QImage focused = screenshot(run, QStringLiteral("view-6.png"));
        const QImage onTriangle = screenshot(run, QStringLiteral("view-7.png"));
        QVERIFY2(meanAbsoluteDifference(opened, pinhole) > 1.0, qPrintable(run.directory));
        QVERIFY2(meanAbsoluteDifference(focused, opened) > 0.1, qPrintable(run.directory));
        // Focused on it, the triangle is as sharp as the pinhole shows it.
        const QRect inside(triangle - QPoint(margin, margin),
                           QSize(2 * margin + 1, 2 * margin + 1));
        QVERIFY2(meanAbsoluteDifference(onTriangle.copy(inside), pinhole.copy(inside)) < 2.0,
                 qPrintable(run.directory));
        QVERIFY2(screenshot(run, QStringLiteral("view-8.png")) == pinhole,
                 qPrintable(run.directory));
    }

    // A named pipe opened for reading would wait for a writer forever; the viewer refuses
    // anything but a regular file before it opens one.
    void namedPipeIsRefused()
    {
        const QString path = m_directory.filePath(QStringLiteral("pipe.lf2d"));
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        const DrivenRun run = drive(QStringLiteral("viewer-curve"), path,
                                    QStringLiteral("pipe-run"), {QStringLiteral("--expect-error")});
        QVERIFY2(run.status == 1, qPrintable(run.output + run.stderrText));
        const QString expected =
            QStringLiteral("Cannot open lightfield file \"%1\": not a regular file\n").arg(path);
        QVERIFY2(run.stderrText.contains(expected), qPrintable(run.output + run.stderrText));
    }

    void badFilesEndWithTheirMessage()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        const QString path = write(name, content);
        const DrivenRun run = drive(QStringLiteral("viewer-interp-reinhard05"), path, name + "-run",
                                    {QStringLiteral("--expect-error")});
        // Status 1 is the program's own; a crash would end it by a signal.
        QVERIFY2(run.status == 1, qPrintable(run.output + run.stderrText));
        const QString expected = QStringLiteral("Lightfield file \"%1\"").arg(path) + message;
        QVERIFY2(
            run.stderrText.contains(expected + '\n'),
            qPrintable(QStringLiteral("expected on stderr: %1\n%2").arg(expected, run.output)));
        QVERIFY(QFile::exists(run.directory + QStringLiteral("/error-dialog.png")));
    }

    void rgbeFillsTheEightBitRange_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("disparity");
        for (const QString &program : rgbePrograms()) {
            QTest::newRow(qPrintable(program + " with disparity")) << program << true;
            QTest::newRow(qPrintable(program + " without disparity")) << program << false;
        }
    }

    // Whatever the camera shows, the luminance stretch puts its darkest pixel at black and its
    // brightest at white, and the operator leaves the scene's layers and textures between them.
    void rgbeFillsTheEightBitRange()
    {
        QFETCH(QString, program);
        QFETCH(bool, disparity);
        const DrivenRun &run = rgbeRun(program, disparity);
        QVERIFY2(run.status == 0, qPrintable(run.output + run.stderrText));
        for (const char *shader :
             {"rgbe2rgba8LinearTonemapping.frag", "DynamicReinhardTonemapping.frag",
              "ReinhardTonemapping.frag", "MinMaxLuminance.frag", "MinMaxLuminanceLoop.frag",
              "NormalizeLuminance.frag", "simpleWarp.frag", "rgbe2rf.frag"}) {
            QVERIFY2(
                !run.stderrText.contains(
                    QStringLiteral("Unable to open file \"" LF_SOURCE_DIR "/shaders/") + shader),
                qPrintable(run.stderrText));
        }
        const QStringList pictures =
            QDir(run.directory).entryList({QStringLiteral("view-*.png")}, QDir::Files);
        QCOMPARE(pictures.size(), disparity ? 5 : 3);
        for (const QString &name : pictures) {
            const QImage picture = screenshot(run, name);
            QCOMPARE(picture.size(), QSize(160, 120));
            const PictureSummary summary = summarise(picture);
            const QByteArray where = QStringLiteral("%1/%2: %3")
                                         .arg(run.directory, name, summary.describe())
                                         .toLocal8Bit();
            QVERIFY2(summary.minimum <= 3.0, where);
            QVERIFY2(summary.maximum >= 252.0, where);
            QVERIFY2(summary.deviation >= 20.0, where);
            QVERIFY2(summary.levels >= 64, where);
            // Between stored views the synthesis may set a pixel or two of the emitting disc
            // where it comes out from behind the triangle's tip, bright beside the background
            // as the disc is over a hundred times brighter; a broken pass leaves far more.
            QVERIFY2(summary.outliers <= 6, where);
            QVERIFY2(summary.magenta == 0, where);
        }
    }

    void rgbeDragsMoveSmoothly_data()
    {
        QTest::addColumn<QString>("program");
        for (const QString &program : rgbePrograms())
            QTest::newRow(qPrintable(program)) << program;
    }

    // The camera goes most of a cell, then three small steps of the same length, across the
    // corner of the cell: each step moves the layers a little and none jumps, also where the
    // camera changes the views it synthesises from.
    void rgbeDragsMoveSmoothly()
    {
        QFETCH(QString, program);
        const DrivenRun &run = rgbeRun(program, true);
        QVERIFY2(run.status == 0, qPrintable(run.output + run.stderrText));
        const auto change = [&run](int from, int to) {
            return meanAbsoluteDifference(screenshot(run, QStringLiteral("view-%1.png").arg(from)),
                                          screenshot(run, QStringLiteral("view-%1.png").arg(to)));
        };
        const double acrossCell = change(0, 1);
        const std::vector<double> steps = {change(1, 2), change(2, 3), change(3, 4)};
        const QByteArray where = QStringLiteral("%1: most of a cell changes the picture by %2 "
                                                "levels, the small steps by %3, %4 and %5")
                                     .arg(run.directory)
                                     .arg(acrossCell)
                                     .arg(steps[0])
                                     .arg(steps[1])
                                     .arg(steps[2])
                                     .toLocal8Bit();
        QVERIFY2(acrossCell > 2.0, where);
        const auto [smallest, largest] = std::minmax_element(steps.begin(), steps.end());
        QVERIFY2(*smallest > 0.2, where);
        QVERIFY2(*largest < 0.5 * acrossCell, where);
        QVERIFY2(*largest < 2.0 * *smallest, where);
    }

    // Right after the drag the smoothed statistics are still near those of the bright first
    // view; a second later they are those of the dim far corner, and the picture holds still.
    // It is then the picture of the per-frame operator with the same brightness: in the far
    // corner no view but the last has weight, so both tone-map with its statistics alone.
    void adaptationSettlesOnTheNewLight()
    {
        const DrivenRun &adapting = rgbeRun(QStringLiteral("viewer-reinhard05"), false);
        const DrivenRun &perFrame = rgbeRun(QStringLiteral("viewer-interp-reinhard05-b0"), false);
        QVERIFY2(adapting.status == 0, qPrintable(adapting.output + adapting.stderrText));
        QVERIFY2(perFrame.status == 0, qPrintable(perFrame.output + perFrame.stderrText));
        const QImage first = screenshot(adapting, "view-0.png");
        const QImage settled = screenshot(adapting, "view-1.png");
        const double moved = meanAbsoluteDifference(first, settled);
        const double drift =
            meanAbsoluteDifference(settled, screenshot(adapting, "view-again.png"));
        const double fromPerFrame =
            meanAbsoluteDifference(settled, screenshot(perFrame, "view-1.png"));
        const QByteArray where =
            QStringLiteral("%1: the dim corner differs from the first view by %2 levels, the "
                           "two pictures of it by %3, from %4 by %5")
                .arg(adapting.directory)
                .arg(moved)
                .arg(drift)
                .arg(perFrame.directory)
                .arg(fromPerFrame)
                .toLocal8Bit();
        QVERIFY2(moved > 10.0, where);
        QVERIFY2(drift < 2.0, where);
        QVERIFY2(fromPerFrame < 2.0, where);
    }

    // f = exp(-brightness) scales the adaptation level: brightness 5 lifts every pixel, but
    // the operator stays monotonic in the pixel's own value, so the two pictures order their
    // pixels alike.
    void brightnessOnlyChangesTheExposure()
    {
        for (bool disparity : {true, false}) {
            const DrivenRun &bright =
                rgbeRun(QStringLiteral("viewer-interp-reinhard05"), disparity);
            const DrivenRun &dark =
                rgbeRun(QStringLiteral("viewer-interp-reinhard05-b0"), disparity);
            QVERIFY2(bright.status == 0, qPrintable(bright.output + bright.stderrText));
            QVERIFY2(dark.status == 0, qPrintable(dark.output + dark.stderrText));
            const std::vector<double> b = luminanceImage(screenshot(bright, "view-0.png"));
            const std::vector<double> d = luminanceImage(screenshot(dark, "view-0.png"));
            const double meanBright = std::accumulate(b.begin(), b.end(), 0.0) / b.size();
            const double meanDark = std::accumulate(d.begin(), d.end(), 0.0) / d.size();
            const double rankCorrelation = correlation(ranksOf(b), ranksOf(d));
            const QByteArray where =
                QStringLiteral("%1 and %2: mean luminance %3 and %4, rank correlation %5")
                    .arg(bright.directory, dark.directory)
                    .arg(meanBright)
                    .arg(meanDark)
                    .arg(rankCorrelation)
                    .toLocal8Bit();
            QVERIFY2(meanBright > meanDark + 20.0, where);
            QVERIFY2(rankCorrelation > 0.95, where);
        }
    }

    void loadTimeProgramsShowRgbe_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("disparity");
        for (const BuildConfiguration &configuration : buildConfigurations()) {
            if (configuration.planeStage == HdrPlaneStage::Linear)
                continue;
            const QString name = QString::fromStdString(configuration.name);
            QTest::newRow(qPrintable(name + " with disparity")) << name << true;
            QTest::newRow(qPrintable(name + " without disparity")) << name << false;
        }
    }

    // The builds that tone-map every view once while the plane is built: an RGBE light field
    // opens, shows a picture with the scene's layers in it, follows a drag and closes cleanly.
    void loadTimeProgramsShowRgbe()
    {
        QFETCH(QString, program);
        QFETCH(bool, disparity);
        const DrivenRun run =
            drive(program, disparity ? m_rgbeWithDisparity : m_rgbeDimming,
                  program + (disparity ? "-load-disparity" : "-load-dimming"),
                  {QStringLiteral("--drag"),
                   disparity ? QStringLiteral("20,20") : QStringLiteral("40,40")});
        QVERIFY2(run.status == 0, qPrintable(run.output + run.stderrText));
        QVERIFY2(!run.stderrText.contains(QStringLiteral("Unable to open file")),
                 qPrintable(run.stderrText));
        const QImage before = screenshot(run, QStringLiteral("view-0.png"));
        const QImage after = screenshot(run, QStringLiteral("view-1.png"));
        for (const QImage &picture : {before, after}) {
            QCOMPARE(picture.size(), QSize(160, 120));
            const PictureSummary summary = summarise(picture);
            const QByteArray where =
                QStringLiteral("%1: %2").arg(run.directory, summary.describe()).toLocal8Bit();
            QVERIFY2(summary.deviation >= 15.0, where);
            QVERIFY2(summary.levels >= 32, where);
            // No stretch to the full range here: a stage that maps absolute luminance (the
            // bilateral one) shows the dimmest view, a hundredth of the first one's light, dark.
            QVERIFY2(summary.maximum - summary.minimum >= 60.0, where);
            QVERIFY2(summary.outliers <= 6, where);
            QVERIFY2(summary.magenta == 0, where);
        }
        QVERIFY2(meanAbsoluteDifference(before, after) > 2.0,
                 qPrintable(run.directory + QStringLiteral(": the drag changed nothing")));
    }

    // A viewer whose frames are slow (views of 384 × 384 with disparity: well over 50 ms a frame
    // on a software renderer) ends at the first close request, every time.
    void oneCloseRequestEndsASlowViewer()
    {
        synth::SceneOptions options;
        options.columns = options.rows = 3;
        options.width = options.height = 384;
        const QString file = m_directory.filePath(QStringLiteral("slow-frames.lf2d"));
        synth::writeLightfield(synth::SyntheticScene(options), file.toStdString());
        for (int attempt = 1; attempt <= 20; ++attempt) {
            const DrivenRun run =
                drive(QStringLiteral("viewer-curve"), file, QStringLiteral("close-%1").arg(attempt),
                      {QStringLiteral("--drag"), QStringLiteral("20,10"),
                       QStringLiteral("--close-within"), QStringLiteral("2")});
            QVERIFY2(run.status == 0,
                     qPrintable(QStringLiteral("attempt %1: %2").arg(attempt).arg(run.output)));
        }
    }

    // A light field that takes seconds to load says how far it has come in the window's title,
    // and a close request ends the program before the next view, long before the whole load.
    void closeWhileLoading()
    {
        // 13 × 13 views of 512 × 512 RGBE; the bilateral stage spends tens of milliseconds on
        // each. The views are plain, as only the time they take matters.
        const int side = 512, views = 13 * 13;
        QFile file(m_directory.filePath(QStringLiteral("slow-load.lf2d")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("%1 %1 %2 13 20 0 1 0 0\n").arg(side).arg(views).toLatin1());
        QByteArray view;
        for (int i = 0; i < side * side; ++i)
            view.append("\x80\x64\x3c\x82", 4);
        for (int i = 0; i < views; ++i)
            QCOMPARE(file.write(view), qint64(view.size()));
        file.close();

        const DrivenRun run = drive(QStringLiteral("viewer-bilateral"), file.fileName(),
                                    QStringLiteral("close-while-loading"),
                                    {QStringLiteral("--close-while-loading"),
                                     QStringLiteral("--close-within"), QStringLiteral("2")});
        QVERIFY2(run.status == 0, qPrintable(run.output + run.stderrText));
        QFile titles(run.directory + QStringLiteral("/titles.txt"));
        QVERIFY(titles.open(QIODevice::ReadOnly));
        const QStringList seen = QString::fromUtf8(titles.readAll()).trimmed().split('\n');
        QCOMPARE(seen.size(), 2);
        const QRegularExpression pattern(QStringLiteral("^Loading (\\d+) of 169 views$"));
        int loaded[2] = {};
        for (int i = 0; i < 2; ++i) {
            const QRegularExpressionMatch match = pattern.match(seen[i]);
            QVERIFY2(match.hasMatch(), qPrintable(seen[i]));
            loaded[i] = match.captured(1).toInt();
        }
        // The title moved on while loading, and the close came with most of the views unread.
        QVERIFY2(loaded[1] > loaded[0], qPrintable(seen.join(QStringLiteral(", "))));
        QVERIFY2(loaded[1] < views / 2, qPrintable(seen.join(QStringLiteral(", "))));
    }
};

// A GUI application: its connection keeps the X server from resetting between the programs,
// which would refuse the next one's connection.
QTEST_MAIN(ProgramsTest)
#include "ProgramsTest.moc"
