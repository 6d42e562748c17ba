#include "ImageFolder.h"

#include "DisparityEstimation.h"
#include "Lf2dWriter.h"
#include "lightfield/LightfieldReader.h"
#include "lightfield/Rgbe.h"

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>

#include <QUrl>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <stdexcept>

namespace folder {
namespace {

// Bounds that keep every size computed from them far from overflowing.
constexpr int maxPlaceholderWidth = 9;
constexpr int maxViewSide = 16384;

std::string inQuotes(const std::string &path)
{
    return "\"" + path + "\"";
}

std::string sizeText(int width, int height)
{
    return std::to_string(width) + " x " + std::to_string(height);
}

std::string padded(int number, int width)
{
    std::string digits = std::to_string(number);
    if (int(digits.size()) < width)
        digits.insert(0, std::size_t(width) - digits.size(), '0');
    return digits;
}

std::string trimmed(std::string text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    return text;
}

[[noreturn]] void cannotRead(const std::string &what, const std::string &path,
                             const std::string &error)
{
    // OpenImageIO names the file itself; once is enough.
    std::string reason = trimmed(error);
    const std::string prefix = "Invalid image file " + inQuotes(path) + ": ";
    if (reason.compare(0, prefix.size(), prefix) == 0)
        reason.erase(0, prefix.size());
    if (reason.empty())
        reason = "unreadable image";
    throw std::runtime_error("Cannot read " + what + " " + inQuotes(path) + ": " + reason);
}

bool isFloatingPoint(OIIO::TypeDesc format)
{
    return format.basetype == OIIO::TypeDesc::HALF || format.basetype == OIIO::TypeDesc::FLOAT
        || format.basetype == OIIO::TypeDesc::DOUBLE;
}

// What a file's header says, read without its pixels.
struct ImageFacts
{
    int width = 0;
    int height = 0;
    bool floatingPoint = false;
};

ImageFacts probe(const std::string &what, const std::string &path)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        throw std::runtime_error("The " + what + " " + inQuotes(path) + " is missing");
    auto input = OIIO::ImageInput::open(path);
    if (!input)
        cannotRead(what, path, OIIO::geterror());
    const OIIO::ImageSpec &header = input->spec();
    if (header.width < 1 || header.height < 1 || header.width > maxViewSide
        || header.height > maxViewSide) {
        throw std::runtime_error(
            "The " + what + " " + inQuotes(path) + " is " + sizeText(header.width, header.height)
            + " pixels; views may be 1 to " + std::to_string(maxViewSide) + " pixels on a side");
    }
    return {header.width, header.height, isFloatingPoint(header.format)};
}

// A one-channel PFM of an upright, row-major map. The reader of image files has no PFM writer;
// the format is a text header and the rows bottom-up, little-endian as the negative scale says.
void writePfm(const std::string &path, int width, int height, const std::vector<float> &map)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "Pf\n" << width << " " << height << "\n-1.0\n";
    for (int y = height - 1; y >= 0 && out; --y) {
        for (int x = 0; x < width; ++x) {
            const float value = map[std::size_t(y) * width + x];
            std::uint32_t bits = 0;
            std::memcpy(&bits, &value, sizeof bits);
            const char bytes[4] = {char(bits & 0xff), char((bits >> 8) & 0xff),
                                   char((bits >> 16) & 0xff), char(bits >> 24)};
            out.write(bytes, 4);
        }
    }
    out.close();
    if (!out) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        throw std::runtime_error("Cannot write " + inQuotes(path) + ": " + std::strerror(errno));
    }
}

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
Image readImage(const std::string &what, const std::string &path, int channels)
{
    OIIO::ImageBuf buffer(path);
    if (!buffer.read(0, 0, true, OIIO::TypeDesc::FLOAT))
        cannotRead(what, path, buffer.geterror());
    const int stored = buffer.nchannels() >= 3 && channels == 3 ? 3 : 1;
    OIIO::ROI roi = buffer.roi();
    roi.zend = roi.zbegin + 1;
    roi.chbegin = 0;
    roi.chend = stored;
    std::vector<float> pixels(roi.npixels() * stored);
    if (!buffer.get_pixels(roi, OIIO::TypeDesc::FLOAT, pixels.data()))
        cannotRead(what, path, buffer.geterror());
    Image image {roi.width(), roi.height(), channels,
                 std::vector<float>(roi.npixels() * std::size_t(channels))};
    for (std::size_t pixel = 0; pixel < roi.npixels(); ++pixel) {
        for (int c = 0; c < channels; ++c)
            image.values[pixel * channels + c] = pixels[pixel * stored + (stored == 1 ? 0 : c)];
    }
    return image;
}

