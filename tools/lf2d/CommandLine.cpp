#include "CommandLine.h"

#include <QCoreApplication>

#include <exception>
#include <memory>

namespace commandline {

int runCommand(const QString &command, const std::function<int()> &body)
{
    const QString prefix = "lf2d " + command + ": ";
    try {
        return body();
    } catch (const UsageError &error) {
        print(stderr,
              prefix + error.message + "\nRun 'lf2d " + command + " --help' for the options.\n");
        return exitUsage;
    } catch (const std::exception &error) {
        print(stderr, prefix + error.what() + "\n");
        return exitFailure;
    }
}

CommandParser::CommandParser(const QString &command, const QString &usage,
                             const QString &description,
                             QCommandLineParser::SingleDashWordOptionMode singleDashWords)
    : m_command(command)
    , m_usage(usage)
    , m_help({"h", "help"}, "Show this help and exit.")
{
    m_parser.setApplicationDescription(description);
    m_parser.setSingleDashWordOptionMode(singleDashWords);
    m_parser.addOption(m_help);
}

void CommandParser::addOptions(const QList<QCommandLineOption> &options)
{
    m_parser.addOptions(options);
}

void CommandParser::addPositionalArgument(const QString &name, const QString &description,
                                          const QString &syntax)
{
    m_parser.addPositionalArgument(name, description, syntax);
}

bool CommandParser::parse(const QStringList &arguments)
{
    if (!m_parser.parse(QStringList {"lf2d " + m_command} + arguments))
        throw UsageError {m_parser.errorText()};
    if (m_parser.isSet(m_help)) {
        printHelp();
        return false;
    }
    return true;
}

int CommandParser::integer(const QCommandLineOption &option, int minimum, int maximum) const
{
    const QString name = "--" + option.names().constFirst();
    const QString text = m_parser.value(option);
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok)
        throw UsageError {name + ": '" + text + "' is not an integer"};
    if (value < minimum || value > maximum) {
        throw UsageError {QString("%1 must be between %2 and %3, not %4")
                              .arg(name)
                              .arg(minimum)
                              .arg(maximum)
                              .arg(value)};
    }
    return value;
}

void CommandParser::printHelp() const
{
    // Qt's help text starts with the program's path, which it takes from the application object;
    // the command's usage line replaces it. render parses before it makes the application object
    // it draws with, which needs a display: a stand-in serves then.
    int argc = 1;
    char name[] = "lf2d";
    char *argv[] = {name, nullptr};
    std::unique_ptr<QCoreApplication> standIn;
    if (!QCoreApplication::instance())
        standIn = std::make_unique<QCoreApplication>(argc, argv);
    QString text = m_parser.helpText();
    text.replace(0, text.indexOf('\n'), m_usage);
    print(stdout, text);
}

QCommandLineOption gridColumnsOption(int defaultColumns)
{
    return QCommandLineOption(
        "columns",
        QString("Views per grid row, 1 to %1 (default %2).").arg(maxGridSide).arg(defaultColumns),
        "N", QString::number(defaultColumns));
}

QCommandLineOption gridRowsOption(int defaultRows)
{
    return QCommandLineOption(
        "rows",
        QString("Grid rows of views, 1 to %1 (default %2).").arg(maxGridSide).arg(defaultRows), "N",
        QString::number(defaultRows));
}

QCommandLineOption viewWidthOption(const QString &byDefault, const QString &value)
{
    return QCommandLineOption(
        "width", QString("Pixels per view row, 1 to %1 (%2).").arg(maxViewSide).arg(byDefault), "W",
        value);
}

QCommandLineOption viewHeightOption(const QString &byDefault, const QString &value)
{
    return QCommandLineOption(
        "height", QString("Pixel rows per view, 1 to %1 (%2).").arg(maxViewSide).arg(byDefault),
        "H", value);
}

QCommandLineOption viewSpacingOption()
{
    return QCommandLineOption("view-spacing",
                              QString("Window pixels of drag between neighbouring views, for the "
                                      "header, 1 to %1 (default 20).")
                                  .arg(maxViewSpacing),
                              "S", "20");
}

QCommandLineOption noDisparityOption()
{
    return QCommandLineOption("no-disparity", "Store no disparity maps.");
}

} // namespace commandline
