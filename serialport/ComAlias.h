// How Linux serial devices appear under Windows-style "COMn" names. The alias
// is derived from the device path alone, so it is stable across runs:
//   /dev/ttyUSB<k>  -> COM<k+1>      (FTDI and other USB-serial adapters)
//   /dev/ttyACM<k>  -> COM<k+33>
//   /dev/ttyS<k>    -> COM<k+65>
//   /dev/pts/<k>    -> COM<k+101>    (pseudo-terminals, e.g. mbeeg-sim)
//   memory port <k> -> COM<k+201>    (built-in simulated dongles)
// Other paths get numbers from 401 on, in the order they are first seen.
#pragma once

#include <string>

namespace mbeeg::serial {
std::string aliasForPath(const std::string& path);
// The device path of an alias or path ("" when unknown).
std::string pathForName(const std::string& nameOrPath);
}  // namespace mbeeg::serial
