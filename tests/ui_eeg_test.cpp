// The EEG setup dialog and its electrode list on two simulated Cyton boards.
#include <gtest/gtest.h>

#include <tuple>

#include "tests/support/UiRig.h"
#include "ui/DialogTemplates.h"

namespace act = platform::ui;
using uitest::UiRig;

namespace {
class UiEeg : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(r.connect(), 1);
        ASSERT_TRUE(r.driver->m_pDlgEeg && r.driver->m_pDlgBleCom);
    }
    CDlgSetupMultiBoardEeg& dlg() { return r.eegDlg(); }
    CListMultiBoardElectrodezq& list() { return dlg().m_listElectrode; }
    // What board b heard since the last look, once the radio delivered it.
    std::string heard(int b) {
        r.clock.get().advanceUs(50'000);
        std::string s = r.rig->board(b).received();
        r.rig->board(b).clearLog();
        return s;
    }

    UiRig r{2};
};
}  // namespace

TEST_F(UiEeg, ConnectShowsBothDialogsWithBoardsTitleAndBoxes) {
    EXPECT_TRUE(dlg().IsWindowVisible());
    EXPECT_TRUE(r.bleDlg().IsWindowVisible());
    EXPECT_EQ(dlg().GetWindowText(), CString(L"Setup:  User:MultiCyton2x8=16"));
    // The boxes' rows; input types and test signals come from the option tables.
    const std::pair<int, std::vector<CString>> boxes[] = {
        {IDC_EEG_BOARD_BOX, {L"Board1x8", L"Board2x8"}},
        {IDC_EEG_CONNECTION_BOX, {L"Com-Ble"}},
        {IDC_EEG_GAIN_BOX, {L"Gain 1", L"Gain 2", L"Gain 4", L"Gain 6", L"Gain 8", L"Gain 12", L"Gain 24"}}};
    for (const auto& [id, items] : boxes) EXPECT_EQ(act::comboItems(dlg(), id), items) << id;
    EXPECT_EQ(act::comboSelectedText(dlg(), IDC_EEG_GAIN_BOX), CString(L"Gain 24"));
    EXPECT_EQ(act::comboItems(dlg(), IDC_EEG_INPUT_TYPE_BOX).size(), 8u);
    EXPECT_EQ(act::comboItems(dlg(), IDC_EEG_TEST_SIGNAL_BOX).size(), 6u);
    auto sd = act::comboItems(dlg(), IDC_EEG_SDCARD_BOX);
    ASSERT_EQ(sd.size(), 9u);
    EXPECT_EQ(sd.front() + L"|" + sd.back(), CString(L"Do not write to SD...|24 hour maximum"));
    EXPECT_EQ(act::checkState(dlg(), IDC_EEG_POWER_DOWN), BST_UNCHECKED);
    EXPECT_EQ(act::checkState(dlg(), IDC_EEG_INCLUDE_BIAS), BST_CHECKED);
    EXPECT_EQ(act::checkState(dlg(), IDC_EEG_LINK_SRB2), BST_CHECKED);
    EXPECT_EQ(act::checkState(dlg(), IDC_EEG_ALL_N_SRB1), BST_UNCHECKED);

    auto ch = act::comboItems(dlg(), IDC_EEG_CHANNEL_BOX);
    ASSERT_EQ(ch.size(), 8u);
    EXPECT_EQ(ch[0], CString(L"B1_Pin1_EEG1_FP1"));  // pins count from 1, as in the list
    EXPECT_EQ(ch[7], CString(L"B1_Pin8_EEG8_T4"));
    ASSERT_TRUE(act::selectComboEntry(dlg(), IDC_EEG_BOARD_BOX, 1));
    ch = act::comboItems(dlg(), IDC_EEG_CHANNEL_BOX);
    ASSERT_EQ(ch.size(), 8u);
    EXPECT_EQ(ch[0], CString(L"B2_Pin1_EEG9_T5"));
    EXPECT_EQ(ch[7].Left(14), CString(L"B2_Pin8_EEG16_"));

    // A stored index beyond the boards comes back as the last one.
    dlg().m_boardIndex = 5;
    dlg().m_channelIndex = 30;
    dlg().fillBoardBox();
    dlg().fillChannelBox();
    EXPECT_EQ(std::make_tuple(dlg().m_boardIndex, act::comboSelection(dlg(), IDC_EEG_BOARD_BOX), dlg().m_channelIndex),
              std::make_tuple(1, 1, 7));
}

