// Every simulated board and dongle of a rig and the radio between them. Time
// moves only when somebody looks: each call brings the world up to the time
// it is given (packets made, commands delivered, scheduled faults applied), so
// the same calls at the same times give the same bytes, on a virtual clock as
// on the real one. One lock guards everything; the public calls take it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <queue>
#include <string>
#include <vector>

#include "sim/BoardModel.h"
#include "sim/DongleModel.h"
#include "sim/PacketRecord.h"
#include "sim/SimConfig.h"

namespace sim {

struct BoardLog {
    std::vector<PacketRecord> packets;  // every packet made (kept when the config asks)
    std::string received;               // every byte that reached the board
    std::uint64_t made = 0;             // packets made
    std::uint64_t dropped = 0;          // of them lost on the radio
    std::uint64_t cut = 0;              // of them cut short by a power loss
};

class World final : public Radio {
public:
    explicit World(const SimConfig& cfg);

    std::recursive_mutex& mutex() { return mu_; }
    const SimConfig& config() const { return cfg_; }
    std::int64_t epochUs() const { return epochUs_; }

    // Everything below expects the lock to be held.
    void advance(std::int64_t now);
    // Brings the world to the platform clock's now and returns that time.
    std::int64_t advanceToClock();
    // When the next byte for dongle k may be due (at least now); kNever when nothing is coming.
    std::int64_t nextByteUs(int k, std::int64_t now);

    int boardCount() const { return static_cast<int>(boards_.size()); }
    BoardModel& board(int k) { return *boards_[k]; }
    DongleModel& dongle(int k) { return *dongles_[k]; }
    BoardLog& log(int k) { return logs_[k]; }

    // Every packet made from now on also goes to `sink` (not owned; nullptr: none).
    // Takes the lock.
    void setPacketSink(PacketSink* sink);

    // Runs fn(t) when the world reaches time t.
    void at(std::int64_t t, std::function<void(std::int64_t)> fn);

    // Radio
    int boardsOn(int channel, std::int64_t t) override;
    void toBoards(int channel, std::string bytes, std::int64_t t) override;
    void moveBoards(int from, int to, std::int64_t t) override;
    std::int64_t latencyUs() const override { return cfg_.radioLatencyUs; }
    std::int64_t timeoutUs() const override { return cfg_.radioTimeoutUs; }

private:
    struct Event {
        std::int64_t t;
        std::uint64_t seq;
        std::function<void(std::int64_t)> fn;
        bool operator>(const Event& o) const { return t != o.t ? t > o.t : seq > o.seq; }
    };
    // Board output goes to every listening dongle on the board's channel.
    void fromBoard(int k, const std::uint8_t* p, std::size_t n, std::int64_t t, bool streamPacket);
    void schedule(int k, const BoardConfig& b, const DongleConfig& d);

    SimConfig cfg_;
    std::recursive_mutex mu_;
    std::int64_t epochUs_;
    std::int64_t now_;
    std::vector<std::unique_ptr<BoardModel>> boards_;
    std::vector<std::unique_ptr<DongleModel>> dongles_;
    std::vector<BoardLog> logs_;
    std::priority_queue<Event, std::vector<Event>, std::greater<Event>> events_;
    std::uint64_t seq_ = 0;
    PacketSink* sink_ = nullptr;
};

}  // namespace sim
