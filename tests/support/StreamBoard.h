// A board behind a memory port for the stream tests: scripted bytes, or a
// packet stream that starts on "b" and stops on "s", with radio losses, a
// stall in mid-packet and power-off. Packet contents are a function of the
// board and the sample index, so a test can check which packet fed a row.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "serialport/Backend.h"

class CConfigComRadiozq;

namespace streamtest {

using Bytes = std::vector<std::uint8_t>;

// A 33-byte packet: eight 24-bit EEG counts, six aux bytes and a footer.
Bytes makePacket(int sampleNo, const std::int32_t counts[8], const std::uint8_t aux[6], std::uint8_t footer);
// The EEG count a streaming board sends for (board, pin, sample index).
std::int32_t countFor(int board, int pin, std::int64_t index);

class StreamBoard : public mbeeg::serial::MemoryDevice {
public:
    explicit StreamBoard(int board) : board_(board) {}

    // Scripted bytes, due at or after atUs.
    void push(const Bytes& bytes, std::int64_t atUs = 0);

    // Streaming: every board sends on one time grid, packet k at k * period
    // (from the first grid point after "b"), so packet k of every board
    // belongs to the same sample period. Packets whose index is in lost never
    // leave the board (their sample numbers are skipped). Footer 0xC1
    // packets carry the index in their aux bytes; 0xC0 packets an
    // accelerometer X of board + 1 counts.
    void setFooter(std::uint8_t footer) { std::lock_guard<std::mutex> l(mu_); footer_ = footer; }
    void loseIndex(std::int64_t k) { std::lock_guard<std::mutex> l(mu_); lost_.insert(k); }
    // After packet index k has gone out, the board sends the first
    // partialBytes of packet k+1 and then nothing more.
    void powerOffAfter(std::int64_t k, int partialBytes);

    std::string received() const { std::lock_guard<std::mutex> l(mu_); return rx_; }
    std::int64_t packetsSent() const { std::lock_guard<std::mutex> l(mu_); return sent_; }
    bool streaming() const { std::lock_guard<std::mutex> l(mu_); return streaming_; }

    bool plugged() const override { return true; }
    void receive(const std::uint8_t* data, std::size_t n, std::int64_t nowUs) override;
    std::size_t transmit(std::uint8_t* out, std::size_t max, std::int64_t nowUs) override;
    std::int64_t nextTransmitUs(std::int64_t nowUs) override;

    static constexpr std::int64_t kPeriodUs = 4000;

private:
    void generate(std::int64_t nowUs);

    struct Chunk {
        std::int64_t due;
        Bytes bytes;
        std::size_t off = 0;
    };
    mutable std::mutex mu_;
    int board_;
    std::deque<Chunk> q_;
    std::string rx_;
    bool streaming_ = false;
    std::int64_t next_ = 0;  // index of the next packet to generate
    std::int64_t sent_ = 0;
    std::uint8_t footer_ = 0xC0;
    std::set<std::int64_t> lost_;
    std::int64_t offAfter_ = -1;
    int partial_ = 0;
};

// A memory port for the device, registered under COM<201+slot>; the
// dongle gets an open port on it and a Cyton gain tracker.
std::shared_ptr<StreamBoard> attachBoard(CConfigComRadiozq& dongle, int slot);
void detachAllBoards();

}  // namespace streamtest
