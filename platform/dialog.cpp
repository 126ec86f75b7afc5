#include "platform/dialog.h"

#include <cstdint>
#include <map>
#include <memory>

#include "platform/controls.h"
#include "platform/msgbox.h"
#include "platform/uitest.h"

namespace platform {
namespace {
std::map<UINT, const DialogTemplate*>& dialogTemplates() {
    static std::map<UINT, const DialogTemplate*> m;
    return m;
}
std::map<UINT, const MenuTemplate*>& menuTemplates() {
    static std::map<UINT, const MenuTemplate*> m;
    return m;
}

void buildMenu(CMenu& menu, const std::vector<MenuItemTemplate>& items) {
    for (const MenuItemTemplate& it : items) {
        if (it.id == 0 && !it.popup.empty())
            buildMenu(menu.appendPopup(it.text), it.popup);
        else
            menu.append(it.id, it.text);
    }
}

std::unique_ptr<CWnd> makeControl(ControlKind kind, DWORD& style) {
    switch (kind) {
        case ControlKind::PushButton:
            style |= BS_PUSHBUTTON | WS_TABSTOP;
            return std::make_unique<CButton>();
        case ControlKind::DefPushButton:
            style |= BS_DEFPUSHBUTTON | WS_TABSTOP;
            return std::make_unique<CButton>();
        case ControlKind::GroupBox:
            style |= BS_GROUPBOX;
            return std::make_unique<CButton>();
        case ControlKind::AutoCheckBox:
            style |= BS_AUTOCHECKBOX | WS_TABSTOP;
            return std::make_unique<CButton>();
        case ControlKind::Label:
            return std::make_unique<CStatic>();
        case ControlKind::Edit:
            style |= ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
            return std::make_unique<CEdit>();
        case ControlKind::DropDownList:
            style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
            return std::make_unique<CComboBox>();
        case ControlKind::RichEdit:
            style |= WS_TABSTOP;
            return std::make_unique<CRichEditCtrl>();
        case ControlKind::ListView:
            style |= WS_TABSTOP;
            return std::make_unique<CListCtrl>();
    }
    return std::make_unique<CWnd>();
}

// MFC's simple scanner: blanks, an optional sign (not for unsigned), digits,
// trailing blanks, nothing else.
bool parseInteger(const CString& text, bool allowSign, long long& out) {
    const std::wstring& s = text.str();
    size_t i = 0;
    while (i < s.size() && (s[i] == L' ' || s[i] == L'\t')) ++i;
    bool neg = false;
    if (i < s.size() && (s[i] == L'-' || s[i] == L'+')) {
        if (!allowSign && s[i] == L'-') return false;
        neg = s[i] == L'-';
        ++i;
    }
    size_t digits = 0;
    long long v = 0;
    while (i < s.size() && s[i] >= L'0' && s[i] <= L'9') {
        v = v * 10 + (s[i] - L'0');
        if (v > 0xFFFFFFFFLL) return false;
        ++i;
        ++digits;
    }
    while (i < s.size() && (s[i] == L' ' || s[i] == L'\t')) ++i;
    if (digits == 0 || i != s.size()) return false;
    out = neg ? -v : v;
    return true;
}

CWnd* itemOf(CDataExchange* dx, int id) {
    if (!dx || dx->failed() || !dx->m_pDlgWnd) return nullptr;
    return dx->m_pDlgWnd->GetDlgItem(id);
}

void failWith(CDataExchange* dx, const wchar_t* message) {
    AfxMessageBox(message, MB_ICONEXCLAMATION | MB_OK);
    dx->Fail();
}
}  // namespace

void registerDialogTemplate(const DialogTemplate* tpl) {
    if (tpl) dialogTemplates()[tpl->id] = tpl;
}

const DialogTemplate* findDialogTemplate(UINT id) {
    auto it = dialogTemplates().find(id);
    return it == dialogTemplates().end() ? nullptr : it->second;
}

void registerMenuTemplate(const MenuTemplate* tpl) {
    if (tpl) menuTemplates()[tpl->id] = tpl;
}

const MenuTemplate* findMenuTemplate(UINT id) {
    auto it = menuTemplates().find(id);
    return it == menuTemplates().end() ? nullptr : it->second;
}

}  // namespace platform

// ---------------------------------------------------------------- DDX

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
    if (control.GetSafeHwnd()) return;
    CWnd* item = platform::itemOf(dx, id);
    if (item) control.takeOverControl(*item);
}

void DDX_Text(CDataExchange* dx, int id, CString& value) {
    CWnd* c = platform::itemOf(dx, id);
    if (!c) return;
    if (dx->m_bSaveAndValidate)
        value = c->GetWindowText();
    else
        c->SetWindowText(value);
}

void DDX_Text(CDataExchange* dx, int id, int& value) {
    CWnd* c = platform::itemOf(dx, id);
    if (!c) return;
    if (dx->m_bSaveAndValidate) {
        long long v = 0;
        if (!platform::parseInteger(c->GetWindowText(), true, v) || v < INT32_MIN || v > INT32_MAX)
            return platform::failWith(dx, L"Please enter an integer.");
        value = static_cast<int>(v);
    } else {
        CString s;
        s.Format(L"%d", value);
        c->SetWindowText(s);
    }
}

void DDX_Text(CDataExchange* dx, int id, UINT& value) {
    CWnd* c = platform::itemOf(dx, id);
    if (!c) return;
    if (dx->m_bSaveAndValidate) {
        long long v = 0;
        if (!platform::parseInteger(c->GetWindowText(), false, v) || v < 0 || v > 0xFFFFFFFFLL)
            return platform::failWith(dx, L"Please enter a positive integer.");
        value = static_cast<UINT>(v);
    } else {
        CString s;
        s.Format(L"%u", value);
        c->SetWindowText(s);
    }
}

