#include "ui/DlgSetupMultiBoardEeg.h"

#include <vector>

#include "driver/DriveOpnBciMutiBoardzq.h"
#include "common/OptionTables.h"
#include "ui/DialogTemplates.h"

namespace {
constexpr int kGainValues[7] = {1, 2, 4, 6, 8, 12, 24};
constexpr int kCommandValueBusy = 160;

OPENBCIPARAMV1* paramOf(CAcqChnlGeomzq* record) {
    if (!record || record->m_hdwrParamKind != OPENBCIPARAM_BLOCK_KIND) return nullptr;
    return static_cast<OPENBCIPARAMV1*>(record->getHdwrParam());
}

int clampIndex(int i, int count) {
    if (i >= count) i = count - 1;
    if (i < 0) i = 0;
    return i;
}
}  // namespace

CDlgSetupMultiBoardEeg::CDlgSetupMultiBoardEeg() : CDialogEx(IDD_SETUP_MULTIBOARD_EEG) {
    ui::registerSetupResources();
    bindMessages();
}

CDlgSetupMultiBoardEeg::~CDlgSetupMultiBoardEeg() { DestroyWindow(); }

void CDlgSetupMultiBoardEeg::bindMessages() {
    using C = CDlgSetupMultiBoardEeg;
    ON_BN_CLICKED(IDC_EEG_TURN_ON, &C::OnBnClickedTurnOn);
    ON_BN_CLICKED(IDC_EEG_TURN_OFF, &C::OnBnClickedTurnOff);
    ON_BN_CLICKED(IDC_EEG_TURN_ALL_ON, &C::OnBnClickedTurnAllOn);
    ON_BN_CLICKED(IDC_EEG_TURN_ALL_OFF, &C::OnBnClickedTurnAllOff);
    ON_BN_CLICKED(IDC_EEG_TEST_SIGNAL, &C::OnBnClickedTestSignal);
    ON_BN_CLICKED(IDC_EEG_ALL_DEFAULT, &C::OnBnClickedAllChnlDefault);
    ON_BN_CLICKED(IDC_EEG_GET_DEFAULT_INFO, &C::OnBnClickedGetDefaultInfo);
    ON_BN_CLICKED(IDC_EEG_QUERY_SETTINGS, &C::OnBnClickedQuerySettings);
    ON_BN_CLICKED(IDC_EEG_RESET, &C::OnBnClickedReset);
    ON_BN_CLICKED(IDC_EEG_ATTACH_DAISY, &C::OnBnClickedAttachDaisy);
    ON_BN_CLICKED(IDC_EEG_REMOVE_DAISY, &C::OnBnClickedRemoveDaisy);
    ON_BN_CLICKED(IDC_EEG_SET_SELECT, &C::OnBnClickedSetSelectChnls);
    ON_BN_CLICKED(IDC_EEG_SET_ALL, &C::OnBnClickedSetAllChnls);
    ON_BN_CLICKED(IDC_EEG_DONGLE, &C::OnBnClickedUsbBleDongle);
    ON_BN_CLICKED(IDC_EEG_WIFI_SHIELD, &C::OnBnClickedWifiShield);
    ON_CBN_SELCHANGE(IDC_EEG_SDCARD_BOX, &C::OnCbnSelchangeSdCard);
    ON_BN_CLICKED(IDC_EEG_POWER_DOWN, &C::OnBnClickedCheckBox);
    ON_BN_CLICKED(IDC_EEG_INCLUDE_BIAS, &C::OnBnClickedCheckBox);
    ON_BN_CLICKED(IDC_EEG_LINK_SRB2, &C::OnBnClickedCheckBox);
    ON_BN_CLICKED(IDC_EEG_ALL_N_SRB1, &C::OnBnClickedCheckBox);
    ON_CBN_SELCHANGE(IDC_EEG_TEST_SIGNAL_BOX, &C::OnCbnSelchangeTestSignal);
    ON_CBN_SELCHANGE(IDC_EEG_GAIN_BOX, &C::OnCbnSelchangeGain);
    ON_CBN_SELCHANGE(IDC_EEG_INPUT_TYPE_BOX, &C::OnCbnSelchangeInputType);
    ON_CBN_SELCHANGE(IDC_EEG_CHANNEL_BOX, &C::OnCbnSelchangeChannel);
    ON_CBN_SELCHANGE(IDC_EEG_BOARD_BOX, &C::OnCbnSelchangeBoard);
    ON_NOTIFY(LVN_ITEMCHANGED, IDC_EEG_ELECTRODE_LIST, &C::OnLvnItemchangedElectrodeList);
    ON_COMMAND(ID_OPTION_RECORD_RESPONSES, &C::OnRecordCommandResponses);
    ON_COMMAND(ID_FILE_NOACTION, &C::OnFileNoAction);
}

