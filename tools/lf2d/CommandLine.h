#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>

#include <cstdio>
#include <functional>

// What every lf2d command shares: its exit statuses, how it writes to the console, how it parses
// its arguments and how it reports a usage mistake.
namespace commandline {

// Usage mistakes and failures exit differently, both non-zero.
constexpr int exitUsage = 2;
constexpr int exitFailure = 1;

// Generous bounds that still keep a view within what the viewer can load as one image.
constexpr int maxViewSide = 8192;
constexpr int maxGridSide = 1024;
constexpr int maxViewSpacing = 100000;

inline void print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// Thrown for arguments that make no sense; runCommand prints it with a pointer to --help and
// exits with exitUsage.
struct UsageError
{
    QString message;
};

// Runs a command and turns what it throws into its message on stderr, "lf2d COMMAND: " first, and
// its exit status: exitUsage for a UsageError, exitFailure for any other std::exception.
int runCommand(const QString &command, const std::function<int()> &body);

// A command's parser, whose help starts with the command's own usage line, then its description,
// then --help and the command's options in the order they were added.
class CommandParser
{
public:
    CommandParser(const QString &command, const QString &usage, const QString &description,
                  QCommandLineParser::SingleDashWordOptionMode singleDashWords =
                      QCommandLineParser::ParseAsLongOptions);

    void addOptions(const QList<QCommandLineOption> &options);
    void addPositionalArgument(const QString &name, const QString &description,
                               const QString &syntax = QString());

    // Parses the arguments that follow the command's name. Prints the help and returns false
    // when --help is among them; throws UsageError for an unknown option or a missing value.
    bool parse(const QStringList &arguments);

    bool isSet(const QCommandLineOption &option) const { return m_parser.isSet(option); }
    QString value(const QCommandLineOption &option) const { return m_parser.value(option); }
    QStringList values(const QCommandLineOption &option) const { return m_parser.values(option); }
    QStringList positionalArguments() const { return m_parser.positionalArguments(); }

    // The option's value as an integer from minimum to maximum; throws UsageError otherwise.
    int integer(const QCommandLineOption &option, int minimum, int maximum) const;

private:
    void printHelp() const;

    QString m_command;
    QString m_usage;
    QCommandLineParser m_parser;
    QCommandLineOption m_help;
};

// Options that mean the same in several commands.
QCommandLineOption gridColumnsOption(int defaultColumns);
QCommandLineOption gridRowsOption(int defaultRows);
// byDefault completes "(...)" after the range, as in "default 256"; value is the default value.
QCommandLineOption viewWidthOption(const QString &byDefault, const QString &value = QString());
QCommandLineOption viewHeightOption(const QString &byDefault, const QString &value = QString());
QCommandLineOption viewSpacingOption();
QCommandLineOption noDisparityOption();

} // namespace commandline
