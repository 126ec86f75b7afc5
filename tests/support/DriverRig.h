// Driver tests: boards answering commands behind memory ports, and a driver rig.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "driver/DriveOpnBciMutiBoard09Acq.h"
#include "serialport/Backend.h"
#include "tests/support/ScriptedDevice.h"

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

// A dongle on a fresh CmdBoard at memory slot `slot` (port "COM<201+slot>").
std::shared_ptr<CmdBoard> attachCmdBoard(CConfigComRadiozq& dongle, int slot);

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

}  // namespace drivertest
