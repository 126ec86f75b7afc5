#include "sim/BoardModel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {
constexpr const char* kModeNames[] = {"default", "debug", "analog", "digital", "marker"};
// A frame whose rest does not come within this time is abandoned.
constexpr std::int64_t kFrameTimeoutUs = 1'000'000;

int letterIndex(char c) {
    const char* p = std::strchr(kChannelLetters, c);
    return (p && c) ? static_cast<int>(p - kChannelLetters) : -1;
}

void put16(std::uint8_t* p, int v) {
    p[0] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
    p[1] = static_cast<std::uint8_t>(v & 0xFF);
}
}  // namespace

BoardModel::BoardModel(int index, const BoardConfig& cfg, std::uint64_t seed, int defaultChannel)
    : index_(index),
      daisyFitted_(cfg.daisy),
      sdCard_(cfg.sdCard),
      channel_(cfg.channel > 0 ? cfg.channel : defaultChannel),
      driftPpm_(cfg.driftPpm),
      dropRate_(cfg.dropRate),
      footers_(cfg.footers),
      signal_(streamSeed(seed, 1), 16),
      rng_(streamSeed(seed, 2)) {
    periodUs_ = kSamplePeriodUs / (1.0 + driftPpm_ * 1e-6);
    for (size_t ch = 0; ch < cfg.electrodeOhms.size() && ch < 16; ++ch)
        signal_.setElectrodeOhms(static_cast<int>(ch), cfg.electrodeOhms[ch]);
    powerOn();
    powered_ = cfg.powered;
}

int BoardModel::kGainsOf(int code) { return kGains[std::clamp(code, 0, 6)]; }

void BoardModel::resetChannels() {
    for (auto& c : chans_) c = ChannelState{};
    test_ = TestSignal::None;
}

void BoardModel::powerOn() {
    powered_ = true;
    streaming_ = false;
    daisyAttached_ = daisyFitted_;
    timeStamping_ = false;
    mode_ = BoardMode::Default;
    parse_ = Parse::Idle;
    sdOpen_ = false;
    cutAfter_ = -1;
    resetChannels();
}

void BoardModel::powerOff() {
    powered_ = false;
    streaming_ = false;
    cutAfter_ = -1;
}

void BoardModel::cutNextPacket(int bytes) {
    if (!streaming_) {
        powerOff();
        return;
    }
    cutAfter_ = std::clamp(bytes, 0, kPacketBytes);
}

void BoardModel::setDriftPpm(double ppm) {
    if (streaming_) {
        anchorUs_ = k_ == anchorK_ ? anchorUs_ : lastPacketUs_;
        anchorK_ = k_;
    }
    driftPpm_ = ppm;
    periodUs_ = kSamplePeriodUs / (1.0 + ppm * 1e-6);
}

// Firmware keeps quiet while streaming so that text never breaks the packets.
void BoardModel::say(std::string& out, const std::string& text) const {
    if (!streaming_) out += text;
}

std::string BoardModel::radioIn(const std::uint8_t* p, std::size_t n, std::int64_t t) {
    std::string out;
    if (!powered_) return out;
    for (std::size_t i = 0; i < n; ++i) handleByte(p[i], t, out);
    return out;
}

