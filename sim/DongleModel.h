// The firmware of one simulated USB radio dongle: its 0xF0 configuration
// commands, the forwarding of everything else to the board over the radio,
// and the serial line to the PC through an FTDI chip: bytes reach the chip at
// the line rate and go on to the PC in USB packets of up to 62 bytes, sent when
// full or when the latency timer runs out. Not locked: the World calls it with
// its lock held.
#pragma once

#include <cstdint>
#include <deque>
#include <limits>
#include <string>
#include <vector>

#include "sim/Rng.h"
#include "sim/SimConfig.h"

namespace sim {

// What the dongle needs of the radio around it.
class Radio {
public:
    virtual ~Radio() = default;
    // Powered boards listening on this channel at time t.
    virtual int boardsOn(int channel, std::int64_t t) = 0;
    // Sends bytes to every board on the channel; they arrive after the radio latency.
    virtual void toBoards(int channel, std::string bytes, std::int64_t t) = 0;
    // Moves every board on channel `from` to channel `to`.
    virtual void moveBoards(int from, int to, std::int64_t t) = 0;
    virtual std::int64_t latencyUs() const = 0;
    virtual std::int64_t timeoutUs() const = 0;
};

struct GarbageBurst {
    std::int64_t timeUs;
    int bytes;
};

class DongleModel {
public:
    static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
    static constexpr std::size_t kUsbPayload = 62;  // a 64-byte bulk packet less the chip's two status bytes

    // usbLatencyUs 0: every byte goes to the PC on its own as soon as it is in.
    // usbJitterUs: the PC takes each USB packet up to this much late (its scheduler).
    DongleModel(int index, const DongleConfig& cfg, std::uint64_t seed, int defaultChannel,
                std::int64_t usbLatencyUs, std::size_t bufferBytes, bool keepLog, std::int64_t usbJitterUs = 0);

    // Bytes the PC wrote, at time t.
    void fromPc(const std::uint8_t* p, std::size_t n, std::int64_t t, Radio& radio);
    // Bytes from a board that reach the dongle at time t.
    void fromRadio(const std::uint8_t* p, std::size_t n, std::int64_t t, bool streamPacket);
    // Bytes due to the PC by `now`. The caller has brought the world to `now`.
    std::size_t toPc(std::uint8_t* out, std::size_t max, std::int64_t now);
    // When the first queued byte is due; kNever when none is queued. Not
    // `settled` when that is only the latency timer of a USB packet that more
    // bytes, not made yet, could still fill and send earlier.
    std::int64_t nextDueUs(std::int64_t now, bool& settled);

    void unplug();
    void plugIn();
    void injectGarbage(int bytes, std::int64_t t);

    int index() const { return index_; }
    bool plugged() const { return plugged_; }
    bool listening() const { return plugged_ && !dead_; }
    int channel() const { return channel_; }
    void setChannel(int c) { channel_ = c; }
    int pollTime() const { return pollTime_; }
    unsigned baud() const { return baud_; }
    unsigned pcRate() const { return pcRate_; }
    void setPcRate(unsigned r) { pcRate_ = r; }
    bool dead() const { return dead_; }
    void setDead(bool d) { dead_ = d; }
    void setGarbage(double rate, int bytes) {
        garbageRate_ = rate;
        garbageBytes_ = bytes;
    }
    std::size_t queuedBytes() const { return wire_.size(); }
    std::uint64_t overflowBytes() const { return overflow_; }
    const std::string& receivedLog() const { return received_; }
    const std::vector<GarbageBurst>& garbageLog() const { return garbage_; }
    void clearLog() {
        received_.clear();
        garbage_.clear();
    }

private:
    struct WireByte {
        std::int64_t atChipUs;  // its stop bit is in
        unsigned baud;
        std::uint8_t b;
    };
    struct UsbPacket {
        std::int64_t due;  // at the PC
        std::size_t bytes;
    };
    // Cuts the bytes in the chip into USB packets, as far as they are known by `now`.
    void formUsbPackets(std::int64_t now);
    void enqueue(const std::uint8_t* p, std::size_t n, std::int64_t t);
    void reply(const std::string& text, std::int64_t t) {
        enqueue(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), t);
    }
    void command(std::uint8_t code, std::uint8_t arg, std::int64_t t, Radio& radio);
    void flushToBoard(std::int64_t t, Radio& radio);

    const int index_;
    const unsigned defaultBaud_;
    const std::int64_t usbLatencyUs_;
    const std::int64_t usbJitterUs_;
    const std::size_t bufferBytes_;
    const bool keepLog_;
    int channel_;
    int pollTime_;
    unsigned baud_;
    unsigned pcRate_ = 0;  // 0: the PC never set its rate; taken as matching
    bool plugged_ = true;
    bool dead_;
    double garbageRate_;
    int garbageBytes_;

    enum class Parse { Idle, Code, Arg };
    Parse parse_ = Parse::Idle;
    std::uint8_t code_ = 0;
    std::string toBoard_;

    std::deque<WireByte> wire_;
    std::deque<UsbPacket> usb_;     // cut from the front of wire_, in order
    std::size_t inUsb_ = 0;         // bytes of wire_ already in usb_
    std::int64_t timerFromUs_ = 0;  // the latency timer restarts when a full packet goes
    std::int64_t lastDueUs_ = 0;
    double lineFreeUs_ = 0;  // when the serial line has sent its last queued bit
    std::uint64_t overflow_ = 0;
    std::string received_;
    std::vector<GarbageBurst> garbage_;
    Rng rng_;
    Rng jitterRng_;  // apart, so that jitter leaves the garbage the same
};

}  // namespace sim
