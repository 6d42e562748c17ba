#pragma once

#include "lightfield/LightfieldHeader.h"

#include <string>
#include <vector>

// What a .lf2d file holds, as the viewer's own reader finds it.
namespace info {

// One RGBE view's luminance, over its texels that are not black.
struct ViewLuminance
{
    int column = 0;
    int row = 0;
    double lowest = 0; // 0 when the view is black throughout
    double highest = 0;
    double stops() const; // log2(highest / lowest); 0 for a black view
};

struct LightfieldInfo
{
    std::string headerLine; // the file's first line, as written
    bool valid = false; // the reader accepts the header and every view
    std::string problem; // the reader's message when not
    LightfieldHeader header; // as the reader finds it, when valid
    float lowestDisparity = 0; // as stored, over every view
    float highestDisparity = 0;
    std::vector<ViewLuminance> luminance; // RGBE files, in file order
};

// Reads the whole file through the viewer's reader (no OpenGL needed). Never throws for a bad
// file: the reader's message lands in problem.
LightfieldInfo inspectLightfield(const std::string &path);

// The report lf2d info prints.
std::string describe(const LightfieldInfo &info);

} // namespace info