void BoardModel::handleByte(std::uint8_t b, std::int64_t t, std::string& out) {
    if (parse_ != Parse::Idle && t - frameStartUs_ > kFrameTimeoutUs) parse_ = Parse::Idle;
    switch (parse_) {
    case Parse::ChannelFrame:
        frame_ += static_cast<char>(b);
        if (frame_.size() == 9) {
            parse_ = Parse::Idle;
            applyChannelFrame(frame_, out);
        }
        return;
    case Parse::LeadOffFrame:
        frame_ += static_cast<char>(b);
        if (frame_.size() == 5) {
            parse_ = Parse::Idle;
            applyLeadOffFrame(frame_, out);
        }
        return;
    case Parse::Mode:
        parse_ = Parse::Idle;
        setMode(b, out);
        return;
    case Parse::Idle:
        break;
    }

    const char c = static_cast<char>(b);
    if (const char* off = std::strchr(kOffLetters, c); off && c) {
        int ch = static_cast<int>(off - kOffLetters);
        if (ch >= 8 && !daisyAttached_) return;
        chans_[ch].powerDown = true;
        char buf[48];
        std::snprintf(buf, sizeof buf, "Channel %d off$$$", ch + 1);
        say(out, buf);
        return;
    }
    if (const char* on = std::strchr(kOnLetters, c); on && c) {
        int ch = static_cast<int>(on - kOnLetters);
        if (ch >= 8 && !daisyAttached_) return;
        chans_[ch].powerDown = false;
        char buf[48];
        std::snprintf(buf, sizeof buf, "Channel %d on$$$", ch + 1);
        say(out, buf);
        return;
    }
    switch (c) {
    case 'x':
    case 'z':
        parse_ = c == 'x' ? Parse::ChannelFrame : Parse::LeadOffFrame;
        frame_ = c;
        frameStartUs_ = t;
        return;
    case '/':
        parse_ = Parse::Mode;
        frameStartUs_ = t;
        return;
    case 'v':
        streaming_ = false;
        powerOn();
        out += resetBanner();
        return;
    case 'd':
        resetChannels();
        say(out, "updating channel settings to default$$$");
        return;
    case 'D':
        say(out, "060110$$$");
        return;
    case '?':
        say(out, registerDump());
        return;
    case 'V':
        say(out, "v3.1.2$$$");
        return;
    case 'C':
        if (!daisyFitted_) {
            say(out, "no daisy to attach!8$$$");
        } else {
            daisyAttached_ = true;
            say(out, "daisy attached16$$$");
        }
        return;
    case 'c':
        if (daisyAttached_) {
            daisyAttached_ = false;
            say(out, "daisy removed$$$");
        } else {
            say(out, "no daisy to remove!8$$$");
        }
        return;
    case '0': setTestSignal(TestSignal::Ground, out); return;
    case '-': setTestSignal(TestSignal::Slow1x, out); return;
    case '=': setTestSignal(TestSignal::Fast1x, out); return;
    case 'p': setTestSignal(TestSignal::Dc, out); return;
    case '[': setTestSignal(TestSignal::Slow2x, out); return;
    case ']': setTestSignal(TestSignal::Fast2x, out); return;
    case 'A': case 'S': case 'F': case 'G': case 'H': case 'J': case 'K': case 'L': {
        if (!sdCard_) {
            say(out, "Failure: no SD card present$$$");
            return;
        }
        if (!sdOpen_) {
            sdOpen_ = true;
            sdOpenedUs_ = t;
            ++sdFileNo_;
        }
        char buf[96];
        std::snprintf(buf, sizeof buf, "Wiring is correct and a card is present.\nCorresponding SD file OBCI_%02X.TXT$$$",
                      sdFileNo_ & 0xFF);
        say(out, buf);
        return;
    }
    case 'j':
        if (!sdOpen_) {
            say(out, "No open file to close$$$");
        } else {
            sdOpen_ = false;
            char buf[80];
            std::snprintf(buf, sizeof buf, "Total Elapsed Time: %lld ms\n$$$",
                          static_cast<long long>((t - sdOpenedUs_) / 1000));
            say(out, buf);
        }
        return;
    case '<':
        timeStamping_ = true;
        stampSetPending_ = true;
        say(out, "Time stamp ON$$$");
        return;
    case '>':
        timeStamping_ = false;
        say(out, "Time stamp OFF$$$");
        return;
    case 'b':
        if (!streaming_) startStream(t);
        return;
    case 's':
        streaming_ = false;
        return;
    default:
        return;  // not a command: ignored, as the firmware does
    }
}

