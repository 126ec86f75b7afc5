// Packet decoding of one dongle: stepping back into a stream, footers,
// EEG and accelerometer scaling, a board that stalls, and the counts.
#include <gtest/gtest.h>

#include <climits>

#include "link/ConfigComRadiozq.h"
#include "platform/clock.h"
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

    // Calls readCytonData until it decodes or the calls run out; the number
    // of calls it took (or -1).
    int callsUntilPacket(int maxCalls) {
        for (int i = 1; i <= maxCalls; ++i)
            if (dongle.readCytonData() == 1) return i;
        return -1;
    }

    platform::ScopedVirtualClock vclock;
    CConfigComRadiozq dongle;
    std::shared_ptr<StreamBoard> board;
};

TEST_F(Decode, StepsBackIntoAStreamThatStartsMidPacket) {
    // Packet 1 holds 0xA0 in its EEG bytes; the stream begins there, so the
    // 33 bytes from that byte are taken as a packet and dropped on their
    // footer, then the rest of packet 2 is skipped byte by byte.
    std::int32_t c[8] = {0x00A01234, 5, 6, 7, 8, 9, 10, 11};
    Bytes p1 = packet(1, 0xC0, {}, c);
    ASSERT_EQ(p1[2], 0xA0);
    Bytes p2 = packet(2, 0xC0);
    Bytes p3 = packet(3, 0xC1, {0xFF, 0xFE});
    Bytes stream(p1.begin() + 2, p1.end());
    stream.insert(stream.end(), p2.begin(), p2.end());
    stream.insert(stream.end(), p3.begin(), p3.end());
    board->push(stream);

    // The false header swallows 30 bytes of packet 1 and 2 of packet 2;
    // 31 more bytes of packet 2 go one per call; then packet 3.
    EXPECT_EQ(callsUntilPacket(40), 1 + 31 + 1);
    EXPECT_EQ(dongle.getSlot(0), 3);
    EXPECT_EQ(dongle.getSlot(19), -2);
    EXPECT_EQ(dongle.m_statDropped.load(), 1u);
    EXPECT_EQ(dongle.m_statPackets.load(), 1u);
    EXPECT_EQ(dongle.readCytonData(), 0);  // nothing left: a bounded wait, no packet
}