Image cropped(const Image &image, int left, int top, int width, int height)
{
    Image result {width, height, image.channels,
                  std::vector<float>(std::size_t(width) * height * image.channels)};
    for (int y = 0; y < height; ++y) {
        const float *from =
            image.values.data() + (std::size_t(top + y) * image.width + left) * image.channels;
        std::copy(from, from + std::size_t(width) * image.channels,
                  result.values.begin() + std::size_t(y) * width * image.channels);
    }
    return result;
}

Image shrunk(const Image &image, int width, int height)
{
    OIIO::ImageBuf source(
        OIIO::ImageSpec(image.width, image.height, image.channels, OIIO::TypeDesc::FLOAT),
        const_cast<float *>(image.values.data()));
    OIIO::ImageBuf scaled(OIIO::ImageSpec(width, height, image.channels, OIIO::TypeDesc::FLOAT));
    // Positive weights everywhere: a bright lamp does not ring into dark halos.
    if (!OIIO::ImageBufAlgo::resize(scaled, source, "blackman-harris"))
        throw std::runtime_error("Cannot shrink a view: " + trimmed(scaled.geterror()));
    Image result {width, height, image.channels,
                  std::vector<float>(std::size_t(width) * height * image.channels)};
    if (!scaled.get_pixels(OIIO::ROI::All(), OIIO::TypeDesc::FLOAT, result.values.data()))
        throw std::runtime_error("Cannot shrink a view: " + trimmed(scaled.geterror()));
    return result;
}

// Disparity is not averaged across an occlusion edge, where a mean of the two sides would put
// pixels at a depth that neither surface has: each output pixel takes the map's value under its
// centre.
Image shrunkNearest(const Image &map, int width, int height)
{
    Image result {width, height, 1, std::vector<float>(std::size_t(width) * height)};
    for (int y = 0; y < height; ++y) {
        const int sourceY = std::min(map.height - 1, int((y + 0.5) * map.height / height));
        for (int x = 0; x < width; ++x) {
            const int sourceX = std::min(map.width - 1, int((x + 0.5) * map.width / width));
            result.values[std::size_t(y) * width + x] =
                map.values[std::size_t(sourceY) * map.width + sourceX];
        }
    }
    return result;
}

// Light fields hold non-negative radiance. Negative values come from colour-space conversions and
// noise in dark regions, not-a-number from broken pixels; both read as black.
float radiance(float value)
{
    if (!(value > 0.0f))
        return 0.0f;
    return std::min(value, FLT_MAX);
}

// Forward-warps a view's disparity map to the view `shift` view steps away (in columns and rows):
// a pixel with disparity d moves by −d · shift. Where several land on one pixel the nearest, the
// largest disparity, wins. Pixels nothing lands on were hidden in the reference view; they take
// the disparity of the farther of their nearest filled neighbours along the row (or, failing
// that, the column), since what a viewpoint sees newly is the background beside a foreground
// edge.
std::vector<float> propagated(const Image &reference, double shiftColumns, double shiftRows)
{
    const int width = reference.width;
    const int height = reference.height;
    constexpr float empty = -std::numeric_limits<float>::infinity();
    std::vector<float> map(std::size_t(width) * height, empty);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const float d = reference.values[std::size_t(y) * width + x];
            const long targetX = std::lround(x - d * shiftColumns);
            const long targetY = std::lround(y - d * shiftRows);
            if (targetX < 0 || targetX >= width || targetY < 0 || targetY >= height)
                continue;
            float &slot = map[std::size_t(targetY) * width + targetX];
            slot = std::max(slot, d);
        }
    }

    const auto fillAlong = [&](bool rows) {
        const int lines = rows ? height : width;
        const int length = rows ? width : height;
        const auto at = [&](int line, int i) -> float & {
            return rows ? map[std::size_t(line) * width + i] : map[std::size_t(i) * width + line];
        };
        std::vector<float> before(length);
        for (int line = 0; line < lines; ++line) {
            float last = empty;
            for (int i = 0; i < length; ++i) {
                if (at(line, i) != empty)
                    last = at(line, i);
                before[i] = last;
            }
            float next = empty;
            for (int i = length - 1; i >= 0; --i) {
                if (at(line, i) != empty) {
                    next = at(line, i);
                    continue;
                }
                const float left = before[i];
                if (left != empty && next != empty)
                    at(line, i) = std::min(left, next);
                else if (left != empty || next != empty)
                    at(line, i) = std::max(left, next);
            }
        }
    };
    fillAlong(true);
    fillAlong(false);
    // A reference with no pixel that lands in this view at all: the farthest disparity it has.
    float farthest = std::numeric_limits<float>::infinity();
    for (float d : reference.values)
        farthest = std::min(farthest, d);
    for (float &d : map) {
        if (d == empty)
            d = farthest;
    }
    return map;
}

