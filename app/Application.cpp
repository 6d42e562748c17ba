#include "Application.h"

#include "FileSelectorWindow.h"
#include "deliverables/BuildConfiguration.h"
#include "viewer/LightfieldRenderer.h"

#include <QApplication>

#include <cstdio>

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
    FileSelectorWindow selector;
    selector.show();
    return application.exec();
}
