// Hardware discovery on simulated dongles and boards, and the board-type setup.
#include <gtest/gtest.h>

#include <set>

#include "driver/DriveOpnBciMutiBoard04FindHdwr.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "serialport/Backend.h"
#include "sim/SimRig.h"
#include "tests/support/DriverRig.h"
#include "tests/support/ScriptedDevice.h"

using mbeeg::test::portIsFree;

namespace {

const wchar_t kNoDongle[] = L"Cannot find a USB-Com-Ble Dongle! Please insert one and try again?";
const wchar_t kNoPorts[] = L"Cannot open multi-board ports!?Please check connections and turn them on!";

class DiscoveryTest : public testing::Test {
protected:
    void SetUp() override {
        mbeeg::serial::setRealPortsEnabled(false);
        mbeeg::serial::clearMemoryPorts();
        drv.setConfigUser(&user);
    }
    void TearDown() override { mbeeg::serial::clearMemoryPorts(); }

    platform::ScopedVirtualClock clock;
    platform::ScriptedMessageBoxes boxes;
    CHdwrConfigzq user;
    drivertest::TestDriver drv;
};

}  // namespace

TEST_F(DiscoveryTest, TwoAnsweringBoards) {
    sim::SimRig rig(sim::SimConfig{.boards = 2});
    rig.plugIn();
    // A port that is not a dongle is listed but not used.
    mbeeg::serial::PortDescription other;
    other.path = "mem:9";
    other.alias = "COM210";
    other.deviceId = "USB\\VID_1A86+PID_7523";
    other.description = "Other adapter";
    mbeeg::serial::registerMemoryPort(other, rig.device(0));

    user.m_name = L"two boards";
    ASSERT_EQ(drv.findAllComDevices(), 1);
    EXPECT_EQ(drv.m_statusCode.load(), 5);
    EXPECT_EQ(drv.m_busy, 0);
    EXPECT_EQ(drv.m_boardSummary, L"MultiBoard:2COMs->Board:2x8=16");
    EXPECT_TRUE(boxes.texts().empty());

    ASSERT_EQ(drv.m_donglePortNames.GetSize(), 2);
    EXPECT_EQ(drv.m_donglePortNames[0] + drv.m_donglePortNames[1], L"COM201COM202");
    EXPECT_EQ(drv.m_portListText.Find(L"COM201: COM201 FTDIBUS\\VID_0403"), 0);
    EXPECT_GE(drv.m_portListText.Find(L"\nCOM210 USB\\VID_1A86+PID_7523 Other adapter \n"), 0);
    ASSERT_EQ(drv.m_dongles.size(), 2u);
    for (int k = 0; k < 2; ++k) {
        CConfigComRadiozq* d = drv.m_dongles[static_cast<size_t>(k)];
        EXPECT_EQ(d->m_confirmedChnl, rig.dongle(k).channel());
        EXPECT_EQ(d->m_pSerialPort->getPortName(), rig.portName(k).c_str());
        EXPECT_TRUE(d->m_pSerialPort->isOpen());
        EXPECT_EQ(d->m_pTrackGain->channelCount(), 8);
        EXPECT_TRUE(d->m_portName.IsEmpty());
        // No channel search: the dongle was never forced onto a channel.
        EXPECT_EQ(rig.dongle(k).received().find("\xF0\x02"), std::string::npos);
        EXPECT_EQ(rig.board(k).received(), "dc");
    }
    ASSERT_NE(drv.m_pConfigDetect, nullptr);
    EXPECT_EQ(drv.m_pConfigDetect->m_name, L"two boards");
    EXPECT_EQ(drv.m_pConfigDetect->m_linkType, LINK_TYPE_CYTON8);
    EXPECT_EQ(drv.m_pConfigDetect->m_statusCounter1, 1);
    EXPECT_EQ(drv.m_pConfigDetect->m_statusCounter2, 1);
    ASSERT_NE(drv.m_pDevice, nullptr);
    EXPECT_EQ(drv.m_pDevice->m_statusFlag, 1);
    EXPECT_EQ(drv.m_pDevice->m_pCurChnList->Size(), 2u * 14 + 6);
    // A new search frees the dongles of the last one (their ports too).
    ASSERT_EQ(drv.findAllComDevices(), 1);
    EXPECT_EQ(drv.m_dongles.size(), 2u);
}