std::string describeView(int column, int row)
{
    return "column " + std::to_string(column) + ", row " + std::to_string(row);
}

// The folder's grid, where its numbering starts, and how many files it has.
struct FolderGrid
{
    int columns = 0;
    int rows = 0;
    int first = 0;
};

bool exists(const std::string &path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

FolderGrid findGrid(const NamePattern &pattern, int columns, int rows)
{
    FolderGrid grid;
    const int guessColumns = std::max(columns, 1);
    if (exists(pattern.name(0, 0, guessColumns, 0)))
        grid.first = 0;
    else if (exists(pattern.name(0, 0, guessColumns, 1)))
        grid.first = 1;
    else {
        throw std::runtime_error("No view matches " + inQuotes(pattern.text()) + ": neither "
                                 + inQuotes(pattern.name(0, 0, guessColumns, 0)) + " nor "
                                 + inQuotes(pattern.name(0, 0, guessColumns, 1)) + " exists");
    }

    constexpr int maxCounted = 1 << 20;
    if (columns > 0 && rows > 0) {
        grid.columns = columns;
        grid.rows = rows;
    } else if (pattern.usesIndex()) {
        int count = 0;
        while (count < maxCounted && exists(pattern.name(count, 0, maxCounted, grid.first)))
            ++count;
        if (columns > 0 || rows > 0) {
            const int known = std::max(columns, rows);
            if (count % known != 0) {
                throw std::runtime_error(std::to_string(count) + " views match "
                                         + inQuotes(pattern.text()) + ", not a multiple of "
                                         + std::to_string(known));
            }
            grid.columns = columns > 0 ? columns : count / known;
            grid.rows = rows > 0 ? rows : count / known;
        } else {
            const int side = int(std::lround(std::sqrt(double(count))));
            if (side * side != count) {
                throw std::runtime_error(std::to_string(count) + " views match "
                                         + inQuotes(pattern.text())
                                         + ", not a square grid: give --grid COLUMNSxROWS");
            }
            grid.columns = grid.rows = side;
        }
    } else {
        grid.columns = columns;
        grid.rows = rows;
        if (grid.columns == 0) {
            while (grid.columns < maxCounted
                   && exists(pattern.name(grid.columns, 0, maxCounted, grid.first)))
                ++grid.columns;
        }
        if (grid.rows == 0) {
            while (grid.rows < maxCounted
                   && exists(pattern.name(0, grid.rows, grid.columns, grid.first)))
                ++grid.rows;
        }
    }
    return grid;
}

// Where the stored view at (column, row) comes from: its place in the folder's grid after the
// flips (in folder view steps) and the file numbers it is stored under.
struct Source
{
    int gridColumn = 0;
    int gridRow = 0;
    int fileColumn = 0;
    int fileRow = 0;
};

} // namespace

