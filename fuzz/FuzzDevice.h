// A memory serial device for the fuzz targets: it hands out bytes that the
// fuzzer chose, in chunks and at times the fuzzer chose, on the platform
// clock (virtual in the targets), and notes every byte it hands out and every
// command the PC sends. Single-threaded: the targets call it from one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serialport/Backend.h"

namespace fuzzsupport {

class FuzzDevice final : public mbeeg::serial::MemoryDevice {
public:
    // Queues bytes that become due at atUs; one transmit call hands out at
    // most `chunk` of them (0: as many as asked), so reads split there.
    void queue(const std::string& bytes, std::int64_t atUs, std::size_t chunk = 0);
    // Called with each complete command the PC wrote: a radio frame
    // 0xF0 cmd [arg] (cmd 01, 02, 04 carry an argument), or one board byte.
    std::function<void(const std::string& command)> onCommand;

    bool exhausted() const { return pos_ >= chunks_.size(); }
    const std::string& handedOut() const { return out_; }
    const std::string& written() const { return written_; }
    // When each transmit that handed out bytes happened, in order.
    const std::vector<std::int64_t>& handoutTimes() const { return times_; }

    bool plugged() const override { return true; }
    void receive(const std::uint8_t* data, std::size_t n, std::int64_t nowUs) override;
    std::size_t transmit(std::uint8_t* out, std::size_t max, std::int64_t nowUs) override;
    std::int64_t nextTransmitUs(std::int64_t nowUs) override;

private:
    struct Chunk {
        std::int64_t dueUs;
        std::string bytes;
        std::size_t taken = 0;
    };
    std::vector<Chunk> chunks_;
    std::size_t pos_ = 0;
    std::string out_;
    std::vector<std::int64_t> times_;
    std::string written_;
    std::string frame_;
};

// Registers the device as memory port 0 (COM201) for its lifetime.
class ScopedFuzzPort {
public:
    ScopedFuzzPort();
    ~ScopedFuzzPort();
    ScopedFuzzPort(const ScopedFuzzPort&) = delete;
    ScopedFuzzPort& operator=(const ScopedFuzzPort&) = delete;
    FuzzDevice& device() { return *device_; }

private:
    std::shared_ptr<FuzzDevice> device_;
};

// Points the profile at a private temporary file once per process, so that
// dongle objects neither read nor write the user's settings.
void useScratchProfile();

}  // namespace fuzzsupport
