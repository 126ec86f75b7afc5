// What the backends offer the port registry; not for use outside serialport/.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "serialport/Backend.h"

namespace mbeeg::serial::detail {

// libserialport: every port it can describe, with USB identifiers.
std::vector<PortDescription> listLibSerialPorts();
// null with a reason when libserialport cannot open or describe the path.
std::unique_ptr<Channel> openLibSerialPort(const std::string& path, bool exclusive, std::string& error);

// Plain termios, for ttys libserialport does not know (pseudo-terminals).
std::unique_ptr<Channel> openTermiosPort(const std::string& path, bool exclusive, std::string& error);
// Waits up to timeoutUs on fd, then reads what is there: count, 0 on time-out,
// -1 when the tty hung up or failed (error says why).
long pollRead(int fd, std::uint8_t* buf, std::size_t max, std::int64_t timeoutUs, std::string& error);
// Writes all n bytes within timeoutMs; false (error says why) otherwise.
bool pollWriteAll(int fd, const std::uint8_t* data, std::size_t n, int timeoutMs, std::string& error);
// Takes the port for this process alone: TIOCEXCL keeps others from opening
// it (root aside), an exclusive flock keeps out other programs that lock it,
// root or not. False, with "COMn is in use by another program (pid N)" in
// error, when someone has it.
bool lockPort(int fd, const std::string& path, std::string& error);
void unlockPort(int fd);
// "COMn is in use by another program", with the pid of one that holds it.
std::string inUseMessage(const std::string& path);
// Sets the FTDI latency timer of /dev/ttyUSBn to 1 ms through sysfs.
bool setFtdiLatency1ms(const std::string& path);
// Clock for waits that happen in the kernel.
platform::Clock& realClock();

// Memory ports.
std::vector<PortDescription> listMemoryPorts();
// null (error empty) when no memory port has this alias or path.
std::unique_ptr<Channel> openMemoryPort(const std::string& nameOrPath, std::string& error);

}  // namespace mbeeg::serial::detail
