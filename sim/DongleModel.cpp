#include "sim/DongleModel.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>

#include "sim/Cyton.h"

namespace sim {

namespace {
// A dongle answers its own commands after this much work.
constexpr std::int64_t kLocalReplyUs = 300;

std::string fmt(const char* f, long v) {
    char buf[96];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}
}  // namespace

DongleModel::DongleModel(int index, const DongleConfig& cfg, std::uint64_t seed, int defaultChannel,
                         std::int64_t usbLatencyUs, std::size_t bufferBytes, bool keepLog, std::int64_t usbJitterUs)
    : index_(index),
      defaultBaud_(cfg.baud),
      usbLatencyUs_(usbLatencyUs),
      usbJitterUs_(usbJitterUs),
      bufferBytes_(bufferBytes),
      keepLog_(keepLog),
      channel_(cfg.channel > 0 ? cfg.channel : defaultChannel),
      pollTime_(cfg.pollTime & 0xFF),
      baud_(cfg.baud),
      dead_(cfg.dead),
      garbageRate_(cfg.garbageRate),
      garbageBytes_(cfg.garbageBytes),
      rng_(seed),
      jitterRng_(streamSeed(seed, 1)) {}

void DongleModel::enqueue(const std::uint8_t* p, std::size_t n, std::int64_t t) {
    if (!plugged_ || n == 0) return;
    if (wire_.size() + n > bufferBytes_) {
        overflow_ += n;
        return;
    }
    const double byteUs = 1e7 / baud_;  // start, 8 data and stop bits
    double end = std::max(static_cast<double>(t), lineFreeUs_);
    for (std::size_t i = 0; i < n; ++i) {
        end += byteUs;
        wire_.push_back({static_cast<std::int64_t>(std::ceil(end)), baud_, p[i]});
    }
    lineFreeUs_ = end;
}

void DongleModel::formUsbPackets(std::int64_t now) {
    // Bytes come in line order and no byte made later can be in the chip before
    // the world's time, so a packet cut here is final.
    while (wire_.size() > inUsb_) {
        const auto first = wire_.begin() + static_cast<std::ptrdiff_t>(inUsb_);
        const std::size_t open = wire_.size() - inUsb_;
        std::int64_t sent = first->atChipUs;
        std::size_t bytes = 1;
        if (usbLatencyUs_ > 0) {
            // The chip answers the PC's polls with what it holds once the timer
            // has run out; it keeps running while the chip sends nothing.
            const std::int64_t L = usbLatencyUs_;
            const std::int64_t since = std::max<std::int64_t>(first->atChipUs - timerFromUs_, 0);
            const std::int64_t expiry = timerFromUs_ + (since + L - 1) / L * L;
            if (open >= kUsbPayload && first[kUsbPayload - 1].atChipUs <= expiry) {
                bytes = kUsbPayload;
                sent = first[kUsbPayload - 1].atChipUs;
                timerFromUs_ = sent;
            } else {
                if (expiry > now) return;  // more bytes may come in before it
                bytes = 1;
                while (bytes < open && first[bytes].atChipUs <= expiry) ++bytes;
                sent = expiry;
            }
        }
        const std::int64_t jitter = usbJitterUs_ > 0 ? static_cast<std::int64_t>(jitterRng_.next() % (usbJitterUs_ + 1)) : 0;
        // Late delivery never passes the packet before it.
        lastDueUs_ = std::max(sent + jitter, lastDueUs_);
        usb_.push_back({lastDueUs_, bytes});
        inUsb_ += bytes;
    }
}

std::int64_t DongleModel::nextDueUs(std::int64_t now, bool& settled) {
    formUsbPackets(now);
    settled = true;
    if (!usb_.empty()) return usb_.front().due;
    if (wire_.empty()) return kNever;
    // A packet still open goes at the latest when the timer runs out.
    settled = false;
    const std::int64_t L = usbLatencyUs_;
    const std::int64_t since = std::max<std::int64_t>(wire_.front().atChipUs - timerFromUs_, 0);
    return timerFromUs_ + (since + L - 1) / L * L;
}

void DongleModel::fromPc(const std::uint8_t* p, std::size_t n, std::int64_t t, Radio& radio) {
    if (!plugged_ || dead_) return;
    if (keepLog_) received_.append(reinterpret_cast<const char*>(p), n);
    // At another line rate than ours the bytes arrive as nonsense and are dropped.
    if (pcRate_ != 0 && pcRate_ != baud_) return;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = p[i];
        switch (parse_) {
        case Parse::Idle:
            if (b == 0xF0) {
                parse_ = Parse::Code;
            } else {
                toBoard_ += static_cast<char>(b);
            }
            break;
        case Parse::Code:
            code_ = b;
            if (b == 0x01 || b == 0x02 || b == 0x04) {
                parse_ = Parse::Arg;
            } else {
                parse_ = Parse::Idle;
                command(b, 0, t, radio);
            }
            break;
        case Parse::Arg:
            parse_ = Parse::Idle;
            command(code_, b, t, radio);
            break;
        }
    }
    flushToBoard(t, radio);
}

