#include "platform/afxstr.h"

#include <cstdio>
#include <cwchar>

namespace platform {

std::wstring widen(const std::string& s) {
    std::wstring out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        unsigned cp;
        int extra;
        if (c < 0x80) { cp = c; extra = 0; }
        else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; extra = 1; }
        else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; extra = 2; }
        else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; extra = 3; }
        else { out += static_cast<wchar_t>(c); ++i; continue; }  // stray byte: keep as Latin-1
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            if (i + static_cast<size_t>(k) >= s.size()) { ok = false; break; }
            unsigned char d = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
            if ((d & 0xC0) != 0x80) { ok = false; break; }
            cp = (cp << 6) | (d & 0x3F);
        }
        // Overlong forms ("\xC0\x8A" for a line feed) and code points past
        // U+10FFFF are not UTF-8: their lead byte stays a stray byte.
        static constexpr unsigned kLeast[4] = {0, 0x80, 0x800, 0x10000};
        if (ok && (cp < kLeast[extra] || cp > 0x10FFFF)) ok = false;
        if (!ok) { out += static_cast<wchar_t>(c); ++i; continue; }
        out += static_cast<wchar_t>(cp);
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

std::string narrow(const std::wstring& w) {
    std::string out;
    out.reserve(w.size());
    for (wchar_t wc : w) {
        unsigned cp = static_cast<unsigned>(wc);
        if (cp < 0x80) out += static_cast<char>(cp);
        else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | ((cp >> 18) & 0x07));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

namespace {
template <class C>
bool isSpecChar(C c) {
    return c == '-' || c == '+' || c == ' ' || c == '#' || c == '.' || c == '*' || (c >= '0' && c <= '9');
}

// Rewrites a Windows-style format for the C library: in a wide format %s and %c
// take wide arguments (glibc wants %ls / %lc), %S and %C narrow ones; in a
// narrow format %S and %C take wide ones.
template <class C>
std::basic_string<C> toPosixFormat(const C* fmt, bool wide) {
    std::basic_string<C> out;
    for (const C* p = fmt; *p; ++p) {
        out += *p;
        if (*p != '%') continue;
        ++p;
        if (*p == '%') { out += *p; continue; }
        bool hasLength = false;
        while (*p && isSpecChar(*p)) {
            out += *p;
            ++p;
        }
        while (*p == 'h' || *p == 'l' || *p == 'L' || *p == 'z' || *p == 'j' || *p == 't' || *p == 'q' ||
               *p == 'I') {
            hasLength = true;
            out += *p;
            ++p;
        }
        if (!*p) break;
        C conv = *p;
        if (!hasLength) {
            if (wide && (conv == 's' || conv == 'c')) out += static_cast<C>('l');
            if (conv == 'S' || conv == 'C') {
                if (!wide) out += static_cast<C>('l');
                conv = static_cast<C>(conv == 'S' ? 's' : 'c');
            }
        }
        out += conv;
    }
    return out;
}
}  // namespace

std::string vformatA(const char* fmt, va_list ap) {
    if (!fmt) return {};
    std::string f = toPosixFormat(fmt, false);
    va_list cp;
    va_copy(cp, ap);
    int n = std::vsnprintf(nullptr, 0, f.c_str(), cp);
    va_end(cp);
    if (n < 0) return {};
    std::string out(static_cast<size_t>(n) + 1, '\0');
    va_copy(cp, ap);
    std::vsnprintf(out.data(), out.size(), f.c_str(), cp);
    va_end(cp);
    out.resize(static_cast<size_t>(n));
    return out;
}

std::wstring vformatW(const wchar_t* fmt, va_list ap) {
    if (!fmt) return {};
    std::wstring f = toPosixFormat(fmt, true);
    for (size_t cap = 256; cap <= (1u << 24); cap *= 4) {
        std::wstring out(cap, L'\0');
        va_list cp;
        va_copy(cp, ap);
        int n = std::vswprintf(out.data(), cap, f.c_str(), cp);
        va_end(cp);
        if (n >= 0) {
            out.resize(static_cast<size_t>(n));
            return out;
        }
    }
    return {};
}

}  // namespace platform
