// Packet decoding: golden streams (tests/data/stream) in any split, and scaling.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <vector>

#include "link/ConfigComRadiozq.h"
#include "platform/clock.h"
#include "serialport/Backend.h"
#include "stream/PacketDecoder.h"
#include "tests/support/ScriptedDevice.h"

using namespace mbeeg::test;

namespace {

double uv(std::int32_t count, int gain) { return count * 4.5 / 8388607.0 / gain * 1000000.0; }

struct Dongle {
    Dongle() {
        plugInto(dongle, 0, "SCRIPT", dev);
        dongle.getTrackGainMb(1, 6);
    }
    ~Dongle() {
        dongle.closeSerialPorts();
        mbeeg::serial::clearMemoryPorts();
    }
    platform::ScopedVirtualClock vclock;
    CConfigComRadiozq dongle;
    std::shared_ptr<ScriptedDevice> dev = std::make_shared<ScriptedDevice>();
};

}  // namespace

TEST(StreamTranscripts, EveryPacketIsFoundInAnySplitAndReadOneAtATime) {
    const auto cases = loadTranscripts(MBEEG_SOURCE_DIR "/tests/data", "stream");
    ASSERT_GE(cases.size(), 12u);
    for (const Transcript& t : cases) {
        const std::string bytes = t.answers();
        const bool rowsGiven = t.has("badFooters");  // else the case speaks of the record only
        const auto bad = static_cast<std::uint64_t>(rowsGiven ? t.num("badFooters") : 0);
        for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{33}, bytes.size()}) {
            stream::PacketDecoder dec;
            std::deque<stream::CytonPacket> out;
            for (std::size_t i = 0; rowsGiven && i < bytes.size(); i += chunk)
                dec.feed(reinterpret_cast<const std::uint8_t*>(bytes.data()) + i, std::min(chunk, bytes.size() - i),
                         0, out);
            std::vector<std::vector<std::int64_t>> rows;
            for (const auto& p : out) {
                rows.push_back({p.sampleNo});
                rows.back().insert(rows.back().end(), p.counts.begin(), p.counts.end());
            }
            EXPECT_EQ(rows, t.rows) << t.where << " in chunks of " << chunk;
            EXPECT_EQ(dec.badFooters(), bad) << t.where << " in chunks of " << chunk;
        }

        // The dongle: one packet a call, counts in microvolts at gain 24.
        Dongle d;
        d.dev->push(bytes);
        std::vector<std::vector<std::int64_t>> rows;
        for (std::size_t i = 0; i < bytes.size() / 33 + 2; ++i) {
            if (d.dongle.readCytonData() != 1) continue;
            rows.push_back({static_cast<std::int64_t>(d.dongle.getSlot(0))});
            for (int c = 0; c < 8; ++c) {
                const std::int64_t count = std::llround(d.dongle.getSlot(1 + c) / uv(1, 24));
                EXPECT_DOUBLE_EQ(d.dongle.getSlot(1 + c), uv(static_cast<std::int32_t>(count), 24)) << t.where;
                rows.back().push_back(count);
            }
        }
        if (rowsGiven) {
            EXPECT_EQ(rows, t.rows) << t.where << " read by the dongle";
        }
        EXPECT_EQ(d.dongle.m_statDropped.load(), bad) << t.where;
        for (const auto& [key, v] : t.expect) {
            if (!key.starts_with("slot")) continue;
            EXPECT_NEAR(d.dongle.getSlot(std::stoi(key.substr(4))), std::stod(v), 1e-9) << t.where << ": " << key;
        }
    }
}

TEST(PacketCutting, KeepsAuxFooterAndArrivalOfEachPacket) {
    const std::string p = makePacket(77, {}, {1, 2, 3, 4, 5, 6}, 0xC4);
    const auto* b = reinterpret_cast<const std::uint8_t*>(p.data());
    stream::PacketDecoder dec;
    std::deque<stream::CytonPacket> out;
    dec.feed(b, 20, 1000, out);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(dec.pendingBytes(), 20u);
    dec.feed(b + 20, 13, 5000, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].aux, (std::array<std::uint8_t, 6>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(out[0].footer, 0xC4);
    EXPECT_EQ(out[0].arrivalUs, 5000);  // when its last byte came
}

TEST(Decode, EegCountsBecomeMicrovoltsWithTheGainOfEachPacket) {
    Dongle d;
    const std::array<std::int32_t, 8> c = {-8388608, 8388607, -1, 1, 0x123456, -0x123456, 0, 0x7FFF00};
    d.dev->push(makePacket(0, c));
    ASSERT_EQ(d.dongle.readCytonData(), 1);
    EXPECT_NEAR(d.dongle.getSlot(1), -187500.02, 0.005);
    EXPECT_NEAR(d.dongle.getSlot(2), 187500.0, 1e-6);

    // A settings frame applied between packets changes the scale of the
    // very next packet: the gain is not cached at stream start.
    d.dongle.set4StreamDaisy();  // caches factors, must not matter
    ASSERT_EQ(d.dongle.m_pTrackGain->apply_config("x1020000Xx8010000X"), 1);
    d.dev->push(makePacket(1, c));
    ASSERT_EQ(d.dongle.readCytonData(), 1);
    EXPECT_DOUBLE_EQ(d.dongle.getSlot(1), uv(c[0], 4));
    EXPECT_DOUBLE_EQ(d.dongle.getSlot(2), uv(c[1], 24));
    EXPECT_DOUBLE_EQ(d.dongle.getSlot(8), uv(c[7], 2));
    EXPECT_DOUBLE_EQ(d.dongle.m_daisyFactor[0], 4.5 / 8388607 / 24 * 1000000.0);
    d.dongle.set4StreamDaisy();
    EXPECT_DOUBLE_EQ(d.dongle.m_daisyFactor[0], 4.5 / 8388607 / 4 * 1000000.0);
    EXPECT_DOUBLE_EQ(d.dongle.m_daisyFactor[15], 4.5 / 8388607 / 1 * 1000000.0);  // no such channel: gain 1
}

TEST(Decode, StreamCommandsScaleAndDropWhatWasLeftOfTheOldStream) {
    Dongle d;
    const std::string p = makePacket(7, {});
    d.dev->push(p.substr(0, 12));
    EXPECT_EQ(d.dongle.readCytonData(), 0);
    EXPECT_EQ(d.dongle.set4StreamCyton(), 1);
    EXPECT_EQ(d.dev->written(), "b");
    EXPECT_DOUBLE_EQ(d.dongle.m_cytonFactor[3], 4.5 / 8388607 / 24 * 1000000.0);
    // The cut packet's head is gone: the new stream's bytes stand alone.
    d.dev->push(p.substr(12) + makePacket(8, {}));
    EXPECT_EQ(d.dongle.readCytonData(), 1);
    EXPECT_EQ(d.dongle.getSlot(0), 8);
    EXPECT_EQ(d.dongle.stopStreamCyton(), 1);
    EXPECT_EQ(d.dev->written(), "bs");

    CConfigComRadiozq lone;  // without an open port nothing is decoded and nothing hangs
    EXPECT_EQ(lone.readCytonData(), 0);
    EXPECT_EQ(lone.set4StreamCyton(), 1);
    EXPECT_EQ(lone.stopStreamCyton(), 1);
    EXPECT_EQ(lone.m_statDropped.load(), 0u);
}