NamePattern::NamePattern(const std::string &text)
    : m_text(text)
{
    bool usesRow = false;
    bool usesColumn = false;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find('{', at);
        if (open == std::string::npos) {
            m_pieces.push_back({Kind::Literal, text.substr(at), 0});
            break;
        }
        if (open > at)
            m_pieces.push_back({Kind::Literal, text.substr(at, open - at), 0});
        const std::size_t close = text.find('}', open);
        if (close == std::string::npos)
            throw std::invalid_argument("the pattern " + inQuotes(text) + " has an unclosed '{'");
        const std::string field = text.substr(open + 1, close - open - 1);
        const std::size_t colon = field.find(':');
        const std::string name = field.substr(0, colon);
        Piece piece;
        if (name == "row") {
            piece.kind = Kind::Row;
            usesRow = true;
        } else if (name == "col" || name == "column") {
            piece.kind = Kind::Column;
            usesColumn = true;
        } else if (name == "index") {
            piece.kind = Kind::Index;
            m_usesIndex = true;
        } else {
            throw std::invalid_argument("the pattern " + inQuotes(text) + " has an unknown field {"
                                        + field + "}: use {row}, {col} or {index}");
        }
        if (colon != std::string::npos) {
            const std::string width = field.substr(colon + 1);
            if (width.empty() || width.size() > 2
                || !std::all_of(width.begin(), width.end(),
                                [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })
                || std::stoi(width) > maxPlaceholderWidth) {
                throw std::invalid_argument("the pattern " + inQuotes(text) + " has {" + field
                                            + "}: the width after ':' must be 1 to 9 digits, "
                                              "as in {index:03}");
            }
            piece.width = std::stoi(width);
        }
        m_pieces.push_back(piece);
        at = close + 1;
    }
    if (m_usesIndex == (usesRow || usesColumn) || usesRow != usesColumn) {
        throw std::invalid_argument("the pattern " + inQuotes(text)
                                    + " must number views either by {row} and {col} or by "
                                      "{index}");
    }
}

std::string NamePattern::name(int column, int row, int columns, int first) const
{
    std::string result;
    for (const Piece &piece : m_pieces) {
        switch (piece.kind) {
        case Kind::Literal:
            result += piece.literal;
            break;
        case Kind::Row:
            result += padded(row + first, piece.width);
            break;
        case Kind::Column:
            result += padded(column + first, piece.width);
            break;
        case Kind::Index:
            result += padded(row * columns + column + first, piece.width);
            break;
        }
    }
    return result;
}

namespace {

// The folder's files, and which of them become the stored views: every every-th view of its grid
// along both axes, its rows and columns flipped as asked.
struct FolderViews
{
    NamePattern views;
    NamePattern maps; // the views' pattern when there are no per-view maps
    FolderGrid grid;
    int every = 1;
    bool flipColumns = false;
    bool flipRows = false;

    int storedColumns() const { return (grid.columns - 1) / every + 1; }
    int storedRows() const { return (grid.rows - 1) / every + 1; }

