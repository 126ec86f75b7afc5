// The report-view list control (CListCtrl) and MFC's CMFCListCtrl with its
// per-cell colour and font callbacks.
#pragma once

#include <vector>

#include "platform/wnd.h"

// List-view styles.
constexpr DWORD LVS_ICON = 0x0000;
constexpr DWORD LVS_REPORT = 0x0001;
constexpr DWORD LVS_SMALLICON = 0x0002;
constexpr DWORD LVS_LIST = 0x0003;
constexpr DWORD LVS_TYPEMASK = 0x0003;
constexpr DWORD LVS_SINGLESEL = 0x0004;
constexpr DWORD LVS_SHOWSELALWAYS = 0x0008;
constexpr DWORD LVS_ALIGNLEFT = 0x0800;

// Extended list-view styles.
constexpr DWORD LVS_EX_GRIDLINES = 0x00000001;
constexpr DWORD LVS_EX_TRACKSELECT = 0x00000008;
constexpr DWORD LVS_EX_FULLROWSELECT = 0x00000020;
constexpr DWORD LVS_EX_ONECLICKACTIVATE = 0x00000040;
constexpr DWORD LVS_EX_INFOTIP = 0x00000400;
constexpr DWORD LVS_EX_DOUBLEBUFFER = 0x00010000;

constexpr int LVCFMT_LEFT = 0x0000;
constexpr int LVCFMT_RIGHT = 0x0001;
constexpr int LVCFMT_CENTER = 0x0002;

constexpr UINT LVIF_TEXT = 0x0001;
constexpr UINT LVIF_IMAGE = 0x0002;
constexpr UINT LVIF_PARAM = 0x0004;
constexpr UINT LVIF_STATE = 0x0008;

constexpr UINT LVIS_FOCUSED = 0x0001;
constexpr UINT LVIS_SELECTED = 0x0002;

constexpr int LVNI_ALL = 0x0000;
constexpr int LVNI_FOCUSED = 0x0001;
constexpr int LVNI_SELECTED = 0x0002;

constexpr int LVSIL_NORMAL = 0;
constexpr int LVSIL_SMALL = 1;

// List-view notification codes.
constexpr UINT LVN_FIRST = static_cast<UINT>(-100);
constexpr UINT LVN_ITEMCHANGED = LVN_FIRST - 1;
constexpr UINT NM_CLICK = static_cast<UINT>(-2);

struct NMLISTVIEW {
    NMHDR hdr;
    int iItem = -1;
    int iSubItem = 0;
    UINT uNewState = 0;
    UINT uOldState = 0;
    UINT uChanged = 0;
    POINT ptAction;
    LPARAM lParam = 0;
};
using LPNMLISTVIEW = NMLISTVIEW*;

class CListCtrl;

class CHeaderCtrl : public CWnd {
public:
    explicit CHeaderCtrl(CListCtrl* list = nullptr) : m_pList(list) {}
    const char* GetRuntimeClassName() const override { return "CHeaderCtrl"; }
    int GetItemCount() const;

protected:
    CListCtrl* m_pList;
};

class CMFCHeaderCtrl : public CHeaderCtrl {
public:
    using CHeaderCtrl::CHeaderCtrl;
    const char* GetRuntimeClassName() const override { return "CMFCHeaderCtrl"; }
};

class CListCtrl : public CWnd {
public:
    struct Column {
        CString heading;
        int format = LVCFMT_LEFT;
        int width = 0;
        int subItem = 0;
    };
    struct Item {
        std::vector<CString> texts;  // one per column (0 is the item text)
        int image = -1;
        UINT state = 0;
        LPARAM data = 0;
    };

    CListCtrl() = default;
    ~CListCtrl() override;
    const char* GetRuntimeClassName() const override { return "CListCtrl"; }

    int InsertColumn(int col, const wchar_t* heading, int format = LVCFMT_LEFT, int width = -1, int subItem = -1);
    BOOL DeleteColumn(int col);
    int columnCount() const { return static_cast<int>(m_columns.size()); }
    const Column& column(int col) const { return m_columns[static_cast<size_t>(col)]; }

    // Each returns the new item's index, or -1 when the control has no window.
    int InsertItem(int item, const wchar_t* text);
    int InsertItem(int item, const wchar_t* text, int image);
    int InsertItem(UINT mask, int item, const wchar_t* text, UINT state, UINT stateMask, int image, LPARAM param);
    BOOL SetItemText(int item, int subItem, const wchar_t* text);
    CString GetItemText(int item, int subItem) const;
    int GetItemCount() const { return static_cast<int>(m_items.size()); }
    BOOL DeleteItem(int item);
    BOOL DeleteAllItems();
    BOOL SetItemState(int item, UINT state, UINT mask);
    UINT GetItemState(int item, UINT mask) const;
    int GetNextItem(int start, int flags) const;
    int GetSelectionMark() const { return m_selectionMark; }
    int SetSelectionMark(int item);
    int itemImage(int item) const;

    DWORD GetExtendedStyle() const { return m_exStyle; }
    DWORD SetExtendedStyle(DWORD exStyle);
    CImageList* SetImageList(CImageList* list, int type);
    CImageList* GetImageList(int type) const;
    COLORREF GetBkColor() const { return m_bkColor; }
    BOOL SetBkColor(COLORREF c);
    COLORREF GetTextColor() const { return m_textColor; }
    BOOL SetTextColor(COLORREF c);

    // A backend that paints asks for many cells between these two calls (one
    // paint); a control may then prepare once instead of per cell.
    virtual void beginCellQueries() {}
    virtual void endCellQueries() {}
    // The colour and font of a cell as the control draws it; a plain list
    // control draws every cell alike.
    virtual COLORREF cellBkColor(int, int) { return GetBkColor(); }
    virtual COLORREF cellTextColor(int, int) { return GetTextColor(); }

protected:
    std::vector<Column> m_columns;
    std::vector<Item> m_items;
    DWORD m_exStyle = 0;
    CImageList* m_pImageNormal = nullptr;
    CImageList* m_pImageSmall = nullptr;
    COLORREF m_bkColor = 0xFFFFFF;
    COLORREF m_textColor = 0x000000;
    int m_selectionMark = -1;
};

class CMFCListCtrl : public CListCtrl {
public:
    CMFCListCtrl() : m_header(this) {}
    const char* GetRuntimeClassName() const override { return "CMFCListCtrl"; }

    virtual CMFCHeaderCtrl& GetHeaderCtrl() { return m_header; }
    virtual COLORREF OnGetCellTextColor(int, int) { return GetTextColor(); }
    virtual COLORREF OnGetCellBkColor(int, int) { return GetBkColor(); }
    virtual HFONT OnGetCellFont(int, int, DWORD = 0) { return nullptr; }

    COLORREF cellBkColor(int row, int col) override { return OnGetCellBkColor(row, col); }
    COLORREF cellTextColor(int row, int col) override { return OnGetCellTextColor(row, col); }

private:
    CMFCHeaderCtrl m_header;
};
