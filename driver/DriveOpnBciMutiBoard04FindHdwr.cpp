#include "driver/DriveOpnBciMutiBoard04FindHdwr.h"

#include <exception>
#include <new>

#include "link/Discovery.h"
#include "platform/msgbox.h"

CDriveOpnBciMutiBoard04FindHdwr::~CDriveOpnBciMutiBoard04FindHdwr() = default;

int CDriveOpnBciMutiBoard04FindHdwr::findAllUsbComs2Boards() {
    CFaceMegSerialPortzq* face = getFaceSerialPort(1);
    if (!face) return -1;

    m_donglePortNames.RemoveAll();
    m_portListText.Empty();
    m_secondText.Empty();

    face->getPortInfo();
    const std::vector<QSerialPortInfoPrivate> ports = face->getComVidPidInfo();
    for (const QSerialPortInfoPrivate& p : ports) {
        CString line;
        if (discovery::isDonglePort(p)) {
            const int at = m_donglePortNames.Add(p.portName);
            line.Format(L"%s: %s %s %s \n", m_donglePortNames[at].GetString(), p.portName.GetString(),
                        p.device.GetString(), p.description.GetString());
        } else {
            line.Format(L"%s %s %s \n", p.portName.GetString(), p.device.GetString(), p.description.GetString());
        }
        m_portListText += line;
    }
    if (m_donglePortNames.GetSize() == 0)
        AfxMessageBox(L"Cannot find a USB-Com-Ble Dongle! Please insert one and try again?", MB_OK);
    return m_donglePortNames.GetSize();
}

int CDriveOpnBciMutiBoard04FindHdwr::findAllComDevices() {
    cleanConfigComBle2Board();
    m_findings = discovery::Findings{};
    if (m_pConfigDetect) {
        m_pConfigDetect->m_statusCounter1 = 0;
        m_pConfigDetect->m_statusCounter2 = 0;
    }
    m_statusCode = StatusCode::Searching;
    m_boardSummary = L"MultiBoard:?COMs->Board:?x8=?";
    m_busy = 1;

    try {
        const int n = findAllUsbComs2Boards();
        if (n <= 0) {
            AfxMessageBox(L"Cannot open multi-board ports!?Please check connections and turn them on!", MB_OK);
            m_busy = 0;
            m_statusCode = StatusCode::Failed;
            return 0;
        }

        discovery::findBoards(m_donglePortNames, m_dongles, &m_findings);

        const int m = static_cast<int>(m_dongles.size());
        if (m == 0) {
            m_statusCode = StatusCode::NoDongle;
            m_busy = 0;
            return 0;
        }

        if (m_pConfigUser && m_pConfigUser->m_linkType == LINK_TYPE_DAISY16) {
            AfxMessageBox(L"Only multi-Cytons are supported for a high sample rate!", MB_OK);
            m_pConfigUser->m_linkType = LINK_TYPE_CYTON8;
        }
        m_boardSummary.Format(L"MultiBoard:%dCOMs->Board:%dx8=%d", m, m, 8 * m);

        if (!m_pConfigDetect && m_pConfigUser) checkInitConfigUserDetect(1, 1);
        if (m_pConfigDetect) {
            if (m_pConfigUser) *m_pConfigDetect = *m_pConfigUser;
            m_pConfigDetect->m_statusCounter1 = 1;
            m_pConfigDetect->m_statusCounter2 = 1;
            m_pConfigDetect->m_linkType = LINK_TYPE_CYTON8;
        }

        const int linkType = m_pConfigUser ? m_pConfigUser->m_linkType : LINK_TYPE_CYTON8;
        for (CConfigComRadiozq* d : m_dongles) d->setMultiBoardType(linkType);

        m_pDevice = getDevice(1);
        if (m_pDevice) {
            m_pDevice->resetChnGeomCyton8(&m_dongles);
            m_pDevice->resetChnGeomDaisy16(&m_dongles);
            m_pDevice->selectChnGeom2Link(m_pConfigDetect ? m_pConfigDetect->m_linkType : LINK_TYPE_CYTON8);
            m_pDevice->m_statusFlag = 1;
        }

        m_statusCode = StatusCode::Connected;
        m_busy = 0;
        return 1;
    } catch (const std::exception&) {
        // Nothing may escape a search; what was found stays listed.
        m_busy = 0;
        return 0;
    }
}
