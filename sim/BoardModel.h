// The firmware of one simulated Cyton board: its ASCII command set, the state
// the commands change, and the 250 Hz packet stream. Not locked: the World
// calls it with its lock held.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "sim/Cyton.h"
#include "sim/PacketRecord.h"
#include "sim/Rng.h"
#include "sim/SignalModel.h"
#include "sim/SimConfig.h"

namespace sim {

struct ChannelState {
    bool powerDown = false;
    int gainCode = 6;   // index into kGains
    int inputType = 0;  // 0 Normal .. 7 BIAS DRN
    bool bias = true;
    bool srb2 = true;
    bool srb1 = false;
    bool leadOffP = false;  // impedance drive on the positive input
    bool leadOffN = false;
};

enum class BoardMode { Default = 0, Debug, Analog, Digital, Marker };

class BoardModel {
public:
    static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

    BoardModel(int index, const BoardConfig& cfg, std::uint64_t seed, int defaultChannel);

    // Bytes arriving over the radio at time t; returns what the board sends back.
    std::string radioIn(const std::uint8_t* p, std::size_t n, std::int64_t t);
    // When the next stream packet is due; kNever while not streaming.
    std::int64_t nextPacketUs() const;
    // Builds the packet due at nextPacketUs() and moves on.
    PacketRecord emitPacket();

    void powerOff();
    void powerOn();
    // The next packet stops after this many bytes and the board is then off.
    void cutNextPacket(int bytes);
    void setDriftPpm(double ppm);
    void setDropRate(double rate) { dropRate_ = rate; }
    void setFooters(std::vector<std::uint8_t> f) { footers_ = std::move(f); }

    int index() const { return index_; }
    bool powered() const { return powered_; }
    int channel() const { return channel_; }
    void setChannel(int c) { channel_ = c; }
    bool streaming() const { return streaming_; }
    bool daisyFitted() const { return daisyFitted_; }
    bool daisyAttached() const { return daisyAttached_; }
    BoardMode mode() const { return mode_; }
    bool timeStamping() const { return timeStamping_; }
    TestSignal testSignal() const { return test_; }
    const ChannelState& channelState(int ch) const { return chans_[ch]; }
    int gain(int ch) const { return kGainsOf(chans_[ch].gainCode); }
    const SignalModel& signal() const { return signal_; }
    double driftPpm() const { return driftPpm_; }
    bool sdFileOpen() const { return sdOpen_; }

private:
    static int kGainsOf(int code);
    void resetChannels();
    void handleByte(std::uint8_t b, std::int64_t t, std::string& out);
    void applyChannelFrame(const std::string& f, std::string& out);
    void applyLeadOffFrame(const std::string& f, std::string& out);
    void setMode(std::uint8_t b, std::string& out);
    void setTestSignal(TestSignal s, std::string& out);
    void startStream(std::int64_t t);
    std::string registerDump() const;
    std::string resetBanner() const;
    void say(std::string& out, const std::string& text) const;
    void fillAux(PacketRecord& r, double tBoard);

    const int index_;
    const bool daisyFitted_;
    const bool sdCard_;
    int channel_;
    bool powered_ = true;
    bool streaming_ = false;
    bool daisyAttached_ = false;
    bool timeStamping_ = false;
    bool stampSetPending_ = false;
    BoardMode mode_ = BoardMode::Default;
    TestSignal test_ = TestSignal::None;
    std::array<ChannelState, 16> chans_{};

    // Command parsing: multi-byte frames collect here.
    enum class Parse { Idle, ChannelFrame, LeadOffFrame, Mode };
    Parse parse_ = Parse::Idle;
    std::string frame_;
    std::int64_t frameStartUs_ = 0;

    // Stream timing.
    std::int64_t streamStartUs_ = 0;
    std::int64_t anchorUs_ = 0;
    std::uint32_t anchorK_ = 0;
    std::uint32_t k_ = 0;
    std::int64_t lastPacketUs_ = 0;
    double driftPpm_ = 0;
    double periodUs_ = static_cast<double>(kSamplePeriodUs);
    std::uint32_t stampPackets_ = 0;
    std::array<std::int16_t, 3> accel_{};

    double dropRate_ = 0;
    std::vector<std::uint8_t> footers_;
    int cutAfter_ = -1;
    bool sdOpen_ = false;
    int sdFileNo_ = 0;
    std::int64_t sdOpenedUs_ = 0;

    SignalModel signal_;
    Rng rng_;
};

}  // namespace sim
