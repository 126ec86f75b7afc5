// A recording with known samples for the save tests: two EEG channels of one
// board, the auxiliary channels of two boards (so names repeat) and the
// host's trailer, filled from formulas of the running sample index. Only
// the EEG channels have a port in their geometry.
#pragma once

#include <cstdint>

#include "host/AcqFramework.h"

namespace acqtest {

constexpr double kUvPerCount = 4.5 / 8388607.0 / 24.0 * 1000000.0;
constexpr double kGPerCount = 0.000125;

// Channel order: FP1, FP2, AccLft, AccUp, AccFwd, Analog1, AccLft (board 2),
// Trigger, TimeStamp, Event, Response, Marker, Reserved.
enum Channel { FP1, FP2, ACC_LFT, ACC_UP, ACC_FWD, ANALOG1, ACC_LFT2, TRIGGER, TIMESTAMP, CHANNELS = 13 };

void buildChannels(CHardWareInfozq& info, ChnGeomList& list);
// What the library's callback does: a display range and unit on accelerometer channels.
int accDisplayCallback(CMeAcqTrialzq* trial);

// Values at running sample index g: 24-bit EEG counts (both extremes at the
// start), 16-bit accelerometer counts, analog counts, trigger codes, host ms.
std::int32_t eegCount(int channel, std::int64_t g);
std::int32_t accCount(int channel, std::int64_t g);
double valueAt(int channel, std::int64_t g);
// The count a file stores: the negative full scale is clipped by one.
inline std::int32_t storedCount(std::int32_t c) { return c < -8388607 ? -8388607 : c; }

// Fills every trial whole, except the last one that gets `lastFill` samples
// (all of it when negative); trials after `lastTrial` stay empty.
void fill(CMeAcqDatazq& data, int lastTrial, std::int64_t lastFill = -1);

}  // namespace acqtest
