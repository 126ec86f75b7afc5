// Each fault of the simulated hardware behaves as configured: radio drops,
// power loss in mid-packet, unplugged dongles, clock drift, boards on other
// channels, dead dongles, garbage and odd footers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/clock.h"
#include "serialport/Backend.h"
#include "sim/SimRig.h"
#include "sim/TruthFile.h"
#include "sim/World.h"
#include "tests/support/ScriptedDevice.h"

using mbeeg::test::ask;
using namespace std::string_literals;

namespace {

struct Rig {
    explicit Rig(const sim::SimConfig& cfg) : rig(cfg) {
        rig.plugIn();
        for (int k = 0; k < rig.boards(); ++k) ports.push_back(mbeeg::test::openDongle(rig, k));
    }
    CMegSerialPortzq& port(int k = 0) { return *ports[k]; }
    platform::ScopedVirtualClock clock;
    sim::SimRig rig;
    std::vector<std::unique_ptr<CMegSerialPortzq>> ports;
};

int gapsIn(const std::vector<mbeeg::test::Packet>& ps) {
    int gaps = 0;
    for (std::size_t i = 1; i < ps.size(); ++i) gaps += (ps[i][1] - ps[i - 1][1] - 1 + 256) % 256;
    return gaps;
}

}  // namespace

TEST(SimFault, RadioDropsShowAsSampleGapsCountedExactly) {
    Rig r(sim::SimConfig{.seed = 5, .board = {.dropRate = 0.03}});
    r.port().writeSynCmdUc1('b');
    std::string bytes = mbeeg::test::readFor(r.port(), 10'000'000);
    r.port().writeSynCmdUc1('s');
    bytes += mbeeg::test::readFor(r.port(), 50'000);
    auto s = mbeeg::test::splitPackets(bytes);
    sim::SimBoard b = r.rig.board(0);
    const auto made = b.packetsMade(), dropped = b.packetsDropped();
    EXPECT_GT(dropped, 30u);
    EXPECT_EQ(s.packets.size() + dropped, made);
    EXPECT_EQ(static_cast<std::uint64_t>(gapsIn(s.packets)), dropped);
    // The ground truth marks which ones were lost.
    auto truth = b.packets();
    std::size_t j = 0;
    for (const auto& t : truth) {
        if (t.dropped) continue;
        ASSERT_LT(j, s.packets.size());
        EXPECT_EQ(s.packets[j++], t.bytes);
    }
}

TEST(SimFault, PowerLossStopsInMidPacketAndPowerUpIsAFreshStart) {
    sim::SimConfig cfg{.boards = 2};
    cfg.perBoard = {sim::BoardConfig{}, sim::BoardConfig{.powerOffAtUs = 500'000, .powerOffAfterBytes = 5,
                                                         .powerOnAtUs = 2'000'000}};
    Rig r(cfg);
    r.port(0).writeSynCmdUc1('b');
    r.port(1).writeSynCmdUc1('b');
    std::string bytes = mbeeg::test::readFor(r.port(0), 1'000'000);
    r.rig.board(0).powerOffMidPacket(10);
    bytes += mbeeg::test::readFor(r.port(0), 500'000);
    auto s = mbeeg::test::splitPackets(bytes);
    EXPECT_EQ(s.skipped, 10u);
    EXPECT_EQ(bytes.size(), s.packets.size() * 33 + 10);
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[bytes.size() - 10]), 0xA0);
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[bytes.size() - 9]), (s.packets.back()[1] + 1) % 256);
    EXPECT_FALSE(r.rig.board(0).powered());
    EXPECT_EQ(r.rig.board(0).packetsCut(), 1u);
    EXPECT_EQ(ask(r.port(0), "\xF0\x07"s), "Failure: System is Down$$$");
    EXPECT_EQ(ask(r.port(0), "b"), sim::kTimeoutReply);
    r.rig.board(0).powerOn();
    EXPECT_EQ(ask(r.port(0), "\xF0\x07"s), "Success: System is Up$$$");
    EXPECT_FALSE(r.rig.board(0).streaming());

    // The scheduled one went off at 0.5 s after 5 bytes and is back since 2 s.
    r.clock.get().sleepUntilUs(r.rig.world()->epochUs() + 2'100'000);
    std::string other = mbeeg::test::readFor(r.port(1), 100'000);
    auto s1 = mbeeg::test::splitPackets(other);
    EXPECT_EQ(s1.skipped, 5u);
    EXPECT_NEAR(static_cast<double>(s1.packets.size()), 125, 2);
    EXPECT_TRUE(r.rig.board(1).powered());
    EXPECT_FALSE(r.rig.board(1).streaming());
}

