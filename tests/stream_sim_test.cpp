// The reading loop against the simulator's boards (independent sample
// clocks, radio losses, a board that loses power in mid-packet), on
// virtual time: every stored count is what the board sent for that row's
// sample, rows pair packets of the same sample period, and every held row
// is a packet the radio lost.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <chrono>
#include <map>
#include <thread>

#include "host/AcqFramework.h"
#include "link/ConfigComRadiozq.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "sim/SimRig.h"
#include "tests/support/DriverRig.h"

namespace {

// Each dongle of the rig opened straight on its port, as discovery leaves it.
void attachRig(drivertest::TestDriver& drv, sim::SimRig& rig) {
    for (int b = 0; b < rig.boards(); ++b) {
        auto* d = new CConfigComRadiozq;
        auto* port = new CMegSerialPortzq();
        ASSERT_TRUE(port->openRW(CString(rig.portName(b).c_str()), 1, 1));
        d->m_pSerialPort = port;
        d->m_portName = CString(rig.portName(b).c_str());
        d->getTrackGainMb(1, 6);
        drv.m_dongles.push_back(d);
    }
}

TEST(StreamSim, RecordingPairsPacketsOfOnePeriodAndCountsWhatTheRadioLost) {
    platform::ScopedVirtualClock vclock;
    mbeeg::serial::setRealPortsEnabled(false);
    const std::int64_t t0 = platform::clock().nowUs();

    sim::SimConfig cfg;
    cfg.boards = 3;
    cfg.seed = 11;
    cfg.perBoard.assign(3, sim::BoardConfig{});
    cfg.perBoard[1].dropRate = 0.03;
    cfg.perBoard[2].powerOffAtUs = 1'200'000;  // in mid-recording
    cfg.perBoard[2].powerOffAfterBytes = 14;
    sim::SimRig rig(cfg);
    rig.plugIn();

    drivertest::TestDriver drv;
    CHdwrConfigzq user, detect;
    drv.m_pConfigUser = &user;
    drv.m_pConfigDetect = &detect;
    ASSERT_NO_FATAL_FAILURE(attachRig(drv, rig));
    ASSERT_NE(drv.getDevice(1), nullptr);

    CMeAcqDatazq data;
    const std::int64_t S = 500;
    const auto folder = std::filesystem::temp_directory_path() / ("mbeeg-streamsim-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    data.m_recordFolder = CString(folder.wstring().c_str());
    data.m_recordName = L"sim";
    data.getMEGRecordInfozq()->m_trialCount = 1;
    data.getMEGRecordInfozq()->m_samplesPerTrial = S;
    ASSERT_EQ(drv._09CheckInitTrlChn(&data, 1), 1);
    ASSERT_EQ(drv.AcqRecord(&data, nullptr), 1);
    ASSERT_TRUE(platform::joinAllThreads(60000));
    ASSERT_EQ(data.m_acqStatus.load(), 8);
    EXPECT_GT(platform::clock().nowUs() - t0, cfg.perBoard[2].powerOffAtUs);

    // Which packet of each board fed each row, found by its eight counts.
    const int N = 3;
    CMeAcqTrialzq* trial = data.getTrial(0);
    std::vector<std::vector<sim::PacketRecord>> truth(N);
    std::vector<std::map<std::array<std::int32_t, 8>, std::size_t>> byCounts(N);
    for (int b = 0; b < N; ++b) {
        truth[b] = rig.board(b).packets();
        for (std::size_t i = 0; i < truth[b].size(); ++i)
            if (!truth[b][i].dropped) byCounts[b][truth[b][i].counts] = i;
    }
    auto packetAt = [&](int b, std::int64_t row) -> long {
        std::array<std::int32_t, 8> c{};
        for (int p = 0; p < 8; ++p)
            c[p] = static_cast<std::int32_t>(std::llround(trial->getChannel(8 * b + p)->m_pValues[row] / sim::uvPerCount(24)));
        auto it = byCounts[b].find(c);
        return it == byCounts[b].end() ? -1 : static_cast<long>(it->second);
    };

    std::vector<long> first(N), last(N);
    for (int b = 0; b < N; ++b) {
        first[b] = packetAt(b, 0);
        last[b] = packetAt(b, S - 1);
        ASSERT_GE(first[b], 0) << b;
        ASSERT_GE(last[b], 0) << b;
    }
    // Each board's rows are its packets in order, one per row: a row repeats
    // the one before only for a packet the radio lost, once per packet.
    int paired = 0;
    std::vector<long> prev(N, -1);
    std::vector<std::uint64_t> held(N, 0), radio(N, 0);
    for (std::int64_t r = 0; r < S; ++r) {
        std::vector<long> k(N);
        for (int b = 0; b < N; ++b) {
            k[b] = packetAt(b, r);
            ASSERT_GE(k[b], 0) << "board " << b << " row " << r << ": counts no packet had";
            if (r == 0) continue;
            if (k[b] == prev[b]) {
                ++held[b];
                continue;
            }
            // The packets in between were lost on the radio, and held for.
            long lostBetween = 0;
            for (long i = prev[b] + 1; i < k[b]; ++i) lostBetween += truth[b][i].dropped ? 1 : 0;
            ASSERT_EQ(k[b] - prev[b] - 1, lostBetween) << "board " << b << " row " << r << " skipped a packet";
            radio[b] += static_cast<std::uint64_t>(lostBetween);
        }
        if (r > 0 && k[0] != prev[0] && k[1] != prev[1]) {
            ++paired;
            EXPECT_LT(std::llabs(truth[0][k[0]].timeUs - truth[1][k[1]].timeUs), sim::kSamplePeriodUs)
                << "row " << r;
        }
        prev = k;
    }
    EXPECT_GT(paired, S * 8 / 10);
    // Held rows are the radio's losses, counted, for the boards that sent on.
    for (int b = 0; b < 2; ++b) {
        EXPECT_EQ(held[b], radio[b]) << b;
        EXPECT_EQ(drv.m_dongles[b]->m_statGaps.load(), held[b]) << b;
        EXPECT_EQ(drv.m_dongles[b]->m_statPackets.load() + held[b], static_cast<std::uint64_t>(S)) << b;
    }
    EXPECT_GT(held[1], 0u);
    EXPECT_EQ(held[0], 0u);
    // Board 2 lost power in mid-packet: its rows hold its last whole one.
    EXPECT_FALSE(rig.board(2).powered());
    EXPECT_EQ(truth[2][last[2] + 1].bytesSent, 14);
    EXPECT_EQ(drv.m_dongles[2]->m_statPackets.load() + drv.m_dongles[2]->m_statGaps.load(), static_cast<std::uint64_t>(S));
    EXPECT_EQ(static_cast<std::int64_t>(data.filledSamples(0)), S);

    auto infos = data.boardInfos();
    ASSERT_EQ(infos.size(), 3u);
    for (int b = 0; b < N; ++b) {
        EXPECT_EQ(infos[b].rows, static_cast<std::uint64_t>(S));
        EXPECT_EQ(infos[b].lost, drv.m_dongles[b]->m_statGaps.load());
        EXPECT_EQ(infos[b].port, CString(rig.portName(b).c_str()));
    }

    drv.cleanDevice();
    drv.cleanConfigComBle2Board();
    drv.m_pConfigUser = nullptr;
    drv.m_pConfigDetect = nullptr;
    std::filesystem::remove_all(folder);
}

// Ten minutes of boards whose clocks run 100 ppm fast and slow against the
// first: each parts by 15 samples, evened out one sample at a time, each
// adjustment counted and noted where it happened.
TEST(StreamSim, ClockDriftIsEvenedOutAndEveryAdjustmentNoted) {
    platform::ScopedVirtualClock vclock;
    mbeeg::serial::setRealPortsEnabled(false);
    sim::SimConfig cfg;
    cfg.boards = 3;
    cfg.seed = 5;
    cfg.keepLog = false;
    cfg.perBoard.assign(3, sim::BoardConfig{});
    cfg.perBoard[1].driftPpm = 100;
    cfg.perBoard[2].driftPpm = -100;
    sim::SimRig rig(cfg);
    rig.plugIn();

    drivertest::TestDriver drv;
    CHdwrConfigzq user, detect;
    drv.m_pConfigUser = &user;
    drv.m_pConfigDetect = &detect;
    ASSERT_NO_FATAL_FAILURE(attachRig(drv, rig));
    ASSERT_NE(drv.getDevice(1), nullptr);
    CMeAcqDatazq data;
    data.getMEGRecordInfozq()->m_trialCount = 1;
    data.getMEGRecordInfozq()->m_samplesPerTrial = 2500;
    ASSERT_EQ(drv._09CheckInitTrlChn(&data, 0), 1);
    const std::int64_t t0 = platform::clock().nowUs();
    ASSERT_EQ(drv.AcqMonit(&data, nullptr), 1);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (platform::clock().nowUs() - t0 < 600'000'000 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    drv.AcqStop();
    ASSERT_TRUE(platform::joinAllThreads(60000));
    ASSERT_GE(platform::clock().nowUs() - t0, 600'000'000);

    auto* fast = drv.m_dongles[1];
    auto* slow = drv.m_dongles[2];
    EXPECT_NEAR(static_cast<double>(fast->m_statDriftDropped.load()), 15.0, 1.0);
    EXPECT_EQ(fast->m_statDriftHeld.load(), 0u);
    EXPECT_NEAR(static_cast<double>(slow->m_statDriftHeld.load()), 15.0, 1.0);
    EXPECT_EQ(slow->m_statDriftDropped.load(), 0u);
    for (auto* d : drv.m_dongles) {
        EXPECT_EQ(d->m_statRows.load(),
                  d->m_statPackets.load() + d->m_statGaps.load() + d->m_statDriftHeld.load() - d->m_statDriftDropped.load());
        EXPECT_EQ(d->m_statGaps.load(), 0u);
    }
    std::uint64_t notes = 0;
    for (const auto& a : data.annotations()) notes += CStringA(a.text).str().find("clock drift") != std::string::npos;
    EXPECT_EQ(notes, fast->m_statDriftDropped.load() + slow->m_statDriftHeld.load());

    drv.cleanDevice();
    drv.cleanConfigComBle2Board();
    drv.m_pConfigUser = nullptr;
    drv.m_pConfigDetect = nullptr;
}

}  // namespace
