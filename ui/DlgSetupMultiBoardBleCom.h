// The connection setup dialog (template 16692).
#pragma once

#include "platform/controls.h"

class CDriveOpnBciMutiBoardzq;

class CDlgSetupMultiBoardBleCom : public CDialogEx {
public:
    ~CDlgSetupMultiBoardBleCom() override = default;
    BOOL UpdateData(BOOL saveAndValidate = TRUE) { (void)saveAndValidate; return TRUE; }

    CDriveOpnBciMutiBoardzq* m_pDriver = nullptr;
    CString m_msgText;  // what the message pane shows
};
