// What each simulated board really sent, as a text file that a run writes as
// it goes and a test or benchmark reads afterwards to judge the host's view.
//
//   # board index sample dropped c1 c2 c3 c4 c5 c6 c7 c8
//   1 0 0 0 -1200 4410 ...
//
// One line per stream packet: board (1-based), packet index since that
// board's stream started (a new "b" starts it again at 0), sample number,
// dropped (0 sent, 1 lost on the radio, 2 cut short by a power loss), then
// the eight signed 24-bit counts (channels 9-16 on a Daisy's odd packets).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/PacketRecord.h"

namespace sim {

enum TruthDropped { kTruthSent = 0, kTruthDropped = 1, kTruthCut = 2 };

// Writes out and forgets: only what was made since the last flush is held.
class TruthWriter final : public PacketSink {
public:
    // Flushed when flushEveryUs of world time have passed, and at the end.
    explicit TruthWriter(const std::string& path, std::int64_t flushEveryUs = 250'000);
    ~TruthWriter() override;
    TruthWriter(const TruthWriter&) = delete;
    TruthWriter& operator=(const TruthWriter&) = delete;

    // "" while all is well, else why the file is not (fully) written.
    const std::string& error() const { return error_; }
    void packet(int board, const PacketRecord& r) override;
    void reached(std::int64_t nowUs) override;
    void flush();

private:
    int fd_ = -1;
    std::string path_;
    std::string buf_;
    std::string error_;
    std::int64_t flushEveryUs_;
    std::int64_t lastFlushUs_ = -1;
};

struct TruthRow {
    int board = 0;  // 1-based
    std::uint32_t index = 0;
    std::uint8_t sample = 0;
    int dropped = kTruthSent;
    std::array<std::int32_t, 8> counts{};
};

// Rows of each board, indexed by board - 1. An unfinished last line (a run
// still writing) is left out; a malformed one throws std::runtime_error, as
// does a file that cannot be read.
std::vector<std::vector<TruthRow>> readTruthFile(const std::string& path);

}  // namespace sim
