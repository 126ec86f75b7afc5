#include "ui/ListMultiBoardElectrode.h"

#include <new>

#include "driver/DriveOpnBciMutiBoard.h"
#include "ui/DialogTemplates.h"

namespace {
constexpr int kGainValues[7] = {1, 2, 4, 6, 8, 12, 24};

struct ColumnDef {
    const wchar_t* heading;
};
constexpr ColumnDef kColumns[11] = {
    {L"Name"},         {L"Pin"},        {L"Power Down"}, {L"Gain"},    {L"Input Type"}, {L"Include Bias"},
    {L"Input2SRB2"},   {L"AllNs2SRB1"}, {L"Latency"},    {L"Read Out"}, {L"Notes"},
};

OPENBCIPARAMV1* paramOf(CAcqChnlGeomzq* record) {
    if (!record || record->m_hdwrParamKind != OPENBCIPARAM_BLOCK_KIND) return nullptr;
    return static_cast<OPENBCIPARAMV1*>(record->getHdwrParam());
}
}  // namespace

CListMultiBoardElectrode::~CListMultiBoardElectrode() {
    delete m_pImageLarge;
    delete m_pImageSmall;
}

CString CListMultiBoardElectrode::powerDownText(const OPENBCIPARAMV1& p) { return p.powerDown ? L"Down" : L"Power"; }

// The record holds a gain value (1 ... 24); a value outside the amplifier's
// gains is shown as unknown.
CString CListMultiBoardElectrode::gainText(const OPENBCIPARAMV1& p) {
    for (int g : kGainValues) {
        if (g == p.gain) {
            CString s;
            s.Format(L"%d", g);
            return s;
        }
    }
    return L"Gain?";
}

CString CListMultiBoardElectrode::biasText(const OPENBCIPARAMV1& p) {
    return p.includeBias ? L"Within BIAS" : L"Out BIAS";
}

CString CListMultiBoardElectrode::srb2Text(const OPENBCIPARAMV1& p) { return p.srb2 ? L"To SRB2" : L"No"; }

CString CListMultiBoardElectrode::srb1Text(const OPENBCIPARAMV1& p) { return p.srb1 ? L"All NSns to SRB1" : L"No"; }

CString CListMultiBoardElectrode::latencyText(const OPENBCIPARAMV1& p) {
    CString s;
    s.Format(L"%f", p.latency);
    return s;
}

void CListMultiBoardElectrode::rememberSettings(int position, const OPENBCIPARAMV1& settings) {
    if (!m_pDriver || !m_pDriver->m_pDevice || !m_pDriver->m_pDevice->m_pCurChnList) return;
    const CDeviceEegObBleComzq* device = m_pDriver->m_pDevice;
    if (device->m_pCurChnList->Size() != m_keptListSize || device->m_linkType != m_keptLinkType) {
        m_kept.clear();
        m_keptListSize = device->m_pCurChnList->Size();
        m_keptLinkType = device->m_linkType;
    }
    m_kept[position] = settings;
}

void CListMultiBoardElectrode::forgetSettings() {
    m_kept.clear();
    m_keptListSize = 0;
}

ChnGeomList* CListMultiBoardElectrode::restoreSettings(CDriveOpnBciMutiBoard* driver) {
    if (!driver || !driver->m_pDevice) return nullptr;
    ChnGeomList* list = driver->m_pDevice->m_pCurChnList;
    if (!list) return nullptr;
    if (list->Size() != m_keptListSize || driver->m_pDevice->m_linkType != m_keptLinkType) {
        forgetSettings();
        return list;
    }
    for (const auto& [position, settings] : m_kept) {
        if (position < 0 || static_cast<std::uint32_t>(position) >= list->Size()) continue;
        if (OPENBCIPARAMV1* p = paramOf((*list)[static_cast<std::uint32_t>(position)])) *p = settings;
    }
    return list;
}

ChnGeomList* CListMultiBoardElectrode::refreshLists(CDriveOpnBciMutiBoard* driver) {
    if (!driver) return nullptr;
    if (driver->m_pDevice && !driver->m_dongles.empty()) driver->rebuildChnGeom();
    return restoreSettings(driver);
}

void CListMultiBoardElectrode::beginCellQueries() {
    if (m_queryDepth++ == 0) m_queryRebuilt = false;
}

void CListMultiBoardElectrode::endCellQueries() {
    if (m_queryDepth > 0 && --m_queryDepth == 0) m_queryRebuilt = false;
}

COLORREF CListMultiBoardElectrode::OnGetCellTextColor(int, int) { return GetTextColor(); }

HFONT CListMultiBoardElectrode::OnGetCellFont(int, int, DWORD) { return nullptr; }

