// The window base of the toolkit-neutral stand-ins for MFC: every window and
// control keeps its own state here (text, visibility, style, rectangle in
// pixels, timers, handlers). A backend (platform/uibackend.h) may show that
// state as real windows and feed user actions back through platform/uitest.h
// style entry points; without one everything lives in memory only.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "platform/afxstr.h"

struct HWND__;
using HWND = HWND__*;
struct HICON__;
using HICON = HICON__*;
struct HFONT__;
using HFONT = HFONT__*;

// ShowWindow commands.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_NORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_SHOWNA = 8;
constexpr int SW_RESTORE = 9;

// Window styles.
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD WS_HSCROLL = 0x00100000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_THICKFRAME = 0x00040000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;

// Notification codes of WM_COMMAND.
constexpr UINT BN_CLICKED = 0;
constexpr UINT CBN_SELCHANGE = 1;
constexpr UINT EN_CHANGE = 0x0300;

// WM_SIZE types.
constexpr UINT SIZE_RESTORED = 0;
constexpr UINT SIZE_MINIMIZED = 1;
constexpr UINT SIZE_MAXIMIZED = 2;

// RedrawWindow flags.
constexpr UINT RDW_INVALIDATE = 0x0001;
constexpr UINT RDW_ERASE = 0x0004;
constexpr UINT RDW_NOERASE = 0x0020;
constexpr UINT RDW_UPDATENOW = 0x0100;

// Menu flags.
constexpr UINT MF_BYCOMMAND = 0x0000;
constexpr UINT MF_UNCHECKED = 0x0000;
constexpr UINT MF_ENABLED = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_CHECKED = 0x0008;
constexpr UINT MF_POPUP = 0x0010;
constexpr UINT MF_BYPOSITION = 0x0400;

struct POINT {
    LONG x = 0;
    LONG y = 0;
};

struct NMHDR {
    HWND hwndFrom = nullptr;
    UINT_PTR idFrom = 0;
    UINT code = 0;
};

class CRect {
public:
    CRect() = default;
    CRect(int l, int t, int r, int b) : left(l), top(t), right(r), bottom(b) {}
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const CRect& o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
    bool operator!=(const CRect& o) const { return !(*this == o); }

    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

class CMenu;

// Icons are resource ids carried in a handle.
HICON AfxLoadIcon(UINT iconId);
namespace platform {
UINT iconResourceId(HICON icon);
}

// MFC's run-time class name, enough for diagnostics and backends.
#define DECLARE_DYNAMIC(cls) \
public:                      \
    const char* GetRuntimeClassName() const override { return #cls; }

class CWnd {
public:
    CWnd();
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    virtual const char* GetRuntimeClassName() const { return "CWnd"; }

    // ---- identity
    HWND GetSafeHwnd() const { return m_hWnd; }
    UINT GetDlgCtrlID() const { return m_nID; }
    CWnd* GetParent() const { return m_pParent; }
    // The child control with that id (the first one when several share it).
    CWnd* GetDlgItem(int id) const;
    const std::vector<CWnd*>& children() const { return m_children; }

    // ---- state
    virtual BOOL ShowWindow(int cmd);
    BOOL IsWindowVisible() const { return m_visible; }
    void SetWindowText(const CString& text);
    void SetWindowText(const wchar_t* text) { SetWindowText(CString(text)); }
    CString GetWindowText() const { return m_text; }
    void GetWindowText(CString& out) const { out = m_text; }
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const { return m_enabled; }
    DWORD GetStyle() const { return m_style; }
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
    BOOL SetForegroundWindow();
    HICON SetIcon(HICON icon, BOOL bigIcon);
    HICON GetIcon(BOOL bigIcon) const { return bigIcon ? m_bigIcon : m_smallIcon; }
    CMenu* GetMenu() const { return m_pMenu.get(); }

    // ---- geometry, in pixels. A child's window rectangle is kept in its
    // parent's client coordinates (ScreenToClient is therefore the identity).
    void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
    void MoveWindow(const CRect& r, BOOL repaint = TRUE) { MoveWindow(r.left, r.top, r.Width(), r.Height(), repaint); }
    void GetWindowRect(CRect* r) const { *r = m_rect; }
    void GetClientRect(CRect* r) const { *r = CRect(0, 0, m_rect.Width(), m_rect.Height()); }
    void ScreenToClient(CRect*) const {}
    void Invalidate(BOOL erase = TRUE);
    BOOL RedrawWindow(const CRect* rect = nullptr, void* region = nullptr,
                      UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);

    // ---- timers: the backend runs them and calls OnTimer.
    UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs, void* proc = nullptr);
    BOOL KillTimer(UINT_PTR id);
    bool hasTimer(UINT_PTR id) const { return m_timers.count(id) != 0; }
    UINT timerPeriod(UINT_PTR id) const;

    BOOL DestroyWindow();

    // ---- message handlers a window may override
    virtual void OnTimer(UINT_PTR) {}
    virtual void OnSize(UINT, int, int) {}
    virtual void OnInitMenuPopup(CMenu*, UINT, BOOL) {}
    // A WM_COMMAND: menu command (code 0) or control notification.
    virtual BOOL OnCommand(UINT id, UINT code);
    // A WM_NOTIFY from a child control.
    virtual BOOL OnNotify(UINT id, NMHDR* header, LRESULT* result);

    // ---- for the layer and its backends
    // Makes this object the window of a control described by `from` (a
    // placeholder made from the dialog template); used by DDX_Control.
    void takeOverControl(CWnd& from);
    // Changes what the user changed, without telling the backend back.
    void userSetText(const CString& text) { m_text = text; }
    void userResize(int cx, int cy);
    CRect dialogUnitRect() const { return m_dluRect; }
    int templateKind() const { return m_kind; }

    HWND m_hWnd = nullptr;

protected:
    // Registers the handler of a command or notification (a message map entry).
    void onCommand(UINT id, UINT code, std::function<void()> fn);
    void onNotify(UINT id, UINT code, std::function<void(NMHDR*, LRESULT*)> fn);
    // Tells the backend that something of this window changed.
    void changed(unsigned what);
    void adoptChild(CWnd* child);
    void releaseChildren();
    void setRectInternal(const CRect& r) { m_rect = r; }

    friend class CDialog;

    UINT m_nID = 0;
    CWnd* m_pParent = nullptr;
    std::vector<CWnd*> m_children;                 // not owned (owned by m_placeholders or members)
    std::vector<std::unique_ptr<CWnd>> m_placeholders;  // controls without a member object
    bool m_visible = false;
    bool m_enabled = true;
    DWORD m_style = 0;
    CString m_text;
    CRect m_rect;
    CRect m_dluRect;
    int m_kind = -1;  // platform::ControlKind of a template control
    HICON m_bigIcon = nullptr;
    HICON m_smallIcon = nullptr;
    std::unique_ptr<CMenu> m_pMenu;
    std::map<UINT_PTR, UINT> m_timers;
    std::map<std::pair<UINT, UINT>, std::function<void()>> m_commands;
    std::map<std::pair<UINT, UINT>, std::function<void(NMHDR*, LRESULT*)>> m_notifies;
};

// Message-map style registration, used inside a member function of the window.
#define ON_BN_CLICKED(id, fn) onCommand((id), BN_CLICKED, [this] { (this->*(fn))(); })
#define ON_CBN_SELCHANGE(id, fn) onCommand((id), CBN_SELCHANGE, [this] { (this->*(fn))(); })
#define ON_EN_CHANGE(id, fn) onCommand((id), EN_CHANGE, [this] { (this->*(fn))(); })
#define ON_COMMAND(id, fn) onCommand((id), 0, [this] { (this->*(fn))(); })
#define ON_NOTIFY(code, id, fn) \
    onNotify((id), (code), [this](NMHDR* h, LRESULT* r) { (this->*(fn))(h, r); })

// A window menu (or pop-up) with command items that can carry a check mark.
class CMenu {
public:
    struct Item {
        UINT id = 0;  // 0 for a pop-up
        CString text;
        bool checked = false;
        bool grayed = false;
        std::unique_ptr<CMenu> popup;
    };

