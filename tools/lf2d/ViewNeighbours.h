#pragma once

#include "DisparityEstimation.h"

#include <array>
#include <cstdint>
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

// A pixel is matched against one of the halves, or against every side at once where no half
// matches it clearly better (no occlusion): twice the views, and no choice among four by margins
// as small as noise, which would favour the views whose noise happens to agree with the sweep's
// candidate and pull the refinement towards it.
constexpr std::int32_t wholeCross = std::int32_t(halves.size());
// The cost of the whole cross may exceed the best half's by this share, and by occlusionFloor, and
// still count as no clear difference.
constexpr float occlusionShare = 0.25f;
constexpr float occlusionFloor = 0.002f;

// Whether costs of the whole cross and of the best half tell of an occlusion.
inline bool occluded(float wholeCost, float bestHalfCost)
{
    return wholeCost > (1.0f + occlusionShare) * bestHalfCost + occlusionFloor;
}

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

inline Side opposite(Side side)
{
    return side == Left ? Right : side == Right ? Left : side == Up ? Down : Up;
}

// The sides each neighbourhood of one view matches against: per half its two sides, and for
// wholeCross every side with views. A half whose side has no views (a view of the grid's top row
// has none above) takes the opposite side instead, for alone, the half's other side would match
// stripes running along it at every disparity; only where the view has no neighbours along an
// axis at all does a half keep one side.
class Neighbourhoods
{
public:
    struct Sides
    {
        std::array<Side, SideCount> sides {};
        int count = 0;
        float weight = 0.0f; // 1 over the views of the sides; 0 where there are none
    };

    explicit Neighbourhoods(const SideNeighbours &neighbours)
    {
        for (std::size_t h = 0; h <= halves.size(); ++h) {
            Sides &entry = m_entries[h];
            std::size_t views = 0;
            const auto add = [&](Side side) {
                entry.sides[std::size_t(entry.count++)] = side;
                views += neighbours[side].size();
            };
            if (h == halves.size()) {
                for (Side side : {Left, Right, Up, Down}) {
                    if (!neighbours[side].empty())
                        add(side);
                }
            } else {
                for (Side side : halves[h]) {
                    if (!neighbours[side].empty())
                        add(side);
                    else if (!neighbours[opposite(side)].empty())
                        add(opposite(side));
                }
            }
            entry.weight = views > 0 ? 1.0f / float(views) : 0.0f;
        }
    }

    // Of one of halves, or of wholeCross.
    const Sides &operator[](std::int32_t neighbourhood) const
    {
        return m_entries[std::size_t(neighbourhood)];
    }

private:
    std::array<Sides, halves.size() + 1> m_entries;
};

} // namespace estimation
