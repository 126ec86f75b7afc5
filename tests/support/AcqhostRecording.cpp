#include "tests/support/AcqhostRecording.h"

namespace acqtest {

void buildChannels(CHardWareInfozq& info, ChnGeomList& list) {
    const wchar_t* eeg[] = {L"FP1", L"FP2"};
    for (int p = 0; p < 2; ++p) {
        CAcqChnlGeomzq* g = info.makeChnGeom(eeg[p], GEOM_KIND_EEG, 1);
        CEEGelectrode* e = g->getElectrode();
        e->m_boardIndex = 0;
        e->m_pin = p;
        e->m_portText = L"/dev/ttyUSB0";
        e->m_x = 0.1 * (p + 1);
        list.Add(g);
    }
    for (const wchar_t* n : {L"AccLft", L"AccUp", L"AccFwd"}) list.Add(info.makeChnGeom(n, GEOM_KIND_ACCEL, 1));
    list.Add(info.makeChnGeom(L"Analog1", GEOM_KIND_ANALOG, 1));
    for (std::uint32_t i = ACC_LFT; i <= ANALOG1; ++i) list[i]->m_boardIndex = 0;
    list.Add(info.makeChnGeom(L"AccLft", GEOM_KIND_ACCEL, 1));
    list[ACC_LFT2]->m_boardIndex = 1;
    info.addTsrx2chnGem(list);
}

int accDisplayCallback(CMeAcqTrialzq* trial) {
    if (!trial) return 0;
    for (int i = 0; i < trial->getTotalChannel(); ++i) {
        CMeAcgChannelzq* c = trial->getAllChannelPt()[i];
        if (!c->isEEGChannel() && c->isAcceleratChnl()) {
            c->setValueRange(-2000.0, 1996.1);
            c->m_unit = L"mm/s^2";
        }
    }
    return 1;
}

std::int32_t eegCount(int channel, std::int64_t g) {
    const std::int32_t c =
        g == 0 ? -8388608 : g == 1 ? 8388607 : g == 2 ? -1 : static_cast<std::int32_t>((g * 7919) % 16777216) - 8388608;
    return channel == FP1 ? c : -(c / 3);
}

std::int32_t accCount(int channel, std::int64_t g) {
    if (g == 0) return channel == ACC_UP ? 32767 : -32768;
    return static_cast<std::int32_t>((g * 37 + channel * 1000) % 65536) - 32768;
}

double valueAt(int channel, std::int64_t g) {
    if (channel == FP1 || channel == FP2) return eegCount(channel, g) * kUvPerCount;
    if (channel == ANALOG1) return static_cast<double>(g % 1000);
    if (channel == TRIGGER) return g % 50 == 0 ? static_cast<double>((g / 50) % 7 + 1) : 0.0;
    if (channel == TIMESTAMP) return 5000000.0 + 4.0 * static_cast<double>(g);
    return channel <= ACC_LFT2 ? accCount(channel, g) * kGPerCount : 0.0;
}

void fill(CMeAcqDatazq& data, int lastTrial, std::int64_t lastFill) {
    for (int t = 0; t <= lastTrial; ++t) {
        CMeAcqTrialzq* trial = data.getTrial(t);
        std::int64_t S = trial->getTotalSample(-1);
        std::int64_t n = (t == lastTrial && lastFill >= 0) ? lastFill : S;
        for (int c = 0; c < trial->getTotalChannel(); ++c) {
            CMeAcgChannelzq* ch = trial->getChannel(c);
            for (std::int64_t k = 0; k < n; ++k) {
                double v = valueAt(c, t * S + k);
                ch->m_pValues[k] = v;
                ch->m_pValuesMirror[k] = v;
                ch->m_lastSample = k;
            }
        }
    }
}

}  // namespace acqtest
