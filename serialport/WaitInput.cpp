// One wait over many ports, so that a reading loop sleeps until some board
// has bytes instead of waking for each port in turn.
#include <poll.h>

#include <algorithm>
#include <ctime>

#include "serialport/Backend.h"

namespace mbeeg::serial {

namespace {

int pollFds(std::vector<pollfd>& fds, std::int64_t timeoutUs) {
    if (fds.empty()) return 0;
    timespec ts{static_cast<time_t>(timeoutUs / 1000000), static_cast<long>(timeoutUs % 1000000) * 1000};
    int r = ::ppoll(fds.data(), fds.size(), &ts, nullptr);
    return r < 0 ? 0 : r;
}

}  // namespace

int waitForInput(Channel* const* channels, std::size_t n, std::int64_t timeoutUs, std::vector<char>& ready) {
    ready.assign(n, 0);
    std::vector<pollfd> fds;
    std::vector<std::size_t> at;
    bool memory = false;
    for (std::size_t i = 0; i < n; ++i) {
        if (!channels[i]) continue;
        const int fd = channels[i]->inputFd();
        if (fd >= 0) {
            fds.push_back({fd, POLLIN, 0});
            at.push_back(i);
        } else {
            memory = true;
        }
    }
    auto collect = [&]() {
        int count = 0;
        for (std::size_t k = 0; k < fds.size(); ++k) {
            if (fds[k].revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) {
                ready[at[k]] = 1;
                ++count;
            }
        }
        return count;
    };
    timeoutUs = std::max<std::int64_t>(timeoutUs, 0);
    if (!memory) {
        pollFds(fds, timeoutUs);
        return collect();
    }
    // Memory ports run on the platform clock, which may be virtual: sleep
    // on it until the first byte is due.
    platform::Clock& c = platform::clock();
    const platform::Deadline deadline(c, timeoutUs);
    std::int64_t now = c.nowUs();
    for (;;) {
        int count = 0;
        std::int64_t due = INT64_MAX;
        for (std::size_t i = 0; i < n; ++i) {
            if (!channels[i] || channels[i]->inputFd() >= 0) continue;
            const std::int64_t t = channels[i]->nextInputUs(now);
            if (t <= now) {
                ready[i] = 1;
                ++count;
            } else {
                due = std::min(due, t);
            }
        }
        pollFds(fds, 0);
        count += collect();
        if (count > 0 || deadline.passed()) return count;
        c.sleepUntilUs(std::min(deadline.atUs(), due));
        now = c.nowUs();
    }
}

}  // namespace mbeeg::serial
