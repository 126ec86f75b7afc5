// Channel addressing, the channel number check, the dongle and device getters,
// the dialog helpers and the clean-ups of the driver object.
#include <gtest/gtest.h>

#include "platform/afxwin.h"
#include "tests/support/DriverRig.h"
#include "ui/DlgSetupMultiBoardBleCom.h"
#include "ui/DlgSetupMultiBoardEeg.h"

using drivertest::Rig;
using drivertest::TestDriver;

namespace {
// Dongles without ports are enough for addressing: getChnlCom hands out the
// port object, open or not.
struct PortsOnly {
    explicit PortsOnly(int n, int linkType) {
        user.m_linkType = linkType;
        detect.m_linkType = linkType;
        drv.m_pConfigUser = &user;
        drv.m_pConfigDetect = &detect;
        for (int i = 0; i < n; ++i) {
            auto* d = new CConfigComRadiozq;
            d->m_pSerialPort = new CMegSerialPortzq;
            drv.m_dongles.push_back(d);
        }
    }
    ~PortsOnly() {
        drv.m_pConfigUser = nullptr;
        drv.m_pConfigDetect = nullptr;
    }
    CMegSerialPortzq* port(int i) { return drv.m_dongles[static_cast<size_t>(i)]->m_pSerialPort; }
    CHdwrConfigzq user, detect;
    TestDriver drv;
};
}  // namespace

TEST(DriverAddressing, CytonLayoutLettersBoardsAndPorts) {
    PortsOnly r(3, LINK_TYPE_CYTON8);
    int pin = -99, board = -99;
    EXPECT_EQ(r.drv.getChar4Chnl(13, pin), '6');
    EXPECT_EQ(pin, 5);
    ASSERT_EQ(r.drv.driverChnl2BoardPinChanID(13, board, pin), 1);
    EXPECT_EQ(board, 1);
    EXPECT_EQ(pin, 5);
    const char cyton[] = "12345678";
    for (int p = 0; p < 8; ++p) EXPECT_EQ(r.drv.getChar4Chnl(16 + p, pin), cyton[p]) << p;
    // A negative channel keeps its truncating remainder and has no letter.
    EXPECT_EQ(r.drv.getChar4Chnl(-3, pin), '0');
    EXPECT_EQ(pin, -3);

    EXPECT_EQ(r.drv.getChnlCom(13), r.port(1));
    EXPECT_EQ(r.drv.getChnlCom(23), r.port(2));
    EXPECT_EQ(r.drv.getChnlCom(1000), r.port(2));  // clamped to the last board
    EXPECT_EQ(r.drv.getChnlCom(-20), r.port(0));   // and to the first
    EXPECT_EQ(r.drv.m_chnPerBoard, 8);
}

TEST(DriverAddressing, DaisyLayoutAndSingleBoardClamp) {
    PortsOnly r(2, LINK_TYPE_DAISY16);
    int pin = 0, board = 0;
    EXPECT_EQ(r.drv.getChar4Chnl(24, pin), 'Q');
    EXPECT_EQ(pin, 8);
    EXPECT_EQ(r.drv.m_chnPerBoard, 16);
    r.drv.driverChnl2BoardPinChanID(24, board, pin);
    EXPECT_EQ(board, 1);
    const char daisy[] = "QWERTYUI";
    for (int p = 8; p < 16; ++p) EXPECT_EQ(r.drv.getChar4Chnl(p, pin), daisy[p - 8]);
    EXPECT_EQ(r.drv.getChnlCom(15), r.port(0));
    EXPECT_EQ(r.drv.getChnlCom(16), r.port(1));

    PortsOnly one(1, LINK_TYPE_CYTON8);
    EXPECT_EQ(one.drv.getChnlCom(13), one.port(0));
}

TEST(DriverAddressing, UnservedLayoutOrNoDonglesGiveNothing) {
    PortsOnly r(2, 4);
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

    PortsOnly none(0, LINK_TYPE_CYTON8);
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
