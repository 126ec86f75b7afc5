// UI tests: the real driver and its dialogs on simulated boards, on virtual time.
#pragma once

#include <initializer_list>
#include <memory>
#include <ostream>
#include <vector>

#include "driver/DriveOpnBciMutiBoardzq.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "platform/uitest.h"
#include "sim/SimRig.h"
#include "ui/DlgSetupMultiBoardBleCom.h"
#include "ui/DlgSetupMultiBoardEeg.h"

namespace uitest {

struct UiRig {
    // boards == 0: no dongle is plugged in.
    explicit UiRig(int boards, DEVICE_LINK_TYPE linkType = LINK_TYPE_CYTON8);
    ~UiRig();
    UiRig(const UiRig&) = delete;
    UiRig& operator=(const UiRig&) = delete;

    // The host's road: search and connect, which shows the EEG dialog (and the
    // connection dialog with it).
    int connect();
    CDlgSetupMultiBoardBleCom& bleDlg() const { return *driver->m_pDlgBleCom; }
    CDlgSetupMultiBoardEeg& eegDlg() const { return *driver->m_pDlgEeg; }
    bool sawMessage(const wchar_t* text) const;

    platform::ScopedVirtualClock clock;
    platform::ScriptedMessageBoxes boxes;
    std::unique_ptr<sim::SimRig> rig;
    CHdwrConfigzq cfg;
    CMeAcqDatazq data;
    std::unique_ptr<CDriveOpnBciMutiBoardzq> driver;
};

// The texts of several controls at once, for one comparison.
inline std::vector<CString> texts(const CWnd& dlg, std::initializer_list<int> ids) {
    std::vector<CString> v;
    for (int id : ids) v.push_back(platform::ui::text(dlg, id));
    return v;
}

}  // namespace uitest

// Readable CString values in test failures.
template <class C>
void PrintTo(const CStringT<C>& s, std::ostream* os) {
    *os << '"' << platform::narrow(std::wstring(CString(s).str())) << '"';
}
