#include "platform/controls.h"

#include "platform/uibackend.h"

void CButton::SetCheck(int check) {
    if (check == m_check) return;
    m_check = check;
    changed(platform::kChangeCheck);
}

int CRichEditCtrl::GetLineCount() const {
    int n = 1;
    for (wchar_t c : m_text.str())
        if (c == L'\n') ++n;
    return n;
}

void CComboBox::ResetContent() {
    m_items.clear();
    m_sel = CB_ERR;
    changed(platform::kChangeItems | platform::kChangeSelection);
}

int CComboBox::AddString(const CString& s) {
    m_items.push_back(s);
    changed(platform::kChangeItems);
    return GetCount() - 1;
}

int CComboBox::InsertString(int index, const CString& s) {
    if (index < 0 || index > GetCount()) index = GetCount();
    m_items.insert(m_items.begin() + index, s);
    if (m_sel >= index) ++m_sel;
    changed(platform::kChangeItems);
    return index;
}

int CComboBox::DeleteString(int index) {
    if (index < 0 || index >= GetCount()) return CB_ERR;
    m_items.erase(m_items.begin() + index);
    if (m_sel == index)
        m_sel = CB_ERR;
    else if (m_sel > index)
        --m_sel;
    changed(platform::kChangeItems | platform::kChangeSelection);
    return GetCount();
}

int CComboBox::SetCurSel(int i) {
    int now = (i >= 0 && i < GetCount()) ? i : CB_ERR;
    if (now != m_sel) {
        m_sel = now;
        changed(platform::kChangeSelection);
    }
    return now;
}

int CComboBox::FindStringExact(int start, const CString& s) const {
    int n = GetCount();
    for (int k = 0; k < n; ++k) {
        int i = (start + 1 + k) % n;
        if (start < 0) i = k;
        if (m_items[static_cast<size_t>(i)].CompareNoCase(s) == 0) return i;
    }
    return CB_ERR;
}
