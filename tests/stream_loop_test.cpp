// The reading loop on virtual time, boards streaming behind memory ports.
#include <gtest/gtest.h>

#include <optional>
#include <set>

#include "host/AcqFramework.h"
#include "link/ConfigComRadiozq.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "serialport/Backend.h"
#include "sim/Cyton.h"
#include "tests/support/DriverRig.h"

using drivertest::waitFor;

namespace {

constexpr std::int64_t kPeriodUs = 4000;

std::int32_t countFor(int board, int pin, std::int64_t index) {
    std::int32_t v = (board + 1) * 100000 + pin * 1000 + static_cast<std::int32_t>(index % 1000);
    return (pin % 2) ? -v : v;
}

// Packet k of every board belongs to one sample period. 0xC1 packets carry k
// in their aux words, 0xC0 packets an accelerometer X of b + 1 counts.
struct BoardPlan {
    std::uint8_t footer = 0xC1;
    std::set<std::int64_t> lost;  // never leave the board
    int badEvery = 0;  // packets k with k % badEvery == 1 leave with a footer no packet has
    std::int64_t offAfter = -1;   // then the first `partial` bytes of the next, and no more
    int partial = 0;
};
std::string packetFor(int b, const BoardPlan& plan, std::int64_t k) {
    std::array<std::int32_t, 8> counts;
    for (int pin = 0; pin < 8; ++pin) counts[pin] = countFor(b, pin, k);
    std::array<std::uint8_t, 6> aux = {};
    for (int i = 0; plan.footer == 0xC1 && i < 6; ++i) aux[i] = static_cast<std::uint8_t>(k >> (8 * (5 - i)));
    if (plan.footer == 0xC0) aux[1] = static_cast<std::uint8_t>(1 + b);
    const std::string p =
        mbeeg::test::makePacket(static_cast<int>(k), counts, aux, plan.badEvery && k % plan.badEvery == 1 ? 0xD0 : plan.footer);
    if (plan.offAfter >= 0 && k > plan.offAfter) return k == plan.offAfter + 1 ? p.substr(0, plan.partial) : "";
    return plan.lost.count(k) ? "" : p;
}

class Loop : public ::testing::Test {
protected:
    void TearDown() override {
        if (rig) rig->drv.AcqStop();
        EXPECT_TRUE(platform::joinAllThreads(60000));
    }

    void boardsUp(int n, std::uint8_t footer = 0xC1, int linkType = LINK_TYPE_CYTON8) {
        rig.emplace(n, linkType);
        plans.resize(static_cast<std::size_t>(n));
        for (int b = 0; b < n; ++b) {
            plans[b].footer = footer;
            rig->drv.m_dongles[b]->getTrackGainMb(1, 6);
            rig->board(b).setStream('b', 's', kPeriodUs, [this, b](std::int64_t k) { return packetFor(b, plans[b], k); });
        }
        ASSERT_NE(rig->drv.getDevice(1), nullptr);
        N = n;
    }

    int prepare(int trials, std::int64_t samples, int record) {
        data.getMEGRecordInfozq()->m_trialCount = trials;
        data.getMEGRecordInfozq()->m_samplesPerTrial = samples;
        data.m_recordFolder = CString(tmp.path.wstring().c_str());
        data.m_recordName = L"loop";
        return rig->drv._09CheckInitTrlChn(&data, record);
    }

    CMeAcgChannelzq* ch(int trial, int i) { return data.getTrial(trial)->getChannel(i); }
    // The packet that fed board b's values in a row.
    std::int64_t indexAt(int trial, int b, std::int64_t row) {
        CMeAcgChannelzq* lo = ch(trial, 8 * N + 6 * b + 5);
        CMeAcgChannelzq* mid = ch(trial, 8 * N + 6 * b + 4);
        auto word = [](double v) { return static_cast<std::int64_t>(v) & 0xFFFF; };
        return word(lo->m_pValues[row]) + 65536 * word(mid->m_pValues[row]);
    }
    double eegAt(int trial, int b, int pin, std::int64_t row) { return ch(trial, 8 * b + pin)->m_pValues[row]; }
    static double uv(std::int32_t count) { return count * sim::uvPerCount(24); }

