// The platform stand-ins the driver leans on: Windows-style formatting, the
// profile file under corruption, the virtual clock. Threads are met through
// the reading loop's tests.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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

// Writing and reading back are the reliability tests' business; here the
// values the file cannot give.
TEST(Profile, ANonNumberReadsAsTheDefaultAndACorruptFileIsKeptAside) {
    const std::string dir = "/tmp/mbeeg-profile-" + std::to_string(::getpid());
    const std::string saved = platform::profilePath();
    std::vector<std::string> notices;
    platform::setProfilePath(dir + "/p.ini");
    platform::setProfileNotice([&](const std::string& m) { notices.push_back(m); });
    CWinApp* app = AfxGetApp();
    ASSERT_TRUE(app->WriteProfileInt(L"S", L"A", 4));
    std::ofstream(dir + "/p.ini", std::ios::app) << "B=twelve\n";
    EXPECT_EQ(app->GetProfileInt(L"S", L"B", 5), 5);
    EXPECT_TRUE(notices.empty());
    std::ofstream(dir + "/p.ini", std::ios::binary) << "[S]\nA=9\n\x01\x02garbage without equals\n";
    EXPECT_EQ(app->GetProfileInt(L"S", L"A", 1), 1);
    EXPECT_EQ(notices.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(dir + "/p.ini.corrupt"));
    platform::setProfileNotice(nullptr);
    platform::setProfilePath(saved);
    std::filesystem::remove_all(dir);
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
