#include "tests/support/Transcript.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace mbeeg::test {

namespace {

// Splits a line into words; a quoted part (escapes resolved) stays in its word.
std::vector<std::string> words(const std::string& line, const std::string& where) {
    std::vector<std::string> out;
    bool inWord = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ' ' || c == '\t') {
            inWord = false;
            continue;
        }
        if (!inWord) out.emplace_back();
        inWord = true;
        out.back() += c;
        if (c != '"') continue;
        for (++i; i < line.size() && line[i] != '"'; ++i) {
            char e = line[i];
            if (e == '\\' && i + 1 < line.size()) {
                e = line[++i];
                if (e == 'x' && i + 2 < line.size()) {
                    e = static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
                    i += 2;
                } else if (e == 'n' || e == 'r' || e == 't') {
                    e = e == 'n' ? '\n' : e == 'r' ? '\r' : '\t';
                }
            }
            out.back() += e;
        }
        if (i >= line.size()) throw std::runtime_error(where + ": unclosed quote");
        out.back() += '"';
    }
    return out;
}

std::string unquote(const std::string& w) {
    return w.size() >= 2 && w.front() == '"' && w.back() == '"' ? w.substr(1, w.size() - 2) : w;
}

std::string bytesOf(const std::vector<std::string>& ws, const std::string& where) {
    std::string out;
    for (std::size_t i = 1; i < ws.size(); ++i) {
        const std::string& w = ws[i];
        if (w.front() == '"') {
            out += unquote(w);
            continue;
        }
        if (w.size() % 2 || !std::all_of(w.begin(), w.end(), [](char c) { return std::isxdigit(c); }))
            throw std::runtime_error(where + ": not hex: " + w);
        for (std::size_t j = 0; j < w.size(); j += 2) out += static_cast<char>(std::stoi(w.substr(j, 2), nullptr, 16));
    }
    return out;
}

void keyValues(const std::vector<std::string>& ws, std::map<std::string, std::string>& into, const std::string& where) {
    for (std::size_t i = 1; i < ws.size(); ++i) {
        const auto eq = ws[i].find('=');
        if (eq == std::string::npos) throw std::runtime_error(where + ": no key=value: " + ws[i]);
        into[ws[i].substr(0, eq)] = unquote(ws[i].substr(eq + 1));
    }
}

}  // namespace

std::string Transcript::writes() const {
    std::string s;
    for (const auto& e : exchanges) s += e.write;
    return s;
}

std::string Transcript::answers() const {
    std::string s;
    for (const auto& e : exchanges)
        for (const auto& a : e.answers) s += a.second;
    return s;
}

std::vector<Transcript> loadTranscripts(const std::string& dataDir, const std::string& family) {
    std::vector<std::filesystem::path> files;
    for (const auto& f : std::filesystem::directory_iterator(dataDir + "/" + family))
        if (f.path().extension() == ".txt") files.push_back(f.path());
    std::sort(files.begin(), files.end());
    std::vector<Transcript> all;
    for (const auto& file : files) {
        std::ifstream in(file);
        std::string line;
        std::int64_t delayUs = 0;
        for (int n = 1; std::getline(in, line); ++n) {
            const std::string where = file.filename().string() + ":" + std::to_string(n);
            const auto ws = words(line, where);
            if (ws.empty() || ws[0][0] == '#') continue;
            if (ws[0] == "==") {
                all.emplace_back();
                all.back().where = where + " " + line.substr(line.find("==") + 3);
                delayUs = 0;
                continue;
            }
            if (all.empty()) throw std::runtime_error(where + ": outside a case");
            Transcript& t = all.back();
            if (ws[0] == "do") t.op.assign(ws.begin() + 1, ws.end());
            else if (ws[0] == "set") keyValues(ws, t.set, where);
            else if (ws[0] == "expect") keyValues(ws, t.expect, where);
            else if (ws[0] == ">") {
                t.exchanges.push_back({bytesOf(ws, where), {}});
                delayUs = 0;
            } else if (ws[0] == "<") {
                if (t.exchanges.empty()) t.exchanges.push_back({});
                t.exchanges.back().answers.emplace_back(delayUs, bytesOf(ws, where));
            } else if (ws[0] == "@" && ws.size() == 2) {
                const std::string& v = ws[1];
                const bool ms = v.ends_with("ms");
                delayUs = std::stoll(v) * (ms ? 1000 : 1);
                if (!ms && !v.ends_with("us")) throw std::runtime_error(where + ": give ms or us");
            } else if (ws[0] == "row") {
                std::vector<std::int64_t> r;
                for (std::size_t i = 1; i < ws.size(); ++i) r.push_back(std::stoll(ws[i]));
                t.rows.push_back(r);
            } else {
                throw std::runtime_error(where + ": unknown line: " + line);
            }
        }
    }
    return all;
}

std::string show(const std::string& bytes) {
    std::ostringstream s;
    bool inText = false;
    for (unsigned char c : bytes) {
        const bool printable = c >= 0x20 && c < 0x7F && c != '"';
        if (printable != inText) s << (inText ? "\" " : "\"");
        inText = printable;
        if (printable) s << c;
        else s << "0123456789ABCDEF"[c >> 4] << "0123456789ABCDEF"[c & 15] << ' ';
    }
    if (inText) s << '"';
    return s.str();
}

std::string makePacket(int sampleNo, const std::array<std::int32_t, 8>& counts, const std::array<std::uint8_t, 6>& aux,
                       std::uint8_t footer) {
    std::string p(33, '\0');
    p[0] = static_cast<char>(0xA0);
    p[1] = static_cast<char>(sampleNo & 0xFF);
    for (int k = 0; k < 8; ++k)
        for (int b = 0; b < 3; ++b) p[2 + 3 * k + b] = static_cast<char>((counts[k] >> (16 - 8 * b)) & 0xFF);
    for (int i = 0; i < 6; ++i) p[26 + i] = static_cast<char>(aux[i]);
    p[32] = static_cast<char>(footer);
    return p;
}

Split splitPackets(const std::string& bytes) {
    Split s;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto f = i + 33 <= bytes.size() ? static_cast<std::uint8_t>(bytes[i + 32]) : 0;
        if (static_cast<std::uint8_t>(bytes[i]) == 0xA0 && f >= 0xC0 && f <= 0xC6) {
            Packet p;
            std::copy_n(bytes.begin() + static_cast<long>(i), 33, p.begin());
            s.packets.push_back(p);
            i += 33;
        } else {
            ++s.skipped;
            ++i;
        }
    }
    return s;
}

std::int32_t counts(const Packet& p, int i) {
    std::int32_t v = (p[2 + 3 * i] << 16) | (p[3 + 3 * i] << 8) | p[4 + 3 * i];
    return (v & 0x800000) ? v - 0x1000000 : v;
}

std::int16_t aux16(const Packet& p, int i) { return static_cast<std::int16_t>((p[26 + 2 * i] << 8) | p[27 + 2 * i]); }

}  // namespace mbeeg::test
