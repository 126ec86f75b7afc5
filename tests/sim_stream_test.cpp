// The simulated stream decodes to its ground truth; a seed repeats a run.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/clock.h"
#include "sim/SimRig.h"
#include "tests/support/ScriptedDevice.h"

using mbeeg::test::ask;
using mbeeg::test::readFor;

namespace {

// Packets of `seconds` of stream, and those in flight at the stop.
struct Streamer {
    explicit Streamer(sim::SimConfig cfg, const std::string& before = "") : rig(cfg) {
        rig.plugIn();
        port = mbeeg::test::openDongle(rig, 0);
        if (!before.empty()) ask(*port, before);
    }
    mbeeg::test::Split stream(double seconds, const std::string& during = "") {
        port->writeSynCmdUc1('b');
        std::string bytes = readFor(*port, static_cast<std::int64_t>(seconds * 1e6 / 2));
        for (char c : during) port->writeSynCmdUc1(static_cast<unsigned char>(c));
        bytes += readFor(*port, static_cast<std::int64_t>(seconds * 1e6 / 2));
        port->writeSynCmdUc1('s');
        return mbeeg::test::splitPackets(bytes + readFor(*port, 50'000));
    }
    platform::ScopedVirtualClock clock;
    sim::SimRig rig;
    std::unique_ptr<CMegSerialPortzq> port;
};

}  // namespace

TEST(SimStream, DecodedValuesMatchGroundTruthAtEachGainInStep) {
    // Gains change again halfway through, while streaming.
    Streamer r(sim::SimConfig{.seed = 7}, "x1000110Xx2040110X6");
    const std::int64_t t0 = r.clock.get().nowUs();
    mbeeg::test::Split s = r.stream(4.0, "x1060110Xx2020110X");
    auto truth = r.rig.board(0).packets();
    ASSERT_EQ(s.packets.size(), truth.size());
    EXPECT_NEAR(static_cast<double>(truth.size()), (r.clock.get().nowUs() - t0) / 4000.0, 15);
    int gainsSeen[2][7] = {};
    int readings = 0;
    for (std::size_t i = 0; i < truth.size(); ++i) {
        const sim::PacketRecord& t = truth[i];
        ASSERT_EQ(s.packets[i][1], i % 256) << i;
        for (int ch = 0; ch < 8; ++ch) {
            const std::int32_t got = mbeeg::test::counts(s.packets[i], ch);
            ASSERT_EQ(got, t.counts[ch]);
            ASSERT_NEAR(got * sim::uvPerCount(t.gain[ch]), t.uV[ch], sim::uvPerCount(t.gain[ch]) / 2 + 1e-9) << i << " ch " << ch;
        }
        for (int ch = 0; ch < 2; ++ch)
            for (int g = 0; g < 7; ++g) gainsSeen[ch][g] += t.gain[ch] == sim::kGains[g];
        EXPECT_EQ(t.counts[5], 0);
        readings += t.accelReading;
        for (int a = 0; a < 3; ++a) EXPECT_EQ(mbeeg::test::aux16(s.packets[i], a), t.accelReading ? t.accel[a] : 0);
    }
    EXPECT_GT(gainsSeen[0][0], 400);  // gain 1, then 24
    EXPECT_GT(gainsSeen[0][6], 400);
    EXPECT_GT(gainsSeen[1][4], 400);  // gain 8, then 4
    EXPECT_GT(gainsSeen[1][2], 400);
    EXPECT_NEAR(readings, static_cast<int>(truth.size()) / 10, 1);
    EXPECT_NEAR(truth[0].accel[1] * 0.000125, 1.0, 0.02);  // gravity on the up axis
}

TEST(SimStream, SameSeedSameBytesOtherSeedOtherSignals) {
    auto bytes = [](std::uint64_t seed, std::int64_t jitterUs = 0) {
        platform::ScopedVirtualClock clock;
        sim::SimRig rig(sim::SimConfig{.seed = seed, .board = {.dropRate = 0.05}, .usbJitterUs = jitterUs});
        rig.plugIn();
        auto port = mbeeg::test::openDongle(rig, 0);
        port->writeSynCmdUc1('b');
        return readFor(*port, 1'000'000);
    };
    std::string a = bytes(3), b = bytes(3), c = bytes(4);
    EXPECT_GT(a.size(), 200u * 33);
    EXPECT_EQ(a, b);
    EXPECT_NE(a.substr(2, 24), c.substr(2, 24));
    // Late USB packets change when bytes come, never which or in what order.
    std::string late = bytes(3, 5000);
    EXPECT_GT(late.size() + 200, a.size());
    EXPECT_EQ(a.substr(0, late.size()), late);
}

TEST(SimStream, TestSignalsAndDaisyHalvesShowInTheSamples) {
    sim::SimConfig cfg;
    cfg.board.daisy = true;
    Streamer r(cfg, "c");
    sim::SimBoard b = r.rig.board(0);

    // Slow 1x square wave on every channel: +-1.875 mV at about 1 Hz.
    ask(*r.port, "-");
    r.stream(2.0);
    auto truth = b.packets();
    int flips = 0;
    for (std::size_t i = 0; i < truth.size(); ++i) {
        EXPECT_NEAR(std::abs(truth[i].uV[4]), 1875, 5) << i;
        if (i && (truth[i].uV[4] > 0) != (truth[i - 1].uV[4] > 0)) ++flips;
    }
    EXPECT_NEAR(flips, 4, 1);

    // The board's and the Daisy's channels in turn, each at its own gain.
    b.clearLog();
    ask(*r.port, "d");
    ask(*r.port, "C");
    ask(*r.port, "xQ020110X");
    mbeeg::test::Split s = r.stream(0.2);
    truth = b.packets();
    ASSERT_EQ(s.packets.size(), truth.size());
    for (std::size_t i = 0; i < truth.size(); ++i) {
        EXPECT_EQ(truth[i].daisyHalf, i % 2 == 1);
        EXPECT_EQ(truth[i].gain[0], i % 2 ? 4 : 24);
        EXPECT_EQ(s.packets[i][1], i % 256);
    }
}
