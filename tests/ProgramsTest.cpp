#include "Lf2dWriter.h"
#include "SyntheticScene.h"
#include "deliverables/BuildConfiguration.h"
#include "support/LightfieldFiles.h"

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The shipped programs, started as a user starts them and driven through their windows on the
// display with scripts/drive-viewer.sh: every build shows an 8-bit light field the same way,
// closing the viewer ends the program with status 0, and a bad file ends it with its message
// on standard error and a non-zero status, never with a crash.
class ProgramsTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_directory;
    QString m_grid;
    QImage m_firstView;

    struct Run
    {
        int status = -1;
        QString stderrText;
        QString output;
        QString directory;
    };

    Run drive(const QString &program, const QString &file, const QString &name,
              const QStringList &options = {})
    {
        Run run;
        run.directory = m_directory.filePath(name);
        QProcess process;
        process.setWorkingDirectory(QStringLiteral(LF_SOURCE_DIR));
        process.setProcessChannelMode(QProcess::MergedChannels);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("SETTLE_SECONDS"), QStringLiteral("1"));
        process.setProcessEnvironment(environment);
        process.start(
            QStringLiteral(LF_SOURCE_DIR "/scripts/drive-viewer.sh"),
            options
                + QStringList {QStringLiteral(LF_BINARY_DIR "/") + program, file, run.directory});
        if (!process.waitForFinished(120000))
            process.kill();
        run.output = QString::fromLocal8Bit(process.readAll());
        run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        QFile log(run.directory + QStringLiteral("/stderr.log"));
        if (log.open(QIODevice::ReadOnly))
            run.stderrText = QString::fromLocal8Bit(log.readAll());
        return run;
    }

    QString write(const QString &name, const QByteArray &content)
    {
        return writeTestFile(m_directory, name, content);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_directory.isValid());
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
    }

    void everyProgramShowsTheLightField_data()
    {
        QTest::addColumn<QString>("program");
        for (const BuildConfiguration &configuration : buildConfigurations()) {
            const QString name = QString::fromStdString(configuration.name);
            QTest::newRow(qPrintable(name)) << name;
        }
    }

    void everyProgramShowsTheLightField()
    {
        QFETCH(QString, program);
        const Run run = drive(program, m_grid, program);
        QVERIFY2(run.status == 0, qPrintable(run.output + run.stderrText));
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
        const Run run =
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
            << "4 3 6 3 10 0 yes 0 16\n" + data << invalid + "header flag 'isHdr' must be 0 or 1";
        QTest::newRow("no columns")
            << "columns.lf2d"
            << "4 3 6 0 10 0 0 0 16\n" + data << invalid + "'columns' must be at least 1, found 0";
        QTest::newRow("no row") << "rows.lf2d"
                                << "4 3 2 3 10 0 0 0 16\n" + data
                                << invalid
                + "'viewCount' (2) is smaller than 'columns' (3), so the "
                  "grid has no row";
        QTest::newRow("zero spacing") << "spacing.lf2d"
                                      << "4 3 6 3 0 0 0 0 16\n" + data
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
                                   << "4 3 6 3 10 0 0 0 16\n" + data.left(200)
                                   << QStringLiteral(" is truncated: 6 views of 48 bytes expected, "
                                                     "200 bytes found");
        QTest::newRow("RGBE in a build without RGBE stages")
            << "rgbe.lf2d"
            << "4 3 1 1 10 0 1 0 16\n" + data.left(48)
            << QStringLiteral("viewer-interp-reinhard05 cannot show RGBE light fields yet: ");
    }

    void badFilesEndWithTheirMessage()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        const QString path = write(name, content);
        const Run run = drive(QStringLiteral("viewer-interp-reinhard05"), path, name + "-run",
                              {QStringLiteral("--expect-error")});
        // Status 1 is the program's own; a crash would end it by a signal.
        QVERIFY2(run.status == 1, qPrintable(run.output + run.stderrText));
        const QString expected = message.startsWith(' ')
            ? QStringLiteral("Lightfield file \"%1\"").arg(path) + message
            : message + QStringLiteral("\"%1\" holds RGBE views").arg(path);
        QVERIFY2(
            run.stderrText.contains(expected + '\n'),
            qPrintable(QStringLiteral("expected on stderr: %1\n%2").arg(expected, run.output)));
        QVERIFY(QFile::exists(run.directory + QStringLiteral("/error-dialog.png")));
    }
};

// A GUI application: its connection keeps the X server from resetting between the programs,
// which would refuse the next one's connection.
QTEST_MAIN(ProgramsTest)
#include "ProgramsTest.moc"
