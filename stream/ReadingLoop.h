// The worker thread's reading loop: every board's bytes as they come, put
// into rows by sample number, one row after another into the current trial,
// trials switched at their end, lost boards brought back, the recording saved
// at the end. It knows boards only through LoopBoard, so it runs the same on
// dongles, simulated ports and test rigs.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "host/AcqFramework.h"
#include "host/MegSerialPort.h"
#include "stream/RowAligner.h"

namespace stream {

// One board as the loop sees it.
class LoopBoard {
public:
    virtual ~LoopBoard() = default;
    virtual CMegSerialPortzq* port() = 0;  // null: no port
    virtual CString portName() const = 0;
    virtual int radioChannel() const = 0;
    virtual int gain(int pin) const = 0;
    virtual void startStream() = 0;
    // Starts a lost board's stream again without losing its first packet.
    virtual void restartStream() = 0;
    virtual void stopStream() = 0;
    // Decodes a packet into the board's sample slots.
    virtual void take(const CytonPacket& packet) = 0;
    virtual const double* eegSlots() const = 0;  // 8 EEG values in microvolts
    virtual const double* auxSlots() const = 0;  // 0..2 acceleration (g), 10..12 analog words
    // The counts, where other threads read them.
    virtual void publish(const BoardCounts& counts) = 0;
    // Reconnects and outages start from nothing at each run.
    virtual void resetReconnects() = 0;
    virtual void countReconnect() = 0;
    virtual std::uint64_t reconnects() const = 0;
    // The board went silent (ongoing) or an outage of that many rows ended,
    // by the board's return or by the end of the run.
    virtual void outage(bool ongoing, std::int64_t rows) = 0;
};

struct LoopRun {
    std::vector<LoopBoard*> boards;  // board order; a null entry is a board left out
    CAcqDriver02Prcs* host = nullptr;
    CMeAcqDatazq* data = nullptr;
    CMeAcqTrialzq** trial = nullptr;  // the current trial, switched as a recording goes on
    double rate = 250.0;
    std::atomic<int>* stop = nullptr;  // set by the host to stop; set here when the trials run out
};

// Runs until *stop is set; 0 when there is no trial to acquire into.
int runReadingLoop(const LoopRun& run);

// Hands the first trigger channel of a trial (from firstChannel on) to the
// host's stimulus bookkeeping; without one, it gets none.
int attachStimTrig(CAcqDriver02Prcs& host, int trialIndex, CMeAcqTrialzq* trial, int firstChannel);

}  // namespace stream
