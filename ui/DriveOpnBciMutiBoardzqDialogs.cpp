// The driver's dialog operations: each setup dialog is made on first use and
// kept until the driver's clean-up, which is here too, beside the dialogs' types.
#include <new>

#include "driver/DriveOpnBciMutiBoardzq.h"
#include "platform/msgbox.h"
#include "ui/DlgSetupMultiBoardBleCom.h"
#include "ui/DlgSetupMultiBoardEeg.h"

int CDriveOpnBciMutiBoardzq::showDlgSetupMultiBoardBleCom(CHdwrConfigzq* cfg, CMeAcqDatazq* data) {
    if (cfg) setConfigUser(cfg);
    if (data) m_pData = data;
    getConfigComRadio(1);
    if (!m_pDlgBleCom) {
        AfxInitRichEdit2();
        auto* dlg = new (std::nothrow) CDlgSetupMultiBoardBleCom;
        if (!dlg) return 0;
        dlg->m_pDriver = this;
        if (!dlg->createWindow()) {
            delete dlg;
            return 0;
        }
        m_pDlgBleCom = dlg;
    }
    m_pDlgBleCom->m_pDriver = this;
    m_pDlgBleCom->ShowWindow(SW_SHOWNORMAL);
    m_pDlgBleCom->showSelectedDongle();
    return 1;
}

int CDriveOpnBciMutiBoardzq::showDlgSetupMultiBoardEeg(CHdwrConfigzq* cfg, CMeAcqDatazq* data) {
    if (cfg) setConfigUser(cfg);
    if (data) m_pData = data;
    // A new layout needs a new device, and dialogs that show it afresh.
    if (cfg && m_pDevice && m_pDevice->m_linkType != cfg->m_linkType) cleanDevice();
    getDevice(1);
    if (m_pConfigUser) showDlgSetupMultiBoardBleCom(cfg, data);

    if (!m_pDlgEeg) {
        auto* dlg = new (std::nothrow) CDlgSetupMultiBoardEeg;
        if (!dlg) return 0;
        dlg->m_pDriver = this;
        if (!dlg->createWindow()) {
            delete dlg;
            return 0;
        }
        m_pDlgEeg = dlg;
    }
    CDlgSetupMultiBoardEeg* dlg = m_pDlgEeg;
    dlg->m_pDriver = this;
    dlg->m_listElectrode.m_pDriver = this;
    dlg->ShowWindow(SW_SHOWNORMAL);

    auto finish = [dlg] {
        dlg->SetForegroundWindow();
        ++dlg->m_showCount;
        return 1;
    };
    if (dlg->m_showCount > 0) return finish();

    dlg->buildTitle();
    if (!dlg->m_listElectrode.DeleteAllItems()) AfxMessageBox(L"Clean all items error");
    if (!dlg->m_listElectrode.m_pDriver) return finish();

    CDeviceEegObBleComzq* device = dlg->refreshGeometry();
    if (device && device->m_pCurChnList) {
        ChnGeomList records = *device->m_pCurChnList;
        for (std::uint32_t i = 0; i < records.Size(); ++i) {
            CAcqChnlGeomzq* record = records[i];
            if (!record || record->m_hdwrParamKind != OPENBCIPARAM_BLOCK_KIND || !record->getHdwrParam()) continue;
            auto* settings = static_cast<OPENBCIPARAMV1*>(record->getHdwrParam());
            if (!dlg->m_listElectrode.insertChannelRow(static_cast<int>(i), record, settings)) return finish();
        }
        dlg->m_listElectrode.SetExtendedStyle(LVS_EX_TRACKSELECT | LVS_EX_ONECLICKACTIVATE);
    }
    return finish();
}

int CDriveOpnBciMutiBoard::cleanDlg() {
    delete m_pDlgEeg;
    m_pDlgEeg = nullptr;
    delete m_pDlgBleCom;
    m_pDlgBleCom = nullptr;
    return 1;
}

int CDriveOpnBciMutiBoard::hideDlg() {
    if (m_pDlgBleCom && m_pDlgBleCom->IsWindowVisible()) m_pDlgBleCom->ShowWindow(SW_HIDE);
    if (m_pDlgEeg && m_pDlgEeg->IsWindowVisible()) m_pDlgEeg->ShowWindow(SW_HIDE);
    return 1;
}

int CDriveOpnBciMutiBoard::setDlgComBleMsg(CStringA text) {
    if (!m_pDlgBleCom || !m_pDlgBleCom->IsWindowVisible()) return 0;
    m_pDlgBleCom->UpdateData(TRUE);
    m_pDlgBleCom->m_msgText += L"\n";
    m_pDlgBleCom->m_msgText += CDlgSetupMultiBoardBleCom::inWords(text);
    m_pDlgBleCom->UpdateData(FALSE);
    return 1;
}
