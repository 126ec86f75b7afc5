// Numbers of the Cyton board and its packet format, as the simulated firmware
// and the simulator's tests use them.
#pragma once

#include <array>
#include <cstdint>

namespace sim {

inline constexpr int kPacketBytes = 33;
inline constexpr std::uint8_t kHeader = 0xA0;
inline constexpr std::int64_t kSamplePeriodUs = 4000;  // 250 Hz
inline constexpr int kGains[7] = {1, 2, 4, 6, 8, 12, 24};
inline constexpr char kChannelLetters[] = "12345678QWERTYUI";
inline constexpr char kOffLetters[] = "12345678qwertyui";
inline constexpr char kOnLetters[] = "!@#$%^&*QWERTYUI";
inline constexpr double kAccelGPerCount = 0.002 / 16;  // 0.000125 g
inline constexpr const char* kTimeoutReply = "Failure: Communications timeout - Device failed to poll Host$$$";

// Microvolts per count of a channel at this gain.
inline constexpr double uvPerCount(int gain) { return 4.5 / 8388607.0 / gain * 1e6; }

// Microvolts of a sample's three big-endian bytes at this gain.
inline double decodeUv(const std::uint8_t* p, int gain) {
    std::int32_t raw = (p[0] << 16) | (p[1] << 8) | p[2];
    if (raw & 0x800000) raw -= 0x1000000;
    return raw * uvPerCount(gain);
}

}  // namespace sim
