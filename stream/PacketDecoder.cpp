#include "stream/PacketDecoder.h"

#include <algorithm>
#include <cstring>

namespace stream {

namespace {

bool isFooter(std::uint8_t b) { return b >= kFooterMin && b <= kFooterMax; }

}  // namespace

void parsePacket(const std::uint8_t* p, std::int64_t arrivalUs, CytonPacket& out) {
    out.sampleNo = p[1];
    for (int pin = 0; pin < 8; ++pin) {
        const std::uint8_t* v = p + 2 + 3 * pin;
        std::int32_t raw = (v[0] << 16) | (v[1] << 8) | v[2];
        if (raw & 0x800000) raw -= 0x1000000;
        out.counts[static_cast<size_t>(pin)] = raw;
    }
    std::memcpy(out.aux.data(), p + 26, 6);
    out.footer = p[32];
    out.arrivalUs = arrivalUs;
}

void PacketDecoder::resync() {
    // A packet that was due keeps the next one due right after it.
    if (bufAt_ == dueAt_) {
        ++badFooters_;
        dueAt_ = bufAt_ + kPacketBytes;
    }
    const std::uint8_t* next = std::find(buf_.data() + 1, buf_.data() + len_, kPacketHeader);
    const std::size_t skip = static_cast<std::size_t>(next - buf_.data());
    std::memmove(buf_.data(), next, len_ - skip);
    len_ -= skip;
    bufAt_ += static_cast<std::int64_t>(skip);
}

std::size_t PacketDecoder::feed(const std::uint8_t* data, std::size_t n, std::int64_t nowUs,
                                std::deque<CytonPacket>& out) {
    std::size_t count = 0;
    std::size_t i = 0;
    const std::int64_t base = fed_;
    fed_ += static_cast<std::int64_t>(n);
    while (i < n) {
        if (len_ == 0) {
            // In step, whole packets come straight from the input.
            if (data[i] == kPacketHeader && n - i >= kPacketBytes && isFooter(data[i + kPacketBytes - 1])) {
                parsePacket(data + i, nowUs, out.emplace_back());
                ++count;
                found(out.back(), base + static_cast<std::int64_t>(i));
                i += kPacketBytes;
                continue;
            }
            const std::uint8_t* h = std::find(data + i, data + n, kPacketHeader);
            skipped_ += static_cast<std::uint64_t>(h - (data + i));
            i = static_cast<std::size_t>(h - data);
            if (i == n) break;
            bufAt_ = base + static_cast<std::int64_t>(i);
        }
        const std::size_t take = std::min(n - i, kPacketBytes - len_);
        std::memcpy(buf_.data() + len_, data + i, take);
        len_ += take;
        i += take;
        // A resync may leave a whole packet in the buffer; take it before
        // reading on.
        while (len_ == kPacketBytes) {
            if (isFooter(buf_[kPacketBytes - 1])) {
                parsePacket(buf_.data(), nowUs, out.emplace_back());
                ++count;
                found(out.back(), bufAt_);
                len_ = 0;
            } else {
                resync();
            }
        }
    }
    return count;
}

}  // namespace stream