BOOL CDlgSetupMultiBoardEeg::createWindow() { return Create(IDD_SETUP_MULTIBOARD_EEG, nullptr); }

void CDlgSetupMultiBoardEeg::DoDataExchange(CDataExchange* dx) {
    CDialogEx::DoDataExchange(dx);
    DDX_Control(dx, IDC_EEG_ELECTRODE_LIST, m_listElectrode);
    DDX_Control(dx, IDC_EEG_TEST_SIGNAL_BOX, m_testSignalBox);
    DDX_Control(dx, IDC_EEG_BOARD_BOX, m_boardBox);
    DDX_Control(dx, IDC_EEG_CHANNEL_BOX, m_channelBox);
    DDX_Control(dx, IDC_EEG_GAIN_BOX, m_gainBox);
    DDX_Control(dx, IDC_EEG_INPUT_TYPE_BOX, m_inputTypeBox);
    DDX_Control(dx, IDC_EEG_SDCARD_BOX, m_sdCardBox);
    DDX_Control(dx, IDC_EEG_CONNECTION_BOX, m_connectionBox);
    DDX_Control(dx, IDC_EEG_DONGLE, m_dongleButton);
    DDX_Control(dx, IDC_EEG_WIFI_SHIELD, m_shieldButton);
    DDX_Check(dx, IDC_EEG_POWER_DOWN, m_powerDown);
    DDX_Check(dx, IDC_EEG_INCLUDE_BIAS, m_includeBias);
    DDX_Check(dx, IDC_EEG_LINK_SRB2, m_linkSrb2);
    DDX_Check(dx, IDC_EEG_ALL_N_SRB1, m_allNtoSrb1);
}

BOOL CDlgSetupMultiBoardEeg::OnInitDialog() {
    CDialogEx::OnInitDialog();
    SetIcon(AfxLoadIcon(IDI_SETUP_MULTIBOARD), TRUE);

    m_listElectrode.ModifyStyle(LVS_SMALLICON, LVS_REPORT | LVS_ALIGNLEFT);
    m_listElectrode.initImageLists();
    m_listElectrode.initColumns();
    m_listElectrode.SetExtendedStyle(m_listElectrode.GetExtendedStyle() | LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP |
                                     LVS_EX_DOUBLEBUFFER);

    m_connectionBox.ResetContent();
    m_connectionBox.InsertString(0, L"Com-Ble");
    m_connectionBox.SetCurSel(0);
    if (m_connectionBox.GetCount() < 1) {
        m_connectionBox.AddString(L"Connection Unknown");
        m_connectionBox.SetCurSel(0);
    }

    m_testSignalBox.ResetContent();
    for (int row = 0; row < TEST_SIGNAL_ROWS; ++row) m_testSignalBox.AddString(CString(g_testSignalNames[row]));
    m_testSignalIndex = clampIndex(m_testSignalIndex, TEST_SIGNAL_ROWS);
    m_testSignalBox.SetCurSel(m_testSignalIndex);

    m_gainBox.ResetContent();
    for (int g : kGainValues) {
        CString s;
        s.Format(L"Gain %d", g);
        m_gainBox.AddString(s);
    }
    m_gainBox.SetCurSel(m_gainIndex);

    m_inputTypeBox.ResetContent();
    for (int row = 0; row < INPUT_TYPE_ROWS; ++row) m_inputTypeBox.AddString(CString(g_inputTypeNames[row]));
    m_inputTypeBox.SetCurSel(m_inputTypeIndex);

    m_sdCardBox.ResetContent();
    for (int row = 0; row < SDCARD_LOG_ROWS; ++row) m_sdCardBox.AddString(CString(g_sdCardLogRows[row].label));
    m_sdCardBox.SetCurSel(m_sdCardIndex);

    fillBoardBox();
    fillChannelBox();
    buildTitle();

    if (!CAcqDriver02Prcs::isSearchHdwrBkgrnd()) {
        CAcqDriver02Prcs::setInfoErr(L"MultiBoard \n\n");
        CAcqDriver02Prcs::setInfoStatus(L"MultiBoard \n\n");
        CAcqDriver02Prcs::setSnsData(L"MultiBoard \n\n");
    }
    return TRUE;
}

