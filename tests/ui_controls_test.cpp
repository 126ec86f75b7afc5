// The window layer under the dialogs: templates to pixels, data exchange with
// MFC's validation, controls, user actions, menus, timers and what a backend
// is told.
#include <gtest/gtest.h>

#include <algorithm>

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

const platform::DialogTemplate& testTemplate() {
    static const platform::DialogTemplate tpl{
        kTpl,
        L"Layer test",
        200,
        100,
        L"MS Shell Dlg",
        8,
        kMenu,
        WS_POPUP | WS_CAPTION,
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
    return tpl;
}

const platform::MenuTemplate& testMenu() {
    static const platform::MenuTemplate menu{kMenu, {{L"Top", 501, {}}, {L"Pop", 0, {{L"Item", 502, {}}}}}};
    return menu;
}

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
    int goes = 0;
    int items = 0;
    std::vector<UINT_PTR> fired;
};

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
        platform::registerDialogTemplate(&testTemplate());
        platform::registerMenuTemplate(&testMenu());
        ASSERT_TRUE(dlg.Create(kTpl));
        dlg.ShowWindow(SW_SHOW);
    }
    platform::ScriptedMessageBoxes boxes;
    TestDlg dlg;
};
}  // namespace

TEST_F(UiLayer, TemplateBecomesWindowInPixelsWithMembersBound) {
    EXPECT_EQ(dlg.GetWindowText(), CString(L"Layer test"));
    CRect client;
    dlg.GetClientRect(&client);
    EXPECT_EQ(client, CRect(0, 0, 300, 163));  // 200 x 100 units at 6 x 13
    CRect go;
    act::control(dlg, 10)->GetWindowRect(&go);
    EXPECT_EQ(go, CRect(11, 15, 105, 37));  // x*6/4, y*13/8, rounded like MulDiv
    EXPECT_EQ(dlg.children().size(), 8u);
    EXPECT_EQ(act::control(dlg, 15), &dlg.m_box);  // the member is the control now
    EXPECT_FALSE(act::enabled(dlg, 14));
    EXPECT_EQ(act::text(dlg, 11), CString(L"5"));
    EXPECT_EQ(act::checkState(dlg, 13), BST_CHECKED);
    EXPECT_EQ(act::control(dlg, 16)->GetStyle() & LVS_TYPEMASK, LVS_REPORT);
    ASSERT_NE(dlg.GetMenu(), nullptr);
    EXPECT_EQ(dlg.GetMenu()->GetMenuItemCount(), 2);
    EXPECT_EQ(dlg.GetMenu()->GetSubMenu(1)->GetMenuItemID(0), 502u);

    // A second Create of the same object, or an unknown template, fails.
    EXPECT_FALSE(dlg.Create(kTpl));
    TestDlg other;
    EXPECT_FALSE(other.Create(12345));
}

TEST_F(UiLayer, DataExchangeRefusesWhatMfcRefuses) {
    struct Case {
        const wchar_t* number;
        const wchar_t* byte;
        bool ok;
        const wchar_t* message;
    };
    const Case cases[] = {
        {L" 42 ", L"200", true, nullptr},
        {L"-7", L"0", true, nullptr},
        {L"4 2", L"1", false, L"Please enter an integer."},
        {L"", L"1", false, L"Please enter an integer."},
        {L"99999999999", L"1", false, L"Please enter an integer."},
        {L"1", L"256", false, L"Please enter an integer between 0 and 255."},
        {L"1", L"-1", false, L"Please enter an integer between 0 and 255."},
    };
    for (const Case& c : cases) {
        boxes.clear();
        dlg.m_number = 5;
        dlg.m_byte = 7;
        dlg.m_flag = 1;
        act::typeText(dlg, 11, c.number);
        act::typeText(dlg, 12, c.byte);
        act::click(dlg, 13);  // unchecks
        EXPECT_EQ(dlg.UpdateData(TRUE), c.ok ? TRUE : FALSE) << platform::narrow(c.number);
        if (c.ok) {
            EXPECT_TRUE(boxes.texts().empty());
            EXPECT_EQ(dlg.m_flag, 0);
        } else {
            ASSERT_EQ(boxes.texts().size(), 1u);
            EXPECT_EQ(boxes.texts()[0], c.message);
            EXPECT_EQ(dlg.m_flag, 1);  // the exchange stopped at the bad value
        }
        act::click(dlg, 13);
    }
    dlg.m_number = -3;
    dlg.m_byte = 255;
    ASSERT_TRUE(dlg.UpdateData(FALSE));
    EXPECT_EQ(act::text(dlg, 11), CString(L"-3"));
    EXPECT_EQ(act::text(dlg, 12), CString(L"255"));
}

