#include "CommandLine.h"
#include "Commands.h"
#include "LightfieldInfo.h"

namespace {

const char infoDescription[] =
    "Reads a .lf2d light field with the viewer's own reader and prints its header, whether it\n"
    "passes every check of the reader (with the reader's message if not), the disparity range\n"
    "actually stored, and for RGBE files the luminance range and the dynamic range in stops of\n"
    "every view.\n"
    "\n"
    "Exit status: 0 when the viewer can read the file, 1 when it cannot, 2 for invalid\n"
    "arguments.";

} // namespace

int runInfo(const QStringList &arguments)
{
    commandline::CommandParser parser("info", "Usage: lf2d info FILE.lf2d", infoDescription,
                                      QCommandLineParser::ParseAsCompactedShortOptions);
    parser.addPositionalArgument("FILE", "The .lf2d light field to check.", "FILE.lf2d");
    if (!parser.parse(arguments))
        return 0;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        throw commandline::UsageError {"expected one FILE.lf2d"};
    const info::LightfieldInfo found = info::inspectLightfield(positional.at(0).toStdString());
    commandline::print(stdout, QString::fromStdString(info::describe(found)));
    return found.valid ? 0 : commandline::exitFailure;
}
