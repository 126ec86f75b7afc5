#include "host/MegSerialPort.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "serialport/Backend.h"

namespace {

// The longest a reply read may run past its first-byte wait.
constexpr std::int64_t kReplyOverrunUs = 2'000'000;
constexpr const char* kReplyEnd = "$$$";

bool endsWithReplyEnd(const std::string& s) {
    return s.size() >= 3 && s.compare(s.size() - 3, 3, kReplyEnd) == 0;
}

}  // namespace

CMegSerialPortzq::CMegSerialPortzq() = default;

CMegSerialPortzq::CMegSerialPortzq(const CString& portName, unsigned int baudRate)
    : m_portName(portName), m_baudRate(baudRate ? baudRate : 115200) {}

CMegSerialPortzq::~CMegSerialPortzq() { closeCom(0); }

void CMegSerialPortzq::fail(const char* what) {
    CStringA name(m_portName);
    m_lastError = name.IsEmpty() ? CStringA(what) : name + ": " + what;
}

int CMegSerialPortzq::openAs(const CString& portName, bool exclusive) {
    closeCom(1);
    m_portName = portName;
    if (portName.IsEmpty()) {
        fail("no port name");
        return 0;
    }
    std::string error;
    m_channel = mbeeg::serial::openPort(CStringA(portName).str(), error, exclusive);
    if (!m_channel) {
        m_lastError = error.c_str();
        return 0;
    }
    m_channel->setWriteTimeoutMs(m_replyTimeoutMs);
    // A line the backend cannot set is reported by setupCom4Eeg; opening stands.
    m_channel->configure(m_baudRate);
    m_broken = false;
    m_lastError.Empty();
    return 1;
}

int CMegSerialPortzq::openRW(const CString& portName, int, int exclusive) { return openAs(portName, exclusive != 0); }

int CMegSerialPortzq::openSynRW(const CString& portName, int) { return openAs(portName, true); }

int CMegSerialPortzq::isOpen() const { return m_channel && !m_broken ? 1 : 0; }

int CMegSerialPortzq::setupCom4Eeg(unsigned int baudRate) {
    if (baudRate) m_baudRate = baudRate;
    if (!isOpen()) {
        fail("port not open");
        return 0;
    }
    if (!m_channel->configure(m_baudRate)) {
        m_lastError = m_channel->lastError().c_str();
        return 0;
    }
    m_lastError.Empty();
    return 1;
}

int CMegSerialPortzq::setting4UsbVc(int readTimeoutMs, int) {
    m_replyTimeoutMs = readTimeoutMs > 0 ? readTimeoutMs : 1000;
    if (!isOpen()) {
        fail("port not open");
        return 0;
    }
    m_channel->setWriteTimeoutMs(m_replyTimeoutMs);
    m_channel->setLowLatency();  // not every adapter exposes the timer
    m_lastError.Empty();
    return 1;
}

int CMegSerialPortzq::closeCom(int) {
    m_channel.reset();
    m_broken = false;
    return 1;
}

bool CMegSerialPortzq::writeAll(const unsigned char* data, size_t n, int timeoutMs) {
    if (!m_channel) {
        fail("port not open");
        return false;
    }
    if (m_broken) {
        fail("port failed; open it again");
        return false;
    }
    if (n == 0) return true;
    mbeeg::serial::notifyTraffic(platform::narrow(m_portName.str()), data, n);
    if (timeoutMs > 0) m_channel->setWriteTimeoutMs(timeoutMs);
    bool ok = m_channel->write(data, n);
    if (timeoutMs > 0) m_channel->setWriteTimeoutMs(m_replyTimeoutMs);
    if (!ok) {
        m_broken = true;
        std::string why = m_channel->lastError();
        if (why.empty()) fail("write failed");
        else m_lastError = why.c_str();
        return false;
    }
    m_lastError.Empty();
    return true;
}

long CMegSerialPortzq::readSome(unsigned char* buf, size_t max, std::int64_t timeoutUs) {
    if (!isOpen()) return -1;
    long n = m_channel->read(buf, max, std::max<std::int64_t>(timeoutUs, 0));
    if (n < 0) {
        m_broken = true;
        std::string why = m_channel->lastError();
        if (why.empty()) fail("read failed");
        else m_lastError = why.c_str();
    }
    return n;
}

int CMegSerialPortzq::writeSynCmdUc1(unsigned char byte) { return writeAll(&byte, 1) ? 1 : 0; }

