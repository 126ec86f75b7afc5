// Electrode impedance in kOhm, measured by the program on top of the
// library's lead-off switching: stream while a channel's test current is on
// and take the voltage that current makes.
#pragma once

#include <string>
#include <vector>

#include "app/Session.h"

namespace app {

struct ImpedanceArgs {
    int dwellMs = 1000;  // per channel, at least 1000
    int mode = 1;        // 1: current on the positive input, 2: on both
    double goodKOhm = 10;  // at most this: good
    double fairKOhm = 50;  // at most this: fair; above: bad
};

// The impedance of an electrode from n samples (uV, at rate Hz) taken while
// its lead-off current was on; NaN when the samples hold no whole period.
double impedanceKOhm(const double* uv, int n, double rate);

struct ElectrodeImpedance {
    std::string label;
    int board = 0, pin = 0;  // from 0
    double kOhm = 0;         // NaN: its board sent too little while it was measured
};

// Every EEG electrode of a connected session that is not acquiring, pin by
// pin on every board at once, in the data set's order. An exit status.
int measureImpedance(Session& s, const ImpedanceArgs& args, std::vector<ElectrodeImpedance>& out);

int runImpedance(const SessionOptions& opts, const ImpedanceArgs& args);

}  // namespace app