TEST_F(UiEeg, ElectrodeListRowsColumnsAndColours) {
    EXPECT_EQ(act::listColumns(dlg(), IDC_EEG_ELECTRODE_LIST),
              (std::vector<CString>{L"Name", L"Pin", L"Power Down", L"Gain", L"Input Type", L"Include Bias",
                                    L"Input2SRB2", L"AllNs2SRB1", L"Latency", L"Read Out", L"Notes"}));
    auto rows = act::listRows(dlg(), IDC_EEG_ELECTRODE_LIST);
    ASSERT_EQ(rows.size(), 16u);
    // A fresh row shows the gain the board runs at, as the gain box does.
    EXPECT_EQ(rows[0], (std::vector<CString>{L"FP1", L"B1_Pin:1_EEG:1", L"Power", L"24", L"Normal", L"Within BIAS",
                                             L"To SRB2", L"No", L"0.000000", r.driver->m_portListText, L"EEG"}));
    EXPECT_EQ(rows[9][1], CString(L"B2_Pin:2_EEG:10"));

    // Default flags, each under its heading: bias and SRB2 set, power down and
    // SRB1 clear; other cells (gain and input type too) keep the list's colour.
    const COLORREF bk = list().GetBkColor();
    const std::tuple<int, int, COLORREF> cells[] = {
        {0, 2, RGB(0, 255, 0)}, {0, 5, RGB(255, 50, 50)}, {0, 6, RGB(255, 100, 100)}, {0, 7, RGB(150, 255, 150)},
        {0, 3, bk},             {0, 4, bk},               {0, 0, bk},                  {0, 12, bk},
        {100, 2, bk},           {-1, 2, bk}};
    for (auto [row, col, colour] : cells) EXPECT_EQ(list().OnGetCellBkColor(row, col), colour) << row << "," << col;

    ASSERT_TRUE(act::selectListRow(dlg(), IDC_EEG_ELECTRODE_LIST, 3));
    EXPECT_EQ(r.driver->m_pDevice->m_curChnIndex, 3);
}

