// The host's road through the entry points on the in-process simulator.
#include <gtest/gtest.h>

#include <filesystem>

#include "driver/DriveOpnBciMutiBoardzq.h"
#include "link/Discovery.h"
#include "platform/afxwin.h"
#include "platform/controls.h"
#include "ui/DlgSetupMultiBoardBleCom.h"
#include "ui/DlgSetupMultiBoardEeg.h"
#include "tests/support/DriverRig.h"

namespace {
using drivertest::waitFor;

class Road : public ::testing::Test, public drivertest::SimDriver<CDriveOpnBciMutiBoardzq> {
protected:
    std::string streamCommands(int b) const {
        std::string s;
        for (char c : rig->board(b).received())
            if (c == 'b' || c == 's') s += c;
        return s;
    }
    // Running rows [0, n) are each board's packets one after another.
    void expectRowsAreSentPackets(std::int64_t n) {
        for (int b = 0; b < rig->boards(); ++b)
            EXPECT_EQ(truthtest::walk(counts(b, n), truthtest::truthOf(rig->board(b))).error, "") << "board " << b;
    }
};

}  // namespace

TEST_F(Road, ConnectMonitorStopThenRecord) {
    ASSERT_EQ(prepare(1, 250), 1);
    EXPECT_TRUE(boxes.texts().empty());
    ASSERT_EQ(drv.m_dongles.size(), 2u);
    ASSERT_EQ(drv.getHdwrAcg()->Size(), 16u + 12u + 6u);
    ASSERT_EQ(drv.AcqMonit(nullptr, nullptr), 1);
    ASSERT_TRUE(waitFor([&] { return data.m_curSample.load() >= 20; }));
    EXPECT_EQ(std::make_pair(drv.m_statusCode.load(), data.m_acqStatus.load()), std::make_pair(19, 3));
    EXPECT_EQ(drv.AcqStop(), 1);
    ASSERT_TRUE(platform::joinAllThreads(60000));
    EXPECT_EQ(std::make_pair(drv.m_statusCode.load(), data.m_acqStatus.load()), std::make_pair(20, 4));
    EXPECT_EQ(drv.m_pMonitThread, nullptr);
    for (int b = 0; b < 2; ++b) EXPECT_EQ(streamCommands(b), "bs") << b;
    expectRowsAreSentPackets(data.m_curSample.load());

    // The data set's record flag makes this one record, and end by itself.
    ASSERT_EQ(prepare(2, 100, L"road"), 1);
    ASSERT_EQ(drv.AcqMonit(nullptr, nullptr), 1);
    ASSERT_TRUE(platform::joinAllThreads(60000));
    EXPECT_EQ(std::make_pair(drv.m_statusCode.load(), data.m_acqStatus.load()), std::make_pair(22, 8));
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(data.savedPath().str())));
    for (int b = 0; b < 2; ++b) EXPECT_EQ(streamCommands(b), "bsbs") << b;
    expectRowsAreSentPackets(200);
}

TEST_F(Road, FindConnectShowsTheDialogsStartHidesThemAndAnEarlyStopIsNotLost) {
    rig->plugIn();
    ASSERT_EQ(drv._01findConnectHdwr(&cfg, &data), 1);
    ASSERT_NE(drv.m_pDlgEeg, nullptr);
    EXPECT_TRUE(drv.m_pDlgEeg->IsWindowVisible());
    ASSERT_EQ(drv._03makeAcgSns(), 1);
    ASSERT_EQ(prepare(1, 100), 1);
    ASSERT_EQ(drv.AcqMonit(&data, nullptr), 1);
    EXPECT_FALSE(drv.m_pDlgEeg->IsWindowVisible());
    EXPECT_FALSE(drv.m_pDlgBleCom && drv.m_pDlgBleCom->IsWindowVisible());
    drv.AcqStop();  // before the loop has even started
    ASSERT_TRUE(platform::joinAllThreads(60000));
    EXPECT_EQ(std::make_pair(drv.m_statusCode.load(), data.m_acqStatus.load()), std::make_pair(20, 4));
    for (int b = 0; b < 2; ++b) EXPECT_EQ(streamCommands(b), "bs") << b;
}

TEST_F(Road, SampleRateHelpers) {
    CComboBox combo;
    EXPECT_EQ(drv.getSampleRate(nullptr), 250);  // no device: nothing kept
    EXPECT_EQ(drv.setCombSamplingRate(combo), 1);
    EXPECT_EQ(combo.itemText(0), L"No Device");

    drv.setConfigUser(&cfg);
    drv.getDevice(1);
    combo.AddString(L"stale");
    // The box holds the layout's one rate, chosen; the device keeps the rate and the box.
    const std::tuple<int, const wchar_t*, int> rows[] = {
        {LINK_TYPE_DAISY16, L"125 Hz", 125}, {LINK_TYPE_CYTON8, L"250 Hz", 250}, {9, L"? Hz", 250}};
    for (auto [type, text, hz] : rows) {
        cfg.m_linkType = type;
        drv.setCombSamplingRate(combo);
        ASSERT_EQ(combo.GetCount(), 1) << type;
        EXPECT_EQ(combo.itemText(0), text);
        EXPECT_EQ(combo.GetCurSel(), 0);
        EXPECT_EQ(drv.getSampleRate(&combo), hz);
        EXPECT_EQ(drv.m_pDevice->m_sampleRate, hz);
    }
    EXPECT_EQ(drv.m_pDevice->m_reserved64, reinterpret_cast<std::uintptr_t>(&combo));
}

TEST_F(Road, BoardsOnOneChannelAreToldOfThenPartedOneBoardAtATimeAndStreamCleanly) {
    for (int k : {0, 1}) rig->board(k).setChannel(5), rig->dongle(k).setChannel(5);
    rig->plugIn();
    ASSERT_EQ(drv._02connectCom2Device(&cfg, &data), 1);
    ASSERT_TRUE(drv.m_findings.sharedChannel && drv.m_findings.notes.size() == 1);
    EXPECT_EQ(drv.m_findings.notes[0].Find(L"COM201 and COM202 have their boards on one radio channel (5)"), 0);
    drv.cleanConfigComBle2Board();

    struct Person : discovery::AssignGuide {  // switches the boards as asked
        sim::SimRig& rig;
        explicit Person(sim::SimRig& r) : rig(r) {}
        bool boardsFor(int step, int n, const CString&) override {
            for (int k = 0; k < n; ++k) (step >= n || k == step) ? rig.board(k).powerOn() : rig.board(k).powerOff();
            return true;
        }
    } person(*rig);
    std::vector<CString> lines;
    // The first keeps its channel; the second, alone on it, is moved without the first.
    ASSERT_EQ(discovery::assignChannels(drv.m_donglePortNames, person, lines), (std::vector<int>{5, 1}));
    for (int k : {0, 1}) EXPECT_EQ(rig->board(k).channel() * 100 + rig->dongle(k).channel(), (k ? 1 : 5) * 101);

    ASSERT_EQ(drv._02connectCom2Device(&cfg, &data), 1);
    EXPECT_TRUE(drv.m_findings.notes.empty() && !drv.m_findings.sharedChannel);
    ASSERT_EQ(drv._03makeAcgSns(), 1);
    ASSERT_NO_FATAL_FAILURE(prepare(1, 250, 0));
    ASSERT_EQ(drv.AcqMonit(nullptr, nullptr), 1);
    ASSERT_TRUE(waitFor([&] { return data.m_curSample.load() >= 100; }));
    drv.AcqStop();
    ASSERT_TRUE(platform::joinAllThreads(60000));
    expectRowsAreSentPackets(data.m_curSample.load());
}