void DongleModel::flushToBoard(std::int64_t t, Radio& radio) {
    if (toBoard_.empty()) return;
    if (radio.boardsOn(channel_, t) > 0) {
        radio.toBoards(channel_, std::move(toBoard_), t);
    } else {
        reply(kTimeoutReply, t + radio.timeoutUs());
    }
    toBoard_.clear();
}

void DongleModel::command(std::uint8_t code, std::uint8_t arg, std::int64_t t, Radio& radio) {
    flushToBoard(t, radio);  // what came before the command goes first
    const bool boardHeard = radio.boardsOn(channel_, t) > 0;
    const std::int64_t local = t + kLocalReplyUs;
    const std::int64_t overRadio = t + 2 * radio.latencyUs() + kLocalReplyUs;
    const std::int64_t timedOut = t + radio.timeoutUs();
    switch (code) {
    case 0x00:
        if (boardHeard) {
            reply(fmt("Success: Host and Device on Channel number: %ld$$$", channel_), overRadio);
        } else {
            reply(fmt("Failure: Host on Channel number: %ld$$$", channel_), timedOut);
        }
        return;
    case 0x01:
        if (arg < 1 || arg > 25) {
            reply("Failure: Invalid channel number$$$", local);
        } else if (!boardHeard) {
            reply(kTimeoutReply, timedOut);
        } else {
            radio.moveBoards(channel_, arg, t);
            channel_ = arg;
            reply(fmt("Success: Host and Device on Channel number: %ld$$$", arg), overRadio);
        }
        return;
    case 0x02:
        if (arg < 1 || arg > 25) {
            reply("Failure: Invalid channel number$$$", local);
        } else {
            channel_ = arg;
            reply(fmt("Success: Host override - Channel number: %ld$$$", arg), local);
        }
        return;
    case 0x03: {
        // The poll time goes out as one raw byte after "0x".
        std::string r = "Success: Poll time: 0x";
        r += static_cast<char>(pollTime_);
        r += "$$$";
        reply(r, local);
        return;
    }
    case 0x04:
        if (!boardHeard) {
            reply(kTimeoutReply, timedOut);
        } else {
            pollTime_ = arg;
            reply(fmt("Success: Poll time: %ld$$$", arg), overRadio);
        }
        return;
    case 0x05:
    case 0x06:
    case 0x0A: {
        unsigned rate = code == 0x05 ? 115200 : code == 0x06 ? 230400 : 921600;
        reply(fmt("Success: Switch your baud rate to %ld$$$", static_cast<long>(rate)), local);
        baud_ = rate;  // the reply still goes out at the old rate
        return;
    }
    case 0x07:
        if (boardHeard) {
            reply("Success: System is Up$$$", overRadio);
        } else {
            reply("Failure: System is Down$$$", timedOut);
        }
        return;
    default:
        // Not a radio command: the byte is meant for the board (time stamps).
        toBoard_ += static_cast<char>(code);
        flushToBoard(t, radio);
        return;
    }
}

void DongleModel::fromRadio(const std::uint8_t* p, std::size_t n, std::int64_t t, bool streamPacket) {
    if (!plugged_ || dead_) return;
    enqueue(p, n, t);
    if (streamPacket && rng_.chance(garbageRate_)) injectGarbage(garbageBytes_, t);
}

void DongleModel::injectGarbage(int bytes, std::int64_t t) {
    if (!plugged_ || bytes <= 0) return;
    std::vector<std::uint8_t> g(bytes);
    for (auto& b : g) b = rng_.byte();
    enqueue(g.data(), g.size(), t);
    if (keepLog_) garbage_.push_back({t, bytes});
}

std::size_t DongleModel::toPc(std::uint8_t* out, std::size_t max, std::int64_t now) {
    formUsbPackets(now);
    std::size_t n = 0;
    while (n < max && !usb_.empty() && usb_.front().due <= now) {
        const WireByte& w = wire_.front();
        // Bytes sent at another rate than the PC reads at come out as garbage.
        out[n++] = (pcRate_ != 0 && pcRate_ != w.baud) ? rng_.byte() : w.b;
        wire_.pop_front();
        --inUsb_;
        if (--usb_.front().bytes == 0) usb_.pop_front();
    }
    return n;
}

void DongleModel::unplug() {
    plugged_ = false;
    wire_.clear();
    usb_.clear();
    inUsb_ = 0;
    timerFromUs_ = 0;
    toBoard_.clear();
    parse_ = Parse::Idle;
}

void DongleModel::plugIn() {
    if (plugged_) return;
    plugged_ = true;
    baud_ = defaultBaud_;  // a fresh start of the dongle's firmware
    lineFreeUs_ = 0;
}

}  // namespace sim
