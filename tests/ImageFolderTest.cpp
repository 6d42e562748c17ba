// Runs 'lf2d export', 'lf2d import' and 'lf2d info' on synthetic light fields, whose every view and
// disparity is known, and on folders the test rearranges, shifts or breaks itself.

#include "support/ToolFolders.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

class ImageFolderTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_directory;

    QString path(const QString &name) const { return m_directory.filePath(name); }

    Lightfield synthesise(const QString &name, const QStringList &options = {})
    {
        return synthesiseFolder(path(name), options);
    }

private slots:
    void initTestCase() { QVERIFY(m_directory.isValid()); }

    // What export writes, import reads back: the same file byte for byte, for 8-bit and RGBE
    // views, numbered by row and column or by index, from 0 or from 1, in either row order.
    void exportedFoldersImportToTheSameFile_data()
    {
        QTest::addColumn<bool>("hdr");
        QTest::newRow("8-bit") << false;
        QTest::newRow("RGBE") << true;
    }
    void exportedFoldersImportToTheSameFile()
    {
        QFETCH(bool, hdr);
        const QString name = hdr ? "roundtrip-hdr" : "roundtrip";
        const Lightfield original = synthesise(name, hdr ? QStringList {"--hdr"} : QStringList());
        const QString extension = hdr ? ".exr" : ".png";

        const QString imported = path(name + "-imported.lf2d");
        ToolRun run = lf2d({"import", path(name + "/view_{row:02}_{col:02}" + extension),
                            "--disparity", path(name + "/disparity_{row:02}_{col:02}.pfm"),
                            "--max-disparity", "12", imported});
        QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
        QVERIFY2(readLightfield(imported).bytes == original.bytes, "row and column names");

        // Camera-array style: one running index from 1, the bottom row of viewpoints first.
        const QString cameras = path(name + "-cameras");
        QVERIFY(QDir().mkpath(cameras));
        for (int row = 0; row < original.rows; ++row) {
            for (int column = 0; column < original.columns; ++column) {
                const int index = (original.rows - 1 - row) * original.columns + column + 1;
                QVERIFY(QFile::copy(path(name + "/" + viewName(column, row) + extension),
                                    cameras + QString::asprintf("/Cam%03d", index) + extension));
                QVERIFY(QFile::copy(path(name + "/" + mapName(column, row)),
                                    cameras + QString::asprintf("/Cam%03d.pfm", index)));
            }
        }
        run = lf2d({"import", cameras + "/Cam{index:03}" + extension, "--grid", "5x4",
                    "--flip-rows", "--disparity", cameras + "/Cam{index:03}.pfm", "--max-disparity",
                    "12", imported});
        QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
        QVERIFY2(run.output.contains("numbered from 1"), qPrintable(run.output));
        QVERIFY2(readLightfield(imported).bytes == original.bytes, "index names, rows flipped");

        if (hdr)
            return;
        // 16-bit TIFFs of the same pictures (each byte b as 257 · b) round back to the bytes.
        const QString deep = path(name + "-16bit");
        QVERIFY(QDir().mkpath(deep));
        for (int row = 0; row < original.rows; ++row) {
            for (int column = 0; column < original.columns; ++column) {
                OIIO::ImageBuf view(
                    path(name + "/" + viewName(column, row) + extension).toStdString());
                view.set_write_format(OIIO::TypeDesc::UINT16);
                QVERIFY(view.write((deep + "/" + viewName(column, row) + ".tif").toStdString()));
            }
        }
        run = lf2d({"import", deep + "/view_{row:02}_{col:02}.tif", "--disparity",
                    path(name + "/disparity_{row:02}_{col:02}.pfm"), "--max-disparity", "12",
                    imported});
        QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
        QVERIFY2(readLightfield(imported).bytes == original.bytes, "16-bit TIFF");
    }

    // A folder whose disparities reach below zero (the scene focused in its middle) is shifted
    // back: imported view (c, r) at pixel s shows what folder view (c, r) shows at s + offset ·
    // (c, r), and its disparities are the folder's plus the offset, so that views and maps agree.
    void negativeDisparitiesAreRefocused()
    {
        const Lightfield original = synthesise("focus");
        // Folder view c shows original view c shifted by 3 pixels per step the other way:
        // disparities 1 to 11 become -2 to 8.
        constexpr int shift = 3;
        const int width = original.width - shift * (original.columns - 1);
        const int height = original.height - shift * (original.rows - 1);
        const QString folder = path("focused");
        QVERIFY(QDir().mkpath(folder));
        for (int row = 0; row < original.rows; ++row) {
            for (int column = 0; column < original.columns; ++column) {
                const int left = shift * (original.columns - 1 - column);
                const int top = shift * (original.rows - 1 - row);
                copyImage(path("focus/" + viewName(column, row) + ".png"),
                          folder + "/" + viewName(column, row) + ".png", left, top, width, height);
                copyImage(path("focus/" + mapName(column, row)),
                          folder + "/" + viewName(column, row) + ".exr", left, top, width, height,
                          -float(shift));
            }
        }

        const QString imported = path("focused.lf2d");
        const ToolRun run = lf2d({"import", folder + "/view_{row:02}_{col:02}.png", "--disparity",
                                  folder + "/view_{row:02}_{col:02}.exr", imported});
        QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
        constexpr int offset = 2; // the lowest disparity, 1 - 3, rounded away from zero
        QVERIFY2(run.output.contains(QStringLiteral("shifted by %1 pixels").arg(offset)),
                 qPrintable(run.output));
        const Lightfield result = readLightfield(imported);
        QCOMPARE(result.width, width - offset * (original.columns - 1));
        QCOMPARE(result.height, height - offset * (original.rows - 1));
        QCOMPARE(result.maxDisparity, 11 - shift + offset);

        // Imported pixel s of view (c, r) is folder pixel s + 2 · (c, r), which is original
        // pixel s + 2 · (c, r) + 3 · (columns - 1 - c, rows - 1 - r).
        int mismatches = 0;
        for (int row = 0; row < result.rows; ++row) {
            for (int column = 0; column < result.columns; ++column) {
                for (int y = 0; y < result.height; ++y) {
                    for (int x = 0; x < result.width; ++x) {
                        const int ox =
                            x + offset * column + shift * (original.columns - 1 - column);
                        const int oy = y + offset * row + shift * (original.rows - 1 - row);
                        const bool colour = sameTexel(result.texel(column, row, x, y),
                                                      original.texel(column, row, ox, oy));
                        const float expected =
                            storedDisparity(original, column, row, ox, oy) - shift + offset;
                        if (!colour || storedDisparity(result, column, row, x, y) != expected)
                            ++mismatches;
                    }
                }
            }
        }
        QCOMPARE(mismatches, 0);
    }

    // One view's map, warped to every other view, matches the exact maps except where a view
    // sees what the reference view does not.
    void oneViewsDisparityIsPropagated()
    {
        const Lightfield original = synthesise("reference");
        const QString imported = path("reference-imported.lf2d");
        const ToolRun run =
            lf2d({"import", path("reference/view_{row:02}_{col:02}.png"), "--reference-disparity",
                  path("reference/" + mapName(2, 1)), "--max-disparity", "12", imported});
        QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
        const Lightfield result = readLightfield(imported);
        QCOMPARE(result.header, original.header);

        // A pixel of view v with exact disparity d is the reference view's pixel shifted by
        // d · (v − reference); the reference sees it when the exact map there holds d too.
        constexpr int referenceColumn = 2;
        constexpr int referenceRow = 1;
        int visible = 0;
        int visibleWrong = 0;
        int hidden = 0;
        int hiddenWrong = 0;
        for (int row = 0; row < result.rows; ++row) {
            for (int column = 0; column < result.columns; ++column) {
                for (int y = 0; y < result.height; ++y) {
                    for (int x = 0; x < result.width; ++x) {
                        const float exact = storedDisparity(original, column, row, x, y);
                        const bool wrong =
                            std::abs(storedDisparity(result, column, row, x, y) - exact) > 0.01f;
                        // Shifts by fractions of a pixel land between pixel centres: seen when
                        // every reference pixel around the spot holds d.
                        const double sx = x + exact * (column - referenceColumn);
                        const double sy = y + exact * (row - referenceRow);
                        bool seen = true;
                        for (const int rx : {int(std::floor(sx)), int(std::ceil(sx))}) {
                            for (const int ry : {int(std::floor(sy)), int(std::ceil(sy))}) {
                                seen = seen && rx >= 0 && rx < result.width && ry >= 0
                                    && ry < result.height
                                    && storedDisparity(original, referenceColumn, referenceRow, rx,
                                                       ry)
                                        == exact;
                            }
                        }
                        (seen ? visible : hidden) += 1;
                        (seen ? visibleWrong : hiddenWrong) += wrong;
                    }
                }
            }
        }
        const double hiddenShare = double(hidden) / (visible + hidden);
        qInfo("%.2f %% of pixels are hidden from the reference view; %.1f %% of them filled right; "
              "%d of %d visible pixels wrong",
              100.0 * hiddenShare, 100.0 * (1.0 - double(hiddenWrong) / std::max(1, hidden)),
              visibleWrong, visible);
        // Seen pixels only miss along layer edges that fall between two pixel centres after the
        // shift and are rounded to the other side than the exact map samples them.
        QVERIFY2(visibleWrong <= visible / 200, qPrintable(QString::number(visibleWrong)));
        QVERIFY2(hiddenWrong <= hidden / 2, qPrintable(QString::number(hiddenWrong)));
    }

    // Views alone give back the scene's disparity, for every view and not only the centre one:
    // on average within a fraction of a pixel, and only a few pixels off by more than half.
    void disparityIsEstimatedForEveryView_data()
    {
        QTest::addColumn<QString>("scene");
        QTest::addColumn<QString>("range");
        QTest::addColumn<double>("meanErrorBound");
        QTest::addColumn<double>("coarseShareBound");
        QTest::newRow("layers") << "layers"
                                << "0,12" << 0.15 << 0.02;
        // Poles one to three pixels wide in front of slanted surfaces.
        QTest::newRow("clutter") << "clutter"
                                 << "0,24" << 0.4 << 0.04;
        // No range given: the coarse search finds one, and the summary says which.
        QTest::newRow("clutter, range found") << "clutter"
                                              << "" << 0.4 << 0.04;
    }
    void disparityIsEstimatedForEveryView()
    {
        QFETCH(QString, scene);
        QFETCH(QString, range);
        QFETCH(double, meanErrorBound);
        QFETCH(double, coarseShareBound);
        // Views larger than the other cases' keep the window borders a small share of them.
        const QString name = "estimate-" + scene;
        const Lightfield original =
            synthesise(name, {"--width", "128", "--height", "96", "--scene", scene});
        const QString imported = path(name + "-imported.lf2d");
        QStringList arguments {"import", path(name + "/view_{row:02}_{col:02}.png"), "--estimate"};
        if (!range.isEmpty())
            arguments << "--disparity-range" << range;
        const ToolRun run = lf2d(arguments << imported);
        QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
        QVERIFY2(run.output.contains(range.isEmpty() ? "(found by a coarse search of the views)"
                                                     : "(as given)"),
                 qPrintable(run.output));
        const Lightfield result = readLightfield(imported);
        QCOMPARE(result.width, original.width);
        QVERIFY(result.hasDisparity);
        double worstViewError = 0.0;
        double totalError = 0.0;
        std::int64_t coarse = 0;
        for (int row = 0; row < result.rows; ++row) {
            for (int column = 0; column < result.columns; ++column) {
                double error = 0.0;
                for (int y = 0; y < result.height; ++y) {
                    for (int x = 0; x < result.width; ++x) {
                        const double e = std::abs(storedDisparity(result, column, row, x, y)
                                                  - storedDisparity(original, column, row, x, y));
                        error += e;
                        coarse += e > 0.5;
                    }
                }
                worstViewError = std::max(worstViewError, error / (result.width * result.height));
                totalError += error;
            }
        }
        const double pixels = double(result.width) * result.height * result.columns * result.rows;
        const double coarseShare = double(coarse) / pixels;
        const double meanError = totalError / pixels;
        qInfo("mean absolute error %.3f px, worst view's %.3f px; %.2f %% of pixels off by more "
              "than 0.5 px",
              meanError, worstViewError, 100.0 * coarseShare);
        QVERIFY2(meanError < meanErrorBound, qPrintable(QString::number(meanError)));
        QVERIFY2(coarseShare < coarseShareBound, qPrintable(QString::number(coarseShare)));
    }

    // --every 2 keeps views (0, 0), (2, 0), ... with twice the disparity per step; --crop keeps a
    // rectangle; --scale shrinks views and disparities alike.
    void everyCropAndScale()
    {
        const Lightfield original = synthesise("subset");
        const QString imported = path("subset-imported.lf2d");
        ToolRun run = lf2d({"import", path("subset/view_{row:02}_{col:02}.png"), "--disparity",
                            path("subset/disparity_{row:02}_{col:02}.pfm"), "--every", "2",
                            "--crop", "8,4,40,30", imported});
        QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
        Lightfield result = readLightfield(imported);
        QCOMPARE(result.columns, 3);
        QCOMPARE(result.rows, 2);
        QCOMPARE(result.width, 40);
        QCOMPARE(result.height, 30);
        int mismatches = 0;
        for (int row = 0; row < result.rows; ++row) {
            for (int column = 0; column < result.columns; ++column) {
                for (int y = 0; y < result.height; ++y) {
                    for (int x = 0; x < result.width; ++x) {
                        if (!sameTexel(result.texel(column, row, x, y),
                                       original.texel(2 * column, 2 * row, x + 8, y + 4))
                            || storedDisparity(result, column, row, x, y)
                                != 2 * storedDisparity(original, 2 * column, 2 * row, x + 8, y + 4))
                            ++mismatches;
                    }
                }
            }
        }
        QCOMPARE(mismatches, 0);

        run = lf2d({"import", path("subset/view_{row:02}_{col:02}.png"), "--disparity",
                    path("subset/disparity_{row:02}_{col:02}.pfm"), "--scale", "0.5", imported});
        QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
        result = readLightfield(imported);
        QCOMPARE(result.width, 32);
        QCOMPARE(result.height, 24);
        QVERIFY2(run.output.contains("disparity 0.5 to 5.5"), qPrintable(run.output));
    }

    // Each broken folder ends with a message naming the file at fault, a non-zero exit, and the
    // earlier light field at the output path untouched.
    void brokenFoldersWriteNothing_data()
    {
        QTest::addColumn<QString>("breakage");
        QTest::addColumn<QStringList>("extraArguments");
        QTest::addColumn<QString>("named");
        QTest::newRow("missing view")
            << "remove view_02_03.png" << QStringList() << "view_02_03.png\" is missing";
        QTest::newRow("smaller view")
            << "shrink view_01_01.png" << QStringList() << "view_01_01.png\" is 32 x 48 pixels";
        QTest::newRow("truncated view") << "truncate view_03_04.png" << QStringList()
                                        << "Cannot read view \"" /* then the file name */;
        QTest::newRow("no match") << "" << QStringList {"--pattern", "nothing_{row}_{col}.png"}
                                  << "No view matches";
        QTest::newRow("grid too large")
            << "" << QStringList {"--grid", "6x4"} << "view_00_05.png\" is missing";
        QTest::newRow("map of another size")
            << "shrink disparity_00_00.pfm" << QStringList {"--with-disparity"}
            << "disparity_00_00.pfm\" is 32 x 48 pixels";
        QTest::newRow("missing map")
            << "remove disparity_03_04.pfm" << QStringList {"--with-disparity"}
            << "disparity_03_04.pfm\" is missing";
        QTest::newRow("one view to estimate from")
            << "" << QStringList {"--grid", "1x1", "--estimate"}
            << "--estimate needs at least two views, and the light field holds one, \"";
    }
    void brokenFoldersWriteNothing()
    {
        QFETCH(QString, breakage);
        QFETCH(QStringList, extraArguments);
        QFETCH(QString, named);
        static int count = 0;
        const QString name = QStringLiteral("broken%1").arg(count++);
        synthesise(name);
        const QString folder = path(name);
        const QStringList words = breakage.split(' ');
        if (words[0] == "remove") {
            QVERIFY(QFile::remove(folder + "/" + words[1]));
        } else if (words[0] == "shrink") {
            copyImage(folder + "/" + words[1], folder + "/small-" + words[1], 0, 0, 32, 48);
            QVERIFY(QFile::remove(folder + "/" + words[1]));
            QVERIFY(QFile::rename(folder + "/small-" + words[1], folder + "/" + words[1]));
        } else if (words[0] == "truncate") {
            QFile file(folder + "/" + words[1]);
            QVERIFY(file.resize(file.size() / 2));
        }

        QString pattern = folder + "/view_{row:02}_{col:02}.png";
        QStringList arguments {"import"};
        for (int i = 0; i < extraArguments.size(); ++i) {
            if (extraArguments[i] == "--pattern")
                pattern = folder + "/" + extraArguments[++i];
            else if (extraArguments[i] == "--with-disparity")
                arguments << "--disparity" << folder + "/disparity_{row:02}_{col:02}.pfm";
            else
                arguments << extraArguments[i];
        }
        const QString output = path(name + "-out.lf2d");
        const QByteArray earlier("an earlier light field");
        {
            QFile file(output);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(earlier) == earlier.size());
        }
        const ToolRun run = lf2d(arguments << pattern << output);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.errors.contains(named), qPrintable(describe(run)));
        if (words[0] == "truncate")
            QVERIFY2(run.errors.contains(words[1]), qPrintable(run.errors));
        QFile file(output);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), earlier);
        QVERIFY(!QFile::exists(output + ".partial"));
    }

    // info reads the file with the viewer's reader: the disparity actually stored, the luminance
    // range of RGBE views, and the reader's own message for a file the viewer refuses.
    void infoSaysWhatTheFileHolds()
    {
        synthesise("info", {"--hdr"});
        ToolRun run = lf2d({"info", path("info.lf2d")});
        QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
        QVERIFY2(run.output.contains("Checks:     passed"), qPrintable(run.output));
        QVERIFY2(run.output.contains("Disparity:  1 to 11 pixels per view step stored, bound 12"),
                 qPrintable(run.output));
        // The scene's emitter is near 2000, its darkest shadow near 0.05: over 15 stops.
        const QRegularExpression stops("Luminance: .* over all views, ([0-9.]+) stops");
        const QRegularExpressionMatch match = stops.match(run.output);
        QVERIFY2(match.hasMatch(), qPrintable(run.output));
        QVERIFY2(match.captured(1).toDouble() > 14.0 && match.captured(1).toDouble() < 17.0,
                 qPrintable(run.output));
        QCOMPARE(run.output.count(QRegularExpression("\n  view \\d,\\d: ")), 20);

        QFile file(path("info.lf2d"));
        QVERIFY(file.resize(file.size() - 1));
        run = lf2d({"info", path("info.lf2d")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.output.contains("Checks:     failed: ") && run.output.contains("info.lf2d"),
                 qPrintable(run.output));
    }
};

QTEST_GUILESS_MAIN(ImageFolderTest)
#include "ImageFolderTest.moc"
