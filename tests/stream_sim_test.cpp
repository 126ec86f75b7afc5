// Ten minutes, on virtual time, of boards whose clocks run 100 ppm fast and
// slow against the first: each parts by 15 samples, evened out one sample at
// a time, each adjustment counted and noted where it happened. (Rows against
// the boards' packets under radio loss and power cuts: the fault matrix.)
#include <gtest/gtest.h>

#include "host/AcqFramework.h"
#include "link/ConfigComRadiozq.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "sim/SimRig.h"
#include "sim/World.h"
#include "tests/support/DriverRig.h"

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

    // Each dongle opened straight on its port, as discovery leaves it.
    drivertest::TestDriver drv;
    CHdwrConfigzq user, detect;
    drv.m_pConfigUser = &user;
    drv.m_pConfigDetect = &detect;
    for (int b = 0; b < rig.boards(); ++b) {
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
    data.getMEGRecordInfozq()->m_trialCount = 1;
    data.getMEGRecordInfozq()->m_samplesPerTrial = 2500;
    ASSERT_EQ(drv._09CheckInitTrlChn(&data, 0), 1);
    const std::int64_t tStop = platform::clock().nowUs() + 600'000'000;
    {
        auto w = rig.world();
        std::lock_guard<std::recursive_mutex> lock(w->mutex());
        w->at(tStop, [&](std::int64_t) { drv.AcqStop(); });
    }
    ASSERT_EQ(drv.AcqMonit(&data, nullptr), 1);
    ASSERT_TRUE(platform::joinAllThreads(120000));
    ASSERT_GE(platform::clock().nowUs(), tStop);

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
