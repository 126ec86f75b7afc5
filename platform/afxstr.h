// Wide (CString) and narrow (CStringA) strings with the MFC operations the
// driver uses, plus CStringArray. Format follows the Windows convention:
// in a wide format "%s" takes a wide string, in a narrow one a narrow string.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/wintypes.h"

namespace platform {
std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& wide);
std::string vformatA(const char* fmt, va_list ap);
std::wstring vformatW(const wchar_t* fmt, va_list ap);
}  // namespace platform

template <class C>
class CStringT {
public:
    using XCHAR = C;
    using string_type = std::basic_string<C>;

    CStringT() = default;
    CStringT(const C* s) : s_(s ? s : string_type()) {}
    CStringT(const C* s, int len) : s_(s ? string_type(s, static_cast<size_t>(len)) : string_type()) {}
    CStringT(C ch, int repeat = 1) : s_(static_cast<size_t>(repeat > 0 ? repeat : 0), ch) {}
    CStringT(const string_type& s) : s_(s) {}
    CStringT(string_type&& s) : s_(std::move(s)) {}
    // Conversion between wide and narrow, as MFC allows.
    template <class D, class = std::enable_if_t<!std::is_same_v<C, D>>>
    CStringT(const CStringT<D>& other) : s_(convert(other.str())) {}
    template <class D, class = std::enable_if_t<!std::is_same_v<C, D>>>
    CStringT(const D* other) : s_(other ? convert(std::basic_string<D>(other)) : string_type()) {}

    int GetLength() const { return static_cast<int>(s_.size()); }
    bool IsEmpty() const { return s_.empty(); }
    void Empty() { s_.clear(); }
    const C* GetString() const { return s_.c_str(); }
    operator const C*() const { return s_.c_str(); }
    const string_type& str() const { return s_; }
    string_type& str() { return s_; }

    C GetAt(int i) const { return s_[static_cast<size_t>(i)]; }
    void SetAt(int i, C ch) { s_[static_cast<size_t>(i)] = ch; }
    C operator[](int i) const { return s_[static_cast<size_t>(i)]; }

    int Find(const C* sub, int start = 0) const {
        if (!sub || start < 0 || start > GetLength()) return -1;
        auto p = s_.find(sub, static_cast<size_t>(start));
        return p == string_type::npos ? -1 : static_cast<int>(p);
    }
    int Find(const CStringT& sub, int start = 0) const { return Find(sub.GetString(), start); }
    int Find(C ch, int start = 0) const {
        if (start < 0 || start > GetLength()) return -1;
        auto p = s_.find(ch, static_cast<size_t>(start));
        return p == string_type::npos ? -1 : static_cast<int>(p);
    }
    int ReverseFind(C ch) const {
        auto p = s_.rfind(ch);
        return p == string_type::npos ? -1 : static_cast<int>(p);
    }