void CDlgSetupMultiBoardEeg::fillBoardBox() {
    m_boardBox.ResetContent();
    if (!m_pDriver) {
        m_boardBox.AddString(L"No Board");
        m_boardBox.SetCurSel(0);
        return;
    }
    int n = static_cast<int>(m_pDriver->m_dongles.size());
    if (n < 1) {
        m_boardBox.AddString(L"0 Board");
        m_boardBox.SetCurSel(0);
        return;
    }
    CHdwrConfigzq* detect = m_pDriver->m_pConfigDetect;
    CHdwrConfigzq* cfg = (detect && detect->m_statusCounter2 != 0) ? detect : m_pDriver->m_pConfigUser;
    const wchar_t* fmt = L"Board%dx?";
    if (cfg && cfg->m_linkType == LINK_TYPE_CYTON8) fmt = L"Board%dx8";
    if (cfg && cfg->m_linkType == LINK_TYPE_DAISY16) fmt = L"Board%dx16";
    for (int b = 1; b <= n; ++b) {
        CString s;
        s.Format(fmt, b);
        m_boardBox.AddString(s);
    }
    m_boardIndex = clampIndex(m_boardIndex, n);
    m_boardBox.SetCurSel(m_boardIndex);
}

void CDlgSetupMultiBoardEeg::fillChannelBox() {
    m_channelBox.ResetContent();
    CDeviceEegObBleComzq* device = m_pDriver ? m_pDriver->getDevice(1) : nullptr;
    m_listElectrode.restoreSettings(m_pDriver);
    if (!device) {
        m_channelBox.AddString(L"No OpenBCI Device");
        m_channelBox.SetCurSel(0);
        return;
    }
    ChnGeomList* list = device->m_pCurChnList;
    if (!list) {
        m_channelBox.AddString(L"No Channel Geometry");
        m_channelBox.SetCurSel(0);
        return;
    }
    int count = 0;
    for (std::uint32_t i = 0; i < list->Size(); ++i) {
        CAcqChnlGeomzq* record = (*list)[i];
        if (!record || record->m_kind != GEOM_KIND_EEG) continue;
        CEEGelectrode* e = record->getElectrode();
        if (!e || e->m_boardIndex != m_boardIndex) continue;
        CString s;
        s.Format(L"B%d_Pin%d_EEG%d_", m_boardIndex + 1, e->m_pin + 1, static_cast<int>(i) + 1);
        s += record->getGeom2ChnlName();
        m_channelBox.AddString(s);
        ++count;
    }
    m_channelIndex = count > 0 ? clampIndex(m_channelIndex, count) : 0;
    m_channelBox.SetCurSel(m_channelIndex);
}

