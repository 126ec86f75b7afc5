// The simulator's face for tests, demos and benchmarks: a rig of simulated
// Cyton boards, each behind its own simulated dongle, plugged into this
// process as memory serial ports ("mem:<k>", COM<201+k>), on the platform
// clock (virtual in tests). Nothing runs by itself: bytes are made when the
// serial port reads them, so a rig needs no thread.
//
//   platform::ScopedVirtualClock clock;
//   sim::SimRig rig(sim::SimConfig{.boards = 2, .seed = 1});
//   rig.plugIn();                      // COM201, COM202
//   rig.board(1).setDropRate(0.01);    // faults can also change on the fly
//   ... drive the ports ...
//   auto truth = rig.board(0).packets();
//
// Make the rig after installing the virtual clock (its times start then), and
// keep one rig per range of memory ports at a time (SimConfig::firstPort).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serialport/Backend.h"
#include "sim/BoardModel.h"
#include "sim/DongleModel.h"
#include "sim/Cyton.h"
#include "sim/PacketRecord.h"
#include "sim/SimConfig.h"

namespace sim {

class World;

// One board of a rig. A handle: cheap to copy, every call locks the rig and
// first brings it up to the platform clock's time.
class SimBoard {
public:
    SimBoard(std::shared_ptr<World> w, int k) : w_(std::move(w)), k_(k) {}
    int index() const { return k_; }

    bool powered() const;
    void powerOff();
    void powerOn();  // a fresh start: defaults, not streaming
    // The packet now being sent stops after `bytes` bytes, then the board is off.
    void powerOffMidPacket(int bytes);
    int channel() const;
    void setChannel(int c);

    bool streaming() const;
    bool daisyAttached() const;
    BoardMode mode() const;
    bool timeStamping() const;
    TestSignal testSignal() const;
    ChannelState channelState(int ch) const;
    int gain(int ch) const;
    bool sdFileOpen() const;
    ChannelTraits traits(int ch) const;  // the signal model of a channel (electrode ohms, alpha...)

    void setDropRate(double rate);
    void setDriftPpm(double ppm);
    void setFooters(std::vector<std::uint8_t> footers);  // empty: the firmware's own

    // Ground truth.
    std::vector<PacketRecord> packets() const;  // every packet made, dropped ones included
    std::uint64_t packetsMade() const;
    std::uint64_t packetsDropped() const;
    std::uint64_t packetsCut() const;
    std::string received() const;  // every byte that reached the board (SimConfig::keepLog)
    void clearLog();               // forgets packets, received bytes and the counts

private:
    std::shared_ptr<World> w_;
    int k_;
};

// One dongle of a rig; a handle like SimBoard.
class SimDongle {
public:
    SimDongle(std::shared_ptr<World> w, int k) : w_(std::move(w)), k_(k) {}
    int index() const { return k_; }

    int channel() const;
    void setChannel(int c);
    int pollTime() const;
    unsigned baud() const;
    unsigned pcLineRate() const;  // last rate the PC set (0: never)

    bool plugged() const;
    // Unplugged: the port's reads and writes fail; what was queued is lost.
    void unplug();
    void plugIn();
    void setDead(bool dead);
    void setGarbage(double rate, int bytes);
    void injectGarbage(int bytes);  // one burst now

    std::string received() const;  // every byte the PC wrote
    std::vector<GarbageBurst> garbage() const;
    std::size_t queuedBytes() const;
    std::uint64_t overflowBytes() const;

private:
    std::shared_ptr<World> w_;
    int k_;
};

// A dongle as a memory serial port.
class DonglePort final : public mbeeg::serial::MemoryDevice {
public:
    DonglePort(std::shared_ptr<World> w, int k) : w_(std::move(w)), k_(k) {}
    bool plugged() const override;
    void receive(const std::uint8_t* data, std::size_t n, std::int64_t nowUs) override;
    std::size_t transmit(std::uint8_t* out, std::size_t max, std::int64_t nowUs) override;
    std::int64_t nextTransmitUs(std::int64_t nowUs) override;
    void lineRate(unsigned baud) override;

private:
    std::shared_ptr<World> w_;
    int k_;
};

class SimRig {
public:
    explicit SimRig(const SimConfig& cfg = {});
    ~SimRig();  // unregisters its ports; open ports then fail like unplugged ones
    SimRig(const SimRig&) = delete;
    SimRig& operator=(const SimRig&) = delete;

    // Registers every dongle as a memory port.
    void plugIn();
    // Takes dongle k off the port list and unplugs it; replug() brings it back.
    void unplug(int k);
    void replug(int k);

    int boards() const { return n_; }
    SimBoard board(int k) const { return SimBoard(w_, k); }
    SimDongle dongle(int k) const { return SimDongle(w_, k); }
    std::string portPath(int k) const;  // "mem:<firstPort + k>"
    std::string portName(int k) const;  // "COM<201 + firstPort + k>"
    std::shared_ptr<mbeeg::serial::MemoryDevice> device(int k) const { return ports_[k]; }
    std::shared_ptr<World> world() const { return w_; }
    const SimConfig& config() const { return cfg_; }

private:
    SimConfig cfg_;
    int n_;
    std::shared_ptr<World> w_;
    std::vector<std::shared_ptr<DonglePort>> ports_;
    std::vector<bool> registered_;
};

}  // namespace sim
