// Runs 'lf2d photo' on photographs the test writes itself and reads the light fields back byte by
// byte.

#include "lightfield/Rgbe.h"
#include "support/StoredLightfield.h"
#include "support/ToolRun.h"

#include <OpenImageIO/imagebuf.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace {

using Rgb = std::array<float, 3>;

// Upright, row-major, 3 floats per pixel.
struct Picture
{
    int width = 0;
    int height = 0;
    std::vector<float> rgb;

    Rgb at(int x, int y) const
    {
        const float *p = rgb.data() + (std::size_t(y) * width + x) * 3;
        return {p[0], p[1], p[2]};
    }
};

// Writes a photograph (8-bit for .png, floating point otherwise) and returns what a reader finds
// in it: a Radiance file rounds to its own RGBE precision, a PNG to bytes.
Picture writePhoto(const QString &path, QSize size, const std::function<Rgb(int, int)> &value)
{
    OIIO::ImageBuf image(OIIO::ImageSpec(size.width(), size.height(), 3, OIIO::TypeDesc::FLOAT));
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x)
            image.setpixel(x, y, value(x, y).data(), 3);
    }
    image.set_write_format(path.endsWith(".png") ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::FLOAT);
    OIIO::ImageBuf written(path.toStdString());
    Picture picture {size.width(), size.height(),
                     std::vector<float>(size.width() * size.height() * 3)};
    if (!image.write(path.toStdString()) || !written.read(0, 0, true, OIIO::TypeDesc::FLOAT)
        || !written.get_pixels(OIIO::ROI::All(), OIIO::TypeDesc::FLOAT, picture.rgb.data()))
        throw std::runtime_error("cannot write " + path.toStdString());
    return picture;
}

// Over 10^4:1 from the darkest to the brightest red, over 10^3:1 in green; blue varies from pixel
// to pixel so that a crop one pixel off shows in every direction.
Rgb wideRangePixel(int x, int y, QSize size)
{
    const float hash = float((x * 73 + y * 151 + (x * y) % 17) % 101) / 100.0f;
    return {0.02f * std::pow(10.0f, 4.0f * x / std::max(1, size.width() - 1)),
            0.05f * std::pow(10.0f, 3.0f * y / std::max(1, size.height() - 1)), 0.3f + 2.0f * hash};
}

// Decodes an RGBE or 8-bit texel and says how it differs from the expected value, or nothing.
// A channel of RGBE rounds to half a mantissa step of the shared exponent, and the largest channel
// keeps a mantissa of at least 128, so it spans at least 127.5 steps; slack adds to that.
QString mismatch(const std::uint8_t *texel, bool hdr, const Rgb &expected, float slack = 0)
{
    float decoded[3] = {texel[0] / 255.0f, texel[1] / 255.0f, texel[2] / 255.0f};
    if (hdr)
        decodeRgbe(texel, decoded);
    const float step = hdr ? *std::max_element(expected.begin(), expected.end()) / 255 : 0.5f / 255;
    for (int c = 0; c < 3; ++c) {
        if (std::abs(decoded[c] - expected[c]) > step * 1.0001f + slack * expected[c]
            || (!hdr && texel[3] != 255)) {
            return QString::asprintf("%g %g %g, expected %g %g %g", decoded[0], decoded[1],
                                     decoded[2], expected[0], expected[1], expected[2]);
        }
    }
    return QString();
}

ToolRun runTool(const QStringList &arguments)
{
    return runTool(QStringLiteral(LF2D_PATH), arguments);
}

} // namespace

