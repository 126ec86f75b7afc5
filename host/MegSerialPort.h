// The host's serial-port library: one port (CMegSerialPortzq) and the port
// enumerator (CFaceMegSerialPortzq). Implemented in serialport/ on two kinds of
// backend: real ports (libserialport, or termios for ttys it cannot describe)
// and in-memory ports into which a simulated dongle plugs.
//
// Port names: the driver looks for "COM" in names, so every port is known by a
// "COMn" alias (see serialport/ComAlias.h); a device path is accepted too
// wherever a port is opened.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "platform/afxstr.h"

namespace mbeeg::serial {
class Channel;  // an open port of some backend (serialport/Backend.h)
}

// One port as the enumerator reports it. The first five fields are the ones the
// driver reads by position: port name, device identifier, manufacturer,
// description, system location.
struct QSerialPortInfoPrivate {
    CString portName;        // "COMn"
    CString device;          // Windows-style identifier, "FTDIBUS\VID_0403+PID_6015+<serial>" for a dongle
    CString manufacturer;
    CString description;
    CString systemLocation;  // the device path, e.g. /dev/ttyUSB0
    std::uint16_t vendorIdentifier = 0;
    std::uint16_t productIdentifier = 0;
    CString serialNumber;
    bool hasVendorIdentifier = false;
    bool hasProductIdentifier = false;
};

class CMegSerialPortzq {
public:
    CMegSerialPortzq();
    CMegSerialPortzq(const CString& portName, unsigned int baudRate);
    ~CMegSerialPortzq();
    CMegSerialPortzq(const CMegSerialPortzq&) = delete;
    CMegSerialPortzq& operator=(const CMegSerialPortzq&) = delete;

    // Opens by "COMn" alias or device path; the object keeps the name.
    int openRW(const CString& portName, int synchronous, int exclusive);
    int openSynRW(const CString& portName, int flag);
    int isOpen() const;
    // 8N1, no flow control, at the dongle's baud rate.
    int setupCom4Eeg(unsigned int baudRate);
    // USB-serial tuning: reply read timeout (ms) and, where the system exposes
    // it, the FTDI latency timer set to 1 ms.
    int setting4UsbVc(int readTimeoutMs, int flags);
    int closeCom(int mayReopen);

    // Writes; each returns 1 when every byte went out, 0 otherwise.
    int writeSynCmdUc1(unsigned char byte);
    int writeCmdUc1(unsigned char byte, int waitMs);
    int writeCmdUca(const unsigned char* bytes, int count, int waitMs);
    int writeSynWaitCmdC(const char* text, int length, int waitMs);

    // Purges, writes the command, then collects the reply that comes within
    // waitMs (returning early once the reply has gone quiet or ended in "$$$").
    int sendCmdGetRspst(const CStringA& command, CStringA& reply, int waitMs);
    // Everything received as one string: waits up to waitMs for the first byte,
    // then keeps reading until gapMs pass without a byte (bounded in total).
    CStringA readSynWaitAll2StrA(int gapMs, int waitMs);
    // Returns what is waiting, up to count bytes; when nothing is waiting it
    // waits at most the stream read wait (one sample period) for a byte.
    // 0 when nothing came, never negative.
    int reads(unsigned char* buffer, int count);

    void purgeAll();
    void clearBuf();
    int resetDevice();

    CString getPortName() const { return m_portName; }
    unsigned int getBaudRate() const { return m_baudRate; }
    // Why the last operation failed ("" after a success); for messages.
    CStringA lastError() const { return m_lastError; }
    // The port has failed for good (unplugged): reads and writes fail.
    bool isBroken() const { return m_broken; }
    // Stream read wait in microseconds used by reads() (default 4000).
    void setStreamReadWaitUs(int us) { m_streamWaitUs = us; }

private:
    bool writeAll(const unsigned char* data, size_t n);
    void fail(const char* what);

    std::unique_ptr<mbeeg::serial::Channel> m_channel;
    CString m_portName;
    unsigned int m_baudRate = 115200;
    int m_replyTimeoutMs = 1000;
    int m_streamWaitUs = 4000;
    bool m_broken = false;
    CStringA m_lastError;
};

class CFaceMegSerialPortzq {
public:
    CFaceMegSerialPortzq();
    ~CFaceMegSerialPortzq();
    CFaceMegSerialPortzq(const CFaceMegSerialPortzq&) = delete;
    CFaceMegSerialPortzq& operator=(const CFaceMegSerialPortzq&) = delete;

    // Port number and name of every port.
    std::vector<std::pair<int, CString>> getPortInfo();
    // Every port with its identifiers, in "COMn" order.
    std::vector<QSerialPortInfoPrivate> getComVidPidInfo();
    // Closes every port that was opened through this enumerator.
    int closeAllPorts();
};
