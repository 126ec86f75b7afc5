// The reading loop against the simulator's boards (independent sample
// clocks, radio losses, a board that loses power in mid-packet), on
// virtual time: rows pair packets of the same sample period, and each
// board's count of lost packets is what the simulator dropped.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>

#include "host/AcqFramework.h"
#include "link/ConfigComRadiozq.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "sim/SimRig.h"
#include "tests/support/DriverRig.h"

namespace {

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
    for (int b = 0; b < 3; ++b) {
        auto* d = new CConfigComRadiozq;
        auto* port = new CMegSerialPortzq();
        ASSERT_TRUE(port->openRW(CString(rig.portName(b).c_str()), 1, 1));
        d->m_pSerialPort = port;
        d->m_portName = CString(rig.portName(b).c_str());
        d->getTrackGainMb(1, 6);
        drv.m_dongles.push_back(d);
    }
    ASSERT_NE(drv.getDevice(1), nullptr);

    CMeAcqDatazq data;
    const std::int64_t S = 500;
    const auto folder = std::filesystem::temp_directory_path() / ("mbeeg-streamsim-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    data.m_text1 = CString(folder.wstring().c_str());
    data.m_text2 = L"sim";
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
            c[p] = static_cast<std::int32_t>(std::llround(trial->getChannel(8 * b + p)->m_pData1[row] / sim::uvPerCount(24)));
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
    // Rows: boards 0 and 1 send packets of one sample period whenever both
    // are new in a row; every row's packet is the board's latest by then.
    int paired = 0;
    std::vector<long> prev(N, -1);
    for (std::int64_t r = 0; r < S; ++r) {
        std::vector<long> k(N);
        for (int b = 0; b < N; ++b) {
            k[b] = packetAt(b, r);
            ASSERT_GE(k[b], prev[b]) << "board " << b << " row " << r;
        }
        if (k[0] != prev[0] && k[1] != prev[1]) {
            ++paired;
            EXPECT_LT(std::llabs(truth[0][k[0]].timeUs - truth[1][k[1]].timeUs), sim::kSamplePeriodUs)
                << "row " << r;
        }
        prev = k;
    }
    EXPECT_GT(paired, S * 8 / 10);

    // Board 0 sent every period; lost packets are exactly the radio's.
    for (int b = 0; b < 2; ++b) {
        std::uint64_t dropped = 0;
        for (long i = first[b] + 1; i < last[b]; ++i) dropped += truth[b][i].dropped ? 1 : 0;
        EXPECT_EQ(drv.m_dongles[b]->m_statGaps.load(), dropped) << b;
        EXPECT_EQ(drv.m_dongles[b]->m_statPackets.load(), static_cast<std::uint64_t>(last[b] - first[b] + 1) - dropped)
            << b;
    }
    EXPECT_GT(drv.m_dongles[1]->m_statGaps.load(), 0u);
    EXPECT_EQ(drv.m_dongles[0]->m_statGaps.load(), 0u);
    // Board 2 lost power: its cut packet was dropped, its rows hold its last one.
    EXPECT_FALSE(rig.board(2).powered());
    EXPECT_EQ(drv.m_dongles[2]->m_statDropped.load(), 1u);
    EXPECT_EQ(truth[2][last[2] + 1].bytesSent, 14);
    EXPECT_EQ(static_cast<std::int64_t>(data.filledSamples(0)), S);

    auto infos = data.boardInfos();
    ASSERT_EQ(infos.size(), 3u);
    EXPECT_EQ(infos[1].lost, drv.m_dongles[1]->m_statGaps.load());
    EXPECT_EQ(infos[2].rejected, 1u);

    drv.cleanDevice();
    drv.cleanConfigComBle2Board();
    drv.m_pConfigUser = nullptr;
    drv.m_pConfigDetect = nullptr;
    std::filesystem::remove_all(folder);
}

}  // namespace
