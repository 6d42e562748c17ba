#include "CommandLine.h"
#include "Commands.h"
#include "PhotoLightfield.h"

namespace {

using commandline::CommandParser;
using commandline::print;
using commandline::UsageError;

constexpr int maxStep = 1024;

const char photoDescription[] =
    "Writes a .lf2d light field whose views are crops of one photograph: the view at column c,\n"
    "row r (row 0 at the top) starts c x STEP pixels right of and r x STEP pixels below the view\n"
    "at column 0, row 0. The grid looks like a flat scene at disparity STEP, and every view sees "
    "a\n"
    "slightly different part of the photograph. Disparity maps hold STEP everywhere; the\n"
    "header's maxDisparity is STEP.\n"
    "\n"
    "The grid spans (W + (columns - 1) x STEP) x (H + (rows - 1) x STEP) pixels. A photograph\n"
    "more than a quarter larger than that is first shrunk, keeping its aspect ratio, until the\n"
    "grid spans it along one side; otherwise the grid is centred on it. Photographs are never\n"
    "enlarged. A view side left out is the largest that fits, at most 512.\n"
    "\n"
    "Photographs with floating-point pixels (OpenEXR, Radiance .hdr, ...) give RGBE light fields\n"
    "of their linear values, negative values read as 0. Others (PNG, JPEG, ...) give 8-bit light\n"
    "fields of their colours. The first three channels are red, green and blue; a photograph\n"
    "with fewer channels is grey.\n"
    "\n"
    "Exit status: 0 on success, 2 for invalid arguments, 1 when the photograph cannot be read or\n"
    "is too small, or the light field cannot be written.";

void printSummary(const QString &image, const QString &output, const photo::PhotoOptions &options,
                  const photo::PhotoSummary &summary)
{
    const photo::PhotoPlan &plan = summary.plan;
    const bool shrunk =
        plan.scaledWidth != summary.photoWidth || plan.scaledHeight != summary.photoHeight;
    print(stdout,
          QString("Wrote %1: %2 x %3 views of %4 x %5 pixels, %6%7, from %8 (%9 x %10%11)\n")
              .arg(output)
              .arg(options.columns)
              .arg(options.rows)
              .arg(plan.viewWidth)
              .arg(plan.viewHeight)
              .arg(summary.hdr ? "RGBE" : "8-bit")
              .arg(options.disparity ? QString(", disparity %1").arg(options.step) : QString())
              .arg(image)
              .arg(summary.photoWidth)
              .arg(summary.photoHeight)
              .arg(shrunk
                       ? QString(", shrunk to %1 x %2").arg(plan.scaledWidth).arg(plan.scaledHeight)
                       : QString()));
}

} // namespace

int runPhoto(const QStringList &arguments)
{
    CommandParser parser("photo", "Usage: lf2d photo [options] IMAGE OUTPUT.lf2d",
                         photoDescription);
    const QCommandLineOption columnsOption = commandline::gridColumnsOption(5);
    const QCommandLineOption rowsOption = commandline::gridRowsOption(5);
    const QCommandLineOption widthOption =
        commandline::viewWidthOption("default: the largest that fits, at most 512");
    const QCommandLineOption heightOption =
        commandline::viewHeightOption("default: the largest that fits, at most 512");
    const QCommandLineOption stepOption(
        "step",
        "Pixels the crop moves per view step, the disparity of every pixel, 0 to 1024 (default 8).",
        "STEP", "8");
    const QCommandLineOption spacingOption = commandline::viewSpacingOption();
    const QCommandLineOption noDisparityOption = commandline::noDisparityOption();
    parser.addOptions({columnsOption, rowsOption, widthOption, heightOption, stepOption,
                       spacingOption, noDisparityOption});
    parser.addPositionalArgument("IMAGE", "The photograph to read.");
    parser.addPositionalArgument("OUTPUT", "The .lf2d file to write.", "OUTPUT.lf2d");
    if (!parser.parse(arguments))
        return 0;

    photo::PhotoOptions options;
    options.columns = parser.integer(columnsOption, 1, commandline::maxGridSide);
    options.rows = parser.integer(rowsOption, 1, commandline::maxGridSide);
    if (parser.isSet(widthOption))
        options.width = parser.integer(widthOption, 1, commandline::maxViewSide);
    if (parser.isSet(heightOption))
        options.height = parser.integer(heightOption, 1, commandline::maxViewSide);
    options.step = parser.integer(stepOption, 0, maxStep);
    options.viewSpacing = parser.integer(spacingOption, 1, commandline::maxViewSpacing);
    options.disparity = !parser.isSet(noDisparityOption);

    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2) {
        throw UsageError {QString("expected IMAGE and OUTPUT.lf2d, found %1 argument(s)%2")
                              .arg(positional.size())
                              .arg(positional.isEmpty() ? "" : ": " + positional.join(' '))};
    }
    const QString image = positional.at(0);
    const QString output = positional.at(1);
    const photo::PhotoSummary summary =
        photo::writePhotoLightfield(image.toStdString(), output.toStdString(), options);
    printSummary(image, output, options, summary);
    return 0;
}
