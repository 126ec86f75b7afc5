// How Linux serial devices appear under Windows-style "COMn" names. The alias
// is derived from the device path alone, so it is stable across runs:
//   /dev/ttyUSB<k>  -> COM<k+1>      (FTDI and other USB-serial adapters)
//   /dev/ttyACM<k>  -> COM<k+33>
//   /dev/ttyS<k>    -> COM<k+65>
//   /dev/pts/<k>    -> COM<k+101>    (pseudo-terminals, e.g. mbeeg-sim)
//   memory port <k> -> COM<k+201>    (built-in simulated dongles, path "mem:<k>")
// Other paths, and numbers that would run into the next range, get numbers
// from 401 on, in the order they are first seen (per process; thread-safe).
#pragma once

#include <string>

namespace mbeeg::serial {
std::string aliasForPath(const std::string& path);
// The device path of an alias or path ("" when unknown). Aliases are "COMn"
// in any case, optionally written "\\.\COMn"; anything else is taken as a path.
std::string pathForName(const std::string& nameOrPath);
// The number n of "COMn" (any case), or 0 when the name is no alias.
int aliasNumber(const std::string& name);
}  // namespace mbeeg::serial
