#include "link/RadioProtocol.h"

#include <climits>
#include <string>

namespace radio {

int extractNumber(const CStringA& reply, const char* marker) {
    const int at = reply.Find(marker);
    if (at < 0) return 0;
    const int start = at + static_cast<int>(CStringA(marker).GetLength());
    const int end = reply.Find("$$$");
    if (end < start) return 0;  // no "$$$" after the value: nothing to read
    const std::string& s = reply.str();
    size_t i = static_cast<size_t>(start);
    const size_t stop = static_cast<size_t>(end);
    while (i < stop && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < stop && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    long long value = 0;
    while (i < stop && s[i] >= '0' && s[i] <= '9') {
        value = value * 10 + (s[i++] - '0');
        if (value > INT_MAX) value = static_cast<long long>(INT_MAX) + 1;  // saturate
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace radio
