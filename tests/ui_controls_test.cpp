// The window layer under the dialogs: data exchange with MFC's validation and
// messages, and user actions only where a user could act. The rest of the
// layer is met through the real dialogs.
#include <gtest/gtest.h>

#include "platform/uitest.h"
#include "tests/support/UiRig.h"

namespace act = platform::ui;
using platform::ControlKind;

namespace {
constexpr UINT kTpl = 900;

const platform::DialogTemplate kTemplate{
    kTpl, L"Layer test", 200, 100, L"MS Shell Dlg", 8, 0, WS_POPUP | WS_CAPTION,
    {
        {10, ControlKind::PushButton, L"Go", 7, 9, 63, 14},
        {11, ControlKind::Edit, nullptr, 75, 9, 40, 14},
        {12, ControlKind::Edit, nullptr, 75, 30, 40, 14},
        {13, ControlKind::AutoCheckBox, L"Flag", 7, 30, 50, 10},
        {14, ControlKind::AutoCheckBox, L"Off", 7, 45, 50, 10, WS_DISABLED},
    },
};

class TestDlg : public CDialogEx {
public:
    TestDlg() : CDialogEx(kTpl) { ON_BN_CLICKED(10, &TestDlg::onGo); }
    void DoDataExchange(CDataExchange* dx) override {
        DDX_Text(dx, 11, m_number);
        DDX_Text(dx, 12, m_byte);
        DDX_Check(dx, 13, m_flag);
    }
    void onGo() { ++goes; }
    int m_number = 5;
    BYTE m_byte = 7;
    int m_flag = 1;
    int goes = 0;
};

class UiLayer : public ::testing::Test {
protected:
    void SetUp() override {
        platform::registerDialogTemplate(&kTemplate);
        ASSERT_TRUE(dlg.Create(kTpl));
        dlg.ShowWindow(SW_SHOW);
    }
    platform::ScriptedMessageBoxes boxes;
    TestDlg dlg;
};
}  // namespace

TEST_F(UiLayer, DataExchangeRefusesWhatMfcRefuses) {
    const wchar_t* kInt = L"Please enter an integer.";
    const wchar_t* kByte = L"Please enter an integer between 0 and 255.";
    const struct {
        const wchar_t *number, *byte, *message;  // message null: accepted
    } cases[] = {{L" 42 ", L"200", nullptr}, {L"-7", L"0", nullptr}, {L"4 2", L"1", kInt}, {L"", L"1", kInt},
                 {L"99999999999", L"1", kInt}, {L"1", L"256", kByte}, {L"1", L"-1", kByte}};
    for (const auto& c : cases) {
        boxes.clear();
        dlg.m_flag = 1;
        act::typeText(dlg, 11, c.number);
        act::typeText(dlg, 12, c.byte);
        act::click(dlg, 13);  // unchecks
        EXPECT_EQ(dlg.UpdateData(TRUE), c.message ? FALSE : TRUE) << platform::narrow(c.number);
        EXPECT_EQ(boxes.texts(), c.message ? std::vector<std::wstring>{c.message} : std::vector<std::wstring>{});
        EXPECT_EQ(dlg.m_flag, c.message ? 1 : 0);  // a refusal stops the exchange at the bad value
        act::click(dlg, 13);
    }
}

TEST_F(UiLayer, UserActionsOnlyWhereAUserCouldAct) {
    EXPECT_TRUE(act::click(dlg, 10));
    EXPECT_FALSE(act::click(dlg, 14));  // disabled
    EXPECT_FALSE(act::click(dlg, 99));  // no such control
    EXPECT_FALSE(act::click(dlg, 11));  // not a button
    // The close box is IDCANCEL: the window hides and takes no more clicks.
    EXPECT_TRUE(act::closeWindow(dlg));
    EXPECT_EQ(dlg.endResult(), IDCANCEL);
    EXPECT_FALSE(act::click(dlg, 10));
    EXPECT_EQ(dlg.goes, 1);
}
