// The connection dialog as a user meets it, on a simulated dongle.
#include <gtest/gtest.h>

#include "tests/support/UiRig.h"
#include "ui/DialogTemplates.h"

namespace act = platform::ui;
using uitest::UiRig;

namespace {
const CString kNotConnectedTitle = L"Setup connection: PC-USB-Com?-x-Ble?-x-EEG Board";

CString connectedTitle(const CString& port) { return L"Setup connection: PC-USB->" + port + L"->Ble->EEG Board"; }
CString number(int n) { return CString(std::to_wstring(n).c_str()); }

// One simulated dongle, its dialog shown and connected.
class UiBle : public ::testing::Test {
protected:
    static CDlgSetupMultiBoardBleCom& shown(UiRig& r) {
        r.driver->showDlgSetupMultiBoardBleCom(nullptr, nullptr);
        return r.bleDlg();
    }
    void SetUp() override { ASSERT_TRUE(act::click(dlg, IDC_BLE_AUTO_CONNECT)); }
    UiRig r{1};
    CDlgSetupMultiBoardBleCom& dlg = shown(r);
    sim::SimDongle dongle = r.rig->dongle(0);
};
}  // namespace

TEST(UiConnection, NoDonglesShowsNoSerialPortAndNotConnectedTitle) {
    UiRig r(0);
    ASSERT_EQ(r.driver->showDlgSetupMultiBoardBleCom(nullptr, nullptr), 1);
    auto& dlg = r.bleDlg();
    EXPECT_EQ(act::comboItems(dlg, IDC_BLE_PORT_BOX), std::vector<CString>{L"No Serial Port"});
    EXPECT_TRUE(r.sawMessage(L"Cannot find a USB-Com-Ble Dongle! Please insert one and try again?"));
    EXPECT_EQ(dlg.GetWindowText(), kNotConnectedTitle);

    EXPECT_EQ(uitest::texts(dlg, {IDC_BLE_RADIO_CHNL, IDC_BLE_POLL_TIME, IDC_BLE_BAUD_RATE, IDC_BLE_RETRY}),
              (std::vector<CString>{L"20", L"80", L"115200", L"3"}));
    EXPECT_EQ(act::comboItems(dlg, IDC_BLE_DONGLE_CHNL_BOX).size(), 25u);
    EXPECT_EQ(act::comboSelectedText(dlg, IDC_BLE_DONGLE_CHNL_BOX), CString(L"Channel 20"));
    EXPECT_EQ(act::checkState(dlg, IDC_BLE_SYNCH), BST_CHECKED);
    EXPECT_FALSE(act::enabled(dlg, IDC_BLE_SYNCH));

    // Connecting without any port: the dongle has no name to open.
    r.boxes.clear();
    EXPECT_TRUE(act::click(dlg, IDC_BLE_AUTO_CONNECT));
    EXPECT_TRUE(r.sawMessage(L"No Cyton Dongles!? ,Insert a USB-Serial device!"));
    EXPECT_EQ(r.driver->m_dongles[0]->m_pSerialPort, nullptr);
    EXPECT_TRUE(act::click(dlg, IDC_BLE_CLOSE));  // nothing to close
    EXPECT_EQ(dlg.GetWindowText(), kNotConnectedTitle);
}

TEST(UiConnection, AutoConnectOnSimulatedDongleThenStatusGivesConnectedTitle) {
    UiRig r(2);
    ASSERT_EQ(r.driver->showDlgSetupMultiBoardBleCom(&r.cfg, nullptr), 1);
    auto& dlg = r.bleDlg();
    const CString com1 = CString(r.rig->portName(0).c_str());
    const CString com2 = CString(r.rig->portName(1).c_str());
    EXPECT_EQ(act::comboItems(dlg, IDC_BLE_PORT_BOX), (std::vector<CString>{com1, com2}));

    ASSERT_TRUE(act::click(dlg, IDC_BLE_AUTO_CONNECT));
    CConfigComRadiozq* dongle = r.driver->m_dongles[0];
    ASSERT_TRUE(dongle->m_pSerialPort && dongle->m_pSerialPort->isOpen());
    EXPECT_GE(act::text(dlg, IDC_BLE_MSG_PANE).Find(L"\nOpen:" + com1), 0);
    // The radio channel, host channel and poll time come back from the dongle.
    EXPECT_EQ(act::text(dlg, IDC_BLE_RADIO_CHNL), number(r.rig->dongle(0).channel()));
    EXPECT_EQ(act::comboSelection(dlg, IDC_BLE_DONGLE_CHNL_BOX), r.rig->dongle(0).channel() - 1);
    EXPECT_EQ(act::text(dlg, IDC_BLE_POLL_TIME), CString(L"80"));
    ASSERT_TRUE(act::click(dlg, IDC_BLE_RADIO_STATUS));
    EXPECT_EQ(dlg.GetWindowText(), connectedTitle(com1));

    ASSERT_TRUE(act::click(dlg, IDC_BLE_CLOSE));
    EXPECT_EQ(dlg.GetWindowText(), CString(L"Setup connection: "));
    EXPECT_FALSE(dongle->m_pSerialPort->isOpen());
    ASSERT_TRUE(act::selectComboText(dlg, IDC_BLE_PORT_BOX, com2));
    ASSERT_TRUE(act::click(dlg, IDC_BLE_AUTO_CONNECT));
    ASSERT_TRUE(act::click(dlg, IDC_BLE_MONITOR));
    EXPECT_EQ(dlg.GetWindowText(), connectedTitle(com2));
    EXPECT_EQ(act::text(dlg, IDC_BLE_RADIO_CHNL), number(r.rig->dongle(1).channel()));
}

