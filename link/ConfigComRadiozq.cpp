#include "link/ConfigComRadiozq.h"

#include <exception>
#include <new>

#include "common/OptionTables.h"
#include "platform/msgbox.h"

namespace {
using radio::holds;

struct FlagReset {
    int& flag;
    ~FlagReset() { flag = 0; }
};
}  // namespace

CConfigComRadiozq::~CConfigComRadiozq() = default;

int CConfigComRadiozq::getRadioPolltime(int /*unused*/) {
    if (!m_pSerialPort && !connect_to_portName(nullptr)) return 0;
    if (!m_pSerialPort || !m_pSerialPort->isOpen()) return 0;
    sendRadioCommand(radio::kReadPollTime, -1);
    const CStringA& reply = readRadioReply(radiowait::kGetPollTime);
    if (reply.IsEmpty()) {
        m_statusText = "Get Poll-time: return empty";
        return 0;
    }
    if (holds(reply, "Success")) {
        // The value is the byte that follows the first "0x".
        const int at = reply.Find("0x");
        if (at >= 0 && at + 2 < reply.GetLength()) {
            m_pollTime = static_cast<std::uint8_t>(reply[at + 2]);
            m_pollLearned = true;
        }
    }
    m_statusText = reply;
    return 0;
}

int CConfigComRadiozq::setRadioPolltime(std::uint8_t pollTime, int /*unused*/) {
    if (!checkInitOpenSerialPort(1)) return 0;
    sendRadioCommand(radio::kSetPollTime, pollTime);
    const CStringA& reply = readRadioReply(radiowait::kSetPollTime);
    if (reply.IsEmpty()) {
        m_statusText = "Set Radio poll-time: return empty";
        return 0;
    }
    m_statusText = reply;
    if (holds(reply, "Success:")) {
        m_pollTime = static_cast<std::uint8_t>(extractNumber(reply, "Poll time:") & 0xFF);
        m_pollLearned = true;
        return 1;
    }
    return 0;
}

int CConfigComRadiozq::setHost2DriverBaudRate(CDialog* /*dlg*/, int index) {
    if (index < 0) index = 0;
    if (index > 2) index = 2;
    m_baudIndex = static_cast<std::uint32_t>(index);
    if (!checkInitOpenSerialPort(1)) return 0;
    sendRadioCommand(g_dongleBaudRows[index].radioCode, -1);
    const CStringA& reply = readRadioReply(radiowait::kSetBaud);
    if (reply.IsEmpty()) {
        m_statusText = "Radios_Config: Error reading from Serial/COM port";
        return 0;
    }
    if (holds(reply, "Success:")) {
        const int baud = extractNumber(reply, "baud rate to");
        if (baud >= 115200 && baud <= 921600) m_baudRate = static_cast<std::uint32_t>(baud);
        m_statusText = reply;
        return 1;
    }
    if (holds(reply, "Failure: Communications timeout")) {
        m_statusText = reply + "\n" + "Found dongle! No connection to the board. Please turn on the board!\n";
        return 0;
    }
    m_statusText = reply;
    return 0;
}

int CConfigComRadiozq::connectBleComCytonDaisyAuto() {
    if (m_portName.IsEmpty()) {
        AfxMessageBox(L"No Cyton Dongles!? ,Insert a USB-Serial device!", MB_OK);
        return 0;
    }
    if (!m_pSerialPort) {
        try {
            m_pSerialPort = new CMegSerialPortzq(m_portName, m_baudRate);
        } catch (const std::exception&) {
            m_pSerialPort = nullptr;
            return 0;
        }
        m_pSerialPort->setupCom4Eeg(m_baudRate);
    }
    if (m_pSerialPort->openRW(m_portName, 1, 1) && m_pSerialPort->setupCom4Eeg(m_baudRate) &&
        system_status(nullptr)) {
        get_channelDeviceHost(nullptr);
        getRadioPolltime(0);
        return 1;
    }
    return 0;
}

int CConfigComRadiozq::connectBleComCytonDaisyForce(const CString& portName) {
    if (portName.IsEmpty()) {
        AfxMessageBox(L"No Cyton Dongles!? ,Insert a USB-Serial device!", MB_OK);
        return 0;
    }
    if (!m_pSerialPort) {
        try {
            m_pSerialPort = new CMegSerialPortzq();
        } catch (const std::exception&) {
            m_pSerialPort = nullptr;
            return 0;
        }
        m_pSerialPort->setupCom4Eeg(m_baudRate);
    }
    if (m_pSerialPort->openRW(portName, 1, 1) && m_pSerialPort->setupCom4Eeg(m_baudRate) &&
        system_status(nullptr)) {
        m_portName = portName;
        get_channelDeviceHost(nullptr);
        getRadioPolltime(0);
        return 1;
    }
    return 0;
}

int CConfigComRadiozq::checkInitComBle2Board() {
    if (m_portName.IsEmpty() || m_portName.Find(L"COM") < 0) {
        AfxMessageBox(L"No Serial Port {com} device!?", MB_OK);
        return 0;
    }
    if (!m_pSerialPort && !connect_to_portName(nullptr)) {
        AfxMessageBox(L"Open serial port failed!", MB_OK);
        return 0;
    }
    if (!m_pSerialPort) {
        AfxMessageBox(L"Open serial port failed!", MB_OK);
        return 0;
    }
    if (!m_pSerialPort->isOpen()) {
        if (!m_pSerialPort->openSynRW(m_portName, 0)) {
            AfxMessageBox(L"Open serial port failed!", MB_OK);
            return 0;
        }
        m_pSerialPort->setupCom4Eeg(m_baudRate);
    }
    // A link that reports up needs no recovery.
    if (system_status(nullptr)) return 0;

    m_baudRate = 115200;
    m_baudIndex = 0;
    setHost2DriverBaudRate(nullptr, 0);
    get_channelDeviceHost(nullptr);
    m_hostChnl = m_radioChnl;
    set_channelHostOverrideDongle(nullptr, m_radioChnl);
    getRadioPolltime(0);
    return system_status(nullptr);
}

int CConfigComRadiozq::selectRadioChan4HdB(const std::vector<CConfigComRadiozq*>& paired) {
    FlagReset reset{m_scanning};
    m_scanning = 1;
    if (!checkInitOpenSerialPort(1)) return 0;
    auto pairedOn = [&paired](int c) {
        for (const CConfigComRadiozq* other : paired)
            if (other && other->m_confirmedChnl == c) return true;
        return false;
    };
    for (int h = 1; h <= 25; ++h) {
        // A paired board answers on its own channel too: listening there would
        // take it away from its dongle.
        if (pairedOn(h)) continue;
        if (!set_channelHostOverrideDongle(nullptr, h)) continue;
        if (!get_channelDeviceHost(nullptr)) continue;
        if (!system_status(nullptr) || !holds(m_lastReply, "Success")) continue;
        // The board answers on h: move both to a channel no paired dongle uses.
        for (int c = 1; c <= 25; ++c) {
            if (pairedOn(c)) continue;
            if (alignDeviceHostChannels(nullptr, static_cast<std::uint8_t>(c))) return 1;
        }
    }
    return 0;
}
