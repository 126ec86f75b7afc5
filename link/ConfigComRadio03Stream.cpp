// A board's packet stream: starting and stopping it, and decoding one
// 33-byte packet at a time into the dongle's sample record.
#include <cstdint>

#include "link/ConfigComRadio03FindHdwr.h"
#include "platform/clock.h"

namespace {

constexpr double kFullScaleVolts = 4.5;
constexpr double kCountsMax = 8388607.0;  // 2^23 - 1
constexpr double kAccelGPerCount = 0.002 / 16.0;

double microvoltsPerCount(int gain) { return kFullScaleVolts / kCountsMax / gain * 1000000.0; }

std::int16_t be16(const std::uint8_t* p) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>((p[0] << 8) | p[1]));
}

}  // namespace

// A tracker that is missing or reports a non-positive gain reads as gain 1,
// which is what the tracker itself answers for channels it does not know.
static int gainOf(CTrackGainMbzq* tracker, int pin) {
    if (!tracker) return 1;
    int g = tracker->get_gain_for_channel(pin);
    return g > 0 ? g : 1;
}

int CConfigComRadio03FindHdwr::set4StreamCyton() {
    for (int pin = 0; pin < 8; ++pin) m_cytonFactor[pin] = microvoltsPerCount(gainOf(m_pTrackGain, pin));
    // A new stream: what is left of the old one is not its packets.
    m_decoder.reset();
    m_rxPackets.clear();
    m_newPacket = 0;
    if (m_pSerialPort) {
        CStringA reply;
        m_pSerialPort->sendCmdGetRspst("b", reply, 10);
    }
    return 1;
}

int CConfigComRadio03FindHdwr::resumeStreamCyton() {
    m_decoder.reset();
    m_rxPackets.clear();
    m_newPacket = 0;
    return m_pSerialPort ? m_pSerialPort->writeSynCmdUc1('b') : 0;
}

int CConfigComRadio03FindHdwr::set4StreamDaisy() {
    for (int pin = 0; pin < 16; ++pin) m_daisyFactor[pin] = microvoltsPerCount(gainOf(m_pTrackGain, pin));
    return 1;
}

int CConfigComRadio03FindHdwr::stopStreamCyton() {
    if (m_pSerialPort) {
        CStringA reply;
        m_pSerialPort->sendCmdGetRspst("s", reply, 10);
    }
    return 1;
}

int CConfigComRadio03FindHdwr::readCytonData() {
    m_newPacket = 0;
    CMegSerialPortzq* port = m_pSerialPort;
    if (m_rxPackets.empty() && port && !port->isBroken()) {
        // One read, waiting at most the port's stream wait; a packet whose
        // rest has not come yet stays in the decoder for the next call.
        unsigned char buf[512];
        int n = port->reads(buf, sizeof buf);
        if (n > 0) {
            m_decoder.feed(buf, static_cast<std::size_t>(n), platform::clock().nowUs(), m_rxPackets);
            m_statDropped.store(m_decoder.badFooters(), std::memory_order_relaxed);
        }
    }
    if (m_rxPackets.empty()) return 0;
    takePacket(m_rxPackets.front());
    m_rxPackets.pop_front();
    return 1;
}

void CConfigComRadio03FindHdwr::takePacket(const stream::CytonPacket& pkt) {
    // The packet buffer keeps bytes 1..32 as they came.
    m_packet[0] = pkt.sampleNo;
    for (int pin = 0; pin < 8; ++pin) {
        const std::uint32_t c = static_cast<std::uint32_t>(pkt.counts[static_cast<size_t>(pin)]);
        m_packet[1 + 3 * pin] = static_cast<std::uint8_t>(c >> 16);
        m_packet[2 + 3 * pin] = static_cast<std::uint8_t>(c >> 8);
        m_packet[3 + 3 * pin] = static_cast<std::uint8_t>(c);
    }
    for (int i = 0; i < 6; ++i) m_packet[25 + i] = pkt.aux[static_cast<size_t>(i)];
    m_packet[31] = pkt.footer;

    m_sampleNumber = pkt.sampleNo;
    // The gain is asked for every packet: a settings frame applied while
    // streaming changes the scale from the next packet on.
    for (int pin = 0; pin < 8; ++pin)
        m_eeg[pin] = pkt.counts[static_cast<size_t>(pin)] * microvoltsPerCount(gainOf(m_pTrackGain, pin));

    const std::uint8_t footer = pkt.footer;
    const std::uint8_t* aux = pkt.aux.data();
    m_aux[3] = footer;
    for (int i = 0; i < 6; ++i) m_aux[4 + i] = aux[i];

    if (footer == 0xC0) {
        std::int16_t x = be16(aux), y = be16(aux + 2), z = be16(aux + 4);
        // X of 0 marks a packet without a new accelerometer reading.
        if (x != 0) {
            m_lastAcc[0] = x * kAccelGPerCount;
            m_lastAcc[1] = y * kAccelGPerCount;
            m_lastAcc[2] = z * kAccelGPerCount;
        }
        m_aux[0] = m_lastAcc[0];
        m_aux[1] = m_lastAcc[1];
        m_aux[2] = m_lastAcc[2];
    } else if (footer == 0xC3 || footer == 0xC4) {
        // Byte 27 names an axis and half, byte 28 carries that byte.
        const std::uint8_t letter = aux[1];
        if (letter >= 'x' && letter <= 'z') m_accSlots[2 * (letter - 'x')] = aux[2];
        else if (letter >= 'X' && letter <= 'Z') m_accSlots[2 * (letter - 'X') + 1] = aux[2];
        for (int axis = 0; axis < 3; ++axis) {
            std::uint8_t& hi = m_accSlots[2 * axis];
            std::uint8_t& lo = m_accSlots[2 * axis + 1];
            if (hi != 0 && lo != 0) {
                m_lastAcc[axis] = (static_cast<std::int8_t>(hi) * 256 + lo) * kAccelGPerCount;
                hi = 0;
                lo = 0;
            }
        }
        m_aux[0] = m_lastAcc[0];
        m_aux[1] = m_lastAcc[1];
        m_aux[2] = m_lastAcc[2];
    } else if (footer == 0xC1) {
        m_aux[10] = be16(aux);
        m_aux[11] = be16(aux + 2);
        m_aux[12] = be16(aux + 4);
    }
    m_newPacket = 1;
}