void BoardModel::applyChannelFrame(const std::string& f, std::string& out) {
    if (f[8] != 'X') {
        say(out, "Failure: too few chars$$$");
        return;
    }
    int ch = letterIndex(f[1]);
    auto bit = [](char c) { return c == '0' || c == '1'; };
    bool ok = ch >= 0 && bit(f[2]) && f[3] >= '0' && f[3] <= '6' && f[4] >= '0' && f[4] <= '7' && bit(f[5]) &&
              bit(f[6]) && bit(f[7]);
    if (ok && ch >= 8 && !daisyAttached_) ok = false;
    if (!ok) {
        say(out, "Failure: Err: invalid channel settings$$$");
        return;
    }
    ChannelState& s = chans_[ch];
    s.powerDown = f[2] == '1';
    s.gainCode = f[3] - '0';
    s.inputType = f[4] - '0';
    s.bias = f[5] == '1';
    s.srb2 = f[6] == '1';
    s.srb1 = f[7] == '1';
    char buf[48];
    std::snprintf(buf, sizeof buf, "Success: Channel set for %d$$$", ch + 1);
    say(out, buf);
}

void BoardModel::applyLeadOffFrame(const std::string& f, std::string& out) {
    int ch = letterIndex(f[1]);
    auto bit = [](char c) { return c == '0' || c == '1'; };
    if (f[4] != 'Z' || ch < 0 || !bit(f[2]) || !bit(f[3]) || (ch >= 8 && !daisyAttached_)) {
        say(out, "Failure: Err: invalid lead off settings$$$");
        return;
    }
    chans_[ch].leadOffP = f[2] == '1';
    chans_[ch].leadOffN = f[3] == '1';
    char buf[48];
    std::snprintf(buf, sizeof buf, "Success: Lead off set for %d$$$", ch + 1);
    say(out, buf);
}

void BoardModel::setMode(std::uint8_t b, std::string& out) {
    if (b == '/') {
        say(out, std::string(kModeNames[static_cast<int>(mode_)]) + "$$$");
        return;
    }
    int m = b >= '0' ? b - '0' : b;  // the mode comes as a digit or as its raw value
    if (m < 0 || m > 4) {
        say(out, "Failure: invalid board mode$$$");
        return;
    }
    mode_ = static_cast<BoardMode>(m);
    say(out, std::string("Success: ") + kModeNames[m] + "$$$");
}

void BoardModel::setTestSignal(TestSignal s, std::string& out) {
    test_ = s;
    for (int ch = 0; ch < (daisyAttached_ ? 16 : 8); ++ch) chans_[ch].inputType = s == TestSignal::Ground ? 1 : 5;
    say(out, "Success: Configured internal test signal.$$$");
}

void BoardModel::startStream(std::int64_t t) {
    streaming_ = true;
    streamStartUs_ = t;
    anchorUs_ = t;
    anchorK_ = 0;
    k_ = 0;
    lastPacketUs_ = t;
    stampPackets_ = 0;
}

std::int64_t BoardModel::nextPacketUs() const {
    if (!streaming_ || !powered_) return kNever;
    return anchorUs_ + std::llround((k_ - anchorK_ + 1) * periodUs_);
}