    platform::ScopedVirtualClock vclock;
    std::optional<drivertest::Rig> rig;
    CMeAcqDatazq data;
    std::vector<BoardPlan> plans;
    testfiles::TempDir tmp{"loop"};
    int N = 0;
};

TEST_F(Loop, MonitoringOverwritesItsTrialRowsAlignedAcrossBoards) {
    boardsUp(3);
    const std::int64_t S = 250;
    ASSERT_EQ(prepare(1, S, 0), 1);
    ASSERT_EQ(rig->drv.AcqMonit(&data, nullptr), 1);
    ASSERT_TRUE(waitFor([&] { return data.m_roundCounter.load() >= 2 && data.m_curSample.load() >= 40; }));
    rig->drv.AcqStop();
    ASSERT_TRUE(platform::joinAllThreads(60000));

    EXPECT_EQ(rig->drv.m_statusCode.load(), 20);
    EXPECT_EQ(data.m_acqStatus.load(), 4);
    EXPECT_EQ(rig->drv.m_pMonitThread, nullptr);
    const int rounds = data.m_roundCounter.load();
    const std::int64_t cur = data.m_curSample.load();
    ASSERT_GT(cur, 0);

    // Row r of the latest round is packet base + r for every board; the rows
    // after it still hold the round before.
    const std::int64_t base = indexAt(0, 0, 0) - static_cast<std::int64_t>(rounds) * S;
    for (std::int64_t r = 0; r < S; ++r) {
        const std::int64_t k = base + r + (r < cur ? rounds : rounds - 1) * S;
        for (int b = 0; b < N; ++b) {
            ASSERT_EQ(indexAt(0, b, r), k) << "row " << r << " board " << b;
            ASSERT_DOUBLE_EQ(eegAt(0, b, 1, r), uv(countFor(b, 1, k)));
            ASSERT_DOUBLE_EQ(ch(0, 8 * b + 7)->m_pValuesMirror[r], uv(countFor(b, 7, k)));
        }
    }
    CMeAcgChannelzq* ts = ch(0, 14 * N + TRAILER_TIMESTAMP);
    ASSERT_TRUE(ts->isTimeStampChannel());
    // Every row stands in the data set as its packets come, a period apart:
    // a loop that looks too seldom or sleeps past a packet falls behind.
    for (std::int64_t r = 1; r < cur; ++r) ASSERT_NEAR(ts->m_pValues[r] - ts->m_pValues[r - 1], 4.0, 1.0) << "row " << r;
    EXPECT_EQ(ch(0, 0)->m_lastSample.load(), cur - 1);

    EXPECT_DOUBLE_EQ(ch(0, 5)->m_rangeMin, -187500.0);
    EXPECT_DOUBLE_EQ(ch(0, 5)->m_rangeMax, 187500.0);
    EXPECT_DOUBLE_EQ(ch(0, 8 * N)->m_rangeMin, -2000.0);

    for (int b = 0; b < N; ++b) {
        const std::string rx = rig->board(b).written();
        EXPECT_EQ(rx.front(), 'b');
        EXPECT_EQ(rx.back(), 's');
        EXPECT_FALSE(rig->board(b).streaming());
    }
}

TEST_F(Loop, RecordingMovesThroughTheTrialsSavesAndStopsTheStreams) {
    boardsUp(2, 0xC1);
    plans[1].footer = 0xC0;
    plans[1].badEvery = 40;
    ASSERT_EQ(rig->drv.m_dongles[1]->getTrackGainMb(1, 0)->apply_config("x3040110X"), 1);
    const std::int64_t S = 50;
    ASSERT_EQ(prepare(3, S, 1), 1);
    ASSERT_EQ(data.m_recordFlag, 1);
    ASSERT_EQ(rig->drv.AcqMonit(&data, nullptr), 1);  // the data set decides: it records
    ASSERT_TRUE(platform::joinAllThreads(60000));  // the loop ends itself

    EXPECT_EQ(rig->drv.m_statusCode.load(), 22);
    EXPECT_EQ(data.m_acqStatus.load(), 8);
    EXPECT_EQ(data.m_roundCounter.load(), 3);
    EXPECT_EQ(data.m_curSample.load(), 0);
    EXPECT_EQ(rig->drv.m_stopFlag.load(), 1);
    EXPECT_EQ(data.filledSamples(2), S);
    EXPECT_EQ(rig->drv.m_pTrial, data.getTrial(2));

    const std::int64_t k0 = indexAt(0, 0, 0);
    for (int t = 0; t < 3; ++t)
        for (std::int64_t r = 0; r < S; ++r) ASSERT_EQ(indexAt(t, 0, r), k0 + t * S + r) << t << " " << r;
    EXPECT_DOUBLE_EQ(ch(2, 8 * N + 6)->m_pValues[S - 1], 2 * 0.000125);
    EXPECT_DOUBLE_EQ(ch(2, 8 * N + 0)->m_pValues[S - 1], 0.0);
    EXPECT_DOUBLE_EQ(eegAt(2, 0, 2, S - 1), uv(countFor(0, 2, k0 + 3 * S - 1)));

    for (int b = 0; b < N; ++b) EXPECT_EQ(rig->board(b).written().back(), 's');
    ASSERT_FALSE(data.savedPath().IsEmpty()) << CStringA(data.lastSaveError()).GetString();
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(data.savedPath().GetString())));

    auto infos = data.boardInfos();
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[1].board, 1);
    EXPECT_EQ(infos[1].port, CString(L"COM202"));
    EXPECT_EQ(infos[1].rows, static_cast<std::uint64_t>(3 * S));
    std::uint64_t bad = 0;
    for (std::int64_t k = k0; k < k0 + 3 * S; ++k) bad += k % 40 == 1;
    ASSERT_GE(bad, 3u);
    EXPECT_EQ(infos[1].packets, 3 * S - bad);
    EXPECT_EQ(infos[1].lost, bad);      // held in place of the bad packets
    EXPECT_EQ(infos[1].rejected, bad);  // and counted as what they were
    EXPECT_EQ(infos[0].lost + infos[0].rejected, 0u);
    EXPECT_DOUBLE_EQ(ch(2, 8 + 2)->m_rangeMax, 4.5e6 / 8);
    EXPECT_DOUBLE_EQ(ch(2, 8 + 3)->m_rangeMax, 4.5e6 / 24);
}