COLORREF CListMultiBoardElectrode::OnGetCellBkColor(int row, int column) {
    const COLORREF bk = GetBkColor();
    if (!m_pDriver) return bk;
    // Each flag colours the cell under the heading that names it; other cells
    // need no rebuild of the channel lists.
    if (column != 2 && (column < 5 || column > 7)) return bk;
    ChnGeomList* list = nullptr;
    if (m_queryDepth > 0 && m_queryRebuilt) {
        list = restoreSettings(m_pDriver);
    } else {
        list = refreshLists(m_pDriver);
        m_queryRebuilt = m_queryDepth > 0;
    }
    if (!list || row < 0 || static_cast<std::uint32_t>(row) >= list->Size()) return bk;
    const OPENBCIPARAMV1* p = paramOf((*list)[static_cast<std::uint32_t>(row)]);
    if (!p) return bk;
    switch (column) {
        case 2: return p->powerDown ? RGB(125, 0, 0) : RGB(0, 255, 0);
        case 5: return p->includeBias ? RGB(255, 50, 50) : RGB(50, 255, 50);
        case 6: return p->srb2 ? RGB(255, 100, 100) : RGB(100, 255, 100);
        case 7: return p->srb1 ? RGB(255, 150, 150) : RGB(150, 255, 150);
        default: return bk;
    }
}

int CListMultiBoardElectrode::initImageLists() {
    HICON icon = AfxLoadIcon(IDI_SETUP_MULTIBOARD);
    auto makeList = [&](int size) -> CImageList* {
        auto* list = new (std::nothrow) CImageList;
        if (!list) return nullptr;
        list->Create(size, size, ILC_COLOR16, 0, 1);
        list->Add(icon);
        list->Add(icon);
        return list;
    };
    delete m_pImageLarge;
    delete m_pImageSmall;
    m_pImageLarge = makeList(32);
    SetImageList(m_pImageLarge, LVSIL_NORMAL);
    m_pImageSmall = makeList(16);
    SetImageList(m_pImageSmall, LVSIL_SMALL);
    SetExtendedStyle(LVS_EX_TRACKSELECT | LVS_EX_ONECLICKACTIVATE);
    return 1;
}

int CListMultiBoardElectrode::initColumns() {
    for (int c = 0; c < 11; ++c) InsertColumn(c, kColumns[c].heading, LVCFMT_LEFT, 90, c + 1);
    return 1;
}

int CListMultiBoardElectrode::insertChannelRow(int position, CAcqChnlGeomzq* record, OPENBCIPARAMV1* settings) {
    if (!settings || !record || record->m_kind != GEOM_KIND_EEG || !record->getElectrode()) return 0;
    CEEGelectrode* e = record->getElectrode();
    CString name = record->getGeom2ChnlName();
    int row = InsertItem(LVIF_TEXT | LVIF_IMAGE, position, name.GetString(), 0, 0, 0, 0);
    if (row == -1) return 0;
    settings->listRow = row;
    if (!m_kept.count(position)) settings->gain = kBoardGain;
    rememberSettings(position, *settings);

    CString pin;
    pin.Format(L"B%d_Pin:%d_EEG:%d", e->m_boardIndex + 1, e->m_pin + 1, row + 1);
    if (!SetItemText(row, 1, pin.GetString()) || !setSettingsTexts(row, *settings)) return 0;
    const CString port = m_pDriver ? m_pDriver->m_portListText : CString();
    if (!SetItemText(row, 9, port.GetString())) return 0;
    return SetItemText(row, 10, record->getGeomTypeName().GetString()) ? 1 : 0;
}

BOOL CListMultiBoardElectrode::setSettingsTexts(int row, const OPENBCIPARAMV1& p) {
    const CString texts[7] = {powerDownText(p), gainText(p), CString(p.inputTypeText), biasText(p),
                              srb2Text(p),      srb1Text(p), latencyText(p)};
    for (int c = 0; c < 7; ++c)
        if (!SetItemText(row, c + 2, texts[c].GetString())) return FALSE;
    return TRUE;
}

int CListMultiBoardElectrode::showChannelSettings(int channel) {
    ChnGeomList* list = m_pDriver ? restoreSettings(m_pDriver) : nullptr;
    if (!list || channel < 0 || static_cast<std::uint32_t>(channel) >= list->Size()) return 0;
    const OPENBCIPARAMV1* p = paramOf((*list)[static_cast<std::uint32_t>(channel)]);
    return p && setSettingsTexts(p->listRow, *p) ? 1 : 0;
}

int CListMultiBoardElectrode::updateChannelRow(int channel) {
    if (!m_pDriver) return 0;
    ChnGeomList* list = refreshLists(m_pDriver);
    CDeviceEegObBleComzq* device = m_pDriver->m_pDevice;
    if (!device || !list) return 0;
    if (channel < 0 || static_cast<std::uint32_t>(channel) >= list->Size()) return 0;
    OPENBCIPARAMV1* p = paramOf((*list)[static_cast<std::uint32_t>(channel)]);
    if (!p) return 0;
    int row = p->listRow;

    CString pin;
    if (device->m_linkType == LINK_TYPE_CYTON8)
        pin.Format(L"MB8:%d", channel + 1);
    else if (device->m_linkType == LINK_TYPE_DAISY16)
        pin.Format(L"MB16:%d", channel + 1);
    else
        pin.Format(L"?Bx:%d", channel + 1);
    if (!SetItemText(row, 1, pin.GetString()) || !setSettingsTexts(row, *p)) return 0;
    if (!SetItemText(row, 9, m_pDriver->m_portListText.GetString())) return 0;
    return SetItemText(row, 10, m_pDriver->m_portListText.GetString()) ? 1 : 0;
}
