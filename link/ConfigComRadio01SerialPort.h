// Opening, checking and closing a dongle's serial port.
#pragma once

#include "link/ConfigComRadio.h"

class CConfigComRadio01SerialPort : public CConfigComRadio {
public:
    CConfigComRadio01SerialPort() = default;
    CConfigComRadio01SerialPort(const CConfigComRadio01SerialPort&) = default;
    CConfigComRadio01SerialPort& operator=(const CConfigComRadio01SerialPort&) = default;
    ~CConfigComRadio01SerialPort() override;

    int closeSerialPorts();
    int cleanSerialPort();
    int connect_to_portName(CDialog* dlg);
    int checkInitOpenSerialPort(int showMessage);
};
