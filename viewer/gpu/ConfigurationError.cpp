#include "ConfigurationError.h"

void raiseConfigurationError(const std::string &message)
{
    throw message;
}
