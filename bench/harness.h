// What the end-to-end benchmarks share: mbeeg-sim as a child process, the
// driver connected to its pseudo-terminals, every row copied out of the
// trial ring as it is written, and the rows judged against the packets the
// simulator says it sent (its --truth file).
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "driver/DriveOpnBciMutiBoardzq.h"
#include "sim/TruthFile.h"

namespace bench {

std::string selfDir();
double nowS();
std::uint64_t nowNs();
double cpuS(clockid_t id);
double threadCpuS(std::thread& t);
long rssKib(pid_t pid = 0);  // 0: this process
double loadAvg();
std::vector<int> parseIntList(const std::string& s);
double percentile(std::vector<double> v, double p);
// A path for a scratch file in /dev/shm (else /tmp), unique to this process.
std::string scratchPath(const std::string& what);

struct SimArgs {
    std::string program;
    int boards = 1;
    double dropRate = 0;
    int usbLatencyUs = 1000;
    int usbJitterUs = -1;  // -1: the simulator's own default
    unsigned seed = 7;
    std::string truthPath;  // "": no truth file
    std::vector<std::pair<std::string, std::string>> env;  // e.g. LD_PRELOAD
};

class SimProcess {
public:
    SimProcess() = default;
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;
    ~SimProcess() { stop(); }

    // True once it has listed a port per board.
    bool start(const SimArgs& a);
    // SIGTERM and wait: its truth file is complete afterwards.
    void stop();
    const std::vector<std::string>& ports() const { return ports_; }
    // Port k is truth board k + 1; -1 for a path it does not serve.
    int portIndexOf(const std::string& path) const;

private:
    pid_t pid_ = -1;
    std::vector<std::string> ports_;
};

// The driver on the simulator's ports, found by discovery or opened directly
// (also when discovery does not find every board).
class Rig {
public:
    explicit Rig(const char* name);
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;
    ~Rig();

    bool connect(const SimProcess& sim, bool direct);
    // One trial of samplesPerTrial rows, monitored (written round and round).
    bool monitor(std::int64_t samplesPerTrial);
    void stop();
    // Stops, closes the ports and lets the driver go (the destructor does too).
    void close();

    CDriveOpnBciMutiBoardzq* drv = nullptr;
    CMeAcqDatazq data;
    CHdwrConfigzq cfg;
    std::string how;           // "discovery 3.1 s" or "direct"
    int foundByDiscovery = 0;
    double discoveryS = 0;
    std::vector<int> simBoard;  // driver board b -> simulator port index
    std::vector<int> pts;       // driver board b -> /dev/pts/<n>, -1 if not a pty

    int boards() const { return static_cast<int>(drv->m_dongles.size()); }

private:
    bool direct(const std::vector<std::string>& ports);
    bool stopped_ = true;  // nothing runs until monitor()
};

// Copies each row's EEG counts (8 per board, back from microvolts by each
// board's gain) out of the trial ring before the loop writes over them, into
// a scratch file, so that long runs hold no rows in memory.
class RowWatcher {
public:
    RowWatcher() = default;
    RowWatcher(const RowWatcher&) = delete;
    RowWatcher& operator=(const RowWatcher&) = delete;
    ~RowWatcher();

    bool start(Rig& rig, std::int64_t samplesPerTrial);
    // Copies the rows written since the last look; returns how many. With
    // seenNs, also when each was first seen (0 for rows of the first look,
    // which have no honest time).
    std::int64_t look(std::vector<std::uint64_t>* seenNs = nullptr);
    std::int64_t rows() const { return done_; }
    // Rows the loop has written so far.
    std::int64_t written() const;
    // Rows written over before they were copied (a stall longer than a trial).
    std::int64_t missed() const { return missed_; }
    int boards() const { return boards_; }
    // Reads the copied rows back in order: fn(row, counts[boards][8]).
    void replay(const std::function<void(std::int64_t, const std::int32_t*)>& fn);

private:
    CMeAcqDatazq* data_ = nullptr;
    std::int64_t S_ = 0;
    int boards_ = 0;
    std::vector<double> uvPerCount_;
    std::vector<CMeAcgChannelzq*> chans_;
    std::int64_t done_ = 0;
    std::int64_t missed_ = 0;
    bool first_ = true;
    std::FILE* log_ = nullptr;
    std::vector<std::int32_t> buf_;
};

struct BoardVerdict {
    std::uint64_t rows = 0;
    std::uint64_t repeated = 0;       // rows repeating the board's previous values
    std::uint64_t packetsInRows = 0;  // distinct truth packets seen in rows
    std::uint64_t radioLost = 0;      // truth: lost on the radio, within the board's span
    std::uint64_t cut = 0;            // truth: cut short by a power loss, within the span
    std::uint64_t skipped = 0;        // truth: sent, within the span, in no row
    std::uint64_t unknown = 0;        // rows with values no packet of the board had
    std::uint64_t backwards = 0;      // rows showing a packet older than the one before
    std::uint64_t offsetChanges = 0;  // times (truth position - row) changed
    std::int64_t firstIndex = -1, lastIndex = -1;  // truth indexes of the span
};

struct TruthVerdict {
    std::vector<BoardVerdict> boards;  // by driver board
    // Rows in which some board repeated its values or showed a packet after
    // a gap: the rows a lost packet touched.
    std::vector<std::uint8_t> affected;
    std::vector<std::string> findings;  // the first places where rows and truth differ
    std::uint64_t findingsTotal = 0;
    std::string error;

    std::uint64_t sum(std::uint64_t BoardVerdict::*f) const {
        std::uint64_t s = 0;
        for (const auto& b : boards) s += b.*f;
        return s;
    }
};

// Judges the copied rows against the truth file. onFresh(row, board, counts)
// is called for each row in which a board shows a new packet of its own.
// simBoard maps driver boards to simulator ports (Rig::simBoard).
TruthVerdict judgeRows(RowWatcher& rows, const std::vector<int>& simBoard, const std::string& truthPath,
                       const std::function<void(std::int64_t, int, const std::int32_t*)>& onFresh = {});

// The driver's per-board counts, taken when it has stopped.
struct DriverCounts {
    std::uint64_t rows = 0, packets = 0, held = 0, badFooters = 0, outOfStep = 0, driftHeld = 0, driftDropped = 0;
};
std::vector<DriverCounts> driverCounts(const Rig& rig);

// Summed over boards: packets the driver put in sequence (m_statPackets)
// that no row shows.
std::uint64_t lostRows(const std::vector<DriverCounts>& counts, const TruthVerdict& v);

}  // namespace bench
