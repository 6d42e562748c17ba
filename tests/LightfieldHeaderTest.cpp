#include "lightfield/LightfieldHeader.h"

#include <QtTest>

#include <sstream>

// Header parsing and checking against the file's size, without a GL context.
class LightfieldHeaderTest : public QObject
{
    Q_OBJECT

private:
    static LightfieldHeader parse(const std::string &file, std::int64_t size = -1)
    {
        std::istringstream stream(file);
        return readLightfieldHeader(stream, size < 0 ? std::int64_t(file.size()) : size,
                                    "/data/scene.lf2d");
    }

    static QString errorOf(const std::string &file, std::int64_t size = -1)
    {
        try {
            parse(file, size);
        } catch (const std::string &message) {
            return QString::fromStdString(message);
        }
        return QString();
    }

private slots:
    void wellFormedHeader()
    {
        const std::string file = "4 3 6 3 10 0 0 0 04\n" + std::string(6 * 48, 'x');
        const LightfieldHeader header = parse(file);
        QCOMPARE(header.width, 4);
        QCOMPARE(header.height, 3);
        QCOMPARE(header.viewCount, 6);
        QCOMPARE(header.columns, 3);
        QCOMPARE(header.rows, 2);
        QCOMPARE(header.viewSpacing, 10);
        QCOMPARE(header.maxDisparity, 4); // "04": decimal, not octal
        QCOMPARE(header.isHdr, false);
        QCOMPARE(header.hasDisparity, false);
        QCOMPARE(header.viewBytes, std::int64_t(48));
        QCOMPARE(header.dataOffset, std::int64_t(20));
        QCOMPARE(header.gridBytes(), std::int64_t(6 * 48));
    }

    void formattedExtraction_data()
    {
        QTest::addColumn<QString>("header");
        QTest::addColumn<int>("dataOffset");
        QTest::addColumn<int>("reservedValue");
        QTest::newRow("tabs and newlines between values")
            << QStringLiteral("4\t3\n6 3 10 0 1 1 04\n") << 20 << 0;
        QTest::newRow("leading whitespace and signs")
            << QStringLiteral("  +4 3 6 3 10 -7 0 0 04\n") << 24 << -7;
        // The separator is whatever single byte follows the last digit.
        QTest::newRow("any separator byte") << QStringLiteral("4 3 6 3 10 0 0 0 04X") << 20 << 0;
        QTest::newRow("crlf leaves the line feed as data")
            << QStringLiteral("4 3 6 3 10 0 0 0 04\r\n") << 20 << 0;
    }

    void formattedExtraction()
    {
        QFETCH(QString, header);
        QFETCH(int, dataOffset);
        QFETCH(int, reservedValue);
        const std::string text = header.toStdString();
        const LightfieldHeader parsed = parse(text + std::string(2 * 6 * 48, 'x'));
        QCOMPARE(parsed.dataOffset, std::int64_t(dataOffset));
        QCOMPARE(parsed.reservedValue, reservedValue);
        QCOMPARE(parsed.width, 4);
        QCOMPARE(parsed.rows, 2);
    }

    void extraViewsAreIgnored()
    {
        // 7 views in rows of 3: two full rows, the seventh view is never part of the grid.
        const LightfieldHeader header = parse("4 3 7 3 10 0 0 0 04\n" + std::string(6 * 48, 'x'));
        QCOMPARE(header.rows, 2);
        QCOMPARE(header.gridBytes(), std::int64_t(6 * 48));
    }

    void flags()
    {
        const std::string data(2 * 6 * 48, 'x');
        const LightfieldHeader hdr = parse("4 3 6 3 10 0 1 0 04\n" + data);
        QVERIFY(hdr.isHdr);
        QVERIFY(!hdr.hasDisparity);
        const LightfieldHeader disparity = parse("4 3 6 3 10 0 0 1 04\n" + data);
        QVERIFY(disparity.hasDisparity);
        QCOMPARE(disparity.imagesPerView(), 2);
        QCOMPARE(disparity.gridBytes(), std::int64_t(2 * 6 * 48));
    }

