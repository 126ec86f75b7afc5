// Talking to simulated dongles through the serial-port library, and cutting
// what they send into packets, without the driver's own decoder.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/MegSerialPort.h"

namespace sim {
class SimRig;
}

namespace simtest {

// Dongle k's memory port, opened by its COM name and set up at 115200.
std::unique_ptr<CMegSerialPortzq> openDongle(const sim::SimRig& rig, int k);
// Writes the bytes one by one, as radio commands go out, then returns what
// comes back within waitMs (early once it ends in "$$$").
std::string ask(CMegSerialPortzq& port, const std::string& bytes, int waitMs = 50);
// Everything that arrives in `us` microseconds on the platform clock.
std::string readFor(CMegSerialPortzq& port, std::int64_t us);

using Packet = std::array<std::uint8_t, 33>;
struct Split {
    std::vector<Packet> packets;  // header 0xA0, footer 0xC0..0xC6
    std::size_t skipped = 0;      // bytes that belonged to no packet
};
Split splitPackets(const std::string& bytes);
// The 24-bit value of channel i (0..7) of a packet, sign-extended.
std::int32_t counts(const Packet& p, int i);
std::int16_t aux16(const Packet& p, int i);  // big-endian pair i (0..2) of the aux bytes

}  // namespace simtest
