// Runs 'lf2d import' on folders laid out as public light-field archives lay them out, and on ESLF
// lenslet pictures, all made from synthetic light fields whose views and disparities are known.

#include "support/ToolFolders.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>

namespace {

// Writes text into the file at path.
void writeText(const QString &path, const QString &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text.toUtf8()) < 0)
        qFatal("cannot write %s", qPrintable(path));
}

QString parameters(int columns, int rows, int width, int height)
{
    return QStringLiteral("[intrinsics]\nimage_resolution_x_px = %3\nimage_resolution_y_px = %4\n"
                          "\n[extrinsics]\nnum_cams_x = %1\nnum_cams_y = %2\nbaseline_mm = 90\n"
                          "\n[meta]\ndisp_min = -2\ndisp_max = 8\nscene = test\n")
        .arg(columns)
        .arg(rows)
        .arg(width)
        .arg(height);
}

// The Stanford archive's name of the view at (column, row): the camera's position in decimals.
QString stanfordName(int column, int row, bool trailing)
{
    return QString::asprintf("out_%02d_%02d_%.6f_%.6f%s.png", row, column, -859.738525 + 12.5 * row,
                             1022.898743 - 10.25 * column, trailing ? "_" : "");
}

// Lenslet blocks of 6 × 6 pixels, the 4 × 4 central views of the light field's, starting at u and
// v 1; the rest of each block magenta, as are the pixels marked invalid.
constexpr int lenslet = 6;
constexpr int firstAngle = 1;

// Pixels of view (column, row) that an alpha channel marks invalid: apart from one another and
// from the borders, so that each is filled from four valid neighbours.
bool markedInvalid(int column, int row, int x, int y)
{
    return x % 4 == 1 && y % 4 == 1 && (x / 4 + y / 4 + column + row) % 3 == 0;
}

} // namespace

class ImportLayoutsTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_directory;

    QString path(const QString &name) const { return m_directory.filePath(name); }

    // The same folder's views imported by pattern, as the layouts' imports must store them.
    QByteArray importedByPattern(const QString &source)
    {
        const ToolRun run = lf2d(
            {"import", path(source + "/view_{row:02}_{col:02}.png"), path(source + "-plain.lf2d")});
        if (run.exitCode != 0)
            qFatal("lf2d import failed: %s", qPrintable(describe(run)));
        return readLightfield(path(source + "-plain.lf2d")).bytes;
    }

    // A 5 × 4 HCI benchmark folder of the synthetic scene refocused by 3 pixels per view step
    // (disparities 1 to 11 become -2 to 8), with the centre view's map as its ground truth.
    Lightfield hciFolder(const QString &name)
    {
        const Lightfield original = synthesiseFolder(path(name + "-source"));
        constexpr int shift = 3;
        const int width = original.width - shift * (original.columns - 1);
        const int height = original.height - shift * (original.rows - 1);
        QDir().mkpath(path(name));
        for (int row = 0; row < original.rows; ++row) {
            for (int column = 0; column < original.columns; ++column) {
                const int left = shift * (original.columns - 1 - column);
                const int top = shift * (original.rows - 1 - row);
                const QString from = path(name + "-source/");
                copyImage(from + viewName(column, row) + ".png",
                          path(name
                               + QString::asprintf("/input_Cam%03d.png",
                                                   row * original.columns + column)),
                          left, top, width, height);
                // The ground truth as a big-endian colour PFM, which some writers make.
                if (column == 2 && row == 1) {
                    OIIO::ImageBuf map((from + mapName(column, row)).toStdString());
                    writePfm(
                        path(name + "/gt_disp_lowres.pfm"),
                        OIIO::ImageBufAlgo::add(
                            OIIO::ImageBufAlgo::cut(
                                map, OIIO::ROI(left, left + width, top, top + height, 0, 1, 0, 1)),
                            -float(shift)),
                        true, true);
                }
            }
        }
        writeText(path(name + "/parameters.cfg"),
                  parameters(original.columns, original.rows, width, height));
        return original;
    }

