// Probing a dongle's board, its board type, and the board's packet stream.
#pragma once

#include "link/ConfigComRadio02Ble.h"

class CConfigComRadio03FindHdwr : public CConfigComRadio02Ble {
public:
    CConfigComRadio03FindHdwr() = default;
    CConfigComRadio03FindHdwr(const CConfigComRadio03FindHdwr&) = default;
    CConfigComRadio03FindHdwr& operator=(const CConfigComRadio03FindHdwr&) = default;
    ~CConfigComRadio03FindHdwr() override;

    int findCheckOneComDevice(CMegSerialPortzq* port);
    int setMultiBoardType(int linkType);

    int set4StreamCyton();
    int set4StreamDaisy();
    int readCytonData();
    int stopStreamCyton();

    // How long readCytonData waits for the rest of a packet before dropping it.
    static constexpr int kPacketRestTimeoutMs = 20;
};