TEST(SimFault, TruthFileHoldsEveryPacketMadeSentLostOrCut) {
    char dir[] = "/tmp/mbeeg-truth-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/truth.txt";
    Rig r(sim::SimConfig{.seed = 9, .board = {.dropRate = 0.1}});
    std::vector<sim::PacketRecord> made;
    {
        sim::TruthWriter w(path);
        r.rig.world()->setPacketSink(&w);
        for (int run = 0; run < 2; ++run) {  // the second stream counts from 0 again
            r.port().writeSynCmdUc1('b');
            mbeeg::test::readFor(r.port(), 300'000);
            r.rig.board(0).powerOffMidPacket(7);
            mbeeg::test::readFor(r.port(), 20'000);
            auto p = r.rig.board(0).packets();
            made.insert(made.end(), p.begin(), p.end());
            r.rig.board(0).clearLog();
            r.rig.board(0).powerOn();
        }
        r.rig.world()->setPacketSink(nullptr);
        ASSERT_EQ(w.error(), "");
    }
    auto rows = sim::readTruthFile(path);
    std::filesystem::remove_all(dir);
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_EQ(rows[0].size(), made.size());
    int kinds[3] = {}, starts = 0;
    for (std::size_t i = 0; i < made.size(); ++i) {
        const auto& t = rows[0][i];
        const auto& m = made[i];
        ASSERT_EQ(t.board, 1);
        ASSERT_EQ(t.index, m.index) << i;
        ASSERT_EQ(t.sample, m.sample);
        ASSERT_EQ(t.counts, m.counts);
        ASSERT_EQ(t.dropped, m.bytesSent < 33 ? 2 : m.dropped ? 1 : 0);
        ++kinds[t.dropped];
        starts += t.index == 0;
    }
    EXPECT_EQ(kinds[2], 2);
    EXPECT_GT(kinds[1], 5);
    EXPECT_EQ(starts, 2);
}

TEST(SimFault, UnpluggedDongleFailsReadsAndWritesUntilReopened) {
    Rig r(sim::SimConfig{.boards = 2});
    r.port().writeSynCmdUc1('b');
    EXPECT_GT(mbeeg::test::readFor(r.port(), 100'000).size(), 0u);
    r.rig.dongle(0).unplug();  // what the port then does has tests of its own
    EXPECT_EQ(r.port().writeSynCmdUc1('s'), 0);
    r.rig.dongle(0).plugIn();
    ASSERT_EQ(r.port().openSynRW(CString(CStringA(r.rig.portName(0).c_str())), 1), 1);
    ask(r.port(), "s");  // the board streamed on all along
    EXPECT_EQ(ask(r.port(), "\xF0\x07"s), "Success: System is Up$$$");

    // Taken off the port list altogether, and back.
    auto listed = [] {
        int n = 0;
        for (auto& d : mbeeg::serial::enumeratePorts()) n += d.path.starts_with("mem:");
        return n;
    };
    EXPECT_EQ(listed(), 2);
    r.rig.unplug(1);
    EXPECT_EQ(listed(), 1);
    EXPECT_EQ(r.port(1).writeSynCmdUc1('v'), 0);
    r.rig.replug(1);
    EXPECT_EQ(listed(), 2);
}

TEST(SimFault, ClockDriftChangesThePacketRateByItsPpm) {
    sim::SimConfig cfg{.boards = 2};
    cfg.perBoard = {sim::BoardConfig{.driftPpm = 10000}, sim::BoardConfig{.driftPpm = -10000}};
    Rig r(cfg);
    r.port(0).writeSynCmdUc1('b');
    r.port(1).writeSynCmdUc1('b');
    std::string a = mbeeg::test::readFor(r.port(0), 10'000'000);
    r.port(0).writeSynCmdUc1('s');
    r.port(1).writeSynCmdUc1('s');
    a += mbeeg::test::readFor(r.port(0), 20'000);
    std::string b = mbeeg::test::readFor(r.port(1), 20'000);
    EXPECT_NEAR(static_cast<double>(mbeeg::test::splitPackets(a).packets.size()), 2525, 2);
    EXPECT_NEAR(static_cast<double>(mbeeg::test::splitPackets(b).packets.size()), 2475, 2);
}

TEST(SimFault, BoardOnAnotherChannelIsSilentUntilTheDongleIsForcedThere) {
    sim::SimConfig cfg;
    cfg.board.channel = 9;
    Rig r(cfg);
    CMegSerialPortzq& p = r.port();
    EXPECT_EQ(ask(p, "\xF0\x00"s), "Failure: Host on Channel number: 1$$$");
    EXPECT_EQ(ask(p, "v"), sim::kTimeoutReply);
    int found = 0;
    for (int c = 1; c <= 25 && !found; ++c) {
        EXPECT_EQ(ask(p, "\xF0\x02"s + static_cast<char>(c)),
                  "Success: Host override - Channel number: " + std::to_string(c) + "$$$");
        if (ask(p, "\xF0\x07"s) == "Success: System is Up$$$") found = c;
    }
    EXPECT_EQ(found, 9);
    EXPECT_NE(ask(p, "v", 200).find("OpenBCI"), std::string::npos);
}

TEST(SimFault, TwoBoardsOnOneChannelShareTheirDongle) {
    sim::SimConfig cfg{.boards = 2};
    cfg.perBoard = {sim::BoardConfig{}, sim::BoardConfig{.channel = 1}};
    Rig r(cfg);
    EXPECT_EQ(ask(r.port(1), "\xF0\x07"s), "Failure: System is Down$$$");
    EXPECT_EQ(ask(r.port(0), "\xF0\x07"s), "Success: System is Up$$$");
    EXPECT_NE(ask(r.port(0), "d").find("default$$$"), std::string::npos);
    EXPECT_EQ(r.rig.board(1).received(), "d");
    // Both stream into one line, which at 115200 baud carries only 349
    // packets a second: the rest piles up in the dongle.
    r.port(0).writeSynCmdUc1('b');
    auto s = mbeeg::test::splitPackets(mbeeg::test::readFor(r.port(0), 2'000'000));
    EXPECT_TRUE(r.rig.board(1).streaming());
    EXPECT_NEAR(static_cast<double>(s.packets.size()), 2 * 115200 / 330, 4);
    EXPECT_GT(r.rig.dongle(0).queuedBytes(), 200u * 33);
    int jumps = 0;
    for (std::size_t i = 1; i < s.packets.size(); ++i) jumps += s.packets[i][1] != (s.packets[i - 1][1] + 1) % 256;
    EXPECT_GT(jumps, 300);
}

TEST(SimFault, DeadDongleNeverAnswers) {
    Rig r(sim::SimConfig{.dongle = {.dead = true}});
    for (std::string cmd : {"\xF0\x00"s, "\xF0\x07"s, "\xF0\x03"s, "v"s, "b"s})
        EXPECT_EQ(ask(r.port(), cmd, 200), "") << cmd;
    EXPECT_EQ(mbeeg::test::readFor(r.port(), 500'000), "");
    EXPECT_FALSE(r.rig.board(0).streaming());
    EXPECT_EQ(r.rig.board(0).received(), "");
}

TEST(SimFault, GarbageBurstsAndOtherFootersComeAsConfigured) {
    sim::SimConfig cfg{.boards = 2};
    cfg.perDongle = {sim::DongleConfig{.garbageRate = 0.2, .garbageBytes = 7}};
    cfg.perBoard = {sim::BoardConfig{}, sim::BoardConfig{.footers = {0xC0, 0xC1, 0xC2, 0xC5, 0xC6, 0xC7}}};
    Rig r(cfg);
    r.port(0).writeSynCmdUc1('b');
    r.port(1).writeSynCmdUc1('b');
    std::string g = mbeeg::test::readFor(r.port(0), 2'000'000);
    r.port(0).writeSynCmdUc1('s');
    g += mbeeg::test::readFor(r.port(0), 50'000);
    auto bursts = r.rig.dongle(0).garbage();
    const auto made = r.rig.board(0).packetsMade();
    EXPECT_NEAR(static_cast<double>(bursts.size()), 0.2 * made, 0.06 * made);
    EXPECT_EQ(g.size(), made * 33 + bursts.size() * 7);
    EXPECT_GE(mbeeg::test::splitPackets(g).packets.size(), made - bursts.size());

    std::string f = mbeeg::test::readFor(r.port(1), 200'000);
    auto s = mbeeg::test::splitPackets(f);
    auto truth = r.rig.board(1).packets();
    std::size_t j = 0;
    for (const auto& t : truth) {
        if (j >= s.packets.size()) break;
        if (t.footer == 0xC7) continue;  // not a footer: no packet to the splitter
        ASSERT_EQ(s.packets[j][32], t.footer);
        EXPECT_EQ(s.packets[j][32], std::vector<std::uint8_t>({0xC0, 0xC1, 0xC2, 0xC5, 0xC6, 0xC7})[t.index % 6]);
        ++j;
    }
    EXPECT_GT(j, 100u);
}
