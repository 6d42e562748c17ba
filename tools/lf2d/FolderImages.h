#pragma once

#include <string>
#include <vector>

// The image files of a folder of views, as the import reads them and the export writes them, and
// what the import does to their pixels.
namespace folder {

std::string inQuotes(const std::string &path);
std::string sizeText(int width, int height);
// Without the line end and spaces OpenImageIO's messages end with.
std::string trimmed(std::string text);

// Throws std::runtime_error: "Cannot read <what> <path>: " and the image library's error.
[[noreturn]] void cannotRead(const std::string &what, const std::string &path,
                             const std::string &error);

// Light fields hold non-negative radiance. Negative values come from colour-space conversions and
// noise in dark regions, not-a-number from broken pixels; both read as black.
float radiance(float value);

// What a file's header says, read without its pixels.
struct ImageFacts
{
    int width = 0;
    int height = 0;
    bool floatingPoint = false;
};

// Checks that the file exists, can be opened and has a size a view may have, 1 to 16384 pixels
// on a side; what names it in the messages ("view", "disparity map").
ImageFacts probe(const std::string &what, const std::string &path);

// A one-channel PFM of an upright, row-major map.
void writePfm(const std::string &path, int width, int height, const std::vector<float> &map);

// Upright, row-major, `channels` floats per pixel.
struct Image
{
    int width = 0;
    int height = 0;
    int channels = 3;
    std::vector<float> values;
};

// The first three channels as red, green and blue, or the first channel of a grey picture as all
// three; channels = 1 keeps only the first.
Image readImage(const std::string &what, const std::string &path, int channels);

Image cropped(const Image &image, int left, int top, int width, int height);
Image shrunk(const Image &image, int width, int height);
// Disparity is not averaged across an occlusion edge, where a mean of the two sides would put
// pixels at a depth that neither surface has: each output pixel takes the map's value under its
// centre.
Image shrunkNearest(const Image &map, int width, int height);

// Forward-warps a view's disparity map to the view `shift` view steps away (in columns and rows):
// a pixel with disparity d moves by −d · shift. Where several land on one pixel the nearest, the
// largest disparity, wins. Pixels nothing lands on were hidden in the reference view; they take
// the disparity of the farther of their nearest filled neighbours along the row (or, failing
// that, the column), since what a viewpoint sees newly is the background beside a foreground
// edge.
std::vector<float> propagated(const Image &reference, double shiftColumns, double shiftRows);

} // namespace folder
