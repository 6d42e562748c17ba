#pragma once

#include <string>

// A configuration error ends the program: the light field, the pipeline or the environment cannot
// give a meaningful picture. It travels as a plain message string, written for the user, and is
// caught only at the application's edge, where the message is shown (see viewer/FatalError.h).
[[noreturn]] void raiseConfigurationError(const std::string &message);
