#pragma once

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

// The plane stages' CPU work over a view runs while the software driver's threads mostly wait for
// the next pass, so every core can take a part of it.

// The fewest texels of a view worth a thread of their own: one starts in some tens of microseconds,
// and a texel takes a few nanoseconds.
constexpr std::int64_t parallelTexels = std::int64_t(1) << 15;

// Into how many contiguous parts forEachPart splits count items: one per core (at most eight),
// each of at least `grain` items, and at least one.
inline std::int64_t partsOf(std::int64_t count, std::int64_t grain)
{
    static const std::int64_t cores = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    return std::max<std::int64_t>(1, std::min(cores, count / std::max<std::int64_t>(grain, 1)));
}

// Runs work(part, begin, end) for each part of [0, count), the last on the calling thread, and
// returns when all are done. The parts must write disjoint data.
template<typename Work> void forEachPart(std::int64_t count, std::int64_t grain, const Work &work)
{
    const std::int64_t parts = partsOf(count, grain);
    std::vector<std::thread> helpers;
    for (std::int64_t part = 0; part + 1 < parts; ++part)
        helpers.emplace_back([&work, part, parts, count] {
            work(part, count * part / parts, count * (part + 1) / parts);
        });
    work(parts - 1, count * (parts - 1) / parts, count);
    for (std::thread &helper : helpers)
        helper.join();
}

// Runs work(begin, end) over [0, count) in parts, as forEachPart does.
template<typename Work>
void inParallel(std::int64_t count, const Work &work, std::int64_t grain = 1)
{
    forEachPart(count, grain,
                [&work](std::int64_t, std::int64_t begin, std::int64_t end) { work(begin, end); });
}

// What work(begin, end) gives for each part of [0, count), in part order.
template<typename Work> auto partResults(std::int64_t count, std::int64_t grain, const Work &work)
{
    std::vector<decltype(work(std::int64_t(), std::int64_t()))> results(
        size_t(partsOf(count, grain)));
    forEachPart(count, grain, [&](std::int64_t part, std::int64_t begin, std::int64_t end) {
        results[size_t(part)] = work(begin, end);
    });
    return results;
}
