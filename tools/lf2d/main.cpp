// lf2d: makes, inspects and converts light fields: synthetic ones whose views and disparities are
// known exactly (with exact views at any camera position between the stored ones), ones cut from
// a photograph, and ones imported from folders of per-view images.

#include "CommandLine.h"
#include "Commands.h"

#include <QCoreApplication>

#include <functional>
#include <map>

namespace {

const char generalUsage[] = "Usage: lf2d COMMAND [options]\n"
                            "\n"
                            "Commands:\n"
                            "  synth    Write a synthetic light field and/or exact views of it.\n"
                            "  photo    Write a light field of crops of a photograph.\n"
                            "  import   Write a light field from a folder of per-view images.\n"
                            "  export   Write every view of a light field as an image file.\n"
                            "  info     Check a light field and say what it holds.\n"
                            "  render   Write the picture a viewer program shows at a camera\n"
                            "           position, or along a path, as PNG without a window.\n"
                            "\n"
                            "Run 'lf2d COMMAND --help' for the options of a command.\n";

} // namespace

int main(int argc, char **argv)
{
    // Only render draws; it makes the application object drawing needs once its arguments and
    // file are checked, so that those need no display.
    if (argc > 1 && qstrcmp(argv[1], "render") == 0)
        return runRender(argc, argv);
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName("lf2d");
    const QStringList arguments = QCoreApplication::arguments();

    if (arguments.size() < 2) {
        commandline::print(stderr, generalUsage);
        return commandline::exitUsage;
    }
    const QString command = arguments.at(1);
    if (command == "-h" || command == "--help" || command == "help") {
        commandline::print(stdout, generalUsage);
        return 0;
    }
    const std::map<QString, std::function<int(const QStringList &)>> commands {
        {"synth", runSynth},
        {"photo", runPhoto},
        {"import", runImport},
        {"export", runExport},
        {"info", runInfo}};
    const auto found = commands.find(command);
    if (found == commands.end()) {
        commandline::print(stderr, "lf2d: unknown command '" + command + "'\n\n" + generalUsage);
        return commandline::exitUsage;
    }
    return commandline::runCommand(command, [&] { return found->second(arguments.mid(2)); });
}
