// Plain POSIX ttys: the path for ttys libserialport cannot describe, chiefly
// the pseudo-terminals mbeeg-sim serves. Waits happen in poll(), in real time.
#include <fcntl.h>
#include <poll.h>
#include <dirent.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "serialport/BackendInternal.h"
#include "serialport/ComAlias.h"

namespace mbeeg::serial::detail {

namespace {

std::string sysError(const std::string& path, const char* what) {
    return path + ": " + what + ": " + std::strerror(errno);
}

bool speedFor(unsigned baud, speed_t& out) {
    struct Pair {
        unsigned baud;
        speed_t speed;
    };
    static const Pair table[] = {
        {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
        {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
        {921600, B921600}, {1000000, B1000000}, {2000000, B2000000},
    };
    for (const Pair& p : table)
        if (p.baud == baud) {
            out = p.speed;
            return true;
        }
    return false;
}

// 8N1, raw, no flow control.
bool applyLine(int fd, unsigned baud, const std::string& path, std::string& error) {
    speed_t speed;
    if (!speedFor(baud, speed)) {
        error = path + ": unsupported baud rate " + std::to_string(baud);
        return false;
    }
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        error = sysError(path, "tcgetattr");
        return false;
    }
    ::cfmakeraw(&t);
    t.c_cflag &= ~(PARENB | CSTOPB | CSIZE | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        error = sysError(path, "tcsetattr");
        return false;
    }
    return true;
}

int openTty(const std::string& path, bool exclusive, std::string& error) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // EBUSY: another program holds it exclusively.
        error = errno == EBUSY ? inUseMessage(path) : sysError(path, "open");
        return -1;
    }
    if (!::isatty(fd)) {
        error = path + ": not a serial device";
        ::close(fd);
        return -1;
    }
    if (exclusive && !lockPort(fd, path, error)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void closeTty(int fd) {
    unlockPort(fd);
    ::close(fd);
}

class TermiosChannel final : public Channel {
public:
    TermiosChannel(std::string path, int fd, bool exclusive) : path_(std::move(path)), fd_(fd), exclusive_(exclusive) {}
    ~TermiosChannel() override {
        if (fd_ >= 0) closeTty(fd_);
    }

    bool write(const std::uint8_t* data, std::size_t n) override {
        if (fd_ < 0) return fail(path_ + ": port closed");
        return pollWriteAll(fd_, data, n, writeTimeoutMs_, error_);
    }
    long read(std::uint8_t* buf, std::size_t max, std::int64_t timeoutUs) override {
        if (fd_ < 0) {
            error_ = path_ + ": port closed";
            return -1;
        }
        return pollRead(fd_, buf, max, timeoutUs, error_);
    }
    void purge() override {
        if (fd_ >= 0) ::tcflush(fd_, TCIOFLUSH);
    }
    bool configure(unsigned baud) override {
        if (fd_ < 0) return fail(path_ + ": port closed");
        if (!applyLine(fd_, baud, path_, error_)) return false;
        baud_ = baud;
        return true;
    }
    bool setLowLatency() override { return setFtdiLatency1ms(path_); }
    bool resetDevice() override {
        if (fd_ >= 0) {
            int lines = TIOCM_DTR | TIOCM_RTS;
            // ptys have no modem lines; the re-open below is the reset then.
            if (::ioctl(fd_, TIOCMBIC, &lines) == 0) {
                platform::clock().sleepMs(50);
                ::ioctl(fd_, TIOCMBIS, &lines);
            }
            closeTty(fd_);
            fd_ = -1;
        }
        fd_ = openTty(path_, exclusive_, error_);
        if (fd_ < 0) return false;
        return baud_ == 0 || applyLine(fd_, baud_, path_, error_);
    }
    platform::Clock& clock() override { return realClock(); }
    void setWriteTimeoutMs(int ms) override { writeTimeoutMs_ = ms > 0 ? ms : 1000; }
    std::string lastError() const override { return error_; }
    int inputFd() override { return fd_; }

private:
    bool fail(std::string why) {
        error_ = std::move(why);
        return false;
    }
    std::string path_;
    int fd_;
    bool exclusive_;
    unsigned baud_ = 0;
    int writeTimeoutMs_ = 1000;
    std::string error_;
};

}  // namespace

std::string inUseMessage(const std::string& path) {
    // Whoever has the device open: a look through every process's files.
    char real[PATH_MAX];
    const std::string target = ::realpath(path.c_str(), real) ? real : path;
    int holder = 0;
    if (DIR* procs = ::opendir("/proc")) {
        while (dirent* p = ::readdir(procs)) {
            const int pid = std::atoi(p->d_name);
            if (pid <= 0 || holder) continue;
            const std::string fds = std::string("/proc/") + p->d_name + "/fd";
            DIR* d = ::opendir(fds.c_str());
            if (!d) continue;
            while (dirent* f = ::readdir(d)) {
                char link[PATH_MAX];
                const ssize_t n = ::readlink((fds + "/" + f->d_name).c_str(), link, sizeof link - 1);
                if (n > 0 && std::string(link, static_cast<size_t>(n)) == target) {
                    holder = pid;
                    break;
                }
            }
            ::closedir(d);
        }
        ::closedir(procs);
    }
    return aliasForPath(path) + " is in use by another program" +
           (holder ? " (pid " + std::to_string(holder) + ")" : std::string());
}

bool lockPort(int fd, const std::string& path, std::string& error) {
    if (::ioctl(fd, TIOCEXCL) != 0) {
        error = sysError(path, "TIOCEXCL");
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::ioctl(fd, TIOCNXCL);
        error = errno == EWOULDBLOCK ? inUseMessage(path) : sysError(path, "flock");
        return false;
    }
    return true;
}

void unlockPort(int fd) {
    ::flock(fd, LOCK_UN);
    ::ioctl(fd, TIOCNXCL);
}

platform::Clock& realClock() {
    static platform::RealClock c;
    return c;
}

long pollRead(int fd, std::uint8_t* buf, std::size_t max, std::int64_t timeoutUs, std::string& error) {
    if (max == 0) return 0;
    const platform::Deadline deadline(realClock(), timeoutUs);
    for (;;) {
        const std::int64_t left = deadline.leftUs();
        timespec ts{static_cast<time_t>(left / 1'000'000), static_cast<long>(left % 1'000'000) * 1000};
        pollfd p{fd, POLLIN, 0};
        int r = ::ppoll(&p, 1, &ts, nullptr);
        if (r < 0) {
            if (errno == EINTR) continue;
            error = std::string("poll: ") + std::strerror(errno);
            return -1;
        }
        if (r == 0) return 0;
        if (p.revents & POLLNVAL) {
            error = "port closed";
            return -1;
        }
        if (p.revents & POLLIN) {
            ssize_t n = ::read(fd, buf, max);
            if (n > 0) return static_cast<long>(n);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                if (deadline.passed()) return 0;
                continue;
            }
            error = n == 0 ? std::string("device hung up") : std::string("read: ") + std::strerror(errno);
            return -1;
        }
        error = "device hung up";  // POLLHUP / POLLERR without data
        return -1;
    }
}

bool pollWriteAll(int fd, const std::uint8_t* data, std::size_t n, int timeoutMs, std::string& error) {
    const platform::Deadline deadline = platform::Deadline::inMs(realClock(), timeoutMs);
    std::size_t done = 0;
    while (done < n) {
        ssize_t w = ::write(fd, data + done, n - done);
        if (w > 0) {
            done += static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno != EAGAIN) {
            error = std::string("write: ") + std::strerror(errno);
            return false;
        }
        const std::int64_t left = deadline.leftUs();
        if (left <= 0) {
            error = "write timed out";
            return false;
        }
        pollfd p{fd, POLLOUT, 0};
        int r = ::poll(&p, 1, static_cast<int>((left + 999) / 1000));
        if (r < 0 && errno != EINTR) {
            error = std::string("poll: ") + std::strerror(errno);
            return false;
        }
        if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            error = "device hung up";
            return false;
        }
    }
    return true;
}

bool setFtdiLatency1ms(const std::string& path) {
    char resolved[PATH_MAX];
    std::string real = ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
    std::string name = real.substr(real.find_last_of('/') + 1);
    if (name.rfind("ttyUSB", 0) != 0) return false;
    std::ofstream f("/sys/bus/usb-serial/devices/" + name + "/latency_timer");
    if (!f) return false;
    f << "1";
    f.flush();
    return static_cast<bool>(f);
}

std::unique_ptr<Channel> openTermiosPort(const std::string& path, bool exclusive, std::string& error) {
    int fd = openTty(path, exclusive, error);
    if (fd < 0) return nullptr;
    return std::make_unique<TermiosChannel>(path, fd, exclusive);
}

}  // namespace mbeeg::serial::detail
