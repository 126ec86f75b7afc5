// The reading loop: every board's packets into sample rows of the host's trials.
#pragma once

#include "driver/DriveOpnBciMutiBoard04FindHdwr.h"

class CDriveOpnBciMutiBoard06Record : public CDriveOpnBciMutiBoard04FindHdwr {
public:
    CDriveOpnBciMutiBoard06Record() = default;
    ~CDriveOpnBciMutiBoard06Record() override;

    int s6ReadStream();
    // The worker thread's procedure; its argument is the driver.
    static UINT acqThreadProc(LPVOID driver);

protected:
    int s6ReadStreamCyton();
    int s6ReadStreamDaisy();

private:
    int findSetStimTrigTrlData(int trialIndex, CMeAcqTrialzq* trial, int firstChannel);
};
