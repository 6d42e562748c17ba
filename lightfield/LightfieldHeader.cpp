#include "LightfieldHeader.h"

#include "viewer/gpu/ConfigurationError.h"

#include <algorithm>
#include <limits>

namespace {

// One image is read into a single host buffer and handed to QImage and the GL in one piece;
// both address it with 32-bit signed sizes.
constexpr std::int64_t maxImageBytes = std::numeric_limits<int>::max();

std::string quoted(const std::string &fileName)
{
    return "\"" + fileName + "\"";
}

[[noreturn]] void raiseInvalid(const std::string &fileName, const std::string &problem)
{
    raiseConfigurationError("Lightfield file " + quoted(fileName)
                            + " is not a valid .lf2d file: " + problem);
}

// Formatted extraction, as a standard input stream does it: leading whitespace is skipped, an
// optional sign and decimal digits are read, and the value ends at the first other character.
int readInteger(std::istream &stream, const char *name, const std::string &fileName)
{
    int value = 0;
    stream >> value;
    if (!stream) {
        if (stream.eof())
            raiseInvalid(fileName, std::string("the header ends before '") + name + "'");
        raiseInvalid(fileName, std::string("header value '") + name + "' is not a 32-bit integer");
    }
    return value;
}

bool readFlag(std::istream &stream, const char *name, const std::string &fileName)
{
    int value = 0;
    stream >> value;
    if (!stream && stream.eof())
        raiseInvalid(fileName, std::string("the header ends before '") + name + "'");
    if (!stream || (value != 0 && value != 1))
        raiseInvalid(fileName, std::string("header flag '") + name + "' must be 0 or 1");
    return value == 1;
}

void requireAtLeast(int value, int minimum, const char *name, const std::string &fileName)
{
    if (value < minimum) {
        raiseInvalid(fileName,
                     std::string("'") + name + "' must be at least " + std::to_string(minimum)
                         + ", found " + std::to_string(value));
    }
}

} // namespace

std::int64_t LightfieldHeader::gridBytes() const
{
    // rows × columns ≤ viewCount < 2^31 and viewBytes ≤ 2^31, so with two images per view the
    // product stays below 2^63.
    return std::int64_t(rows) * columns * imagesPerView() * viewBytes;
}

LightfieldHeader readLightfieldHeader(std::istream &stream, std::int64_t streamSize,
                                      const std::string &fileName)
{
    LightfieldHeader header;
    header.width = readInteger(stream, "width", fileName);
    header.height = readInteger(stream, "height", fileName);
    header.viewCount = readInteger(stream, "viewCount", fileName);
    header.columns = readInteger(stream, "columns", fileName);
    header.viewSpacing = readInteger(stream, "viewSpacing", fileName);
    header.reservedValue = readInteger(stream, "reservedValue", fileName);
    header.isHdr = readFlag(stream, "isHdr", fileName);
    header.hasDisparity = readFlag(stream, "hasDisparity", fileName);
    header.maxDisparity = readInteger(stream, "maxDisparity", fileName);

    // Exactly one byte separates the header from the pixels, whatever it is: a header that ends
    // in "\r\n" leaves the "\n" as the first pixel byte.
    if (stream.get() == std::char_traits<char>::eof())
        raiseInvalid(fileName, "the header ends without the separator byte after 'maxDisparity'");
    header.dataOffset = static_cast<std::int64_t>(stream.tellg());

    requireAtLeast(header.width, 1, "width", fileName);
    requireAtLeast(header.height, 1, "height", fileName);
    requireAtLeast(header.columns, 1, "columns", fileName);
    if (header.viewCount < header.columns) {
        raiseInvalid(fileName,
                     "'viewCount' (" + std::to_string(header.viewCount)
                         + ") is smaller than 'columns' (" + std::to_string(header.columns)
                         + "), so the grid has no row");
    }
    requireAtLeast(header.viewSpacing, 1, "viewSpacing", fileName);
    requireAtLeast(header.maxDisparity, 0, "maxDisparity", fileName);
    // No scene moves farther than across a whole view between neighbouring views; a larger bound
    // only makes the view synthesis search further, millions of steps per pixel at the extreme.
    const int largerSide = std::max(header.width, header.height);
    if (header.maxDisparity > largerSide) {
        raiseInvalid(fileName,
                     "'maxDisparity' (" + std::to_string(header.maxDisparity)
                         + ") is larger than the views' larger side (" + std::to_string(largerSide)
                         + " pixels)");
    }
    header.rows = header.viewCount / header.columns;

    const std::int64_t pixels = std::int64_t(header.width) * header.height;
    if (pixels > maxImageBytes / 4) {
        raiseInvalid(fileName,
                     "views of " + std::to_string(header.width) + " x "
                         + std::to_string(header.height)
                         + " pixels are too large (at most 2 GiB per image)");
    }
    header.viewBytes = pixels * 4;

    const std::int64_t found = streamSize - header.dataOffset;
    if (found < header.gridBytes()) {
        const std::int64_t views = std::int64_t(header.rows) * header.columns;
        std::string expected = header.hasDisparity
            ? std::to_string(views * 2) + " images of " + std::to_string(header.viewBytes)
                + " bytes expected (" + std::to_string(views) + " views and their disparity maps)"
            : std::to_string(views) + " views of " + std::to_string(header.viewBytes)
                + " bytes expected";
        raiseConfigurationError("Lightfield file " + quoted(fileName) + " is truncated: " + expected
                                + ", " + std::to_string(found < 0 ? 0 : found) + " bytes found");
    }
    return header;
}

std::string lightfieldHeaderText(const LightfieldHeader &header)
{
    return std::to_string(header.width) + " " + std::to_string(header.height) + " "
        + std::to_string(header.viewCount) + " " + std::to_string(header.columns) + " "
        + std::to_string(header.viewSpacing) + " " + std::to_string(header.reservedValue) + " "
        + (header.isHdr ? "1" : "0") + " " + (header.hasDisparity ? "1" : "0") + " "
        + std::to_string(header.maxDisparity) + "\n";
}
