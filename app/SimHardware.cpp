#include "app/SimHardware.h"

#include "serialport/Backend.h"
#include "app/Console.h"
#include "sim/SimRig.h"
#include "sim/TruthFile.h"
#include "sim/World.h"

namespace app {

SimHardware::SimHardware(const SimOptions& o) {
    sim::SimConfig cfg;
    cfg.boards = o.boards;
    cfg.seed = o.seed;
    cfg.board.dropRate = o.dropPercent / 100.0;
    cfg.board.driftPpm = o.driftPpm;
    // Garbage bursts are drawn per stream packet (250 a second).
    cfg.dongle.garbageRate = o.garbagePerSecond / 250.0;
    const auto us = [](double sec) { return sec < 0 ? std::int64_t{-1} : static_cast<std::int64_t>(sec * 1e6); };
    for (const SimOptions::Outage& out : o.outages) {
        const size_t k = static_cast<size_t>(out.board - 1);
        if (cfg.perBoard.size() <= k) cfg.perBoard.resize(k + 1, cfg.board);
        if (cfg.perDongle.size() <= k) cfg.perDongle.resize(k + 1, cfg.dongle);
        if (out.unplug) {
            cfg.perDongle[k].unplugAtUs = us(out.from);
            cfg.perDongle[k].replugAtUs = us(out.to);
        } else {
            cfg.perBoard[k].powerOffAtUs = us(out.from);
            cfg.perBoard[k].powerOnAtUs = us(out.to);
        }
    }
    cfg.setElectrodeKOhms(o.impedanceKOhms);
    // A long run keeps no ground-truth log, so memory stays flat.
    cfg.keepLog = false;
    mbeeg::serial::setRealPortsEnabled(false);
    rig_ = std::make_unique<sim::SimRig>(cfg);
    if (!o.truthPath.empty()) {
        truth_ = std::make_unique<sim::TruthWriter>(o.truthPath);
        if (!truth_->error().empty()) error("--sim-truth " + truth_->error());
        rig_->world()->setPacketSink(truth_.get());
    }
    rig_->plugIn();
}

SimHardware::~SimHardware() {
    if (!truth_) return;
    rig_->world()->setPacketSink(nullptr);
    truth_->flush();
    if (!truth_->error().empty()) error("--sim-truth " + truth_->error());
}

}  // namespace app
