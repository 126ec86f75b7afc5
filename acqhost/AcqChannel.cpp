// One channel of a trial: two sample arrays, the unit and value range the
// saved file uses, and where the channel comes from (board, pin, electrode).
#include "host/AcqFramework.h"

namespace {

// Board counts at the default gain of 24: the range maps the 24-bit counts
// one to one onto microvolts (4.5 V reference, 2^23 - 1 full scale).
constexpr double kEegUvPerCount = 4.5 / 8388607.0 / 24.0 * 1000000.0;
// Accelerometer: 0.000125 g per count over 16 bits.
constexpr double kAccGPerCount = 0.000125;

}  // namespace

CMeAcgChannelzq::CMeAcgChannelzq(const CAcqChnlGeomzq& geom, std::int64_t samples)
    : m_label(geom.m_name), m_kind(geom.m_kind), m_samples(samples > 0 ? samples : 0) {
    switch (m_kind) {
        case GEOM_KIND_EEG:
            m_unit = L"uV";
            m_rangeMax = 8388607.0 * kEegUvPerCount;  // 187500 exactly
            m_rangeMin = -m_rangeMax;
            break;
        case GEOM_KIND_ACCEL:
            m_unit = L"g";
            m_rangeMin = -32768 * kAccGPerCount;
            m_rangeMax = 32767 * kAccGPerCount;
            break;
        case GEOM_KIND_TIMESTAMP:
            m_unit = L"ms";
            m_rangeMin = 0;
            m_rangeMax = 16777215;
            break;
        case GEOM_KIND_ANALOG:
            m_unit = L"counts";
            m_rangeMin = -8388608;
            m_rangeMax = 8388607;
            break;
        default:  // trigger and the other trailer channels carry codes
            m_rangeMin = -8388608;
            m_rangeMax = 8388607;
            break;
    }
    m_boardIndex = geom.m_boardIndex;
    if (const CEEGelectrode* e = geom.getElectrode()) {
        m_boardIndex = e->m_boardIndex;
        m_pin = e->m_pin;
        m_portText = e->m_portText;
        m_elcX = e->m_x;
        m_elcY = e->m_y;
        m_elcZ = e->m_z;
    }
    auto n = static_cast<size_t>(m_samples > 0 ? m_samples : 1);
    m_pValues = new double[n]();
    m_pValuesMirror = new double[n]();
}

CMeAcgChannelzq::~CMeAcgChannelzq() {
    delete[] m_pValues;
    delete[] m_pValuesMirror;
}
