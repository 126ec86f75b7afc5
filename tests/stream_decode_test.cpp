// Packet decoding: cutting a byte stream into packets (stepping back into a
// stream, false headers, footers, any split of the bytes), and one dongle's
// sample record (EEG and accelerometer scaling, its commands).
#include <gtest/gtest.h>

#include <climits>
#include <deque>
#include <vector>

#include "link/ConfigComRadiozq.h"
#include "platform/clock.h"
#include "stream/PacketDecoder.h"
#include "tests/support/StreamBoard.h"

using namespace streamtest;

namespace {

const std::int32_t kZero[8] = {};

Bytes packet(int sn, std::uint8_t footer, std::initializer_list<std::uint8_t> aux = {}, const std::int32_t* counts = kZero) {
    std::uint8_t a[6] = {};
    int i = 0;
    for (auto b : aux) a[i++] = b;
    return makePacket(sn, counts, a, footer);
}

double uv(std::int32_t count, int gain) { return count * 4.5 / 8388607.0 / gain * 1000000.0; }

class Decode : public ::testing::Test {
protected:
    void SetUp() override { board = attachBoard(dongle, 0); }
    void TearDown() override { detachAllBoards(); }

    platform::ScopedVirtualClock vclock;
    CConfigComRadiozq dongle;
    std::shared_ptr<StreamBoard> board;
};

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Sample numbers of the packets found, fed in chunks of `chunk` bytes.
std::vector<int> cut(const Bytes& bytes, std::size_t chunk, stream::PacketDecoder& dec) {
    std::deque<stream::CytonPacket> out;
    for (std::size_t i = 0; i < bytes.size(); i += chunk)
        dec.feed(bytes.data() + i, std::min(chunk, bytes.size() - i), 0, out);
    std::vector<int> sns;
    for (const auto& p : out) sns.push_back(p.sampleNo);
    return sns;
}

TEST(PacketCutting, FindsEveryTruePacketWhateverTheBytesHoldAndHowTheyAreSplit) {
    std::int32_t withHeader[8] = {0x00A01234, 5, 6, 7, 8, 9, 10, 11};
    const Bytes p1 = packet(1, 0xC0, {}, withHeader);
    ASSERT_EQ(p1[2], 0xA0);
    struct Case {
        const char* what;
        Bytes bytes;
        std::vector<int> packets;
        std::uint64_t badFooters;
    } cases[] = {
        // The stream begins inside packet 1 at a 0xA0 of its data: that false
        // header's 33rd byte is no footer, and the search goes on inside the
        // bytes it took, where packet 2's header is.
        {"mid-packet start", cat({Bytes(p1.begin() + 2, p1.end()), packet(2, 0xC0), packet(3, 0xC1)}), {2, 3}, 0},
        {"noise before", cat({Bytes{0x11, 0xA0, 0x22, 0xC0}, packet(4, 0xC0)}), {4}, 0},
        {"footers C7, BF, 00",
         cat({packet(10, 0xC6), packet(11, 0xC7), packet(12, 0xBF), packet(13, 0x00), packet(14, 0xC0)}),
         {10, 14}, 3},
        // A board that stopped in mid-packet and came back: its next packet
        // is not lost with the cut one. Only packets that were due count as
        // bad, not the false headers met on the way back into step.
        {"cut packet", cat({packet(7, 0xC0), Bytes(p1.begin(), p1.begin() + 12), packet(8, 0xC0), packet(9, 0xC0)}),
         {7, 8, 9}, 1},
    };
    for (const Case& c : cases) {
        for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{33}, c.bytes.size()}) {
            stream::PacketDecoder dec;
            EXPECT_EQ(cut(c.bytes, chunk, dec), c.packets) << c.what << " in chunks of " << chunk;
            EXPECT_EQ(dec.badFooters(), c.badFooters) << c.what << " in chunks of " << chunk;
        }
    }
}

