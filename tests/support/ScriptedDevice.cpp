#include "tests/support/ScriptedDevice.h"

#include <algorithm>
#include <climits>

namespace mbeeg::test {

namespace {
constexpr std::size_t kInputKeep = 256;
}

ScriptedDevice& ScriptedDevice::reply(const std::string& command, const std::string& text, std::int64_t latencyUs) {
    return replyWith(command, 0, [text](const std::string&) { return text; }, latencyUs);
}

ScriptedDevice& ScriptedDevice::replyWith(const std::string& command, std::size_t argBytes, Responder fn,
                                          std::int64_t latencyUs) {
    std::lock_guard<std::mutex> lock(m_);
    rules_.push_back({command, argBytes, std::move(fn), latencyUs});
    return *this;
}

void ScriptedDevice::clearReplies() {
    std::lock_guard<std::mutex> lock(m_);
    rules_.clear();
}

void ScriptedDevice::setReplyByteUs(std::int64_t byteUs) {
    std::lock_guard<std::mutex> lock(m_);
    replyByteUs_ = std::max<std::int64_t>(byteUs, 0);
}

void ScriptedDevice::queueLocked(const std::string& bytes, std::int64_t atUs, std::int64_t byteUs) {
    std::int64_t t = atUs;
    for (char ch : bytes) {
        // After every byte already due at or before t: equal times keep their order.
        auto pos = std::upper_bound(out_.begin(), out_.end(), t,
                                    [](std::int64_t v, const auto& e) { return v < e.first; });
        out_.insert(pos, {t, static_cast<std::uint8_t>(ch)});
        t += byteUs;
    }
}

void ScriptedDevice::push(const std::string& bytes, std::int64_t atUs) {
    std::lock_guard<std::mutex> lock(m_);
    queueLocked(bytes, atUs, 0);
}

void ScriptedDevice::push(const std::string& bytes) { push(bytes, platform::clock().nowUs()); }

void ScriptedDevice::pushPaced(const std::string& bytes, std::int64_t atUs, std::int64_t byteUs) {
    std::lock_guard<std::mutex> lock(m_);
    queueLocked(bytes, atUs, std::max<std::int64_t>(byteUs, 0));
}

std::size_t ScriptedDevice::pendingBytes() const {
    std::lock_guard<std::mutex> lock(m_);
    return out_.size();
}

std::string ScriptedDevice::written() const {
    std::lock_guard<std::mutex> lock(m_);
    return written_;
}

void ScriptedDevice::clearWritten() {
    std::lock_guard<std::mutex> lock(m_);
    written_.clear();
}

int ScriptedDevice::answered(const std::string& command) const {
    std::lock_guard<std::mutex> lock(m_);
    auto it = answered_.find(command);
    return it == answered_.end() ? 0 : it->second;
}

unsigned ScriptedDevice::lastLineRate() const {
    std::lock_guard<std::mutex> lock(m_);
    return lineRate_;
}

void ScriptedDevice::unplug() {
    std::lock_guard<std::mutex> lock(m_);
    plugged_ = false;
    out_.clear();
    input_.clear();
}

void ScriptedDevice::plug() {
    std::lock_guard<std::mutex> lock(m_);
    plugged_ = true;
}

bool ScriptedDevice::plugged() const {
    std::lock_guard<std::mutex> lock(m_);
    return plugged_;
}

void ScriptedDevice::receive(const std::uint8_t* data, std::size_t n, std::int64_t nowUs) {
    std::lock_guard<std::mutex> lock(m_);
    if (!plugged_) return;
    for (std::size_t i = 0; i < n; ++i) {
        const char ch = static_cast<char>(data[i]);
        written_ += ch;
        input_ += ch;
        for (auto r = rules_.rbegin(); r != rules_.rend(); ++r) {
            const std::size_t frameLen = r->command.size() + r->argBytes;
            if (input_.size() < frameLen) continue;
            const std::size_t at = input_.size() - frameLen;
            if (input_.compare(at, r->command.size(), r->command) != 0) continue;
            std::string text = r->fn(input_.substr(at));
            ++answered_[r->command];
            queueLocked(text, nowUs + r->latencyUs, replyByteUs_);
            input_.clear();
            break;
        }
        if (input_.size() > kInputKeep) input_.erase(0, input_.size() - kInputKeep);
    }
}

std::size_t ScriptedDevice::transmit(std::uint8_t* out, std::size_t max, std::int64_t nowUs) {
    std::lock_guard<std::mutex> lock(m_);
    if (!plugged_) return 0;
    std::size_t n = 0;
    while (n < max && !out_.empty() && out_.front().first <= nowUs) {
        out[n++] = out_.front().second;
        out_.pop_front();
    }
    return n;
}

std::int64_t ScriptedDevice::nextTransmitUs(std::int64_t nowUs) {
    std::lock_guard<std::mutex> lock(m_);
    if (!plugged_ || out_.empty()) return INT64_MAX;
    return std::max(nowUs, out_.front().first);
}

void ScriptedDevice::lineRate(unsigned baud) {
    std::lock_guard<std::mutex> lock(m_);
    lineRate_ = baud;
}

ScopedMemoryPort::ScopedMemoryPort(std::shared_ptr<serial::MemoryDevice> device, int k, std::string serial)
    : desc_(serial::memoryDongleDescription(k, serial.empty() ? "SCRIPT" + std::to_string(k) : serial)) {
    serial::registerMemoryPort(desc_, std::move(device));
}

ScopedMemoryPort::~ScopedMemoryPort() { serial::unregisterMemoryPort(desc_.path); }

}  // namespace mbeeg::test
