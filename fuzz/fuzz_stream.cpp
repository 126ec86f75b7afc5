// The packet-stream decoder on arbitrary bytes, handed out in arbitrary read
// splits and pauses. Input: byte 0 gives K (0..16), the next K bytes the read
// plan (cycled: low 5 bits the chunk size - 1, high 3 bits the pause before
// it), the rest is the stream. K = 0 hands everything out at once.
//
// Checked on every call: a packet is decoded only from 33 bytes that began
// with 0xA0 and ended with a footer 0xC0..0xC6, and its values are those
// bytes' values; a call that decodes nothing leaves the sample record alone;
// the per-board counts never run backwards; no call sits idle past its bound.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/FuzzDevice.h"
#include "link/ConfigComRadiozq.h"
#include "platform/clock.h"
#include "platform/msgbox.h"

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "stream decoder: %s\n", what);
        std::abort();
    }
}

constexpr std::int64_t kPauseUs[8] = {0, 0, 0, 0, 0, 2000, 8000, 30000};

struct Record {
    double sample;
    double eeg[8];
    double aux[13];
    double acc[3];
    bool operator==(const Record& o) const { return std::memcmp(this, &o, sizeof *this) == 0; }
};

Record recordOf(const CConfigComRadiozq& d) {
    Record r;
    r.sample = d.m_sampleNumber;
    std::memcpy(r.eeg, d.m_eeg, sizeof r.eeg);
    std::memcpy(r.aux, d.m_aux, sizeof r.aux);
    std::memcpy(r.acc, d.m_lastAcc, sizeof r.acc);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzsupport::useScratchProfile();
    if (size < 1) return 0;
    const std::size_t k = data[0] % 17;
    if (size < 1 + k) return 0;
    const std::uint8_t* plan = data + 1;
    const std::string stream(reinterpret_cast<const char*>(data + 1 + k), size - 1 - k);

    platform::ScopedVirtualClock clock;
    platform::ScriptedMessageBoxes boxes;
    fuzzsupport::ScopedFuzzPort port;
    fuzzsupport::FuzzDevice& dev = port.device();

    CConfigComRadiozq dongle;
    dongle.m_portName = L"COM201";
    check(dongle.connect_to_portName(nullptr) == 1, "memory port did not open");
    check(dongle.getTrackGainMb(1, 6) != nullptr, "no gain tracker");
    dongle.set4StreamCyton();
    // The stream comes after "b" and its reply window, which purges input.
    std::int64_t t = clock.get().nowUs();
    std::size_t chunks = 0;
    if (k == 0) {
        dev.queue(stream, t);
        chunks = 1;
    } else {
        for (std::size_t i = 0; i < stream.size(); ++chunks) {
            const std::uint8_t p = plan[chunks % k];
            const std::size_t n = std::min<std::size_t>((p & 0x1F) + 1, stream.size() - i);
            t += kPauseUs[p >> 5];
            dev.queue(stream.substr(i, n), t);
            i += n;
        }
    }

    std::uint64_t packets = dongle.m_statPackets, dropped = dongle.m_statDropped, gaps = dongle.m_statGaps;

    const std::size_t limit = 2 * (stream.size() + 8 * chunks) + 64;
    std::size_t calls = 0;
    for (; calls < limit && !dev.exhausted(); ++calls) {
        const Record before = recordOf(dongle);
        const std::size_t outBefore = dev.handedOut().size();
        const std::size_t handoutsBefore = dev.handoutTimes().size();
        const std::int64_t t0 = clock.get().nowUs();
        const int r = dongle.readCytonData();
        const std::int64_t waited = clock.get().nowUs() - t0;
        const std::string& out = dev.handedOut();

        check(r == 0 || r == 1, "result not 0 or 1");
        // A slow stream may keep a call as long as bytes keep coming, but it
        // never sits idle longer than the packet bound and the read waits.
        std::int64_t idle = 0, last = t0;
        for (std::size_t i = handoutsBefore; i < dev.handoutTimes().size(); ++i) {
            idle = std::max(idle, dev.handoutTimes()[i] - last);
            last = dev.handoutTimes()[i];
        }
        idle = std::max(idle, clock.get().nowUs() - last);
        check(idle <= 40'000, "a read sat idle past its bound");
        check(waited <= 33 * 40'000, "one read waited too long");
        check(dongle.m_newPacket == r, "new-packet flag differs from the result");
        check(dongle.m_statPackets >= packets && dongle.m_statDropped >= dropped && dongle.m_statGaps >= gaps,
              "counts ran backwards");
        check(dongle.m_statPackets == packets + static_cast<std::uint64_t>(r), "packet count off");
        if (r == 1) {
            check(out.size() - outBefore == 33, "a packet not made of the 33 bytes read for it");
            const auto* pkt = reinterpret_cast<const std::uint8_t*>(out.data() + out.size() - 33);
            check(pkt[0] == 0xA0, "packet without a 0xA0 header");
            check(pkt[32] >= 0xC0 && pkt[32] <= 0xC6, "packet without a valid footer");
            check(dongle.m_sampleNumber == pkt[1], "sample number is not byte 1");
            check(dongle.m_aux[3] == pkt[32], "footer slot differs");
            for (int pin = 0; pin < 8; ++pin) {
                const std::uint8_t* b = pkt + 2 + 3 * pin;
                std::int32_t raw = (b[0] << 16) | (b[1] << 8) | b[2];
                if (raw & 0x800000) raw -= 0x1000000;
                const double uv = raw * 4.5 / 8388607.0 / 24 * 1e6;
                check(std::fabs(dongle.m_eeg[pin] - uv) <= 1e-9 * (1 + std::fabs(uv)), "EEG value differs");
            }
            for (int i = 0; i < 6; ++i) check(dongle.m_aux[4 + i] == pkt[26 + i], "aux byte slot differs");
            for (double a : dongle.m_lastAcc) check(std::isfinite(a) && std::fabs(a) <= 4.096, "accelerometer out of range");
        } else {
            check(recordOf(dongle) == before, "a failed read changed the sample record");
        }
        packets = dongle.m_statPackets;
        dropped = dongle.m_statDropped;
        gaps = dongle.m_statGaps;
    }
    check(dev.exhausted(), "decoder made no progress through the stream");
    // A quiet port afterwards: nothing decoded, nothing changed, bounded wait.
    const Record last = recordOf(dongle);
    check(dongle.readCytonData() == 0 && recordOf(dongle) == last, "a quiet port produced a packet");
    dongle.closeSerialPorts();
    return 0;
}
