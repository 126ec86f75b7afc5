// The platform stand-ins the driver leans on: Windows-style formatting, the
// profile file surviving restarts and corruption, the virtual clock, threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/afxwin.h"

TEST(Strings, WideFormatTakesWideStringsAndNarrowTakesNarrow) {
    CString w;
    CString name(L"COM3");
    w.Format(L"Can't connect:%s->%s", name.GetString(), L"cfg");
    EXPECT_EQ(w, L"Can't connect:COM3->cfg");
    CStringA a;
    a.Format("x%c%c%i%i%c%c%cX", '4', '0', 6, 0, '1', '1', '0');
    EXPECT_EQ(a, "x4060110X");
    w.Format(L"%d%% %5.1f %S", 7, 2.25, "narrow");
    EXPECT_EQ(w, L"7%   2.2 narrow");
    CString big;
    big.Format(L"%s", std::wstring(5000, L'a').c_str());
    EXPECT_EQ(big.GetLength(), 5000);
}

TEST(Strings, ConversionAndSearch) {
    CStringA a("Success: Host and Device on Channel number: 7$$$");
    CString w(a);
    EXPECT_EQ(w.Find(L"number:"), 36);
    EXPECT_EQ(CStringA(w), a);
    EXPECT_EQ(CStringA(CString(L"µV")), "\xC2\xB5V");
    EXPECT_EQ(a.Find("nothing"), -1);
    EXPECT_EQ(a.Mid(44, 2), "7$");
    EXPECT_EQ(CString(L"Normal").CompareNoCase(L"NORMAL"), 0);
}

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = "/tmp/mbeeg-profile-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        saved_ = platform::profilePath();
        platform::setProfilePath(dir_ + "/p.ini");
        platform::setProfileNotice([this](const std::string& m) { notices_.push_back(m); });
    }
    void TearDown() override {
        platform::setProfileNotice(nullptr);
        platform::setProfilePath(saved_);
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    std::string dir_, saved_;
    std::vector<std::string> notices_;
};

TEST_F(ProfileTest, ValuesSurviveARestartThroughTheFile) {
    CWinApp* app = AfxGetApp();
    EXPECT_EQ(app->GetProfileInt(L"XFaceZovAviComRadioSetting", L"RadioChnl", 1), 1);
    ASSERT_TRUE(app->WriteProfileInt(L"XFaceZovAviComRadioSetting", L"RadioChnl", 17));
    ASSERT_TRUE(app->WriteProfileInt(L"XFaceZovAviComRadioSetting", L"PollTime", -3));
    std::ifstream f(dir_ + "/p.ini");
    std::stringstream ss;
    ss << f.rdbuf();
    EXPECT_NE(ss.str().find("RadioChnl=17"), std::string::npos);
    EXPECT_EQ(app->GetProfileInt(L"XFaceZovAviComRadioSetting", L"RadioChnl", 1), 17);
    EXPECT_EQ(app->GetProfileInt(L"XFaceZovAviComRadioSetting", L"PollTime", 1), -3);
    EXPECT_TRUE(notices_.empty());
}

TEST_F(ProfileTest, CorruptFileReadsAsDefaultsAndIsKeptAside) {
    std::system(("mkdir -p '" + dir_ + "'").c_str());
    {
        std::ofstream f(dir_ + "/p.ini", std::ios::binary);
        f << "[XFaceZovAviComRadioSetting]\nRadioChnl=9\n\x01\x02garbage without equals\n";
    }
    CWinApp* app = AfxGetApp();
    EXPECT_EQ(app->GetProfileInt(L"XFaceZovAviComRadioSetting", L"RadioChnl", 1), 1);
    ASSERT_EQ(notices_.size(), 1u);
    std::ifstream aside(dir_ + "/p.ini.corrupt");
    EXPECT_TRUE(aside.good());
    // A non-number value reads as the default without condemning the file.
    ASSERT_TRUE(app->WriteProfileInt(L"S", L"A", 4));
    {
        std::ofstream f(dir_ + "/p.ini", std::ios::app);
        f << "B=twelve\n";
    }
    EXPECT_EQ(app->GetProfileInt(L"S", L"B", 5), 5);
    EXPECT_EQ(app->GetProfileInt(L"S", L"A", 5), 4);
    EXPECT_EQ(notices_.size(), 1u);
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
std::atomic<int> g_ran{0};
UINT endsEarly(LPVOID p) {
    static_cast<std::atomic<int>*>(p)->store(1);
    AfxEndThread(0);
    static_cast<std::atomic<int>*>(p)->store(2);  // never reached
    return 0;
}
}  // namespace

TEST(Threads, AfxEndThreadEndsTheThreadAndJoinWaitsForIt) {
    CWinThread* t = AfxBeginThread(endsEarly, &g_ran, THREAD_PRIORITY_HIGHEST);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(platform::joinAllThreads(5000));
    EXPECT_EQ(g_ran.load(), 1);
    EXPECT_EQ(platform::runningThreads(), 0);
}

TEST(Threads, ASuspendedThreadWaitsForResume) {
    std::atomic<int> ran{0};
    CWinThread* t = AfxBeginThread(endsEarly, &ran, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(t, nullptr);
    EXPECT_FALSE(platform::joinAllThreads(50));
    EXPECT_EQ(ran.load(), 0);
    EXPECT_EQ(t->ResumeThread(), 1u);
    EXPECT_TRUE(platform::joinAllThreads(5000));
    EXPECT_EQ(ran.load(), 1);
}

TEST(MessageBoxes, ScriptedAnswersInOrderAndEveryTextRecorded) {
    platform::ScriptedMessageBoxes boxes(IDNO);
    boxes.answer(IDYES);
    EXPECT_EQ(AfxMessageBox(L"first?", MB_YESNO), IDYES);
    EXPECT_EQ(AfxMessageBox(L"second?", MB_YESNO), IDNO);
    EXPECT_EQ(AfxMessageBox("notice"), IDOK);
    EXPECT_EQ(boxes.texts(), (std::vector<std::wstring>{L"first?", L"second?", L"notice"}));
}
