#include "platform/wnd.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "platform/uibackend.h"

namespace platform {
namespace {
UiBackend* g_backend = nullptr;
int g_waitDepth = 0;
int g_waitCount = 0;
}  // namespace

UiBackend* setUiBackend(UiBackend* backend) {
    UiBackend* prev = g_backend;
    g_backend = backend;
    return prev;
}

UiBackend* uiBackend() { return g_backend; }

void UiBackend::dialogBaseUnits(const DialogTemplate&, int& baseX, int& baseY) {
    baseX = kDefaultBaseUnitX;
    baseY = kDefaultBaseUnitY;
}

int mulDiv(int a, int b, int c) {
    if (c == 0) return -1;
    return static_cast<int>(std::llround(static_cast<double>(a) * b / c));
}

int waitCursorDepth() { return g_waitDepth; }
int waitCursorCount() { return g_waitCount; }

UINT iconResourceId(HICON icon) { return static_cast<UINT>(reinterpret_cast<std::uintptr_t>(icon)); }

}  // namespace platform

HICON AfxLoadIcon(UINT iconId) { return reinterpret_cast<HICON>(static_cast<std::uintptr_t>(iconId)); }

// ---------------------------------------------------------------- CWnd

CWnd::CWnd() = default;

CWnd::~CWnd() {
    if (auto* b = platform::uiBackend(); b && m_hWnd) b->windowDestroyed(this);
    // A control going away leaves its dialog's list of children.
    if (m_pParent) {
        auto& sib = m_pParent->m_children;
        sib.erase(std::remove(sib.begin(), sib.end(), this), sib.end());
    }
    releaseChildren();
}

void CWnd::changed(unsigned what) {
    if (!m_hWnd) return;
    if (auto* b = platform::uiBackend()) b->changed(this, what);
}

CWnd* CWnd::GetDlgItem(int id) const {
    for (CWnd* c : m_children)
        if (static_cast<int>(c->m_nID) == id) return c;
    return nullptr;
}

BOOL CWnd::ShowWindow(int cmd) {
    BOOL was = m_visible;
    bool now = cmd != SW_HIDE;
    if (now != m_visible) {
        m_visible = now;
        changed(platform::kChangeVisible);
    }
    return was;
}

void CWnd::SetWindowText(const CString& text) {
    if (text == m_text) return;
    m_text = text;
    changed(platform::kChangeText);
}

BOOL CWnd::EnableWindow(BOOL enable) {
    BOOL wasDisabled = !m_enabled;
    bool now = enable != FALSE;
    if (now != m_enabled) {
        m_enabled = now;
        changed(platform::kChangeEnabled);
    }
    return wasDisabled;
}

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT) {
    DWORD old = m_style;
    m_style = (m_style & ~remove) | add;
    if (m_style != old) changed(platform::kChangeStyle);
    return TRUE;
}

BOOL CWnd::SetForegroundWindow() {
    changed(platform::kChangeForeground);
    return m_hWnd != nullptr;
}

HICON CWnd::SetIcon(HICON icon, BOOL bigIcon) {
    HICON& slot = bigIcon ? m_bigIcon : m_smallIcon;
    HICON prev = slot;
    slot = icon;
    changed(platform::kChangeIcon);
    return prev;
}

void CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint) {
    m_rect = CRect(x, y, x + width, y + height);
    changed(platform::kChangeGeometry | (repaint ? platform::kChangeRedraw : 0u));
}

void CWnd::userResize(int cx, int cy) {
    m_rect = CRect(m_rect.left, m_rect.top, m_rect.left + cx, m_rect.top + cy);
}

void CWnd::Invalidate(BOOL) { changed(platform::kChangeRedraw); }

BOOL CWnd::RedrawWindow(const CRect*, void*, UINT) {
    changed(platform::kChangeRedraw);
    return m_hWnd != nullptr;
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapseMs, void*) {
    if (!m_hWnd) return 0;
    m_timers[id] = elapseMs;
    if (auto* b = platform::uiBackend()) b->timerSet(this, id, elapseMs);
    return id;
}

