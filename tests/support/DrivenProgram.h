#pragma once

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdlib>

// What a program driven through its windows by scripts/drive-viewer.sh left: the script's exit
// status (the program's, or -1 when the script hung or crashed), its report, the program's
// standard error and the directory with the screenshots.
struct DrivenRun
{
    int status = -1;
    QString output;
    QString stderrText;
    QString directory;
};

// Where and how a program is driven beyond the script's options: the command that the script
// runs under (scripts/on-fresh-display.sh, say; none by default) and variables set for it.
struct DriveSetting
{
    QStringList launcher;
    QProcessEnvironment environment;
};

// Drives program on file from workingDirectory with the script's options, leaving the screenshots
// in directory. LF_SOURCE_DIR and LF_BINARY_DIR name the source and build trees of the test that
// includes this.
inline DrivenRun driveProgram(const QString &program, const QString &file, const QString &directory,
                              const QString &workingDirectory, const QStringList &options,
                              const DriveSetting &setting = {})
{
    DrivenRun run;
    run.directory = directory;
    QProcess process;
    process.setWorkingDirectory(workingDirectory);
    process.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("SETTLE_SECONDS"), QStringLiteral("1"));
    // An installed program has no window closer beside it; the build tree's serves every run.
    environment.insert(QStringLiteral("XCLOSE"), QStringLiteral(LF_BINARY_DIR "/xclose"));
    environment.insert(setting.environment);
    process.setProcessEnvironment(environment);
    QStringList command = setting.launcher;
    command << QStringLiteral(LF_SOURCE_DIR "/scripts/drive-viewer.sh") << options << program
            << file << run.directory;
    process.start(command.takeFirst(), command);
    if (!process.waitForFinished(120000))
        process.kill();
    run.output = QString::fromLocal8Bit(process.readAll());
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    QFile log(run.directory + QStringLiteral("/stderr.log"));
    if (log.open(QIODevice::ReadOnly))
        run.stderrText = QString::fromLocal8Bit(log.readAll());
    return run;
}

// A screenshot or reference picture as 32-bit RGB.
inline QImage loadPicture(const QString &path)
{
    return QImage(path).convertToFormat(QImage::Format_RGB32);
}

// Over every colour channel, in levels; pictures of different sizes differ entirely.
inline double meanAbsoluteDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 255.0;
    double sum = 0.0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q))
                + std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * a.width() * a.height());
}