TEST_F(DiscoveryTest, SilentBoardsAreMovedToAFreeChannelNeverTakingAPairedBoardAway) {
    // Board 2 heard on 9, moved with its dongle to 1: the first channel no
    // dongle has, after 1 to 9 were tried with a pause of 1.4 s each at least.
    sim::SimConfig two{.boards = 2};
    two.perDongle = {sim::DongleConfig{.channel = 20}, sim::DongleConfig{.channel = 5}};
    two.perBoard = {sim::BoardConfig{.channel = 20}, sim::BoardConfig{.channel = 9}};
    // Listening on the paired board's lower channel must not pull it away.
    sim::SimConfig three{.boards = 3};
    three.perDongle = {sim::DongleConfig{.channel = 3}, sim::DongleConfig{.channel = 20}, sim::DongleConfig{.channel = 21}};
    three.perBoard = {sim::BoardConfig{.channel = 3}, sim::BoardConfig{.channel = 9}, sim::BoardConfig{.channel = 11}};
    for (const sim::SimConfig& cfg : {two, three}) {
        SCOPED_TRACE(std::to_string(cfg.boards) + " boards");
        sim::SimRig rig(cfg);
        rig.plugIn();
        const std::int64_t t0 = clock.get().nowUs();
        ASSERT_EQ(drv.findAllComDevices(), 1);
        ASSERT_EQ(drv.m_dongles.size(), static_cast<size_t>(cfg.boards));
        std::set<int> channels;
        for (int k = 0; k < cfg.boards; ++k) {
            EXPECT_EQ(rig.board(k).channel(), rig.dongle(k).channel()) << "board " << k;
            EXPECT_EQ(drv.m_dongles[static_cast<size_t>(k)]->m_confirmedChnl, rig.dongle(k).channel());
            EXPECT_EQ(rig.board(k).received(), "dc");
            channels.insert(rig.board(k).channel());
        }
        EXPECT_EQ(channels.size(), static_cast<size_t>(cfg.boards));
        EXPECT_EQ(rig.board(0).channel(), cfg.perBoard[0].channel);  // the paired board stays
        if (cfg.boards == 2) {
            EXPECT_EQ(rig.board(1).channel(), 1);
            EXPECT_GE(clock.get().nowUs() - t0, 9 * 1'400'000);
            EXPECT_EQ(drv.m_boardSummary, L"MultiBoard:2COMs->Board:2x8=16");
        }
        EXPECT_TRUE(boxes.texts().empty());
        mbeeg::serial::clearMemoryPorts();
    }
}

TEST_F(DiscoveryTest, DongleWithBoardOffIsDroppedAndReleased) {
    sim::SimConfig cfg{.boards = 1};
    cfg.board.powered = false;
    sim::SimRig rig(cfg);
    rig.plugIn();

    EXPECT_EQ(drv.findAllComDevices(), 0);
    EXPECT_EQ(drv.m_statusCode.load(), 2);
    EXPECT_EQ(drv.m_busy, 0);
    EXPECT_TRUE(drv.m_dongles.empty());
    EXPECT_TRUE(boxes.texts().empty());
    EXPECT_EQ(drv.m_boardSummary, L"MultiBoard:?COMs->Board:?x8=?");
    EXPECT_TRUE(portIsFree(L"COM201"));
    EXPECT_NE(rig.dongle(0).received().find("\xF0\x02\x19"), std::string::npos);
}

