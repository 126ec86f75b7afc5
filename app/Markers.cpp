#include "app/Markers.h"

#include <CLI/CLI.hpp>
#include <arpa/inet.h>
#include <edflib.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/AcqFramework.h"

namespace app {

void addMarkerOptions(CLI::App* record, MarkerOptions& o) {
    record->add_option("--markers-udp", o.udpPort,
                       "Mark the recording with each line of text sent to this UDP port (0: a free port, which is "
                       "printed); keys 1-9 on the terminal mark it too")
        ->check(CLI::Range(0, 65535));
    record->add_option("--markers-host", o.udpHost, "Address the marker port listens on (default: loopback only)");
}

MarkerInput::MarkerInput(CMeAcqData09File& data, double rate)
    : data_(data), rate_(rate > 0 ? rate : 250) {}

MarkerInput::~MarkerInput() {
    if (thread_.joinable()) {
        const char c = 0;
        (void)!::write(wake_[1], &c, 1);
        thread_.join();
    }
    if (rawSet_) ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerm_);
    for (int fd : {udp_, wake_[0], wake_[1]})
        if (fd >= 0) ::close(fd);
}

bool MarkerInput::start(const MarkerOptions& o, std::string& error) {
    if (o.udpPort >= 0) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(o.udpPort));
        if (::inet_pton(AF_INET, o.udpHost.c_str(), &a.sin_addr) != 1) {
            error = "--markers-host " + o.udpHost + " is not an IPv4 address";
            return false;
        }
        udp_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        socklen_t len = sizeof a;
        if (udp_ < 0 || ::bind(udp_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::getsockname(udp_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            error = "--markers-udp " + std::to_string(o.udpPort) + ": " + std::strerror(errno);
            return false;
        }
        port_ = ntohs(a.sin_port);
    }
    // Keys without Enter and without echo; Ctrl-C still interrupts. Only in
    // the foreground: changing the terminal from the background stops us.
    if (::isatty(STDIN_FILENO) && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp() &&
        ::tcgetattr(STDIN_FILENO, &savedTerm_) == 0) {
        termios raw = savedTerm_;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        rawSet_ = keys_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    }
    if (udp_ < 0 && !keys_) return true;
    if (::pipe2(wake_, O_CLOEXEC) != 0) {
        error = std::string("markers: ") + std::strerror(errno);
        return false;
    }
    thread_ = std::thread([this] { run(); });
    return true;
}

void MarkerInput::run() {
    // Blocks on the inputs alone: the destructor's byte on the pipe ends it.
    pollfd fds[3] = {{wake_[0], POLLIN, 0}, {udp_, POLLIN, 0}, {keys_ ? STDIN_FILENO : -1, POLLIN, 0}};
    while (::poll(fds, 3, -1) >= 0 || errno == EINTR) {
        if (fds[0].revents) return;
        if (fds[1].revents & POLLIN) {
            char buf[512];
            const ssize_t n = ::recv(udp_, buf, sizeof buf - 1, 0);
            if (n > 0) {
                std::string text(buf, static_cast<size_t>(n));
                while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
                // A line that starts with a number puts that number into the channel.
                const long code = std::strtol(text.c_str(), nullptr, 10);
                if (!text.empty()) mark(code >= 1 && code <= 8388607 ? static_cast<int>(code) : 1, text);
            }
        }
        if (fds[2].revents & POLLIN) {
            char c = 0;
            if (::read(STDIN_FILENO, &c, 1) == 1 && c >= '1' && c <= '9') mark(c - '0', std::string("Marker ") + c);
            else if (fds[2].revents & (POLLHUP | POLLERR)) fds[2].fd = -1;
        }
    }
}

void MarkerInput::arm() {
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = true;
    for (const auto& [code, text] : early_) {
        data_.addMarker(0, code);
        data_.addAnnotation(0, CString(platform::widen(text)));
    }
    early_.clear();
}

void MarkerInput::mark(int code, const std::string& text) {
    // Until the recording has started its trials are being made.
    std::lock_guard<std::mutex> lock(mutex_);
    if (!armed_) {
        early_.emplace_back(code, text);
        return;
    }
    // The row being acquired. Trials already written may be given back, so
    // the loop's own count is asked, not the trials.
    const std::int64_t row = data_.m_rowsOut.load(std::memory_order_acquire);
    data_.addMarker(row, code);
    data_.addAnnotation(static_cast<double>(row) / rate_, CString(platform::widen(text)));
}

bool printBdfAnnotations(const std::string& path) {
    edf_hdr_struct hdr{};
    if (edfopen_file_readonly(path.c_str(), &hdr, EDFLIB_READ_ALL_ANNOTATIONS) < 0) return false;
    for (long long i = 0; i < hdr.annotations_in_file; ++i) {
        edf_annotation_struct a{};
        if (edf_get_annotation(hdr.handle, static_cast<int>(i), &a) != 0) break;
        std::printf("  %10.3f s  %s\n", static_cast<double>(a.onset) / EDFLIB_TIME_DIMENSION, a.annotation);
    }
    edfclose_file(hdr.handle);
    return true;
}

}  // namespace app
