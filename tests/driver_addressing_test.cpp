// Channel addressing, the channel number check, the dongle and device getters,
// the dialog helpers and the clean-ups of the driver object.
#include <gtest/gtest.h>

#include <string>

#include "platform/afxwin.h"
#include "tests/support/DriverRig.h"
#include "ui/DlgSetupMultiBoardBleCom.h"
#include "ui/DlgSetupMultiBoardEeg.h"

using drivertest::Rig;
using drivertest::TestDriver;

TEST(DriverAddressing, LettersBoardsPinsAndPortsByLayout) {
    struct Case {
        int linkType, boards;
        const char* letters;  // of one board's pins
    } cases[] = {{LINK_TYPE_CYTON8, 3, "12345678"}, {LINK_TYPE_DAISY16, 2, "12345678QWERTYUI"},
                 {LINK_TYPE_CYTON8, 1, "12345678"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.boards) + " boards of " + c.letters);
        Rig r(c.boards, c.linkType);
        auto port = [&](int b) { return r.drv.m_dongles[static_cast<size_t>(b)]->m_pSerialPort; };
        const int per = static_cast<int>(std::string(c.letters).size());
        const int last = c.boards - 1;
        for (int p = 0; p < per; ++p) {
            int pin = -99, board = -99;
            EXPECT_EQ(r.drv.getChar4Chnl(last * per + p, pin), c.letters[p]) << p;
            EXPECT_EQ(pin, p);
            ASSERT_EQ(r.drv.driverChnl2BoardPinChanID(last * per + p, board, pin), 1);
            EXPECT_EQ(board, last);
            EXPECT_EQ(pin, p);
            EXPECT_EQ(r.drv.getChnlCom(last * per + p), port(last));
        }
        EXPECT_EQ(r.drv.m_chnPerBoard, per);
        EXPECT_EQ(r.drv.getChnlCom(1000), port(last));  // clamped to the last board
        EXPECT_EQ(r.drv.getChnlCom(-20), port(0));      // and to the first
        // A negative channel keeps its truncating remainder and has no letter.
        int pin = 0;
        EXPECT_EQ(r.drv.getChar4Chnl(-3, pin), '0');
        EXPECT_EQ(pin, -3);
    }
}

TEST(DriverAddressing, UnservedLayoutOrNoDonglesGiveNothing) {
    Rig r(2, 4);
    r.drv.m_chnPerBoard = 8;
    int pin = 77, board = 55;
    EXPECT_EQ(r.drv.getChar4Chnl(13, pin), '0');
    EXPECT_EQ(pin, 77);
    EXPECT_EQ(r.drv.driverChnl2BoardPinChanID(13, board, pin), 0);
    EXPECT_EQ(board, 55);
    EXPECT_EQ(pin, 77);
    EXPECT_EQ(r.drv.getChnlCom(0), nullptr);
    EXPECT_EQ(r.drv.m_chnPerBoard, 8);

    // The user configuration drives letters, the detected one the ports.
    r.user.m_linkType = LINK_TYPE_CYTON8;
    EXPECT_EQ(r.drv.getChar4Chnl(9, pin), '2');
    EXPECT_EQ(r.drv.getChnlCom(9), nullptr);

    Rig none(0, LINK_TYPE_CYTON8);
    EXPECT_EQ(none.drv.getChnlCom(0), nullptr);
    TestDriver bare;  // no configurations at all
    EXPECT_EQ(bare.getChar4Chnl(1, pin), '0');
    EXPECT_EQ(bare.getChnlCom(1), nullptr);
    EXPECT_EQ(bare.getChnlParam(0), nullptr);
}

TEST(DriverAddressing, ChannelNumberCheck) {
    platform::ScriptedMessageBoxes boxes;
    TestDriver drv;
    // Without a device only the upper bound applies, silently.
    EXPECT_EQ(drv.checkMultiBoardChnl(200), 1);
    EXPECT_EQ(drv.checkMultiBoardChnl(399), 1);
    EXPECT_EQ(drv.checkMultiBoardChnl(400), 0);
    EXPECT_EQ(drv.checkMultiBoardChnl(-1), 0);
    EXPECT_TRUE(boxes.texts().empty());

    ASSERT_NE(drv.getDevice(1), nullptr);
    drv.m_pDevice->m_linkType = LINK_TYPE_CYTON8;
    EXPECT_EQ(drv.checkMultiBoardChnl(199), 1);
    EXPECT_EQ(drv.checkMultiBoardChnl(200), 0);
    ASSERT_EQ(boxes.texts().size(), 1u);
    EXPECT_EQ(boxes.texts()[0], L"Only multi-CytonDaisy device has more than 200 channels!?");
    EXPECT_EQ(drv.checkMultiBoardChnl(400), 0);
    EXPECT_EQ(boxes.texts().size(), 1u);

    drv.m_pDevice->m_linkType = LINK_TYPE_DAISY16;
    EXPECT_EQ(drv.checkMultiBoardChnl(200), 1);
    EXPECT_EQ(drv.checkMultiBoardChnl(399), 1);
    EXPECT_EQ(boxes.texts().size(), 1u);
}