TEST_F(DiscoveryTest, BusyPortIsNotKept) {
    sim::SimRig rig(sim::SimConfig{.boards = 2});
    rig.plugIn();
    CMegSerialPortzq holder;
    ASSERT_EQ(holder.openRW(L"COM201", 1, 1), 1);
    ASSERT_EQ(drv.findAllComDevices(), 1);
    ASSERT_EQ(drv.m_dongles.size(), 1u);
    EXPECT_EQ(drv.m_dongles[0]->m_pSerialPort->getPortName(), L"COM202");
    EXPECT_EQ(drv.m_boardSummary, L"MultiBoard:1COMs->Board:1x8=8");
}

TEST_F(DiscoveryTest, NoDongleAtAll) {
    EXPECT_EQ(CConfigComRadiozq().findCheckOneComDevice(nullptr), 0);
    EXPECT_EQ(drv.findAllUsbComs2Boards(), 0);
    EXPECT_TRUE(drv.m_portListText.IsEmpty());
    boxes.clear();

    drv.m_secondText = L"old";
    EXPECT_EQ(drv.findAllComDevices(), 0);
    EXPECT_EQ(boxes.texts(), (std::vector<std::wstring>{kNoDongle, kNoPorts}));
    EXPECT_EQ(drv.m_statusCode.load(), -1);
    EXPECT_EQ(drv.m_busy, 0);
    EXPECT_TRUE(drv.m_secondText.IsEmpty());
    EXPECT_EQ(drv.m_pDevice, nullptr);
}

TEST_F(DiscoveryTest, DaisyHostTypeIsServedAsCyton) {
    user.m_linkType = LINK_TYPE_DAISY16;
    sim::SimConfig cfg{.boards = 2};
    cfg.board.daisy = true;
    sim::SimRig rig(cfg);
    rig.plugIn();
    ASSERT_EQ(drv.findAllComDevices(), 1);
    EXPECT_EQ(boxes.texts(),
              std::vector<std::wstring>{L"Only multi-Cytons are supported for a high sample rate!"});
    EXPECT_EQ(user.m_linkType, LINK_TYPE_CYTON8);
    EXPECT_EQ(drv.m_pConfigDetect->m_linkType, LINK_TYPE_CYTON8);
    for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(rig.board(k).received(), "dc");
        EXPECT_FALSE(rig.board(k).daisyAttached());
        EXPECT_EQ(drv.m_dongles[static_cast<size_t>(k)]->m_pTrackGain->channelCount(), 8);
    }
}

TEST_F(DiscoveryTest, BoardTypeSetup) {
    sim::SimConfig cfg{.boards = 2};
    cfg.perBoard = {sim::BoardConfig{.daisy = false}, sim::BoardConfig{.daisy = true}};
    sim::SimRig rig(cfg);
    rig.plugIn();
    CConfigComRadiozq plain, daisy;
    plain.m_portName = L"COM201";
    daisy.m_portName = L"COM202";
    ASSERT_EQ(plain.checkInitOpenSerialPort(1), 1);
    ASSERT_EQ(daisy.checkInitOpenSerialPort(1), 1);

    EXPECT_EQ(plain.setMultiBoardType(7), 1);
    EXPECT_EQ(boxes.texts(), std::vector<std::wstring>{L"No daisy, only has cytone 8 channels!"});
    EXPECT_EQ(plain.m_pTrackGain->channelCount(), 16);
    EXPECT_EQ(daisy.setMultiBoardType(7), 1);
    EXPECT_TRUE(rig.board(1).daisyAttached());
    EXPECT_EQ(boxes.texts().size(), 1u);

    // An existing tracker stays as it is; the board still gets the command.
    EXPECT_EQ(daisy.setMultiBoardType(6), 1);
    EXPECT_FALSE(rig.board(1).daisyAttached());
    EXPECT_EQ(daisy.m_pTrackGain->channelCount(), 16);
    EXPECT_EQ(rig.board(1).received(), "Cc");
}
