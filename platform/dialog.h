// Dialogs built from templates (controls by id, kind, text and rectangle in
// dialog units), with MFC's dialog data exchange.
#pragma once

#include <vector>

#include "platform/uibackend.h"
#include "platform/wnd.h"

namespace platform {

enum class ControlKind {
    PushButton,
    DefPushButton,
    GroupBox,
    Label,
    Edit,
    DropDownList,
    AutoCheckBox,
    RichEdit,
    ListView,
};

constexpr int IDC_STATIC = -1;

struct ControlTemplate {
    int id;
    ControlKind kind;
    const wchar_t* text;  // nullptr: none
    int x, y, cx, cy;     // dialog units
    DWORD style = 0;      // extra styles: WS_DISABLED, ES_MULTILINE, WS_VSCROLL, LVS_REPORT, WS_BORDER ...
};

struct DialogTemplate {
    UINT id;
    const wchar_t* caption;
    int cx, cy;  // dialog units
    const wchar_t* fontName;
    int fontPointSize;
    UINT menuId;  // 0: none
    DWORD style;
    std::vector<ControlTemplate> controls;
};

struct MenuItemTemplate {
    const wchar_t* text;
    UINT id;  // 0 for a pop-up
    std::vector<MenuItemTemplate> popup;
};

struct MenuTemplate {
    UINT id;
    std::vector<MenuItemTemplate> items;
};

// Resources: templates are registered once by whoever owns them and found by id.
void registerDialogTemplate(const DialogTemplate* tpl);
const DialogTemplate* findDialogTemplate(UINT id);
void registerMenuTemplate(const MenuTemplate* tpl);
const MenuTemplate* findMenuTemplate(UINT id);

}  // namespace platform

class CDataExchange {
public:
    CDataExchange(CWnd* dlg, BOOL save) : m_pDlgWnd(dlg), m_bSaveAndValidate(save) {}
    // Ends the exchange after a value that cannot be stored (MFC throws here).
    void Fail() { m_failed = true; }
    bool failed() const { return m_failed; }

    CWnd* m_pDlgWnd;
    BOOL m_bSaveAndValidate;

private:
    bool m_failed = false;
};

// The exchange functions. A value that cannot be read from its control shows
// MFC's message ("Please enter an integer." ...), leaves the member unchanged
// and stops the exchange; UpdateData then returns FALSE.
void DDX_Control(CDataExchange* dx, int id, CWnd& control);
void DDX_Text(CDataExchange* dx, int id, CString& value);
void DDX_Text(CDataExchange* dx, int id, int& value);
void DDX_Text(CDataExchange* dx, int id, UINT& value);
void DDX_Text(CDataExchange* dx, int id, BYTE& value);
void DDX_Check(CDataExchange* dx, int id, int& value);
void DDX_CBIndex(CDataExchange* dx, int id, int& value);

class CDialog : public CWnd {
public:
    CDialog() = default;
    explicit CDialog(UINT templateId, CWnd* parent = nullptr) : m_templateId(templateId), m_pParentWnd(parent) {}
    ~CDialog() override;
    const char* GetRuntimeClassName() const override { return "CDialog"; }

    // Creates the modeless window from the template: controls, menu, caption;
    // then OnInitDialog. FALSE when the template is unknown or creation fails.
    BOOL Create(UINT templateId, CWnd* parent = nullptr);
    BOOL Create(const platform::DialogTemplate& tpl, CWnd* parent = nullptr);
    const platform::DialogTemplate* dialogTemplate() const { return m_pTemplate; }

    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange*) {}
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    virtual void OnOK();
    virtual void OnCancel();
    // A modeless dialog only hides.
    void EndDialog(int result);
    int endResult() const { return m_endResult; }

    BOOL OnCommand(UINT id, UINT code) override;

    // Dialog units to pixels with this dialog's base units.
    void MapDialogRect(CRect* r) const;
    int baseUnitX() const { return m_baseX; }
    int baseUnitY() const { return m_baseY; }
    // Lays the window and its controls out again from their dialog units: for
    // a backend whose widgets need more room than the font's units give.
    void setBaseUnits(int baseX, int baseY);

protected:
    UINT m_templateId = 0;
    CWnd* m_pParentWnd = nullptr;

private:
    const platform::DialogTemplate* m_pTemplate = nullptr;
    int m_baseX = platform::kDefaultBaseUnitX;
    int m_baseY = platform::kDefaultBaseUnitY;
    int m_endResult = 0;
};

class CDialogEx : public CDialog {
public:
    CDialogEx() = default;
    explicit CDialogEx(UINT templateId, CWnd* parent = nullptr) : CDialog(templateId, parent) {}
    const char* GetRuntimeClassName() const override { return "CDialogEx"; }
};

// Rich edit controls need no set-up here.
inline BOOL AfxInitRichEdit2() { return TRUE; }
