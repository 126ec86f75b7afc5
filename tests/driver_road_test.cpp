// The host's road through the entry points on the in-process simulator:
// discovery of the dongles, the channel list, the data set, monitoring or
// recording in the worker thread, and the stop.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

#include "driver/DriveOpnBciMutiBoardzq.h"
#include "platform/afxwin.h"
#include "platform/controls.h"
#include "serialport/Backend.h"
#include "sim/SimRig.h"
#include "ui/DlgSetupMultiBoardBleCom.h"
#include "ui/DlgSetupMultiBoardEeg.h"

namespace {

// The worker moves the virtual clock itself; this only yields, with a cap in
// real time so that a broken loop fails the test instead of hanging it.
template <class Pred>
bool waitFor(Pred pred) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::yield();
    }
    return true;
}

class Road : public ::testing::Test {
protected:
    void SetUp() override {
        mbeeg::serial::setRealPortsEnabled(false);
        mbeeg::serial::clearMemoryPorts();
        cfg.m_linkType = LINK_TYPE_CYTON8;
        cfg.m_name = L"Road";
    }
    void TearDown() override {
        drv.AcqStop();
        EXPECT_TRUE(platform::joinAllThreads(60000));
        drv.cleanDevice();
        drv.cleanConfigComBle2Board();
        drv.cleanCloseFaceCom();
        if (!folder.empty()) std::filesystem::remove_all(folder);
    }
    // The stream commands a board received, in order ("b" and "s" only).
    static std::string streamCommands(const sim::SimBoard& b) {
        std::string s;
        for (char c : b.received())
            if (c == 'b' || c == 's') s += c;
        return s;
    }

    platform::ScopedVirtualClock vclock;
    platform::ScriptedMessageBoxes boxes{IDNO};
    sim::SimRig rig{sim::SimConfig{.boards = 2, .seed = 7}};
    CDriveOpnBciMutiBoardzq drv;
    CHdwrConfigzq cfg;
    CMeAcqDatazq data;
    std::filesystem::path folder;
};

TEST_F(Road, ConnectMonitorStop) {
    rig.plugIn();
    drv.m_retryCount = 3;
    // What discovery finds and the lists it builds have tests of their own;
    // here the entry points hand them on.
    ASSERT_EQ(drv._02connectCom2Device(&cfg, &data), 1);
    EXPECT_TRUE(boxes.texts().empty());
    ASSERT_EQ(drv.m_dongles.size(), 2u);
    EXPECT_EQ(drv.m_connState, 2);
    EXPECT_EQ(drv.m_retryCount, 3u);
    EXPECT_NE(rig.board(0).channel(), rig.board(1).channel());

    ASSERT_EQ(drv._03makeAcgSns(), 1);
    ASSERT_NE(drv.getHdwrAcg(), nullptr);
    ASSERT_EQ(drv.getHdwrAcg()->Size(), 16u + 12u + 6u);

    data.getMEGRecordInfozq()->m_trialCount = 1;
    data.getMEGRecordInfozq()->m_samplesPerTrial = 250;
    ASSERT_EQ(drv._09CheckInitTrlChn(nullptr, 0), 1);  // the data set given to connect
    CComboBox rate;
    EXPECT_EQ(drv.getSampleRate(&rate), 250);

    ASSERT_EQ(drv.AcqMonit(nullptr, nullptr), 1);
    ASSERT_TRUE(waitFor([&] { return data.m_roundCounter.load() >= 1 && data.m_curSample.load() >= 20; }));
    EXPECT_EQ(drv.m_statusCode, 19);
    EXPECT_EQ(data.m_acqStatus, 3);
    EXPECT_EQ(drv.AcqStop(), 1);
    ASSERT_TRUE(platform::joinAllThreads(60000));

    EXPECT_EQ(drv.m_statusCode, 20);
    EXPECT_EQ(data.m_acqStatus, 4);
    EXPECT_EQ(drv.m_pMonitThread, nullptr);
    for (int b = 0; b < 2; ++b) {
        EXPECT_EQ(streamCommands(rig.board(b)), "bs") << b;
        EXPECT_FALSE(rig.board(b).streaming()) << b;
    }
    // Every EEG channel of both boards holds samples in microvolts.
    CMeAcqTrialzq* trial = data.getTrial(0);
    ASSERT_NE(trial, nullptr);
    for (int c = 0; c < 16; ++c) {
        CMeAcgChannelzq* ch = trial->getChannel(c);
        ASSERT_GE(ch->m_lastSample.load(), 0) << c;
        EXPECT_TRUE(std::isfinite(ch->m_pValues[0])) << c;
        EXPECT_LT(std::fabs(ch->m_pValues[0]), 187600.0) << c;
    }
}

TEST_F(Road, FindConnectShowsTheDialogsAndStartHidesThem) {
    rig.plugIn();
    ASSERT_EQ(drv._01findConnectHdwr(&cfg, &data), 1);
    EXPECT_EQ(drv.m_connState, 2);
    ASSERT_NE(drv.m_pDlgEeg, nullptr);
    EXPECT_TRUE(drv.m_pDlgEeg->IsWindowVisible());

    data.getMEGRecordInfozq()->m_trialCount = 1;
    data.getMEGRecordInfozq()->m_samplesPerTrial = 100;
    ASSERT_EQ(drv._03makeAcgSns(), 1);
    ASSERT_EQ(drv._09CheckInitTrlChn(&data, 0), 1);
    ASSERT_EQ(drv.AcqMonit(&data, nullptr), 1);
    EXPECT_FALSE(drv.m_pDlgEeg->IsWindowVisible());
    if (drv.m_pDlgBleCom) {
        EXPECT_FALSE(drv.m_pDlgBleCom->IsWindowVisible());
    }
    // Stop only once the loop runs: the worker clears the stop flag as it starts.
    ASSERT_TRUE(waitFor([&] { return data.m_curSample.load() >= 10; }));
    drv.AcqStop();
    ASSERT_TRUE(platform::joinAllThreads(60000));

    // A new search destroys both dialogs and the device first.
    rig.unplug(0);
    rig.unplug(1);
    EXPECT_EQ(drv._01findConnectHdwr(nullptr, nullptr), 0);
    EXPECT_EQ(drv.m_connState, 1);
}