    Source sourceOf(int column, int row) const
    {
        Source source;
        source.gridColumn = column * every;
        source.gridRow = row * every;
        source.fileColumn = flipColumns ? grid.columns - 1 - source.gridColumn : source.gridColumn;
        source.fileRow = flipRows ? grid.rows - 1 - source.gridRow : source.gridRow;
        return source;
    }
    std::string viewPath(const Source &source) const
    {
        return views.name(source.fileColumn, source.fileRow, grid.columns, grid.first);
    }
    std::string mapPath(const Source &source) const
    {
        return maps.name(source.fileColumn, source.fileRow, grid.columns, grid.first);
    }
};

// Checks that the options ask for one source of disparity at most, in a pattern that numbers
// the maps as the views, and finds the folder's grid.
FolderViews openFolder(const ImportOptions &options)
{
    NamePattern views(options.views);
    if (!options.disparities.empty() && !options.referenceDisparity.empty())
        throw std::runtime_error("give per-view disparity maps or one view's map, not both");
    const bool perViewMaps = !options.disparities.empty();
    const bool referenceMap = !options.referenceDisparity.empty();
    if (options.estimate && (perViewMaps || referenceMap))
        throw std::runtime_error("estimate disparity or read it from maps, not both");
    NamePattern maps(perViewMaps ? options.disparities : options.views);
    if (perViewMaps && maps.usesIndex() != views.usesIndex())
        throw std::runtime_error("the disparity maps must be numbered as the views are");

    const FolderGrid grid = findGrid(views, options.columns, options.rows);
    if (grid.columns < 1 || grid.rows < 1)
        throw std::runtime_error("No view matches " + inQuotes(views.text()));
    return {std::move(views),           std::move(maps),     grid,
            std::max(1, options.every), options.flipColumns, options.flipRows};
}

// Every file is looked at before anything is written: a folder with a missing or odd view leaves
// no output behind. Returns what the views share.
ImageFacts probeViews(const FolderViews &folder)
{
    ImageFacts facts;
    std::string firstPath;
    for (int row = 0; row < folder.storedRows(); ++row) {
        for (int column = 0; column < folder.storedColumns(); ++column) {
            const std::string path = folder.viewPath(folder.sourceOf(column, row));
            const ImageFacts view = probe("view", path);
            if (firstPath.empty()) {
                facts = view;
                firstPath = path;
                continue;
            }
            if (view.width != facts.width || view.height != facts.height) {
                throw std::runtime_error(
                    "The view " + inQuotes(path) + " is " + sizeText(view.width, view.height)
                    + " pixels, " + inQuotes(firstPath) + " is "
                    + sizeText(facts.width, facts.height) + ": every view must have the same size");
            }
            if (view.floatingPoint != facts.floatingPoint) {
                throw std::runtime_error(
                    "The view " + inQuotes(path) + " has "
                    + (view.floatingPoint ? "floating-point" : "integer") + " pixels, "
                    + inQuotes(firstPath) + " "
                    + (facts.floatingPoint ? "floating-point" : "integer")
                    + " ones: a light field is either 8-bit or high dynamic range throughout");
            }
        }
    }
    return facts;
}

// What is kept of every view and map of the folder, and the size that is shrunk to, before any
// refocusing.
struct Framing
{
    Crop crop;
    int width = 0;
    int height = 0;
};

Framing frameViews(const ImportOptions &options, const ImageFacts &views)
{
    Framing framing;
    framing.crop = options.crop.width > 0 ? options.crop : Crop {0, 0, views.width, views.height};
    const Crop &crop = framing.crop;
    if (crop.left < 0 || crop.top < 0 || crop.width < 1 || crop.height < 1
        || crop.left + crop.width > views.width || crop.top + crop.height > views.height) {
        throw std::runtime_error("The crop " + sizeText(crop.width, crop.height) + " at "
                                 + std::to_string(crop.left) + "," + std::to_string(crop.top)
                                 + " does not fit in the views of "
                                 + sizeText(views.width, views.height) + " pixels");
    }
    if (!(options.scale > 0.0 && options.scale <= 1.0))
        throw std::runtime_error("the scale must be above 0 and at most 1");
    framing.width = std::max(1, int(std::lround(crop.width * options.scale)));
    framing.height = std::max(1, int(std::lround(crop.height * options.scale)));
    return framing;
}

Image framed(Image image, const Framing &framing)
{
    const Crop &crop = framing.crop;
    image = cropped(image, crop.left, crop.top, crop.width, crop.height);
    if (image.width != framing.width || image.height != framing.height)
        image = image.channels == 1 ? shrunkNearest(image, framing.width, framing.height)
                                    : shrunk(image, framing.width, framing.height);
    return image;
}

Image readView(const std::string &path, const ImageFacts &views)
{
    Image view = readImage("view", path, 3);
    if (view.width != views.width || view.height != views.height)
        throw std::runtime_error("The view " + inQuotes(path) + " changed while read");
    if (views.floatingPoint) {
        for (float &value : view.values)
            value = radiance(value);
    }
    return view;
}

// Reads a map, checks it and returns it in the folder's pixels and view steps, sign applied.
Image readMap(const std::string &path, const ImageFacts &views, bool negate)
{
    const ImageFacts map = probe("disparity map", path);
    if (map.width != views.width || map.height != views.height) {
        throw std::runtime_error("The disparity map " + inQuotes(path) + " is "
                                 + sizeText(map.width, map.height) + " pixels, the views are "
                                 + sizeText(views.width, views.height));
    }
    Image image = readImage("disparity map", path, 1);
    for (float &d : image.values) {
        if (!std::isfinite(d)) {
            throw std::runtime_error("The disparity map " + inQuotes(path)
                                     + " has a value that is not a finite number");
        }
        if (negate)
            d = -d;
    }
    return image;
}

struct DisparityRange
{
    float lowest = 0.0f;
    float highest = 0.0f;
};

DisparityRange rangeOf(const std::vector<float> &map)
{
    const auto [low, high] = std::minmax_element(map.begin(), map.end());
    return {*low, *high};
}

// The range that holds both.
DisparityRange joined(DisparityRange a, DisparityRange b)
{
    return {std::min(a.lowest, b.lowest), std::max(a.highest, b.highest)};
}

constexpr DisparityRange noRangeYet {std::numeric_limits<float>::infinity(),
                                     -std::numeric_limits<float>::infinity()};

// One view's map, and where that view lies in the folder's grid after flipping.
struct ReferenceMap
{
    Image map;
    double column = 0;
    double row = 0;
};

ReferenceMap readReferenceMap(const ImportOptions &options, const FolderGrid &grid,
                              const ImageFacts &views)
{
    ReferenceMap reference;
    reference.column =
        options.referenceColumn < 0 ? (grid.columns - 1) / 2 : options.referenceColumn;
    reference.row = options.referenceRow < 0 ? (grid.rows - 1) / 2 : options.referenceRow;
    if (reference.column >= grid.columns || reference.row >= grid.rows) {
        throw std::runtime_error("the disparity map's view, "
                                 + describeView(int(reference.column), int(reference.row))
                                 + ", lies outside the folder's grid of "
                                 + sizeText(grid.columns, grid.rows) + " views");
    }
    reference.map = readMap(options.referenceDisparity, views, options.negateDisparity);
    return reference;
}

// The range of the per-view maps of the views kept, over what the crop keeps of them, in the
// folder's pixels and view steps.
DisparityRange perViewMapRange(const FolderViews &folder, const ImageFacts &views, const Crop &crop,
                               bool negate)
{
    DisparityRange range = noRangeYet;
    for (int row = 0; row < folder.storedRows(); ++row) {
        for (int column = 0; column < folder.storedColumns(); ++column) {
            const Image map =
                cropped(readMap(folder.mapPath(folder.sourceOf(column, row)), views, negate),
                        crop.left, crop.top, crop.width, crop.height);
            range = joined(range, rangeOf(map.values));
        }
    }
    return range;
}

// Estimated maps come in the light field's steps and pixels already, from the views as they will
// be stored before any refocusing; those views are kept for writing.
struct Estimate
{
    std::vector<Image> views;
    std::vector<std::vector<float>> maps;
};

Estimate estimateDisparities(const FolderViews &folder, const ImageFacts &facts,
                             const Framing &framing, const ImportOptions &options,
                             const Progress &progress)
{
    Estimate estimate;
    for (int row = 0; row < folder.storedRows(); ++row) {
        for (int column = 0; column < folder.storedColumns(); ++column) {
            estimate.views.push_back(
                framed(readView(folder.viewPath(folder.sourceOf(column, row)), facts), framing));
        }
    }
    std::vector<const std::vector<float> *> colours;
    for (const Image &view : estimate.views)
        colours.push_back(&view.values);
    estimation::EstimateOptions search;
    search.lowest = options.estimateLowest;
    search.highest = options.estimateHighest;
    estimate.maps = estimation::estimateDisparities(
        estimation::intensitiesOf(colours, framing.width, framing.height, facts.floatingPoint),
        folder.storedColumns(), folder.storedRows(), search, [&progress](int done, int count) {
            if (progress)
                progress("estimated", done, count);
        });
    return estimate;
}

// Sets the stored views' size, the refocus offset and the disparity range and bound from the
// range of the folder's disparities; storedScale takes those to the light field's steps and
// pixels.
void fitDisparities(ImportSummary &summary, DisparityRange folderRange, float storedScale,
                    const Framing &framing, int maxDisparity)
{
    const float lowest = folderRange.lowest;
    const float highest = folderRange.highest;
    if (summary.disparity && lowest < 0.0f)
        summary.refocusOffset = int(std::ceil(-lowest * storedScale));
    const int offset = summary.refocusOffset;
    summary.width = framing.width - offset * (summary.columns - 1);
    summary.height = framing.height - offset * (summary.rows - 1);
    if (summary.width < 1 || summary.height < 1) {
        throw std::runtime_error(
            "the disparities reach down to " + std::to_string(lowest)
            + " pixels per view step; shifting the views by " + std::to_string(offset)
            + " pixels per step to make them non-negative leaves nothing that every view shows");
    }
    summary.minDisparity = summary.disparity ? lowest * storedScale + offset : 0.0f;
    summary.maxDisparity = summary.disparity ? highest * storedScale + offset : 0.0f;
    summary.maxDisparityBound = int(std::ceil(summary.maxDisparity));
    if (maxDisparity >= 0) {
        if (maxDisparity < summary.maxDisparity) {
            throw std::runtime_error("the disparities reach " + std::to_string(summary.maxDisparity)
                                     + " pixels per view step, above the bound asked for, "
                                     + std::to_string(maxDisparity));
        }
        summary.maxDisparityBound = summary.disparity ? maxDisparity : 0;
    }
    if (summary.maxDisparityBound > std::max(summary.width, summary.height)) {
        throw std::runtime_error("the disparities reach " + std::to_string(summary.maxDisparity)
                                 + " pixels per view step, more than the views' larger side");
    }
}

// Where the stored views and their disparities come from.
struct ImportSources
{
    const FolderViews &folder;
    const ImageFacts &facts;
    const Framing &framing;
    const ImportOptions &options;
    const ReferenceMap *reference; // one view's map, or none
    const Estimate *estimate; // estimated maps and the views they came from, or none
    float storedScale; // from the folder's view steps and pixels to the light field's
};

// The view at (column, row) as the light field stores it, before refocusing.
Image storedView(const ImportSources &sources, int column, int row)
{
    if (sources.estimate)
        return sources.estimate->views[std::size_t(row) * sources.folder.storedColumns() + column];
    const FolderViews &folder = sources.folder;
    return framed(readView(folder.viewPath(folder.sourceOf(column, row)), sources.facts),
                  sources.framing);
}

// The disparity of the view at (column, row) in the light field's steps and pixels, before
// refocusing.
Image storedDisparity(const ImportSources &sources, int column, int row)
{
    const Framing &framing = sources.framing;
    if (sources.estimate) {
        return Image {
            framing.width, framing.height, 1,
            sources.estimate->maps[std::size_t(row) * sources.folder.storedColumns() + column]};
    }
    const Source source = sources.folder.sourceOf(column, row);
    const ReferenceMap *reference = sources.reference;
    Image map =
        framed(reference ? Image {reference->map.width, reference->map.height, 1,
                                  propagated(reference->map, source.gridColumn - reference->column,
                                             source.gridRow - reference->row)}
                         : readMap(sources.folder.mapPath(source), sources.facts,
                                   sources.options.negateDisparity),
               framing);
    for (float &d : map.values)
        d *= sources.storedScale;
    return map;
}

void writeImported(const std::string &output, const ImportSources &sources,
                   const ImportSummary &summary, const Progress &progress)
{
    // View (column, row) shows at s what the folder's view shows at s + offset · (column, row):
    // every point then moves offset pixels further per view step, and the views are cropped to
    // what all of them share.
    const int offset = summary.refocusOffset;
    const auto refocused = [&summary, offset](const Image &image, int column, int row) {
        return cropped(image, offset * column, offset * row, summary.width, summary.height);
    };

    synth::LightfieldLayout layout;
    layout.width = summary.width;
    layout.height = summary.height;
    layout.columns = summary.columns;
    layout.rows = summary.rows;
    layout.viewSpacing = sources.options.viewSpacing;
    layout.hdr = summary.hdr;
    layout.disparity = summary.disparity;
    layout.maxDisparity = summary.maxDisparityBound;
    const int viewCount = summary.columns * summary.rows;
    int written = 0;
    synth::writeLightfield(
        output, layout,
        [&](int column, int row) {
            const Image view = refocused(storedView(sources, column, row), column, row);
            if (!summary.disparity && progress)
                progress("written", ++written, viewCount);
            return synth::FloatImage {view.width, view.height, std::move(view.values)};
        },
        [&](int column, int row) {
            Image map = refocused(storedDisparity(sources, column, row), column, row);
            for (float &d : map.values)
                d += float(offset);
            if (progress)
                progress("written", ++written, viewCount);
            return map.values;
        });
}

} // namespace

