// What a port backend provides to CMegSerialPortzq: an open channel with
// bounded reads. Real ports use libserialport (or termios for ttys it cannot
// describe); memory ports connect to a simulated device in this process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace mbeeg::serial {

struct PortDescription {
    std::string path;          // device path, or "mem:<n>" for a memory port
    std::string alias;         // "COMn"
    std::string deviceId;      // "FTDIBUS\VID_0403+PID_6015+<serial>" for an FTDI dongle
    std::string manufacturer;
    std::string description;
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    std::string serial;
};

class Channel {
public:
    virtual ~Channel() = default;
    // false when the port failed (unplugged, closed underneath).
    virtual bool write(const std::uint8_t* data, std::size_t n) = 0;
    // Waits up to timeoutUs for at least one byte (0: do not wait); returns the
    // count read, 0 on time-out, -1 when the port failed.
    virtual long read(std::uint8_t* buf, std::size_t max, std::int64_t timeoutUs) = 0;
    // Discards pending input and output.
    virtual void purge() = 0;
    // 8N1, no flow control, at baud.
    virtual bool configure(unsigned baud) = 0;
    virtual bool setLowLatency() = 0;  // FTDI latency timer 1 ms where exposed
    // Best effort: real ports toggle DTR/RTS and re-open; false if the port is gone.
    virtual bool resetDevice() = 0;
    // The clock the read waits run on: the platform clock for memory ports
    // (virtual in tests), real time for OS ports, whose waits happen in the
    // kernel. Callers measure their own deadlines on it.
    virtual platform::Clock& clock() = 0;
    // How long a write may wait for the OS to take the bytes (real ports).
    virtual void setWriteTimeoutMs(int) {}
    // Why the last failure happened, for messages.
    virtual std::string lastError() const { return {}; }
    // For waiting on several ports at once: an OS port's descriptor to poll
    // for input (-1 for memory ports)...
    virtual int inputFd() { return -1; }
    // ...and a memory port's time its next byte is due (INT64_MAX: none
    // coming; OS ports: unknown, INT64_MAX).
    virtual std::int64_t nextInputUs(std::int64_t nowUs) {
        (void)nowUs;
        return INT64_MAX;
    }
};

// Waits until one of the channels has input (or has failed), at most
// timeoutUs on the platform clock (memory ports) or in real time (OS ports).
// ready[i] is set for every channel with something to read. Returns how many.
int waitForInput(Channel* const* channels, std::size_t n, std::int64_t timeoutUs, std::vector<char>& ready);

// A simulated device behind a memory port; implemented by the simulator.
// All times are on the platform clock. Called from any thread: implementations
// lock themselves.
class MemoryDevice {
public:
    virtual ~MemoryDevice() = default;
    virtual bool plugged() const = 0;
    // Bytes the PC wrote.
    virtual void receive(const std::uint8_t* data, std::size_t n, std::int64_t nowUs) = 0;
    // Bytes due to the PC by nowUs, at most max.
    virtual std::size_t transmit(std::uint8_t* out, std::size_t max, std::int64_t nowUs) = 0;
    // When the next byte will be due (at or after nowUs), or INT64_MAX if none is coming.
    virtual std::int64_t nextTransmitUs(std::int64_t nowUs) = 0;
    // The PC changed the line rate.
    virtual void lineRate(unsigned) {}
};

// Registers a memory port; it is listed by the enumerator with the given
// description (alias and deviceId included) and opened by alias or path.
// An empty alias is filled from the path (serialport/ComAlias.h). A memory port
// is open by one port object at a time, as COM ports are on Windows.
// Unregistering a port that is open makes it fail like an unplugged device.
void registerMemoryPort(const PortDescription& desc, std::shared_ptr<MemoryDevice> device);
void unregisterMemoryPort(const std::string& path);
void clearMemoryPorts();

// Real ports (libserialport / termios) are listed unless disabled here or by
// MBEEG_NO_REAL_PORTS=1; tests and the built-in simulator turn them off so that
// only memory ports are seen.
void setRealPortsEnabled(bool enabled);
// Pseudo-terminal paths served by mbeeg-sim are listed as FTDI dongles when
// named in MBEEG_SIM_PORTS (comma-separated paths), whether or not real ports
// are enabled: the k-th path (from 1) gets the identifier
// "FTDIBUS\VID_0403+PID_6015+MBSIM<k>" and the description "mbeeg-sim dongle".

// Windows-style device identifier of a USB serial port:
// "FTDIBUS\VID_0403+PID_6015+<serial>" for FTDI (one backslash), else
// "USB\VID_xxxx&PID_xxxx\<serial>".
std::string usbDeviceId(std::uint16_t vid, std::uint16_t pid, const std::string& serial);
// The description of memory port k ("mem:<k>", alias COM<k+201>) listed as an
// FTDI dongle (VID 0403, PID 6015) with the given serial number.
PortDescription memoryDongleDescription(int k, const std::string& serial,
                                        const std::string& description = "mbeeg-sim dongle");

// Sees every block of bytes written to any port (port name, bytes), so that a
// program can say what a long operation is doing; empty to stop.
using TrafficObserver = std::function<void(const std::string& port, const std::uint8_t* data, std::size_t n)>;
void setTrafficObserver(TrafficObserver observer);
void notifyTraffic(const std::string& port, const std::uint8_t* data, std::size_t n);

// Every port of every backend, sorted by alias number.
std::vector<PortDescription> enumeratePorts();
// Opens by alias ("COM7") or device path; null with a reason on failure.
// Exclusive: no other process may open the tty meanwhile (memory ports are
// always exclusive within this process).
std::unique_ptr<Channel> openPort(const std::string& nameOrPath, std::string& error, bool exclusive = true);

}  // namespace mbeeg::serial
