#include "ui/DlgSetupMultiBoardBleCom.h"

#include <cstdio>
#include <string>

#include "driver/DriveOpnBciMutiBoardzq.h"
#include "common/OptionTables.h"
#include "platform/msgbox.h"
#include "ui/DialogTemplates.h"

namespace {
constexpr const wchar_t* kTitlePrefix = L"Setup connection: ";
constexpr const wchar_t* kNoSerialPort = L"No Serial Port";
}  // namespace

CDlgSetupMultiBoardBleCom::CDlgSetupMultiBoardBleCom() : CDialogEx(IDD_SETUP_MULTIBOARD_BLECOM) {
    ui::registerSetupResources();
    bindMessages();
}

CDlgSetupMultiBoardBleCom::~CDlgSetupMultiBoardBleCom() { DestroyWindow(); }

void CDlgSetupMultiBoardBleCom::bindMessages() {
    using C = CDlgSetupMultiBoardBleCom;
    ON_BN_CLICKED(IDC_BLE_FIND_DEVICE, &C::OnBnClickedFindDevice);
    ON_BN_CLICKED(IDC_BLE_SELECT_CONNECT, &C::OnBnClickedSelectConnect);
    ON_BN_CLICKED(IDC_BLE_AUTO_CONNECT, &C::OnBnClickedAutoConnect);
    ON_BN_CLICKED(IDC_BLE_CLOSE, &C::OnBnClickedClose);
    ON_BN_CLICKED(IDC_BLE_MONITOR, &C::OnBnClickedMonitor);
    ON_BN_CLICKED(IDC_BLE_SCAN_RADIO, &C::OnBnClickedScanRadioChannel);
    ON_BN_CLICKED(IDC_BLE_ALIGN_CHAN, &C::OnBnClickedAlignDeviceHostChan);
    ON_BN_CLICKED(IDC_BLE_RADIO_STATUS, &C::OnBnClickedRadioSystemStatus);
    ON_BN_CLICKED(IDC_BLE_GET_RADIO_CHNL, &C::OnBnClickedGetRadioChnl);
    ON_BN_CLICKED(IDC_BLE_SET_BOARD_CHAN, &C::OnBnClickedSetBoardChan);
    ON_BN_CLICKED(IDC_BLE_SET_DONGLE_CHAN, &C::OnBnClickedSetDongleChan);
    ON_BN_CLICKED(IDC_BLE_GET_POLL, &C::OnBnClickedGetPollTime);
    ON_BN_CLICKED(IDC_BLE_SET_POLL, &C::OnBnClickedSetPollTime);
    ON_BN_CLICKED(IDC_BLE_SET_BAUD, &C::OnBnClickedSetBaudRate);
    ON_BN_CLICKED(IDC_BLE_CLEAN_PORT, &C::OnBnClickedCleanSerialPort);
    ON_BN_CLICKED(IDC_BLE_CLEAN_MSG, &C::OnBnClickedCleanRadioMsg);
    ON_CBN_SELCHANGE(IDC_BLE_DONGLE_CHNL_BOX, &C::OnCbnSelchangeDongleChannel);
    ON_CBN_SELCHANGE(IDC_BLE_BAUD_BOX, &C::OnCbnSelchangeBaud);
    ON_CBN_SELCHANGE(IDC_BLE_PORT_BOX, &C::OnCbnSelchangePort);
}

BOOL CDlgSetupMultiBoardBleCom::createWindow() { return Create(IDD_SETUP_MULTIBOARD_BLECOM, nullptr); }

void CDlgSetupMultiBoardBleCom::DoDataExchange(CDataExchange* dx) {
    CDialogEx::DoDataExchange(dx);
    DDX_Control(dx, IDC_BLE_PORT_BOX, m_portBox);
    DDX_Control(dx, IDC_BLE_FIND_DEVICE, m_findButton);
    DDX_Control(dx, IDC_BLE_DONGLE_CHNL_BOX, m_dongleChnBox);
    DDX_Control(dx, IDC_BLE_SELECT_CONNECT, m_connectButton);
    DDX_Control(dx, IDC_BLE_MSG_PANE, m_msgPane);
    DDX_Control(dx, IDC_BLE_BAUD_BOX, m_baudBox);
    DDX_Check(dx, IDC_BLE_SYNCH, m_synch);
    DDX_Text(dx, IDC_BLE_RETRY, m_retryCount);
    DDX_Text(dx, IDC_BLE_RADIO_CHNL, m_radioChnl);
    DDX_Text(dx, IDC_BLE_POLL_TIME, m_pollTime);
    DDX_Text(dx, IDC_BLE_BAUD_RATE, m_baudRate);
    DDX_Text(dx, IDC_BLE_MSG_PANE, m_msgText);
}

