#include "driver/DriveOpnBciMutiBoardzq.h"

#include <cstdint>

#include "platform/controls.h"

CDriveOpnBciMutiBoardzq::~CDriveOpnBciMutiBoardzq() = default;

int CDriveOpnBciMutiBoardzq::setCombSamplingRate(CComboBox& combo) {
    combo.ResetContent();
    // The rate follows from the layout; nothing is sent to the boards.
    if (!m_pDevice) {
        combo.AddString(L"No Device");
    } else {
        DEVICE_LINK_TYPE type = m_pConfigUser ? m_pConfigUser->m_linkType : 0;
        if (type == LINK_TYPE_CYTON8)
            combo.AddString(L"250 Hz");
        else if (type == LINK_TYPE_DAISY16)
            combo.AddString(L"125 Hz");
        else
            combo.AddString(L"? Hz");
    }
    combo.SetCurSel(0);
    return 1;
}

int CDriveOpnBciMutiBoardzq::getSampleRate(CComboBox* combo) {
    if (!m_pDevice) return 250;
    if (combo) m_pDevice->m_reserved64 = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(combo));
    if (m_pConfigUser && m_pConfigUser->m_linkType == LINK_TYPE_DAISY16) {
        m_pDevice->m_sampleRate = 125.0;
        return 125;
    }
    m_pDevice->m_sampleRate = 250.0;
    return 250;
}
