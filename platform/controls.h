// Toolkit-neutral stand-ins for the MFC windows and controls. The state of
// every control lives here; a backend (in-memory for tests, Qt in gui/) may
// attach to show it and to feed user actions back (platform/uibackend.h,
// platform/uitest.h).
#pragma once

#include <string>
#include <vector>

#include "platform/afxstr.h"
#include "platform/wnd.h"

constexpr int CB_ERR = -1;
constexpr int BST_UNCHECKED = 0;
constexpr int BST_CHECKED = 1;

// Button styles.
constexpr DWORD BS_PUSHBUTTON = 0x0;
constexpr DWORD BS_DEFPUSHBUTTON = 0x1;
constexpr DWORD BS_AUTOCHECKBOX = 0x3;
constexpr DWORD BS_GROUPBOX = 0x7;
constexpr DWORD BS_TYPEMASK = 0xF;

// Edit styles.
constexpr DWORD ES_MULTILINE = 0x0004;
constexpr DWORD ES_AUTOVSCROLL = 0x0040;
constexpr DWORD ES_AUTOHSCROLL = 0x0080;
constexpr DWORD ES_READONLY = 0x0800;
constexpr DWORD ES_WANTRETURN = 0x1000;

// Combo-box styles.
constexpr DWORD CBS_DROPDOWNLIST = 0x0003;

class CButton : public CWnd {
public:
    const char* GetRuntimeClassName() const override { return "CButton"; }
    int GetCheck() const { return m_check; }
    void SetCheck(int check);
    UINT GetButtonStyle() const { return m_style & BS_TYPEMASK; }

private:
    int m_check = BST_UNCHECKED;
};

class CEdit : public CWnd {
public:
    const char* GetRuntimeClassName() const override { return "CEdit"; }
};

class CStatic : public CWnd {
public:
    const char* GetRuntimeClassName() const override { return "CStatic"; }
};

class CRichEditCtrl : public CWnd {
public:
    const char* GetRuntimeClassName() const override { return "CRichEditCtrl"; }
    int GetLineCount() const;
};

class CComboBox : public CWnd {
public:
    const char* GetRuntimeClassName() const override { return "CComboBox"; }
    void ResetContent();
    int AddString(const CString& s);
    int InsertString(int index, const CString& s);
    int DeleteString(int index);
    int GetCount() const { return static_cast<int>(m_items.size()); }
    int GetCurSel() const { return m_sel; }
    // Selects entry i; an index outside the entries clears the selection.
    int SetCurSel(int i);
    void GetLBText(int i, CString& out) const { out = itemText(i); }
    int FindStringExact(int start, const CString& s) const;
    CString itemText(int i) const { return (i >= 0 && i < GetCount()) ? m_items[static_cast<size_t>(i)] : CString(); }
    const std::vector<CString>& items() const { return m_items; }

protected:
    std::vector<CString> m_items;
    int m_sel = CB_ERR;
};

#include "platform/dialog.h"
#include "platform/listctrl.h"
