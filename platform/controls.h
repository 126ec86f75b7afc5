// Toolkit-neutral stand-ins for the MFC windows and controls. The state of
// every control lives here; a backend (in-memory for tests, Qt in gui/) may
// attach to show it and to feed user actions back.
#pragma once

#include <string>
#include <vector>

#include "platform/afxstr.h"

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;
constexpr int CB_ERR = -1;

class CWnd {
public:
    virtual ~CWnd() = default;
    virtual BOOL ShowWindow(int cmd) {
        BOOL was = m_visible;
        m_visible = cmd != SW_HIDE;
        return was;
    }
    BOOL IsWindowVisible() const { return m_visible; }
    virtual void SetWindowText(const CString& text) { m_text = text; }
    CString GetWindowText() const { return m_text; }
    BOOL EnableWindow(BOOL enable = TRUE) {
        BOOL was = !m_enabled;
        m_enabled = enable;
        return was;
    }
    BOOL IsWindowEnabled() const { return m_enabled; }

protected:
    bool m_visible = false;
    bool m_enabled = true;
    CString m_text;
};

class CDialog : public CWnd {};
class CDialogEx : public CDialog {};

class CComboBox : public CWnd {
public:
    void ResetContent() {
        m_items.clear();
        m_sel = CB_ERR;
    }
    int AddString(const CString& s) {
        m_items.push_back(s);
        return static_cast<int>(m_items.size()) - 1;
    }
    int InsertString(int index, const CString& s) {
        if (index < 0 || index > GetCount()) index = GetCount();
        m_items.insert(m_items.begin() + index, s);
        return index;
    }
    int GetCount() const { return static_cast<int>(m_items.size()); }
    int GetCurSel() const { return m_sel; }
    int SetCurSel(int i) {
        m_sel = (i >= 0 && i < GetCount()) ? i : CB_ERR;
        return i >= 0 && i < GetCount() ? i : CB_ERR;
    }
    void GetLBText(int i, CString& out) const { out = (i >= 0 && i < GetCount()) ? m_items[static_cast<size_t>(i)] : CString(); }
    CString itemText(int i) const { return (i >= 0 && i < GetCount()) ? m_items[static_cast<size_t>(i)] : CString(); }

protected:
    std::vector<CString> m_items;
    int m_sel = CB_ERR;
};
