// Ground truth of one stream packet as the simulated board sent it.
#pragma once

#include <array>
#include <cstdint>

namespace sim {

struct PacketRecord {
    std::int64_t timeUs = 0;              // when the board sent it (platform clock)
    std::uint32_t index = 0;              // packets since the stream started
    std::uint8_t sample = 0;              // sample number in the packet
    bool daisyHalf = false;               // carries channels 9-16 (Daisy attached, odd packets)
    std::array<std::int32_t, 8> counts{}; // the eight 24-bit values
    std::array<double, 8> uV{};           // what the ADC saw; counts x uvPerCount(gain) is within half a count
    std::array<int, 8> gain{};            // gain in force for each value
    bool accelReading = false;            // a fresh accelerometer reading rides in this packet (0xC0)
    std::array<std::int16_t, 3> accel{};  // latest reading in counts of 0.000125 g
    std::array<std::uint8_t, 6> aux{};
    std::uint8_t footer = 0xC0;
    std::array<std::uint8_t, 33> bytes{};
    bool dropped = false;                 // lost on the radio: no dongle got it
    int bytesSent = 33;                   // fewer when the board lost power in mid-packet
};

// Told of every stream packet as it is made (the log may keep none), with the
// world's lock held, and of the world's time as it moves on.
class PacketSink {
public:
    virtual ~PacketSink() = default;
    virtual void packet(int board, const PacketRecord& r) = 0;  // board 0-based
    virtual void reached(std::int64_t /*nowUs*/) {}
};

}  // namespace sim
