// Rows by sample number, every row checked against what each board sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>

#include "stream/RowAligner.h"
#include "tests/support/Transcript.h"

namespace {

constexpr std::int64_t kPeriod = 4000;
using Bytes = std::vector<std::uint8_t>;

struct BoardPlan {
    double ppm = 0;
    double dropRate = 0;
    std::int64_t phaseUs = 0;
    std::int64_t silentFromUs = -1, silentToUs = -1;  // radio outage: numbers go on
    std::set<std::int64_t> falseAfter;                // a stray packet after these indices
};

// Packet k of a board carries k in its first count, so a row says which
// packet fed it.
Bytes packetFor(std::int64_t k) {
    const std::string p = mbeeg::test::makePacket(static_cast<int>(k & 0xFF), {static_cast<std::int32_t>(k)});
    return Bytes(p.begin(), p.end());
}

struct Chunk {
    std::int64_t atUs;
    std::size_t board;
    Bytes bytes;
};

class Rig {
public:
    Rig(std::vector<BoardPlan> plans, std::int64_t durationUs, std::int64_t usbLatencyUs, unsigned seed = 7)
        : plans_(std::move(plans)), aligner_(plans_.size()), rows_(plans_.size()) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> u(0, 1);
        lost_.resize(plans_.size());
        for (std::size_t b = 0; b < plans_.size(); ++b) {
            const BoardPlan& p = plans_[b];
            const double period = kPeriod * (1.0 - p.ppm * 1e-6);
            Bytes pending;
            std::int64_t flushAt = -1;
            for (std::int64_t k = 0;; ++k) {
                const auto t = p.phaseUs + static_cast<std::int64_t>(std::llround(k * period));
                if (t > durationUs) break;
                // The FTDI chip: 62 bytes to a USB packet, else the latency timer.
                if (flushAt >= 0 && t >= flushAt && !pending.empty()) {
                    chunks_.push_back({flushAt, b, pending});
                    pending.clear();
                    flushAt = -1;
                }
                const bool silent = t >= p.silentFromUs && t < p.silentToUs;
                if (silent || u(rng) < p.dropRate) {
                    lost_[b].insert(k);
                    continue;
                }
                Bytes bytes = packetFor(k);
                if (p.falseAfter.count(k)) {
                    Bytes stray = packetFor(k + 77);
                    bytes.insert(bytes.end(), stray.begin(), stray.end());
                }
                for (std::uint8_t byte : bytes) {
                    pending.push_back(byte);
                    if (flushAt < 0) flushAt = t + usbLatencyUs;
                    if (pending.size() == 62) {
                        chunks_.push_back({t, b, pending});
                        pending.clear();
                        flushAt = -1;
                    }
                }
            }
        }
        std::stable_sort(chunks_.begin(), chunks_.end(), [](const Chunk& a, const Chunk& c) { return a.atUs < c.atUs; });
        end_ = durationUs;
    }

    stream::RowAligner& aligner() { return aligner_; }

    // Looks at the "ports" every millisecond, as the reading loop at most does.
    void run() {
        std::size_t next = 0;
        std::vector<stream::RowEntry> row;
        for (std::int64_t now = 0; now <= end_; now += 1000) {
            for (; next < chunks_.size() && chunks_[next].atUs <= now; ++next)
                aligner_.feed(chunks_[next].board, chunks_[next].bytes.data(), chunks_[next].bytes.size(), now);
            aligner_.update(now);
            while (aligner_.nextRow(row))
                for (std::size_t b = 0; b < row.size(); ++b)
                    rows_[b].push_back(row[b].kind == stream::RowEntry::Packet ? row[b].packet.counts[0]
                                                                                 : -1 - static_cast<int>(row[b].kind));
        }
    }

