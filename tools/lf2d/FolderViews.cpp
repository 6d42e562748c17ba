#include "FolderViews.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <stdexcept>

namespace folder {
namespace {

constexpr int maxPlaceholderWidth = 9;

std::string padded(int number, int width)
{
    std::string digits = std::to_string(number);
    if (int(digits.size()) < width)
        digits.insert(0, std::size_t(width) - digits.size(), '0');
    return digits;
}

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
        } else if (field == "*") {
            if (m_hasWildcard || text.find('/', close) != std::string::npos) {
                throw std::invalid_argument("the pattern " + inQuotes(text)
                                            + " may have one {*}, in the file's name only");
            }
            piece.kind = Kind::Wildcard;
            m_hasWildcard = true;
        } else {
            throw std::invalid_argument("the pattern " + inQuotes(text) + " has an unknown field {"
                                        + field + "}: use {row}, {col}, {index} or {*}");
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
        case Kind::Wildcard:
            result += '*';
            break;
        }
    }
    return m_hasWildcard ? matchWildcard(result) : result;
}

std::string NamePattern::matchWildcard(const std::string &name) const
{
    const std::filesystem::path path(name);
    const std::string file = path.filename().string();
    const std::size_t star = file.find('*');
    const std::string head = file.substr(0, star);
    const std::string tail = file.substr(star + 1);
    if (!m_listing) {
        auto listing = std::make_shared<std::vector<std::string>>();
        std::error_code error;
        const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
        for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
             entry.increment(error))
            listing->push_back(entry->path().filename().string());
        // Sorted, so that a message naming several matches names them in the same order each
        // time.
        std::sort(listing->begin(), listing->end());
        m_listing = std::move(listing);
    }
    std::vector<std::string> matches;
    for (const std::string &candidate : *m_listing) {
        if (candidate.size() >= head.size() + tail.size()
            && candidate.compare(0, head.size(), head) == 0
            && candidate.compare(candidate.size() - tail.size(), tail.size(), tail) == 0)
            matches.push_back((path.parent_path() / candidate).string());
    }
    if (matches.size() > 1) {
        throw std::runtime_error("Several files match " + inQuotes(name) + ": "
                                 + inQuotes(matches[0]) + " and " + inQuotes(matches[1])
                                 + "; one view a name");
    }
    return matches.empty() ? name : matches.front();
}

namespace {

// One source of disparity at most.
void checkDisparitySources(const ImportOptions &options)
{
    const bool perViewMaps = !options.disparities.empty();
    const bool referenceMap = !options.referenceDisparity.empty();
    if (perViewMaps && referenceMap)
        throw std::runtime_error("give per-view disparity maps or one view's map, not both");
    if (options.estimate && (perViewMaps || referenceMap))
        throw std::runtime_error("estimate disparity or read it from maps, not both");
}

} // namespace

FolderViews openFolder(const ImportOptions &options)
{
    NamePattern views(options.views);
    checkDisparitySources(options);
    const bool perViewMaps = !options.disparities.empty();
    NamePattern maps(perViewMaps ? options.disparities : options.views);
    if (perViewMaps && maps.usesIndex() != views.usesIndex())
        throw std::runtime_error("the disparity maps must be numbered as the views are");

    const FolderGrid grid = findGrid(views, options.columns, options.rows);
    if (grid.columns < 1 || grid.rows < 1)
        throw std::runtime_error("No view matches " + inQuotes(views.text()));
    return {std::move(views),    std::move(maps),  grid,   std::max(1, options.every),
            options.flipColumns, options.flipRows, nullptr};
}

FolderViews viewsInMemory(const ImportOptions &options, std::vector<Image> images, int columns,
                          int rows)
{
    checkDisparitySources(options);
    if (!options.disparities.empty())
        throw std::runtime_error("views read from one picture have no per-view maps");
    if (columns < 1 || rows < 1 || images.size() != std::size_t(columns) * std::size_t(rows))
        throw std::logic_error("the views do not fill their grid");
    FolderViews folder;
    folder.grid = {columns, rows, 0};
    folder.every = std::max(1, options.every);
    folder.flipColumns = options.flipColumns;
    folder.flipRows = options.flipRows;
    folder.memory = std::make_shared<const std::vector<Image>>(std::move(images));
    return folder;
}

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

} // namespace folder
