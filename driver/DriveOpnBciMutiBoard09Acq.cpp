#include "driver/DriveOpnBciMutiBoard09Acq.h"

CDriveOpnBciMutiBoard09Acq::~CDriveOpnBciMutiBoard09Acq() = default;

int CDriveOpnBciMutiBoard09Acq::_01findConnectHdwr(CHdwrConfigzq* cfg, CMeAcqDatazq* data) {
    setConfigUser(cfg);
    if (data)
        m_pData = data;
    else
        data = m_pData;
    cleanDevice();
    m_connState = ConnState::Searching;

    int found = findAllComDevices();
    if (found && !m_dongles.empty() && m_pDevice) {
        m_connState = ConnState::Connected;
        showDlgSetupMultiBoardEeg(cfg, data);
        return 1;
    }
    if (found) AfxMessageBox(L"Detect device failed?!");
    // The EEG dialog comes up either way, so the user can retry from it.
    showDlgSetupMultiBoardEeg(cfg, data);
    return 0;
}

int CDriveOpnBciMutiBoard09Acq::_02connectCom2Device(CHdwrConfigzq* cfg, CMeAcqDatazq* data) {
    if (cfg) m_pConfigUser = cfg;
    if (data) m_pData = data;
    if (!checkInitConfigUserDetect(1, 1)) return 0;

    if (m_pConfigDetect) {
        m_pConfigDetect->m_statusCounter1 = 0;
        m_pConfigDetect->m_statusCounter2 = 0;
    }
    m_busy = 1;
    m_statusCode = StatusCode::Searching;
    m_connState = ConnState::Searching;

    // The host's retry count is raised for the search only.
    unsigned int retries = m_retryCount;
    m_retryCount = retries * 3;
    int found = findAllComDevices();
    m_retryCount = retries;

    if (!found) {
        CString port;
        if (!m_dongles.empty() && m_dongles[0]) {
            port = m_dongles[0]->m_portName;
            if (port.IsEmpty() && m_dongles[0]->m_pSerialPort) port = m_dongles[0]->m_pSerialPort->getPortName();
        }
        CString name = m_pConfigUser ? m_pConfigUser->m_name : CString();
        CString msg;
        msg.Format(L"Can't connect:%s->%s", port.GetString(), name.GetString());
        AfxMessageBox(msg);
        m_busy = 0;
        return 0;
    }

    cleanDevice();
    m_pDevice = getDevice(1);
    if (m_pDevice) m_pDevice->m_statusFlag = 1;
    if (m_dongles.empty()) {
        m_busy = 0;
        return 0;
    }
    rebuildChnGeom();
    m_busy = 0;
    if (!m_pDevice) {
        AfxMessageBox(L"Detect device failed?!");
        return 0;
    }
    m_statusCode = StatusCode::Connected;
    m_connState = ConnState::Connected;
    return 1;
}

int CDriveOpnBciMutiBoard09Acq::_03makeAcgSns() {
    if (!m_pDevice || m_dongles.empty()) return 0;
    m_pDevice->m_pBoards = &m_dongles;
    m_pDevice->resetChnGeomCyton8(&m_dongles);
    m_pDevice->resetChnGeomDaisy16(&m_dongles);
    int count = m_pDevice->selectChnGeom2Link(m_pConfigDetect ? m_pConfigDetect->m_linkType : -1);
    return count >= 1 ? 1 : 0;
}

int CDriveOpnBciMutiBoard09Acq::_09CheckInitTrlChn(CMeAcqDatazq* data, int record) {
    if (data) m_pData = data;
    if (!m_pDevice || !m_pConfigUser || !m_pData) return 0;
    return m_pDevice->acgSns2chnl(m_pData, -1, -1, record);
}

namespace {
// A sensor-status reading in progress (state 3) is asked to stop and given a
// second; 1 when acquisition may start.
int sensorStatusReleased(CDriveOpnBciMutiBoard09Acq& drv) {
    if (drv.m_connState != ConnState::SensorStatus) return 1;
    drv.m_stopStatusReq = 1;
    Sleep(1000);
    return drv.m_connState == ConnState::Connected && !drv.m_pSnsStatusThread ? 1 : 0;
}

// The data set must have been prepared (_09CheckInitTrlChn) so that it has a
// trial to fill; the worker thread cannot start without one.
int prepareTrial(CDriveOpnBciMutiBoard09Acq& drv, CMeAcqDatazq* data) {
    if (data) drv.m_pData = data;
    if (!drv.m_pData) {
        AfxMessageBox(L"Initialize hardware sensors first!?");
        return 0;
    }
    drv.m_pTrial = drv.m_pData->checkInitTrls4Acq(drv.m_pData->m_recordFlag, 0, 0);
    if (!drv.m_pTrial) {
        AfxMessageBox(L"Initialize hardware sensors first!?");
        return 0;
    }
    return 1;
}
}  // namespace

int CDriveOpnBciMutiBoard09Acq::AcqMonit(CMeAcqDatazq* data, CWnd*) {
    if (!prepareTrial(*this, data)) return 0;
    if (!sensorStatusReleased(*this)) {
        AfxMessageBox(L"Please stop reading sensor-status!");
        return 0;
    }
    // Cleared before the thread starts, so that a stop asked for from now
    // on, even before the loop runs, is kept.
    m_stopFlag = 0;
    // Started suspended so that its handle is stored before it runs: a
    // thread that ends at once clears the pointer itself.
    CWinThread* t = AfxBeginThread(CDriveOpnBciMutiBoard06Record::acqThreadProc, this, THREAD_PRIORITY_HIGHEST, 0,
                                   CREATE_SUSPENDED);
    m_pMonitThread = t;
    if (t) t->ResumeThread();
    hideDlg();
    return 1;
}

int CDriveOpnBciMutiBoard09Acq::AcqRecord(CMeAcqDatazq* data, CWnd*) {
    if (!prepareTrial(*this, data)) return 0;
    if (!sensorStatusReleased(*this)) {
        if (AfxMessageBox(L"Reading sensor-status in progress, Stop it?", MB_YESNO) == IDYES) m_stopStatusReq = 1;
        return 0;
    }
    // Cleared before the thread starts, so that a stop asked for from now
    // on, even before the loop runs, is kept.
    m_stopFlag = 0;
    // Started suspended so that its handle is stored before it runs: a
    // thread that ends at once clears the pointer itself.
    CWinThread* t = AfxBeginThread(CDriveOpnBciMutiBoard06Record::acqThreadProc, this, THREAD_PRIORITY_HIGHEST, 0,
                                   CREATE_SUSPENDED);
    m_pRecordThread = t;
    if (t) t->ResumeThread();
    hideDlg();
    return 1;
}

int CDriveOpnBciMutiBoard09Acq::AcqStop() {
    m_stopFlag = 1;
    return m_dongles.empty() ? 0 : 1;
}

int CDriveOpnBciMutiBoard09Acq::setupAcg(CWnd* wnd, CDialog* dlg) {
    return m_pDevice ? m_pDevice->setup(wnd, dlg) : 0;
}

ChnGeomList* CDriveOpnBciMutiBoard09Acq::getHdwrAcg() { return m_pDevice ? m_pDevice->m_pCurChnList : nullptr; }

int CDriveOpnBciMutiBoard09Acq::manageAcqInitInfo(int) { return 0; }
