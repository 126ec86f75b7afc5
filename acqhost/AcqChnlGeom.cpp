// One channel-geometry record: name, kind, the electrode of EEG records and
// the driver's parameter block, which the record frees with its deleter.
#include "host/AcqFramework.h"

CAcqChnlGeomzq::CAcqChnlGeomzq(const CString& name, int kind, int flag) : m_name(name), m_kind(kind), m_flag(flag) {
    if (kind == GEOM_KIND_EEG) {
        m_pElectrode = new CEEGelectrode;
        m_pElectrode->m_name = name;
    }
}

CAcqChnlGeomzq::~CAcqChnlGeomzq() {
    setHdwrParam(nullptr, 0, 0, nullptr);
    delete m_pElectrode;
}

CString CAcqChnlGeomzq::getGeomTypeName() const {
    switch (m_kind) {
        case GEOM_KIND_EEG: return L"EEG";
        case GEOM_KIND_ACCEL: return L"Accelerometer";
        case GEOM_KIND_ANALOG: return L"Analog";
        case GEOM_KIND_TRIGGER: return L"Trigger";
        case GEOM_KIND_TIMESTAMP: return L"TimeStamp";
        case GEOM_KIND_TRAILER: return L"Trailer";
        default: return L"Unknown";
    }
}

void CAcqChnlGeomzq::setHdwrParam(void* block, int kind, int size, void (*deleter)(void*)) {
    if (m_pHdwrParam && m_pHdwrParam != block && m_paramDeleter) m_paramDeleter(m_pHdwrParam);
    m_pHdwrParam = block;
    m_hdwrParamKind = kind;
    m_hdwrParamSize = size;
    m_paramDeleter = deleter;
}