void CDlgSetupMultiBoardEeg::buildTitle() {
    if (m_pDriver) {
        m_channelBox.SetCurSel(m_channelIndex);
        m_testSignalBox.SetCurSel(m_testSignalIndex);
        m_gainBox.SetCurSel(m_gainIndex);
    }
    CString board;
    if (m_pDriver) {
        int n = static_cast<int>(m_pDriver->m_dongles.size());
        auto describe = [&](DEVICE_LINK_TYPE type, bool user) {
            if (type == LINK_TYPE_CYTON8)
                board.Format(user ? L"User:MultiCyton%dx8=%d" : L"MultiCyton%dx8=%d", n, 8 * n);
            else if (type == LINK_TYPE_DAISY16)
                board.Format(user ? L"User:MultiDaisy%dx16=%d" : L"MultiDaisy%dx16=%d", n, 16 * n);
            else
                board = L"Unknow device";
        };
        CHdwrConfigzq* detect = m_pDriver->m_pConfigDetect;
        if (detect && detect->m_linkType != 0) describe(detect->m_linkType, false);
        if (m_pDriver->m_pConfigUser) describe(m_pDriver->m_pConfigUser->m_linkType, true);
    }
    m_title = CString(L"Setup: ") + L" " + board;
    SetWindowText(m_title);
    UpdateData(FALSE);
}

CDeviceEegObBleComzq* CDlgSetupMultiBoardEeg::refreshGeometry() {
    if (!m_pDriver) return nullptr;
    m_listElectrode.refreshLists(m_pDriver);
    return m_pDriver->m_pDevice;
}

void CDlgSetupMultiBoardEeg::OnSize(UINT type, int cx, int cy) {
    CDialogEx::OnSize(type, cx, cy);
    if (!m_listElectrode.GetSafeHwnd()) return;
    CRect r;
    m_listElectrode.GetWindowRect(&r);
    ScreenToClient(&r);
    int w = cx - 10 - r.left;
    int h = cy - 10 - r.top;
    m_listElectrode.MoveWindow(r.left, r.top, w > 0 ? w : 0, h > 0 ? h : 0, FALSE);
    m_listElectrode.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_NOERASE);
}

void CDlgSetupMultiBoardEeg::OnInitMenuPopup(CMenu* popup, UINT index, BOOL sysMenu) {
    CDialogEx::OnInitMenuPopup(popup, index, sysMenu);
    if (!popup) return;
    popup->CheckMenuItem(ID_OPTION_RECORD_RESPONSES, MF_BYCOMMAND | (m_responses ? MF_CHECKED : MF_UNCHECKED));
}

void CDlgSetupMultiBoardEeg::OnTimer(UINT_PTR id) {
    if (id != IDT_EEG_REFRESH) {
        CDialogEx::OnTimer(id);
        return;
    }
    if (!IsWindowVisible() || !m_pDriver) return;
    CDeviceEegObBleComzq* device = refreshGeometry();
    if (device && m_pDriver->m_connState == ConnState::SensorStatus) {
        ChnGeomList* list = device->m_pCurChnList;
        OPENBCIPARAMV1* p = nullptr;
        const int channel = driverChannel(m_channelIndex);
        if (list && channel >= 0 && static_cast<std::uint32_t>(channel) < list->Size())
            p = paramOf((*list)[static_cast<std::uint32_t>(channel)]);
        if (p) {
            p->readOut = CStringA(m_pDriver->m_portListText);
            m_listElectrode.rememberSettings(channel, *p);
        }
        m_pDriver->m_portListText.Empty();
        m_listElectrode.SetExtendedStyle(m_listElectrode.GetExtendedStyle() | LVS_EX_DOUBLEBUFFER);
        refreshGeometry();
        list = device->m_pCurChnList;
        std::uint32_t n = list ? list->Size() : 0;
        for (std::uint32_t i = 0; i < n && i < list->Size(); ++i)
            if (paramOf((*list)[i])) m_listElectrode.updateChannelRow(static_cast<int>(i));
    }
    if (device && (!device->m_pCurChnList || device->m_pCurChnList->Size() == 0)) m_pDriver->m_statusCode = StatusCode::NoChannels;
    UpdateData(FALSE);
}

// ---------------------------------------------------------------- handlers

template <class F>
void CDlgSetupMultiBoardEeg::withCommandValue(F&& command) {
    CWaitCursor wait;
    m_pDriver->m_cmdValue = kCommandValueBusy;
    command();
    m_pDriver->m_cmdValue = 0;
}

