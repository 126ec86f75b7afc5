// Impedance test signals: one channel on or off, a sweep, the channel flags.
#pragma once

#include "driver/DriveOpnBciMutiBoard06Record.h"

class CDriveOpnBciMutiBoard07Impedance : public CDriveOpnBciMutiBoard06Record {
public:
    CDriveOpnBciMutiBoard07Impedance() = default;
    ~CDriveOpnBciMutiBoard07Impedance() override;

    CStringA impedanceMeasureStart(int channel, int mode, int reply);
    CStringA impedanceMeasureStop(int channel, int reply);
    CStringA impedanceMeasureAllChnl(int dwellMs, int mode, int reply);
    int impedanceCheckToggle(int channel);
};
