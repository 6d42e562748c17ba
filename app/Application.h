#pragma once

// The program for the deliverable of that name. With a light field file among its arguments (after
// the toolkit's own, such as -platform) it opens that file in the viewer; without one it shows the
// selector window first. Returns the exit status: 0 when the user closed the last window, 1 after a
// configuration error, 2 for arguments it cannot follow.
int runViewerApplication(int argc, char *argv[], const char *deliverableName);
