// The packet cutter and the row aligner on arbitrary bytes, handed out in
// arbitrary read splits and pauses, beside a second board that streams
// cleanly. Input: byte 0 gives K (0..16), the next K bytes the read plan
// (cycled: low 5 bits the chunk size - 1, high 3 bits the pause before it),
// the rest is the first board's stream. K = 0 hands everything out at once.
//
// Checked: every packet cut is 33 bytes of the input that begin with 0xA0
// and end with a footer 0xC0..0xC6; every board's rows add up (rows =
// packets + lost + drift held - drift dropped); whatever the first board
// sends, the clean board's rows are its packets in order, none held, none
// skipped.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "stream/PacketDecoder.h"
#include "stream/RowAligner.h"

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "stream: %s\n", what);
        std::abort();
    }
}

constexpr std::int64_t kPauseUs[8] = {0, 0, 0, 0, 0, 2000, 8000, 30000};
constexpr std::int64_t kPeriodUs = 4000;

std::string bytesOf(const stream::CytonPacket& p) {
    std::string b(33, '\0');
    b[0] = static_cast<char>(stream::kPacketHeader);
    b[1] = static_cast<char>(p.sampleNo);
    for (int pin = 0; pin < 8; ++pin) {
        const auto c = static_cast<std::uint32_t>(p.counts[static_cast<size_t>(pin)]);
        b[2 + 3 * pin] = static_cast<char>(c >> 16);
        b[3 + 3 * pin] = static_cast<char>(c >> 8);
        b[4 + 3 * pin] = static_cast<char>(c);
    }
    for (int i = 0; i < 6; ++i) b[26 + i] = static_cast<char>(p.aux[static_cast<size_t>(i)]);
    b[32] = static_cast<char>(p.footer);
    return b;
}

std::string cleanPacket(std::int64_t k) {
    stream::CytonPacket p;
    p.sampleNo = static_cast<std::uint8_t>(k);
    p.counts[0] = static_cast<std::int32_t>(k);
    return bytesOf(p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t k = data[0] % 17;
    if (size < 1 + k) return 0;
    const std::uint8_t* plan = data + 1;
    const std::string input(reinterpret_cast<const char*>(data + 1 + k), size - 1 - k);

    // The first board's reads: (time, bytes).
    std::vector<std::pair<std::int64_t, std::string>> reads;
    std::int64_t t = 0;
    if (k == 0) {
        reads.emplace_back(t, input);
    } else {
        for (std::size_t i = 0, chunk = 0; i < input.size(); ++chunk) {
            const std::uint8_t p = plan[chunk % k];
            const std::size_t n = std::min<std::size_t>((p & 0x1F) + 1, input.size() - i);
            t += kPauseUs[p >> 5];
            reads.emplace_back(t, input.substr(i, n));
            i += n;
        }
    }

    // The cutter alone: only true packets of the input come out.
    stream::PacketDecoder cutter;
    std::deque<stream::CytonPacket> cut;
    for (const auto& [at, bytes] : reads)
        cutter.feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), at, cut);
    for (const auto& p : cut) {
        check(p.footer >= stream::kFooterMin && p.footer <= stream::kFooterMax, "packet without a valid footer");
        check(input.find(bytesOf(p)) != std::string::npos, "a packet not made of 33 bytes of the input");
    }

    // Both boards into rows, looked at every millisecond.
    stream::RowAligner aligner(2);
    const std::int64_t end = t + 2'000'000;
    std::size_t next = 0;
    std::int64_t sent = 0;
    std::vector<stream::RowEntry> row;
    std::int64_t lastClean = -1, droppedBefore = 0;
    for (std::int64_t now = 0; now <= end; now += 1000) {
        for (; next < reads.size() && reads[next].first <= now; ++next)
            aligner.feed(0, reinterpret_cast<const std::uint8_t*>(reads[next].second.data()), reads[next].second.size(),
                         now);
        for (; sent * kPeriodUs <= now; ++sent) {
            const std::string p = cleanPacket(sent);
            aligner.feed(1, reinterpret_cast<const std::uint8_t*>(p.data()), p.size(), now);
        }
        aligner.update(now);
        while (aligner.nextRow(row)) {
            // Clock drift against the first board may move it, openly.
            check(row[1].kind != stream::RowEntry::Lost, "the clean board was held");
            if (row[1].kind != stream::RowEntry::Packet) continue;
            const std::int64_t c = row[1].packet.counts[0];
            const auto dropped = static_cast<std::int64_t>(aligner.counts(1).driftDropped);
            check(lastClean < 0 || c == lastClean + 1 + dropped - droppedBefore,
                  "the clean board skipped or repeated a packet");
            lastClean = c;
            droppedBefore = dropped;
        }
    }
    for (std::size_t b = 0; b < 2; ++b) {
        const stream::BoardCounts& c = aligner.counts(b);
        check(c.rows == c.packets + c.lost + c.driftHeld - c.driftDropped, "rows do not add up");
    }
    check(aligner.counts(1).rejected() == 0 && aligner.counts(1).lost == 0, "the clean board's packets were lost");
    return 0;
}