TEST(UiConnection, AfterTheHostsSearchTheBoxesShowWhatTheDongleHoldsAndRepliesReadAsWords) {
    UiRig r(2);
    ASSERT_EQ(r.connect(), 1);
    auto& dlg = r.bleDlg();
    const sim::SimDongle dongle = r.rig->dongle(0);
    const CConfigComRadiozq& held = *r.driver->m_dongles[0];
    EXPECT_EQ(uitest::texts(dlg, {IDC_BLE_RADIO_CHNL, IDC_BLE_POLL_TIME, IDC_BLE_BAUD_RATE}),
              (std::vector<CString>{number(dongle.channel()), number(dongle.pollTime()), number(dongle.baud())}));
    EXPECT_EQ(act::comboSelection(dlg, IDC_BLE_DONGLE_CHNL_BOX), held.m_hostChnl - 1);
    EXPECT_EQ(act::comboSelectedText(dlg, IDC_BLE_BAUD_BOX), CString(L"115200 Default"));
    // The dongle's answers in words: no "$$$", the poll time's byte as a number.
    ASSERT_TRUE(act::click(dlg, IDC_BLE_AUTO_CONNECT));
    EXPECT_EQ(act::text(dlg, IDC_BLE_MSG_PANE), L"Success: Poll time: " + number(dongle.pollTime()) + L"\nOpen:" +
                                                    CString(r.rig->portName(0).c_str()));
    EXPECT_EQ(CDlgSetupMultiBoardBleCom::inWords("Failure: \x01\xF0$$$"), CString(L"Failure: <0x01><0xF0>"));
}

TEST_F(UiBle, BaudRateAsksOnlyForHyperSpeed) {
    // 921600: asked first, and No sends nothing.
    r.boxes.clear();
    ASSERT_TRUE(act::selectComboText(dlg, IDC_BLE_BAUD_BOX, L"921600 Hyper-Speed"));
    EXPECT_EQ(act::text(dlg, IDC_BLE_BAUD_RATE), CString(L"921600"));
    std::size_t before = dongle.received().size();
    r.boxes.answer(IDNO);
    ASSERT_TRUE(act::click(dlg, IDC_BLE_SET_BAUD));
    EXPECT_EQ(r.boxes.texts(), std::vector<std::wstring>{L"Baud rate 921600 or higher may not be supported!"});
    EXPECT_EQ(r.boxes.types()[0] & MB_TYPEMASK, MB_YESNO);
    EXPECT_EQ(dongle.received().size(), before);

    r.boxes.clear();
    ASSERT_TRUE(act::selectComboText(dlg, IDC_BLE_BAUD_BOX, L"230400 High-Speed"));
    ASSERT_TRUE(act::click(dlg, IDC_BLE_SET_BAUD));
    EXPECT_TRUE(r.boxes.texts().empty());
    EXPECT_EQ(dongle.baud(), 230400u);
    EXPECT_EQ(r.driver->m_dongles[0]->m_baudRate, 230400u);

    // The PC keeps its rate until the port is set up again.
    ASSERT_TRUE(act::click(dlg, IDC_BLE_CLOSE));
    ASSERT_TRUE(act::click(dlg, IDC_BLE_AUTO_CONNECT));
    EXPECT_EQ(dongle.pcLineRate(), 230400u);
    ASSERT_TRUE(act::selectComboText(dlg, IDC_BLE_BAUD_BOX, L"921600 Hyper-Speed"));
    r.boxes.answer(IDYES);
    ASSERT_TRUE(act::click(dlg, IDC_BLE_SET_BAUD));
    EXPECT_EQ(r.boxes.texts().size(), 1u);
    EXPECT_EQ(dongle.baud(), 921600u);
}

