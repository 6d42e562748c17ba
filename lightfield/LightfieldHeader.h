#pragma once

#include <cstdint>
#include <istream>
#include <string>

// The text header of a .lf2d file, checked against the size of the file that holds it. Parsing
// and checking need no OpenGL context, so they can be tested and fuzzed on their own.
struct LightfieldHeader
{
    int width = 0; // pixels per row of every view
    int height = 0; // pixel rows of every view
    int viewCount = 0; // views stored in the file
    int columns = 0; // views per grid row
    int viewSpacing = 0; // window pixels of drag between neighbouring views
    int reservedValue = 0; // carried along, interpreted by nothing
    bool isHdr = false; // colour images are RGBE instead of 8-bit RGBA
    bool hasDisparity = false; // every colour image is followed by an RGBE disparity image
    int maxDisparity = 0; // bound of the disparity, pixels per view step

    int rows = 0; // viewCount / columns; stored views beyond rows × columns are ignored
    std::int64_t viewBytes = 0; // bytes of one stored image: width × height × 4
    std::int64_t dataOffset = 0; // offset of the first pixel byte, right after the separator

    int imagesPerView() const { return hasDisparity ? 2 : 1; }
    // Bytes of pixel data that the grid needs, from dataOffset on.
    std::int64_t gridBytes() const;
};

// Reads the nine header values and the one separator byte from the start of the stream, then
// checks them against streamSize, the size of the whole file. Raises a configuration error whose
// message names fileName and says what is wrong; on success the stream stands at dataOffset.
LightfieldHeader readLightfieldHeader(std::istream &stream, std::int64_t streamSize,
                                      const std::string &fileName);

// The text a file starts with: the nine header values in the order readLightfieldHeader reads
// them, separated by spaces, and a line end as the separator byte. The values are written as
// they are, unchecked; rows and the offsets are not part of the text.
std::string lightfieldHeaderText(const LightfieldHeader &header);
