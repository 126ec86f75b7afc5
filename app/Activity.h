// What the driver is doing on the serial ports right now, in words, for the
// progress line of long operations such as discovery.
#pragma once

#include <string>

namespace app {
// Watches every write to a serial port; with --trace each write is printed
// too ("trace: COM201 <- f0 00", text in quotes), so that one can see what
// reached a dongle and what did not.
void watchSerialActivity();
std::string currentActivity();
}  // namespace app
