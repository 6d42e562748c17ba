#pragma once

#include <map>
#include <string>

// Options handed to every stage factory (createLightfieldPlane, createCamera,
// createPostProcessor), an ordered map from key to value. The viewer passes empty ones and no
// stage reads a key: a stage's settings are fields of its own settings type.
using PipelineOptions = std::map<std::string, std::string>;
