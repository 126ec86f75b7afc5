// What the driver is doing on the serial ports right now, in words, for the
// progress line of long operations such as discovery.
#pragma once

#include <string>

namespace app {
void watchSerialActivity();
std::string currentActivity();
}  // namespace app
