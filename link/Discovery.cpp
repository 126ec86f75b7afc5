#include "link/Discovery.h"

#include <new>

#include "host/AcqFramework.h"

namespace discovery {
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

bool isDonglePort(const QSerialPortInfoPrivate& p) {
    return p.portName.Find(L"COM") >= 0 && p.device.Find(L"FTDIBUS\\VID_0403") >= 0;
}

void findBoards(const CStringArray& ports, std::vector<CConfigComRadiozq*>& found) {
    std::vector<CConfigComRadiozq*> silent;
    try {
        for (int i = 0; i < ports.GetSize(); ++i) {
            CMegSerialPortzq* port = new CMegSerialPortzq();
            CConfigComRadiozq* dongle = new (std::nothrow) CConfigComRadiozq();
            if (!dongle) {
                delete port;
                continue;
            }
            dongle->m_pSerialPort = port;
            if (!port->openSynRW(ports[i], 1) || !port->setting4UsbVc(1000, 0)) {
                reportLeftOut(ports[i], L"the port does not open (" + CString(port->lastError()) + L")");
                discard(dongle);
                continue;
            }
            if (dongle->get_channelDeviceHost(nullptr)) {
                found.push_back(dongle);
            } else {
                dongle->m_confirmedChnl = -1;
                silent.push_back(dongle);
            }
        }

        if (silent.empty()) {
            for (CConfigComRadiozq* d : found) sendDefaults(d);
            return;
        }
        // The paired dongles' ports rest while the silent ones scan; they
        // are opened again, and their boards reset, once every scan is done.
        for (CConfigComRadiozq* d : found)
            if (d->m_pSerialPort) d->m_pSerialPort->closeCom(0);
        for (size_t k = 0; k < silent.size(); ++k) {
            CConfigComRadiozq* d = silent[k];
            if (d->selectRadioChan4HdB(found)) {
                d->get_channelDeviceHost(nullptr);
                d->m_pSerialPort->closeCom(1);
                found.push_back(d);
            } else {
                reportLeftOut(d->m_pSerialPort ? d->m_pSerialPort->getPortName() : CString(),
                              L"no board answers on any free radio channel");
                discard(d);
            }
            silent[k] = nullptr;
        }
        silent.clear();
        for (CConfigComRadiozq* d : found) {
            CMegSerialPortzq* port = d->m_pSerialPort;
            if (!port) continue;
            port->openSynRW(port->getPortName(), 1);
            port->setting4UsbVc(1000, 0);
            sendDefaults(d);
        }
    } catch (...) {
        // What was found stays listed; the silent ones go.
        for (CConfigComRadiozq* d : silent) discard(d);
        throw;
    }
}

}  // namespace discovery