CConfigComRadiozq* CDlgSetupMultiBoardBleCom::selectedDongle() {
    if (!m_pDriver) return nullptr;
    m_pDongles = &m_pDriver->m_dongles;
    int n = static_cast<int>(m_pDongles->size());
    if (n < 1) return nullptr;
    int i = m_dongleIndex;
    if (i >= n) i = n - 1;
    if (i < 0) i = 0;
    return (*m_pDongles)[static_cast<size_t>(i)];
}

CMegSerialPortzq* CDlgSetupMultiBoardBleCom::selectedPort() {
    CConfigComRadiozq* d = selectedDongle();
    return d ? d->m_pSerialPort : nullptr;
}

CString CDlgSetupMultiBoardBleCom::donglePortName(CConfigComRadiozq* d) const {
    if (!d) return CString();
    // Dongles made by a search keep their name in the port object only.
    if (d->m_portName.IsEmpty() && d->m_pSerialPort) return d->m_pSerialPort->getPortName();
    return d->m_portName;
}

void CDlgSetupMultiBoardBleCom::adoptShownPort(CConfigComRadiozq* d) {
    if (!d || !d->m_portName.IsEmpty()) return;
    CString name = d->m_pSerialPort ? d->m_pSerialPort->getPortName() : CString();
    if (name.IsEmpty()) {
        CString shown = m_portBox.itemText(m_portBox.GetCurSel());
        if (shown.Find(L"COM") >= 0) name = shown;
    }
    if (!name.IsEmpty()) d->m_portName = name;
}

BOOL CDlgSetupMultiBoardBleCom::OnInitDialog() {
    CDialogEx::OnInitDialog();
    SetIcon(AfxLoadIcon(IDI_SETUP_MULTIBOARD), TRUE);

    fillPortBox();
    CConfigComRadiozq* d = selectedDongle();
    if (d && d->m_portName.Find(L"COM") >= 0 && d->checkInitOpenSerialPort(1)) {
        OnBnClickedGetRadioChnl();
        OnBnClickedGetPollTime();
    }
    showSelectedDongle();

    m_baudBox.ResetContent();
    for (int row = 0; row < DONGLE_BAUD_ROWS; ++row) m_baudBox.AddString(g_dongleBaudRows[row].label);
    m_baudBox.SetCurSel(m_baudIndex);

    m_dongleChnBox.ResetContent();
    for (int c = 1; c <= 25; ++c) {
        CString s;
        s.Format(L"Channel %d", c);
        m_dongleChnBox.AddString(s);
    }
    m_dongleChnBox.SetCurSel(m_hostChnl - 1);
    UpdateData(FALSE);
    return TRUE;
}

int CDlgSetupMultiBoardBleCom::fillPortBox() {
    m_portBox.ResetContent();
    m_portIndex = 0;
    if (!m_pDriver) {
        m_portBox.AddString(kNoSerialPort);
        m_portBox.SetCurSel(0);
        return 0;
    }
    if (m_pDriver->m_donglePortNames.GetSize() == 0) m_pDriver->findAllUsbComs2Boards();
    const CStringArray& names = m_pDriver->m_donglePortNames;
    if (names.GetSize() == 0) {
        m_portBox.AddString(kNoSerialPort);
        m_portBox.SetCurSel(0);
        return 0;
    }
    CConfigComRadiozq* d = selectedDongle();
    CString current = donglePortName(d);
    for (int i = 0; i < names.GetSize(); ++i) {
        m_portBox.AddString(names[i]);
        if (d && names[i] == current) m_portIndex = i;
    }
    m_portBox.SetCurSel(m_portIndex);
    return 1;
}

