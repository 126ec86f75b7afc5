// What a port backend provides to CMegSerialPortzq: an open channel with
// bounded reads. Real ports use libserialport (or termios for ttys it cannot
// describe); memory ports connect to a simulated device in this process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
    virtual void purge() = 0;
    virtual bool configure(unsigned baud) = 0;
    virtual bool setLowLatency() = 0;  // FTDI latency timer 1 ms where exposed
    virtual bool resetDevice() = 0;
};

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
void registerMemoryPort(const PortDescription& desc, std::shared_ptr<MemoryDevice> device);
void unregisterMemoryPort(const std::string& path);
void clearMemoryPorts();

// Real ports (libserialport / termios) are listed unless disabled here or by
// MBEEG_NO_REAL_PORTS=1; tests and the built-in simulator turn them off so that
// only memory ports are seen.
void setRealPortsEnabled(bool enabled);
// Pseudo-terminal paths served by mbeeg-sim are listed as FTDI dongles when
// named in MBEEG_SIM_PORTS (comma-separated paths).

// Every port of every backend, sorted by alias number.
std::vector<PortDescription> enumeratePorts();
// Opens by alias ("COM7") or device path; null with a reason on failure.
std::unique_ptr<Channel> openPort(const std::string& nameOrPath, std::string& error);

}  // namespace mbeeg::serial
