// The built-in simulated boards for --sim N: in-process dongles on memory
// ports, on real time, found by discovery like real ones.
#pragma once

#include <memory>

#include "app/Session.h"

namespace sim {
class SimRig;
class TruthWriter;
}

namespace app {
class SimHardware {
public:
    explicit SimHardware(const SimOptions& opts);
    ~SimHardware();
    // What a person asked by 'radio assign' does: step < 0 every board off,
    // step k only board k on, step >= boards every board on.
    void switchBoards(int step, int boards);

private:
    std::unique_ptr<sim::TruthWriter> truth_;
    std::unique_ptr<sim::SimRig> rig_;
};
}  // namespace app
