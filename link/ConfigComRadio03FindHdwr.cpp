// Probing a dongle's board and setting its board type. The stream operations
// of this class live in stream/ConfigComRadio03Stream.cpp.
#include "link/ConfigComRadio03FindHdwr.h"

#include <new>

#include "platform/msgbox.h"

CConfigComRadio03FindHdwr::~CConfigComRadio03FindHdwr() = default;

int CConfigComRadio03FindHdwr::findCheckOneComDevice(CMegSerialPortzq* port) {
    if (!port) return 0;
    CStringA reply;
    port->sendCmdGetRspst("d", reply, 10);
    if (reply.GetLength() >= 10 && reply.Find("default$$$") >= 0) return 1;

    // No answer to the defaults command: ask for the firmware version, which
    // a board answers more slowly.
    reply.Empty();
    port->sendCmdGetRspst("v", reply, 5000);
    if (reply.IsEmpty()) return 0;
    if (reply.Find("OpenBCI") >= 0 && reply.Find("0x3E") >= 0) return 1;
    if (reply.Find("Failure") >= 0 && reply.Find("Communications timeout") >= 0) {
        const int answer = AfxMessageBox(
            L"BLE Device is partially found. Please reset the power and remove Wi-Fi Shield (it it is "
            L"attached),try again!",
            MB_YESNO);
        if (answer == IDYES) {
            port->resetDevice();
            return 0;
        }
        return 1;
    }
    port->resetDevice();
    return 0;
}

int CConfigComRadio03FindHdwr::setMultiBoardType(int linkType) {
    if (!m_pTrackGain) {
        m_pTrackGain = new (std::nothrow) CTrackGainMbzq();
        if (!m_pTrackGain) return 0;
        m_pTrackGain->setBoardType(linkType);
    }
    if (!m_pSerialPort) return 1;  // nothing to tell a board we cannot reach
    CStringA reply;
    if (linkType == 7) {
        m_pSerialPort->sendCmdGetRspst("C", reply, 10);
        if (reply.Find("no daisy") >= 0) AfxMessageBox(L"No daisy, only has cytone 8 channels!", MB_OK);
    } else {
        m_pSerialPort->sendCmdGetRspst("c", reply, 10);
    }
    return 1;
}