int CDlgSetupMultiBoardEeg::driverChannel(int position) const {
    const CDeviceEegObBleComzq* device = m_pDriver ? m_pDriver->m_pDevice : nullptr;
    const ChnGeomList* list = device ? device->m_pCurChnList : nullptr;
    if (list) {
        int seen = 0;
        for (std::uint32_t i = 0; i < list->Size(); ++i) {
            CAcqChnlGeomzq* record = (*list)[i];
            if (!record || record->m_kind != GEOM_KIND_EEG) continue;
            const CEEGelectrode* e = record->getElectrode();
            if (e && e->m_boardIndex == m_boardIndex && seen++ == position) return static_cast<int>(i);
        }
    }
    // No layout to look in: boards follow each other at their channel count.
    const int perBoard = device && device->m_linkType == LINK_TYPE_DAISY16 ? 16 : 8;
    return m_boardIndex * perBoard + position;
}

void CDlgSetupMultiBoardEeg::storePowerState(int channel, int on) {
    CDeviceEegObBleComzq* device = refreshGeometry();
    if (!device || !device->m_pCurChnList || channel < 0) return;
    if (static_cast<std::uint32_t>(channel) >= device->m_pCurChnList->Size()) return;
    OPENBCIPARAMV1* p = paramOf((*device->m_pCurChnList)[static_cast<std::uint32_t>(channel)]);
    if (!p) return;
    p->powerDown = on ? 0 : 1;
    m_listElectrode.rememberSettings(channel, *p);
    m_listElectrode.showChannelSettings(channel);
}

void CDlgSetupMultiBoardEeg::storeBoardDefaults() {
    CDeviceEegObBleComzq* device = refreshGeometry();
    if (!device || !device->m_pCurChnList) return;
    const ChnGeomList& records = *device->m_pCurChnList;
    const OPENBCIPARAMV1 defaults;
    for (std::uint32_t i = 0; i < records.Size(); ++i) {
        OPENBCIPARAMV1* p = records[i] && records[i]->m_kind == GEOM_KIND_EEG ? paramOf(records[i]) : nullptr;
        if (!p) continue;
        p->powerDown = defaults.powerDown;
        p->gain = CListMultiBoardElectrode::kBoardGain;
        p->inputTypeCode = defaults.inputTypeCode;
        p->inputTypeText = defaults.inputTypeText;
        p->includeBias = defaults.includeBias;
        p->srb2 = defaults.srb2;
        p->srb1 = defaults.srb1;
        m_listElectrode.rememberSettings(static_cast<int>(i), *p);
        m_listElectrode.showChannelSettings(static_cast<int>(i));
    }
}

void CDlgSetupMultiBoardEeg::OnBnClickedTurnOn() {
    if (!m_pDriver) return;
    const int channel = driverChannel(m_channelIndex);
    withCommandValue([&] { m_pDriver->turnOnOffChnl(static_cast<unsigned>(channel), 1, m_responses); });
    storePowerState(channel, 1);
}

void CDlgSetupMultiBoardEeg::OnBnClickedTurnOff() {
    if (!m_pDriver) return;
    const int channel = driverChannel(m_channelIndex);
    withCommandValue([&] { m_pDriver->turnOnOffChnl(static_cast<unsigned>(channel), 0, m_responses); });
    storePowerState(channel, 0);
}

void CDlgSetupMultiBoardEeg::turnAll(int on) {
    if (!m_pDriver) return;
    std::vector<int> turned;
    withCommandValue([&] {
        CDeviceEegObBleComzq* device = refreshGeometry();
        if (!device || !device->m_pCurChnList) return;
        ChnGeomList records = *device->m_pCurChnList;
        unsigned k = 0;
        for (std::uint32_t i = 0; i < records.Size(); ++i) {
            if (!records[i] || records[i]->m_kind != GEOM_KIND_EEG) continue;
            turned.push_back(static_cast<int>(i));
            m_pDriver->turnOnOffChnl(k++, on, m_responses);
        }
    });
    for (int channel : turned) storePowerState(channel, on);
}

