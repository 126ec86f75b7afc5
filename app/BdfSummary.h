// Reads a recording back and summarises it: channels, samples, duration and
// each channel's range, as the file holds them.
#pragma once

#include <string>

namespace app {
// Prints the summary to stdout; false with a reason in `error` when the file
// cannot be read.
bool printBdfSummary(const std::string& path, std::string& error);
}  // namespace app
