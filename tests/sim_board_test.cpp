// The simulated dongle and board answer as their firmware does, through the
// serial-port library on a memory port, on virtual time.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "sim/SimRig.h"
#include "tests/support/SimPort.h"

using simtest::ask;
using namespace std::string_literals;

namespace {

bool holds(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

struct Rig {
    explicit Rig(sim::SimConfig cfg = {}) : rig(cfg) {
        rig.plugIn();
        port = simtest::openDongle(rig, 0);
    }
    platform::ScopedVirtualClock clock;  // before the rig: its times start here
    sim::SimRig rig;
    std::unique_ptr<CMegSerialPortzq> port;
};

}  // namespace

TEST(SimDongle, RadioCommandsReadAndChangeChannelPollTimeAndStatus) {
    Rig r;
    ASSERT_TRUE(r.port);
    CMegSerialPortzq& p = *r.port;
    EXPECT_EQ(ask(p, "\xF0\x00"s), "Success: Host and Device on Channel number: 1$$$");
    EXPECT_EQ(ask(p, "\xF0\x07"s), "Success: System is Up$$$");

    // Host override moves the dongle alone: the board is then out of reach.
    EXPECT_EQ(ask(p, "\xF0\x02\x05"s), "Success: Host override - Channel number: 5$$$");
    EXPECT_EQ(r.rig.board(0).channel(), 1);
    EXPECT_EQ(ask(p, "\xF0\x00"s), "Failure: Host on Channel number: 5$$$");
    EXPECT_EQ(ask(p, "\xF0\x07"s), "Failure: System is Down$$$");
    EXPECT_EQ(ask(p, "\xF0\x01\x09"s), sim::kTimeoutReply);
    EXPECT_EQ(ask(p, "v"), sim::kTimeoutReply);
    EXPECT_EQ(ask(p, "\xF0\x02\x01"s), "Success: Host override - Channel number: 1$$$");

    // Setting the channel moves both ends.
    EXPECT_EQ(ask(p, "\xF0\x01\x11"s), "Success: Host and Device on Channel number: 17$$$");
    EXPECT_EQ(r.rig.board(0).channel(), 17);
    EXPECT_EQ(r.rig.dongle(0).channel(), 17);
    EXPECT_EQ(ask(p, "\xF0\x07"s), "Success: System is Up$$$");

    // Read poll time: one raw byte after "0x"; set: the decimal value.
    std::string poll = ask(p, "\xF0\x03"s);
    ASSERT_TRUE(holds(poll, "Success")) << poll;
    ASSERT_NE(poll.find("0x"), std::string::npos);
    EXPECT_EQ(static_cast<unsigned char>(poll[poll.find("0x") + 2]), 80);
    std::string set = ask(p, "\xF0\x04\x64"s);
    EXPECT_TRUE(holds(set, "Success:") && holds(set, "Poll time: 100$$$")) << set;
    poll = ask(p, "\xF0\x03"s);
    EXPECT_EQ(static_cast<unsigned char>(poll[poll.find("0x") + 2]), 100);

    // Replies come well within the 10 ms the driver waits for short answers.
    CStringA reply;
    ASSERT_EQ(p.sendCmdGetRspst("d", reply, 10), 1);
    EXPECT_EQ(reply, "updating channel settings to default$$$");
}

TEST(SimDongle, BaudSwitchGarblesUntilThePcFollowsAndTheBoardMayBeOff) {
    Rig r;
    CMegSerialPortzq& p = *r.port;
    EXPECT_EQ(ask(p, "\xF0\x06"s, 400), "Success: Switch your baud rate to 230400$$$");
    EXPECT_EQ(r.rig.dongle(0).baud(), 230400u);
    // The PC still reads at 115200: what the dongle says now is noise, and
    // what the PC sends is noise to the dongle.
    EXPECT_EQ(ask(p, "\xF0\x07"s), "");
    ASSERT_EQ(p.setupCom4Eeg(230400), 1);
    ASSERT_EQ(p.writeSynWaitCmdC("\xF0\x07", 2, 160), 1);
    ASSERT_EQ(p.setupCom4Eeg(115200), 1);
    std::string noise = p.readSynWaitAll2StrA(10, 50).str();
    EXPECT_EQ(noise.size(), std::string("Success: System is Up$$$").size());
    EXPECT_NE(noise, "Success: System is Up$$$");
    ASSERT_EQ(p.setupCom4Eeg(230400), 1);
    EXPECT_EQ(ask(p, "\xF0\x07"s), "Success: System is Up$$$");
    EXPECT_EQ(ask(p, "\xF0\x0A"s, 400), "Success: Switch your baud rate to 921600$$$");
    ASSERT_EQ(p.setupCom4Eeg(921600), 1);
    EXPECT_EQ(ask(p, "\xF0\x05"s, 400), "Success: Switch your baud rate to 115200$$$");
    ASSERT_EQ(p.setupCom4Eeg(115200), 1);

    r.rig.board(0).powerOff();
    EXPECT_EQ(ask(p, "\xF0\x00"s), "Failure: Host on Channel number: 1$$$");
    EXPECT_EQ(ask(p, "\xF0\x07"s), "Failure: System is Down$$$");
    EXPECT_EQ(ask(p, "\xF0\x04\x20"s), sim::kTimeoutReply);
    EXPECT_EQ(r.rig.dongle(0).pollTime(), 80);
    EXPECT_EQ(ask(p, "d"), sim::kTimeoutReply);
    r.rig.board(0).powerOn();
    EXPECT_EQ(ask(p, "\xF0\x07"s), "Success: System is Up$$$");
}

TEST(SimBoard, AnswersTheCommandSetAndKeepsChannelState) {
    Rig r;
    CMegSerialPortzq& p = *r.port;
    sim::SimBoard b = r.rig.board(0);

    std::string v = ask(p, "v", 200);
    EXPECT_TRUE(holds(v, "OpenBCI") && holds(v, "0x3E") && v.ends_with("$$$")) << v;
    EXPECT_TRUE(holds(ask(p, "d"), "default$$$"));
    std::string daisy = ask(p, "C");
    EXPECT_TRUE(holds(daisy, "no daisy") && daisy.ends_with("$$$")) << daisy;
    EXPECT_FALSE(b.daisyAttached());
    EXPECT_TRUE(ask(p, "c").ends_with("$$$"));
    EXPECT_EQ(ask(p, "V"), "v3.1.2$$$");
    EXPECT_EQ(ask(p, "D"), "060110$$$");

    // A settings frame changes the channel, and the register dump shows it.
    EXPECT_EQ(ask(p, "x3114101X"), "Success: Channel set for 3$$$");
    sim::ChannelState s = b.channelState(2);
    EXPECT_TRUE(s.powerDown);
    EXPECT_EQ(b.gain(2), 2);
    EXPECT_EQ(s.inputType, 4);
    EXPECT_TRUE(s.bias && !s.srb2 && s.srb1);
    std::string regs = ask(p, "?", 200);
    EXPECT_TRUE(holds(regs, "ADS_ID, 00, 3E") && holds(regs, "CH3SET, 07, 94") && holds(regs, "MISC1, 15, 20"))
        << regs;
    // Invalid frames change nothing.
    EXPECT_TRUE(holds(ask(p, "x3070000X"), "Failure"));
    EXPECT_TRUE(holds(ask(p, "xQ060110X"), "Failure"));  // no Daisy: no channel 9
    EXPECT_EQ(b.gain(2), 2);

    // Channels off and on; the "**" around an on letter is harmless.
    ask(p, "5");
    EXPECT_TRUE(b.channelState(4).powerDown);
    ask(p, "**%**");
    EXPECT_FALSE(b.channelState(4).powerDown);

    EXPECT_EQ(ask(p, "z410Z"), "Success: Lead off set for 4$$$");
    EXPECT_TRUE(b.channelState(3).leadOffP && !b.channelState(3).leadOffN);
    ask(p, "[");
    EXPECT_EQ(b.testSignal(), sim::TestSignal::Slow2x);
    EXPECT_EQ(b.channelState(7).inputType, 5);
    ask(p, "0");
    EXPECT_EQ(b.channelState(7).inputType, 1);

    EXPECT_EQ(ask(p, "/2"), "Success: analog$$$");
    EXPECT_EQ(ask(p, "//"), "analog$$$");
    EXPECT_EQ(b.mode(), sim::BoardMode::Analog);
    EXPECT_TRUE(holds(ask(p, "/9"), "Failure"));

    EXPECT_TRUE(holds(ask(p, "G"), "OBCI_01.TXT$$$"));
    EXPECT_TRUE(b.sdFileOpen());
    EXPECT_TRUE(holds(ask(p, "j"), "Total Elapsed Time"));
    EXPECT_EQ(ask(p, "j"), "No open file to close$$$");

    // Time stamping goes out behind 0xF0, which the dongle passes on.
    EXPECT_EQ(ask(p, "\xF0<"s), "Time stamp ON$$$");
    EXPECT_TRUE(b.timeStamping());
    EXPECT_EQ(ask(p, "\xF0>"s), "Time stamp OFF$$$");

    // Soft reset: defaults again.
    ask(p, "v", 200);
    EXPECT_EQ(b.gain(2), 24);
    EXPECT_EQ(b.mode(), sim::BoardMode::Default);
    EXPECT_EQ(b.received().substr(0, 3), "vdC");
}

TEST(SimBoard, DaisyAttachesAndCarriesSixteenChannels) {
    sim::SimConfig cfg;
    cfg.board.daisy = true;
    Rig r(cfg);
    CMegSerialPortzq& p = *r.port;
    EXPECT_TRUE(holds(ask(p, "v", 200), "On Daisy ADS1299 Device ID: 0x3E"));
    EXPECT_TRUE(r.rig.board(0).daisyAttached());
    EXPECT_EQ(ask(p, "xI061000X"), "Success: Channel set for 16$$$");
    EXPECT_EQ(r.rig.board(0).channelState(15).inputType, 1);
    EXPECT_EQ(ask(p, "c"), "daisy removed$$$");
    EXPECT_TRUE(holds(ask(p, "xI060110X"), "Failure"));
    EXPECT_EQ(ask(p, "C"), "daisy attached16$$$");
}
