#include "link/DriveOpnBciMutiBoard04FindHdwr.h"

#include <exception>
#include <new>

#include "platform/msgbox.h"

namespace {
// A dongle that is not kept goes with its port (its destructor closes it).
void discard(CConfigComRadiozq* dongle) { delete dongle; }

// A dongle left out is named in the status log, so the user sees which one.
void reportLeftOut(const CString& port, const CString& why) {
    CString text;
    text.Format(L"%s: %s; left out", port.GetString(), why.GetString());
    CAcqDriver02Prcs::addInfoStatus(text);
}

void sendDefaults(CConfigComRadiozq* dongle) {
    if (!dongle->m_pSerialPort) return;
    CStringA reply;
    dongle->m_pSerialPort->sendCmdGetRspst("d", reply, 10);
}
}  // namespace

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
        if (p.portName.Find(L"COM") >= 0 && p.device.Find(L"FTDIBUS\\VID_0403") >= 0) {
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
    if (m_pConfigDetect) {
        m_pConfigDetect->m_statusCounter1 = 0;
        m_pConfigDetect->m_statusCounter2 = 0;
    }
    m_statusCode = StatusCode::Searching;
    m_boardSummary = L"MultiBoard:?COMs->Board:?x8=?";
    m_busy = 1;

    std::vector<CConfigComRadiozq*> silent;
    try {
        const int n = findAllUsbComs2Boards();
        if (n <= 0) {
            AfxMessageBox(L"Cannot open multi-board ports!?Please check connections and turn them on!", MB_OK);
            m_busy = 0;
            m_statusCode = StatusCode::Failed;
            return 0;
        }

        // Open every dongle; a board that answers on the dongle's channel is
        // listed at once, the others are searched for below.
        for (int i = 0; i < m_donglePortNames.GetSize(); ++i) {
            CMegSerialPortzq* port = new CMegSerialPortzq();
            CConfigComRadiozq* dongle = new (std::nothrow) CConfigComRadiozq();
            if (!dongle) {
                delete port;
                continue;
            }
            dongle->m_pSerialPort = port;
            if (!port->openSynRW(m_donglePortNames[i], 1) || !port->setting4UsbVc(1000, 0)) {
                reportLeftOut(m_donglePortNames[i], L"the port does not open (" + CString(port->lastError()) + L")");
                discard(dongle);
                continue;
            }
            if (dongle->get_channelDeviceHost(nullptr)) {
                m_dongles.push_back(dongle);
            } else {
                dongle->m_confirmedChnl = -1;
                silent.push_back(dongle);
            }
        }

        if (silent.empty()) {
            for (CConfigComRadiozq* d : m_dongles) sendDefaults(d);
        } else {
            for (CConfigComRadiozq* d : m_dongles)
                if (d->m_pSerialPort) d->m_pSerialPort->closeCom(0);
            for (size_t k = 0; k < silent.size(); ++k) {
                CConfigComRadiozq* d = silent[k];
                if (d->selectRadioChan4HdB(m_dongles)) {
                    d->get_channelDeviceHost(nullptr);
                    d->m_pSerialPort->closeCom(1);
                    m_dongles.push_back(d);
                } else {
                    reportLeftOut(d->m_pSerialPort ? d->m_pSerialPort->getPortName() : CString(),
                                  L"no board answers on any free radio channel");
                    discard(d);
                }
                silent[k] = nullptr;
            }
            silent.clear();
            for (CConfigComRadiozq* d : m_dongles) {
                CMegSerialPortzq* port = d->m_pSerialPort;
                if (!port) continue;
                port->openSynRW(port->getPortName(), 1);
                port->setting4UsbVc(1000, 0);
                sendDefaults(d);
            }
        }

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
        for (CConfigComRadiozq* d : silent) discard(d);
        m_busy = 0;
        return 0;
    }
}