    int GetMenuItemCount() const { return static_cast<int>(m_items.size()); }
    UINT GetMenuItemID(int pos) const;
    CMenu* GetSubMenu(int pos) const;
    int GetMenuString(UINT item, CString& out, UINT flags) const;
    // Returns the previous state (MF_CHECKED or MF_UNCHECKED), or (UINT)-1.
    UINT CheckMenuItem(UINT item, UINT check);
    UINT EnableMenuItem(UINT item, UINT enable);
    UINT GetMenuState(UINT item, UINT flags) const;

    Item& append(UINT id, const CString& text);
    CMenu& appendPopup(const CString& text);
    const std::vector<Item>& items() const { return m_items; }
    // The window whose menu this is (set on the top menu and its pop-ups).
    CWnd* owner() const { return m_owner; }
    void setOwner(CWnd* w);

private:
    Item* find(UINT item, UINT flags);
    const Item* find(UINT item, UINT flags) const;
    std::vector<Item> m_items;
    CWnd* m_owner = nullptr;
};

// Image lists only remember their size and the icons added.
constexpr UINT ILC_COLOR16 = 0x0010;
constexpr UINT ILC_COLOR32 = 0x0020;
constexpr UINT ILC_MASK = 0x0001;

class CImageList {
public:
    BOOL Create(int cx, int cy, UINT flags, int initial, int grow);
    int Add(HICON icon);
    int GetImageCount() const { return static_cast<int>(m_icons.size()); }
    BOOL DeleteImageList();
    int width() const { return m_cx; }
    int height() const { return m_cy; }
    HICON icon(int i) const { return (i >= 0 && i < GetImageCount()) ? m_icons[static_cast<size_t>(i)] : nullptr; }
    void* m_hImageList = nullptr;

private:
    int m_cx = 0;
    int m_cy = 0;
    UINT m_flags = 0;
    std::vector<HICON> m_icons;
};

// Shows the wait cursor for its lifetime.
class CWaitCursor {
public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};