TEST(DriverAddressing, GettersAndCleanUpsAreSafeToRepeat) {
    TestDriver drv;
    EXPECT_EQ(drv.getConfigComRadio(1), nullptr);
    EXPECT_EQ(drv.getConfigComRadio(1), nullptr);
    EXPECT_EQ(drv.m_dongles.size(), 1u);  // only an empty list gets a default dongle
    CDeviceEegObBleComzq* dev = drv.getDevice(1);
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(drv.getDevice(1), dev);
    CFaceMegSerialPortzq* face = drv.getFaceSerialPort(1);
    EXPECT_EQ(drv.getFaceSerialPort(1), face);
    drv.m_pDlgEeg = new CDlgSetupMultiBoardEeg;
    drv.m_pDlgBleCom = new CDlgSetupMultiBoardBleCom;

    EXPECT_EQ(drv.cleanDlg(), 1);
    EXPECT_EQ(drv.m_pDlgEeg, nullptr);
    EXPECT_EQ(drv.m_pDlgBleCom, nullptr);
    EXPECT_NE(drv.m_pDevice, nullptr);
    EXPECT_EQ(drv.cleanDlg(), 1);

    drv.m_pDlgEeg = new CDlgSetupMultiBoardEeg;
    EXPECT_EQ(drv.cleanDevice(), 1);
    EXPECT_EQ(drv.m_pDevice, nullptr);
    EXPECT_EQ(drv.m_pDlgEeg, nullptr);
    EXPECT_EQ(drv.cleanDevice(), 1);

    EXPECT_EQ(drv.cleanCloseFaceCom(), 0);
    EXPECT_EQ(drv.m_pFaceSerial, nullptr);
    EXPECT_EQ(drv.cleanCloseFaceCom(), 0);

    EXPECT_EQ(drv.cleanConfigComBle2Board(), 1);
    EXPECT_TRUE(drv.m_dongles.empty());
    EXPECT_EQ(drv.cleanConfigComBle2Board(), 1);
}

TEST(DriverAddressing, DialogMessageAndHiding) {
    TestDriver drv;
    EXPECT_EQ(drv.setDlgComBleMsg("no dialog"), 0);
    EXPECT_EQ(drv.hideDlg(), 1);

    auto* ble = new CDlgSetupMultiBoardBleCom;
    auto* eeg = new CDlgSetupMultiBoardEeg;
    drv.m_pDlgBleCom = ble;
    drv.m_pDlgEeg = eeg;
    ble->m_msgText = L"first";
    ble->ShowWindow(SW_HIDE);
    EXPECT_EQ(drv.setDlgComBleMsg("hidden"), 0);
    EXPECT_EQ(ble->m_msgText, L"first");

    ble->ShowWindow(SW_SHOWNORMAL);
    eeg->ShowWindow(SW_SHOWNORMAL);
    EXPECT_EQ(drv.setDlgComBleMsg("second"), 1);
    EXPECT_EQ(ble->m_msgText, L"first\nsecond");

    EXPECT_EQ(drv.hideDlg(), 1);
    EXPECT_FALSE(ble->IsWindowVisible());
    EXPECT_FALSE(eeg->IsWindowVisible());
}

TEST(DriverAddressing, ChannelSettingsComeFromAFreshRebuild) {
    Rig rig(2, LINK_TYPE_CYTON8);
    ASSERT_NE(rig.drv.getDevice(1), nullptr);
    OPENBCIPARAMV1* p5 = rig.drv.getChnlParam(5);
    ASSERT_NE(p5, nullptr);
    p5->gain = 2;
    OPENBCIPARAMV1* again = rig.drv.getChnlParam(5);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->gain, 6);  // the rebuild hands out default records
    EXPECT_NE(rig.drv.getChnlParam(15), nullptr);
    EXPECT_EQ(rig.drv.getChnlParam(16), nullptr);  // first accelerometer channel
    EXPECT_EQ(rig.drv.getChnlParam(-1), nullptr);
    EXPECT_EQ(rig.drv.getChnlParam(14 * 2 + 6), nullptr);

    rig.setLinkType(LINK_TYPE_DAISY16);
    EXPECT_NE(rig.drv.getChnlParam(31), nullptr);
    EXPECT_EQ(rig.drv.getChnlParam(32), nullptr);
}
