// One USB radio dongle and the board behind it: its serial port, radio
// settings (persisted in the profile), status text, gain tracker and the last
// decoded packet.
#pragma once

#include <atomic>
#include <cstdint>

#include <deque>

#include "board/TrackGainMb.h"
#include "host/MegSerialPort.h"
#include "platform/afxstr.h"
#include "stream/PacketDecoder.h"

class CDialog;

// Profile section of the persisted radio settings.
#define RADIO_PROFILE_SECTION L"XFaceZovAviComRadioSetting"

class CConfigComRadio {
public:
    CConfigComRadio();  // defaults, then the persisted settings
    // Copies every field; the copy gets its own tracker and no port, so no
    // two objects ever own one port or tracker. Assignment keeps the target's
    // own port (it never takes the source's) and replaces its tracker by a
    // copy of the source's.
    CConfigComRadio(const CConfigComRadio& other);
    CConfigComRadio& operator=(const CConfigComRadio& other);
    virtual ~CConfigComRadio();  // closes the port, frees the tracker, saves

    int getSetInitParam(int save);  // 0 loads, non-zero saves; always 1
    CTrackGainMbzq* getTrackGainMb(int create, int boardType);
    int cleanGains();

    // The 22 slots of the last decoded packet: 0 sample number, 1..8 EEG µV,
    // 9..11 accelerometer g, 12 footer, 13..18 aux bytes, 19..21 raw 0xC1 values.
    double getSlot(int slot) const;

    // ---- fields, in order
    CMegSerialPortzq* m_pSerialPort = nullptr;  // owned
    int m_scanning = 0;
    int m_hostOverride = 0;
    CTrackGainMbzq* m_pTrackGain = nullptr;  // owned
    CString m_portName;                      // "COMn"
    std::uint8_t m_radioChnl = 20;
    std::uint8_t m_hostChnl = 20;
    std::int32_t m_confirmedChnl = -1;
    std::uint32_t m_baudRate = 115200;
    std::uint32_t m_baudIndex = 0;
    std::uint8_t m_pollTime = 80;
    CStringA m_statusText;
    CStringA m_lastReply;
    double m_cytonFactor[8] = {};
    double m_daisyFactor[16] = {};
    std::uint8_t m_packet[32] = {};
    double m_sampleNumber = 0;
    double m_eeg[8] = {};
    double m_aux[13] = {};
    double m_lastAcc[3] = {};
    std::uint8_t m_accSlots[6] = {};  // X high, X low, Y high, Y low, Z high, Z low

    // Set when the dongle itself gave the channel or poll time: only what a
    // dongle said is saved, never a default it was not asked about.
    bool m_chnlLearned = false;
    bool m_pollLearned = false;

    // ---- stream counts of the last acquisition, read by other threads
    // (what each means: CMeAcqDatazq::BoardInfo)
    std::atomic<std::uint64_t> m_statRows{0};
    std::atomic<std::uint64_t> m_statPackets{0};
    std::atomic<std::uint64_t> m_statDropped{0};     // bad footer or cut short
    std::atomic<std::uint64_t> m_statGaps{0};        // rows held: radio losses and silence
    std::atomic<std::uint64_t> m_statReconnects{0};  // times the board came back after it was lost
    // Packets whose sample number did not continue the board's sequence (a
    // header found inside noise, a second board on the radio channel), or
    // that came after their row was given out.
    std::atomic<std::uint64_t> m_statOutOfStep{0};
    std::atomic<std::uint64_t> m_statDriftHeld{0};
    std::atomic<std::uint64_t> m_statDriftDropped{0};
    std::atomic<bool> m_statSilent{false};              // lost now: no packets, or its port failed
    std::atomic<std::uint64_t> m_statOutages{0};        // times it was lost
    std::atomic<std::uint64_t> m_statLongestOutage{0};  // rows of its longest outage
    int m_newPacket = 0;  // 1 when the last read decoded a packet

    // readCytonData's bytes not yet taken: a packet in progress, and packets
    // that came in one read with the one it took.
    stream::PacketDecoder m_decoder;
    std::deque<stream::CytonPacket> m_rxPackets;
};