CString CDlgSetupMultiBoardBleCom::inWords(const CStringA& reply) {
    static constexpr char kPollTime[] = "Poll time: 0x";
    const std::string& s = reply.str();
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s.compare(i, 3, "$$$") == 0) {
            i += 2;
        } else if (s.compare(i, sizeof kPollTime - 1, kPollTime) == 0 && i + sizeof kPollTime - 1 < s.size()) {
            i += sizeof kPollTime - 1;
            out += "Poll time: " + std::to_string(static_cast<unsigned char>(s[i]));
        } else if (const auto c = static_cast<unsigned char>(s[i]);
                   (c < 0x20 && c != '\n' && c != '\r' && c != '\t') || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<0x%02X>", static_cast<unsigned char>(s[i]));
            out += hex;
        } else {
            out += s[i];
        }
    }
    return CString(CStringA(out.c_str()));
}

void CDlgSetupMultiBoardBleCom::showSelectedDongle() {
    if (CConfigComRadiozq* d = selectedDongle()) {
        m_radioChnl = d->m_radioChnl;
        m_hostChnl = d->m_hostChnl;
        m_baudRate = static_cast<int>(d->m_baudRate);
        m_pollTime = d->m_pollTime;
        for (int row = 0; row < DONGLE_BAUD_ROWS; ++row)
            if (g_dongleBaudRows[row].baud == d->m_baudRate) m_baudIndex = row;
        if (m_baudBox.GetCount() > 0) m_baudBox.SetCurSel(m_baudIndex);
        if (m_portIndex >= 0)
            m_portBox.SetCurSel(m_portIndex);
        else
            fillPortBox();
        m_dongleChnBox.SetCurSel(m_hostChnl - 1);
        // The status run starts by reading the edits back: let them hold the
        // dongle's values first, not those the window was made with.
        UpdateData(FALSE);
        OnBnClickedRadioSystemStatus();
    }
    if (m_pDriver) m_retryCount = static_cast<int>(m_pDriver->m_retryCount);
    buildLinkTitle();
    UpdateData(FALSE);
}

int CDlgSetupMultiBoardBleCom::buildLinkTitle() {
    CConfigComRadiozq* d = selectedDongle();
    if (!d) {
        m_title = CString(kTitlePrefix) + L"No configuration for  connection";
        SetWindowText(m_title);
        return 0;
    }
    CString first = L"PC-USB-Com?-x-";
    CString second = L"Ble?-x-EEG Board";
    if (d->m_pSerialPort && d->m_pSerialPort->isOpen()) first = L"PC-USB->" + donglePortName(d) + L"->";
    if (d->system_status(nullptr)) second = L"Ble->EEG Board";
    m_title = CString(kTitlePrefix) + first + second;
    SetWindowText(m_title);
    return 1;
}

void CDlgSetupMultiBoardBleCom::OnSize(UINT type, int cx, int cy) {
    CDialogEx::OnSize(type, cx, cy);
    if (!m_msgPane.GetSafeHwnd()) return;
    CRect r;
    m_msgPane.GetWindowRect(&r);
    ScreenToClient(&r);
    int w = cx - 10 - r.left;
    int h = cy - 10 - r.top;
    m_msgPane.MoveWindow(r.left, r.top, w > 0 ? w : 0, h > 0 ? h : 0, FALSE);
    m_msgPane.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_NOERASE);
}

// ---------------------------------------------------------------- handlers

void CDlgSetupMultiBoardBleCom::OnBnClickedFindDevice() {
    CWaitCursor wait;
    if (!UpdateData(TRUE)) return;
    if (m_pDriver) {
        m_connectButton.EnableWindow(FALSE);
        m_pDriver->findAllUsbComs2Boards();
        fillPortBox();
        if (CConfigComRadiozq* d = selectedDongle())
            m_msgText = inWords(d->m_statusText) + L"\n Find serial port:" + donglePortName(d);
        m_connectButton.EnableWindow(TRUE);
    }
    UpdateData(FALSE);
}

void CDlgSetupMultiBoardBleCom::OnBnClickedSelectConnect() {
    CWaitCursor wait;
    if (!UpdateData(TRUE)) return;
    CConfigComRadiozq* d = selectedDongle();
    if (d) {
        d->m_radioChnl = m_radioChnl;
        d->m_hostChnl = m_hostChnl;
        d->m_baudRate = static_cast<std::uint32_t>(m_baudRate);
        d->m_pollTime = m_pollTime;
    }
    if (m_pDriver) m_pDriver->m_retryCount = static_cast<unsigned int>(m_retryCount < 0 ? 0 : m_retryCount);
    if (d) {
        adoptShownPort(d);
        m_findButton.EnableWindow(FALSE);
        if (d->connectBleComCytonDaisyForce(d->m_portName)) {
            m_msgText = inWords(d->m_statusText) + L"\nOpen:" + d->m_portName;
            m_radioChnl = d->m_radioChnl;
        }
        m_findButton.EnableWindow(TRUE);
    }
    UpdateData(FALSE);
}

