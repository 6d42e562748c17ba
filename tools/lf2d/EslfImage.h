#pragma once

#include "FolderImages.h"

#include <cstdint>
#include <string>
#include <vector>

// A light field stored as one picture of lenslet blocks (ESLF), as plenoptic cameras' light fields
// are shared: a block of lenslet × lenslet pixels for each point of the views, the view at angular
// position (u, v) being the picture's pixels (x · lenslet + u, y · lenslet + v). The picture is
// padded up to whole blocks; an alpha channel, when it has one, marks the pixels that hold no
// light (outside a lens's disk, dead sensor pixels).
namespace folder {

struct EslfViews
{
    int lenslet = 0;
    int views = 0; // kept along each side, the central ones of the lenslet
    int firstAngle = 0; // u and v of the first view kept
    int imageWidth = 0;
    int imageHeight = 0;
    ImageFacts facts; // of each view
    bool hasAlpha = false;
    // Pixels of the views kept that the alpha channel marks or the padding adds, filled from
    // their neighbours.
    std::int64_t filled = 0;
    std::vector<Image> images; // views × views, row by row: v, then u
};

// Takes the central views × views views of the ESLF picture at path. Throws std::runtime_error
// naming the file when it cannot be read, is smaller than one lenslet, holds fewer views than
// asked, or a view kept has no valid pixel.
EslfViews readEslf(const std::string &path, int lenslet, int views);

} // namespace folder
