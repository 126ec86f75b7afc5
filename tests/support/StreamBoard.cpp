#include "tests/support/StreamBoard.h"

#include <algorithm>
#include <climits>

#include "host/MegSerialPort.h"
#include "link/ConfigComRadiozq.h"

namespace streamtest {

Bytes makePacket(int sampleNo, const std::int32_t counts[8], const std::uint8_t aux[6], std::uint8_t footer) {
    Bytes p(33, 0);
    p[0] = 0xA0;
    p[1] = static_cast<std::uint8_t>(sampleNo & 0xFF);
    for (int k = 0; k < 8; ++k) {
        std::uint32_t v = static_cast<std::uint32_t>(counts[k]) & 0xFFFFFF;
        p[2 + 3 * k] = static_cast<std::uint8_t>(v >> 16);
        p[3 + 3 * k] = static_cast<std::uint8_t>(v >> 8);
        p[4 + 3 * k] = static_cast<std::uint8_t>(v);
    }
    for (int i = 0; i < 6; ++i) p[26 + i] = aux[i];
    p[32] = footer;
    return p;
}

std::int32_t countFor(int board, int pin, std::int64_t index) {
    std::int32_t v = (board + 1) * 100000 + pin * 1000 + static_cast<std::int32_t>(index % 1000);
    return (pin % 2) ? -v : v;
}

void StreamBoard::push(const Bytes& bytes, std::int64_t atUs) {
    std::lock_guard<std::mutex> l(mu_);
    q_.push_back({atUs, bytes, 0});
}

void StreamBoard::powerOffAfter(std::int64_t k, int partialBytes) {
    std::lock_guard<std::mutex> l(mu_);
    offAfter_ = k;
    partial_ = partialBytes;
}

void StreamBoard::receive(const std::uint8_t* data, std::size_t n, std::int64_t nowUs) {
    std::lock_guard<std::mutex> l(mu_);
    for (std::size_t i = 0; i < n; ++i) {
        rx_.push_back(static_cast<char>(data[i]));
        if (data[i] == 'b' && !streaming_) {
            streaming_ = true;
            next_ = nowUs / kPeriodUs + 1;
        } else if (data[i] == 's') {
            streaming_ = false;
        }
    }
}

void StreamBoard::generate(std::int64_t nowUs) {
    while (streaming_ && next_ * kPeriodUs <= nowUs) {
        const std::int64_t k = next_++;
        const std::int64_t due = k * kPeriodUs;
        std::int32_t counts[8];
        for (int pin = 0; pin < 8; ++pin) counts[pin] = countFor(board_, pin, k);
        std::uint8_t aux[6] = {};
        if (footer_ == 0xC1) {
            // The packet index, three big-endian 16-bit words.
            for (int i = 0; i < 3; ++i) {
                std::uint16_t w = static_cast<std::uint16_t>(k >> (16 * (2 - i)));
                aux[2 * i] = static_cast<std::uint8_t>(w >> 8);
                aux[2 * i + 1] = static_cast<std::uint8_t>(w);
            }
        } else if (footer_ == 0xC0) {
            aux[1] = static_cast<std::uint8_t>(1 + board_);  // X = board + 1 counts
        }
        Bytes p = makePacket(static_cast<int>(k), counts, aux, footer_);
        if (offAfter_ >= 0 && k > offAfter_) {
            if (partial_ > 0) q_.push_back({due, Bytes(p.begin(), p.begin() + std::min(partial_, 33)), 0});
            streaming_ = false;
            break;
        }
        if (lost_.count(k)) continue;
        q_.push_back({due, std::move(p), 0});
        ++sent_;
        // A reader that never comes must not grow the queue without end.
        if (q_.size() > 4096) q_.pop_front();
    }
}

std::size_t StreamBoard::transmit(std::uint8_t* out, std::size_t max, std::int64_t nowUs) {
    std::lock_guard<std::mutex> l(mu_);
    generate(nowUs);
    std::size_t n = 0;
    while (n < max && !q_.empty() && q_.front().due <= nowUs) {
        Chunk& c = q_.front();
        std::size_t take = std::min(max - n, c.bytes.size() - c.off);
        std::copy_n(c.bytes.begin() + static_cast<long>(c.off), take, out + n);
        n += take;
        c.off += take;
        if (c.off == c.bytes.size()) q_.pop_front();
    }
    return n;
}

std::int64_t StreamBoard::nextTransmitUs(std::int64_t nowUs) {
    std::lock_guard<std::mutex> l(mu_);
    generate(nowUs);
    if (!q_.empty()) return std::max(nowUs, q_.front().due);
    if (streaming_) return std::max(nowUs, next_ * kPeriodUs);
    return INT64_MAX;
}

std::shared_ptr<StreamBoard> attachBoard(CConfigComRadiozq& dongle, int slot) {
    auto dev = std::make_shared<StreamBoard>(slot);
    mbeeg::serial::PortDescription d;
    d.path = "mem:" + std::to_string(slot);
    d.alias = "COM" + std::to_string(201 + slot);
    d.deviceId = "FTDIBUS\\VID_0403+PID_6015+STREAM" + std::to_string(slot);
    d.manufacturer = "FTDI";
    d.description = "stream test board";
    d.vid = 0x0403;
    d.pid = 0x6015;
    mbeeg::serial::registerMemoryPort(d, dev);
    auto* port = new CMegSerialPortzq();
    CString alias;
    alias.Format(L"COM%d", 201 + slot);
    port->openRW(alias, 1, 1);
    dongle.m_pSerialPort = port;
    dongle.m_portName = alias;
    dongle.getTrackGainMb(1, 6);
    return dev;
}

void detachAllBoards() { mbeeg::serial::clearMemoryPorts(); }

}  // namespace streamtest