TEST_F(Decode, FootersOutsideC0ToC6AreDroppedWithoutTouchingTheRecord) {
    std::int32_t c[8] = {1000, 0, 0, 0, 0, 0, 0, 0};
    board->push(packet(10, 0xC6, {1, 2, 3, 4, 5, 6}, c));
    ASSERT_EQ(dongle.readCytonData(), 1);
    EXPECT_EQ(dongle.getSlot(12), 0xC6);
    EXPECT_EQ(dongle.getSlot(13), 1);
    EXPECT_EQ(dongle.getSlot(18), 6);
    const double eeg0 = dongle.getSlot(1);

    std::int32_t other[8] = {-5, -5, -5, -5, -5, -5, -5, -5};
    for (std::uint8_t f : {std::uint8_t(0xC7), std::uint8_t(0xBF), std::uint8_t(0x00)}) {
        board->push(packet(11, f, {9, 9, 9, 9, 9, 9}, other));
        EXPECT_EQ(dongle.readCytonData(), 0) << int(f);
        EXPECT_EQ(dongle.m_newPacket, 0);
        EXPECT_EQ(dongle.getSlot(0), 10);
        EXPECT_EQ(dongle.getSlot(1), eeg0);
        EXPECT_EQ(dongle.getSlot(12), 0xC6);
        EXPECT_EQ(dongle.getSlot(13), 1);
    }
    EXPECT_EQ(dongle.m_statDropped.load(), 3u);

    board->push(packet(12, 0xC0, {}, other));
    EXPECT_EQ(dongle.readCytonData(), 1);
    EXPECT_EQ(dongle.m_newPacket, 1);
    EXPECT_EQ(dongle.getSlot(0), 12);
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

TEST_F(Decode, ABoardThatStopsInMidPacketDoesNotHoldTheReader) {
    Bytes p = packet(7, 0xC0);
    board->push(Bytes(p.begin(), p.begin() + 12));
    const std::int64_t t0 = platform::clock().nowUs();
    EXPECT_EQ(dongle.readCytonData(), 0);
    const std::int64_t waited = platform::clock().nowUs() - t0;
    EXPECT_GE(waited, CConfigComRadiozq::kPacketRestTimeoutMs * 1000);
    EXPECT_LE(waited, CConfigComRadiozq::kPacketRestTimeoutMs * 1000 + 20000);
    EXPECT_EQ(dongle.m_statDropped.load(), 1u);

    // The board comes back: the next whole packet is decoded.
    board->push(packet(8, 0xC0), platform::clock().nowUs() + 1000);
    EXPECT_EQ(callsUntilPacket(5), 1);
    EXPECT_EQ(dongle.getSlot(0), 8);

    // Bytes that trickle in within the bound still make a packet.
    Bytes q = packet(9, 0xC0);
    const std::int64_t now = platform::clock().nowUs();
    for (int i = 0; i < 33; i += 11) board->push(Bytes(q.begin() + i, q.begin() + i + 11), now + i * 300);
    EXPECT_EQ(callsUntilPacket(3), 1);
    EXPECT_EQ(dongle.getSlot(0), 9);
}

TEST_F(Decode, CountsPacketsGapsAndStartsThemOverWithTheStream) {
    for (int sn : {250, 251, 253, 254, 255, 0, 1, 5}) board->push(packet(sn, 0xC0));
    for (int i = 0; i < 8; ++i) ASSERT_EQ(dongle.readCytonData(), 1);
    EXPECT_EQ(dongle.m_statPackets.load(), 8u);
    EXPECT_EQ(dongle.m_statGaps.load(), 1u + 3u);  // 252, and 2..4; 255 -> 0 is no gap
    EXPECT_EQ(dongle.m_lastSampleNo, 5);

    EXPECT_EQ(dongle.set4StreamCyton(), 1);
    EXPECT_EQ(board->received(), "b");
    EXPECT_EQ(dongle.m_statPackets.load(), 0u);
    EXPECT_EQ(dongle.m_statGaps.load(), 0u);
    EXPECT_EQ(dongle.m_lastSampleNo, -1);
    EXPECT_DOUBLE_EQ(dongle.m_cytonFactor[3], 4.5 / 8388607 / 24 * 1000000.0);
    EXPECT_EQ(dongle.stopStreamCyton(), 1);
    EXPECT_EQ(board->received(), "bs");
}

TEST_F(Decode, AFalseHeaderCountsNoGapAndAStreamThatMovedOnIsTakenUp) {
    // One packet a period; what the sample numbers say is judged by the time.
    auto feed = [&](std::initializer_list<int> sns) {
        for (int sn : sns) {
            board->push(packet(sn, 0xC0), platform::clock().nowUs());
            ASSERT_EQ(dongle.readCytonData(), 1) << sn;
            vclock.get().advanceUs(4000);
        }
    };
    // The stream's first packet is false (a header inside data at the start):
    // the second does not follow it, and the stream starts there.
    feed({0, 5, 6, 7});
    EXPECT_EQ(dongle.m_statGaps.load(), 0u);
    EXPECT_EQ(dongle.m_statOutOfStep.load(), 1u);
    // A false header inside the stream: decoded, but it adds no wrap of gaps.
    feed({8, 200, 9, 11});
    EXPECT_EQ(dongle.m_statGaps.load(), 1u);  // 10, lost on the radio
    EXPECT_EQ(dongle.m_statOutOfStep.load(), 2u);
    EXPECT_EQ(dongle.m_lastSampleNo, 11);
    // Radio losses take time: a step the time allows is a gap, not a fault.
    vclock.get().advanceUs(4000 * 40);
    feed({52});
    EXPECT_EQ(dongle.m_statGaps.load(), 1u + 40u);
    // The stream's last number was the odd one: three packets in step with
    // each other take the stream up again, and that number counts as false.
    feed({53, 140, 54});  // 140 false, 54 in step
    feed({120, 121, 122, 123});
    EXPECT_EQ(dongle.m_lastSampleNo, 123);
    EXPECT_EQ(dongle.m_statOutOfStep.load(), 2u + 1u + 1u);
    EXPECT_EQ(dongle.m_statPackets.load(), 4u + 4u + 1u + 3u + 4u);
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