class PhotoLightfieldTest : public QObject
{
    Q_OBJECT

private slots:
    void viewsAreShiftedCrops_data()
    {
        QTest::addColumn<QString>("photoName");
        QTest::addColumn<QSize>("photoSize");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QSize>("viewSize");
        QTest::addColumn<QPoint>("origin"); // top-left pixel of the view at column 0, row 0
        QTest::addColumn<QSize>("grid");
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("disparity");

        const QStringList grid {"--columns", "4", "--rows", "3", "--step", "5"};
        const QStringList view {"--width", "40", "--height", "24"};
        // 40 + 3 · 5 = 55 by 24 + 2 · 5 = 34 pixels hold the grid exactly.
        QTest::newRow("OpenEXR that the grid fills")
            << "photo.exr" << QSize(55, 34) << grid + view << QSize(40, 24) << QPoint(0, 0)
            << QSize(4, 3) << 5 << true;
        QTest::newRow("Radiance with the grid centred")
            << "photo.hdr" << QSize(62, 37) << grid + view << QSize(40, 24) << QPoint(3, 1)
            << QSize(4, 3) << 5 << true;
        QTest::newRow("view size left to the tool")
            << "photo.exr" << QSize(70, 50) << grid << QSize(55, 40) << QPoint(0, 0) << QSize(4, 3)
            << 5 << true;
        QTest::newRow("only the width given")
            << "photo.exr" << QSize(70, 50) << grid + QStringList {"--width", "30"} << QSize(30, 40)
            << QPoint(12, 0) << QSize(4, 3) << 5 << true;
        QTest::newRow("one row without disparity")
            << "photo.exr" << QSize(35, 16)
            << QStringList {"--columns", "6",  "--rows",        "1", "--step", "3",
                            "--width",   "20", "--no-disparity"}
            << QSize(20, 16) << QPoint(0, 0) << QSize(6, 1) << 3 << false;
        QTest::newRow("one column, views the same")
            << "photo.exr" << QSize(30, 20)
            << QStringList {"--columns", "1", "--rows", "3", "--step", "0"} << QSize(30, 20)
            << QPoint(0, 0) << QSize(1, 3) << 0 << true;
        QTest::newRow("8-bit PNG")
            << "photo.png" << QSize(30, 20)
            << QStringList {"--columns", "2", "--rows", "2", "--step", "2", "--height", "18"}
            << QSize(28, 18) << QPoint(0, 0) << QSize(2, 2) << 2 << true;
    }

    // The view at (c, r) shows the photograph from (origin.x + c · step, origin.y + r · step) on:
    // scene content moves left by step per column and up by step per row, which is disparity step
    // as the file format defines it.
    void viewsAreShiftedCrops()
    {
        QFETCH(QString, photoName);
        QFETCH(QSize, photoSize);
        QFETCH(QStringList, options);
        QFETCH(QSize, viewSize);
        QFETCH(QPoint, origin);
        QFETCH(QSize, grid);
        QFETCH(int, step);
        QFETCH(bool, disparity);
        const bool hdr = !photoName.endsWith(".png");

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString photoPath = dir.filePath(photoName);
        const Picture photo = writePhoto(photoPath, photoSize, [&](int x, int y) {
            const Rgb value = wideRangePixel(x, y, photoSize);
            return hdr ? value
                       : Rgb {value[0] / (1 + value[0]), value[1] / (1 + value[1]), value[2] / 3};
        });
        const QString output = dir.filePath("photo.lf2d");
        const ToolRun run = runTool(QStringList {"photo"} + options
                                    + QStringList {"--view-spacing", "17", photoPath, output});
        QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
        QVERIFY(run.output.contains(output));

        const Lightfield file = readLightfield(output);
        QCOMPARE(file.header,
                 QString::asprintf("%d %d %d %d 17 0 %d %d %d", viewSize.width(), viewSize.height(),
                                   grid.width() * grid.height(), grid.width(), hdr, disparity,
                                   step));
        QCOMPARE(std::size_t(file.bytes.size()),
                 file.dataOffset
                     + std::size_t(grid.width() * grid.height()) * (disparity ? 2 : 1)
                         * file.imageBytes());

        for (int row = 0; row < grid.height(); ++row) {
            for (int column = 0; column < grid.width(); ++column) {
                for (int y = 0; y < viewSize.height(); ++y) {
                    for (int x = 0; x < viewSize.width(); ++x) {
                        const QString wrong = mismatch(
                            file.texel(column, row, x, y), hdr,
                            photo.at(origin.x() + x + column * step, origin.y() + y + row * step));
                        QVERIFY2(wrong.isEmpty(),
                                 qPrintable(QString("view (%1, %2) at (%3, %4): ")
                                                .arg(column)
                                                .arg(row)
                                                .arg(x)
                                                .arg(y)
                                            + wrong));
                        float d[3];
                        if (disparity) {
                            decodeRgbe(file.texel(column, row, x, y, true), d);
                            QVERIFY(d[0] == step && d[1] == step && d[2] == step);
                        }
                    }
                }
            }
        }
    }

    // A photograph far larger than the grid is shrunk until the grid spans it, so the views show
    // the whole scene. Linear ramps survive any symmetric filter unchanged away from the borders,
    // which pins down where every view pixel comes from.
    void largePhotographIsShrunkToTheGrid()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString photoPath = dir.filePath("large.exr");
        const QSize photoSize(1088, 700);
        writePhoto(photoPath, photoSize, [](int x, int y) {
            return Rgb {0.5f + 0.01f * x, 0.5f + 0.02f * y, 1.0f};
        });
        const QString output = dir.filePath("large.lf2d");
        const ToolRun run = runTool({"photo", "--no-disparity", photoPath, output});
        QVERIFY2(run.exitCode == 0, qPrintable(run.errors));