    // Every row of board b holds its next packet, or a hold for a packet it
    // lost; nothing skipped, repeated or out of order. Returns the holds.
    std::int64_t check(std::size_t b) {
        const auto& r = rows_[b];
        std::int64_t last = -1, holds = 0, driftHolds = 0, gap = 0, lostSeen = 0;
        for (std::size_t i = 0; i < r.size(); ++i) {
            if (r[i] == -1 - stream::RowEntry::Lost) {
                ++gap;
                continue;
            }
            if (r[i] == -1 - stream::RowEntry::DriftHold) {
                ++driftHolds;
                continue;
            }
            const std::int64_t k = r[i];
            if (last >= 0) {
                std::int64_t missing = 0;
                for (std::int64_t j = last + 1; j < k; ++j) {
                    if (!lost_[b].count(j) && !driftDropOk_.count(b)) {
                        ADD_FAILURE() << "board " << b << " skipped packet " << j << " at row " << i;
                        return -1;
                    }
                    missing += lost_[b].count(j) ? 1 : 0;
                }
                if (k <= last) ADD_FAILURE() << "board " << b << " repeated packet " << k << " at row " << i;
                EXPECT_EQ(gap, missing) << "board " << b << " row " << i << " packet " << k;
                lostSeen += missing;
            }
            holds += gap;
            gap = 0;
            last = k;
        }
        const stream::BoardCounts& c = aligner_.counts(b);
        EXPECT_EQ(c.rows, r.size());
        EXPECT_EQ(c.rows, c.packets + c.lost + c.driftHeld - c.driftDropped) << "board " << b;
        EXPECT_EQ(c.driftHeld, static_cast<std::uint64_t>(driftHolds));
        return holds + gap;
    }

    std::size_t rows() const { return rows_[0].size(); }
    const std::set<std::int64_t>& lost(std::size_t b) const { return lost_[b]; }
    void allowDriftDrops(std::size_t b) { driftDropOk_.insert(b); }

private:
    std::vector<BoardPlan> plans_;
    stream::RowAligner aligner_;
    std::vector<std::vector<std::int64_t>> rows_;
    std::vector<std::set<std::int64_t>> lost_;
    std::vector<Chunk> chunks_;
    std::set<std::size_t> driftDropOk_;
    std::int64_t end_ = 0;
};

TEST(RowAlignment, EveryRowHoldsEachBoardsNextSampleAndHoldsOnlyForRadioLosses) {
    for (std::int64_t latency : {1000, 16000}) {
        std::vector<BoardPlan> plans(4);
        for (std::size_t b = 0; b < plans.size(); ++b) plans[b].phaseUs = 700 * static_cast<std::int64_t>(b);
        plans[1].dropRate = 0.01;
        plans[3].dropRate = 0.01;
        plans[2].falseAfter = {100, 2000};  // a stray header in the stream, twice
        Rig rig(plans, 20'000'000, latency);
        rig.run();
        EXPECT_GT(rig.rows(), 4900u) << latency;
        for (std::size_t b = 0; b < plans.size(); ++b) {
            const std::int64_t holds = rig.check(b);
            const auto& c = rig.aligner().counts(b);
            EXPECT_EQ(c.lost, static_cast<std::uint64_t>(holds)) << b;
            EXPECT_EQ(c.driftHeld + c.driftDropped, 0u) << b;
            EXPECT_TRUE(holds == 0 || b % 2) << b << " latency " << latency;
        }
        EXPECT_EQ(rig.aligner().counts(2).outOfSequence, 2u) << latency;
    }
}