void CDlgSetupMultiBoardBleCom::OnBnClickedAutoConnect() {
    CWaitCursor wait;
    if (!UpdateData(TRUE)) return;
    CConfigComRadiozq* d = selectedDongle();
    if (!d) return;
    adoptShownPort(d);
    m_connectButton.EnableWindow(FALSE);
    if (d->connectBleComCytonDaisyAuto()) {
        m_msgText = inWords(d->m_statusText) + L"\nOpen:" + d->m_portName;
        m_radioChnl = d->m_radioChnl;
        m_hostChnl = d->m_hostChnl;
        m_pollTime = d->m_pollTime;
        m_dongleChnBox.SetCurSel(m_hostChnl - 1);
    } else {
        m_msgText += inWords(d->m_statusText);
    }
    fillPortBox();
    m_connectButton.EnableWindow(TRUE);
    UpdateData(FALSE);
}

void CDlgSetupMultiBoardBleCom::OnBnClickedClose() {
    if (!UpdateData(TRUE)) return;
    if (CConfigComRadiozq* d = selectedDongle()) {
        if (!d->m_pSerialPort) return;
        d->m_pSerialPort->closeCom(1);
        m_title = kTitlePrefix;
    } else {
        m_title = L"No USB Ble Com";
    }
    fillPortBox();
    SetWindowText(m_title);
    UpdateData(FALSE);
}

void CDlgSetupMultiBoardBleCom::OnBnClickedMonitor() {
    CWaitCursor wait;
    if (!UpdateData(TRUE)) return;
    buildLinkTitle();
    UpdateData(FALSE);
}

void CDlgSetupMultiBoardBleCom::OnBnClickedScanRadioChannel() {
    CWaitCursor wait;
    if (!UpdateData(TRUE)) return;
    if (selectedPort()) {
        CConfigComRadiozq* d = selectedDongle();
        d->scan_channels(this);
        m_radioChnl = d->m_radioChnl;
        m_hostChnl = d->m_hostChnl;
    }
    UpdateData(FALSE);
}

void CDlgSetupMultiBoardBleCom::OnBnClickedAlignDeviceHostChan() {
    CWaitCursor wait;
    if (selectedPort()) selectedDongle()->alignDeviceHostChannels(this, m_radioChnl);
}

void CDlgSetupMultiBoardBleCom::OnBnClickedRadioSystemStatus() {
    CWaitCursor wait;
    if (!UpdateData(TRUE)) return;
    if (CMegSerialPortzq* port = selectedPort()) {
        CConfigComRadiozq* d = selectedDongle();
        CString name = donglePortName(d);
        m_title = kTitlePrefix;
        if (d->system_status(this))
            m_title += L"PC-USB->" + name + L"->Ble->EEG Board";
        else if (port->isOpen())
            m_title += L"PC-USB->" + name + L"->Ble?-x-EEG Board";
        else
            m_title += L"PC-USB-Com?-x-";
        SetWindowText(m_title);
    }
    UpdateData(FALSE);
}

void CDlgSetupMultiBoardBleCom::OnBnClickedGetRadioChnl() {
    CWaitCursor wait;
    if (!UpdateData(TRUE)) return;
    if (selectedPort()) {
        CConfigComRadiozq* d = selectedDongle();
        d->get_channelDeviceHost(this);
        m_radioChnl = d->m_radioChnl;
        m_hostChnl = d->m_hostChnl;
        m_dongleChnBox.SetCurSel(m_hostChnl - 1);
    }
    UpdateData(FALSE);
}

void CDlgSetupMultiBoardBleCom::OnBnClickedSetBoardChan() {
    CWaitCursor wait;
    if (!UpdateData(TRUE)) return;
    if (selectedPort()) selectedDongle()->set_channelBoardDvc(this, m_radioChnl);
    UpdateData(FALSE);
}