private slots:
    void initTestCase() { QVERIFY(m_directory.isValid()); }

    // The grid comes from parameters.cfg (20 views are not a square), the disparity from the
    // centre view's ground truth in the viewer's sign and scale: the views are shifted back by 2
    // pixels a step, the lowest disparity, -2, rounded away from zero.
    void hciFolderImportsWithItsGroundTruth()
    {
        const Lightfield original = hciFolder("hci");
        const QString imported = path("hci.lf2d");
        ToolRun run = lf2d({"import", path("hci"), imported});
        QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
        for (const QString &line :
             {QString("Recognised the HCI 4D benchmark layout in " + path("hci")),
              QString("parameters.cfg: 5 x 4 views of 52 x 39 pixels, disparities from -2 to 8"),
              QString("views: input_Cam000.png to input_Cam019.png, row by row"),
              QString("disparity: gt_disp_lowres.pfm, the centre view's"),
              QString("shifted by 2 pixels per view step")})
            QVERIFY2(run.output.contains(line), qPrintable(line + "\n" + run.output));

        constexpr int shift = 3;
        constexpr int offset = 2;
        const Lightfield result = readLightfield(imported);
        QCOMPARE(result.columns, 5);
        QCOMPARE(result.rows, 4);
        QCOMPARE(result.width, original.width - (shift + offset) * 4);
        int colourMismatches = 0;
        int centreMismatches = 0;
        for (int row = 0; row < result.rows; ++row) {
            for (int column = 0; column < result.columns; ++column) {
                for (int y = 0; y < result.height; ++y) {
                    for (int x = 0; x < result.width; ++x) {
                        const int ox = x + offset * column + shift * (4 - column);
                        const int oy = y + offset * row + shift * (3 - row);
                        colourMismatches += !sameTexel(result.texel(column, row, x, y),
                                                       original.texel(column, row, ox, oy));
                        if (column == 2 && row == 1)
                            centreMismatches += storedDisparity(result, 2, 1, x, y)
                                != storedDisparity(original, 2, 1, ox, oy) - shift + offset;
                    }
                }
            }
        }
        QCOMPARE(colourMismatches, 0);
        QCOMPARE(centreMismatches, 0);

        // Estimating instead searches the range parameters.cfg states, and leaves the map alone.
        run = lf2d({"import", path("hci"), "--estimate", imported});
        QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
        QVERIFY2(run.output.contains("gt_disp_lowres.pfm: not used")
                     && run.output.contains("disparity: estimated from -2 to 8 pixels"),
                 qPrintable(run.output));
        QVERIFY(readLightfield(imported).maxDisparity <= 8 + offset);
    }

    // Views named by row, column and camera position, with and without the trailing '_', are
    // stored as the same views named by row and column are; so are they named with {*}.
    void stanfordNamesWithDecimals()
    {
        synthesiseFolder(path("stanford-source"));
        const QByteArray expected = importedByPattern("stanford-source");
        for (const bool trailing : {true, false}) {
            const QString folder = path(trailing ? "stanford" : "stanford-plain");
            QVERIFY(QDir().mkpath(folder));
            for (int row = 0; row < 4; ++row) {
                for (int column = 0; column < 5; ++column) {
                    QVERIFY(QFile::copy(path("stanford-source/" + viewName(column, row) + ".png"),
                                        folder + "/" + stanfordName(column, row, trailing)));
                }
            }
            ToolRun run = lf2d({"import", folder, path("stanford.lf2d")});
            QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
            QVERIFY2(run.output.contains("Recognised the Stanford archive layout")
                         && run.output.contains("out_{row:02}_{col:02}_{*}.png, 5 x 4 views, "
                                                + stanfordName(0, 0, trailing) + " to "
                                                + stanfordName(4, 3, trailing))
                         && run.output.contains("camera positions: x 1022.898743 in column 0, "
                                                "981.898743 in column 4"),
                     qPrintable(run.output));
            QVERIFY(readLightfield(path("stanford.lf2d")).bytes == expected);

            run =
                lf2d({"import", folder + "/out_{row:02}_{col:02}_{*}.png", path("stanford.lf2d")});
            QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
            QVERIFY(readLightfield(path("stanford.lf2d")).bytes == expected);
        }
    }

    // What export writes, the folder imports back to byte for byte, maps and all.
    void exportedFolderImportsBack_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("8-bit") << QStringList();
        QTest::newRow("RGBE") << QStringList {"--hdr"};
    }
    void exportedFolderImportsBack()
    {
        QFETCH(QStringList, options);
        const QString name = "export" + options.join("");
        const Lightfield original = synthesiseFolder(path(name), options);
        const ToolRun run =
            lf2d({"import", path(name), "--max-disparity", "12", path(name + "-back.lf2d")});
        QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
        const QString extension = options.isEmpty() ? ".png" : ".exr";
        QVERIFY2(run.output.contains("Recognised the layout lf2d export writes")
                     && run.output.contains("views: " + path(name + "/view_{row:02}_{col:02}")
                                            + extension + ", 5 x 4 views")
                     && run.output.contains("disparity: "
                                            + path(name + "/disparity_{row:02}_{col:02}.pfm")),
                 qPrintable(run.output));
        QVERIFY(readLightfield(path(name + "-back.lf2d")).bytes == original.bytes);
    }

    // Each broken folder ends with a message naming the file (or the place) at fault, and writes
    // nothing.
    void brokenLayoutsNameTheFile_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("breakage");
        QTest::addColumn<QString>("named");
        QTest::newRow("missing key") << "hci"
                                     << "edit parameters.cfg num_cams_y = 4|"
                                     << "parameters.cfg\" has no num_cams_y";
        QTest::newRow("bad value") << "hci"
                                   << "edit parameters.cfg num_cams_x = 5|num_cams_x = five"
                                   << "parameters.cfg\" gives num_cams_x = 'five' at line 6";
        QTest::newRow("other resolution") << "hci"
                                          << "edit parameters.cfg _x_px = 52|_x_px = 512"
                                          << "states views of 512 x 39 pixels, input_Cam000.png";
        QTest::newRow("view beyond the grid") << "hci"
                                              << "copy input_Cam000.png input_Cam020.png"
                                              << "has input_Cam020.png, beyond the 5 x 4 views";
        QTest::newRow("missing view") << "hci"
                                      << "remove input_Cam007.png"
                                      << "input_Cam007.png\" is missing";
        QTest::newRow("two views in one place")
            << "stanford"
            << "copy out_01_02_-847.238525_1002.398743_.png out_01_02_-847.2_1002.4.png"
            << "both name row 1, column 2";
        QTest::newRow("names numbered otherwise")
            << "stanford"
            << "rename out_01_02_-847.238525_1002.398743_.png out_1_02_-847.238525_1002.398743_.png"
            << "out_1_02_-847.238525_1002.398743_.png\" numbers its row and column with other";
        QTest::newRow("name without positions")
            << "stanford"
            << "rename out_01_02_-847.238525_1002.398743_.png out_01_02.png"
            << "out_01_02.png\" is named like the folder's views but not as out_RR_CC_<y>_<x>.png";
        QTest::newRow("hole in the grid") << "stanford"
                                          << "remove out_02_03_-834.738525_992.148743_.png"
                                          << "is the view at row 2, column 3";
        QTest::newRow("export names numbered otherwise") << "export"
                                                         << "copy view_00_00.png view_00_7.png"
                                                         << "view_00_7.png\" numbers its row";
    }
    void brokenLayoutsNameTheFile()
    {
        QFETCH(QString, layout);
        QFETCH(QString, breakage);
        QFETCH(QString, named);
        static int count = 0;
        const QString folder = path(QStringLiteral("broken%1").arg(count++));
        if (layout == "hci") {
            hciFolder(QFileInfo(folder).fileName());
        } else {
            synthesiseFolder(folder);
            if (layout == "stanford") {
                for (int row = 0; row < 4; ++row) {
                    for (int column = 0; column < 5; ++column)
                        QVERIFY(QFile::rename(folder + "/" + viewName(column, row) + ".png",
                                              folder + "/" + stanfordName(column, row, true)));
                }
            }
        }
        const QStringList words = breakage.split(' ');
        const QString file = folder + "/" + words[1];
        if (words[0] == "remove") {
            QVERIFY(QFile::remove(file));
        } else if (words[0] == "copy" || words[0] == "rename") {
            QVERIFY(words[0] == "copy" ? QFile::copy(file, folder + "/" + words[2])
                                       : QFile::rename(file, folder + "/" + words[2]));
        } else {
            // "edit FILE FROM|TO": the text FROM replaced by TO, which may be empty.
            QFile settings(file);
            QVERIFY(settings.open(QIODevice::ReadOnly));
            const QStringList change = breakage.section(' ', 2).split('|');
            writeText(file, QString::fromUtf8(settings.readAll()).replace(change[0], change[1]));
        }
        const QString output = folder + ".lf2d-out";
        const ToolRun run = lf2d({"import", folder, output});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.errors.contains(named), qPrintable(describe(run)));
        QVERIFY(!QFile::exists(output));
    }

    // The central views of an ESLF picture, with its padding up to whole lenslets and its
    // invalid pixels filled from their neighbours; every other pixel as the view has it.
    void eslfCentralViews_data()
    {
        QTest::addColumn<bool>("alpha");
        QTest::newRow("padded, without alpha") << false;
        QTest::newRow("alpha") << true;
    }
    void eslfCentralViews()
    {
        QFETCH(bool, alpha);
        const QString name = alpha ? "eslf-alpha" : "eslf";
        const Lightfield original = synthesiseFolder(
            path(name), {"--columns", "4", "--rows", "4", "--width", "32", "--height", "24"});
        // Without alpha, the picture ends within the last lenslets: views 3 of each row lose
        // their last column, views of rows 1 to 3 their last row.
        const int width = alpha ? 32 * lenslet : 32 * lenslet - 2;
        const int height = alpha ? 24 * lenslet : 24 * lenslet - 4;
        OIIO::ImageSpec format(width, height, alpha ? 4 : 3, OIIO::TypeDesc::UINT8);
        format.attribute("oiio:UnassociatedAlpha", 1);
        OIIO::ImageBuf eslf(format);
        int marked = 0;
        for (int py = 0; py < height; ++py) {
            for (int px = 0; px < width; ++px) {
                const int column = px % lenslet - firstAngle;
                const int row = py % lenslet - firstAngle;
                const int x = px / lenslet;
                const int y = py / lenslet;
                const bool inside = column >= 0 && column < 4 && row >= 0 && row < 4;
                const bool invalid = alpha && inside && markedInvalid(column, row, x, y);
                marked += invalid;
                // Valid pixels partly transparent keep their colour all the same.
                float pixel[4] = {1.0f, 0.0f, 1.0f, invalid ? 0.0f : (x + y) % 5 ? 1.0f : 0.6f};
                if (inside && !invalid) {
                    for (int c = 0; c < 3; ++c)
                        pixel[c] = original.texel(column, row, x, y)[c] / 255.0f;
                }
                eslf.setpixel(px, py, pixel, alpha ? 4 : 3);
            }
        }
        QVERIFY(eslf.write(path(name + ".png").toStdString()));

        const QString imported = path(name + ".lf2d");
        ToolRun run = lf2d(
            {"import", "--eslf", path(name + ".png"), "--lenslet", "6", "--views", "4", imported});
        QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
        // Padding: 24 pixels in view (3, 0), 55 in views (3, 1..3), 32 in the other 9 views.
        const int filled = alpha ? marked : 24 + 3 * 55 + 9 * 32;
        QVERIFY2(run.output.contains(QStringLiteral("lenslets of 6 x 6 pixels, the central 4 x 4 "
                                                    "views (u and v 1 to 4) of 32 x 24 pixels"))
                     && run.output.contains(
                         QStringLiteral("%1 pixels of those views filled").arg(filled)),
                 qPrintable(run.output));
        const Lightfield result = readLightfield(imported);
        QCOMPARE(result.columns, 4);
        QCOMPARE(result.rows, 4);
        QCOMPARE(result.width, 32);
        int wrong = 0;
        for (int row = 0; row < 4; ++row) {
            for (int column = 0; column < 4; ++column) {
                for (int y = 0; y < 24; ++y) {
                    for (int x = 0; x < 32; ++x) {
                        const auto at = [&](int dx, int dy) {
                            return original.texel(column, row, x + dx, y + dy);
                        };
                        const bool padded =
                            !alpha && ((column == 3 && x == 31) || (row > 0 && y == 23));
                        for (int c = 0; c < 3; ++c) {
                            float expected = at(0, 0)[c];
                            if (alpha && markedInvalid(column, row, x, y))
                                expected = (at(-1, 0)[c] + at(1, 0)[c] + at(0, -1)[c] + at(0, 1)[c])
                                    / 4.0f;
                            else if (padded)
                                expected = at(x == 31 && column == 3 ? -1 : 0,
                                              y == 23 && row > 0 ? -1 : 0)[c];
                            wrong += std::abs(result.texel(column, row, x, y)[c] - expected) > 1.0f;
                        }
                    }
                }
            }
        }
        QCOMPARE(wrong, 0);

        // A lenslet larger than the picture, or more views than a lenslet holds.
        run = lf2d({"import", "--eslf", path(name + ".png"), "--lenslet", "200", imported + "x"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.errors.contains(name + ".png\" is " + QString::number(width) + " x "
                                     + QString::number(height)
                                     + " pixels, too small for a lenslet of 200 x 200"),
                 qPrintable(run.errors));
        run = lf2d({"import", "--eslf", path(name + ".png"), "--lenslet", "6", "--views", "7",
                    imported + "x"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.errors.contains(name
                                     + ".png\" holds 6 x 6 views with a lenslet of 6 pixels; "
                                       "7 x 7 asked for"),
                 qPrintable(run.errors));
        QVERIFY(!QFile::exists(imported + "x"));
    }

    // A scene whose disparities are all 1 or more, with a patch a few pixels wide that matches at
    // -3 (as wrong matches do), is neither shifted nor cropped: the patch's estimates are raised
    // to the bulk's lowest.
    void fewOutliersDoNotRefocus()
    {
        const Lightfield original = synthesiseFolder(
            path("outliers"), {"--columns", "5", "--rows", "5", "--width", "96", "--height", "72"});
        for (int row = 0; row < 5; ++row) {
            for (int column = 0; column < 5; ++column) {
                const QString view = path("outliers/" + viewName(column, row) + ".png");
                OIIO::ImageBuf image(view.toStdString());
                QVERIFY(image.read(0, 0, true, OIIO::TypeDesc::FLOAT));
                for (int y = 0; y < 5; ++y) {
                    for (int x = 0; x < 5; ++x) {
                        const float pixel[3] = {float((x * 7 + y * 3) % 5) / 4.0f,
                                                float((x + y * 5) % 3) / 2.0f, float(y % 2)};
                        image.setpixel(30 + x + 3 * (column - 2), 30 + y + 3 * (row - 2), pixel, 3);
                    }
                }
                image.set_write_format(OIIO::TypeDesc::UINT8);
                QVERIFY(image.write(view.toStdString()));
            }
        }
        const ToolRun run = lf2d({"import", path("outliers/view_{row:02}_{col:02}.png"),
                                  "--estimate", path("outliers-estimated.lf2d")});
        QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
        QVERIFY2(!run.output.contains("refocused"), qPrintable(run.output));
        const Lightfield result = readLightfield(path("outliers-estimated.lf2d"));
        QCOMPARE(result.width, original.width);
        QCOMPARE(result.height, original.height);
        float lowest = 100.0f;
        for (int y = 0; y < result.height; ++y) {
            for (int x = 0; x < result.width; ++x)
                lowest = std::min(lowest, storedDisparity(result, 2, 2, x, y));
        }
        QVERIFY2(lowest > 0.5f, qPrintable(QString::number(lowest)));
    }
};

QTEST_GUILESS_MAIN(ImportLayoutsTest)
#include "ImportLayoutsTest.moc"
