// The multi-board EEG setup dialog (template 16693).
#pragma once

#include "platform/controls.h"

class CDriveOpnBciMutiBoardzq;

class CDlgSetupMultiBoardEeg : public CDialogEx {
public:
    ~CDlgSetupMultiBoardEeg() override = default;

    CDriveOpnBciMutiBoardzq* m_pDriver = nullptr;
};
