#include "sim/PtyServer.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/clock.h"
#include "sim/World.h"

namespace sim {

namespace {
// A PC that does not read loses what does not fit, as an FTDI chip's buffer would.
constexpr std::size_t kPendingCap = 16 * 1024;
// How often the PC's line rate is looked at.
constexpr std::int64_t kRatePollUs = 50'000;
// Longest sleep when nothing is due, so that a stop request is seen soon.
constexpr std::int64_t kIdleUs = 100'000;

unsigned speedValue(speed_t s) {
    switch (s) {
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    case B460800: return 460800;
    case B921600: return 921600;
    default: return 0;
    }
}
}  // namespace

PtyServer::PtyServer(std::shared_ptr<World> w) : w_(std::move(w)) {}

PtyServer::~PtyServer() {
    for (auto& p : ports_) {
        if (p.slave >= 0) ::close(p.slave);
        if (p.master >= 0) ::close(p.master);
    }
}

bool PtyServer::open(std::string& error) {
    const int n = w_->boardCount();
    for (int k = 0; k < n; ++k) {
        Port p;
        p.master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (p.master < 0 || ::grantpt(p.master) != 0 || ::unlockpt(p.master) != 0) {
            error = std::string("posix_openpt: ") + std::strerror(errno);
            if (p.master >= 0) ::close(p.master);
            return false;
        }
        const char* name = ::ptsname(p.master);
        if (!name) {
            error = std::string("ptsname: ") + std::strerror(errno);
            ::close(p.master);
            return false;
        }
        std::string path = name;
        p.slave = ::open(path.c_str(), O_RDWR | O_NOCTTY);
        if (p.slave < 0) {
            error = path + ": " + std::strerror(errno);
            ::close(p.master);
            return false;
        }
        // Raw bytes both ways, at the dongle's default rate.
        termios tio{};
        ::tcgetattr(p.slave, &tio);
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B115200);
        ::cfsetospeed(&tio, B115200);
        ::tcsetattr(p.slave, TCSANOW, &tio);
        ::fcntl(p.master, F_SETFL, ::fcntl(p.master, F_GETFL) | O_NONBLOCK);
        p.rate = 115200;
        ports_.push_back(std::move(p));
        paths_.push_back(path);
    }
    return true;
}

void PtyServer::pollLineRate(int k) {
    Port& p = ports_[k];
    termios tio{};
    if (::tcgetattr(p.slave, &tio) != 0) return;
    unsigned rate = speedValue(::cfgetospeed(&tio));
    if (rate == 0 || rate == p.rate) return;
    p.rate = rate;
    std::lock_guard<std::recursive_mutex> lock(w_->mutex());
    w_->dongle(k).setPcRate(rate);
}

void PtyServer::run(const std::atomic<bool>& stop) {
    platform::Clock& clock = platform::clock();
    const int n = static_cast<int>(ports_.size());
    std::vector<pollfd> fds(n);
    std::uint8_t buf[4096];
    std::int64_t nextRatePoll = 0;

    while (!stop.load()) {
        std::int64_t now = clock.nowUs();
        if (now >= nextRatePoll) {
            for (int k = 0; k < n; ++k) pollLineRate(k);
            nextRatePoll = now + kRatePollUs;
        }
        std::int64_t next = now + kIdleUs;
        {
            std::lock_guard<std::recursive_mutex> lock(w_->mutex());
            w_->advance(now);
            for (int k = 0; k < n; ++k) {
                Port& p = ports_[k];
                DongleModel& d = w_->dongle(k);
                std::size_t got;
                while ((got = d.toPc(buf, sizeof buf, now)) > 0) {
                    std::size_t room = kPendingCap > p.pending.size() ? kPendingCap - p.pending.size() : 0;
                    p.pending.append(reinterpret_cast<const char*>(buf), std::min(got, room));
                }
                next = std::min(next, w_->nextByteUs(k, now));
            }
        }
        for (int k = 0; k < n; ++k) {
            Port& p = ports_[k];
            while (!p.pending.empty()) {
                ssize_t w = ::write(p.master, p.pending.data(), p.pending.size());
                if (w <= 0) break;
                p.pending.erase(0, static_cast<std::size_t>(w));
            }
            fds[k].fd = p.master;
            fds[k].events = POLLIN | (p.pending.empty() ? 0 : POLLOUT);
            fds[k].revents = 0;
        }
        std::int64_t waitUs = std::clamp<std::int64_t>(next - clock.nowUs(), 0, kIdleUs);
        timespec ts{static_cast<time_t>(waitUs / 1'000'000), static_cast<long>((waitUs % 1'000'000) * 1000)};
        int r = ::ppoll(fds.data(), fds.size(), &ts, nullptr);
        if (r <= 0) continue;  // time-out, or a signal asking us to stop
        for (int k = 0; k < n; ++k) {
            if (!(fds[k].revents & POLLIN)) continue;
            ssize_t got = ::read(ports_[k].master, buf, sizeof buf);
            if (got <= 0) continue;
            pollLineRate(k);  // a PC that just set its rate writes at it
            std::lock_guard<std::recursive_mutex> lock(w_->mutex());
            std::int64_t t = clock.nowUs();
            w_->advance(t);
            w_->dongle(k).fromPc(buf, static_cast<std::size_t>(got), t, *w_);
        }
    }
}

}  // namespace sim
