// The Win32 scalar types and macros that the driver's code is written with.
#pragma once

#include <cstdint>

using DWORD = std::uint32_t;
using UINT = unsigned int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using BOOL = int;
using LONG = std::int32_t;
using LPVOID = void*;
using LPCTSTR = const wchar_t*;
using LPCSTR = const char*;
using TCHAR = wchar_t;
using COLORREF = std::uint32_t;
using UINT_PTR = std::uintptr_t;
using LRESULT = std::intptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef _T
#define _T(x) L##x
#endif

constexpr COLORREF RGB(int r, int g, int b) {
    return static_cast<COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int GetRValue(COLORREF c) { return c & 0xFF; }
constexpr int GetGValue(COLORREF c) { return (c >> 8) & 0xFF; }
constexpr int GetBValue(COLORREF c) { return (c >> 16) & 0xFF; }