void CDlgSetupMultiBoardEeg::OnBnClickedTurnAllOn() { turnAll(1); }

void CDlgSetupMultiBoardEeg::OnBnClickedTurnAllOff() { turnAll(0); }

void CDlgSetupMultiBoardEeg::OnBnClickedTestSignal() {
    if (!m_pDriver) return;
    withCommandValue([&] { m_pDriver->testSignalCtrlCmd(m_testSignalIndex, m_responses); });
}

void CDlgSetupMultiBoardEeg::OnBnClickedAllChnlDefault() {
    if (!m_pDriver) return;
    withCommandValue([&] { m_pDriver->resetAllChnl2default(m_responses); });
    storeBoardDefaults();
}

void CDlgSetupMultiBoardEeg::OnBnClickedGetDefaultInfo() {
    if (!m_pDriver) return;
    withCommandValue([&] { m_pDriver->getAllChnlSetReport(m_responses); });
}

void CDlgSetupMultiBoardEeg::OnBnClickedQuerySettings() {
    if (!m_pDriver) return;
    withCommandValue([&] { m_pDriver->queryDeviceSettings(m_responses); });
}

void CDlgSetupMultiBoardEeg::OnBnClickedReset() {
    if (!m_pDriver) return;
    withCommandValue([&] { m_pDriver->resetBoard(m_responses); });
    storeBoardDefaults();
}

void CDlgSetupMultiBoardEeg::OnBnClickedAttachDaisy() {
    if (!m_pDriver) return;
    withCommandValue([&] { m_pDriver->daisyModuleAttach(m_responses); });
}

void CDlgSetupMultiBoardEeg::OnBnClickedRemoveDaisy() {
    if (!m_pDriver) return;
    withCommandValue([&] { m_pDriver->daisyModuleRemove(m_responses); });
}

void CDlgSetupMultiBoardEeg::storeChannelSettings(int position, OPENBCIPARAMV1* p) {
    int gainRow = clampIndex(m_gainIndex, 7);
    p->powerDown = m_powerDown;
    p->gain = kGainValues[gainRow];
    p->inputTypeCode = m_inputTypeIndex;
    const char* name = inputTypeName(m_inputTypeIndex);
    p->inputTypeText = name ? name : "";
    p->includeBias = m_includeBias;
    p->srb2 = m_linkSrb2;
    p->srb1 = m_allNtoSrb1;
    m_listElectrode.rememberSettings(position, *p);
    m_listElectrode.showChannelSettings(position);
}

void CDlgSetupMultiBoardEeg::OnBnClickedSetSelectChnls() {
    if (!m_pDriver) return;
    if (!UpdateData(TRUE)) return;
    CWaitCursor wait;
    CDeviceEegObBleComzq* device = refreshGeometry();
    if (!device || !device->m_pCurChnList) return;
    ChnGeomList records = *device->m_pCurChnList;
    const int channel = driverChannel(m_channelIndex);
    if (channel < 0 || static_cast<std::uint32_t>(channel) >= records.Size()) return;
    m_pDriver->sendChannelCommands(static_cast<unsigned>(channel), m_powerDown, static_cast<unsigned>(m_gainIndex),
                                   static_cast<unsigned>(m_inputTypeIndex), m_includeBias != 0, m_linkSrb2 != 0,
                                   m_allNtoSrb1 != 0, m_responses);
    if (OPENBCIPARAMV1* p = paramOf(records[static_cast<std::uint32_t>(channel)])) storeChannelSettings(channel, p);
}

