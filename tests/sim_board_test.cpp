// The simulated dongle and board answer as the transcripts marked "from=sim" say.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "sim/SimRig.h"
#include "tests/support/ScriptedDevice.h"

using mbeeg::test::ask;
using mbeeg::test::show;
using namespace std::string_literals;

namespace {

bool holds(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

struct Rig {
    explicit Rig(sim::SimConfig cfg = {}) : rig(cfg) {
        rig.plugIn();
        port = mbeeg::test::openDongle(rig, 0);
    }
    platform::ScopedVirtualClock clock;  // before the rig: its times start here
    sim::SimRig rig;
    std::unique_ptr<CMegSerialPortzq> port;
};

}  // namespace

TEST(SimAnswers, AsTheTranscriptsSay) {
    int replayed = 0;
    for (const char* family : {"radio", "board"}) {
        for (const auto& t : mbeeg::test::loadTranscripts(MBEEG_SOURCE_DIR "/tests/data", family)) {
            if (!t.set.count("from")) continue;
            Rig r;
            ASSERT_TRUE(r.port);
            for (const auto& e : t.exchanges) {
                if (e.write.empty()) continue;
                std::string expected;
                for (const auto& a : e.answers) expected += a.second;
                EXPECT_EQ(show(ask(*r.port, e.write, 1500)), show(expected)) << t.where << ": " << show(e.write);
            }
            ++replayed;
        }
    }
    EXPECT_GE(replayed, 20);
}

TEST(SimDongle, OverrideMovesTheDongleAloneAndABaudSwitchGarblesUntilThePcFollows) {
    Rig r;
    CMegSerialPortzq& p = *r.port;
    ask(p, "\xF0\x02\x05"s);
    EXPECT_EQ(r.rig.board(0).channel(), 1);
    EXPECT_EQ(ask(p, "\xF0\x00"s), "Failure: Host on Channel number: 5$$$");
    EXPECT_EQ(ask(p, "\xF0\x01\x09"s), sim::kTimeoutReply);
    EXPECT_EQ(ask(p, "v"), sim::kTimeoutReply);
    ask(p, "\xF0\x02\x01"s);

    EXPECT_EQ(ask(p, "\xF0\x06"s, 400), "Success: Switch your baud rate to 230400$$$");
    EXPECT_EQ(r.rig.dongle(0).baud(), 230400u);
    // At 115200 the PC's bytes are noise to the dongle and its answer noise to the PC.
    EXPECT_EQ(ask(p, "\xF0\x07"s), "");
    ASSERT_EQ(p.setupCom4Eeg(230400), 1);
    ASSERT_EQ(p.writeSynWaitCmdC("\xF0\x07", 2, 160), 1);
    ASSERT_EQ(p.setupCom4Eeg(115200), 1);
    std::string noise = p.readSynWaitAll2StrA(10, 50).str();
    EXPECT_EQ(noise.size(), std::string("Success: System is Up$$$").size());
    EXPECT_NE(noise, "Success: System is Up$$$");
    ASSERT_EQ(p.setupCom4Eeg(230400), 1);
    EXPECT_EQ(ask(p, "\xF0\x07"s), "Success: System is Up$$$");

    r.rig.board(0).powerOff();
    EXPECT_EQ(ask(p, "\xF0\x07"s), "Failure: System is Down$$$");
    EXPECT_EQ(ask(p, "\xF0\x04\x20"s), sim::kTimeoutReply);
    EXPECT_EQ(r.rig.dongle(0).pollTime(), 80);
}

TEST(SimBoard, KeepsTheStateItsAnswersSpeakOf) {
    Rig r;
    CMegSerialPortzq& p = *r.port;
    sim::SimBoard b = r.rig.board(0);
    EXPECT_TRUE(holds(ask(p, "v", 200), "0x3E"));
    EXPECT_EQ(ask(p, "x3114101X"), "Success: Channel set for 3$$$");
    sim::ChannelState s = b.channelState(2);
    EXPECT_TRUE(s.powerDown && s.bias && !s.srb2 && s.srb1);
    EXPECT_EQ(b.gain(2), 2);
    EXPECT_EQ(s.inputType, 4);
    std::string regs = ask(p, "?", 200);
    EXPECT_TRUE(holds(regs, "ADS_ID, 00, 3E") && holds(regs, "CH3SET, 07, 94") && holds(regs, "MISC1, 15, 20"))
        << regs;
    // Invalid frames change nothing; without a Daisy there is no channel 9.
    EXPECT_TRUE(holds(ask(p, "x3070000X"), "Failure"));
    EXPECT_TRUE(holds(ask(p, "xQ060110X"), "Failure"));
    EXPECT_EQ(b.gain(2), 2);

    ask(p, "5");
    EXPECT_TRUE(b.channelState(4).powerDown);
    ask(p, "**%**");
    EXPECT_FALSE(b.channelState(4).powerDown);
    ask(p, "z410Z");
    EXPECT_TRUE(b.channelState(3).leadOffP && !b.channelState(3).leadOffN);
    ask(p, "[");
    EXPECT_EQ(b.testSignal(), sim::TestSignal::Slow2x);
    EXPECT_EQ(b.channelState(7).inputType, 5);
    ask(p, "/2");
    EXPECT_EQ(b.mode(), sim::BoardMode::Analog);
    EXPECT_TRUE(holds(ask(p, "/9"), "Failure"));
    EXPECT_TRUE(holds(ask(p, "G"), "OBCI_01.TXT$$$"));
    EXPECT_TRUE(b.sdFileOpen());
    EXPECT_TRUE(holds(ask(p, "j"), "Total Elapsed Time"));
    ask(p, "\xF0<"s);
    EXPECT_TRUE(b.timeStamping());

    ask(p, "v", 200);  // soft reset: defaults again
    EXPECT_EQ(b.gain(2), 24);
    EXPECT_EQ(b.mode(), sim::BoardMode::Default);
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
