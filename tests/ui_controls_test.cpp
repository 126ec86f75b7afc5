// The window layer under the dialogs: templates to pixels, data exchange with
// MFC's validation, controls, user actions, menus, timers and what a backend
// is told.
#include <gtest/gtest.h>

#include "platform/controls.h"
#include "platform/msgbox.h"
#include "platform/uibackend.h"
#include "platform/uitest.h"
#include "tests/support/UiRig.h"

namespace act = platform::ui;
using platform::ControlKind;

namespace {
constexpr UINT kTpl = 900;
constexpr UINT kMenu = 901;

const platform::DialogTemplate kTemplate{
    kTpl, L"Layer test", 200, 100, L"MS Shell Dlg", 8, kMenu, WS_POPUP | WS_CAPTION,
    {
        {10, ControlKind::PushButton, L"Go", 7, 9, 63, 14},
        {11, ControlKind::Edit, nullptr, 75, 9, 40, 14},
        {12, ControlKind::Edit, nullptr, 75, 30, 40, 14},
        {13, ControlKind::AutoCheckBox, L"Flag", 7, 30, 50, 10},
        {14, ControlKind::AutoCheckBox, L"Off", 7, 45, 50, 10, WS_DISABLED},
        {15, ControlKind::DropDownList, nullptr, 120, 9, 60, 80},
        {16, ControlKind::ListView, nullptr, 7, 60, 180, 35, LVS_REPORT},
        {platform::IDC_STATIC, ControlKind::Label, L"Label", 120, 30, 40, 8},
    },
};
const platform::MenuTemplate kMenuTemplate{kMenu, {{L"Top", 501, {}}, {L"Pop", 0, {{L"Item", 502, {}}}}}};

class TestDlg : public CDialogEx {
public:
    TestDlg() : CDialogEx(kTpl) {
        ON_BN_CLICKED(10, &TestDlg::onGo);
        ON_COMMAND(502, &TestDlg::onItem);
    }
    void DoDataExchange(CDataExchange* dx) override {
        DDX_Control(dx, 15, m_box);
        DDX_Text(dx, 11, m_number);
        DDX_Text(dx, 12, m_byte);
        DDX_Check(dx, 13, m_flag);
    }
    void OnTimer(UINT_PTR id) override { fired.push_back(id); }
    void onGo() { ++goes; }
    void onItem() { ++items; }

    CComboBox m_box;
    int m_number = 5;
    BYTE m_byte = 7;
    int m_flag = 1;
    int goes = 0, items = 0;
    std::vector<UINT_PTR> fired;
};

// What a toolkit backend would be told.
struct Recorder : platform::UiBackend {
    void windowCreated(CWnd* w) override { created.push_back(w); }
    void windowDestroyed(CWnd* w) override { destroyed.push_back(w); }
    void changed(CWnd*, unsigned what) override { changes |= what; }
    void timerSet(CWnd*, UINT_PTR id, UINT ms) override { timers.emplace_back(id, ms); }
    std::vector<CWnd*> created, destroyed;
    std::vector<std::pair<UINT_PTR, UINT>> timers;
    unsigned changes = 0;
};

class UiLayer : public ::testing::Test {
protected:
    void SetUp() override {
        platform::registerDialogTemplate(&kTemplate);
        platform::registerMenuTemplate(&kMenuTemplate);
        prev = platform::setUiBackend(&rec);
        dlg = std::make_unique<TestDlg>();
        ASSERT_TRUE(dlg->Create(kTpl));
        dlg->ShowWindow(SW_SHOW);
    }
    void TearDown() override {
        dlg.reset();
        platform::setUiBackend(prev);
    }
    platform::ScriptedMessageBoxes boxes;
    Recorder rec;
    platform::UiBackend* prev = nullptr;
    std::unique_ptr<TestDlg> dlg;
};
}  // namespace

