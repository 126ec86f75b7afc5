// The dongle's radio commands that read or set channels and the link status.
#pragma once

#include <cstdint>

#include "link/ConfigComRadio01SerialPort.h"
#include "link/RadioProtocol.h"

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

    // radio::extractNumber, kept where callers of the dongle look for it.
    static int extractNumber(const CStringA& reply, const char* marker);

protected:
    // Sends radio::kFrameStart, the command byte and (when arg >= 0) one argument byte.
    int sendRadioCommand(std::uint8_t command, int arg);
    // Sleeps pauseMs (none when 0), reads the dongle's reply and keeps it as
    // the last reply.
    const CStringA& readRadioReply(int pauseMs, int gapMs, int waitMs);
    const CStringA& readRadioReply(const RadioWait& w) { return readRadioReply(w.pauseMs, w.gapMs, w.waitMs); }
    // Channels outside 1..25: asks whether to correct; 0 when the user
    // declines, else 1 with the channel clamped.
    int checkChannelRange(int& channel);
};