BOOL CWnd::KillTimer(UINT_PTR id) {
    auto it = m_timers.find(id);
    if (it == m_timers.end()) return FALSE;
    m_timers.erase(it);
    if (auto* b = platform::uiBackend()) b->timerKilled(this, id);
    return TRUE;
}

UINT CWnd::timerPeriod(UINT_PTR id) const {
    auto it = m_timers.find(id);
    return it == m_timers.end() ? 0 : it->second;
}

BOOL CWnd::DestroyWindow() {
    if (!m_hWnd) return FALSE;
    while (!m_timers.empty()) KillTimer(m_timers.begin()->first);
    if (auto* b = platform::uiBackend()) b->windowDestroyed(this);
    releaseChildren();
    m_visible = false;
    m_hWnd = nullptr;
    return TRUE;
}

BOOL CWnd::OnCommand(UINT id, UINT code) {
    auto it = m_commands.find({id, code});
    if (it == m_commands.end()) return FALSE;
    auto fn = it->second;  // the handler may register or remove entries
    fn();
    return TRUE;
}

BOOL CWnd::OnNotify(UINT id, NMHDR* header, LRESULT* result) {
    auto it = m_notifies.find({id, header ? header->code : 0});
    if (it == m_notifies.end()) return FALSE;
    auto fn = it->second;
    fn(header, result);
    return TRUE;
}

void CWnd::onCommand(UINT id, UINT code, std::function<void()> fn) { m_commands[{id, code}] = std::move(fn); }

void CWnd::onNotify(UINT id, UINT code, std::function<void(NMHDR*, LRESULT*)> fn) {
    m_notifies[{id, code}] = std::move(fn);
}

void CWnd::adoptChild(CWnd* child) {
    child->m_pParent = this;
    m_children.push_back(child);
}

void CWnd::releaseChildren() {
    auto* b = platform::uiBackend();
    for (CWnd* c : m_children) {
        if (b && c->m_hWnd) b->windowDestroyed(c);
        c->m_pParent = nullptr;
        c->m_hWnd = nullptr;
        c->m_visible = false;
    }
    m_children.clear();
    m_placeholders.clear();
}

void CWnd::takeOverControl(CWnd& from) {
    if (&from == this) return;
    m_nID = from.m_nID;
    m_visible = from.m_visible;
    m_enabled = from.m_enabled;
    m_style = from.m_style;
    m_text = from.m_text;
    m_rect = from.m_rect;
    m_dluRect = from.m_dluRect;
    m_kind = from.m_kind;
    m_hWnd = reinterpret_cast<HWND>(this);
    CWnd* parent = from.m_pParent;
    if (parent) {
        auto& sib = parent->m_children;
        auto it = std::find(sib.begin(), sib.end(), &from);
        if (it != sib.end()) *it = this;
        m_pParent = parent;
        from.m_pParent = nullptr;
        from.m_hWnd = nullptr;
        auto& ph = parent->m_placeholders;
        ph.erase(std::remove_if(ph.begin(), ph.end(), [&](const std::unique_ptr<CWnd>& p) { return p.get() == &from; }),
                 ph.end());
    }
}

// ---------------------------------------------------------------- CMenu

UINT CMenu::GetMenuItemID(int pos) const {
    if (pos < 0 || pos >= GetMenuItemCount()) return 0;
    const Item& it = m_items[static_cast<size_t>(pos)];
    return it.popup ? static_cast<UINT>(-1) : it.id;
}

CMenu* CMenu::GetSubMenu(int pos) const {
    if (pos < 0 || pos >= GetMenuItemCount()) return nullptr;
    return m_items[static_cast<size_t>(pos)].popup.get();
}

