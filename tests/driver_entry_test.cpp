// The acquisition entry points.
#include <gtest/gtest.h>

#include <tuple>

#include "platform/afxwin.h"
#include "serialport/Backend.h"
#include "tests/support/DriverRig.h"

using drivertest::Rig;
using drivertest::TestDriver;

TEST(EntryPoints, WithoutConfigurationDeviceOrDataSetNothingStarts) {
    platform::ScopedVirtualClock vc;
    platform::ScriptedMessageBoxes boxes;
    TestDriver drv;
    EXPECT_EQ(drv.AcqMonit(nullptr, nullptr), 0);
    CMeAcqDatazq empty;  // never prepared: no trial to fill
    EXPECT_EQ(drv.AcqRecord(&empty, nullptr), 0);
    EXPECT_EQ(boxes.texts(), std::vector<std::wstring>(2, L"Initialize hardware sensors first!?"));

    boxes.clear();
    CMeAcqDatazq data;
    drv.m_retryCount = 5;
    EXPECT_EQ(drv._02connectCom2Device(nullptr, &data), 0);
    EXPECT_EQ(std::make_tuple(drv.m_busy, drv.m_statusCode.load(), drv.m_connState.load(), drv.m_retryCount),
              std::make_tuple(0, -1, 0, 5u));
    EXPECT_TRUE(!drv.m_pConfigDetect && drv.m_pData == &data);  // the data set is remembered all the same
    EXPECT_TRUE(boxes.texts().empty());

    EXPECT_EQ(drv._03makeAcgSns() + drv._09CheckInitTrlChn(&empty, 0), 0);
    EXPECT_EQ(drv.m_pData, &empty);
    EXPECT_EQ(drv.AcqStop(), 0);  // no dongle to stop, but the flag is raised
    EXPECT_EQ(drv.m_stopFlag, 1);
    drv.m_stopFlag = 0;
    drv.getConfigComRadio(1);
    EXPECT_EQ(drv.AcqStop(), 1);
    EXPECT_EQ(drv.m_stopFlag, 1);
}

TEST(EntryPoints, SearchesWithoutAnyDongle) {
    platform::ScopedVirtualClock vc;
    platform::ScriptedMessageBoxes boxes;
    mbeeg::serial::setRealPortsEnabled(false);
    mbeeg::serial::clearMemoryPorts();
    CHdwrConfigzq cfg;
    cfg.m_name = L"UserCfg";
    const std::vector<std::wstring> kNoDongle{
        L"Cannot find a USB-Com-Ble Dongle! Please insert one and try again?",
        L"Cannot open multi-board ports!?Please check connections and turn them on!"};
    {
        TestDriver drv;
        drv.m_retryCount = 2;
        EXPECT_EQ(drv._02connectCom2Device(&cfg, nullptr), 0);
        EXPECT_EQ(std::make_tuple(drv.m_pConfigUser, drv.m_busy, drv.m_connState.load(), drv.m_retryCount),
                  std::make_tuple(&cfg, 0, 1, 2u));
        auto texts = kNoDongle;
        texts.push_back(L"Can't connect:->UserCfg");
        EXPECT_EQ(boxes.texts(), texts);
        drv.m_pConfigUser = nullptr;
    }
    boxes.clear();
    TestDriver drv;
    EXPECT_EQ(drv._01findConnectHdwr(&cfg, nullptr), 0);
    EXPECT_EQ(drv.m_connState, 1);
    EXPECT_EQ(drv.eegShows, 1);  // the EEG dialog comes up on failure too
    EXPECT_EQ(boxes.texts(), kNoDongle);  // and no "Detect device failed?!"
    drv.m_pConfigUser = nullptr;
}

TEST(EntryPoints, StartRefusedWhileSensorStatusIsRead) {
    platform::ScopedVirtualClock vc;
    platform::ScriptedMessageBoxes boxes;
    Rig rig(1);
    rig.drv.getDevice(1);
    rig.drv._03makeAcgSns();
    CMeAcqDatazq data;
    data.getMEGRecordInfozq()->m_trialCount = 1;
    data.getMEGRecordInfozq()->m_samplesPerTrial = 50;
    ASSERT_EQ(rig.drv._09CheckInitTrlChn(&data, 0), 1);

    int marker = 0;
    rig.drv.m_pSnsStatusThread = &marker;
    rig.drv.m_connState = 3;
    std::int64_t t0 = platform::clock().nowMs();
    EXPECT_EQ(rig.drv.AcqMonit(&data, nullptr), 0);
    EXPECT_GE(platform::clock().nowMs() - t0, 1000);
    EXPECT_EQ(rig.drv.m_stopStatusReq, 1);
    EXPECT_EQ(boxes.texts(), std::vector<std::wstring>{L"Please stop reading sensor-status!"});
    EXPECT_EQ(rig.drv.m_pMonitThread, nullptr);

    rig.drv.m_stopStatusReq = 0;
    boxes.answer(IDNO);
    EXPECT_EQ(rig.drv.AcqRecord(nullptr, nullptr), 0);
    EXPECT_EQ(boxes.texts().back(), L"Reading sensor-status in progress, Stop it?");
    EXPECT_EQ(boxes.types().back() & MB_TYPEMASK, MB_YESNO);
    EXPECT_EQ(rig.drv.m_stopStatusReq, 1);  // asked before the question
    rig.drv.m_stopStatusReq = 0;
    // State 3 without a reading thread still refuses, as the state never went back to 2.
    rig.drv.m_pSnsStatusThread = nullptr;
    boxes.answer(IDYES);
    EXPECT_EQ(rig.drv.AcqRecord(nullptr, nullptr), 0);
    EXPECT_EQ(rig.drv.m_stopStatusReq, 1);
    EXPECT_EQ(rig.drv.m_pRecordThread, nullptr);
    EXPECT_EQ(platform::runningThreads(), 0);
}