TEST(PacketCutting, KeepsCountsAuxFooterAndArrivalOfEachPacket) {
    std::int32_t c[8] = {-8388608, 8388607, -1, 1, 0x123456, -0x123456, 0, 0x7FFF00};
    const Bytes p = packet(77, 0xC4, {1, 2, 3, 4, 5, 6}, c);
    stream::PacketDecoder dec;
    std::deque<stream::CytonPacket> out;
    dec.feed(p.data(), 20, 1000, out);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(dec.pendingBytes(), 20u);
    dec.feed(p.data() + 20, 13, 5000, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].sampleNo, 77);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(out[0].counts[i], c[i]) << i;
    EXPECT_EQ(out[0].aux, (std::array<std::uint8_t, 6>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(out[0].footer, 0xC4);
    EXPECT_EQ(out[0].arrivalUs, 5000);  // when its last byte came
}

TEST_F(Decode, ReadCytonDataTakesOnePacketAtATimeAndLeavesTheRecordOnBadFooters) {
    std::int32_t c[8] = {1000, 0, 0, 0, 0, 0, 0, 0};
    board->push(packet(10, 0xC6, {1, 2, 3, 4, 5, 6}, c));
    ASSERT_EQ(dongle.readCytonData(), 1);
    EXPECT_EQ(dongle.getSlot(12), 0xC6);
    EXPECT_EQ(dongle.getSlot(13), 1);
    EXPECT_EQ(dongle.getSlot(18), 6);
    const double eeg0 = dongle.getSlot(1);

    std::int32_t other[8] = {-5, -5, -5, -5, -5, -5, -5, -5};
    board->push(packet(11, 0xC7, {9, 9, 9, 9, 9, 9}, other));
    EXPECT_EQ(dongle.readCytonData(), 0);
    EXPECT_EQ(dongle.m_newPacket, 0);
    EXPECT_EQ(dongle.getSlot(0), 10);
    EXPECT_EQ(dongle.getSlot(1), eeg0);
    EXPECT_EQ(dongle.getSlot(13), 1);
    EXPECT_EQ(dongle.m_statDropped.load(), 1u);

    // Two packets in one read: one per call.
    board->push(cat({packet(12, 0xC0, {}, other), packet(13, 0xC0)}));
    EXPECT_EQ(dongle.readCytonData(), 1);
    EXPECT_EQ(dongle.m_newPacket, 1);
    EXPECT_EQ(dongle.getSlot(0), 12);
    EXPECT_EQ(dongle.readCytonData(), 1);
    EXPECT_EQ(dongle.getSlot(0), 13);
    EXPECT_EQ(dongle.readCytonData(), 0);
}

TEST_F(Decode, EegCountsBecomeMicrovoltsWithTheGainOfEachPacket) {
    std::int32_t c[8] = {-8388608, 8388607, -1, 1, 0x123456, -0x123456, 0, 0x7FFF00};
    board->push(packet(0, 0xC0, {}, c));
    ASSERT_EQ(dongle.readCytonData(), 1);
    EXPECT_DOUBLE_EQ(dongle.getSlot(1), -8388608 * 4.5 / 8388607 / 24 * 1000000.0);
    EXPECT_NEAR(dongle.getSlot(1), -187500.02, 0.005);
    EXPECT_NEAR(dongle.getSlot(2), 187500.0, 1e-6);
    for (int pin = 2; pin < 8; ++pin) EXPECT_DOUBLE_EQ(dongle.getSlot(1 + pin), uv(c[pin], 24)) << pin;

    // A settings frame applied between packets changes the scale of the
    // very next packet: the gain is not cached at stream start.
    dongle.set4StreamDaisy();  // caches factors, must not matter
    ASSERT_EQ(dongle.m_pTrackGain->apply_config("x1020000Xx8010000X"), 1);
    board->push(packet(1, 0xC0, {}, c));
    ASSERT_EQ(dongle.readCytonData(), 1);
    EXPECT_DOUBLE_EQ(dongle.getSlot(1), uv(c[0], 4));
    EXPECT_DOUBLE_EQ(dongle.getSlot(2), uv(c[1], 24));
    EXPECT_DOUBLE_EQ(dongle.getSlot(8), uv(c[7], 2));
    EXPECT_DOUBLE_EQ(dongle.m_daisyFactor[0], 4.5 / 8388607 / 24 * 1000000.0);
    dongle.set4StreamDaisy();
    EXPECT_DOUBLE_EQ(dongle.m_daisyFactor[0], 4.5 / 8388607 / 4 * 1000000.0);
    EXPECT_DOUBLE_EQ(dongle.m_daisyFactor[15], 4.5 / 8388607 / 1 * 1000000.0);  // no such channel: gain 1
}

TEST_F(Decode, AccelerometerFootersKeepOrAssembleTheLastReading) {
    // 0xC0: X = 64 counts = 0.008 g; Y and Z negative.
    board->push(packet(0, 0xC0, {0x00, 0x40, 0xFF, 0xC0, 0x80, 0x00}));
    ASSERT_EQ(dongle.readCytonData(), 1);
    EXPECT_DOUBLE_EQ(dongle.getSlot(9), 0.008);
    EXPECT_DOUBLE_EQ(dongle.getSlot(10), -64 * 0.000125);
    EXPECT_DOUBLE_EQ(dongle.getSlot(11), -32768 * 0.000125);

    // X of 0: no new reading, even with Y and Z set.
    board->push(packet(1, 0xC0, {0x00, 0x00, 0x01, 0x00, 0x01, 0x00}));
    ASSERT_EQ(dongle.readCytonData(), 1);
    EXPECT_DOUBLE_EQ(dongle.getSlot(9), 0.008);
    EXPECT_DOUBLE_EQ(dongle.getSlot(10), -64 * 0.000125);

    // 0xC1: raw words in 19..21, accelerometer slots untouched.
    board->push(packet(2, 0xC1, {0xFF, 0xFE, 0x7F, 0xFF, 0x00, 0x05}));
    ASSERT_EQ(dongle.readCytonData(), 1);
    EXPECT_EQ(dongle.getSlot(19), -2);
    EXPECT_EQ(dongle.getSlot(20), 32767);
    EXPECT_EQ(dongle.getSlot(21), 5);
    EXPECT_DOUBLE_EQ(dongle.getSlot(9), 0.008);

    // Other footers leave both the accelerometer and the raw words.
    board->push(packet(3, 0xC2, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}));
    ASSERT_EQ(dongle.readCytonData(), 1);
    EXPECT_EQ(dongle.getSlot(19), -2);
    EXPECT_DOUBLE_EQ(dongle.getSlot(9), 0.008);
    EXPECT_EQ(dongle.getSlot(13), 0x12);

    // 0xC3/0xC4: X high 0x01 then X low 0x40 -> 0x0140 = 320 counts.
    board->push(packet(4, 0xC3, {0, 'x', 0x01}));
    ASSERT_EQ(dongle.readCytonData(), 1);
    EXPECT_DOUBLE_EQ(dongle.getSlot(9), 0.008);
    EXPECT_EQ(dongle.m_accSlots[0], 0x01);
    board->push(packet(5, 0xC4, {0, 'X', 0x40}));
    ASSERT_EQ(dongle.readCytonData(), 1);
    EXPECT_DOUBLE_EQ(dongle.getSlot(9), 0.04);
    EXPECT_EQ(dongle.m_accSlots[0], 0);
    EXPECT_EQ(dongle.m_accSlots[1], 0);

    // A negative high byte; a low byte of 0 leaves Z unassembled; an
    // unknown letter stores nothing.
    board->push(packet(6, 0xC3, {0, 'y', 0xFF}));
    board->push(packet(7, 0xC4, {0, 'Y', 0x80}));
    board->push(packet(8, 0xC3, {0, 'z', 0x02}));
    board->push(packet(9, 0xC4, {0, 'Z', 0x00}));
    board->push(packet(10, 0xC4, {0, 'w', 0x33}));
    for (int i = 0; i < 5; ++i) ASSERT_EQ(dongle.readCytonData(), 1);
    EXPECT_DOUBLE_EQ(dongle.getSlot(10), -128 * 0.000125);
    EXPECT_DOUBLE_EQ(dongle.getSlot(11), -32768 * 0.000125);  // from the first 0xC0
    EXPECT_EQ(dongle.m_accSlots[4], 0x02);
    EXPECT_EQ(dongle.m_accSlots[5], 0);
    EXPECT_DOUBLE_EQ(dongle.getSlot(9), 0.04);
}

