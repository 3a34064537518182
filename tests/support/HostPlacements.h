// Where hosts put a frame in time, worked out in exact 128-bit arithmetic
// from a rate and a host's clock alone, for the tests of which frame a time
// means (tests/base at the rule itself, tests/importer through the plug-in).
//
// Frame i starts at i x P / num ticks, P = ticks per second x den. A host
// rounds that start down, up or to nearest, or steps by a ticks-per-frame
// figure rounded down or to nearest; the importer must answer frame i for
// each of those, for the middle of the frame and for the tick where the
// frame begins, and frame i - 1 for the tick before.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "base/FrameRate.h" // the type alone

namespace keotest {

using i128 = __int128;

inline i128 floorDiv(i128 a, i128 b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}
inline i128 ceilDiv(i128 a, i128 b) {
    return -floorDiv(-a, b);
}

struct Clock {
    keo::FrameRate rate;
    int64_t ticksPerSecond;
    i128 p() const { return static_cast<i128>(ticksPerSecond) * rate.den; } // P above
};

inline std::string describe(const Clock& c) {
    return std::to_string(c.rate.num) + "/" + std::to_string(c.rate.den) + " fps on a clock of " +
           std::to_string(c.ticksPerSecond);
}

// The tick where frame i begins: the one that holds its exact start, or the
// first that falls short of it by no more than what a host stepping by
// rounded-down ticks per frame has lost by then, i times the part of a tick
// beyond a frame's whole ticks, at most a sixteenth of a frame.
inline i128 beginningOf(const Clock& c, i128 i) {
    const i128 p = c.p(), num = c.rate.num;
    const i128 lost = std::min(16 * i * (p % num), p); // over 16 x num
    return std::min(floorDiv(i * p, num), ceilDiv(16 * i * p - lost, 16 * num));
}

// Every time at which a host means frame `i`, as (time, i): its start
// rounded three ways, the middle of the frame, its first tick and its last
// (the tick before frame i + 1 begins), and i steps of ticks per frame
// rounded down or to nearest, while what those lose (or gain), i x (P / num
// - figure) ticks, is within a sixteenth of a frame.
inline std::vector<std::pair<i128, i128>> placements(const Clock& c, i128 i) {
    const i128 p = c.p(), num = c.rate.num, start = i * p; // over num
    std::vector<std::pair<i128, i128>> out = {
        {floorDiv(start, num), i},
        {ceilDiv(start, num), i},
        {floorDiv(2 * start + num, 2 * num), i},
        {floorDiv(start + start + p, 2 * num), i}, // the middle
        {beginningOf(c, i), i},
        {beginningOf(c, i + 1) - 1, i},
    };
    for (const i128 figure : {floorDiv(p, num), floorDiv(2 * p + num, 2 * num)}) {
        const i128 drift = start - i * figure * num; // over num
        if (16 * (drift < 0 ? -drift : drift) <= p)
            out.push_back({i * figure, i});
    }
    return out;
}

// Log-uniform in [1, 2^bits): small terms as often as large ones.
inline int64_t draw(std::mt19937_64& rng, int bits) {
    const int b = std::uniform_int_distribution<int>(1, bits)(rng);
    return std::uniform_int_distribution<int64_t>(int64_t{1} << (b - 1),
                                                  (int64_t{1} << b) - 1)(rng);
}

// Terms a movie can state, and a frame of three ticks or more whose length
// fits a 64-bit time.
inline bool usable(const Clock& c) {
    return c.ticksPerSecond > 0 && c.rate.num > 0 && c.rate.num <= INT32_MAX && c.rate.den > 0 &&
           c.rate.den <= INT32_MAX && c.p() >= 3 * c.rate.num && c.p() / c.rate.num <= INT64_MAX;
}

// True when ticks per frame is not whole and its nearest whole tick is below
// it: a host that steps by that figure falls behind every frame's start.
inline bool roundsDown(const Clock& c) {
    const i128 rest = c.p() % c.rate.num;
    return rest != 0 && 2 * rest < c.rate.num;
}

} // namespace keotest
