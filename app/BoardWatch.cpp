#include "app/BoardWatch.h"

#include <cstdio>

#include "app/Console.h"
#include "platform/clock.h"

namespace app {

const char* const kExitCodesHelp =
    "Exit status of monitor and record:\n"
    "  0  done, every board delivered\n"
    "  1  failed: no boards, the acquisition did not start, or nothing could be saved\n"
    "  2  a value on the command line that cannot be\n"
    "  3  a board was lost for longer than --max-lost seconds (the data are saved)\n"
    "  4  fewer boards found than --expect-boards asks for (nothing recorded)\n"
    "  5  every board silent for --silent-stop seconds: stopped, what came is saved\n"
    "  6  stopped by a signal (Ctrl-C, SIGTERM, SIGHUP, a closed pipe) before the end: what came is saved\n";

namespace {
std::string narrow(const CString& s) { return std::string(CStringA(s).GetString()); }
}  // namespace

BoardWatch::BoardWatch(CDriveOpnBciMutiBoardzq& drv, double rate, const WatchLimits& limits)
    : drv_(drv),
      rate_(rate > 0 ? rate : 250.0),
      limits_(limits),
      outages_(drv.m_dongles.size(), 0),
      returns_(drv.m_dongles.size(), 0) {
    for (size_t b = 0; b < drv.m_dongles.size(); ++b) {
        const CConfigComRadiozq* d = drv.m_dongles[b];
        const std::string port = d && d->m_pSerialPort ? narrow(d->m_pSerialPort->getPortName()) : "?";
        ports_.push_back(port);
        names_.push_back("board " + std::to_string(b + 1) + " (" + port + ")");
    }
}

std::string BoardWatch::name(size_t b) const { return names_[b]; }

bool BoardWatch::enoughBoards() const {
    const int found = static_cast<int>(drv_.m_dongles.size());
    if (limits_.expectBoards <= 0 || found >= limits_.expectBoards) return true;
    error("found " + std::to_string(found) + " board(s), --expect-boards asks for " +
          std::to_string(limits_.expectBoards));
    return false;
}

bool BoardWatch::look() {
    bool all = !outages_.empty();
    for (size_t b = 0; b < outages_.size(); ++b) {
        const CConfigComRadiozq* d = drv_.m_dongles[b];
        if (!d) continue;
        const std::uint64_t outages = d->m_statOutages.load(), returns = d->m_statReconnects.load();
        while (outages_[b] < outages || returns_[b] < returns) {
            progressDone();
            // An outage is told before the return that ends it.
            const bool silent = outages_[b] <= returns_[b];
            error(name(b) + (silent ? " went silent: no packets" : " is back"));
            ++(silent ? outages_[b] : returns_[b]);
        }
        all = all && d->m_statSilent.load();
    }
    const std::int64_t t = platform::clock().nowUs();
    if (!all) {
        allSilentSinceUs_ = -1;
        return false;
    }
    if (allSilentSinceUs_ < 0) allSilentSinceUs_ = t;
    return static_cast<double>(t - allSilentSinceUs_) / 1e6 >= limits_.silentStopS;
}

int BoardWatch::verdict(bool interrupted, bool stoppedSilent) const {
    int code = kExitOk;
    for (size_t b = 0; b < drv_.m_dongles.size(); ++b) {
        const CConfigComRadiozq* d = drv_.m_dongles[b];
        if (!d) continue;
        const double lostS = static_cast<double>(d->m_statLongestOutage.load()) / rate_;
        if (lostS > limits_.maxLostS) {
            char line[160];
            std::snprintf(line, sizeof line, " was lost for %.1f s at a stretch (more than --max-lost %g s)", lostS,
                          limits_.maxLostS);
            error(name(b) + line);
            code = kExitBoardLost;
        }
    }
    if (stoppedSilent) {
        char line[160];
        std::snprintf(line, sizeof line, "every board was silent for %g s: stopped", limits_.silentStopS);
        error(line);
        code = kExitAllSilent;
    }
    if (interrupted) code = kExitInterrupted;
    return code;
}

}  // namespace app