void CDlgSetupMultiBoardBleCom::OnBnClickedSetDongleChan() {
    CWaitCursor wait;
    if (!UpdateData(TRUE)) return;
    if (selectedPort()) {
        CConfigComRadiozq* d = selectedDongle();
        d->set_channelHostOverrideDongle(this, m_hostChnl);
        m_hostChnl = d->m_hostChnl;
    }
    UpdateData(FALSE);
}

void CDlgSetupMultiBoardBleCom::OnBnClickedGetPollTime() {
    CWaitCursor wait;
    if (!UpdateData(TRUE)) return;
    if (selectedPort()) {
        CConfigComRadiozq* d = selectedDongle();
        d->getRadioPolltime(1);
        m_pollTime = d->m_pollTime;
    }
    UpdateData(FALSE);
}

void CDlgSetupMultiBoardBleCom::OnBnClickedSetPollTime() {
    CWaitCursor wait;
    if (!UpdateData(TRUE)) return;
    if (selectedPort()) {
        CConfigComRadiozq* d = selectedDongle();
        d->setRadioPolltime(m_pollTime, 1);
        m_pollTime = d->m_pollTime;
    }
    UpdateData(FALSE);
}

void CDlgSetupMultiBoardBleCom::OnBnClickedSetBaudRate() {
    if (!UpdateData(TRUE)) return;
    if (selectedPort()) {
        if (m_baudIndex >= 2 &&
            AfxMessageBox(L"Baud rate 921600 or higher may not be supported!", MB_YESNO | MB_ICONQUESTION) == IDNO)
            return;
        CWaitCursor wait;
        selectedDongle()->setHost2DriverBaudRate(this, m_baudIndex);
    }
    UpdateData(FALSE);
}

void CDlgSetupMultiBoardBleCom::OnBnClickedCleanSerialPort() {
    if (CMegSerialPortzq* port = selectedPort()) port->clearBuf();
}

void CDlgSetupMultiBoardBleCom::OnBnClickedCleanRadioMsg() {
    if (!UpdateData(TRUE)) return;
    m_msgText.Empty();
    UpdateData(FALSE);
}

void CDlgSetupMultiBoardBleCom::OnCbnSelchangeDongleChannel() {
    int sel = m_dongleChnBox.GetCurSel();
    if (sel >= 0 && m_dongleChnBox.GetCount() >= 1) m_hostChnl = static_cast<BYTE>(sel + 1);
}

void CDlgSetupMultiBoardBleCom::OnCbnSelchangeBaud() {
    if (!UpdateData(TRUE)) return;
    int sel = m_baudBox.GetCurSel();
    if (sel >= 0 && m_baudBox.GetCount() >= 1) {
        if (const DONGLE_BAUD_ROW* row = dongleBaudRow(sel)) {
            m_baudIndex = sel;
            m_baudRate = static_cast<int>(row->baud);
        }
    }
    UpdateData(FALSE);
}

// With no dongle yet the choice is the dongle index. Otherwise a port that a
// dongle of the list already uses selects that dongle, and any other port
// becomes the selected dongle's port as long as it has none open, so that
// "Auto Connect..." and "Select Connect..." work on the chosen port.
void CDlgSetupMultiBoardBleCom::OnCbnSelchangePort() {
    if (!UpdateData(TRUE)) return;
    int sel = m_portBox.GetCurSel();
    if (sel < 0 || m_portBox.GetCount() < 1) return;
    CString name = m_portBox.itemText(sel);
    if (!m_pDriver || m_pDriver->m_dongles.empty()) {
        m_dongleIndex = sel;
        m_portIndex = sel;
        return;
    }
    if (name == kNoSerialPort) return;
    m_pDongles = &m_pDriver->m_dongles;
    for (size_t i = 0; i < m_pDongles->size(); ++i) {
        if ((*m_pDongles)[i] && donglePortName((*m_pDongles)[i]) == name) {
            m_dongleIndex = static_cast<int>(i);
            m_portIndex = sel;
            showSelectedDongle();
            return;
        }
    }
    CConfigComRadiozq* d = selectedDongle();
    if (d && !(d->m_pSerialPort && d->m_pSerialPort->isOpen())) {
        d->m_portName = name;
        m_portIndex = sel;
    }
}
