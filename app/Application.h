#pragma once

// The program: the selector window, then the viewer, for the deliverable of that name. Returns the
// exit status: 0 when the user closed the last window, 1 after a configuration error.
int runViewerApplication(int argc, char *argv[], const char *deliverableName);
