// The dongle object that is always created: poll time, baud rate, connecting,
// recovering a link and choosing distinct channels for several dongles.
#pragma once

#include <cstdint>
#include <vector>

#include "link/ConfigComRadio03FindHdwr.h"

class CConfigComRadiozq : public CConfigComRadio03FindHdwr {
public:
    CConfigComRadiozq() = default;
    CConfigComRadiozq(const CConfigComRadiozq&) = default;
    CConfigComRadiozq& operator=(const CConfigComRadiozq&) = default;
    ~CConfigComRadiozq() override;

    int getRadioPolltime(int unused);
    int setRadioPolltime(std::uint8_t pollTime, int unused);
    int setHost2DriverBaudRate(CDialog* dlg, int index);
    int connectBleComCytonDaisyAuto();
    int connectBleComCytonDaisyForce(const CString& portName);
    int checkInitComBle2Board();
    int selectRadioChan4HdB(const std::vector<CConfigComRadiozq*>& paired);
};
