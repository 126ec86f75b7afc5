// The platform stand-ins the driver leans on: Windows-style strings and the
// virtual clock.
#include <gtest/gtest.h>

#include "platform/afxwin.h"

TEST(Strings, WideFormatTakesWideStringsNarrowTakesNarrowAndConversionKeepsUtf8) {
    CString w;
    w.Format(L"Can't connect:%s->%s", CString(L"COM3").GetString(), L"cfg");
    EXPECT_EQ(w, L"Can't connect:COM3->cfg");
    CStringA a;
    a.Format("x%c%c%i%i%c%c%cX", '4', '0', 6, 0, '1', '1', '0');
    EXPECT_EQ(a, "x4060110X");
    w.Format(L"%d%% %5.1f %S", 7, 2.25, "narrow");
    EXPECT_EQ(w, L"7%   2.2 narrow");
    w.Format(L"%s", std::wstring(5000, L'a').c_str());
    EXPECT_EQ(w.GetLength(), 5000);
    EXPECT_EQ(CStringA(CString(L"µV")), "\xC2\xB5V");
    EXPECT_EQ(CString(CStringA("number: 7$$$")).Find(L"7"), 8);
}

TEST(Clock, VirtualSleepCostsNoRealTimeAndMovesForwardOnly) {
    platform::ScopedVirtualClock vc(0);
    platform::RealClock real;
    auto t0 = real.nowUs();
    Sleep(35000);
    EXPECT_EQ(platform::clock().nowMs(), 35000);
    platform::clock().sleepUntilUs(1000);  // the past: no change
    EXPECT_EQ(platform::clock().nowMs(), 35000);
    EXPECT_LT(real.nowUs() - t0, 1'000'000);
}

// "\xC0\x8A" in a name was decoded as a line feed.
TEST(Strings, OverlongUtf8DoesNotDecodeIntoControlCharacters) {
    EXPECT_EQ(CString(CStringA("a\xC0\x8A" "b")).str(), std::wstring(L"a\u00C0\u008A" L"b"));
    EXPECT_EQ(CString(CStringA("\xE0\x80\xAF")).str(), std::wstring(L"\u00E0\u0080\u00AF"));  // overlong "/"
    EXPECT_EQ(CString(CStringA("\xF4\x90\x80\x80")).str().size(), 4u);                        // past U+10FFFF
    EXPECT_EQ(CString(CStringA("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80")).str(), std::wstring(L"\u00E9\u20AC\U0001F600"));
}
