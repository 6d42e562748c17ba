#include "Lf2dWriter.h"
#include "SyntheticScene.h"
#include "support/DrivenProgram.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>
#include <vector>

namespace {

// Runs per case: a fault that strikes one run in ten or twenty still shows in almost every
// test run.
constexpr int runCount = 30;

// Two processes that keep both cores of a small machine busy for as long as they live, as a
// user's other work does.
class BusyProcesses
{
public:
    BusyProcesses()
    {
        for (int i = 0; i < 2; ++i) {
            auto process = std::make_unique<QProcess>();
            process->start(QStringLiteral("/bin/sh"),
                           {QStringLiteral("-c"),
                            // Ends with the test, also when the test is killed.
                            QStringLiteral("while kill -0 $PPID 2>/dev/null; do :; done")});
            if (!process->waitForStarted())
                qFatal("cannot start a busy process");
            m_processes.push_back(std::move(process));
        }
    }
    ~BusyProcesses()
    {
        for (auto &process : m_processes) {
            process->kill();
            process->waitForFinished();
        }
    }

private:
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

// The camera positions of the frames a program drew, in the order it drew them, from the line the
// camera logs every frame.
QList<QPointF> framePositions(const QString &log)
{
    static const QRegularExpression line(
        QStringLiteral("positionX: (-?[0-9.e+-]+)\\s+positionY: (-?[0-9.e+-]+)"));
    QList<QPointF> positions;
    for (auto match = line.globalMatch(log); match.hasNext();) {
        const QRegularExpressionMatch found = match.next();
        positions << QPointF(found.captured(1).toDouble(), found.captured(2).toDouble());
    }
    return positions;
}

// The count that drive-viewer.sh reports on the line that begins with `what`, or -1.
int reportedCount(const QString &output, const QString &what)
{
    const QRegularExpression line(
        QStringLiteral("\\[drive-viewer\\] %1: (\\d+)").arg(QRegularExpression::escape(what)));
    const QRegularExpressionMatch match = line.match(output);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

} // namespace

// The shipped programs as a user meets them: each run on an X server of its own that nothing else
// uses and that resets when its last client leaves, the light field opened through the selector,
// two busy processes loading the CPU. Every close request and drag reaches the program, and a
// picture that does not change is not drawn again.
class InputDeliveryTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_directory;
    QString m_ldr; // 9 × 9 views of 384 × 384, 8-bit, with disparity
    QString m_rgbe; // the same scene as RGBE

    QString writeScene(const QString &name, bool hdr)
    {
        synth::SceneOptions options;
        options.width = options.height = 384;
        options.hdr = hdr;
        const QString path = m_directory.filePath(name);
        synth::writeLightfield(synth::SyntheticScene(options), path.toStdString());
        return path;
    }

    DrivenRun drive(const QString &program, const QString &file, const QString &name,
                    const QStringList &options)
    {
        DriveSetting setting;
        setting.launcher =
            QStringList {QStringLiteral(LF_SOURCE_DIR "/scripts/on-fresh-display.sh")};
        // The first picture has been on the screen for 2 s when the script goes on.
        setting.environment.insert(QStringLiteral("SETTLE_SECONDS"), QStringLiteral("2"));
        setting.environment.insert(QStringLiteral("QT_LOGGING_RULES"),
                                   QStringLiteral("default.debug=true"));
        return driveProgram(QStringLiteral(LF_BINARY_DIR "/") + program, file,
                            m_directory.filePath(name), QStringLiteral(LF_SOURCE_DIR), options,
                            setting);
    }

    // Drives viewer-curve on the 8-bit file runCount times with the script's options, while two
    // busy processes run, and says for each run that whyFailed finds fault with what it found.
    QStringList failedRuns(const QString &name, const QStringList &options,
                           const std::function<QString(const DrivenRun &)> &whyFailed)
    {
        const BusyProcesses busy;
        QStringList failed;
        for (int run = 1; run <= runCount; ++run) {
            const QString why =
                whyFailed(drive(QStringLiteral("viewer-curve"), m_ldr,
                                QStringLiteral("%1-%2").arg(name).arg(run), options));
            if (!why.isEmpty())
                failed << QStringLiteral("run %1: %2").arg(run).arg(why);
        }
        return failed;
    }

