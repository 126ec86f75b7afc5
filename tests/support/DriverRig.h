// Driver tests: a board that answers commands behind a memory port, a driver
// whose dialogs only count their shows, and a rig of N dongles on such boards.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver/DriveOpnBciMutiBoard09Acq.h"
#include "serialport/Backend.h"

namespace drivertest {

// Remembers every write (one entry per write call, with its time) and answers
// commands from a table. Writes fail while it is "unplugged".
class CmdBoard : public mbeeg::serial::MemoryDevice {
public:
    struct Write {
        std::int64_t atUs;
        std::string bytes;
    };

    // When a write equals cmd, reply is due replyDelayUs later.
    void on(const std::string& cmd, const std::string& reply);
    void setReplyDelayUs(std::int64_t us);
    void setUnplugged(bool u);
    // Unplugs itself once n more writes have come in.
    void unplugAfterWrites(int n);

    std::vector<Write> writes() const;
    std::vector<std::string> writeTexts() const;
    std::string received() const;  // every byte written, in order
    void clearLog();

    bool plugged() const override;
    void receive(const std::uint8_t* data, std::size_t n, std::int64_t nowUs) override;
    std::size_t transmit(std::uint8_t* out, std::size_t max, std::int64_t nowUs) override;
    std::int64_t nextTransmitUs(std::int64_t nowUs) override;

private:
    mutable std::mutex mu_;
    std::map<std::string, std::string> replies_;
    std::vector<Write> log_;
    std::string out_;
    std::int64_t outDueUs_ = 0;
    std::int64_t delayUs_ = 1000;
    bool unplugged_ = false;
    int writesLeft_ = -1;
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

}  // namespace drivertest
