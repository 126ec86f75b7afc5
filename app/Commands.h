// The program's commands; each returns the exit status.
#pragma once

#include <string>
#include <vector>

#include "app/BoardWatch.h"
#include "app/Session.h"

namespace app {

int runPorts(const SessionOptions& opts);
int runDiscover(const SessionOptions& opts);
int runMonitor(const SessionOptions& opts, double seconds, const WatchLimits& limits);
int runRecord(const SessionOptions& opts, const std::string& out, double seconds, int trials, long long samples,
              bool force, const WatchLimits& limits);

struct RadioArgs {
    std::string action;  // get set scan override poll baud status
    std::string port;
    int value = 0;  // channel (set, override), poll time (poll), row (baud)
    bool hasValue = false;
};
// The one-line complaint about the arguments of a radio command; "" when
// they are fine. Judged before any port is opened.
std::string checkRadioArgs(const RadioArgs& args);
int runRadio(const SessionOptions& opts, const RadioArgs& args);

struct BoardArgs {
    std::string command;
    int channel = -1;
    int gain = 24;
    std::string input = "Normal";
    bool powerDown = false;
    bool noBias = false;
    bool noSrb2 = false;
    bool srb1 = false;
    int index = -1;
    std::string value;
};
// The same for a board command, as far as it can be judged before the boards
// are found (the channel's upper end depends on how many answer).
std::string checkBoardArgs(const BoardArgs& args);
int runBoard(const SessionOptions& opts, const BoardArgs& args);
int runInfo(const std::string& path);

}  // namespace app