    static QString failures(const QStringList &failed)
    {
        return QStringLiteral("%1 of %2 runs failed:\n%3")
            .arg(failed.size())
            .arg(runCount)
            .arg(failed.join(QStringLiteral("\n")));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_directory.isValid());
        m_ldr = writeScene(QStringLiteral("layers.lf2d"), false);
        m_rgbe = writeScene(QStringLiteral("layers-rgbe.lf2d"), true);
    }

    // One close request, 2 s after the first picture, ends the program within 2 s.
    void oneCloseRequestEndsTheProgram()
    {
        const QStringList failed = failedRuns(
            QStringLiteral("close"), {QStringLiteral("--close-within"), QStringLiteral("2")},
            [](const DrivenRun &driven) { return driven.status == 0 ? QString() : driven.output; });
        QVERIFY2(failed.isEmpty(), qPrintable(failures(failed)));
    }

    // A drag 2 s after the first picture moves the camera, and the window shows it.
    void dragMovesTheCamera()
    {
        const QStringList failed =
            failedRuns(QStringLiteral("drag"), {QStringLiteral("--drag"), QStringLiteral("40,20")},
                       [](const DrivenRun &driven) {
                           const QList<QPointF> positions = framePositions(driven.stderrText);
                           // 40 and 20 window pixels at 20 a view, from position (1, 1) in drag
                           // pixels.
                           const QPointF dragged(41.0 / 20.0, 21.0 / 20.0);
                           if (driven.status == 0 && !positions.isEmpty()
                               && positions.first() == QPointF(1.0 / 20.0, 1.0 / 20.0)
                               && positions.last() == dragged) {
                               return QString();
                           }
                           return QStringLiteral("status %1, %2 frames, last at (%3, %4)\n%5")
                               .arg(driven.status)
                               .arg(positions.size())
                               .arg(positions.isEmpty() ? 0.0 : positions.last().x())
                               .arg(positions.isEmpty() ? 0.0 : positions.last().y())
                               .arg(driven.output);
                       });
        QVERIFY2(failed.isEmpty(), qPrintable(failures(failed)));
    }

    void drawsOnlyWhenThePictureChanges_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("hdr");
        QTest::newRow("8-bit with disparity") << "viewer-curve" << false;
        // Its picture adapts for a while after a drag; then it stands still too.
        QTest::newRow("RGBE, adapting over time") << "viewer-reinhard05" << true;
    }

    // Left alone after the first picture, and again after a drag once the picture has settled, a
    // program draws no frame; the drag itself draws.
    void drawsOnlyWhenThePictureChanges()
    {
        QFETCH(QString, program);
        QFETCH(bool, hdr);
        const BusyProcesses busy;
        const DrivenRun driven =
            drive(program, hdr ? m_rgbe : m_ldr, QStringLiteral("frames-%1").arg(program),
                  {QStringLiteral("--count-frames"), QStringLiteral("2"), QStringLiteral("--drag"),
                   QStringLiteral("40,20")});
        QVERIFY2(driven.status == 0, qPrintable(driven.output));
        QCOMPARE(
            reportedCount(driven.output,
                          QStringLiteral("frames drawn without input after the first picture")),
            0);
        QVERIFY2(reportedCount(driven.output, QStringLiteral("frames drawn for drag 1")) > 0,
                 qPrintable(driven.output));
        QCOMPARE(
            reportedCount(driven.output, QStringLiteral("frames drawn without input after drag 1")),
            0);
    }
};

QTEST_GUILESS_MAIN(InputDeliveryTest)
#include "InputDeliveryTest.moc"