TEST_F(UiEeg, SettingsReachThePickedBoardOnlyAndItsRowAtOnce) {
    // Second channel of board 2: power down, gain 8, input "Shorted", no SRB2.
    ASSERT_TRUE(act::selectComboText(dlg(), IDC_EEG_BOARD_BOX, L"Board2x8"));
    ASSERT_TRUE(act::selectComboEntry(dlg(), IDC_EEG_CHANNEL_BOX, 1));
    ASSERT_TRUE(act::click(dlg(), IDC_EEG_POWER_DOWN));
    ASSERT_TRUE(act::selectComboText(dlg(), IDC_EEG_GAIN_BOX, L"Gain 8"));
    ASSERT_TRUE(act::selectComboText(dlg(), IDC_EEG_INPUT_TYPE_BOX, L"Shorted"));
    ASSERT_TRUE(act::click(dlg(), IDC_EEG_LINK_SRB2));
    heard(0);
    heard(1);
    ASSERT_TRUE(act::click(dlg(), IDC_EEG_SET_SELECT));
    EXPECT_EQ(heard(1), "x2141100X");
    EXPECT_EQ(heard(0), "");

    for (int b : {0, 1}) {
        sim::ChannelState held = r.rig->board(b).channelState(1);
        EXPECT_EQ(std::make_tuple(held.powerDown, held.gainCode, held.inputType, held.bias, held.srb2, held.srb1),
                  b == 1 ? std::make_tuple(true, 4, 1, true, false, false) : std::make_tuple(false, 6, 0, true, true, false))
            << "board " << b + 1;
    }
    // Row 10 is board 2's second channel: its texts and colours change at once, board 1's row 2 not.
    auto settings = [&](int row) {
        auto cells = act::listRows(dlg(), IDC_EEG_ELECTRODE_LIST)[static_cast<size_t>(row)];
        return std::vector<CString>(cells.begin() + 2, cells.begin() + 8);
    };
    auto colours = [&](int row) {
        return std::make_tuple(list().OnGetCellBkColor(row, 2), list().OnGetCellBkColor(row, 5),
                               list().OnGetCellBkColor(row, 6), list().OnGetCellBkColor(row, 7));
    };
    const std::vector<CString> changed = {L"Down", L"8", L"Shorted", L"Within BIAS", L"No", L"No"};
    EXPECT_EQ(settings(9), changed);
    EXPECT_EQ(colours(9), std::make_tuple(RGB(125, 0, 0), RGB(255, 50, 50), RGB(100, 255, 100), RGB(150, 255, 150)));
    EXPECT_EQ(settings(1), (std::vector<CString>{L"Power", L"24", L"Normal", L"Within BIAS", L"To SRB2", L"No"}));
    EXPECT_EQ(colours(1), std::make_tuple(RGB(0, 255, 0), RGB(255, 50, 50), RGB(255, 100, 100), RGB(150, 255, 150)));

    // The timer redraws the rows from the records while a reading runs.
    dlg().SetTimer(IDT_EEG_REFRESH, 1000);
    r.driver->m_connState = 3;
    ASSERT_TRUE(act::fireTimer(dlg(), IDT_EEG_REFRESH));
    r.driver->m_connState = 2;
    EXPECT_EQ(act::listRows(dlg(), IDC_EEG_ELECTRODE_LIST)[9][1], CString(L"MB8:10"));
    EXPECT_EQ(settings(9), changed);
    EXPECT_TRUE(r.driver->m_portListText.IsEmpty());
}

TEST_F(UiEeg, BoardCommandsGoToTheBoardsTheyNameAndTheResponsesFlagFollowsTheMenu) {
    heard(0);
    heard(1);
    ASSERT_TRUE(act::selectComboText(dlg(), IDC_EEG_TEST_SIGNAL_BOX, L"DC signal"));
    const std::string allOnBoard2 = "x1060110Xx2060110Xx3060110Xx4060110Xx5060110Xx6060110Xx7060110Xx8060110X";
    const struct {
        int board, button;
        const char *first, *second;
        const wchar_t* power;  // the second channel's row 2 and row 10 after the step
    } steps[] = {
        {0, IDC_EEG_TURN_OFF, "2", "", L"Down|Power"},
        {0, IDC_EEG_TURN_ON, "**@**", "", L"Power|Power"},
        {1, IDC_EEG_TURN_OFF, "", "2", L"Power|Down"},
        {1, IDC_EEG_SET_ALL, "", allOnBoard2.c_str(), L"Power|Power"},  // board 2's channels only
        {1, IDC_EEG_TURN_ALL_OFF, "12345678", "12345678", L"Down|Down"},  // every EEG channel of both boards
        {1, IDC_EEG_TEST_SIGNAL, "p", "", L"Down|Down"},                   // the first board only
        {1, IDC_EEG_ALL_DEFAULT, "d", "d", L"Power|Power"},
        {1, IDC_EEG_QUERY_SETTINGS, "?", "?", L"Power|Power"},
    };
    for (const auto& s : steps) {
        ASSERT_TRUE(act::selectComboEntry(dlg(), IDC_EEG_BOARD_BOX, s.board));
        ASSERT_TRUE(act::selectComboEntry(dlg(), IDC_EEG_CHANNEL_BOX, 1));
        ASSERT_TRUE(act::click(dlg(), s.button));
        EXPECT_EQ(heard(0), s.first) << s.button;
        EXPECT_EQ(heard(1), s.second) << s.button;
        EXPECT_EQ(list().GetItemText(1, 2) + L"|" + list().GetItemText(9, 2), CString(s.power)) << s.button;
    }
    EXPECT_EQ(r.driver->m_cmdValue, 0);

    // The responses flag (on at first) follows the menu; the menu shows it when opened.
    for (int expect : {0, 1}) {
        ASSERT_TRUE(act::openMenu(dlg(), 1));
        EXPECT_EQ(act::menuChecked(dlg(), ID_OPTION_RECORD_RESPONSES), expect == 0);
        ASSERT_TRUE(act::chooseMenu(dlg(), ID_OPTION_RECORD_RESPONSES));
        EXPECT_EQ(dlg().m_responses, expect);
    }
}