ImportSummary importLightfield(const ImportOptions &options, const std::string &output,
                               const Progress &progress)
{
    const FolderViews folder = openFolder(options);
    ImportSummary summary;
    summary.folderColumns = folder.grid.columns;
    summary.folderRows = folder.grid.rows;
    summary.first = folder.grid.first;
    summary.columns = folder.storedColumns();
    summary.rows = folder.storedRows();

    const ImageFacts facts = probeViews(folder);
    summary.hdr = facts.floatingPoint;
    const bool referenceMap = !options.referenceDisparity.empty();
    summary.disparity = !options.disparities.empty() || referenceMap || options.estimate;
    const Framing framing = frameViews(options, facts);

    std::optional<ReferenceMap> reference;
    DisparityRange range;
    if (referenceMap) {
        reference = readReferenceMap(options, folder.grid, facts);
        range = rangeOf(reference->map.values);
    } else if (!options.disparities.empty()) {
        range = perViewMapRange(folder, facts, framing.crop, options.negateDisparity);
    }
    const float storedScale = float(folder.every * options.scale);
    std::optional<Estimate> estimate;
    if (options.estimate) {
        estimate = estimateDisparities(folder, facts, framing, options, progress);
        range = noRangeYet;
        for (const std::vector<float> &map : estimate->maps) {
            const DisparityRange stored = rangeOf(map);
            range = joined(range, {stored.lowest / storedScale, stored.highest / storedScale});
        }
    }
    fitDisparities(summary, range, storedScale, framing, options.maxDisparity);

    const ImportSources sources {folder,
                                 facts,
                                 framing,
                                 options,
                                 reference ? &*reference : nullptr,
                                 estimate ? &*estimate : nullptr,
                                 storedScale};
    writeImported(output, sources, summary, progress);

    std::error_code error;
    summary.fileBytes = std::int64_t(std::filesystem::file_size(output, error));
    return summary;
}

