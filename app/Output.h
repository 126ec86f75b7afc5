// Output for scripts (--json): one JSON value per line on stdout.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace app {

// A quoted, escaped JSON string.
std::string jsonString(const std::string& s);

// One JSON object, built key by key in the order given.
class JsonObject {
public:
    JsonObject& add(const std::string& key, const std::string& value);
    JsonObject& add(const std::string& key, const char* value) { return add(key, std::string(value)); }
    JsonObject& add(const std::string& key, double value);  // null when not finite
    JsonObject& add(const std::string& key, long long value);
    JsonObject& add(const std::string& key, int value) { return add(key, static_cast<long long>(value)); }
    JsonObject& add(const std::string& key, unsigned long long value);
    JsonObject& add(const std::string& key, bool value);
    JsonObject& addRaw(const std::string& key, const std::string& json);  // a value already in JSON
    std::string str() const;

private:
    nlohmann::ordered_json body_ = nlohmann::ordered_json::object();
};

std::string jsonArray(const std::vector<std::string>& items);

// Prints a JSON value as one line on stdout and flushes it.
void printJson(const std::string& json);


// What a board or dongle said, in words: without the firmware's end marker
// "$$$", the library's own header lines (" send command:... ->chnl:N"),
// "connect_to_portName: " and a poll time given as a raw byte ("0xP").
std::string firmwareWords(const std::string& text);

// The boards' replies to one command, which the library strings together,
// one reply per board: each under its board's name when they can be told
// apart.
std::string boardReplies(const std::string& text, int boards);

}  // namespace app