TEST(RowAlignment, ASilentBoardHoldsNobodyAndItsLossIsCountedExactlyWhenItReturns) {
    // A radio outage: the board samples on, nothing reaches the PC. 0.5 s is
    // inside one wrap of the sample numbers; 2.3 s is nine wraps' worth.
    for (std::int64_t outage : {500'000, 2'300'000}) {
        std::vector<BoardPlan> plans(3);
        plans[1].phaseUs = 1500;
        plans[1].silentFromUs = 3'000'000;
        plans[1].silentToUs = 3'000'000 + outage;
        Rig rig(plans, 8'000'000, 1000);
        // Rows keep coming while board 2 is silent: never more than the
        // stall bound behind the others.
        rig.run();
        EXPECT_GT(rig.rows(), 1950u);
        EXPECT_EQ(rig.check(0), 0);
        EXPECT_EQ(rig.check(2), 0);
        const std::int64_t holds = rig.check(1);
        EXPECT_EQ(holds, static_cast<std::int64_t>(rig.lost(1).size())) << outage;
        EXPECT_NEAR(static_cast<double>(holds), outage / 4000.0, 1.0) << outage;
    }
}

TEST(RowAlignment, AStreamThatStartsInsideAPacketBeginsAtTheBoardsFirstWholePacket) {
    // Board 0's bytes start inside packet 5, whose data hide a header 0xA0
    // with sample number 5 and a footer 33 bytes on, in packet 6: a packet
    // that packet 7 goes on from by its number. Board 1 streams cleanly.
    auto bytes = [](int k, std::array<std::int32_t, 8> c) {
        const std::string p = mbeeg::test::makePacket(k & 0xFF, c);
        return Bytes(p.begin(), p.end());
    };
    std::vector<Bytes> board0, board1;
    for (int k = 5; k < 100; ++k) {
        board1.push_back(packetFor(k));
        if (k == 5) {
            const Bytes p = bytes(5, {0, 0, 0, 0xA00500 - 0x1000000});
            board0.emplace_back(p.begin() + 4, p.end());
        } else {
            board0.push_back(k == 6 ? bytes(6, {0, 0, 0xC0}) : packetFor(k));
        }
    }
    stream::RowAligner aligner(2);
    std::vector<stream::RowEntry> row;
    std::vector<std::int32_t> first0, first1;
    for (std::size_t k = 0; k < board0.size(); ++k) {
        const std::int64_t now = static_cast<std::int64_t>(k) * kPeriod;
        aligner.feed(0, board0[k].data(), board0[k].size(), now);
        aligner.feed(1, board1[k].data(), board1[k].size(), now);
        aligner.update(now);
        while (aligner.nextRow(row)) {
            ASSERT_EQ(row[0].kind, stream::RowEntry::Packet) << "row " << first0.size();
            ASSERT_EQ(row[1].kind, stream::RowEntry::Packet) << "row " << first0.size();
            first0.push_back(row[0].packet.counts[0]);
            first1.push_back(row[1].packet.counts[0]);
        }
    }
    ASSERT_GT(first0.size(), 80u);
    EXPECT_EQ(first0.front(), 7);
    EXPECT_EQ(first0, first1);
    EXPECT_EQ(aligner.counts(0).outOfSequence, 1u);
}

TEST(RowAlignment, ClockDriftIsEvenedOutOneCountedSampleAtATime) {
    // +100 and -100 ppm against the first board over ten minutes: 15 samples
    // each way.
    std::vector<BoardPlan> plans(3);
    plans[1].ppm = 100;
    plans[1].phaseUs = 1300;
    plans[2].ppm = -100;
    plans[2].phaseUs = 2600;
    Rig rig(plans, 600'000'000, 16000);
    std::vector<std::pair<std::size_t, stream::RowAligner::Event>> events;
    rig.aligner().setEventSink(
        [&](std::size_t b, stream::RowAligner::Event e, std::int64_t) { events.emplace_back(b, e); });
    rig.allowDriftDrops(1);
    rig.run();
    const auto& fast = rig.aligner().counts(1);
    const auto& slow = rig.aligner().counts(2);
    EXPECT_NEAR(static_cast<double>(fast.driftDropped), 15.0, 1.0);
    EXPECT_EQ(fast.driftHeld, 0u);
    EXPECT_NEAR(static_cast<double>(slow.driftHeld), 15.0, 1.0);
    EXPECT_EQ(slow.driftDropped, 0u);
    EXPECT_EQ(rig.aligner().counts(0).driftHeld + rig.aligner().counts(0).driftDropped, 0u);
    EXPECT_EQ(events.size(), fast.driftDropped + slow.driftHeld);
    for (std::size_t b = 0; b < 3; ++b) EXPECT_EQ(rig.check(b), 0) << b;
    // Queues stay short: the boards are kept within a couple of samples.
    for (std::size_t b = 0; b < 3; ++b) EXPECT_LT(rig.aligner().queued(b), 8u) << b;
}

}  // namespace