TEST_F(UiBle, RadioChannelAndPollTimeRoads) {
    ASSERT_TRUE(act::typeText(dlg, IDC_BLE_POLL_TIME, L"120"));
    ASSERT_TRUE(act::click(dlg, IDC_BLE_SET_POLL));
    ASSERT_TRUE(act::typeText(dlg, IDC_BLE_RADIO_CHNL, L"9"));
    ASSERT_TRUE(act::click(dlg, IDC_BLE_SET_BOARD_CHAN));
    EXPECT_EQ(std::make_tuple(dongle.pollTime(), dongle.channel(), r.rig->board(0).channel()),
              std::make_tuple(120, 9, 9));
    ASSERT_TRUE(act::typeText(dlg, IDC_BLE_POLL_TIME, L"1"));
    ASSERT_TRUE(act::click(dlg, IDC_BLE_GET_POLL));
    ASSERT_TRUE(act::click(dlg, IDC_BLE_GET_RADIO_CHNL));
    EXPECT_EQ(uitest::texts(dlg, {IDC_BLE_POLL_TIME, IDC_BLE_RADIO_CHNL}), (std::vector<CString>{L"120", L"9"}));
    EXPECT_EQ(act::comboSelectedText(dlg, IDC_BLE_DONGLE_CHNL_BOX), CString(L"Channel 9"));

    ASSERT_TRUE(act::typeText(dlg, IDC_BLE_RETRY, L"5"));
    ASSERT_TRUE(act::click(dlg, IDC_BLE_SELECT_CONNECT));
    EXPECT_EQ(r.driver->m_retryCount, 5u);
    EXPECT_TRUE(act::enabled(dlg, IDC_BLE_FIND_DEVICE));

    // Choosing a channel sends nothing; "Set Dongle Chan" then forces it.
    const std::size_t before = dongle.received().size();
    ASSERT_TRUE(act::selectComboText(dlg, IDC_BLE_DONGLE_CHNL_BOX, L"Channel 7"));
    EXPECT_EQ(dlg.m_hostChnl, 7);
    EXPECT_EQ(dongle.received().size(), before);
    ASSERT_TRUE(act::click(dlg, IDC_BLE_SET_DONGLE_CHAN));
    EXPECT_EQ(dongle.received().substr(before, 3), std::string("\xF0\x02\x07", 3));
    EXPECT_EQ(dongle.channel(), 7);
    EXPECT_EQ(r.driver->m_dongles[0]->m_hostChnl, 7);
}

TEST_F(UiBle, ValuesTheEditsCannotHoldAreRefusedWithMfcsMessageAndNothingIsSent) {
    const wchar_t* kInt = L"Please enter an integer.";
    const wchar_t* kByte = L"Please enter an integer between 0 and 255.";
    // The retry count is an int, the radio channel a byte; a refusal stops the exchange.
    const struct {
        const wchar_t *retry, *chnl, *message;  // message null: accepted
    } cases[] = {{L" 4 ", L"9", nullptr}, {L"4 2", L"9", kInt},  {L"", L"9", kInt},     {L"99999999999", L"9", kInt},
                 {L"3", L"256", kByte},    {L"3", L"-1", kByte}, {L"3", L"3x", kByte}};
    for (const auto& c : cases) {
        r.boxes.clear();
        const std::size_t before = dongle.received().size();
        ASSERT_TRUE(act::typeText(dlg, IDC_BLE_RETRY, c.retry));
        ASSERT_TRUE(act::typeText(dlg, IDC_BLE_RADIO_CHNL, c.chnl));
        ASSERT_TRUE(act::click(dlg, IDC_BLE_SET_BOARD_CHAN));
        EXPECT_EQ(r.boxes.texts(), c.message ? std::vector<std::wstring>{c.message} : std::vector<std::wstring>{})
            << platform::narrow(c.retry) << " " << platform::narrow(c.chnl);
        EXPECT_EQ(dongle.received().size() == before, c.message != nullptr);
    }
    EXPECT_EQ(dlg.m_radioChnl, 9);
    EXPECT_FALSE(act::click(dlg, IDC_BLE_SYNCH));  // disabled
    ASSERT_TRUE(act::typeText(dlg, IDC_BLE_RADIO_CHNL, L"9"));  // Exit, too, takes the values first
    ASSERT_TRUE(act::click(dlg, IDC_BLE_EXIT));
    EXPECT_EQ(r.driver->setDlgComBleMsg("hidden"), 0);  // messages reach only a visible pane
    EXPECT_FALSE(act::click(dlg, IDC_BLE_CLEAN_MSG));  // and a hidden window takes no clicks
}
