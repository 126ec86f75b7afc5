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
    // Starts the stream again mid-run. Only "b" goes out: no answer is
    // waited for, since the board answers with its first packet, which is
    // data to keep.
    int resumeStreamCyton();
    int set4StreamDaisy();
    int readCytonData();
    int stopStreamCyton();
    // Decodes one packet into the sample record, as readCytonData does with
    // the packets it reads; the reading loop hands in the packets it put in
    // sequence.
    void takePacket(const stream::CytonPacket& packet);
};
