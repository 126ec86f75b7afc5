// Watches the boards while monitoring or recording: a line on stderr when one
// goes silent or comes back, the end of a run when every board has been
// silent too long, and the exit status the run has earned.
#pragma once

#include <string>
#include <vector>

#include "driver/DriveOpnBciMutiBoardzq.h"

namespace app {

// What the programs' exit status says; --help lists them.
enum ExitCode {
    kExitOk = 0,
    kExitFailed = 1,       // no boards, the acquisition did not start, or nothing could be saved
    kExitUsage = 2,        // a value on the command line that cannot be
    kExitBoardLost = 3,    // a board was lost for longer than --max-lost
    kExitFewerBoards = 4,  // fewer boards than --expect-boards
    kExitAllSilent = 5,    // every board silent for --silent-stop: stopped, what came is saved
    kExitInterrupted = 6,  // stopped by a signal before its end: what came is saved
};
extern const char* const kExitCodesHelp;

struct WatchLimits {
    double maxLostS = 1.0;
    double silentStopS = 10.0;
    int expectBoards = 0;  // 0: any number
};

class BoardWatch {
public:
    BoardWatch(CDriveOpnBciMutiBoardzq& drv, double rate, const WatchLimits& limits);
    // One look: warns of boards that went silent or came back; true once
    // every board has been silent for longer than the limit.
    bool look();
    // After the run: the exit status, with a line on stderr for each reason.
    int verdict(bool interrupted, bool stoppedSilent) const;
    // Whether as many boards were found as asked for (says so when not).
    bool enoughBoards() const;
    // Board b's port as it was before the run; the reading thread may be
    // setting the port's own name again as it reconnects.
    const std::string& port(size_t b) const { return ports_[b]; }

private:
    std::string name(size_t b) const;

    CDriveOpnBciMutiBoardzq& drv_;
    double rate_;
    WatchLimits limits_;
    // What was seen at the last look: a board may go and come back between
    // two looks, so its counts of outages and returns tell, not its state.
    std::vector<std::uint64_t> outages_, returns_;
    // Taken before the run: the reading thread sets a port's name again when
    // it reopens the port.
    std::vector<std::string> ports_, names_;
    std::int64_t allSilentSinceUs_ = -1;
};

}  // namespace app