TEST_F(UiEeg, SecondShowKeepsTheListAndExitOnlyHides) {
    list().SetItemText(0, 9, L"kept");
    CDlgSetupMultiBoardEeg* same = r.driver->m_pDlgEeg;
    ASSERT_TRUE(act::click(dlg(), IDC_EEG_EXIT));
    EXPECT_FALSE(dlg().IsWindowVisible());
    ASSERT_EQ(r.driver->showDlgSetupMultiBoardEeg(&r.cfg, nullptr), 1);
    EXPECT_TRUE(r.driver->m_pDlgEeg == same && dlg().IsWindowVisible());
    EXPECT_EQ(dlg().m_showCount, 2);
    EXPECT_EQ(list().GetItemText(0, 9), CString(L"kept"));

    ASSERT_TRUE(act::click(r.bleDlg(), IDC_BLE_EXIT));
    ASSERT_TRUE(act::click(dlg(), IDC_EEG_DONGLE));
    EXPECT_TRUE(r.bleDlg().IsWindowVisible());

    // Acquisition hides both windows.
    CRect before, after;
    list().GetWindowRect(&before);
    act::resize(dlg(), 900, 640);
    list().GetWindowRect(&after);
    EXPECT_EQ(after, CRect(before.left, before.top, 890, 630));
    r.driver->hideDlg();
    EXPECT_FALSE(dlg().IsWindowVisible());
    EXPECT_FALSE(r.bleDlg().IsWindowVisible());
}

TEST(UiEegAlone, CreationFailureKeepsNoDialogAndNoDongleGivesEmptyBoxes) {
    UiRig r(0);
    act::failNextCreate();
    EXPECT_EQ(r.driver->showDlgSetupMultiBoardEeg(nullptr, nullptr), 0);
    EXPECT_EQ(r.driver->m_pDlgEeg, nullptr);

    ASSERT_EQ(r.driver->showDlgSetupMultiBoardEeg(nullptr, nullptr), 1);
    auto& dlg = r.eegDlg();
    EXPECT_EQ(act::comboItems(dlg, IDC_EEG_BOARD_BOX), std::vector<CString>{L"0 Board"});
    EXPECT_EQ(act::comboItems(dlg, IDC_EEG_CHANNEL_BOX), std::vector<CString>{L"No Channel Geometry"});
    EXPECT_EQ(dlg.GetWindowText(), CString(L"Setup:  "));
    EXPECT_EQ(dlg.m_listElectrode.GetItemCount(), 0);
    // Without a user configuration the connection dialog stays closed.
    EXPECT_EQ(r.driver->m_pDlgBleCom, nullptr);
    ASSERT_TRUE(act::click(dlg, IDC_EEG_SET_ALL));
    EXPECT_EQ(r.driver->m_cmdValue, 0);
}
