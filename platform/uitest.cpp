#include "platform/uitest.h"

#include "platform/msgbox.h"

namespace platform::ui {
namespace {
bool g_failNextCreate = false;

// A control the user can reach: present, enabled, shown, in a shown window.
CWnd* reachable(const CWnd& dlg, int id) {
    CWnd* c = control(dlg, id);
    if (!c || !c->IsWindowEnabled() || !c->IsWindowVisible() || !dlg.IsWindowVisible()) return nullptr;
    return c;
}
}  // namespace

CWnd* control(const CWnd& dlg, int id) { return dlg.GetDlgItem(id); }

bool click(CWnd& dlg, int id) {
    CWnd* c = reachable(dlg, id);
    auto* b = dynamic_cast<CButton*>(c);
    if (!b) return false;
    if (b->GetButtonStyle() == BS_GROUPBOX) return false;
    if (b->GetButtonStyle() == BS_AUTOCHECKBOX) b->SetCheck(b->GetCheck() == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
    dlg.OnCommand(static_cast<UINT>(id), BN_CLICKED);
    return true;
}

bool selectComboEntry(CWnd& dlg, int id, int index) {
    auto* cb = dynamic_cast<CComboBox*>(reachable(dlg, id));
    if (!cb || index < 0 || index >= cb->GetCount()) return false;
    cb->SetCurSel(index);
    dlg.OnCommand(static_cast<UINT>(id), CBN_SELCHANGE);
    return true;
}

bool selectComboText(CWnd& dlg, int id, const CString& text) {
    auto* cb = dynamic_cast<CComboBox*>(control(dlg, id));
    if (!cb) return false;
    for (int i = 0; i < cb->GetCount(); ++i)
        if (cb->itemText(i) == text) return selectComboEntry(dlg, id, i);
    return false;
}

bool typeText(CWnd& dlg, int id, const CString& text) {
    CWnd* c = reachable(dlg, id);
    if (!dynamic_cast<CEdit*>(c) && !dynamic_cast<CRichEditCtrl*>(c)) return false;
    c->SetWindowText(text);
    dlg.OnCommand(static_cast<UINT>(id), EN_CHANGE);
    return true;
}

bool selectListRow(CWnd& dlg, int id, int row) {
    auto* list = dynamic_cast<CListCtrl*>(reachable(dlg, id));
    if (!list || row < 0 || row >= list->GetItemCount()) return false;
    auto notify = [&](int item, UINT oldState, UINT newState) {
        NMLISTVIEW nm;
        nm.hdr.hwndFrom = list->GetSafeHwnd();
        nm.hdr.idFrom = static_cast<UINT_PTR>(id);
        nm.hdr.code = LVN_ITEMCHANGED;
        nm.iItem = item;
        nm.uOldState = oldState;
        nm.uNewState = newState;
        nm.uChanged = LVIF_STATE;
        LRESULT result = 0;
        dlg.OnNotify(static_cast<UINT>(id), &nm.hdr, &result);
    };
    const UINT both = LVIS_SELECTED | LVIS_FOCUSED;
    for (int i = list->GetNextItem(-1, LVNI_SELECTED); i >= 0; i = list->GetNextItem(i, LVNI_SELECTED)) {
        if (i == row) continue;
        UINT old = list->GetItemState(i, both);
        list->SetItemState(i, 0, both);
        notify(i, old, 0);
    }
    UINT old = list->GetItemState(row, both);
    if (old != both) {
        list->SetItemState(row, both, both);
        list->SetSelectionMark(row);
        notify(row, old, both);
    }
    return true;
}

bool chooseMenu(CWnd& dlg, UINT commandId) {
    CMenu* menu = dlg.GetMenu();
    if (!dlg.IsWindowVisible() || !menu) return false;
    UINT state = menu->GetMenuState(commandId, MF_BYCOMMAND);
    if (state == static_cast<UINT>(-1) || (state & MF_GRAYED) || (state & MF_POPUP)) return false;
    dlg.OnCommand(commandId, 0);
    return true;
}

bool openMenu(CWnd& dlg, int index) {
    CMenu* menu = dlg.GetMenu();
    if (!dlg.IsWindowVisible() || !menu) return false;
    CMenu* popup = menu->GetSubMenu(index);
    if (!popup) return false;
    dlg.OnInitMenuPopup(popup, static_cast<UINT>(index), FALSE);
    return true;
}

void resize(CWnd& dlg, int cx, int cy) {
    dlg.userResize(cx, cy);
    dlg.OnSize(SIZE_RESTORED, cx, cy);
}

bool fireTimer(CWnd& dlg, UINT_PTR id) {
    if (!dlg.hasTimer(id)) return false;
    dlg.OnTimer(id);
    return true;
}

bool closeWindow(CWnd& dlg) {
    if (!dlg.IsWindowVisible()) return false;
    dlg.OnCommand(static_cast<UINT>(IDCANCEL), BN_CLICKED);
    return true;
}

CString text(const CWnd& dlg, int id) {
    CWnd* c = control(dlg, id);
    return c ? c->GetWindowText() : CString();
}

bool enabled(const CWnd& dlg, int id) {
    CWnd* c = control(dlg, id);
    return c && c->IsWindowEnabled();
}

int checkState(const CWnd& dlg, int id) {
    auto* b = controlAs<CButton>(dlg, id);
    return b ? b->GetCheck() : -1;
}

std::vector<CString> comboItems(const CWnd& dlg, int id) {
    auto* cb = controlAs<CComboBox>(dlg, id);
    return cb ? cb->items() : std::vector<CString>{};
}

int comboSelection(const CWnd& dlg, int id) {
    auto* cb = controlAs<CComboBox>(dlg, id);
    return cb ? cb->GetCurSel() : CB_ERR;
}

CString comboSelectedText(const CWnd& dlg, int id) {
    auto* cb = controlAs<CComboBox>(dlg, id);
    return cb ? cb->itemText(cb->GetCurSel()) : CString();
}

std::vector<std::vector<CString>> listRows(const CWnd& dlg, int id) {
    std::vector<std::vector<CString>> rows;
    auto* list = controlAs<CListCtrl>(dlg, id);
    if (!list) return rows;
    int cols = list->columnCount() > 0 ? list->columnCount() : 1;
    for (int r = 0; r < list->GetItemCount(); ++r) {
        std::vector<CString> row;
        for (int c = 0; c < cols; ++c) row.push_back(list->GetItemText(r, c));
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<CString> listColumns(const CWnd& dlg, int id) {
    std::vector<CString> cols;
    auto* list = controlAs<CListCtrl>(dlg, id);
    if (!list) return cols;
    for (int c = 0; c < list->columnCount(); ++c) cols.push_back(list->column(c).heading);
    return cols;
}

bool menuChecked(const CWnd& dlg, UINT commandId) {
    CMenu* menu = dlg.GetMenu();
    if (!menu) return false;
    UINT state = menu->GetMenuState(commandId, MF_BYCOMMAND);
    return state != static_cast<UINT>(-1) && (state & MF_CHECKED);
}

void failNextCreate() { g_failNextCreate = true; }

bool takeCreateFailure() {
    bool f = g_failNextCreate;
    g_failNextCreate = false;
    return f;
}

}  // namespace platform::ui
