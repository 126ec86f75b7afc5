// What a toolkit backend hears from the window layer. Only one backend is
// installed at a time; without one the windows live in memory only (tests
// drive them through platform/uitest.h). All calls come on the UI thread.
#pragma once

#include "platform/wnd.h"

namespace platform {

struct DialogTemplate;

// Bits of UiBackend::changed.
enum UiChange : unsigned {
    kChangeText = 1u << 0,
    kChangeVisible = 1u << 1,
    kChangeEnabled = 1u << 2,
    kChangeItems = 1u << 3,      // combo entries, list rows or columns added or removed
    kChangeSelection = 1u << 4,  // combo selection, list item states
    kChangeCheck = 1u << 5,
    kChangeGeometry = 1u << 6,
    kChangeStyle = 1u << 7,      // window style or list extended style
    kChangeIcon = 1u << 8,
    kChangeMenu = 1u << 9,       // a check mark or enable state of a menu item
    kChangeForeground = 1u << 10,
    kChangeCells = 1u << 11,     // list sub-item texts
    kChangeRedraw = 1u << 12,
};

class UiBackend {
public:
    virtual ~UiBackend() = default;
    // Pixels of 4 horizontal and 8 vertical dialog units for the template's
    // font (Windows' dialog base units). Default: MS Shell Dlg 8 pt at 96 dpi.
    virtual void dialogBaseUnits(const DialogTemplate& tpl, int& baseX, int& baseY);
    // A dialog finished OnInitDialog; its controls are complete.
    virtual void windowCreated(CWnd*) {}
    // A window (top-level or control) is going away; drop every reference.
    virtual void windowDestroyed(CWnd*) {}
    virtual void changed(CWnd*, unsigned /*UiChange bits*/) {}
    virtual void timerSet(CWnd*, UINT_PTR /*id*/, UINT /*periodMs*/) {}
    virtual void timerKilled(CWnd*, UINT_PTR /*id*/) {}
    // depth > 0: the wait cursor shows; 0: it is gone.
    virtual void waitCursor(int /*depth*/) {}
};

// Installs a backend (nullptr: memory only); returns the previous one.
UiBackend* setUiBackend(UiBackend* backend);
UiBackend* uiBackend();

// Dialog base units used when no backend says otherwise.
constexpr int kDefaultBaseUnitX = 6;
constexpr int kDefaultBaseUnitY = 13;

// Windows' MulDiv: a * b / c rounded to the nearest integer.
int mulDiv(int a, int b, int c);

// Current depth of CWaitCursor objects and how often one was made.
int waitCursorDepth();
int waitCursorCount();

}  // namespace platform
