#include "app/Output.h"

#include <cmath>
#include <cstdio>

namespace app {

namespace {
// Port names and firmware text may hold bytes that are not UTF-8.
std::string dump(const nlohmann::ordered_json& j) {
    return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}
}  // namespace

std::string jsonString(const std::string& s) { return dump(nlohmann::ordered_json(s)); }

JsonObject& JsonObject::addRaw(const std::string& key, const std::string& json) {
    body_[key] = nlohmann::ordered_json::parse(json);
    return *this;
}

JsonObject& JsonObject::add(const std::string& key, const std::string& value) {
    body_[key] = value;
    return *this;
}

JsonObject& JsonObject::add(const std::string& key, double value) {
    body_[key] = std::isfinite(value) ? nlohmann::ordered_json(value) : nlohmann::ordered_json(nullptr);
    return *this;
}

JsonObject& JsonObject::add(const std::string& key, long long value) {
    body_[key] = value;
    return *this;
}
JsonObject& JsonObject::add(const std::string& key, unsigned long long value) {
    body_[key] = value;
    return *this;
}
JsonObject& JsonObject::add(const std::string& key, bool value) {
    body_[key] = value;
    return *this;
}

std::string JsonObject::str() const { return dump(body_); }

std::string jsonArray(const std::vector<std::string>& items) {
    auto out = nlohmann::ordered_json::array();
    for (const auto& item : items) out.push_back(nlohmann::ordered_json::parse(item));
    return dump(out);
}

void printJson(const std::string& json) {
    std::fputs((json + "\n").c_str(), stdout);
    std::fflush(stdout);
}


std::string firmwareWords(const std::string& text) {
    std::string out;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // The library's headers start with a blank; the firmware's lines never do.
        if (line.empty() || line[0] == ' ') continue;
        for (size_t p; (p = line.find("$$$")) != std::string::npos;) line.erase(p, 3);
        if (line.rfind("connect_to_portName: ", 0) == 0) line.erase(0, 21);
        // The dongle gives its poll time as the byte after "0x".
        if (size_t p = line.find("Poll time: 0x"); p != std::string::npos && p + 13 < line.size())
            line = line.substr(0, p + 11) + std::to_string(static_cast<unsigned char>(line[p + 13])) +
                   line.substr(p + 14);
        if (!line.empty()) out += (out.empty() ? "" : "\n") + line;
    }
    return out;
}

std::string boardReplies(const std::string& text, int boards) {
    std::vector<std::string> replies;
    for (size_t at = 0, end; (end = text.find("$$$", at)) != std::string::npos; at = end + 3)
        replies.push_back(firmwareWords(text.substr(at, end - at)));
    if (static_cast<int>(replies.size()) != boards || boards < 1) return firmwareWords(text);
    std::string out;
    for (int b = 0; b < boards; ++b) {
        const std::string& r = replies[static_cast<size_t>(b)];
        out += "board " + std::to_string(b + 1) + ":";
        if (r.find('\n') == std::string::npos) {
            out += " " + (r.empty() ? std::string("(no words)") : r) + "\n";
            continue;
        }
        out += "\n";
        for (size_t at = 0; at < r.size();) {
            size_t end = r.find('\n', at);
            if (end == std::string::npos) end = r.size();
            out += "  " + r.substr(at, end - at) + "\n";
            at = end + 1;
        }
    }
    if (!out.empty()) out.pop_back();
    return out;
}

}  // namespace app