PacketRecord BoardModel::emitPacket() {
    PacketRecord r;
    r.timeUs = nextPacketUs();
    r.index = k_;
    r.sample = static_cast<std::uint8_t>(k_ & 0xFF);
    r.daisyHalf = daisyAttached_ && (k_ & 1);
    // Signal time on the board's own clock; with Daisy each ADS samples at half rate.
    const double tBoard = streamStartUs_ * 1e-6 + (daisyAttached_ ? (k_ / 2) * 0.008 : k_ * 0.004);
    const int first = r.daisyHalf ? 8 : 0;

    std::uint8_t* b = r.bytes.data();
    b[0] = kHeader;
    b[1] = r.sample;
    for (int i = 0; i < 8; ++i) {
        const ChannelState& s = chans_[first + i];
        double uv = signal_.sampleUv(first + i, tBoard, s.inputType, test_, s.leadOffP, s.leadOffN);
        const int g = kGainsOf(s.gainCode);
        const double fullScale = 4.5e6 / g;
        uv = s.powerDown ? 0.0 : std::clamp(uv, -fullScale, fullScale);
        std::int64_t counts = std::llround(uv / uvPerCount(g));
        counts = std::clamp<std::int64_t>(counts, -8388608, 8388607);
        r.uV[i] = uv;
        r.gain[i] = g;
        r.counts[i] = static_cast<std::int32_t>(counts);
        std::uint32_t u = static_cast<std::uint32_t>(counts) & 0xFFFFFF;
        b[2 + 3 * i] = static_cast<std::uint8_t>(u >> 16);
        b[3 + 3 * i] = static_cast<std::uint8_t>(u >> 8);
        b[4 + 3 * i] = static_cast<std::uint8_t>(u);
    }
    fillAux(r, tBoard);
    std::copy(r.aux.begin(), r.aux.end(), b + 26);
    b[32] = r.footer;

    r.bytesSent = kPacketBytes;
    if (cutAfter_ >= 0) {
        r.bytesSent = cutAfter_;
        powerOff();
    } else {
        r.dropped = rng_.chance(dropRate_);
    }
    lastPacketUs_ = r.timeUs;
    ++k_;
    return r;
}

void BoardModel::fillAux(PacketRecord& r, double tBoard) {
    // The LIS3DH gives a reading every tenth sample (25 Hz).
    if (k_ % 10 == 0) {
        auto g = signal_.accelG(tBoard);
        for (int a = 0; a < 3; ++a) {
            long c = std::lround(g[a] / kAccelGPerCount);
            if (a == 0 && c == 0) c = 1;  // X of 0 means "no reading" on the wire
            accel_[a] = static_cast<std::int16_t>(std::clamp(c, -32768L, 32767L));
        }
        r.accelReading = true;
    }
    r.accel = accel_;

    std::uint8_t footer;
    if (!footers_.empty()) {
        footer = footers_[k_ % footers_.size()];
    } else if (timeStamping_) {
        footer = stampSetPending_ ? 0xC3 : 0xC4;
        stampSetPending_ = false;
    } else if (mode_ == BoardMode::Analog || mode_ == BoardMode::Digital) {
        footer = 0xC1;
    } else {
        footer = 0xC0;
    }
    r.footer = footer;

    std::uint8_t* a = r.aux.data();
    const std::uint32_t ms = static_cast<std::uint32_t>(std::llround(tBoard * 1000));
    switch (footer) {
    case 0xC0:
        if (r.accelReading) {
            for (int i = 0; i < 3; ++i) put16(a + 2 * i, accel_[i]);
        } else {
            r.accel = {};
        }
        break;
    case 0xC1:
        if (mode_ == BoardMode::Digital) {
            for (int i = 0; i < 3; ++i) put16(a + 2 * i, (k_ >> (i + 3)) & 1);
        } else {  // three 10-bit analog inputs
            for (int i = 0; i < 3; ++i)
                put16(a + 2 * i, static_cast<int>(std::lround(512 + 400 * std::sin(2 * M_PI * 0.5 * tBoard + 2.1 * i))));
        }
        break;
    case 0xC2:
        for (int i = 0; i < 6; ++i) a[i] = static_cast<std::uint8_t>((k_ >> i) & 1);
        break;
    case 0xC3:
    case 0xC4: {
        // One accelerometer byte per packet, named by its axis letter: x y z
        // for the high bytes, X Y Z for the low ones; then the board's time.
        static constexpr char kAxisLetters[] = "xXyYzZ";
        int slot = stampPackets_++ % 6;
        int axis = slot / 2;
        std::uint16_t v = static_cast<std::uint16_t>(accel_[axis]);
        a[0] = 0;
        a[1] = static_cast<std::uint8_t>(kAxisLetters[slot]);
        a[2] = static_cast<std::uint8_t>(slot % 2 == 0 ? v >> 8 : v & 0xFF);
        a[3] = static_cast<std::uint8_t>(ms >> 16);
        a[4] = static_cast<std::uint8_t>(ms >> 8);
        a[5] = static_cast<std::uint8_t>(ms);
        break;
    }
    case 0xC5:
    case 0xC6:
        a[0] = a[1] = 0;
        a[2] = static_cast<std::uint8_t>(ms >> 24);
        a[3] = static_cast<std::uint8_t>(ms >> 16);
        a[4] = static_cast<std::uint8_t>(ms >> 8);
        a[5] = static_cast<std::uint8_t>(ms);
        break;
    default:  // not a footer the format knows: whatever bytes
        for (auto& x : r.aux) x = rng_.byte();
        break;
    }
}

