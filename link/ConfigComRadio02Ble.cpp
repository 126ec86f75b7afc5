#include "link/ConfigComRadio02Ble.h"

#include <climits>

#include "platform/clock.h"
#include "platform/msgbox.h"

namespace {
using radio::holds;
using radio::kChannelSuccess;

const char kNoBoard[] = "Found dongle! No connection to the board. Please turn on the board!\n";
const char kReadError[] = "Radios_Config: Error reading from Serial/COM port";

// Clears a flag on every way out of an operation.
struct FlagReset {
    int& flag;
    ~FlagReset() { flag = 0; }
};
}  // namespace

CConfigComRadio02Ble::~CConfigComRadio02Ble() = default;

int CConfigComRadio02Ble::extractNumber(const CStringA& reply, const char* marker) {
    return radio::extractNumber(reply, marker);
}

int CConfigComRadio02Ble::sendRadioCommand(std::uint8_t command, int arg) {
    if (!m_pSerialPort) return 0;
    int ok = m_pSerialPort->writeSynCmdUc1(radio::kFrameStart);
    ok = m_pSerialPort->writeSynCmdUc1(command) && ok;
    if (arg >= 0) ok = m_pSerialPort->writeSynCmdUc1(static_cast<unsigned char>(arg)) && ok;
    return ok;
}

const CStringA& CConfigComRadio02Ble::readRadioReply(int pauseMs, int gapMs, int waitMs) {
    if (pauseMs > 0) Sleep(static_cast<DWORD>(pauseMs));
    m_lastReply = m_pSerialPort ? m_pSerialPort->readSynWaitAll2StrA(gapMs, waitMs) : CStringA();
    return m_lastReply;
}

int CConfigComRadio02Ble::checkChannelRange(int& channel) {
    if (channel >= 1 && channel <= 25) return 1;
    if (AfxMessageBox(L"Ble Radio Channel numbers can only be 1-25, Correct and Continue?", MB_YESNO) != IDYES)
        return 0;
    channel = channel < 1 ? 1 : 25;
    return 1;
}

int CConfigComRadio02Ble::get_channelDeviceHost(CDialog* /*dlg*/) {
    m_confirmedChnl = -1;
    if (!checkInitOpenSerialPort(1)) return 0;
    sendRadioCommand(radio::kReadChannel, -1);
    const CStringA& reply = readRadioReply(radiowait::kGetChannel);
    if (reply.IsEmpty()) {
        m_statusText = "Get radio channel error: empty";
        return 0;
    }
    if (holds(reply, kChannelSuccess)) {
        const int c = extractNumber(reply, "number:");
        m_radioChnl = static_cast<std::uint8_t>(c);
        m_hostChnl = static_cast<std::uint8_t>(c);
        m_confirmedChnl = c;
        m_chnlLearned = c >= 1 && c <= 25;  // a reply cut before its "$$$" names no channel
        m_statusText = reply;
        return 1;
    }
    if (holds(reply, "Failure: Host on Channel number")) {
        m_statusText = reply + "\n" + "Found dongle! Is the board turned on?!\n";
        return 0;
    }
    m_statusText = reply + "\n" + CStringA(m_portName);
    return 0;
}

int CConfigComRadio02Ble::set_channelBoardDvc(CDialog* /*dlg*/, std::uint8_t channel) {
    int c = channel;
    if (!checkChannelRange(c)) return 0;
    if (!checkInitOpenSerialPort(1)) return 0;
    sendRadioCommand(radio::kSetChannel, c);
    const CStringA& reply = readRadioReply(radiowait::kSetChannel);
    if (reply.IsEmpty()) {
        m_statusText = kReadError;
        return 0;
    }
    if (holds(reply, kChannelSuccess)) {
        const int n = extractNumber(reply, "number:");
        CStringA note;
        if (n >= 1 && n <= 25) {
            m_radioChnl = static_cast<std::uint8_t>(n);
            m_chnlLearned = true;
        } else
            note.Format("Set radio channel:%d is out of range (1-25)\n", n);
        m_statusText += reply + "\n" + note;
        return 1;
    }
    if (holds(reply, "Failure: Communications timeout")) {
        m_statusText = kNoBoard;
        return 0;
    }
    m_statusText = reply;
    return 0;
}

