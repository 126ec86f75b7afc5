// Hardware discovery: the port listing, probing, channels for silent dongles,
// the board list, the detected configuration and the geometry.
#pragma once

#include "driver/DriveOpnBciMutiBoard02Setup.h"

class CDriveOpnBciMutiBoard04FindHdwr : public CDriveOpnBciMutiBoard02Setup {
public:
    CDriveOpnBciMutiBoard04FindHdwr() = default;
    ~CDriveOpnBciMutiBoard04FindHdwr() override;

    int findAllUsbComs2Boards();
    int findAllComDevices();
};