    CStringT Left(int n) const { return CStringT(s_.substr(0, clampLen(n))); }
    CStringT Right(int n) const {
        size_t k = clampLen(n);
        return CStringT(s_.substr(s_.size() - k));
    }
    CStringT Mid(int first) const { return first >= GetLength() ? CStringT() : CStringT(s_.substr(clampLen(first))); }
    CStringT Mid(int first, int count) const {
        if (first < 0) first = 0;
        if (first >= GetLength() || count <= 0) return CStringT();
        return CStringT(s_.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
    }

    CStringT& MakeUpper() {
        for (auto& c : s_) if (c >= 'a' && c <= 'z') c = static_cast<C>(c - 'a' + 'A');
        return *this;
    }
    CStringT& MakeLower() {
        for (auto& c : s_) if (c >= 'A' && c <= 'Z') c = static_cast<C>(c - 'A' + 'a');
        return *this;
    }
    int Compare(const C* o) const { return s_.compare(o ? o : string_type()); }
    int CompareNoCase(const C* o) const {
        CStringT a(*this), b(o);
        return a.MakeLower().s_.compare(b.MakeLower().s_);
    }
    CStringT& Trim() {
        auto ws = [](C c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
        size_t b = 0, e = s_.size();
        while (b < e && ws(s_[b])) ++b;
        while (e > b && ws(s_[e - 1])) --e;
        s_ = s_.substr(b, e - b);
        return *this;
    }
    int Replace(const C* from, const C* to) {
        string_type f(from), t(to);
        if (f.empty()) return 0;
        int n = 0;
        for (size_t p = s_.find(f); p != string_type::npos; p = s_.find(f, p + t.size())) {
            s_.replace(p, f.size(), t);
            ++n;
        }
        return n;
    }

    void Format(const C* fmt, ...) {
        va_list ap;
        va_start(ap, fmt);
        s_ = vformat(fmt, ap);
        va_end(ap);
    }
    void AppendFormat(const C* fmt, ...) {
        va_list ap;
        va_start(ap, fmt);
        s_ += vformat(fmt, ap);
        va_end(ap);
    }
    void Append(const C* s, int len) { s_.append(s, static_cast<size_t>(len)); }

    CStringT& operator+=(const CStringT& o) { s_ += o.s_; return *this; }
    CStringT& operator+=(const C* o) { if (o) s_ += o; return *this; }
    CStringT& operator+=(C c) { s_ += c; return *this; }

    friend CStringT operator+(const CStringT& a, const CStringT& b) { return CStringT(a.s_ + b.s_); }
    friend CStringT operator+(const CStringT& a, const C* b) { return CStringT(a.s_ + (b ? b : string_type())); }
    friend CStringT operator+(const C* a, const CStringT& b) { return CStringT((a ? string_type(a) : string_type()) + b.s_); }
    friend CStringT operator+(const CStringT& a, C b) { return CStringT(a.s_ + b); }
    friend bool operator==(const CStringT& a, const CStringT& b) { return a.s_ == b.s_; }
    friend bool operator==(const CStringT& a, const C* b) { return a.s_ == (b ? b : string_type()); }
    friend bool operator!=(const CStringT& a, const CStringT& b) { return a.s_ != b.s_; }
    friend bool operator!=(const CStringT& a, const C* b) { return !(a == b); }
    friend bool operator<(const CStringT& a, const CStringT& b) { return a.s_ < b.s_; }

private:
    size_t clampLen(int n) const {
        if (n < 0) return 0;
        return static_cast<size_t>(n) > s_.size() ? s_.size() : static_cast<size_t>(n);
    }
    static std::string convert(const std::wstring& w) { return platform::narrow(w); }
    static std::wstring convert(const std::string& a) { return platform::widen(a); }
    static std::string vformat(const char* f, va_list ap) { return platform::vformatA(f, ap); }
    static std::wstring vformat(const wchar_t* f, va_list ap) { return platform::vformatW(f, ap); }

    string_type s_;
};

using CString = CStringT<wchar_t>;
using CStringA = CStringT<char>;
using CStringW = CString;

class CStringArray {
public:
    int GetSize() const { return static_cast<int>(v_.size()); }
    int GetCount() const { return GetSize(); }
    bool IsEmpty() const { return v_.empty(); }
    int Add(const CString& s) { v_.push_back(s); return GetSize() - 1; }
    const CString& GetAt(int i) const { return v_[static_cast<size_t>(i)]; }
    CString& ElementAt(int i) { return v_[static_cast<size_t>(i)]; }
    const CString& operator[](int i) const { return v_[static_cast<size_t>(i)]; }
    CString& operator[](int i) { return v_[static_cast<size_t>(i)]; }
    void SetAt(int i, const CString& s) { v_[static_cast<size_t>(i)] = s; }
    void RemoveAll() { v_.clear(); }
    void RemoveAt(int i) { v_.erase(v_.begin() + i); }

private:
    std::vector<CString> v_;
};