    void badHeaders_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("message");
        const QString data = QString(600, QLatin1Char('x'));
        const QString prefix =
            QStringLiteral("Lightfield file \"/data/scene.lf2d\" is not a valid .lf2d file: ");
        QTest::newRow("empty file") << QString() << prefix + "the header ends before 'width'";
        QTest::newRow("text instead of a number") << "4 three 6 3 10 0 0 0 16\n"
                + data << prefix + "header value 'height' is not a 32-bit integer";
        QTest::newRow("number beyond 32 bits") << "4 3 6 3 99999999999 0 0 0 04\n"
                + data << prefix + "header value 'viewSpacing' is not a 32-bit integer";
        QTest::newRow("flag written as a word")
            << "4 3 6 3 10 0 true 0 04\n" + data << prefix + "header flag 'isHdr' must be 0 or 1";
        QTest::newRow("flag out of range") << "4 3 6 3 10 0 0 2 04\n" + data
                                           << prefix + "header flag 'hasDisparity' must be 0 or 1";
        QTest::newRow("header cut short")
            << QStringLiteral("4 3 6 3 10 0 0") << prefix + "the header ends before 'hasDisparity'";
        QTest::newRow("no separator byte")
            << QStringLiteral("4 3 6 3 10 0 0 0 16")
            << prefix + "the header ends without the separator byte after 'maxDisparity'";
        QTest::newRow("zero width")
            << "0 3 6 3 10 0 0 0 03\n" + data << prefix + "'width' must be at least 1, found 0";
        QTest::newRow("negative height")
            << "4 -3 6 3 10 0 0 0 16\n" + data << prefix + "'height' must be at least 1, found -3";
        QTest::newRow("zero columns")
            << "4 3 6 0 10 0 0 0 04\n" + data << prefix + "'columns' must be at least 1, found 0";
        QTest::newRow("fewer views than columns")
            << "4 3 2 3 10 0 0 0 04\n" + data
            << prefix + "'viewCount' (2) is smaller than 'columns' (3), so the grid has no row";
        QTest::newRow("zero view spacing") << "4 3 6 3 0 0 0 0 04\n" + data
                                           << prefix + "'viewSpacing' must be at least 1, found 0";
        QTest::newRow("negative disparity bound") << "4 3 6 3 10 0 0 0 -1\n"
                + data << prefix + "'maxDisparity' must be at least 0, found -1";
        QTest::newRow("disparity bound beyond the view")
            << "4 3 6 3 10 0 0 0 5\n" + data
            << prefix + "'maxDisparity' (5) is larger than the views' larger side (4 pixels)";
        QTest::newRow("disparity bound at the 32-bit limit")
            << "4 3 6 3 10 0 0 0 2147483647\n" + data
            << prefix
                + "'maxDisparity' (2147483647) is larger than the views' larger side (4 "
                  "pixels)";
        QTest::newRow("views too large for one upload")
            << "70000 70000 1 1 10 0 0 0 16\n" + data
            << prefix + "views of 70000 x 70000 pixels are too large (at most 2 GiB per image)";
        QTest::newRow("truncated") << "4 3 6 3 10 0 0 0 04\n" + QString(200, QLatin1Char('x'))
                                   << QStringLiteral("Lightfield file \"/data/scene.lf2d\" is "
                                                     "truncated: 6 views of 48 bytes expected, "
                                                     "200 bytes found");
        QTest::newRow("truncated with disparity")
            << "4 3 6 3 10 0 0 1 04\n" + QString(400, QLatin1Char('x'))
            << QStringLiteral("Lightfield file \"/data/scene.lf2d\" is truncated: 12 images of 48 "
                              "bytes expected (6 views and their disparity maps), 400 bytes found");
    }

    void badHeaders()
    {
        QFETCH(QString, file);
        QFETCH(QString, message);
        QCOMPARE(errorOf(file.toStdString()), message);
    }

    void sizesDoNotOverflow()
    {
        // 46341² × 4 bytes overflows 32 bits; the check must see the true size, not a wrapped one.
        const QString error = errorOf("46341 46341 1 1 1 0 0 0 0\n", 100);
        QVERIFY2(error.contains(QStringLiteral("too large")), qPrintable(error));
        // The largest grid with the largest image (16384 × 32767 × 4 bytes) stays representable
        // and is judged truncated.
        const QString truncated = errorOf("16384 32767 2147483647 1 1 0 0 1 0\n", 100);
        QVERIFY2(truncated.contains(QStringLiteral("is truncated: 4294967294 images of "
                                                   "2147418112 bytes expected")),
                 qPrintable(truncated));
    }
};

QTEST_GUILESS_MAIN(LightfieldHeaderTest)
#include "LightfieldHeaderTest.moc"
