// Serves the dongles of a World as pseudo-terminals in real time, so that
// other processes open them as serial ports. One thread polls all of them:
// bytes the PC writes go to the dongle, bytes the dongle has due go out, and
// between the two the thread sleeps until the next byte is due.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace sim {

class World;

class PtyServer {
public:
    explicit PtyServer(std::shared_ptr<World> w);
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // Opens one pseudo-terminal per dongle; false with a reason on failure.
    bool open(std::string& error);
    const std::vector<std::string>& slavePaths() const { return paths_; }
    // Serves until `stop` becomes true.
    void run(const std::atomic<bool>& stop);

private:
    struct Port {
        int master = -1;
        int slave = -1;  // kept open so the pty never hangs up between clients
        std::string pending;  // due bytes the pty did not take yet
        unsigned rate = 0;
    };
    void pollLineRate(int k);

    std::shared_ptr<World> w_;
    std::vector<Port> ports_;
    std::vector<std::string> paths_;
};

}  // namespace sim