        // Five views 8 pixels apart: the grid is 32 pixels wider and higher than a view. Views grow
        // to 512 pixels wide, so the photograph shrinks to 544 pixels wide, by half.
        const QSize scaled = photoSize / 2;
        const Lightfield file = readLightfield(output);
        QCOMPARE(file.header, QString("512 %1 25 5 20 0 1 0 8").arg(scaled.height() - 32));

        // The shrunk pixel i covers photograph pixels 2i and 2i + 1; the filter reaches 3 of them
        // to either side.
        const int border = 4;
        int compared = 0;
        for (const auto &[column, row] : {std::pair {0, 0}, {4, 0}, {2, 3}, {4, 4}}) {
            for (int y = 0; y < file.height; y += 7) {
                for (int x = 0; x < file.width; x += 5) {
                    const int sx = x + 8 * column;
                    const int sy = y + 8 * row;
                    if (sx < border || sy < border || sx >= scaled.width() - border
                        || sy >= scaled.height() - border)
                        continue;
                    const Rgb want {0.5f + 0.01f * (2 * sx + 0.5f), 0.5f + 0.02f * (2 * sy + 0.5f),
                                    1.0f};
                    // A little slack for the filter's arithmetic.
                    const QString wrong =
                        mismatch(file.texel(column, row, x, y), true, want, 0.002f);
                    QVERIFY2(wrong.isEmpty(),
                             qPrintable(QString("view (%1, %2) at (%3, %4): ")
                                            .arg(column)
                                            .arg(row)
                                            .arg(x)
                                            .arg(y)
                                        + wrong));
                    ++compared;
                }
            }
        }
        QVERIFY(compared > 10000);
    }

    void badInputIsReported_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message"); // found in the error output, after {dir} is filled

        const QString photo = "{dir}/photo.exr"; // 55 x 34
        const QString output = "{dir}/out.lf2d";
        QTest::newRow("missing photograph")
            << QStringList {"photo", "{dir}/missing.exr", output} << 1 << "{dir}/missing.exr";
        QTest::newRow("not an image")
            << QStringList {"photo", "{dir}/text.exr", output} << 1 << "{dir}/text.exr";
        QTest::newRow("photograph smaller than the grid")
            << QStringList {"photo", "--rows", "9", photo, output} << 1
            << photo + "\": it is 55 x 34 pixels, too small";
        QTest::newRow("views wider than the photograph")
            << QStringList {"photo", "--width", "60", "--step", "0", photo, output} << 1
            << "too small";
        QTest::newRow("unwritable output") << QStringList {"photo", photo, "{dir}/missing/out.lf2d"}
                                           << 1 << "{dir}/missing/out.lf2d";
        QTest::newRow("no output") << QStringList {"photo", photo} << 2 << "OUTPUT";
        QTest::newRow("two outputs")
            << QStringList {"photo", photo, output, "{dir}/more.lf2d"} << 2 << "OUTPUT";
        QTest::newRow("no columns")
            << QStringList {"photo", "--columns", "0", photo, output} << 2 << "--columns";
        QTest::newRow("negative step")
            << QStringList {"photo", "--step", "-1", photo, output} << 2 << "--step";
        QTest::newRow("width not a number")
            << QStringList {"photo", "--width", "wide", photo, output} << 2 << "--width";
        QTest::newRow("unknown option")
            << QStringList {"photo", "--hdr", photo, output} << 2 << "hdr";
    }

    void badInputIsReported()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        writePhoto(dir.filePath("photo.exr"), QSize(55, 34),
                   [](int x, int y) { return wideRangePixel(x, y, QSize(55, 34)); });
        QFile text(dir.filePath("text.exr"));
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("not a picture\n") > 0);
        text.close();
        for (QString &argument : arguments)
            argument.replace("{dir}", dir.path());
        message.replace("{dir}", dir.path());

        const ToolRun run = runTool(arguments);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.errors.contains(message), qPrintable(run.errors));
        QVERIFY(QDir(dir.path()).entryList({"*.lf2d"}, QDir::Files).isEmpty());
    }
};

QTEST_GUILESS_MAIN(PhotoLightfieldTest)
#include "PhotoLightfieldTest.moc"
