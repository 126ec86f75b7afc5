// A scripted serial device for tests: plugs into a memory port and answers
// commands with canned text after a latency, on the platform clock (virtual
// in tests). Used for dongle radio commands, board commands and streams.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/afxstr.h"
#include "serialport/Backend.h"

namespace mbeeg::test {

class ScriptedDevice : public serial::MemoryDevice {
public:
    // Gets the whole frame (command and argument bytes); returns the text to
    // send back, "" for no answer (the frame is consumed and counted anyway).
    using Responder = std::function<std::string(const std::string& frame)>;

    // When the bytes written since the last answered command end with
    // `command`, `text` becomes due latencyUs after the write. Rules added
    // later are tried first, so a test can override an earlier answer.
    ScriptedDevice& reply(const std::string& command, const std::string& text, std::int64_t latencyUs = 0);
    // The same for a command followed by argBytes argument bytes (e.g. the
    // radio frame F0 01 <channel>): fires once the arguments are in.
    ScriptedDevice& replyWith(const std::string& command, std::size_t argBytes, Responder fn,
                              std::int64_t latencyUs = 0);
    void clearReplies();
    // Replies go out one byte every byteUs from their due time (0: all at once).
    void setReplyByteUs(std::int64_t byteUs);

    // Queues bytes due at atUs (absolute, platform clock); unsolicited output.
    void push(const std::string& bytes, std::int64_t atUs);
    // Queues bytes due now.
    void push(const std::string& bytes);
    // A stream: the first byte due at atUs, each next one byteUs later.
    void pushPaced(const std::string& bytes, std::int64_t atUs, std::int64_t byteUs);
    // Bytes queued and not yet taken by the PC.
    std::size_t pendingBytes() const;

    // Every byte the PC wrote, in order.
    std::string written() const;
    void clearWritten();
    // How often a command of reply()/replyWith() has been answered.
    int answered(const std::string& command) const;
    // Line rate the PC last set (0: never set).
    unsigned lastLineRate() const;

    // Unplugged: the port fails (reads -1, writes fail) until plugged again.
    // Queued bytes are dropped, as a real adapter loses them.
    void unplug();
    void plug();

    // MemoryDevice
    bool plugged() const override;
    void receive(const std::uint8_t* data, std::size_t n, std::int64_t nowUs) override;
    std::size_t transmit(std::uint8_t* out, std::size_t max, std::int64_t nowUs) override;
    std::int64_t nextTransmitUs(std::int64_t nowUs) override;
    void lineRate(unsigned baud) override;

private:
    struct Rule {
        std::string command;
        std::size_t argBytes;
        Responder fn;
        std::int64_t latencyUs;
    };
    void queueLocked(const std::string& bytes, std::int64_t atUs, std::int64_t byteUs);

    mutable std::mutex m_;
    std::vector<Rule> rules_;
    std::deque<std::pair<std::int64_t, std::uint8_t>> out_;  // sorted by due time
    std::string input_;                                       // written since the last answer
    std::string written_;
    std::map<std::string, int> answered_;
    std::int64_t replyByteUs_ = 0;
    unsigned lineRate_ = 0;
    bool plugged_ = true;
};

// Registers a device as memory port k ("mem:<k>", alias COM<k+201>), listed as
// an FTDI dongle with serial "SCRIPT<k>" unless given; removed on destruction.
class ScopedMemoryPort {
public:
    explicit ScopedMemoryPort(std::shared_ptr<serial::MemoryDevice> device, int k = 0, std::string serial = "");
    ~ScopedMemoryPort();
    ScopedMemoryPort(const ScopedMemoryPort&) = delete;
    ScopedMemoryPort& operator=(const ScopedMemoryPort&) = delete;
    const serial::PortDescription& desc() const { return desc_; }
    // The alias as CMegSerialPortzq takes it, e.g. L"COM201".
    CString name() const { return CString(CStringA(desc_.alias)); }

private:
    serial::PortDescription desc_;
};

}  // namespace mbeeg::test