int CMegSerialPortzq::writeCmdUc1(unsigned char byte, int waitMs) { return writeAll(&byte, 1, waitMs) ? 1 : 0; }

int CMegSerialPortzq::writeCmdUca(const unsigned char* bytes, int count, int waitMs) {
    if (count < 0 || (!bytes && count > 0)) {
        fail("nothing to write");
        return 0;
    }
    return writeAll(bytes, static_cast<size_t>(count), waitMs) ? 1 : 0;
}

int CMegSerialPortzq::writeSynWaitCmdC(const char* text, int length, int waitMs) {
    if (!text) {
        fail("nothing to write");
        return 0;
    }
    size_t n = length < 0 ? std::strlen(text) : static_cast<size_t>(length);
    return writeAll(reinterpret_cast<const unsigned char*>(text), n, waitMs) ? 1 : 0;
}

int CMegSerialPortzq::sendCmdGetRspst(const CStringA& command, CStringA& reply, int waitMs) {
    reply.Empty();
    if (!isOpen()) {
        fail(m_channel ? "port failed; open it again" : "port not open");
        return 0;
    }
    m_channel->purge();
    const std::string& cmd = command.str();
    if (!writeAll(reinterpret_cast<const unsigned char*>(cmd.data()), cmd.size())) return 0;
    const platform::Deadline deadline = platform::Deadline::inMs(m_channel->clock(), std::max(waitMs, 0));
    std::string got;
    unsigned char buf[512];
    for (;;) {
        const std::int64_t left = deadline.leftUs();
        // Past the deadline only what has already arrived is taken.
        long n = readSome(buf, sizeof buf, left);
        if (n > 0) got.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
        if (n <= 0 || endsWithReplyEnd(got) || left <= 0) break;
    }
    reply = CStringA(got);
    return 1;
}

CStringA CMegSerialPortzq::readSynWaitAll2StrA(int gapMs, int waitMs) {
    if (!isOpen()) return CStringA();
    platform::Clock& c = m_channel->clock();
    const platform::Deadline firstBy = platform::Deadline::inMs(c, std::max(waitMs, 0));
    const platform::Deadline hardEnd(c, firstBy.leftUs() + kReplyOverrunUs);
    const std::int64_t gapUs = std::max(gapMs, 0) * std::int64_t{1000};
    std::string got;
    unsigned char buf[512];
    long n = 0;
    do {
        n = readSome(buf, sizeof buf, firstBy.leftUs());
    } while (n == 0 && !firstBy.passed());
    if (n <= 0) return CStringA();
    got.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
    while (!endsWithReplyEnd(got)) {
        const std::int64_t left = hardEnd.leftUs();
        if (left <= 0) break;
        n = readSome(buf, sizeof buf, std::min(gapUs, left));
        if (n <= 0) break;
        got.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
    }
    return CStringA(got);
}

int CMegSerialPortzq::reads(unsigned char* buffer, int count) {
    if (!buffer || count <= 0) return 0;
    long n = readSome(buffer, static_cast<size_t>(count), m_streamWaitUs);
    return n > 0 ? static_cast<int>(n) : 0;
}

int CMegSerialPortzq::readAvailable(unsigned char* buffer, int count) {
    if (!buffer || count <= 0) return 0;
    long n = readSome(buffer, static_cast<size_t>(count), 0);
    return n > 0 ? static_cast<int>(n) : 0;
}

int CMegSerialPortzq::waitForInput(CMegSerialPortzq* const* ports, std::size_t n, std::int64_t timeoutUs,
                                   std::vector<char>& ready) {
    std::vector<mbeeg::serial::Channel*> channels(n, nullptr);
    for (std::size_t i = 0; i < n; ++i)
        if (ports[i] && ports[i]->isOpen()) channels[i] = ports[i]->m_channel.get();
    return mbeeg::serial::waitForInput(channels.data(), n, timeoutUs, ready);
}

void CMegSerialPortzq::purgeAll() {
    if (isOpen()) m_channel->purge();
}

void CMegSerialPortzq::clearBuf() { purgeAll(); }

int CMegSerialPortzq::resetDevice() {
    if (!isOpen()) {
        fail(m_channel ? "port failed; open it again" : "port not open");
        return 0;
    }
    if (!m_channel->resetDevice()) {
        m_broken = true;
        std::string why = m_channel->lastError();
        if (why.empty()) fail("reset failed");
        else m_lastError = why.c_str();
        return 0;
    }
    m_lastError.Empty();
    return 1;
}