void DDX_Text(CDataExchange* dx, int id, BYTE& value) {
    CWnd* c = platform::itemOf(dx, id);
    if (!c) return;
    if (dx->m_bSaveAndValidate) {
        long long v = 0;
        if (!platform::parseInteger(c->GetWindowText(), false, v) || v < 0 || v > 255)
            return platform::failWith(dx, L"Please enter an integer between 0 and 255.");
        value = static_cast<BYTE>(v);
    } else {
        CString s;
        s.Format(L"%u", static_cast<unsigned>(value));
        c->SetWindowText(s);
    }
}

void DDX_Check(CDataExchange* dx, int id, int& value) {
    auto* b = dynamic_cast<CButton*>(platform::itemOf(dx, id));
    if (!b) return;
    if (dx->m_bSaveAndValidate)
        value = b->GetCheck();
    else
        b->SetCheck(value);
}

void DDX_CBIndex(CDataExchange* dx, int id, int& value) {
    auto* cb = dynamic_cast<CComboBox*>(platform::itemOf(dx, id));
    if (!cb) return;
    if (dx->m_bSaveAndValidate)
        value = cb->GetCurSel();
    else
        cb->SetCurSel(value);
}

// ---------------------------------------------------------------- CDialog

CDialog::~CDialog() { DestroyWindow(); }

BOOL CDialog::Create(UINT templateId, CWnd* parent) {
    const platform::DialogTemplate* tpl = platform::findDialogTemplate(templateId);
    if (!tpl) return FALSE;
    return Create(*tpl, parent);
}

BOOL CDialog::Create(const platform::DialogTemplate& tpl, CWnd* parent) {
    if (m_hWnd) return FALSE;
    if (platform::ui::takeCreateFailure()) return FALSE;
    m_pTemplate = &tpl;
    m_templateId = tpl.id;
    m_pParentWnd = parent;
    m_baseX = platform::kDefaultBaseUnitX;
    m_baseY = platform::kDefaultBaseUnitY;
    if (auto* b = platform::uiBackend()) b->dialogBaseUnits(tpl, m_baseX, m_baseY);
    m_style = tpl.style & ~WS_VISIBLE;
    m_visible = false;
    m_enabled = true;
    m_text = tpl.caption ? tpl.caption : L"";
    m_dluRect = CRect(0, 0, tpl.cx, tpl.cy);
    CRect client = m_dluRect;
    MapDialogRect(&client);
    m_rect = client;
    m_hWnd = reinterpret_cast<HWND>(this);

    for (const platform::ControlTemplate& ct : tpl.controls) {
        DWORD style = WS_CHILD | WS_VISIBLE | ct.style;
        std::unique_ptr<CWnd> c = platform::makeControl(ct.kind, style);
        c->m_nID = static_cast<UINT>(ct.id);
        c->m_kind = static_cast<int>(ct.kind);
        c->m_style = style;
        c->m_text = ct.text ? ct.text : L"";
        c->m_enabled = (ct.style & WS_DISABLED) == 0;
        c->m_visible = true;
        c->m_dluRect = CRect(ct.x, ct.y, ct.x + ct.cx, ct.y + ct.cy);
        CRect r = c->m_dluRect;
        MapDialogRect(&r);
        c->m_rect = r;
        c->m_hWnd = reinterpret_cast<HWND>(c.get());
        adoptChild(c.get());
        m_placeholders.push_back(std::move(c));
    }
    if (tpl.menuId) {
        if (const platform::MenuTemplate* mt = platform::findMenuTemplate(tpl.menuId)) {
            m_pMenu = std::make_unique<CMenu>();
            platform::buildMenu(*m_pMenu, mt->items);
            m_pMenu->setOwner(this);
        }
    }
    OnInitDialog();
    if (!m_hWnd) return FALSE;
    if (auto* b = platform::uiBackend()) b->windowCreated(this);
    return TRUE;
}

void CDialog::setBaseUnits(int baseX, int baseY) {
    if (baseX < 1 || baseY < 1) return;
    m_baseX = baseX;
    m_baseY = baseY;
    CRect client = m_dluRect;
    MapDialogRect(&client);
    m_rect = client;
    for (CWnd* c : m_children) {
        CRect r = c->m_dluRect;
        MapDialogRect(&r);
        c->m_rect = r;
    }
}

void CDialog::MapDialogRect(CRect* r) const {
    r->left = platform::mulDiv(r->left, m_baseX, 4);
    r->right = platform::mulDiv(r->right, m_baseX, 4);
    r->top = platform::mulDiv(r->top, m_baseY, 8);
    r->bottom = platform::mulDiv(r->bottom, m_baseY, 8);
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    if (!m_hWnd) return FALSE;
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return dx.failed() ? FALSE : TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::EndDialog(int result) {
    m_endResult = result;
    ShowWindow(SW_HIDE);
}

BOOL CDialog::OnCommand(UINT id, UINT code) {
    if (CWnd::OnCommand(id, code)) return TRUE;
    if (code != BN_CLICKED) return FALSE;
    if (id == static_cast<UINT>(IDOK)) {
        OnOK();
        return TRUE;
    }
    if (id == static_cast<UINT>(IDCANCEL)) {
        OnCancel();
        return TRUE;
    }
    return FALSE;
}
