#pragma once

#include <map>
#include <string>

// Options handed to every stage factory. The viewer passes empty ones; no stage reads a key yet.
using PipelineOptions = std::map<std::string, std::string>;
