// Each simulated fault behaves as configured and its ground truth says what happened.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "serialport/Backend.h"
#include "sim/SimRig.h"
#include "sim/World.h"
#include "tests/support/ScriptedDevice.h"

using mbeeg::test::ask;
using mbeeg::test::readFor;
using mbeeg::test::splitPackets;
using namespace std::string_literals;

namespace {

struct Rig {
    explicit Rig(const sim::SimConfig& cfg) : rig(cfg) {
        rig.plugIn();
        for (int k = 0; k < rig.boards(); ++k) ports.push_back(mbeeg::test::openDongle(rig, k));
    }
    CMegSerialPortzq& port(int k = 0) { return *ports[k]; }
    // Streams for `us` and stops; what was in flight is read too.
    std::string stream(std::int64_t us, int k = 0) {
        port(k).writeSynCmdUc1('b');
        std::string bytes = readFor(port(k), us);
        port(k).writeSynCmdUc1('s');
        return bytes + readFor(port(k), 50'000);
    }
    platform::ScopedVirtualClock clock;
    sim::SimRig rig;
    std::vector<std::unique_ptr<CMegSerialPortzq>> ports;
};

}  // namespace

TEST(SimFault, RadioDropsAreTheTruthsDroppedPacketsAndNothingElse) {
    Rig r(sim::SimConfig{.seed = 5, .board = {.dropRate = 0.03}});
    auto s = splitPackets(r.stream(10'000'000));
    sim::SimBoard b = r.rig.board(0);
    EXPECT_GT(b.packetsDropped(), 30u);
    EXPECT_EQ(s.packets.size() + b.packetsDropped(), b.packetsMade());
    std::size_t j = 0;
    for (const auto& t : b.packets()) {
        if (t.dropped) continue;
        ASSERT_LT(j, s.packets.size());
        EXPECT_EQ(s.packets[j++], t.bytes);
    }
    EXPECT_EQ(j, s.packets.size());
}

TEST(SimFault, PowerLossStopsInMidPacketAndPowerUpIsAFreshStart) {
    sim::SimConfig cfg{.boards = 2};
    cfg.perBoard = {sim::BoardConfig{}, sim::BoardConfig{.powerOffAtUs = 500'000, .powerOffAfterBytes = 5,
                                                         .powerOnAtUs = 2'000'000}};
    Rig r(cfg);
    r.port(0).writeSynCmdUc1('b');
    r.port(1).writeSynCmdUc1('b');
    std::string bytes = readFor(r.port(0), 1'000'000);
    r.rig.board(0).powerOffMidPacket(10);
    bytes += readFor(r.port(0), 500'000);
    auto s = splitPackets(bytes);
    EXPECT_EQ(bytes.size(), s.packets.size() * 33 + 10);
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[bytes.size() - 9]), (s.packets.back()[1] + 1) % 256);
    EXPECT_EQ(r.rig.board(0).packetsCut(), 1u);
    EXPECT_EQ(ask(r.port(0), "\xF0\x07"s), "Failure: System is Down$$$");
    r.rig.board(0).powerOn();
    EXPECT_EQ(ask(r.port(0), "\xF0\x07"s), "Success: System is Up$$$");
    EXPECT_FALSE(r.rig.board(0).streaming());

