// The simulated stream: 250 packets a second on virtual time, values that
// decode (with the channel's gain) to the ground truth, the accelerometer, and
// runs that repeat for a seed.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "platform/clock.h"
#include "sim/SimRig.h"
#include "tests/support/ScriptedDevice.h"

using mbeeg::test::ask;

namespace {

// Microvolts of a count at a gain, as the board's data sheet gives it.
double uv(std::int32_t counts, int gain) { return counts * 4.5 / 8388607.0 / gain * 1e6; }

// Packets of `seconds` of stream from a fresh rig; the stream is then stopped
// and what was in flight read too, so that the ground truth is complete.
struct Streamer {
    explicit Streamer(sim::SimConfig cfg, const std::string& before = "") : rig(cfg) {
        rig.plugIn();
        port = mbeeg::test::openDongle(rig, 0);
        if (!before.empty()) ask(*port, before);
    }
    mbeeg::test::Split stream(double seconds, const std::string& during = "") {
        port->writeSynCmdUc1('b');
        std::string bytes = mbeeg::test::readFor(*port, static_cast<std::int64_t>(seconds * 1e6 / 2));
        for (char c : during) port->writeSynCmdUc1(static_cast<unsigned char>(c));
        bytes += mbeeg::test::readFor(*port, static_cast<std::int64_t>(seconds * 1e6 / 2));
        port->writeSynCmdUc1('s');
        bytes += mbeeg::test::readFor(*port, 50'000);
        return mbeeg::test::splitPackets(bytes);
    }
    platform::ScopedVirtualClock clock;
    sim::SimRig rig;
    std::unique_ptr<CMegSerialPortzq> port;
};

}  // namespace

TEST(SimStream, TwoHundredFiftyPacketsASecondInStep) {
    Streamer r(sim::SimConfig{});
    auto& c = platform::clock();
    r.port->writeSynCmdUc1('b');
    std::string bytes;
    while (bytes.empty()) bytes = mbeeg::test::readFor(*r.port, 1000);
    const std::int64_t first = c.nowUs();
    bytes += mbeeg::test::readFor(*r.port, 10'000'000);
    EXPECT_GE(c.nowUs() - first, 10'000'000);
    // Packets begun in 10 s from the first one; the last may be partly in.
    mbeeg::test::Split s = mbeeg::test::splitPackets(bytes);
    EXPECT_EQ(s.skipped, bytes.size() % 33);
    EXPECT_NEAR(static_cast<double>(s.packets.size() + (s.skipped ? 1 : 0)), 2500, 1);
    for (std::size_t i = 0; i < s.packets.size(); ++i) {
        ASSERT_EQ(s.packets[i][1], i % 256) << i;
        ASSERT_EQ(s.packets[i][32], 0xC0);
    }
}

TEST(SimStream, DecodedValuesMatchGroundTruthAtEachGain) {
    // Channel 1 at gain 1, channel 2 at gain 8, channel 6 off; gains change
    // again halfway through, while streaming.
    Streamer r(sim::SimConfig{.seed = 7}, "x1000110Xx2040110X6");
    mbeeg::test::Split s = r.stream(4.0, "x1060110Xx2020110X");
    auto truth = r.rig.board(0).packets();
    ASSERT_EQ(s.packets.size(), truth.size());
    ASSERT_GT(truth.size(), 990u);
    int gainsSeen[2][7] = {};
    int readings = 0;
    for (std::size_t i = 0; i < truth.size(); ++i) {
        const sim::PacketRecord& t = truth[i];
        for (int ch = 0; ch < 8; ++ch) {
            const std::int32_t got = mbeeg::test::counts(s.packets[i], ch);
            ASSERT_EQ(got, t.counts[ch]);
            ASSERT_NEAR(uv(got, t.gain[ch]), t.uV[ch], uv(1, t.gain[ch]) / 2 + 1e-9) << i << " ch " << ch;
        }
        for (int ch = 0; ch < 2; ++ch)
            for (int g = 0; g < 7; ++g) gainsSeen[ch][g] += t.gain[ch] == sim::kGains[g];
        EXPECT_EQ(t.counts[5], 0);
        if (t.accelReading) {
            ++readings;
            for (int a = 0; a < 3; ++a) EXPECT_EQ(mbeeg::test::aux16(s.packets[i], a), t.accel[a]);
        } else {
            EXPECT_EQ(mbeeg::test::aux16(s.packets[i], 0), 0);
        }
    }
    EXPECT_GT(gainsSeen[0][0], 400);  // gain 1, then 24
    EXPECT_GT(gainsSeen[0][6], 400);
    EXPECT_GT(gainsSeen[1][4], 400);  // gain 8, then 4
    EXPECT_GT(gainsSeen[1][2], 400);
    EXPECT_NEAR(readings, static_cast<int>(truth.size()) / 10, 1);
    // Gravity on the up axis, counts of 0.000125 g.
    EXPECT_NEAR(truth[0].accel[1] * 0.000125, 1.0, 0.02);

    // The electrode signal: an offset of millivolts with an alpha rhythm on top.
    double dc = 0, alpha = 0, beside = 0;
    for (const auto& t : truth) dc += t.uV[2] / truth.size();
    const double f = r.rig.board(0).traits(2).alphaHz;
    std::complex<double> at(0), off(0);
    for (std::size_t i = 0; i < truth.size(); ++i) {
        double tsec = i * 0.004;
        double v = truth[i].uV[2] - dc;
        at += v * std::polar(1.0, -2 * M_PI * f * tsec);
        off += v * std::polar(1.0, -2 * M_PI * 17.0 * tsec);
    }
    alpha = std::abs(at) / truth.size();
    beside = std::abs(off) / truth.size();
    EXPECT_GT(std::abs(dc), 1000.0);
    EXPECT_GT(alpha, 4 * beside);
}

TEST(SimStream, FirmwareFootersFollowModeAndTimeStamps) {
    Streamer r(sim::SimConfig{}, "/2");
    mbeeg::test::Split analog = r.stream(0.2);
    ASSERT_FALSE(analog.packets.empty());
    for (auto& p : analog.packets) {
        EXPECT_EQ(p[32], 0xC1);
        EXPECT_GE(mbeeg::test::aux16(p, 0), 0);
        EXPECT_LE(mbeeg::test::aux16(p, 0), 1023);
    }
    ask(*r.port, "/0");
    ask(*r.port, "\xF0<");
    mbeeg::test::Split stamped = r.stream(0.2);
    ASSERT_GT(stamped.packets.size(), 12u);
    EXPECT_EQ(stamped.packets[0][32], 0xC3);
    // Letters x X y Y z Z carry the reading's bytes one packet at a time.
    auto truth = r.rig.board(0).packets();
    const auto& last = truth[truth.size() - stamped.packets.size()];
    std::uint8_t hiY = 0, loY = 0;
    for (int i = 0; i < 6; ++i) {
        const auto& p = stamped.packets[i];
        EXPECT_EQ(p[32], i == 0 ? 0xC3 : 0xC4);
        EXPECT_EQ(p[27], static_cast<std::uint8_t>("xXyYzZ"[i]));
        if (p[27] == 'y') hiY = p[28];
        if (p[27] == 'Y') loY = p[28];
    }
    EXPECT_EQ(static_cast<std::int16_t>((hiY << 8) | loY), last.accel[1]);
}

TEST(SimStream, SameSeedSameBytesOtherSeedOtherSignals) {
    auto bytes = [](std::uint64_t seed, std::int64_t jitterUs = 0) {
        platform::ScopedVirtualClock clock;
        sim::SimRig rig(sim::SimConfig{.seed = seed, .board = {.dropRate = 0.05}, .usbJitterUs = jitterUs});
        rig.plugIn();
        auto port = mbeeg::test::openDongle(rig, 0);
        port->writeSynCmdUc1('b');
        return mbeeg::test::readFor(*port, 1'000'000);
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

TEST(SimStream, BytesReachThePcInUsbPacketsSentWhenFullOrWhenTheLatencyTimerRunsOut) {
    for (std::int64_t latency : {1000, 16000}) {
        platform::ScopedVirtualClock clock;
        sim::SimRig rig(sim::SimConfig{.usbLatencyUs = latency});
        auto dev = rig.device(0);
        const std::uint8_t b = 'b';
        dev->receive(&b, 1, clock.get().nowUs());
        std::uint8_t buf[4096];
        std::size_t total = 0, full = 0, biggest = 0;
        std::int64_t last = -1, longestGap = 0;
        for (const std::int64_t end = clock.get().nowUs() + 2'000'000; clock.get().nowUs() < end;) {
            clock.get().sleepUntilUs(dev->nextTransmitUs(clock.get().nowUs()));
            const std::int64_t t = clock.get().nowUs();
            const std::size_t n = dev->transmit(buf, sizeof buf, t);
            if (n == 0) continue;
            ASSERT_LE(n, 62u) << latency;
            // Short of full, a packet waits for the timer since the last one.
            if (n < 62 && last >= 0) ASSERT_GE(t - last, latency) << n;
            if (last >= 0) longestGap = std::max(longestGap, t - last);
            full += n == 62;
            biggest = std::max(biggest, n);
            total += n;
            last = t;
        }
        EXPECT_NEAR(static_cast<double>(total), 2 * 250 * 33, 100) << latency;
        if (latency == 1000) {
            EXPECT_LE(biggest, 12u);  // what the line brings in 1 ms
        } else {
            EXPECT_GT(full * 62, total * 9 / 10);
            EXPECT_LE(longestGap, latency);
        }
    }
}

TEST(SimStream, TestSignalsLeadOffDriveAndDaisyHalvesShowInTheSamples) {
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

    // Lead-off drive on channel 2: 6 nA at 31.25 Hz through the electrode.
    b.clearLog();
    ask(*r.port, "d");
    ask(*r.port, "z210Z");
    r.stream(2.0);
    truth = b.packets();
    const std::size_t n = truth.size() / 8 * 8;  // whole periods of the drive
    double mean = 0;
    for (std::size_t i = 0; i < n; ++i) mean += truth[i].uV[1] / n;
    std::complex<double> drive(0);
    for (std::size_t i = 0; i < n; ++i)
        drive += (truth[i].uV[1] - mean) * std::polar(1.0, -2 * M_PI * 31.25 * i * 0.004);
    const double expected = 6e-9 * b.traits(1).electrodeOhms * 1e6;
    EXPECT_NEAR(2 * std::abs(drive) / n, expected, 0.03 * expected);

    // With the Daisy attached, packets carry the board's and the Daisy's
    // channels in turn, each at the gain of its own channel.
    b.clearLog();
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