ExportSummary exportLightfield(const std::string &lightfield, const std::string &directory)
{
    std::unique_ptr<LightfieldReader> reader;
    try {
        reader = std::make_unique<LightfieldReader>(
            QUrl::fromLocalFile(QString::fromStdString(lightfield)));
    } catch (const std::string &message) {
        throw std::runtime_error(message);
    }
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        throw std::runtime_error("Cannot create the folder " + inQuotes(directory) + ": "
                                 + error.message());
    }

    const int columns = reader->columns();
    const int rows = reader->rows();
    const int digits = std::max<int>(2, std::to_string(std::max(columns, rows) - 1).size());
    const std::string digitsText = std::to_string(digits);
    const std::string base = (std::filesystem::path(directory) / "").string();
    ExportSummary summary;
    summary.views = base + "view_{row:0" + digitsText + "}_{col:0" + digitsText + "}"
        + (reader->isHdr() ? ".exr" : ".png");
    if (reader->hasDisparity())
        summary.disparities =
            base + "disparity_{row:0" + digitsText + "}_{col:0" + digitsText + "}.pfm";
    const NamePattern viewNames(summary.views);
    const NamePattern mapNames(reader->hasDisparity() ? summary.disparities : summary.views);

    const int width = reader->width();
    const int height = reader->height();
    const auto write = [&](const std::string &path, int channels, OIIO::TypeDesc format,
                           const std::vector<unsigned char> &bytes, bool rgbe) {
        const OIIO::ImageSpec layout(width, height, channels, format);
        std::vector<float> floats;
        std::vector<unsigned char> rgb;
        const void *pixels = nullptr;
        // Stored rows are bottom-up, image files top-down.
        for (int y = 0; y < height; ++y) {
            const unsigned char *row = bytes.data() + std::size_t(height - 1 - y) * width * 4;
            for (int x = 0; x < width; ++x) {
                const unsigned char *texel = row + std::size_t(x) * 4;
                if (rgbe) {
                    float value[3];
                    decodeRgbe(texel, value);
                    floats.insert(floats.end(), value, value + channels);
                } else {
                    rgb.insert(rgb.end(), texel, texel + 3);
                }
            }
        }
        pixels = rgbe ? static_cast<const void *>(floats.data()) : rgb.data();
        if (channels == 1) {
            writePfm(path, width, height, floats);
            return;
        }
        auto out = OIIO::ImageOutput::create(path);
        if (!out || !out->open(path, layout) || !out->write_image(format, pixels)
            || !out->close()) {
            const std::string reason = out ? out->geterror() : OIIO::geterror();
            std::filesystem::remove(path, error);
            throw std::runtime_error("Cannot write " + inQuotes(path) + ": " + trimmed(reason));
        }
    };

    try {
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < columns; ++column) {
                reader->readNextViewImages(
                    [&](FeatureLayer layer, const std::vector<unsigned char> &bytes) {
                        if (layer == FeatureLayer::RgbeDisparity)
                            write(mapNames.name(column, row, columns, 0), 1, OIIO::TypeDesc::FLOAT,
                                  bytes, true);
                        else if (reader->isHdr())
                            write(viewNames.name(column, row, columns, 0), 3, OIIO::TypeDesc::FLOAT,
                                  bytes, true);
                        else
                            write(viewNames.name(column, row, columns, 0), 3, OIIO::TypeDesc::UINT8,
                                  bytes, false);
                    });
                ++summary.viewCount;
            }
        }
    } catch (const std::string &message) {
        throw std::runtime_error(message);
    }
    return summary;
}

} // namespace folder