TEST_F(Road, RecordingRunsThroughTheTrialsAndSaves) {
    rig.plugIn();
    ASSERT_EQ(drv._02connectCom2Device(&cfg, &data), 1);
    folder = std::filesystem::temp_directory_path() / ("mbeeg-road-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    data.m_recordFolder = CString(folder.wstring().c_str());
    data.m_recordName = L"road";
    data.getMEGRecordInfozq()->m_trialCount = 2;
    data.getMEGRecordInfozq()->m_samplesPerTrial = 100;
    ASSERT_EQ(drv._03makeAcgSns(), 1);
    ASSERT_EQ(drv._09CheckInitTrlChn(nullptr, 1), 1);
    ASSERT_EQ(data.m_recordFlag, 1);

    // Monitoring and recording differ only in where the thread is kept: the
    // data set's record flag makes this one record.
    ASSERT_EQ(drv.AcqMonit(nullptr, nullptr), 1);
    ASSERT_TRUE(platform::joinAllThreads(60000));  // the loop ends itself when the trials are full
    EXPECT_EQ(drv.m_statusCode, 22);
    EXPECT_EQ(data.m_acqStatus, 8);
    EXPECT_FALSE(data.savedPath().IsEmpty());
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(data.savedPath().str())));
    for (int b = 0; b < 2; ++b) EXPECT_EQ(streamCommands(rig.board(b)), "bs") << b;

    // Through AcqRecord, the same again into a fresh set.
    CMeAcqDatazq second;
    second.m_recordFolder = data.m_recordFolder;
    second.m_recordName = L"road2";
    second.getMEGRecordInfozq()->m_trialCount = 1;
    second.getMEGRecordInfozq()->m_samplesPerTrial = 50;
    ASSERT_EQ(drv._09CheckInitTrlChn(&second, 1), 1);
    ASSERT_EQ(drv.AcqRecord(nullptr, nullptr), 1);
    ASSERT_TRUE(platform::joinAllThreads(60000));
    EXPECT_EQ(second.m_acqStatus, 8);
    EXPECT_EQ(drv.m_statusCode, 22);
}

TEST_F(Road, SampleRateHelpers) {
    CComboBox combo;
    EXPECT_EQ(drv.getSampleRate(nullptr), 250);  // no device: nothing kept
    EXPECT_EQ(drv.setCombSamplingRate(combo), 1);
    ASSERT_EQ(combo.GetCount(), 1);
    EXPECT_EQ(combo.itemText(0), L"No Device");
    EXPECT_EQ(combo.GetCurSel(), 0);

    drv.setConfigUser(&cfg);
    drv.getDevice(1);
    cfg.m_linkType = LINK_TYPE_DAISY16;
    combo.AddString(L"stale");
    drv.setCombSamplingRate(combo);
    ASSERT_EQ(combo.GetCount(), 1);
    EXPECT_EQ(combo.itemText(0), L"125 Hz");
    EXPECT_EQ(combo.GetCurSel(), 0);
    EXPECT_EQ(drv.getSampleRate(&combo), 125);
    EXPECT_EQ(drv.m_pDevice->m_sampleRate, 125.0);
    EXPECT_EQ(drv.m_pDevice->m_reserved64, reinterpret_cast<std::uintptr_t>(&combo));

    cfg.m_linkType = LINK_TYPE_CYTON8;
    drv.setCombSamplingRate(combo);
    EXPECT_EQ(combo.itemText(0), L"250 Hz");
    EXPECT_EQ(drv.getSampleRate(nullptr), 250);
    EXPECT_EQ(drv.m_pDevice->m_sampleRate, 250.0);
    cfg.m_linkType = 9;
    drv.setCombSamplingRate(combo);
    EXPECT_EQ(combo.itemText(0), L"? Hz");
    EXPECT_EQ(drv.getSampleRate(nullptr), 250);
}

}  // namespace

TEST_F(Road, AStopRightAfterTheStartIsNotLost) {
    rig.plugIn();
    ASSERT_EQ(drv._02connectCom2Device(&cfg, &data), 1);
    ASSERT_EQ(drv._03makeAcgSns(), 1);
    data.getMEGRecordInfozq()->m_trialCount = 1;
    data.getMEGRecordInfozq()->m_samplesPerTrial = 250;
    ASSERT_EQ(drv._09CheckInitTrlChn(nullptr, 0), 1);
    ASSERT_EQ(drv.AcqMonit(nullptr, nullptr), 1);
    drv.AcqStop();  // before the loop has even started
    ASSERT_TRUE(platform::joinAllThreads(60000));
    EXPECT_EQ(drv.m_statusCode, 20);
    EXPECT_EQ(data.m_acqStatus, 4);
    for (int b = 0; b < 2; ++b) EXPECT_EQ(streamCommands(rig.board(b)), "bs") << b;
}
