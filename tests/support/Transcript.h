// Golden transcripts (tests/data/<family>/*.txt): what the PC writes to a
// dongle or board, what comes back and when, the operation that did it and
// what it must have left behind. One case per "==" line:
//   == name            a case; lines up to the next "==" belong to it
//   do op arg...       the operation the test runs
//   set key=value ...  state before it;  expect key=value ...  after it
//   > F0 01 "text"     bytes the PC writes (hex, several bytes per token
//                      allowed, or quoted text with \n \r \t \\ \" \xNN)
//   @ 30ms             the next answers come this long after the last write
//   < "Success$$$"     bytes the device answers ("<" before any ">": already
//                      waiting when the operation starts)
//   row 10 1000 -5 ... what a stream decodes to: sample number and counts
// Values with spaces are quoted: status="a b". Lines starting with # are notes.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace mbeeg::test {

struct Exchange {
    std::string write;  // "" for the bytes waiting before the first write
    std::vector<std::pair<std::int64_t, std::string>> answers;  // (delay after the write, bytes)
};

struct Transcript {
    std::string where;  // "file.txt:line name", for failure messages
    std::vector<std::string> op;
    std::map<std::string, std::string> set, expect;
    std::vector<Exchange> exchanges;
    std::vector<std::vector<std::int64_t>> rows;

    std::string writes() const;   // every ">" byte in order
    std::string answers() const;  // every "<" byte in order
    bool has(const std::string& key) const { return expect.count(key) > 0; }
    int num(const std::string& key) const { return std::stoi(expect.at(key)); }
};

// Every case of the family's files, files in name order; an unreadable line
// throws std::runtime_error naming file and line.
std::vector<Transcript> loadTranscripts(const std::string& dataDir, const std::string& family);
// Bytes as the transcripts write them: printable runs quoted, the rest hex.
std::string show(const std::string& bytes);

// A 33-byte packet: header, sample number, eight 24-bit counts, six aux bytes, footer.
std::string makePacket(int sampleNo, const std::array<std::int32_t, 8>& counts,
                       const std::array<std::uint8_t, 6>& aux = {}, std::uint8_t footer = 0xC0);
using Packet = std::array<std::uint8_t, 33>;
struct Split {
    std::vector<Packet> packets;  // header 0xA0, footer 0xC0..0xC6
    std::size_t skipped = 0;      // bytes that belonged to no packet
};
// Cuts bytes into packets without the driver's decoder.
Split splitPackets(const std::string& bytes);
std::int32_t counts(const Packet& p, int i);  // channel i (0..7), sign-extended
std::int16_t aux16(const Packet& p, int i);   // big-endian aux word i (0..2)

}  // namespace mbeeg::test
