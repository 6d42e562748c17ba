#include "Application.h"

#include "FileSelectorWindow.h"
#include "deliverables/BuildConfiguration.h"
#include "viewer/LightfieldRenderer.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>
#include <memory>

int runViewerApplication(int argc, char *argv[], const char *deliverableName)
{
    const BuildConfiguration *configuration = findBuildConfiguration(deliverableName);
    if (!configuration) {
        std::fprintf(stderr, "No build configuration is named %s\n", deliverableName);
        return 2;
    }
    setActiveBuildConfiguration(*configuration);

    // Set before the application object exists, so that every window gets the legacy calls.
    QSurfaceFormat::setDefaultFormat(viewerSurfaceFormat());
    QApplication application(argc, argv);

    // The application object has taken out the toolkit's own options; what is left is ours.
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Shows a two-dimensional light field: drag with the left button or press "
                       "the arrow keys (Shift: a tenth of a view) to move the camera, Home to "
                       "bring it back, 1 to switch between the whole view scaled to the window "
                       "and one view pixel per window pixel. The camera sees through a lens: ] "
                       "and [ open and close its aperture a quarter view step, 0 makes it a "
                       "pinhole again; the mouse wheel focuses it a quarter pixel of disparity a "
                       "notch (Ctrl: a whole pixel), and a click focuses it on the surface under "
                       "the pointer. D shows the disparity of what the camera sees instead. "
                       "Without a file, a window lets you choose one."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    parser.addOption(help);
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The .lf2d light field to open."),
                                 QStringLiteral("[FILE]"));
    const bool parsed = parser.parse(QCoreApplication::arguments());
    const QStringList files = parser.positionalArguments();
    if (!parsed || files.size() > 1) {
        const QString problem = parsed
            ? QStringLiteral("only one light field can be opened, %1 were given").arg(files.size())
            : parser.errorText();
        std::fprintf(stderr, "%s: %s\nUsage: %s [FILE.lf2d]  (--help for more)\n", deliverableName,
                     problem.toLocal8Bit().constData(), deliverableName);
        return 2;
    }
    if (parser.isSet(help)) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }

    std::unique_ptr<FileSelectorWindow> selector;
    if (files.isEmpty()) {
        selector = std::make_unique<FileSelectorWindow>();
        selector->show();
    } else {
        // From the event loop, as the selector would: a refused file ends it with status 1.
        const QUrl file = QUrl::fromLocalFile(files.first());
        QTimer::singleShot(0, &application, [file] { openViewerWindow(file); });
    }
    return application.exec();
}
