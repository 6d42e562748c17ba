#pragma once

#include <optional>
#include <string>
#include <vector>

// The folder layouts light fields are published in, recognised from the files there, so that a
// folder imports without a pattern:
// - the HCI 4D benchmark's: input_Cam000.png, ... row by row from the top left, a parameters.cfg
//   that states the grid and the disparity range, and the centre view's disparity in
//   gt_disp_lowres.pfm;
// - the Stanford archive's: out_RR_CC_<y>_<x>.png, row and column, then the camera's position,
//   sometimes with a trailing '_';
// - what 'lf2d export' writes: view_RR_CC.png (or .exr) and disparity_RR_CC.pfm.
namespace folder {

struct Layout
{
    std::string kind; // the layout recognised, for people
    std::string views; // a NamePattern
    int columns = 0; // 0: counted by the import
    int rows = 0;
    std::string disparities; // a NamePattern of per-view maps, or empty
    std::string referenceDisparity; // the centre view's map, or empty
    // The disparities the folder says its scene has, in pixels per view step of the folder.
    bool hasStatedRange = false;
    float statedLowest = 0.0f;
    float statedHighest = 0.0f;
    // What was found and which files are used, a line each.
    std::vector<std::string> notes;
};

// Recognises the folder at directory. Disparity maps found there are used unless ignoreMaps
// says why not ("--estimate"); the notes say which. Throws
// std::runtime_error naming the folder when it has no layout known, or the file at fault when a
// layout's names do not form a grid or its parameters file is incomplete.
Layout recogniseLayout(const std::string &directory, const std::string &ignoreMaps);

} // namespace folder
