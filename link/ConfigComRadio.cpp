#include "link/ConfigComRadio.h"

#include <new>

#include "platform/profile.h"

namespace {
std::uint8_t clampChannel(int c) {
    if (c < 1) return 1;
    if (c > 25) return 25;
    return static_cast<std::uint8_t>(c);
}
}  // namespace

CConfigComRadio::CConfigComRadio() { getSetInitParam(0); }

// A copy takes every setting and the last packet, gets a tracker of its own
// and no port: a port has exactly one owner, the object that opened it.
CConfigComRadio::CConfigComRadio(const CConfigComRadio& other) { *this = other; }

// Assignment keeps the target's own port (if any) and never takes the
// source's; the tracker is replaced by a copy of the source's.
CConfigComRadio& CConfigComRadio::operator=(const CConfigComRadio& other) {
    if (this == &other) return *this;

    CTrackGainMbzq* tracker = nullptr;
    if (other.m_pTrackGain) tracker = new (std::nothrow) CTrackGainMbzq(*other.m_pTrackGain);
    delete m_pTrackGain;
    m_pTrackGain = tracker;

    m_scanning = other.m_scanning;
    m_hostOverride = other.m_hostOverride;
    m_portName = other.m_portName;
    m_radioChnl = other.m_radioChnl;
    m_hostChnl = other.m_hostChnl;
    m_confirmedChnl = other.m_confirmedChnl;
    m_baudRate = other.m_baudRate;
    m_baudIndex = other.m_baudIndex;
    m_pollTime = other.m_pollTime;
    m_statusText = other.m_statusText;
    m_lastReply = other.m_lastReply;
    for (int i = 0; i < 8; ++i) m_cytonFactor[i] = other.m_cytonFactor[i];
    for (int i = 0; i < 16; ++i) m_daisyFactor[i] = other.m_daisyFactor[i];
    for (int i = 0; i < 32; ++i) m_packet[i] = other.m_packet[i];
    m_sampleNumber = other.m_sampleNumber;
    for (int i = 0; i < 8; ++i) m_eeg[i] = other.m_eeg[i];
    for (int i = 0; i < 13; ++i) m_aux[i] = other.m_aux[i];
    for (int i = 0; i < 3; ++i) m_lastAcc[i] = other.m_lastAcc[i];
    for (int i = 0; i < 6; ++i) m_accSlots[i] = other.m_accSlots[i];
    m_statRows = other.m_statRows.load();
    m_statPackets = other.m_statPackets.load();
    m_statDropped = other.m_statDropped.load();
    m_statGaps = other.m_statGaps.load();
    m_statReconnects = other.m_statReconnects.load();
    m_statOutOfStep = other.m_statOutOfStep.load();
    m_statDriftHeld = other.m_statDriftHeld.load();
    m_statDriftDropped = other.m_statDriftDropped.load();
    m_statSilent = other.m_statSilent.load();
    m_statOutages = other.m_statOutages.load();
    m_statLongestOutage = other.m_statLongestOutage.load();
    m_chnlLearned = other.m_chnlLearned;
    m_pollLearned = other.m_pollLearned;
    m_newPacket = other.m_newPacket;
    m_decoder = other.m_decoder;
    m_rxPackets = other.m_rxPackets;
    return *this;
}

CConfigComRadio::~CConfigComRadio() {
    if (m_pSerialPort) {
        m_pSerialPort->closeCom(0);
        delete m_pSerialPort;
        m_pSerialPort = nullptr;
    }
    cleanGains();
    getSetInitParam(1);
}

int CConfigComRadio::getSetInitParam(int save) {
    CWinApp* app = AfxGetApp();
    if (!app) return 1;
    if (save == 0) {
        if (app->GetProfileInt(RADIO_PROFILE_SECTION, L"SaveRadioChnl", 0) != 0) {
            int stored = app->GetProfileInt(RADIO_PROFILE_SECTION, L"RadioChnl", 1);
            m_radioChnl = clampChannel(stored & 0xFF);
            m_hostChnl = m_radioChnl;
            m_pollTime = static_cast<std::uint8_t>(app->GetProfileInt(RADIO_PROFILE_SECTION, L"PollTime", 1) & 0xFF);
        }
    } else {
        m_radioChnl = clampChannel(m_radioChnl);
        // Writes only what a dongle told (and the file does not hold yet), so
        // that asking a dongle's status leaves the file as it was.
        if (m_chnlLearned) app->WriteProfileInt(RADIO_PROFILE_SECTION, L"RadioChnl", m_radioChnl);
        if (m_pollLearned) app->WriteProfileInt(RADIO_PROFILE_SECTION, L"PollTime", m_pollTime);
    }
    return 1;
}

CTrackGainMbzq* CConfigComRadio::getTrackGainMb(int create, int boardType) {
    if (create != 0 && !m_pTrackGain) {
        m_pTrackGain = new (std::nothrow) CTrackGainMbzq();
        if (m_pTrackGain) m_pTrackGain->setBoardType(boardType);
    }
    return m_pTrackGain;
}

int CConfigComRadio::cleanGains() {
    delete m_pTrackGain;
    m_pTrackGain = nullptr;
    return 1;
}

double CConfigComRadio::getSlot(int slot) const {
    if (slot == 0) return m_sampleNumber;
    if (slot >= 1 && slot <= 8) return m_eeg[slot - 1];
    if (slot >= 9 && slot <= 21) return m_aux[slot - 9];
    return 0.0;
}
