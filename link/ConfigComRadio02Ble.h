// The dongle's radio commands that read or set channels and the link status.
#pragma once

#include <cstdint>

#include "link/ConfigComRadio01SerialPort.h"

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

class CConfigComRadio02Ble : public CConfigComRadio01SerialPort {
public:
    CConfigComRadio02Ble() = default;
    CConfigComRadio02Ble(const CConfigComRadio02Ble&) = default;
    CConfigComRadio02Ble& operator=(const CConfigComRadio02Ble&) = default;
    ~CConfigComRadio02Ble() override;

    int get_channelDeviceHost(CDialog* dlg);
    int set_channelBoardDvc(CDialog* dlg, std::uint8_t channel);
    int alignDeviceHostChannels(CDialog* dlg, std::uint8_t channel);
    int set_channelHostOverrideDongle(CDialog* dlg, int channel);
    int system_status(CDialog* dlg);
    int print_bytes(CDialog* dlg);
    int scan_channels(CDialog* dlg);
    int reAlignDeviceHostChan(CDialog* dlg);

    // The decimal number after the first `marker`, up to the first "$$$",
    // read as atoi reads; 0 when the marker or the "$$$" is missing.
    static int extractNumber(const CStringA& reply, const char* marker);

protected:
    // Sends 0xF0, the command byte and (when arg >= 0) one argument byte.
    int sendRadioCommand(std::uint8_t command, int arg);
    // Sleeps pauseMs (none when 0), reads the dongle's reply and keeps it as
    // the last reply.
    const CStringA& readRadioReply(int pauseMs, int gapMs, int waitMs);
    const CStringA& readRadioReply(const RadioWait& w) { return readRadioReply(w.pauseMs, w.gapMs, w.waitMs); }
    // Channels outside 1..25: asks whether to correct; 0 when the user
    // declines, else 1 with the channel clamped.
    int checkChannelRange(int& channel);
};
