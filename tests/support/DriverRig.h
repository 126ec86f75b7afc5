// Driver tests: boards answering commands behind memory ports, and a driver rig.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "driver/DriveOpnBciMutiBoard09Acq.h"
#include "host/AcqFramework.h"
#include "platform/msgbox.h"
#include "platform/thread.h"
#include "serialport/Backend.h"
#include "sim/SimRig.h"
#include "tests/support/Files.h"
#include "tests/support/ScriptedDevice.h"
#include "tests/support/Truth.h"

namespace drivertest {

// A board that answers commands from a table (the scripted serial device
// under the names the driver tests use). Writes fail while it is "unplugged".
class CmdBoard : public mbeeg::test::ScriptedDevice {
public:
    // When a write ends with cmd, reply is due the reply delay later.
    void on(const std::string& cmd, const std::string& reply) { this->reply(cmd, reply); }
    void setReplyDelayUs(std::int64_t us) { setDefaultLatencyUs(us); }
    void setUnplugged(bool u) { u ? unplug() : plug(); }
    std::string received() const { return written(); }  // every byte written, in order
    void clearLog() { clearWritten(); }
};

// The driver with dialogs that are only counted; the clean-ups run on delete.
class TestDriver : public CDriveOpnBciMutiBoard09Acq {
public:
    ~TestDriver() override;
    int showDlgSetupMultiBoardBleCom(CHdwrConfigzq*, CMeAcqDatazq*) override {
        ++bleShows;
        return 1;
    }
    int showDlgSetupMultiBoardEeg(CHdwrConfigzq*, CMeAcqDatazq*) override {
        ++eegShows;
        return 1;
    }
    int bleShows = 0;
    int eegShows = 0;
};

// N dongles, each with an open memory port "COM<201+i>" on its own CmdBoard,
// user and detected configuration of the given link type.
class Rig {
public:
    explicit Rig(int boards, int linkType = LINK_TYPE_CYTON8);
    ~Rig();
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    void setLinkType(int linkType);  // user and detected
    CmdBoard& board(int i) { return *boards_[static_cast<size_t>(i)]; }
    void clearLogs();

    TestDriver drv;
    CHdwrConfigzq user;
    CHdwrConfigzq detect;

private:
    std::vector<std::shared_ptr<CmdBoard>> boards_;
};

// Yields until pred holds: the worker moves the virtual clock; the real-time
// cap makes a broken loop fail the test instead of hanging it.
template <class Pred>
bool waitFor(Pred pred, int seconds = 60) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!pred())
        if (std::chrono::steady_clock::now() > end) return false;
        else std::this_thread::yield();
    return true;
}

// Simulated boards found and acquired through the whole driver on virtual
// time; whatever still runs is stopped and joined at the end.
template <class Driver = TestDriver>
struct SimDriver {
    explicit SimDriver(const sim::SimConfig& c = {.boards = 2, .seed = 7}) : rig(std::make_unique<sim::SimRig>(c)) {
        mbeeg::serial::setRealPortsEnabled(false);
        mbeeg::serial::clearMemoryPorts();
        acqhost::clearStatusLines();
        cfg.m_linkType = LINK_TYPE_CYTON8;
    }
    ~SimDriver() {
        drv.AcqStop();
        EXPECT_TRUE(platform::joinAllThreads(60000));
        drv.cleanDevice();
        drv.cleanConfigComBle2Board();
        drv.cleanCloseFaceCom();
        rig.reset();
        mbeeg::serial::clearMemoryPorts();
    }
    int connect() { return drv._02connectCom2Device(&cfg, &data); }
    // Connected (the rig plugged in) if not yet, then channels and trials,
    // recording into `folder` under `name` when given.
    int prepare(int trials, std::int64_t samples, const wchar_t* name = nullptr) {
        if (drv.m_connState != 2 && (rig->plugIn(), connect() != 1 || drv._03makeAcgSns() != 1)) return 0;
        data.m_recordFolder = CString(folder.wstring().c_str());
        if (name) data.m_recordName = name;
        data.getMEGRecordInfozq()->m_trialCount = trials;
        data.getMEGRecordInfozq()->m_samplesPerTrial = samples;
        return drv._09CheckInitTrlChn(nullptr, name ? 1 : 0);
    }
    std::int64_t rows() {
        std::int64_t n = 0;
        for (int t = 0; t < data.m_trialCount; ++t) n += data.filledSamples(t);
        return n;
    }
    // Channel c of running row g, over the trials.
    double value(int c, std::int64_t g) {
        const std::int64_t S = data.getTrial(0)->getTotalSample(-1);
        return data.getTrial(static_cast<int>(g / S))->getChannel(c)->m_pValues[g % S];
    }
    std::array<double, 8> eeg(int board, std::int64_t g) {
        std::array<double, 8> v{};
        for (int p = 0; p < 8; ++p) v[static_cast<std::size_t>(p)] = value(8 * board + p, g);
        return v;
    }
    // A board's first n rows in counts at gain 24.
    std::vector<truthtest::Counts> counts(int board, std::int64_t n) {
        std::vector<truthtest::Counts> rows(static_cast<std::size_t>(n));
        for (std::int64_t g = 0; g < n; ++g)
            for (int p = 0; p < 8; ++p)
                rows[g][p] = static_cast<std::int32_t>(std::llround(value(8 * board + p, g) / sim::uvPerCount(24)));
        return rows;
    }

    platform::ScopedVirtualClock vclock;
    platform::ScriptedMessageBoxes boxes{IDNO};
    std::unique_ptr<sim::SimRig> rig;
    Driver drv;
    CHdwrConfigzq cfg;
    CMeAcqDatazq data;
    testfiles::TempDir tmp{"simdriver"};
    std::filesystem::path folder = tmp.path;  // of the recording
};

}  // namespace drivertest
