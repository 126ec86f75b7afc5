#include "tests/support/RadioScript.h"

#include <algorithm>
#include <climits>

namespace linktest {

namespace {
bool takesArgument(std::uint8_t cmd) { return cmd == 0x01 || cmd == 0x02 || cmd == 0x04; }
}  // namespace

void RadioScript::reply(const std::string& text) {
    std::lock_guard<std::mutex> l(mu_);
    replies_.push_back(text);
}

void RadioScript::send(const std::string& text) {
    std::lock_guard<std::mutex> l(mu_);
    out_ += text;
}

void RadioScript::setPlugged(bool p) {
    std::lock_guard<std::mutex> l(mu_);
    plugged_ = p;
}

std::vector<std::string> RadioScript::commandBytes() const {
    std::lock_guard<std::mutex> l(mu_);
    return log_;
}

void RadioScript::clearLog() {
    std::lock_guard<std::mutex> l(mu_);
    log_.clear();
}

bool RadioScript::plugged() const {
    std::lock_guard<std::mutex> l(mu_);
    return plugged_;
}

void RadioScript::complete(std::int64_t nowUs) {
    log_.push_back(frame_);
    frame_.clear();
    if (replies_.empty()) return;
    out_ += replies_.front();
    replies_.pop_front();
    outDueUs_ = nowUs + 2000;
}

void RadioScript::receive(const std::uint8_t* data, std::size_t n, std::int64_t nowUs) {
    std::lock_guard<std::mutex> l(mu_);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = data[i];
        if (frame_.empty()) {
            frame_.push_back(static_cast<char>(b));
            if (b != 0xF0) complete(nowUs);  // a board command character
            continue;
        }
        frame_.push_back(static_cast<char>(b));
        const std::uint8_t cmd = static_cast<std::uint8_t>(frame_[1]);
        if (frame_.size() == (takesArgument(cmd) ? 3u : 2u)) complete(nowUs);
    }
}

std::size_t RadioScript::transmit(std::uint8_t* out, std::size_t max, std::int64_t nowUs) {
    std::lock_guard<std::mutex> l(mu_);
    if (out_.empty() || nowUs < outDueUs_) return 0;
    const std::size_t n = std::min(max, out_.size());
    std::copy(out_.begin(), out_.begin() + static_cast<long>(n), out);
    out_.erase(0, n);
    return n;
}

std::int64_t RadioScript::nextTransmitUs(std::int64_t nowUs) {
    std::lock_guard<std::mutex> l(mu_);
    if (out_.empty()) return INT64_MAX;
    return std::max(nowUs, outDueUs_);
}

std::shared_ptr<RadioScript> registerRadioScript(int slot) {
    auto dev = std::make_shared<RadioScript>();
    mbeeg::serial::PortDescription d;
    d.path = "mem:" + std::to_string(slot);
    d.alias = "COM" + std::to_string(201 + slot);
    d.deviceId = "FTDIBUS\\VID_0403+PID_6015+LINK" + std::to_string(slot);
    d.manufacturer = "FTDI";
    d.description = "Scripted dongle";
    d.vid = 0x0403;
    d.pid = 0x6015;
    mbeeg::serial::registerMemoryPort(d, dev);
    return dev;
}

std::string frame(int cmd, int arg) {
    std::string s;
    s.push_back(static_cast<char>(0xF0));
    s.push_back(static_cast<char>(cmd));
    if (arg >= 0) s.push_back(static_cast<char>(arg));
    return s;
}

bool portIsFree(const wchar_t* name) {
    CMegSerialPortzq probe;
    const int ok = probe.openRW(name, 1, 1);
    probe.closeCom(0);
    return ok != 0;
}

}  // namespace linktest
