#include "app/Output.h"

#include <cmath>
#include <cstdio>

namespace app {

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char u[8];
                std::snprintf(u, sizeof u, "\\u%04x", c);
                out += u;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

JsonObject& JsonObject::addRaw(const std::string& key, const std::string& json) {
    body_ += (body_.empty() ? "" : ",") + jsonString(key) + ":" + json;
    return *this;
}

JsonObject& JsonObject::add(const std::string& key, const std::string& value) { return addRaw(key, jsonString(value)); }

JsonObject& JsonObject::add(const std::string& key, double value) {
    if (!std::isfinite(value)) return addRaw(key, "null");
    char v[32];
    std::snprintf(v, sizeof v, "%.6g", value);
    return addRaw(key, v);
}

JsonObject& JsonObject::add(const std::string& key, long long value) { return addRaw(key, std::to_string(value)); }
JsonObject& JsonObject::add(const std::string& key, unsigned long long value) {
    return addRaw(key, std::to_string(value));
}
JsonObject& JsonObject::add(const std::string& key, bool value) { return addRaw(key, value ? "true" : "false"); }

std::string jsonArray(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
    return out + "]";
}

void printJson(const std::string& json) {
    std::fputs((json + "\n").c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace app
