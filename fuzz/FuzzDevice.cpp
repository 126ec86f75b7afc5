#include "fuzz/FuzzDevice.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "platform/profile.h"

namespace fuzzsupport {

void FuzzDevice::queue(const std::string& bytes, std::int64_t atUs, std::size_t chunk) {
    if (bytes.empty()) return;
    if (chunk == 0) chunk = bytes.size();
    for (std::size_t i = 0; i < bytes.size(); i += chunk) chunks_.push_back({atUs, bytes.substr(i, chunk)});
}

void FuzzDevice::receive(const std::uint8_t* data, std::size_t n, std::int64_t) {
    for (std::size_t i = 0; i < n; ++i) {
        const char c = static_cast<char>(data[i]);
        written_ += c;
        frame_ += c;
        const auto lead = static_cast<std::uint8_t>(frame_[0]);
        bool complete = true;
        if (lead == 0xF0) {
            if (frame_.size() < 2) complete = false;
            else {
                const auto cmd = static_cast<std::uint8_t>(frame_[1]);
                const bool hasArg = cmd == 0x01 || cmd == 0x02 || cmd == 0x04;
                complete = frame_.size() >= (hasArg ? 3u : 2u);
            }
        }
        if (complete) {
            std::string command;
            command.swap(frame_);
            if (onCommand) onCommand(command);
        }
    }
}

std::size_t FuzzDevice::transmit(std::uint8_t* out, std::size_t max, std::int64_t nowUs) {
    if (pos_ >= chunks_.size() || max == 0) return 0;
    Chunk& c = chunks_[pos_];
    if (c.dueUs > nowUs) return 0;
    const std::size_t n = std::min(max, c.bytes.size() - c.taken);
    std::copy_n(c.bytes.data() + c.taken, n, out);
    out_.append(c.bytes, c.taken, n);
    times_.push_back(nowUs);
    c.taken += n;
    if (c.taken == c.bytes.size()) ++pos_;
    return n;
}

std::int64_t FuzzDevice::nextTransmitUs(std::int64_t nowUs) {
    if (pos_ >= chunks_.size()) return INT64_MAX;
    return std::max(nowUs, chunks_[pos_].dueUs);
}

ScopedFuzzPort::ScopedFuzzPort() : device_(std::make_shared<FuzzDevice>()) {
    mbeeg::serial::registerMemoryPort(mbeeg::serial::memoryDongleDescription(0, "FUZZ0"), device_);
}

ScopedFuzzPort::~ScopedFuzzPort() { mbeeg::serial::unregisterMemoryPort("mem:0"); }

void useScratchProfile() {
    static const bool done = [] {
        mbeeg::serial::setRealPortsEnabled(false);
        std::string path = "/tmp/mbeeg-fuzz-profile." + std::to_string(::getpid()) + ".ini";
        platform::setProfilePath(path);
        std::atexit([] { std::remove(platform::profilePath().c_str()); });
        return true;
    }();
    (void)done;
}

}  // namespace fuzzsupport
