// The settings file, the one file mbeeg writes outside a recording.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/profile.h"
#include "tests/support/Files.h"

using testfiles::slurp;

namespace {
const wchar_t* const kSection = L"XFaceZovAviComRadioSetting";

struct ProfileFiles : ::testing::Test {
    testfiles::TempDir tmp{"profile-files"};
    std::string dir = tmp.str();
    std::string saved;
    std::vector<std::string> notices;

    void SetUp() override {
        saved = platform::profilePath();
        platform::setProfileNotice([this](const std::string& m) { notices.push_back(m); });
    }
    void TearDown() override {
        platform::setProfilePath(saved);
        platform::setProfileNotice(nullptr);
    }
    static mode_t kind(const std::string& p) {
        struct stat st {};
        return ::lstat(p.c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
    }
    CWinApp& app() { return *AfxGetApp(); }
};
}  // namespace

// Defaults used, nothing written, the node unchanged, the user told once.
TEST_F(ProfileFiles, WhatIsNotARegularFileIsLeftAloneAndNamedOnce) {
    struct Case {
        const char* name;
        mode_t kind;
    };
    for (const Case& c : {Case{"fifo", S_IFIFO}, Case{"device", S_IFCHR}, Case{"dir", S_IFDIR}}) {
        const std::string p = dir + "/" + c.name;
        int made = c.kind == S_IFIFO  ? ::mkfifo(p.c_str(), 0600)
                   : c.kind == S_IFDIR ? ::mkdir(p.c_str(), 0700)
                                       : ::mknod(p.c_str(), S_IFCHR | 0600, makedev(1, 5));  // like /dev/zero
        if (made != 0 && c.kind == S_IFCHR) continue;  // not root: no device nodes
        ASSERT_EQ(made, 0) << c.name;
        platform::setProfilePath(p);
        notices.clear();
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(app().GetProfileInt(kSection, L"RadioChnl", 11), 11) << c.name;
            EXPECT_FALSE(app().WriteProfileInt(kSection, L"RadioChnl", 5)) << c.name;
        }
        EXPECT_EQ(kind(p), c.kind) << c.name;
        ASSERT_EQ(notices.size(), 1u) << c.name;
        EXPECT_NE(notices[0].find(c.kind == S_IFDIR ? "is a directory" : "is not a regular file"), std::string::npos)
            << notices[0];
    }
}

// The links stay links; a value the file already holds is not written again.
TEST_F(ProfileFiles, LinksAreWrittenThroughAndUnchangedValuesNotRewritten) {
    ASSERT_EQ(::mkdir((dir + "/real").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("real/mbeeg.ini", (dir + "/hop").c_str()), 0);
    ASSERT_EQ(::symlink("hop", (dir + "/link.ini").c_str()), 0);
    platform::setProfilePath(dir + "/link.ini");

    ASSERT_TRUE(app().WriteProfileInt(kSection, L"RadioChnl", 9));
    EXPECT_EQ(kind(dir + "/link.ini"), S_IFLNK);
    EXPECT_EQ(kind(dir + "/hop"), S_IFLNK);
    EXPECT_NE(slurp(dir + "/real/mbeeg.ini").find("RadioChnl=9"), std::string::npos);
    EXPECT_EQ(app().GetProfileInt(kSection, L"RadioChnl", -1), 9);

    struct stat before {}, after {};
    ASSERT_EQ(::stat((dir + "/real/mbeeg.ini").c_str(), &before), 0);
    ASSERT_TRUE(app().WriteProfileInt(kSection, L"RadioChnl", 9));
    ASSERT_EQ(::stat((dir + "/real/mbeeg.ini").c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);  // a write would have renamed a new file over it
    EXPECT_TRUE(notices.empty());
}

// More than 1 MiB is no settings file: it is kept aside, not read to the end.
TEST_F(ProfileFiles, AnOversizedFileIsKeptAsideAndTheDefaultsUsed) {
    const std::string p = dir + "/big.ini";
    {
        std::ofstream f(p);
        f << "[XFaceZovAviComRadioSetting]\nRadioChnl=3\n";
        for (int i = 0; i < 50000; ++i) f << "; padding padding padding\n";
    }
    platform::setProfilePath(p);
    EXPECT_EQ(app().GetProfileInt(kSection, L"RadioChnl", 11), 11);
    EXPECT_EQ(kind(p + ".corrupt"), S_IFREG);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("larger than 1 MiB"), std::string::npos) << notices[0];
}

// Edited by hand: comments of either kind and blank lines are read past.
TEST_F(ProfileFiles, AHandEditedFileWithCommentsReadsAsWritten) {
    const std::string p = dir + "/hand.ini";
    std::ofstream(p) << "# mbeeg settings\n; radio\n\n[XFaceZovAviComRadioSetting]\n  # the dongle's channel\nRadioChnl=12\n";
    platform::setProfilePath(p);
    EXPECT_EQ(app().GetProfileInt(kSection, L"RadioChnl", -1), 12);
    EXPECT_TRUE(notices.empty());
}

// "[ ]" in the file was saved back as "[]".
TEST_F(ProfileFiles, NamesTheFileCannotHoldAreRefusedAndNothingIsLost) {
    platform::setProfilePath(dir + "/p.ini");
    CWinApp* app = &this->app();
    std::ofstream(dir + "/p.ini") << "[ ]\n[XFaceZovAviComRadioSetting]\nPollTime=50\n";
    ASSERT_TRUE(app->WriteProfileInt(kSection, L"RadioChnl", 7));
    const wchar_t* awkward[][2] = {{L"", L""},           {L"", L"RadioChnl"}, {kSection, L""},
                                   {kSection, L"a=b"},   {kSection, L" key"}, {kSection, L"key\t"},
                                   {L"Other\n", L"k"},   {kSection, L"k\n[x]"}, {kSection, L";key"},
                                   {kSection, L"#key"},  {kSection, L"[key"}, {L" Other", L"k"}};
    for (const auto& name : awkward) {
        EXPECT_FALSE(app->WriteProfileInt(name[0], name[1], 1)) << CStringA(name[0]).GetString() << "/"
                                                                << CStringA(name[1]).GetString();
        EXPECT_EQ(app->GetProfileInt(kSection, L"RadioChnl", -1), 7);
        EXPECT_EQ(app->GetProfileInt(kSection, L"PollTime", -1), 50);
    }
    EXPECT_TRUE(app->WriteProfileInt(L"Other [2]", L"a key]", -3));
    EXPECT_EQ(app->GetProfileInt(L"Other [2]", L"a key]", 0), -3);
    EXPECT_EQ(app->GetProfileInt(kSection, L"RadioChnl", -1), 7);
    EXPECT_TRUE(notices.empty()) << "the file was found corrupt";
}
