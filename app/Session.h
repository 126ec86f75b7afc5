// One use of the driver by the program: optional built-in simulated boards,
// the configuration, the data set, connecting with a progress line, and an
// orderly stop (AcqStop, the streams stopped, the thread ended, clean-ups).
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "driver/DriveOpnBciMutiBoardzq.h"

namespace app {

struct SimOptions {
    int boards = 0;  // 0: real dongles
    unsigned seed = 1;
    double dropPercent = 0;
    double garbagePerSecond = 0;
    double driftPpm = 0;
    // A board switched off, or its dongle pulled, from `from` to `to` seconds
    // after the program started (to < 0: for good).
    struct Outage {
        int board = 1;
        double from = 0, to = -1;
        bool unplug = false;
    };
    std::vector<Outage> outages;
    std::vector<double> impedanceKOhms;  // electrode impedances, in turn; empty: drawn from the seed
    std::string truthPath;  // every packet the boards made, for checking a run afterwards
};

struct SessionOptions {
    SimOptions sim;
    int link = 6;
    int retries = 3;
};

// Set by SIGINT/SIGTERM while a session runs.
extern std::atomic<bool> g_interrupted;
void installInterruptHandler();

class SimHardware;

class Session {
public:
    explicit Session(const SessionOptions& opts);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Finds and connects the boards, printing what it does; false after
    // telling the user why.
    bool connect();
    // Starts monitoring or recording (the data set prepared first).
    bool startMonitor(std::int64_t samplesPerTrial);
    bool startRecord(const std::string& folder, const std::string& name, int trials, std::int64_t samples);
    // Asks the acquisition to stop and waits until its thread has ended.
    void stop();
    bool acquiring() const;

    CDriveOpnBciMutiBoardzq& driver() { return *driver_; }
    CMeAcqDatazq& data() { return *data_; }
    CHdwrConfigzq& config() { return config_; }
    int boards() const { return static_cast<int>(driver_->m_dongles.size()); }
    double sampleRate() const { return config_.m_linkType == 7 ? 125.0 : 250.0; }

private:
    SessionOptions opts_;
    std::unique_ptr<SimHardware> sim_;
    CHdwrConfigzq config_;
    std::unique_ptr<CMeAcqDatazq> data_;
    CDriveOpnBciMutiBoardzq* driver_;
    bool started_ = false;
};

}  // namespace app
