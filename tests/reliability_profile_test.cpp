// Found by fuzzing the settings profile: each used to leave a file that the
// next read found corrupt and set aside, with every other setting.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/profile.h"

namespace {

const wchar_t* const kSection = L"XFaceZovAviComRadioSetting";

class ReliabilityProfile : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/mbeeg-rel-profile.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        saved = platform::profilePath();
        platform::setProfilePath(dir + "/p.ini");
        platform::setProfileNotice([this](const std::string&) { ++notices; });
    }
    void TearDown() override {
        EXPECT_EQ(notices, 0) << "the file was found corrupt";
        platform::setProfileNotice(nullptr);
        platform::setProfilePath(saved);
        std::remove((dir + "/p.ini").c_str());
        ::rmdir(dir.c_str());
    }
    std::string dir, saved;
    int notices = 0;
    CWinApp* app = AfxGetApp();
};

}  // namespace

// A write under a name the file cannot hold (empty, blank at an end, a line
// break, an entry with "=" or a comment mark); and a file with "[ ]", which
// read fine but the first write saved back as "[]".
TEST_F(ReliabilityProfile, NamesTheFileCannotHoldAreRefusedAndNothingIsLost) {
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
    // Names with inner blanks or brackets are fine.
    EXPECT_TRUE(app->WriteProfileInt(L"Other [2]", L"a key]", -3));
    EXPECT_EQ(app->GetProfileInt(L"Other [2]", L"a key]", 0), -3);
    EXPECT_EQ(app->GetProfileInt(kSection, L"RadioChnl", -1), 7);
}

// A name in the file with the overlong form "\xC0\x8A" came out of the
// narrow-to-wide conversion as a line feed.
TEST(ReliabilityProfileText, OverlongUtf8DoesNotDecodeIntoControlCharacters) {
    EXPECT_EQ(CString(CStringA("a\xC0\x8A" "b")).str(), std::wstring(L"a\u00C0\u008A" L"b"));
    EXPECT_EQ(CString(CStringA("\xE0\x80\xAF")).str(), std::wstring(L"\u00E0\u0080\u00AF"));  // overlong "/"
    EXPECT_EQ(CString(CStringA("\xF4\x90\x80\x80")).str().size(), 4u);                        // past U+10FFFF
    // Proper forms still decode.
    EXPECT_EQ(CString(CStringA("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80")).str(), std::wstring(L"\u00E9\u20AC\U0001F600"));
}
