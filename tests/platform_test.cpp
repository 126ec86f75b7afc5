// The platform stand-ins the driver leans on: Windows-style formatting, the
// profile file surviving restarts and corruption, the virtual clock, threads.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

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
    CStringA reply("Success: Host and Device on Channel number: 7$$$");
    EXPECT_EQ(CString(reply).Find(L"number:"), 36);
    EXPECT_EQ(CStringA(CString(reply)), reply);
    EXPECT_EQ(CStringA(CString(L"µV")), "\xC2\xB5V");
    EXPECT_EQ(reply.Mid(44, 2), "7$");
    EXPECT_EQ(CString(L"Normal").CompareNoCase(L"NORMAL"), 0);
}

TEST(Profile, ValuesSurviveThroughTheFileAndACorruptFileIsKeptAside) {
    const std::string dir = "/tmp/mbeeg-profile-" + std::to_string(::getpid());
    const std::string saved = platform::profilePath();
    std::vector<std::string> notices;
    platform::setProfilePath(dir + "/p.ini");
    platform::setProfileNotice([&](const std::string& m) { notices.push_back(m); });
    CWinApp* app = AfxGetApp();
    const wchar_t* kSection = L"XFaceZovAviComRadioSetting";
    EXPECT_EQ(app->GetProfileInt(kSection, L"RadioChnl", 1), 1);
    ASSERT_TRUE(app->WriteProfileInt(kSection, L"RadioChnl", 17));
    ASSERT_TRUE(app->WriteProfileInt(kSection, L"PollTime", -3));
    std::stringstream ss;
    ss << std::ifstream(dir + "/p.ini").rdbuf();
    EXPECT_NE(ss.str().find("RadioChnl=17"), std::string::npos);
    EXPECT_EQ(app->GetProfileInt(kSection, L"RadioChnl", 1), 17);
    EXPECT_EQ(app->GetProfileInt(kSection, L"PollTime", 1), -3);
    // A non-number value reads as the default without condemning the file.
    std::ofstream(dir + "/p.ini", std::ios::app) << "B=twelve\n";
    EXPECT_EQ(app->GetProfileInt(kSection, L"B", 5), 5);
    EXPECT_TRUE(notices.empty());

    std::ofstream(dir + "/p.ini", std::ios::binary) << "[S]\nRadioChnl=9\n\x01\x02garbage without equals\n";
    EXPECT_EQ(app->GetProfileInt(L"S", L"RadioChnl", 1), 1);
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

namespace {
UINT endsEarly(LPVOID p) {
    static_cast<std::atomic<int>*>(p)->store(1);
    AfxEndThread(0);
    static_cast<std::atomic<int>*>(p)->store(2);  // never reached
    return 0;
}
}  // namespace

TEST(Threads, ASuspendedThreadWaitsForResumeAndAfxEndThreadEndsIt) {
    std::atomic<int> ran{0};
    CWinThread* t = AfxBeginThread(endsEarly, &ran, THREAD_PRIORITY_HIGHEST, 0, CREATE_SUSPENDED);
    ASSERT_NE(t, nullptr);
    EXPECT_FALSE(platform::joinAllThreads(50));
    EXPECT_EQ(ran.load(), 0);
    EXPECT_EQ(t->ResumeThread(), 1u);
    EXPECT_TRUE(platform::joinAllThreads(5000));
    EXPECT_EQ(ran.load(), 1);
    EXPECT_EQ(platform::runningThreads(), 0);
}
