#include "serialport/ComAlias.h"

#include <cctype>
#include <map>
#include <mutex>

namespace mbeeg::serial {

namespace {

struct Range {
    const char* prefix;
    int first;  // alias number of index 0
    int count;  // indices that fit before the next range
};

constexpr Range kRanges[] = {
    {"/dev/ttyUSB", 1, 32},
    {"/dev/ttyACM", 33, 32},
    {"/dev/ttyS", 65, 36},
    {"/dev/pts/", 101, 100},
    {"mem:", 201, 200},
};
constexpr int kFirstOther = 401;

// Paths outside the ranges, numbered as first seen.
std::mutex g_mutex;
std::map<std::string, int> g_byPath;
std::map<int, std::string> g_byNumber;

// The decimal index after prefix, or -1.
int indexAfter(const std::string& path, const std::string& prefix) {
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) return -1;
    std::string digits = path.substr(prefix.size());
    if (digits.size() > 6) return -1;
    for (char c : digits)
        if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
    if (digits.size() > 1 && digits[0] == '0') return -1;  // "ttyS01" is another file
    return std::stoi(digits);
}

int numberForPath(const std::string& path) {
    for (const Range& r : kRanges) {
        int k = indexAfter(path, r.prefix);
        if (k >= 0 && k < r.count) return r.first + k;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_byPath.find(path);
    if (it != g_byPath.end()) return it->second;
    int n = kFirstOther + static_cast<int>(g_byPath.size());
    g_byPath.emplace(path, n);
    g_byNumber.emplace(n, path);
    return n;
}

}  // namespace

int aliasNumber(const std::string& name) {
    std::string s = name;
    if (s.rfind("\\\\.\\", 0) == 0) s = s.substr(4);
    if (s.size() < 4) return 0;
    for (int i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(s[i])) != "COM"[i]) return 0;
    std::string digits = s.substr(3);
    if (digits.size() > 6 || digits[0] == '0') return 0;
    for (char c : digits)
        if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
    return std::stoi(digits);
}

std::string aliasForPath(const std::string& path) {
    if (path.empty()) return {};
    return "COM" + std::to_string(numberForPath(path));
}

std::string pathForName(const std::string& nameOrPath) {
    int n = aliasNumber(nameOrPath);
    if (n == 0) return nameOrPath;
    for (const Range& r : kRanges)
        if (n >= r.first && n < r.first + r.count) return r.prefix + std::to_string(n - r.first);
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_byNumber.find(n);
    return it == g_byNumber.end() ? std::string() : it->second;
}

}  // namespace mbeeg::serial
