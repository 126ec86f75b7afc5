// Cuts a board's byte stream into 33-byte packets. Pure: bytes in, packets
// out, no I/O and no clock of its own, so every case is a table of bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>

namespace stream {

constexpr std::uint8_t kPacketHeader = 0xA0;
constexpr std::uint8_t kFooterMin = 0xC0;
constexpr std::uint8_t kFooterMax = 0xC6;
constexpr int kPacketBytes = 33;

struct CytonPacket {
    std::uint8_t sampleNo = 0;
    std::array<std::int32_t, 8> counts{};  // sign-extended 24-bit ADC counts
    std::array<std::uint8_t, 6> aux{};     // packet bytes 26..31
    std::uint8_t footer = kFooterMin;
    std::int64_t arrivalUs = 0;            // when the bytes that completed it were read
    // It began where the packet before it ended: a header found inside a
    // packet's data does not, but for a chance in a few hundred.
    bool inStep = false;
};

// Fills a packet from its 33 bytes (header at 0, footer at 32).
void parsePacket(const std::uint8_t* bytes, std::int64_t arrivalUs, CytonPacket& out);

class PacketDecoder {
public:
    // Appends every whole packet the bytes complete; an incomplete one is
    // kept for the next call. A header whose 33rd byte is no footer was a
    // 0xA0 inside data or noise: the search goes on from the byte after it,
    // so the true header hidden in those bytes is not lost with it.
    std::size_t feed(const std::uint8_t* data, std::size_t n, std::int64_t nowUs, std::deque<CytonPacket>& out);

    // Packets that were due (the stream was in step) but had no footer, or
    // were cut off by reset(); false headers met while finding the stream
    // again are not packets and are not counted.
    std::uint64_t badFooters() const { return badFooters_; }
    std::uint64_t skippedBytes() const { return skipped_; }
    std::size_t pendingBytes() const { return len_; }
    // Forgets a packet in progress (a stream that starts over).
    void reset() {
        if (len_ > 0 && bufAt_ == dueAt_) ++badFooters_;
        len_ = 0;
        dueAt_ = -1;
    }

private:
    void resync();
    void found(CytonPacket& p, std::int64_t at) {
        p.inStep = at == dueAt_;
        dueAt_ = at + kPacketBytes;
    }

    std::array<std::uint8_t, kPacketBytes> buf_{};
    std::size_t len_ = 0;
    // Stream positions (bytes since the first): of buf_[0], and where the next
    // packet is due while the stream is in step (-1: not in step).
    std::int64_t bufAt_ = 0;
    std::int64_t dueAt_ = -1;
    std::int64_t fed_ = 0;  // bytes fed before the current call
    std::uint64_t badFooters_ = 0;
    std::uint64_t skipped_ = 0;
};

}  // namespace stream
