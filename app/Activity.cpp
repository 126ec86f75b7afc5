#include "app/Activity.h"

#include <cstdio>
#include <map>
#include <mutex>

#include "app/Console.h"
#include "serialport/Backend.h"

namespace app {
namespace {
std::mutex g_mu;
std::string g_activity = "listing the serial ports";
std::map<std::string, std::string> g_pending;  // radio frame bytes seen so far, per port

std::string describeRadio(const std::string& f) {
    auto arg = [&f] { return f.size() > 2 ? std::to_string(static_cast<unsigned char>(f[2])) : std::string("?"); };
    switch (static_cast<unsigned char>(f[1])) {
        case 0x00: return "reading the radio channel";
        case 0x01: return "moving board and dongle to radio channel " + arg();
        case 0x02: return "listening for the board on radio channel " + arg();
        case 0x03: return "reading the poll time";
        case 0x04: return "setting the poll time to " + arg();
        case 0x05: case 0x06: case 0x0A: return "setting the dongle's baud rate";
        case 0x07: return "asking whether the radio link is up";
        default: return "sending a radio command";
    }
}

std::string describeBoard(const std::string& b) {
    if (b == "d") return "setting the board's channels to their defaults";
    if (b == "v") return "asking the board who it is";
    if (b == "c") return "putting the board in 8-channel mode";
    if (b == "C") return "putting the board in 16-channel mode";
    if (b == "b") return "starting the stream";
    if (b == "s") return "stopping the stream";
    return "sending a board command";
}

// Radio frames are written a byte at a time: F0, the command, maybe an argument.
bool frameComplete(const std::string& f) {
    if (f.size() < 2) return false;
    unsigned char c = static_cast<unsigned char>(f[1]);
    bool hasArg = c == 0x01 || c == 0x02 || c == 0x04;
    return f.size() >= (hasArg ? 3u : 2u);
}

std::string traceLine(const std::string& port, const std::uint8_t* data, std::size_t n) {
    bool text = n > 0;
    for (std::size_t i = 0; i < n; ++i)
        if (data[i] < 0x20 || data[i] > 0x7E) text = false;
    std::string s = "trace: " + port + " <-";
    if (text) return s + " \"" + std::string(reinterpret_cast<const char*>(data), n) + "\"";
    char hex[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(hex, sizeof hex, " %02x", data[i]);
        s += hex;
    }
    return s;
}

void observe(const std::string& port, const std::uint8_t* data, std::size_t n) {
    if (console().trace) note(traceLine(port, data, n));
    std::lock_guard<std::mutex> lk(g_mu);
    std::string& f = g_pending[port];
    for (std::size_t i = 0; i < n; ++i) {
        if (f.empty() && data[i] != 0xF0) {
            g_activity = port + ": " + describeBoard(std::string(reinterpret_cast<const char*>(data + i), n - i));
            return;
        }
        f += static_cast<char>(data[i]);
        if (frameComplete(f)) {
            g_activity = port + ": " + describeRadio(f);
            f.clear();
        }
    }
}
}  // namespace

void watchSerialActivity() { mbeeg::serial::setTrafficObserver(observe); }

std::string currentActivity() {
    std::lock_guard<std::mutex> lk(g_mu);
    return g_activity;
}
}  // namespace app