TEST_F(UiLayer, UserActionsOnlyWhereAUserCouldAct) {
    EXPECT_TRUE(act::click(dlg, 10));
    EXPECT_EQ(dlg.goes, 1);
    EXPECT_FALSE(act::click(dlg, 14));  // disabled
    EXPECT_FALSE(act::click(dlg, 99));  // no such control
    EXPECT_FALSE(act::click(dlg, 11));  // not a button
    act::control(dlg, 10)->EnableWindow(FALSE);
    EXPECT_FALSE(act::click(dlg, 10));
    act::control(dlg, 10)->EnableWindow(TRUE);

    dlg.m_box.AddString(L"a");
    dlg.m_box.AddString(L"b");
    EXPECT_FALSE(act::selectComboEntry(dlg, 15, 2));
    EXPECT_TRUE(act::selectComboText(dlg, 15, L"b"));
    EXPECT_EQ(dlg.m_box.GetCurSel(), 1);
    EXPECT_EQ(dlg.m_box.InsertString(0, L"z"), 0);
    EXPECT_EQ(dlg.m_box.GetCurSel(), 2);  // the selection stays on "b"
    EXPECT_EQ(dlg.m_box.SetCurSel(7), CB_ERR);
    EXPECT_EQ(dlg.m_box.GetCurSel(), CB_ERR);

    EXPECT_TRUE(act::chooseMenu(dlg, 502));
    EXPECT_EQ(dlg.items, 1);
    EXPECT_FALSE(act::chooseMenu(dlg, 777));
    EXPECT_EQ(dlg.GetMenu()->CheckMenuItem(502, MF_CHECKED), MF_UNCHECKED);
    EXPECT_EQ(dlg.GetMenu()->CheckMenuItem(502, MF_UNCHECKED), MF_CHECKED);
    EXPECT_EQ(dlg.GetMenu()->CheckMenuItem(777, MF_CHECKED), static_cast<UINT>(-1));

    // The close box is IDCANCEL: the window hides and takes no more clicks.
    EXPECT_TRUE(act::closeWindow(dlg));
    EXPECT_FALSE(dlg.IsWindowVisible());
    EXPECT_EQ(dlg.endResult(), IDCANCEL);
    EXPECT_FALSE(act::click(dlg, 10));
    EXPECT_EQ(dlg.goes, 1);
}

TEST_F(UiLayer, ListRowsNeedTheirColumns) {
    auto* list = act::controlAs<CListCtrl>(dlg, 16);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->InsertItem(0, L"row"), 0);
    EXPECT_FALSE(list->SetItemText(0, 1, L"x"));  // no column 1 yet
    EXPECT_EQ(list->InsertColumn(0, L"A", LVCFMT_LEFT, 90, 1), 0);
    EXPECT_EQ(list->InsertColumn(1, L"B", LVCFMT_LEFT, 90, 2), 1);
    EXPECT_TRUE(list->SetItemText(0, 1, L"x"));
    EXPECT_FALSE(list->SetItemText(1, 1, L"x"));  // no row 1
    EXPECT_EQ(list->InsertItem(9, L"end"), 1);     // past the end: appended
    EXPECT_EQ(act::listRows(dlg, 16), (std::vector<std::vector<CString>>{{L"row", L"x"}, {L"end", L""}}));
    EXPECT_TRUE(act::selectListRow(dlg, 16, 1));
    EXPECT_EQ(list->GetNextItem(-1, LVNI_SELECTED), 1);
    EXPECT_TRUE(list->DeleteAllItems());
    EXPECT_EQ(list->GetItemCount(), 0);

    CListCtrl detached;  // a control without a window refuses rows
    EXPECT_EQ(detached.InsertItem(0, L"x"), -1);
}

TEST(UiLayerBackend, BackendHearsCreationChangesTimersAndDestruction) {
    platform::registerDialogTemplate(&testTemplate());
    platform::registerMenuTemplate(&testMenu());
    Recorder rec;
    platform::UiBackend* prev = platform::setUiBackend(&rec);
    {
        TestDlg dlg;
        ASSERT_TRUE(dlg.Create(kTpl));
        ASSERT_EQ(rec.created.size(), 1u);
        EXPECT_EQ(rec.created[0], &dlg);
        dlg.ShowWindow(SW_SHOW);
        dlg.SetWindowText(L"new");
        EXPECT_TRUE(rec.changes & platform::kChangeVisible);
        EXPECT_TRUE(rec.changes & platform::kChangeText);

        EXPECT_FALSE(act::fireTimer(dlg, 200));
        dlg.SetTimer(200, 1000);
        ASSERT_EQ(rec.timers.size(), 1u);
        EXPECT_EQ(rec.timers[0], (std::pair<UINT_PTR, UINT>{200, 1000}));
        EXPECT_TRUE(act::fireTimer(dlg, 200));
        EXPECT_EQ(dlg.fired, std::vector<UINT_PTR>{200});

        {
            CWaitCursor wait;
            EXPECT_EQ(platform::waitCursorDepth(), 1);
        }
        EXPECT_EQ(platform::waitCursorDepth(), 0);
        rec.destroyed.clear();
    }
    // The dialog and every control were announced before they went away.
    EXPECT_GE(rec.destroyed.size(), 9u);
    platform::setUiBackend(prev);
}