TEST_F(UiLayer, TemplateBecomesWindowInPixelsWithMembersBound) {
    EXPECT_EQ(dlg->GetWindowText(), CString(L"Layer test"));
    CRect client, go;
    dlg->GetClientRect(&client);
    EXPECT_EQ(client, CRect(0, 0, 300, 163));  // 200 x 100 units at 6 x 13
    act::control(*dlg, 10)->GetWindowRect(&go);
    EXPECT_EQ(go, CRect(11, 15, 105, 37));  // x*6/4, y*13/8, rounded like MulDiv
    EXPECT_EQ(dlg->children().size(), 8u);
    EXPECT_EQ(act::control(*dlg, 15), &dlg->m_box);  // the member is the control now
    EXPECT_FALSE(act::enabled(*dlg, 14));
    EXPECT_EQ(act::text(*dlg, 11), CString(L"5"));
    EXPECT_EQ(act::checkState(*dlg, 13), BST_CHECKED);
    ASSERT_NE(dlg->GetMenu(), nullptr);
    EXPECT_EQ(dlg->GetMenu()->GetSubMenu(1)->GetMenuItemID(0), 502u);
    EXPECT_EQ(rec.created.front(), dlg.get());

    // A second Create of the same object, or an unknown template, fails.
    EXPECT_FALSE(dlg->Create(kTpl));
    TestDlg other;
    EXPECT_FALSE(other.Create(12345));
}

TEST_F(UiLayer, DataExchangeRefusesWhatMfcRefuses) {
    const wchar_t* kInt = L"Please enter an integer.";
    const wchar_t* kByte = L"Please enter an integer between 0 and 255.";
    const struct {
        const wchar_t *number, *byte, *message;  // message null: accepted
    } cases[] = {{L" 42 ", L"200", nullptr}, {L"-7", L"0", nullptr}, {L"4 2", L"1", kInt},      {L"", L"1", kInt},
                 {L"99999999999", L"1", kInt}, {L"1", L"256", kByte},  {L"1", L"-1", kByte}};
    for (const auto& c : cases) {
        boxes.clear();
        dlg->m_flag = 1;
        act::typeText(*dlg, 11, c.number);
        act::typeText(*dlg, 12, c.byte);
        act::click(*dlg, 13);  // unchecks
        EXPECT_EQ(dlg->UpdateData(TRUE), c.message ? FALSE : TRUE) << platform::narrow(c.number);
        EXPECT_EQ(boxes.texts(), c.message ? std::vector<std::wstring>{c.message} : std::vector<std::wstring>{});
        EXPECT_EQ(dlg->m_flag, c.message ? 1 : 0);  // a refusal stops the exchange at the bad value
        act::click(*dlg, 13);
    }
    dlg->m_number = -3;
    dlg->m_byte = 255;
    ASSERT_TRUE(dlg->UpdateData(FALSE));
    EXPECT_EQ(uitest::texts(*dlg, {11, 12}), (std::vector<CString>{L"-3", L"255"}));
}

TEST_F(UiLayer, UserActionsOnlyWhereAUserCouldAct) {
    EXPECT_TRUE(act::click(*dlg, 10));
    EXPECT_FALSE(act::click(*dlg, 14));  // disabled
    EXPECT_FALSE(act::click(*dlg, 99));  // no such control
    EXPECT_FALSE(act::click(*dlg, 11));  // not a button
    EXPECT_EQ(dlg->goes, 1);

    dlg->m_box.AddString(L"a");
    dlg->m_box.AddString(L"b");
    EXPECT_FALSE(act::selectComboEntry(*dlg, 15, 2));
    EXPECT_TRUE(act::selectComboText(*dlg, 15, L"b"));
    EXPECT_EQ(dlg->m_box.InsertString(0, L"z"), 0);
    EXPECT_EQ(dlg->m_box.GetCurSel(), 2);  // the selection stays on "b"
    EXPECT_TRUE(act::chooseMenu(*dlg, 502));
    EXPECT_FALSE(act::chooseMenu(*dlg, 777));
    EXPECT_EQ(dlg->items, 1);

    EXPECT_FALSE(act::fireTimer(*dlg, 200));
    dlg->SetTimer(200, 1000);
    EXPECT_EQ(rec.timers, (std::vector<std::pair<UINT_PTR, UINT>>{{200, 1000}}));
    EXPECT_TRUE(act::fireTimer(*dlg, 200));
    EXPECT_EQ(dlg->fired, std::vector<UINT_PTR>{200});

    // The close box is IDCANCEL: the window hides and takes no more clicks.
    rec.changes = 0;
    EXPECT_TRUE(act::closeWindow(*dlg));
    EXPECT_TRUE(rec.changes & platform::kChangeVisible);
    EXPECT_EQ(dlg->endResult(), IDCANCEL);
    EXPECT_FALSE(act::click(*dlg, 10));
    EXPECT_EQ(dlg->goes, 1);

    // The dialog and every control are announced before they go away.
    dlg.reset();
    EXPECT_EQ(rec.destroyed.size(), 9u);
}
