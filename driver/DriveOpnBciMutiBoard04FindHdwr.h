// Hardware discovery: the port listing, probing, channels for silent dongles,
// the board list, the detected configuration and the geometry.
#pragma once

#include "driver/DriveOpnBciMutiBoard02Setup.h"
#include "link/Discovery.h"

class CDriveOpnBciMutiBoard04FindHdwr : public CDriveOpnBciMutiBoard02Setup {
public:
    CDriveOpnBciMutiBoard04FindHdwr() = default;
    ~CDriveOpnBciMutiBoard04FindHdwr() override;

    int findAllUsbComs2Boards();
    int findAllComDevices();

    // What the last search noticed: ports left out, boards sharing a channel.
    discovery::Findings m_findings;
};