const CMenu::Item* CMenu::find(UINT item, UINT flags) const {
    if (flags & MF_BYPOSITION) {
        if (item >= m_items.size()) return nullptr;
        return &m_items[item];
    }
    for (const Item& it : m_items) {
        if (!it.popup && it.id == item) return &it;
        if (it.popup)
            if (const Item* sub = it.popup->find(item, flags)) return sub;
    }
    return nullptr;
}

CMenu::Item* CMenu::find(UINT item, UINT flags) {
    return const_cast<Item*>(static_cast<const CMenu*>(this)->find(item, flags));
}

int CMenu::GetMenuString(UINT item, CString& out, UINT flags) const {
    const Item* it = find(item, flags);
    out = it ? it->text : CString();
    return out.GetLength();
}

UINT CMenu::CheckMenuItem(UINT item, UINT check) {
    Item* it = find(item, check & MF_BYPOSITION);
    if (!it) return static_cast<UINT>(-1);
    UINT prev = it->checked ? MF_CHECKED : MF_UNCHECKED;
    bool now = (check & MF_CHECKED) != 0;
    if (now != it->checked) {
        it->checked = now;
        if (m_owner && m_owner->GetSafeHwnd())
            if (auto* b = platform::uiBackend()) b->changed(m_owner, platform::kChangeMenu);
    }
    return prev;
}

UINT CMenu::EnableMenuItem(UINT item, UINT enable) {
    Item* it = find(item, enable & MF_BYPOSITION);
    if (!it) return static_cast<UINT>(-1);
    UINT prev = it->grayed ? MF_GRAYED : MF_ENABLED;
    it->grayed = (enable & MF_GRAYED) != 0;
    if (m_owner && m_owner->GetSafeHwnd())
        if (auto* b = platform::uiBackend()) b->changed(m_owner, platform::kChangeMenu);
    return prev;
}

UINT CMenu::GetMenuState(UINT item, UINT flags) const {
    const Item* it = find(item, flags);
    if (!it) return static_cast<UINT>(-1);
    return (it->checked ? MF_CHECKED : 0u) | (it->grayed ? MF_GRAYED : 0u) | (it->popup ? MF_POPUP : 0u);
}

CMenu::Item& CMenu::append(UINT id, const CString& text) {
    m_items.push_back(Item{id, text, false, false, nullptr});
    return m_items.back();
}

CMenu& CMenu::appendPopup(const CString& text) {
    Item it;
    it.text = text;
    it.popup = std::make_unique<CMenu>();
    it.popup->m_owner = m_owner;
    m_items.push_back(std::move(it));
    return *m_items.back().popup;
}

void CMenu::setOwner(CWnd* w) {
    m_owner = w;
    for (Item& it : m_items)
        if (it.popup) it.popup->setOwner(w);
}

// ---------------------------------------------------------------- CImageList

BOOL CImageList::Create(int cx, int cy, UINT flags, int initial, int) {
    if (cx <= 0 || cy <= 0 || initial < 0) return FALSE;
    m_cx = cx;
    m_cy = cy;
    m_flags = flags;
    m_icons.clear();
    m_hImageList = this;
    return TRUE;
}

int CImageList::Add(HICON icon) {
    if (!m_hImageList) return -1;
    m_icons.push_back(icon);
    return GetImageCount() - 1;
}

BOOL CImageList::DeleteImageList() {
    if (!m_hImageList) return FALSE;
    m_icons.clear();
    m_hImageList = nullptr;
    return TRUE;
}

// ---------------------------------------------------------------- CWaitCursor

CWaitCursor::CWaitCursor() {
    ++platform::g_waitDepth;
    ++platform::g_waitCount;
    if (auto* b = platform::uiBackend()) b->waitCursor(platform::g_waitDepth);
}

CWaitCursor::~CWaitCursor() {
    --platform::g_waitDepth;
    if (auto* b = platform::uiBackend()) b->waitCursor(platform::g_waitDepth);
}
