// A board's packet stream: starting and stopping it, and decoding one
// 33-byte packet at a time into the dongle's sample record.
#include <cstdint>

#include "link/ConfigComRadio03FindHdwr.h"
#include "platform/clock.h"

namespace {

constexpr std::uint8_t kHeader = 0xA0;
constexpr std::uint8_t kFooterMin = 0xC0;
constexpr std::uint8_t kFooterMax = 0xC6;
constexpr double kFullScaleVolts = 4.5;
constexpr double kCountsMax = 8388607.0;  // 2^23 - 1
constexpr double kAccelGPerCount = 0.002 / 16.0;
constexpr double kSamplePeriodUs = 4000.0;  // 250 Hz
// Packets a read may come ahead of the time since the last one: the loop
// reads what queued while it waited elsewhere at once, with its radio losses.
constexpr double kStepSlack = 8.0;
constexpr double kFirstStepSlack = 2.0;
constexpr int kAdoptRun = 3;

// Packet bytes 1..32 sit at buffer positions 0..31.
constexpr int kPosSampleNo = 0;
constexpr int kPosEeg = 1;     // packet byte 2
constexpr int kPosAux = 25;    // packet byte 26
constexpr int kPosFooter = 31; // packet byte 32

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
    // A new stream: counts and gap detection start over.
    m_statPackets.store(0);
    m_statDropped.store(0);
    m_statGaps.store(0);
    m_statOutOfStep.store(0);
    m_lastSampleNo = -1;
    m_outOfStepRun = 0;
    m_newPacket = 0;
    if (m_pSerialPort) {
        CStringA reply;
        m_pSerialPort->sendCmdGetRspst("b", reply, 10);
    }
    return 1;
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
    // A port that has failed returns at once; without this check the wait
    // for the packet's rest below would spin on it.
    if (!port || port->isBroken()) return 0;

    // One byte per call until a header comes: that is how an out-of-step
    // stream falls back into step.
    if (port->reads(m_packet, 1) != 1 || m_packet[0] != kHeader) return 0;

    // The rest overwrites the header. The deadline starts at the first read
    // that brings nothing, so a packet arriving whole costs no clock reads here;
    // a board that stops in mid-packet holds us for the bound at most.
    int got = 0;
    std::int64_t deadlineUs = -1;
    std::int64_t lastEmptyUs = 0;
    while (got < 32) {
        int n = port->reads(m_packet + got, 32 - got);
        if (n > 0) {
            got += n;
            continue;
        }
        std::int64_t now = platform::clock().nowUs();
        if (deadlineUs < 0) {
            deadlineUs = now + static_cast<std::int64_t>(kPacketRestTimeoutMs) * 1000;
        } else if (now >= deadlineUs || port->isBroken()) {
            m_statDropped.fetch_add(1, std::memory_order_relaxed);
            return 0;
        } else if (now - lastEmptyUs < 1000) {
            // The port was set not to wait for bytes (a quiet board is polled
            // that way); wait here rather than spin until the deadline.
            platform::clock().sleepUs(1000);
        }
        lastEmptyUs = now;
    }

    const std::uint8_t footer = m_packet[kPosFooter];
    if (footer < kFooterMin || footer > kFooterMax) {
        m_statDropped.fetch_add(1, std::memory_order_relaxed);
        return 0;
    }

    const int sampleNo = m_packet[kPosSampleNo];
    const int prevDecoded = static_cast<int>(m_sampleNumber);
    m_sampleNumber = sampleNo;
    // Gaps are counted only; the row gets no filler for the missing samples.
    // A packet claiming more missing samples than the time since the last
    // one allows is not the next of this stream: a 0xA0 inside noise or
    // data taken for a header, or a second board on the channel. It is
    // decoded all the same, but counts no gap and does not become the
    // stream's last sample number, so one false header cannot add a wrap.
    // Should the stream's last sample number itself have come from a false
    // header, the packets that follow are out of step but in step with each
    // other; after kAdoptRun of them the stream is taken up from there.
    // The first packet of a stream comes right after a resync (the start
    // purges a packet in half), where a false header is likeliest, and has
    // no earlier packet to be judged by: the second must follow it closely,
    // else it is taken for false and the stream starts at the second.
    const std::int64_t nowUs = platform::clock().nowUs();
    bool inStep = true;
    if (m_lastSampleNo >= 0) {
        const bool onlyFirst = m_statPackets.load(std::memory_order_relaxed) == 1;
        const int missing = (sampleNo - m_lastSampleNo - 1) & 0xFF;
        const double allowed = static_cast<double>(nowUs - m_lastSampleUs) / kSamplePeriodUs +
                               (onlyFirst ? kFirstStepSlack : kStepSlack);
        inStep = missing <= allowed;
        if (inStep && missing) m_statGaps.fetch_add(static_cast<std::uint64_t>(missing), std::memory_order_relaxed);
        if (!inStep && onlyFirst) {
            m_statOutOfStep.fetch_add(1, std::memory_order_relaxed);
            m_outOfStepRun = 0;
            inStep = true;
        }
    }
    if (inStep) {
        m_outOfStepRun = 0;
    } else {
        const int step = (sampleNo - prevDecoded - 1) & 0xFF;
        m_outOfStepRun = (m_outOfStepRun > 0 && step <= kStepSlack) ? m_outOfStepRun + 1 : 1;
        if (m_outOfStepRun < kAdoptRun) {
            m_statOutOfStep.fetch_add(1, std::memory_order_relaxed);
        } else {
            // The run was the stream; the packet it replaces was the false one.
            m_statOutOfStep.fetch_sub(static_cast<std::uint64_t>(kAdoptRun - 2), std::memory_order_relaxed);
            m_outOfStepRun = 0;
            inStep = true;
        }
    }
    if (inStep) {
        m_lastSampleNo = sampleNo;
        m_lastSampleUs = nowUs;
    }

    // The gain is asked for every packet: a settings frame applied while
    // streaming changes the scale from the next packet on.
    for (int pin = 0; pin < 8; ++pin) {
        const std::uint8_t* p = m_packet + kPosEeg + 3 * pin;
        std::int32_t raw = (p[0] << 16) | (p[1] << 8) | p[2];
        if (raw & 0x800000) raw -= 0x1000000;
        m_eeg[pin] = raw * kFullScaleVolts / kCountsMax / gainOf(m_pTrackGain, pin) * 1000000.0;
    }

    const std::uint8_t* aux = m_packet + kPosAux;
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

    m_statPackets.fetch_add(1, std::memory_order_relaxed);
    m_newPacket = 1;
    return 1;
}
