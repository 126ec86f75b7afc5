// Stored rows against what the simulator's boards really sent.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/SimRig.h"
#include "sim/TruthFile.h"

namespace truthtest {

using Counts = std::array<std::int32_t, 8>;

// A board's packets so far, as its truth file would have them.
std::vector<sim::TruthRow> truthOf(const sim::SimBoard& board);

// From the one sent packet with the first row's counts, each row is the next
// packet: sent, with its counts, or lost on the radio and held. Counts compare
// as a file stores them (the negative full scale clipped by one).
struct Walk {
    std::size_t first = 0, last = 0;  // truth indexes of the first and last row
    std::uint64_t spanDrops = 0, trailingDrops = 0;
    std::string error;  // "" when every row is what it must be
};
Walk walk(const std::vector<Counts>& rows, const std::vector<sim::TruthRow>& truth);

}  // namespace truthtest
