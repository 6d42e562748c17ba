#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// What a run of a command-line tool left: its exit code (-1 when it crashed or hung) and output.
struct ToolRun
{
    int exitCode = -1;
    QString output;
    QString errors;
};

// Runs the tool at path with the arguments and waits for it, at most timeoutSeconds.
inline ToolRun runTool(const QString &path, const QStringList &arguments, int timeoutSeconds = 60)
{
    QProcess process;
    process.start(path, arguments);
    ToolRun run;
    if (!process.waitForFinished(timeoutSeconds * 1000)
        || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        run.errors = QStringLiteral("%1 did not finish within %2 s").arg(path).arg(timeoutSeconds);
        return run;
    }
    run.exitCode = process.exitCode();
    run.output = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.errors = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}
