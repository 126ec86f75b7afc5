#include "platform/listctrl.h"

#include "platform/uibackend.h"

int CHeaderCtrl::GetItemCount() const { return m_pList ? m_pList->columnCount() : 0; }

CListCtrl::~CListCtrl() = default;

int CListCtrl::InsertColumn(int col, const wchar_t* heading, int format, int width, int subItem) {
    if (!m_hWnd) return -1;
    if (col < 0 || col > columnCount()) col = columnCount();
    Column c;
    c.heading = heading ? heading : L"";
    c.format = format;
    c.width = width < 0 ? 0 : width;
    c.subItem = subItem < 0 ? col : subItem;
    m_columns.insert(m_columns.begin() + col, c);
    // The item text stays sub-item 0; later sub-items move one column on.
    size_t at = static_cast<size_t>(col > 0 ? col : 1);
    for (Item& it : m_items) {
        if (it.texts.size() < at) it.texts.resize(at);
        it.texts.insert(it.texts.begin() + static_cast<long>(at), CString());
        if (it.texts.size() > m_columns.size() && it.texts.size() > 1 && it.texts.back().IsEmpty()) it.texts.pop_back();
    }
    changed(platform::kChangeItems);
    return col;
}

BOOL CListCtrl::DeleteColumn(int col) {
    if (col < 0 || col >= columnCount()) return FALSE;
    m_columns.erase(m_columns.begin() + col);
    for (Item& it : m_items)
        if (static_cast<size_t>(col) < it.texts.size()) it.texts.erase(it.texts.begin() + col);
    changed(platform::kChangeItems);
    return TRUE;
}

int CListCtrl::InsertItem(int item, const wchar_t* text) { return InsertItem(LVIF_TEXT, item, text, 0, 0, 0, 0); }

int CListCtrl::InsertItem(int item, const wchar_t* text, int image) {
    return InsertItem(LVIF_TEXT | LVIF_IMAGE, item, text, 0, 0, image, 0);
}

int CListCtrl::InsertItem(UINT mask, int item, const wchar_t* text, UINT state, UINT stateMask, int image,
                          LPARAM param) {
    if (!m_hWnd || item < 0) return -1;
    if (item > GetItemCount()) item = GetItemCount();
    Item it;
    it.texts.resize(m_columns.empty() ? 1 : m_columns.size());
    if ((mask & LVIF_TEXT) && text) it.texts[0] = text;
    if (mask & LVIF_IMAGE) it.image = image;
    if (mask & LVIF_STATE) it.state = state & stateMask;
    if (mask & LVIF_PARAM) it.data = param;
    m_items.insert(m_items.begin() + item, std::move(it));
    if (m_selectionMark >= item) ++m_selectionMark;
    changed(platform::kChangeItems);
    return item;
}

BOOL CListCtrl::SetItemText(int item, int subItem, const wchar_t* text) {
    if (!m_hWnd || item < 0 || item >= GetItemCount() || subItem < 0) return FALSE;
    // A sub-item needs its column (the item text itself always exists).
    if (subItem > 0 && subItem >= columnCount()) return FALSE;
    Item& it = m_items[static_cast<size_t>(item)];
    if (it.texts.size() <= static_cast<size_t>(subItem)) it.texts.resize(static_cast<size_t>(subItem) + 1);
    CString now(text ? text : L"");
    if (it.texts[static_cast<size_t>(subItem)] != now) {
        it.texts[static_cast<size_t>(subItem)] = now;
        changed(platform::kChangeCells);
    }
    return TRUE;
}

CString CListCtrl::GetItemText(int item, int subItem) const {
    if (item < 0 || item >= GetItemCount() || subItem < 0) return CString();
    const Item& it = m_items[static_cast<size_t>(item)];
    return static_cast<size_t>(subItem) < it.texts.size() ? it.texts[static_cast<size_t>(subItem)] : CString();
}

BOOL CListCtrl::DeleteItem(int item) {
    if (item < 0 || item >= GetItemCount()) return FALSE;
    m_items.erase(m_items.begin() + item);
    if (m_selectionMark == item)
        m_selectionMark = -1;
    else if (m_selectionMark > item)
        --m_selectionMark;
    changed(platform::kChangeItems);
    return TRUE;
}

BOOL CListCtrl::DeleteAllItems() {
    if (!m_hWnd) return FALSE;
    if (!m_items.empty()) {
        m_items.clear();
        changed(platform::kChangeItems);
    }
    m_selectionMark = -1;
    return TRUE;
}

BOOL CListCtrl::SetItemState(int item, UINT state, UINT mask) {
    if (item < -1 || item >= GetItemCount()) return FALSE;
    auto apply = [&](Item& it) { it.state = (it.state & ~mask) | (state & mask); };
    if (item == -1)
        for (Item& it : m_items) apply(it);
    else
        apply(m_items[static_cast<size_t>(item)]);
    changed(platform::kChangeSelection);
    return TRUE;
}

UINT CListCtrl::GetItemState(int item, UINT mask) const {
    if (item < 0 || item >= GetItemCount()) return 0;
    return m_items[static_cast<size_t>(item)].state & mask;
}

int CListCtrl::GetNextItem(int start, int flags) const {
    for (int i = start + 1; i < GetItemCount(); ++i) {
        UINT s = m_items[static_cast<size_t>(i)].state;
        if (flags == LVNI_ALL) return i;
        if ((flags & LVNI_SELECTED) && (s & LVIS_SELECTED)) return i;
        if ((flags & LVNI_FOCUSED) && (s & LVIS_FOCUSED)) return i;
    }
    return -1;
}

int CListCtrl::SetSelectionMark(int item) {
    int prev = m_selectionMark;
    m_selectionMark = item;
    return prev;
}

int CListCtrl::itemImage(int item) const {
    if (item < 0 || item >= GetItemCount()) return -1;
    return m_items[static_cast<size_t>(item)].image;
}

DWORD CListCtrl::SetExtendedStyle(DWORD exStyle) {
    DWORD prev = m_exStyle;
    m_exStyle = exStyle;
    if (prev != exStyle) changed(platform::kChangeStyle);
    return prev;
}

CImageList* CListCtrl::SetImageList(CImageList* list, int type) {
    CImageList*& slot = type == LVSIL_SMALL ? m_pImageSmall : m_pImageNormal;
    CImageList* prev = slot;
    slot = list;
    changed(platform::kChangeRedraw);
    return prev;
}

CImageList* CListCtrl::GetImageList(int type) const { return type == LVSIL_SMALL ? m_pImageSmall : m_pImageNormal; }

BOOL CListCtrl::SetBkColor(COLORREF c) {
    m_bkColor = c;
    changed(platform::kChangeRedraw);
    return TRUE;
}

BOOL CListCtrl::SetTextColor(COLORREF c) {
    m_textColor = c;
    changed(platform::kChangeRedraw);
    return TRUE;
}