std::string BoardModel::resetBanner() const {
    std::string s = "OpenBCI V3 8-16 channel\nOn Board ADS1299 Device ID: 0x3E\n";
    if (daisyFitted_) s += "On Daisy ADS1299 Device ID: 0x3E\n";
    s += "LIS3DH Device ID: 0x33\nFirmware: v3.1.2\n$$$";
    return s;
}

std::string BoardModel::registerDump() const {
    std::string s;
    auto line = [&s](const char* name, int addr, int value) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%s, %02X, %02X\n", name, addr, value & 0xFF);
        s += buf;
    };
    auto ads = [&](const char* title, int first) {
        s += title;
        int config2 = 0xC0;
        if (test_ != TestSignal::None && test_ != TestSignal::Ground) {
            config2 |= 0x10;
            if (test_ == TestSignal::Slow2x || test_ == TestSignal::Fast2x) config2 |= 0x04;
            if (test_ == TestSignal::Fast1x || test_ == TestSignal::Fast2x) config2 |= 0x01;
            if (test_ == TestSignal::Dc) config2 |= 0x03;
        }
        int biasP = 0, loffP = 0, loffN = 0, srb1 = 0;
        for (int i = 0; i < 8; ++i) {
            const ChannelState& c = chans_[first + i];
            if (c.bias) biasP |= 1 << i;
            if (c.leadOffP) loffP |= 1 << i;
            if (c.leadOffN) loffN |= 1 << i;
            if (c.srb1) srb1 = 0x20;
        }
        line("ADS_ID", 0x00, 0x3E);
        line("CONFIG1", 0x01, daisyAttached_ ? 0xB6 : 0x96);
        line("CONFIG2", 0x02, config2);
        line("CONFIG3", 0x03, 0xEC);
        line("LOFF", 0x04, 0x02);
        for (int i = 0; i < 8; ++i) {
            const ChannelState& c = chans_[first + i];
            char name[8];
            std::snprintf(name, sizeof name, "CH%dSET", i + 1);
            line(name, 0x05 + i, (c.powerDown ? 0x80 : 0) | (c.gainCode << 4) | (c.srb2 ? 0x08 : 0) | c.inputType);
        }
        line("BIAS_SENSP", 0x0D, biasP);
        line("BIAS_SENSN", 0x0E, biasP);
        line("LOFF_SENSP", 0x0F, loffP);
        line("LOFF_SENSN", 0x10, loffN);
        line("LOFF_FLIP", 0x11, 0);
        line("LOFF_STATP", 0x12, 0);
        line("LOFF_STATN", 0x13, 0);
        line("GPIO", 0x14, 0x0F);
        line("MISC1", 0x15, srb1);
        line("MISC2", 0x16, 0);
        line("CONFIG4", 0x17, 0);
    };
    ads("Board ADS Registers\n", 0);
    if (daisyAttached_) ads("Daisy ADS Registers\n", 8);
    s += "$$$";
    return s;
}

}  // namespace sim