int CConfigComRadio02Ble::alignDeviceHostChannels(CDialog* /*dlg*/, std::uint8_t channel) {
    int c = channel;
    if (!checkChannelRange(c)) return 0;
    if (!checkInitOpenSerialPort(1)) return 0;
    sendRadioCommand(radio::kSetChannel, c);
    const CStringA& reply = readRadioReply(radiowait::kAlignChannels);
    m_statusText += reply;
    if (!reply.IsEmpty() && holds(reply, "Success")) {
        m_radioChnl = static_cast<std::uint8_t>(c);
        m_hostChnl = static_cast<std::uint8_t>(c);
        m_confirmedChnl = c;
        m_chnlLearned = true;
        return 1;
    }
    return 0;
}

int CConfigComRadio02Ble::set_channelHostOverrideDongle(CDialog* /*dlg*/, int channel) {
    FlagReset reset{m_hostOverride};
    if (!checkChannelRange(channel)) return 0;
    m_hostOverride = 1;
    if (!checkInitOpenSerialPort(1)) return 0;
    sendRadioCommand(radio::kHostOverride, channel);
    const CStringA& reply = readRadioReply(radiowait::kHostOverride);
    if (reply.IsEmpty()) {
        m_statusText = "Radio channel override host without response, try differenct radio channel?";
        return 0;
    }
    if (holds(reply, "Success: Host override")) {
        const int n = extractNumber(reply, "number:");
        if (n >= 1 && n <= 25) m_hostChnl = static_cast<std::uint8_t>(n);
        m_statusText = reply;
        return 1;
    }
    m_statusText = reply;
    return 0;
}

int CConfigComRadio02Ble::system_status(CDialog* /*dlg*/) {
    if (!m_pSerialPort) {
        m_statusText = CStringA(m_portName) + "(Serial port) is not opened";
        return 0;
    }
    sendRadioCommand(radio::kSystemStatus, -1);
    const CStringA& reply = readRadioReply(radiowait::kSystemStatus);
    if (reply.IsEmpty()) {
        m_statusText = "Getting Ratio System Status error: return empty ";
        return 0;
    }
    m_statusText = reply;
    return holds(reply, "Success") ? 1 : 0;
}

int CConfigComRadio02Ble::print_bytes(CDialog* /*dlg*/) {
    if (!checkInitOpenSerialPort(1)) return 0;
    const CStringA& reply = readRadioReply(radiowait::kPrintBytes);
    if (reply.IsEmpty()) {
        m_statusText = kReadError;
        return 0;
    }
    if (holds(reply, "Failure: Communications timeout - Device failed to poll Host$$$")) {
        m_statusText = kNoBoard;
        return 0;
    }
    if (holds(reply, "Failure: System is Down")) {
        m_statusText =
            "Cyton dongle could not connect to the board. Perhaps they are on different channels? \n\nTry pressing "
            "Auto-Scan.";
        return 0;
    }
    if (holds(reply, "Success: System is Up") || holds(reply, "Success: Host and Device on Channel number")) {
        m_statusText = "Success: Cyton and Dongle are paired. \n\nReady to Start Session!";
        return 1;
    }
    if (m_hostOverride == 0 && m_scanning != 0 && holds(reply, "Success: Host override")) {
        m_statusText = "Please press Auto-Scan one more time.";
        return 1;
    }
    m_statusText = reply;
    return 0;
}

int CConfigComRadio02Ble::scan_channels(CDialog* dlg) {
    FlagReset reset{m_scanning};
    m_scanning = 1;
    if (!checkInitOpenSerialPort(1)) return 0;
    for (int c = 1; c <= 25; ++c) {
        set_channelHostOverrideDongle(dlg, c);
        get_channelDeviceHost(dlg);
        m_statusText.AppendFormat("\n HostOverRide:%d GetChannel:%d %d \n", c, static_cast<int>(m_hostChnl),
                                  static_cast<int>(m_radioChnl));
        system_status(dlg);
        if (!m_lastReply.IsEmpty() && holds(m_lastReply, "Success")) return 1;
    }
    return 0;
}

int CConfigComRadio02Ble::reAlignDeviceHostChan(CDialog* dlg) {
    if (!checkInitOpenSerialPort(1)) return 0;
    FlagReset reset{m_scanning};
    m_scanning = 1;
    if (!get_channelDeviceHost(dlg)) {
        m_statusText += "\nCannot get channel to re-aligh!";
        return 0;
    }
    set_channelHostOverrideDongle(dlg, m_radioChnl);
    get_channelDeviceHost(dlg);
    m_statusText.AppendFormat("\n HostOverRide:%d GetChannel:%d \n", static_cast<int>(m_radioChnl),
                              static_cast<int>(m_radioChnl));
    system_status(dlg);
    return (!m_lastReply.IsEmpty() && holds(m_lastReply, "Success")) ? 1 : 0;
}
