#include "tests/support/SimPort.h"

#include "platform/clock.h"
#include "sim/SimRig.h"

namespace simtest {

std::unique_ptr<CMegSerialPortzq> openDongle(const sim::SimRig& rig, int k) {
    auto port = std::make_unique<CMegSerialPortzq>();
    CString name(CStringA(rig.portName(k).c_str()));
    if (!port->openSynRW(name, 1) || !port->setupCom4Eeg(115200)) return nullptr;
    return port;
}

std::string ask(CMegSerialPortzq& port, const std::string& bytes, int waitMs) {
    port.purgeAll();
    for (char c : bytes)
        if (!port.writeSynCmdUc1(static_cast<unsigned char>(c))) return "<write failed>";
    return port.readSynWaitAll2StrA(10, waitMs).str();
}

std::string readFor(CMegSerialPortzq& port, std::int64_t us) {
    platform::Clock& c = platform::clock();
    const std::int64_t end = c.nowUs() + us;
    std::string out;
    unsigned char buf[4096];
    while (c.nowUs() < end) {
        int n = port.reads(buf, sizeof buf);
        if (n > 0) out.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
        if (port.isBroken()) break;
    }
    return out;
}

Split splitPackets(const std::string& bytes) {
    Split s;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b = static_cast<std::uint8_t>(bytes[i]);
        if (b == 0xA0 && i + 33 <= bytes.size()) {
            const auto f = static_cast<std::uint8_t>(bytes[i + 32]);
            if (f >= 0xC0 && f <= 0xC6) {
                Packet p;
                for (int j = 0; j < 33; ++j) p[j] = static_cast<std::uint8_t>(bytes[i + j]);
                s.packets.push_back(p);
                i += 33;
                continue;
            }
        }
        ++s.skipped;
        ++i;
    }
    return s;
}

std::int32_t counts(const Packet& p, int i) {
    std::int32_t v = (p[2 + 3 * i] << 16) | (p[3 + 3 * i] << 8) | p[4 + 3 * i];
    return (v & 0x800000) ? v - 0x1000000 : v;
}

std::int16_t aux16(const Packet& p, int i) { return static_cast<std::int16_t>((p[26 + 2 * i] << 8) | p[27 + 2 * i]); }

}  // namespace simtest
