// A trial: one channel per channel-geometry record, in list order.
#include "host/AcqFramework.h"

CMeAcqTrialzq::CMeAcqTrialzq(const ChnGeomList& list, std::int64_t samples) : m_samples(samples) {
    m_channels.reserve(list.Size());
    try {
        for (std::uint32_t i = 0; i < list.Size(); ++i) m_channels.push_back(new CMeAcgChannelzq(*list[i], samples));
    } catch (...) {
        for (auto* c : m_channels) delete c;
        throw;
    }
}

CMeAcqTrialzq::CMeAcqTrialzq(const CMeAcqTrialzq& shape, std::int64_t samples) : m_samples(samples) {
    m_channels.reserve(shape.m_channels.size());
    try {
        for (const auto* c : shape.m_channels) m_channels.push_back(new CMeAcgChannelzq(*c, samples));
    } catch (...) {
        for (auto* c : m_channels) delete c;
        throw;
    }
}

CMeAcqTrialzq::~CMeAcqTrialzq() {
    for (auto* c : m_channels) delete c;
}

std::int64_t CMeAcqTrialzq::getTotalSample(int) const { return m_samples; }
