// Acting as the user on windows of the layer: press, choose, type, resize,
// open menus, fire timers, and read any control's state. Tests use this on
// the memory-only windows; a toolkit backend calls the same entry points when
// its widgets report a user action, so both roads run the same handlers.
#pragma once

#include <vector>

#include "platform/controls.h"

namespace platform::ui {

// The control with that id in a created dialog, or null.
CWnd* control(const CWnd& dlg, int id);
template <class T>
T* controlAs(const CWnd& dlg, int id) {
    return dynamic_cast<T*>(control(dlg, id));
}

// ---- user actions. Each returns false (and does nothing) when the control is
// missing, disabled or its window is hidden, as a real user could not act.
// Presses a button; an automatic check box toggles first.
bool click(CWnd& dlg, int id);
// Chooses an entry of a drop-down list (then CBN_SELCHANGE).
bool selectComboEntry(CWnd& dlg, int id, int index);
// Chooses the first entry with exactly that text.
bool selectComboText(CWnd& dlg, int id, const CString& text);
// Replaces the text of an edit or rich edit (then EN_CHANGE).
bool typeText(CWnd& dlg, int id, const CString& text);
// Selects one row of a list view (LVN_ITEMCHANGED for the row left and the row taken).
bool selectListRow(CWnd& dlg, int id, int row);
// Chooses a menu command.
bool chooseMenu(CWnd& dlg, UINT commandId);
// Opens the pop-up at position `index` of the window's menu (OnInitMenuPopup).
bool openMenu(CWnd& dlg, int index);
// The user resized the window to a client area of cx by cy pixels (OnSize).
void resize(CWnd& dlg, int cx, int cy);
// A running timer of the window fires once; false when it is not running.
bool fireTimer(CWnd& dlg, UINT_PTR id);
// Closes the window with its close box (IDCANCEL).
bool closeWindow(CWnd& dlg);

// ---- reading state
CString text(const CWnd& dlg, int id);
bool enabled(const CWnd& dlg, int id);
int checkState(const CWnd& dlg, int id);
std::vector<CString> comboItems(const CWnd& dlg, int id);
int comboSelection(const CWnd& dlg, int id);
CString comboSelectedText(const CWnd& dlg, int id);
// Rows of a list view as texts, one vector per row.
std::vector<std::vector<CString>> listRows(const CWnd& dlg, int id);
std::vector<CString> listColumns(const CWnd& dlg, int id);
// Menu check mark of a command, as the menu would show it.
bool menuChecked(const CWnd& dlg, UINT commandId);

// The next Create of any dialog fails (for testing the failure roads).
void failNextCreate();
bool takeCreateFailure();

}  // namespace platform::ui
