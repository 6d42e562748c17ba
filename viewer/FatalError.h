#pragma once

#include <functional>

class QString;

// Ends the program because of a configuration error: its message goes to standard error, into a
// modal error dialog when the program has a display, and the event loop ends with status 1.
// Must be called from the event loop, outside of painting.
void reportFatalError(const QString &message);

// Replaces what reportFatalError does, so that tests can observe errors of windows they drive.
// An empty handler restores the default.
void setFatalErrorHandler(std::function<void(const QString &)> handler);
