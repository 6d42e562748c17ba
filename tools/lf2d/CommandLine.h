#pragma once

#include <QString>

#include <cstdio>

// What every lf2d command shares: its exit statuses, how it writes to the console and how it
// reports a usage mistake.
namespace commandline {

// Usage mistakes and failures exit differently, both non-zero.
constexpr int exitUsage = 2;
constexpr int exitFailure = 1;

inline void print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// Thrown for arguments that make no sense; the command's entry point prints it with a pointer to
// --help and exits with exitUsage.
struct UsageError
{
    QString message;
};

} // namespace commandline
