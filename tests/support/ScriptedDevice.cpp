#include "tests/support/ScriptedDevice.h"

#include <algorithm>
#include <climits>

#include "link/ConfigComRadiozq.h"
#include "platform/clock.h"
#include "sim/SimRig.h"

namespace mbeeg::test {

using Lock = std::lock_guard<std::mutex>;

void ScriptedDevice::play(const std::vector<Exchange>& exchanges) {
    Lock l(m_);
    script_ = exchanges;
    step_ = stepGot_ = 0;
    scriptError_.clear();
    const std::int64_t now = platform::clock().nowUs();
    // Answers with nothing to wait for are there already.
    while (step_ < script_.size() && script_[step_].write.empty()) {
        for (const auto& [delay, bytes] : script_[step_].answers) queueLocked(bytes, now + delay);
        ++step_;
    }
}

void ScriptedDevice::scriptByte(char ch, std::int64_t nowUs) {
    if (!scriptError_.empty()) return;
    if (step_ >= script_.size()) {
        if (!script_.empty()) scriptError_ = "wrote " + show(std::string(1, ch)) + " after the transcript's end";
        return;
    }
    const Exchange& e = script_[step_];
    if (e.write[stepGot_] != ch) {
        scriptError_ = "wrote " + show(e.write.substr(0, stepGot_) + ch) + " where the transcript has " + show(e.write);
        return;
    }
    if (++stepGot_ < e.write.size()) return;
    for (const auto& [delay, bytes] : e.answers) queueLocked(bytes, nowUs + delay);
    ++step_;
    stepGot_ = 0;
}

void ScriptedDevice::reply(const std::string& command, const std::string& text, std::int64_t latencyUs) {
    Lock l(m_);
    rules_.push_back({command, text, latencyUs});
}

void ScriptedDevice::queueLocked(const std::string& bytes, std::int64_t atUs, std::int64_t byteUs) {
    for (char ch : bytes) {
        // After every byte due at or before atUs: equal times keep their order.
        auto pos = std::upper_bound(out_.begin(), out_.end(), atUs,
                                    [](std::int64_t v, const auto& e) { return v < e.first; });
        out_.insert(pos, {atUs, static_cast<std::uint8_t>(ch)});
        atUs += byteUs;
    }
}

void ScriptedDevice::push(const std::string& bytes, std::int64_t atUs, std::int64_t byteUs) {
    if (atUs < 0) atUs = platform::clock().nowUs();
    Lock l(m_);
    queueLocked(bytes, atUs, std::max<std::int64_t>(byteUs, 0));
}

void ScriptedDevice::setStream(char start, char stop, std::int64_t periodUs,
                               std::function<std::string(std::int64_t)> packet) {
    Lock l(m_);
    start_ = start;
    stop_ = stop;
    periodUs_ = periodUs;
    packet_ = std::move(packet);
}

void ScriptedDevice::generate(std::int64_t nowUs) {
    while (streaming_ && next_ * periodUs_ <= nowUs) {
        const std::int64_t k = next_++;
        queueLocked(packet_(k), k * periodUs_, 0);
        // A reader that never comes must not grow the queue without end.
        while (out_.size() > 200'000) out_.pop_front();
    }
}

std::string ScriptedDevice::written() const {
    Lock l(m_);
    std::string s;
    for (const auto& w : writes_) s += w.bytes;
    return s;
}

std::vector<std::string> ScriptedDevice::writeTexts() const {
    Lock l(m_);
    std::vector<std::string> v;
    for (const auto& w : writes_) v.push_back(w.bytes);
    return v;
}

void ScriptedDevice::unplug() {
    Lock l(m_);
    plugged_ = false;
    out_.clear();
    input_.clear();
}

void ScriptedDevice::receive(const std::uint8_t* data, std::size_t n, std::int64_t nowUs) {
    Lock l(m_);
    if (!plugged_) return;
    writes_.push_back({nowUs, std::string(reinterpret_cast<const char*>(data), n)});
    if (writesLeft_ > 0 && --writesLeft_ == 0) plugged_ = false;
    for (std::size_t i = 0; i < n; ++i) {
        const char ch = static_cast<char>(data[i]);
        scriptByte(ch, nowUs);
        if (packet_ && ch == start_ && !streaming_) {
            streaming_ = true;
            next_ = nowUs / periodUs_ + 1;
        } else if (packet_ && ch == stop_) {
            streaming_ = false;
        }
        input_ += ch;
        for (auto r = rules_.rbegin(); r != rules_.rend(); ++r) {
            if (!input_.ends_with(r->command)) continue;
            queueLocked(r->text, nowUs + (r->latencyUs < 0 ? latencyUs_ : r->latencyUs));
            input_.clear();
            break;
        }
        if (input_.size() > 256) input_.erase(0, input_.size() - 256);
    }
}

std::size_t ScriptedDevice::transmit(std::uint8_t* out, std::size_t max, std::int64_t nowUs) {
    Lock l(m_);
    if (!plugged_) return 0;
    generate(nowUs);
    std::size_t n = 0;
    while (n < max && !out_.empty() && out_.front().first <= nowUs) {
        out[n++] = out_.front().second;
        out_.pop_front();
    }
    return n;
}

std::int64_t ScriptedDevice::nextTransmitUs(std::int64_t nowUs) {
    Lock l(m_);
    if (!plugged_) return INT64_MAX;
    generate(nowUs);
    std::int64_t t = out_.empty() ? INT64_MAX : out_.front().first;
    if (streaming_) t = std::min(t, next_ * periodUs_);
    return t == INT64_MAX ? t : std::max(nowUs, t);
}

ScopedMemoryPort::ScopedMemoryPort(std::shared_ptr<serial::MemoryDevice> device, int k, std::string serial)
    : desc_(serial::memoryDongleDescription(k, serial.empty() ? "SCRIPT" + std::to_string(k) : serial)) {
    serial::registerMemoryPort(desc_, std::move(device));
}

ScopedMemoryPort::~ScopedMemoryPort() { serial::unregisterMemoryPort(desc_.path); }

void plugInto(CConfigComRadiozq& dongle, int slot, const std::string& tag, std::shared_ptr<serial::MemoryDevice> dev) {
    serial::registerMemoryPort(serial::memoryDongleDescription(slot, tag + std::to_string(slot)), std::move(dev));
    auto* port = new CMegSerialPortzq();
    CString alias;
    alias.Format(L"COM%d", 201 + slot);
    port->openRW(alias, 1, 1);
    dongle.m_pSerialPort = port;
    dongle.m_portName = alias;
}

bool portIsFree(const wchar_t* name) {
    CMegSerialPortzq probe;
    const int ok = probe.openRW(name, 1, 1);
    probe.closeCom(0);
    return ok != 0;
}

std::unique_ptr<CMegSerialPortzq> openDongle(const sim::SimRig& rig, int k) {
    auto port = std::make_unique<CMegSerialPortzq>();
    CString name(CStringA(rig.portName(k).c_str()));
    if (!port->openSynRW(name, 1) || !port->setupCom4Eeg(115200)) return nullptr;
    return port;
}

std::string ask(CMegSerialPortzq& port, const std::string& bytes, int waitMs) {
    port.purgeAll();
    for (char c : bytes)
        if (!port.writeSynCmdUc1(static_cast<unsigned char>(c))) return "<write failed>";
    return port.readSynWaitAll2StrA(10, waitMs).str();
}

std::string readFor(CMegSerialPortzq& port, std::int64_t us) {
    platform::Clock& c = platform::clock();
    const std::int64_t end = c.nowUs() + us;
    std::string out;
    unsigned char buf[4096];
    while (c.nowUs() < end) {
        int n = port.reads(buf, sizeof buf);
        if (n > 0) out.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
        if (port.isBroken()) break;
    }
    return out;
}

}  // namespace mbeeg::test
