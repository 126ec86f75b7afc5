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

// One serial port. Not thread-safe: one thread uses a port at a time.
//
// Time: waits on a memory port run on platform::clock() (virtual in tests);
// waits on an OS port happen in the kernel in real time, and the deadlines of
// the operations below are measured on real time for them.
//
// Failure: a read or write that finds the device gone marks the port broken:
// isOpen() becomes 0, reads return 0 and writes 0 until it is opened again.
// lastError() says why (path and system or libserialport message).
class CMegSerialPortzq {
public:
    // Only stores the name and baud rate; nothing is opened.
    CMegSerialPortzq();
    CMegSerialPortzq(const CString& portName, unsigned int baudRate);
    ~CMegSerialPortzq();
    CMegSerialPortzq(const CMegSerialPortzq&) = delete;
    CMegSerialPortzq& operator=(const CMegSerialPortzq&) = delete;

    // Opens by "COMn" alias (any case) or device path, read-write, 8N1 at the
    // stored baud rate; a port already open is closed first. The object keeps
    // the name given, also when the open fails (0, lastError() says why).
    // exclusive != 0 keeps other processes off the tty; the synchronous flag
    // and openSynRW's flag change nothing (every port here is synchronous).
    int openRW(const CString& portName, int synchronous, int exclusive);
    int openSynRW(const CString& portName, int flag);
    // Non-zero while open and not broken.
    int isOpen() const;
    // 8N1, no flow control, at baudRate (also remembered for later opens).
    // 0 when the port is not open or the line cannot be set.
    int setupCom4Eeg(unsigned int baudRate);
    // USB-serial tuning: readTimeoutMs bounds how long a write may wait for
    // the OS (default 1000); the FTDI latency timer is set to 1 ms where
    // /sys/bus/usb-serial/devices/ttyUSBn/latency_timer exists (best effort).
    // flags is unused. 1 when the port is open.
    int setting4UsbVc(int readTimeoutMs, int flags);
    // Closes (safe to repeat, always 1). The name is kept either way so that
    // the port can be reopened with it.
    int closeCom(int mayReopen);

    // Writes; each returns 1 when every byte went out at once, 0 otherwise.
    // waitMs bounds how long the OS may take to accept the bytes.
    int writeSynCmdUc1(unsigned char byte);
    int writeCmdUc1(unsigned char byte, int waitMs);
    int writeCmdUca(const unsigned char* bytes, int count, int waitMs);
    // length < 0: up to the terminating zero.
    int writeSynWaitCmdC(const char* text, int length, int waitMs);

    // Discards pending input, writes the command, then collects what comes
    // until waitMs have passed since the write, returning early as soon as the
    // reply so far ends in "$$$". Returns 1 when the write succeeded.
    int sendCmdGetRspst(const CStringA& command, CStringA& reply, int waitMs);
    // Everything received as one string: waits up to waitMs for the first byte
    // (empty string if none comes), then keeps reading until gapMs pass without
    // a new byte or the text ends in "$$$". Never longer than waitMs + 2000 ms
    // in all, so a streaming board cannot hold the caller.
    CStringA readSynWaitAll2StrA(int gapMs, int waitMs);
    // Returns what is waiting, up to count bytes; when nothing is waiting it
    // waits at most the stream read wait (setStreamReadWaitUs) for a byte and
    // never longer. 0 when nothing came or the port is closed or broken,
    // never negative.
    int reads(unsigned char* buffer, int count);
    // What is waiting, up to count bytes, without waiting; 0 when nothing.
    int readAvailable(unsigned char* buffer, int count);
    // Waits until one of the ports has input or has failed, at most
    // timeoutUs; ready[i] is set for each such port. Ports that are missing,
    // closed or broken are left out. Returns how many are ready.
    static int waitForInput(CMegSerialPortzq* const* ports, std::size_t n, std::int64_t timeoutUs,
                            std::vector<char>& ready);

    // Both discard pending input and output.
    void purgeAll();
    void clearBuf();
    // Best effort: an OS port gets DTR/RTS toggled and is re-opened at its
    // line settings; a memory port only answers 1 while its device is there.
    int resetDevice();

    CString getPortName() const { return m_portName; }
    unsigned int getBaudRate() const { return m_baudRate; }
    int getReplyTimeoutMs() const { return m_replyTimeoutMs; }
    // Why the last operation failed ("" after a success); for messages.
    CStringA lastError() const { return m_lastError; }
    // The port has failed for good (unplugged): reads and writes fail.
    bool isBroken() const { return m_broken; }
    // Stream read wait in microseconds used by reads() (default 4000).
    void setStreamReadWaitUs(int us) { m_streamWaitUs = us; }

private:
    int openAs(const CString& portName, bool exclusive);
    bool writeAll(const unsigned char* data, size_t n, int timeoutMs = -1);
    // Channel read that marks the port broken on failure; -1 then.
    long readSome(unsigned char* buf, size_t max, std::int64_t timeoutUs);
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

    // Alias number and name ("COMn") of every port, in "COMn" order.
    std::vector<std::pair<int, CString>> getPortInfo();
    // Every port with its identifiers, in "COMn" order.
    std::vector<QSerialPortInfoPrivate> getComVidPidInfo();
    // The enumerator opens no port of its own, so there is nothing to close; 1.
    int closeAllPorts();
};
