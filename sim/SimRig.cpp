#include "sim/SimRig.h"

#include <algorithm>
#include <mutex>

#include "serialport/ComAlias.h"
#include "sim/World.h"

namespace sim {

namespace {
// Locks the rig and brings it to the clock's time.
struct Now {
    explicit Now(World& w) : lock(w.mutex()), t(w.advanceToClock()) {}
    std::lock_guard<std::recursive_mutex> lock;
    std::int64_t t;
};
}  // namespace

// ---- SimBoard ----

bool SimBoard::powered() const { Now n(*w_); return w_->board(k_).powered(); }
void SimBoard::powerOff() { Now n(*w_); w_->board(k_).powerOff(); }
void SimBoard::powerOn() { Now n(*w_); w_->board(k_).powerOn(); }
void SimBoard::powerOffMidPacket(int bytes) { Now n(*w_); w_->board(k_).cutNextPacket(bytes); }
int SimBoard::channel() const { Now n(*w_); return w_->board(k_).channel(); }
void SimBoard::setChannel(int c) { Now n(*w_); w_->board(k_).setChannel(c); }
bool SimBoard::streaming() const { Now n(*w_); return w_->board(k_).streaming(); }
bool SimBoard::daisyAttached() const { Now n(*w_); return w_->board(k_).daisyAttached(); }
BoardMode SimBoard::mode() const { Now n(*w_); return w_->board(k_).mode(); }
bool SimBoard::timeStamping() const { Now n(*w_); return w_->board(k_).timeStamping(); }
TestSignal SimBoard::testSignal() const { Now n(*w_); return w_->board(k_).testSignal(); }
ChannelState SimBoard::channelState(int ch) const { Now n(*w_); return w_->board(k_).channelState(ch); }
int SimBoard::gain(int ch) const { Now n(*w_); return w_->board(k_).gain(ch); }
bool SimBoard::sdFileOpen() const { Now n(*w_); return w_->board(k_).sdFileOpen(); }
ChannelTraits SimBoard::traits(int ch) const { Now n(*w_); return w_->board(k_).signal().traits(ch); }
void SimBoard::setDropRate(double rate) { Now n(*w_); w_->board(k_).setDropRate(rate); }
void SimBoard::setDriftPpm(double ppm) { Now n(*w_); w_->board(k_).setDriftPpm(ppm); }
void SimBoard::setFooters(std::vector<std::uint8_t> f) { Now n(*w_); w_->board(k_).setFooters(std::move(f)); }
std::vector<PacketRecord> SimBoard::packets() const { Now n(*w_); return w_->log(k_).packets; }
std::uint64_t SimBoard::packetsMade() const { Now n(*w_); return w_->log(k_).made; }
std::uint64_t SimBoard::packetsDropped() const { Now n(*w_); return w_->log(k_).dropped; }
std::uint64_t SimBoard::packetsCut() const { Now n(*w_); return w_->log(k_).cut; }
std::string SimBoard::received() const { Now n(*w_); return w_->log(k_).received; }
void SimBoard::clearLog() { Now n(*w_); w_->log(k_) = BoardLog{}; }

// ---- SimDongle ----

int SimDongle::channel() const { Now n(*w_); return w_->dongle(k_).channel(); }
void SimDongle::setChannel(int c) { Now n(*w_); w_->dongle(k_).setChannel(c); }
int SimDongle::pollTime() const { Now n(*w_); return w_->dongle(k_).pollTime(); }
unsigned SimDongle::baud() const { Now n(*w_); return w_->dongle(k_).baud(); }
unsigned SimDongle::pcLineRate() const { Now n(*w_); return w_->dongle(k_).pcRate(); }
bool SimDongle::plugged() const { Now n(*w_); return w_->dongle(k_).plugged(); }
void SimDongle::unplug() { Now n(*w_); w_->dongle(k_).unplug(); }
void SimDongle::plugIn() { Now n(*w_); w_->dongle(k_).plugIn(); }
void SimDongle::setDead(bool d) { Now n(*w_); w_->dongle(k_).setDead(d); }
void SimDongle::setGarbage(double rate, int bytes) { Now n(*w_); w_->dongle(k_).setGarbage(rate, bytes); }
void SimDongle::injectGarbage(int bytes) { Now n(*w_); w_->dongle(k_).injectGarbage(bytes, n.t); }
std::string SimDongle::received() const { Now n(*w_); return w_->dongle(k_).receivedLog(); }
std::vector<GarbageBurst> SimDongle::garbage() const { Now n(*w_); return w_->dongle(k_).garbageLog(); }
std::size_t SimDongle::queuedBytes() const { Now n(*w_); return w_->dongle(k_).queuedBytes(); }
std::uint64_t SimDongle::overflowBytes() const { Now n(*w_); return w_->dongle(k_).overflowBytes(); }

// ---- DonglePort ----

bool DonglePort::plugged() const {
    Now n(*w_);
    return w_->dongle(k_).plugged();
}

void DonglePort::receive(const std::uint8_t* data, std::size_t n, std::int64_t nowUs) {
    std::lock_guard<std::recursive_mutex> lock(w_->mutex());
    w_->advance(nowUs);
    w_->dongle(k_).fromPc(data, n, nowUs, *w_);
}

std::size_t DonglePort::transmit(std::uint8_t* out, std::size_t max, std::int64_t nowUs) {
    std::lock_guard<std::recursive_mutex> lock(w_->mutex());
    w_->advance(nowUs);
    return w_->dongle(k_).toPc(out, max, nowUs);
}

std::int64_t DonglePort::nextTransmitUs(std::int64_t nowUs) {
    std::lock_guard<std::recursive_mutex> lock(w_->mutex());
    w_->advance(nowUs);
    return w_->nextByteUs(k_, nowUs);
}

void DonglePort::lineRate(unsigned baud) {
    std::lock_guard<std::recursive_mutex> lock(w_->mutex());
    w_->dongle(k_).setPcRate(baud);
}

// ---- SimRig ----

SimRig::SimRig(const SimConfig& cfg)
    : cfg_(cfg), n_(std::max(cfg.boards, 0)), w_(std::make_shared<World>(cfg)), registered_(n_, false) {
    for (int k = 0; k < n_; ++k) ports_.push_back(std::make_shared<DonglePort>(w_, k));
}

SimRig::~SimRig() {
    for (int k = 0; k < n_; ++k)
        if (registered_[k]) mbeeg::serial::unregisterMemoryPort(portPath(k));
}

std::string SimRig::portPath(int k) const { return "mem:" + std::to_string(cfg_.firstPort + k); }
std::string SimRig::portName(int k) const { return mbeeg::serial::aliasForPath(portPath(k)); }

void SimRig::plugIn() {
    for (int k = 0; k < n_; ++k) replug(k);
}

void SimRig::unplug(int k) {
    dongle(k).unplug();
    if (registered_[k]) mbeeg::serial::unregisterMemoryPort(portPath(k));
    registered_[k] = false;
}

void SimRig::replug(int k) {
    dongle(k).plugIn();
    const int port = cfg_.firstPort + k;
    mbeeg::serial::registerMemoryPort(
        mbeeg::serial::memoryDongleDescription(port, "MBSIM" + std::to_string(port)), ports_[k]);
    registered_[k] = true;
}

}  // namespace sim
