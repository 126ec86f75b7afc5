#include "app/SimHardware.h"

#include "serialport/Backend.h"
#include "sim/SimRig.h"

namespace app {

SimHardware::SimHardware(const SimOptions& o) {
    sim::SimConfig cfg;
    cfg.boards = o.boards;
    cfg.seed = o.seed;
    cfg.board.dropRate = o.dropPercent / 100.0;
    cfg.board.driftPpm = o.driftPpm;
    // Garbage bursts are drawn per stream packet (250 a second).
    cfg.dongle.garbageRate = o.garbagePerSecond / 250.0;
    // A long run keeps no ground-truth log, so memory stays flat.
    cfg.keepLog = false;
    mbeeg::serial::setRealPortsEnabled(false);
    rig_ = std::make_unique<sim::SimRig>(cfg);
    rig_->plugIn();
}

SimHardware::~SimHardware() = default;

}  // namespace app