TEST_F(Loop, ABoardThatPowersOffMidPacketLeavesTheOthersGoing) {
    boardsUp(3);
    // The boards start a few sample periods after K.
    const std::int64_t K = platform::clock().nowUs() / kPeriodUs;
    const std::int64_t off = K + 30;
    plans[1].offAfter = off;
    plans[1].partial = 10;
    plans[2].lost = {K + 60, K + 61, K + 200};
    ASSERT_EQ(prepare(1, 500, 0), 1);
    ASSERT_EQ(rig->drv.AcqMonit(&data, nullptr), 1);
    ASSERT_TRUE(waitFor([&] { return data.m_curSample.load() >= 300; }));
    rig->drv.AcqStop();
    ASSERT_TRUE(platform::joinAllThreads(60000));

    const std::int64_t S = 500;
    const int rounds = data.m_roundCounter.load();
    const std::int64_t cur = data.m_curSample.load();
    ASSERT_GT(cur, 0);
    const std::int64_t total = rounds * S + cur;
    const std::int64_t kFirst = indexAt(0, 0, 0) - rounds * S;
    ASSERT_LT(kFirst, off);
    for (std::int64_t r = 0; r < S; ++r) {
        const std::int64_t k = kFirst + r + (r < cur ? rounds : rounds - 1) * S;
        if (k < kFirst) continue;  // not written yet
        ASSERT_EQ(indexAt(0, 0, r), k) << r;
        ASSERT_EQ(indexAt(0, 1, r), std::min(k, off)) << r;
        std::int64_t k2 = k;
        while (k2 == K + 60 || k2 == K + 61 || k2 == K + 200) --k2;
        ASSERT_EQ(indexAt(0, 2, r), k2) << r;
    }
    // Late at most by the short wait for a board already held.
    CMeAcgChannelzq* ts = ch(0, 14 * N + TRAILER_TIMESTAMP);
    EXPECT_NEAR(ts->m_pValues[cur - 1] - ts->m_pValues[0], 4.0 * (cur - 1), 52.0);

    CConfigComRadiozq* d0 = rig->drv.m_dongles[0];
    CConfigComRadiozq* d1 = rig->drv.m_dongles[1];
    CConfigComRadiozq* d2 = rig->drv.m_dongles[2];
    EXPECT_EQ(d1->m_statPackets.load(), static_cast<std::uint64_t>(off + 1 - kFirst));
    EXPECT_EQ(d1->m_statGaps.load(), static_cast<std::uint64_t>(total) - d1->m_statPackets.load());
    EXPECT_EQ(d2->m_statGaps.load(), 3u);
    EXPECT_EQ(d2->m_statDropped.load(), 0u);
    EXPECT_EQ(d0->m_statGaps.load() + d0->m_statDropped.load(), 0u);
    EXPECT_EQ(d0->m_statPackets.load(), static_cast<std::uint64_t>(total));
}

TEST_F(Loop, WithoutAPreparedTrialOrInTheDaisyLayoutTheLoopEndsAndSendsNothing) {
    boardsUp(2, 0xC0, LINK_TYPE_DAISY16);
    rig->drv.m_pData = &data;  // no trials made
    rig->drv.m_pTrial = nullptr;
    data.m_recordFlag = 1;
    AfxBeginThread(CDriveOpnBciMutiBoard06Record::acqThreadProc, &rig->drv, THREAD_PRIORITY_HIGHEST);
    ASSERT_TRUE(platform::joinAllThreads(60000));
    EXPECT_EQ(rig->drv.m_statusCode.load(), 22);
    EXPECT_EQ(data.m_acqStatus.load(), 0);

    ASSERT_EQ(rig->drv.m_pDevice->m_linkType, LINK_TYPE_DAISY16);
    ASSERT_EQ(prepare(1, 250, 0), 1);
    data.m_acqStatus = 0;
    ASSERT_EQ(rig->drv.AcqMonit(&data, nullptr), 1);
    ASSERT_TRUE(platform::joinAllThreads(60000));
    EXPECT_EQ(rig->drv.m_statusCode.load(), 20);
    EXPECT_EQ(data.m_acqStatus.load(), 0);
    EXPECT_EQ(rig->drv.s6ReadStream(), 1);
    rig->drv.m_pDevice->m_linkType = 4;
    EXPECT_EQ(rig->drv.s6ReadStream(), 0);
    for (int b = 0; b < N; ++b) EXPECT_EQ(rig->board(b).written(), "");
}

}  // namespace
