#include "DisparityRefinement.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace estimation {
namespace {

// As the sweep's truncation: a difference beyond it is just "a mismatch", and a view that does
// not see the pixel counts as one.
constexpr float mismatch = 0.08f;
// A neighbour's disparity replaces the pixel's own when its mismatch is below this share of the
// own one: a pole's pixels match their own disparity several times better than the background's,
// where two disparities of one surface differ by noise alone.
constexpr float clearlyBetter = 0.7f;
// Disparities closer than this are one surface's, left to the refinement.
constexpr float sameSurface = 0.25f;

// How well one disparity matches one pixel in every view of the row and column: the mean
// truncated intensity difference over the views of each half-neighbourhood, the best half's.
class PixelMatch
{
public:
    PixelMatch(const Intensity &view, const SideNeighbours &neighbours)
        : m_view(view)
        , m_neighbours(neighbours)
        , m_neighbourhoods(neighbours)
    { }

    float operator()(int x, int y, float d, std::int32_t &bestHalf) const
    {
        const int width = m_view.width;
        const int height = m_view.height;
        const float own = m_view.values[std::size_t(y) * width + x];
        std::array<float, SideCount> sums {};
        for (int side = 0; side < SideCount; ++side) {
            for (const Neighbour &neighbour : m_neighbours[side]) {
                const float *values = neighbour.view->values.data();
                float s = 0.0f;
                int length = 0;
                const float *line = nullptr;
                std::ptrdiff_t stride = 1;
                if (neighbour.columns != 0) {
                    s = float(x) - d * float(neighbour.columns);
                    length = width;
                    line = values + std::size_t(y) * width;
                } else {
                    s = float(y) - d * float(neighbour.rows);
                    length = height;
                    line = values + x;
                    stride = width;
                }
                if (!(s >= 0.0f && s <= float(length - 1))) {
                    sums[side] += mismatch;
                    continue;
                }
                const int i = std::min(int(s), length - 2 < 0 ? 0 : length - 2);
                const float t = s - float(i);
                const float at = line[i * stride];
                const float next = length > 1 ? line[(i + 1) * stride] : at;
                sums[side] += std::min(std::abs(at + t * (next - at) - own), mismatch);
            }
        }
        const auto costOf = [&](std::int32_t neighbourhood) {
            const Neighbourhoods::Sides &entry = m_neighbourhoods[neighbourhood];
            float sum = 0.0f;
            for (int k = 0; k < entry.count; ++k)
                sum += sums[entry.sides[std::size_t(k)]];
            return entry.weight > 0.0f ? sum * entry.weight : mismatch;
        };
        float best = mismatch;
        for (std::int32_t h = 0; h < wholeCross; ++h) {
            const float cost = costOf(h);
            if (cost < best) {
                best = cost;
                bestHalf = h;
            }
        }
        if (!occluded(costOf(wholeCross), best))
            bestHalf = wholeCross;
        return best;
    }

private:
    const Intensity &m_view;
    const SideNeighbours &m_neighbours;
    Neighbourhoods m_neighbourhoods;
};

} // namespace

void propagateDisparity(const Intensity &view, const SideNeighbours &neighbours,
                        std::vector<float> &disparity, std::vector<std::int32_t> &half)
{
    const int width = view.width;
    const int height = view.height;
    const PixelMatch match(view, neighbours);
    // One pass takes from the pixels before it (left and above), already updated, the other from
    // those after it: a disparity travels the whole length of a pole in one pass.
    for (const int direction : {1, -1}) {
        const int firstY = direction > 0 ? 0 : height - 1;
        const int firstX = direction > 0 ? 0 : width - 1;
        for (int y = firstY; y >= 0 && y < height; y += direction) {
            for (int x = firstX; x >= 0 && x < width; x += direction) {
                const std::size_t p = std::size_t(y) * width + x;
                float ownCost = -1.0f; // not yet measured
                const int fromX = x - direction;
                const int fromY = y - direction;
                const std::array<std::pair<bool, std::size_t>, 2> from {{
                    {fromX >= 0 && fromX < width, p - std::size_t(direction)},
                    {fromY >= 0 && fromY < height, p - std::size_t(direction) * width},
                }};
                for (const auto &[inside, q] : from) {
                    if (!inside || std::abs(disparity[q] - disparity[p]) < sameSurface)
                        continue;
                    std::int32_t ownHalf = half[p];
                    if (ownCost < 0.0f)
                        ownCost = match(x, y, disparity[p], ownHalf);
                    std::int32_t otherHalf = half[p];
                    const float otherCost = match(x, y, disparity[q], otherHalf);
                    if (otherCost < clearlyBetter * ownCost) {
                        disparity[p] = disparity[q];
                        half[p] = otherHalf;
                        ownCost = otherCost;
                    }
                }
            }
        }
    }
}

} // namespace estimation
