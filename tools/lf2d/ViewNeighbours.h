#pragma once

#include "DisparityEstimation.h"

#include <array>
#include <vector>

// The views one view is matched against, grouped by the side of it they lie on.
namespace estimation {

enum Side
{
    Left,
    Right,
    Up,
    Down,
    SideCount
};

// The four half-neighbourhoods, each pairing a horizontal and a vertical side: a point hidden
// behind an edge from one side of it is still seen from the other, and both baselines keep
// stripes of either orientation unambiguous.
constexpr std::array<std::array<Side, 2>, 4> halves {
    {{Left, Up}, {Right, Up}, {Left, Down}, {Right, Down}}};

struct Neighbour
{
    const Intensity *view = nullptr;
    int columns = 0; // view steps from the view being estimated; one of the two is 0
    int rows = 0;
};

using SideNeighbours = std::array<std::vector<Neighbour>, SideCount>;

// The views along the row and the column of view (column, row), up to farthest steps away,
// nearest first on every side.
inline SideNeighbours neighboursOf(const std::vector<Intensity> &views, int columns, int rows,
                                   int column, int row, int farthest)
{
    SideNeighbours sides;
    for (int distance = 1; distance <= farthest; ++distance) {
        const auto add = [&](Side side, int dc, int dr) {
            const int c = column + dc;
            const int r = row + dr;
            if (c >= 0 && c < columns && r >= 0 && r < rows)
                sides[side].push_back({&views[std::size_t(r) * columns + c], dc, dr});
        };
        add(Left, -distance, 0);
        add(Right, distance, 0);
        add(Up, 0, -distance);
        add(Down, 0, distance);
    }
    return sides;
}

} // namespace estimation
