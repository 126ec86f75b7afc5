// The driver the host creates, with the two setup dialogs and the sample-rate
// helpers. Chief header of the library.
#pragma once

#include "driver/DriveOpnBciMutiBoard09Acq.h"
#include "common/OpenBciParam.h"

class CComboBox;

class CDriveOpnBciMutiBoardzq : public CDriveOpnBciMutiBoard09Acq {
public:
    CDriveOpnBciMutiBoardzq() = default;
    ~CDriveOpnBciMutiBoardzq() override;

    int showDlgSetupMultiBoardBleCom(CHdwrConfigzq* cfg, CMeAcqDatazq* data) override;
    int showDlgSetupMultiBoardEeg(CHdwrConfigzq* cfg, CMeAcqDatazq* data) override;

    int setCombSamplingRate(CComboBox& combo);
    int getSampleRate(CComboBox* combo);
};
