#include "CommandLine.h"
#include "Commands.h"
#include "ImageFolder.h"

namespace {

const char exportDescription[] =
    "Writes every view of a .lf2d light field into DIR exactly as stored: 8-bit views as PNG,\n"
    "RGBE views as 32-bit float OpenEXR, disparity maps as PFM, named view_RR_CC and\n"
    "disparity_RR_CC (row and column from 0). 'lf2d import' reads the folder back.\n"
    "\n"
    "Exit status: 0 on success, 2 for invalid arguments, 1 when the light field cannot be read\n"
    "or a file cannot be written.";

} // namespace

int runExport(const QStringList &arguments)
{
    commandline::CommandParser parser("export", "Usage: lf2d export FILE.lf2d DIR",
                                      exportDescription,
                                      QCommandLineParser::ParseAsCompactedShortOptions);
    parser.addPositionalArgument("FILE", "The .lf2d light field to read.", "FILE.lf2d");
    parser.addPositionalArgument("DIR", "The folder to write the images into.");
    if (!parser.parse(arguments))
        return 0;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2)
        throw commandline::UsageError {"expected FILE.lf2d and DIR"};
    const folder::ExportSummary summary =
        folder::exportLightfield(positional.at(0).toStdString(), positional.at(1).toStdString());
    QString text = QString("Wrote %1 views into %2\n  views: %3\n")
                       .arg(summary.viewCount)
                       .arg(positional.at(1))
                       .arg(QString::fromStdString(summary.views));
    if (!summary.disparities.empty())
        text += "  disparity maps: " + QString::fromStdString(summary.disparities) + "\n";
    commandline::print(stdout, text);
    return 0;
}