    // The scheduled one went off at 0.5 s after 5 bytes and is back since 2 s, not streaming.
    r.clock.get().sleepUntilUs(r.rig.world()->epochUs() + 2'100'000);
    auto s1 = splitPackets(readFor(r.port(1), 100'000));
    EXPECT_EQ(s1.skipped, 5u);
    EXPECT_NEAR(static_cast<double>(s1.packets.size()), 125, 2);
    EXPECT_FALSE(r.rig.board(1).streaming());
}

TEST(SimFault, ClockDriftChangesThePacketRateByItsPpm) {
    sim::SimConfig cfg{.boards = 2};
    cfg.perBoard = {sim::BoardConfig{.driftPpm = 10000}, sim::BoardConfig{.driftPpm = -10000}};
    Rig r(cfg);
    for (int k : {0, 1}) r.port(k).writeSynCmdUc1('b');
    std::string a = readFor(r.port(0), 10'000'000);
    for (int k : {0, 1}) r.port(k).writeSynCmdUc1('s');
    a += readFor(r.port(0), 20'000);
    EXPECT_NEAR(static_cast<double>(splitPackets(a).packets.size()), 2525, 2);
    EXPECT_NEAR(static_cast<double>(splitPackets(readFor(r.port(1), 20'000)).packets.size()), 2475, 2);
}

TEST(SimFault, BoardsOnOtherChannelsDeadDonglesAndSharedChannels) {
    sim::SimConfig cfg;
    cfg.board.channel = 9;
    Rig r(cfg);
    EXPECT_EQ(ask(r.port(), "\xF0\x00"s), "Failure: Host on Channel number: 1$$$");
    EXPECT_EQ(ask(r.port(), "v"), sim::kTimeoutReply);
    ask(r.port(), "\xF0\x02\x09"s);
    EXPECT_EQ(ask(r.port(), "\xF0\x07"s), "Success: System is Up$$$");

    Rig dead(sim::SimConfig{.dongle = {.dead = true}});
    for (std::string cmd : {"\xF0\x07"s, "v"s, "b"s}) EXPECT_EQ(ask(dead.port(), cmd, 200), "") << cmd;
    EXPECT_EQ(readFor(dead.port(), 500'000), "");
    EXPECT_EQ(dead.rig.board(0).received(), "");

    // Two boards on one channel both answer one dongle and stream into one
    // line, which at 115200 baud carries only 349 packets a second.
    sim::SimConfig two{.boards = 2};
    two.perBoard = {sim::BoardConfig{}, sim::BoardConfig{.channel = 1}};
    Rig s(two);
    EXPECT_EQ(ask(s.port(1), "\xF0\x07"s), "Failure: System is Down$$$");
    EXPECT_NE(ask(s.port(0), "d").find("default$$$"), std::string::npos);
    EXPECT_EQ(s.rig.board(1).received(), "d");
    s.port(0).writeSynCmdUc1('b');
    auto split = splitPackets(readFor(s.port(0), 2'000'000));
    EXPECT_TRUE(s.rig.board(1).streaming());
    EXPECT_NEAR(static_cast<double>(split.packets.size()), 2 * 115200 / 330, 4);
    EXPECT_GT(s.rig.dongle(0).queuedBytes(), 200u * 33);
}

TEST(SimFault, GarbageBurstsAndOtherFootersComeAsConfigured) {
    sim::SimConfig cfg{.boards = 2};
    cfg.perDongle = {sim::DongleConfig{.garbageRate = 0.2, .garbageBytes = 7}};
    cfg.perBoard = {sim::BoardConfig{}, sim::BoardConfig{.footers = {0xC0, 0xC1, 0xC2, 0xC5, 0xC6, 0xC7}}};
    Rig r(cfg);
    r.port(1).writeSynCmdUc1('b');
    const std::string g = r.stream(2'000'000);
    const auto bursts = r.rig.dongle(0).garbage();
    const auto made = r.rig.board(0).packetsMade();
    EXPECT_NEAR(static_cast<double>(bursts.size()), 0.2 * made, 0.06 * made);
    EXPECT_EQ(g.size(), made * 33 + bursts.size() * 7);
    EXPECT_GE(splitPackets(g).packets.size(), made - bursts.size());

    auto s = splitPackets(readFor(r.port(1), 200'000));
    std::size_t j = 0;
    for (const auto& t : r.rig.board(1).packets()) {
        if (j >= s.packets.size()) break;
        if (t.footer == 0xC7) continue;  // not a footer: no packet to the splitter
        ASSERT_EQ(s.packets[j++][32], std::vector<std::uint8_t>({0xC0, 0xC1, 0xC2, 0xC5, 0xC6, 0xC7})[t.index % 6]);
    }
    EXPECT_GT(j, 100u);
}