void CDlgSetupMultiBoardEeg::OnBnClickedSetAllChnls() {
    if (!m_pDriver) return;
    if (!UpdateData(TRUE)) return;
    CWaitCursor wait;
    m_pDriver->m_cmdValue = kCommandValueBusy;
    int n = m_channelBox.GetCount();
    CDeviceEegObBleComzq* device = refreshGeometry();
    if (!device) {
        m_pDriver->m_cmdValue = 0;
        return;
    }
    ChnGeomList records;
    if (device->m_pCurChnList) records = *device->m_pCurChnList;
    for (int k = 0; k < n; ++k) {
        const int channel = driverChannel(k);
        m_pDriver->sendChannelCommands(static_cast<unsigned>(channel), m_powerDown,
                                       static_cast<unsigned>(m_gainIndex), static_cast<unsigned>(m_inputTypeIndex),
                                       m_includeBias != 0, m_linkSrb2 != 0, m_allNtoSrb1 != 0, m_responses);
        if (static_cast<std::uint32_t>(channel) >= records.Size()) break;
        if (OPENBCIPARAMV1* p = paramOf(records[static_cast<std::uint32_t>(channel)])) storeChannelSettings(channel, p);
    }
    m_pDriver->m_cmdValue = 0;
}

void CDlgSetupMultiBoardEeg::OnBnClickedUsbBleDongle() {
    if (!m_pDriver) return;
    m_pDriver->showDlgSetupMultiBoardBleCom(nullptr, nullptr);
}

// Reserved for a Wi-Fi shield and SD-card logging, which this set-up does not drive.
void CDlgSetupMultiBoardEeg::OnBnClickedWifiShield() {}

void CDlgSetupMultiBoardEeg::OnCbnSelchangeSdCard() {}

void CDlgSetupMultiBoardEeg::OnFileNoAction() {}

void CDlgSetupMultiBoardEeg::OnBnClickedCheckBox() {
    if (!m_pDriver) return;
    UpdateData(TRUE);
}

void CDlgSetupMultiBoardEeg::OnCbnSelchangeTestSignal() {
    if (!m_pDriver) return;
    int sel = m_testSignalBox.GetCurSel();
    if (sel >= 0 && m_testSignalBox.GetCount() >= 1) m_testSignalIndex = sel;
}

void CDlgSetupMultiBoardEeg::OnCbnSelchangeGain() {
    if (!m_pDriver) return;
    int sel = m_gainBox.GetCurSel();
    if (sel >= 0 && m_gainBox.GetCount() >= 2) m_gainIndex = sel;
}

void CDlgSetupMultiBoardEeg::OnCbnSelchangeInputType() {
    if (!m_pDriver) return;
    int sel = m_inputTypeBox.GetCurSel();
    if (sel >= 0 && m_inputTypeBox.GetCount() >= 2) m_inputTypeIndex = sel;
}

void CDlgSetupMultiBoardEeg::OnCbnSelchangeChannel() {
    if (!m_pDriver) return;
    int sel = m_channelBox.GetCurSel();
    if (sel >= 0 && m_channelBox.GetCount() >= 2) m_channelIndex = sel;
}

void CDlgSetupMultiBoardEeg::OnCbnSelchangeBoard() {
    if (!m_pDriver) return;
    int sel = m_boardBox.GetCurSel();
    if (sel >= 0 && m_boardBox.GetCount() >= 1) {
        m_boardIndex = sel;
        fillChannelBox();
    }
}

void CDlgSetupMultiBoardEeg::OnLvnItemchangedElectrodeList(NMHDR* header, LRESULT* result) {
    *result = 0;
    if (!m_listElectrode.m_pDriver || !header) return;
    const auto* nm = reinterpret_cast<const NMLISTVIEW*>(header);
    CDeviceEegObBleComzq* device = refreshGeometry();
    if (!device) return;
    if (ChnGeomList* list = device->m_pCurChnList) {
        for (std::uint32_t i = 0; i < list->Size(); ++i) {
            const OPENBCIPARAMV1* p = paramOf((*list)[i]);
            if (p && p->listRow == nm->iItem) {
                device->m_curChnIndex = static_cast<int>(i);
                return;
            }
        }
    }
    m_listElectrode.SetExtendedStyle(LVS_EX_TRACKSELECT | LVS_EX_ONECLICKACTIVATE);
}

void CDlgSetupMultiBoardEeg::OnRecordCommandResponses() {
    if (!m_pDriver) return;
    m_responses = m_responses ? 0 : 1;
}
