// The dongle's radio protocol in one place: the frame that carries a radio
// command, the command codes, what the dongle answers, and how long each
// command waits for its answer.
#pragma once

#include <cstdint>

#include "platform/afxstr.h"

namespace radio {

// A radio command is 0xF0, its code and, for the setters, one argument byte.
constexpr std::uint8_t kFrameStart = 0xF0;
constexpr std::uint8_t kReadChannel = 0x00;
constexpr std::uint8_t kSetChannel = 0x01;
constexpr std::uint8_t kHostOverride = 0x02;
constexpr std::uint8_t kReadPollTime = 0x03;
constexpr std::uint8_t kSetPollTime = 0x04;
constexpr std::uint8_t kSystemStatus = 0x07;
// (The baud rate codes are rows of the dongle baud table, g_dongleBaudRows.)

// Every answer ends in "$$$" and starts "Success" or "Failure".
constexpr const char kChannelSuccess[] = "Success: Host and Device on Channel number:";
inline bool holds(const CStringA& reply, const char* what) { return reply.Find(what) >= 0; }

// The decimal number after the first marker, up to the first "$$$", read as
// atoi reads; 0 when the marker or the "$$$" is missing.
int extractNumber(const CStringA& reply, const char* marker);

}  // namespace radio

// What one radio command waits for the dongle's reply, in ms: a pause before
// looking (the dongle asks the board over the radio meanwhile), the quiet gap
// that ends a reply, and the wait for its first byte. These are the dongle
// protocol's own timings; shorter ones cut replies on real dongles.
struct RadioWait {
    int pauseMs, gapMs, waitMs;
};
namespace radiowait {
constexpr RadioWait kGetChannel{1000, 10, 200};
constexpr RadioWait kSetChannel{0, 10, 600};
constexpr RadioWait kAlignChannels{1000, 10, 1000};
constexpr RadioWait kHostOverride{300, 10, 300};
constexpr RadioWait kSystemStatus{100, 10, 200};
constexpr RadioWait kPrintBytes{0, 10, 200};
constexpr RadioWait kGetPollTime{100, 10, 160};
constexpr RadioWait kSetPollTime{300, 10, 160};
constexpr RadioWait kSetBaud{300, 300, 1000};
}  // namespace radiowait