TEST_F(Decode, StreamCommandsScaleAndDropWhatWasLeftOfTheOldStream) {
    Bytes p = packet(7, 0xC0);
    board->push(Bytes(p.begin(), p.begin() + 12));
    EXPECT_EQ(dongle.readCytonData(), 0);
    EXPECT_EQ(dongle.set4StreamCyton(), 1);
    EXPECT_EQ(board->received(), "b");
    EXPECT_DOUBLE_EQ(dongle.m_cytonFactor[3], 4.5 / 8388607 / 24 * 1000000.0);
    // The cut packet's head is gone: the new stream's bytes stand alone.
    board->push(Bytes(p.begin() + 12, p.end()));
    board->push(packet(8, 0xC0));
    EXPECT_EQ(dongle.readCytonData(), 1);
    EXPECT_EQ(dongle.getSlot(0), 8);
    EXPECT_EQ(dongle.stopStreamCyton(), 1);
    EXPECT_EQ(board->received(), "bs");
}

TEST(DecodeNoPort, WithoutAnOpenPortNothingIsDecodedAndNothingHangs) {
    platform::ScopedVirtualClock vclock;
    CConfigComRadiozq dongle;
    EXPECT_EQ(dongle.readCytonData(), 0);
    EXPECT_EQ(dongle.set4StreamCyton(), 1);
    EXPECT_EQ(dongle.stopStreamCyton(), 1);
    EXPECT_EQ(dongle.m_statDropped.load(), 0u);
}

}  // namespace
