// Found by fuzzing the settings profile: a write under a name the INI file
// cannot hold (empty, blank at an end, a line break, an entry with "=" or a
// comment mark) used to leave a file that the next read found unreadable and
// set aside, taking every other setting with it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/profile.h"

TEST(ReliabilityProfile, NamesTheFileCannotHoldAreRefusedAndNothingIsLost) {
    char tmpl[] = "/tmp/mbeeg-rel-profile.XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string saved = platform::profilePath();
    platform::setProfilePath(dir + "/p.ini");
    int notices = 0;
    platform::setProfileNotice([&](const std::string&) { ++notices; });

    CWinApp* app = AfxGetApp();
    const wchar_t* section = L"XFaceZovAviComRadioSetting";
    ASSERT_TRUE(app->WriteProfileInt(section, L"RadioChnl", 7));
    ASSERT_TRUE(app->WriteProfileInt(section, L"PollTime", 50));

    const wchar_t* awkward[][2] = {{L"", L""},          {L"", L"RadioChnl"}, {section, L""},
                                   {section, L"a=b"},   {section, L" key"},  {section, L"key\t"},
                                   {L"Other\n", L"k"},  {section, L"k\n[x]"}, {section, L";key"},
                                   {section, L"#key"},  {section, L"[key"},  {L" Other", L"k"}};
    for (const auto& name : awkward) {
        EXPECT_FALSE(app->WriteProfileInt(name[0], name[1], 1)) << CStringA(name[0]).GetString() << "/"
                                                                << CStringA(name[1]).GetString();
        EXPECT_EQ(app->GetProfileInt(section, L"RadioChnl", -1), 7);
        EXPECT_EQ(app->GetProfileInt(section, L"PollTime", -1), 50);
    }
    EXPECT_EQ(notices, 0);

    // Names with inner blanks or brackets are fine.
    EXPECT_TRUE(app->WriteProfileInt(L"Other [2]", L"a key]", -3));
    EXPECT_EQ(app->GetProfileInt(L"Other [2]", L"a key]", 0), -3);
    EXPECT_EQ(app->GetProfileInt(section, L"RadioChnl", -1), 7);
    EXPECT_EQ(notices, 0);

    platform::setProfileNotice(nullptr);
    platform::setProfilePath(saved);
    std::remove((dir + "/p.ini").c_str());
    ::rmdir(dir.c_str());
}

// Found the same way: a file with "[ ]" read fine, but the first write saved
// it back as "[]", which the next read took for a corrupt file.
TEST(ReliabilityProfile, AnEmptySectionHeaderSurvivesAWrite) {
    char tmpl[] = "/tmp/mbeeg-rel-profile.XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl, path = dir + "/p.ini";
    const std::string saved = platform::profilePath();
    platform::setProfilePath(path);
    int notices = 0;
    platform::setProfileNotice([&](const std::string&) { ++notices; });
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("[ ]\n[XFaceZovAviComRadioSetting]\nPollTime=50\n", f);
    std::fclose(f);

    CWinApp* app = AfxGetApp();
    EXPECT_TRUE(app->WriteProfileInt(L"XFaceZovAviComRadioSetting", L"RadioChnl", 9));
    EXPECT_EQ(app->GetProfileInt(L"XFaceZovAviComRadioSetting", L"RadioChnl", -1), 9);
    EXPECT_EQ(app->GetProfileInt(L"XFaceZovAviComRadioSetting", L"PollTime", -1), 50);
    EXPECT_EQ(notices, 0);

    platform::setProfileNotice(nullptr);
    platform::setProfilePath(saved);
    std::remove(path.c_str());
    ::rmdir(dir.c_str());
}

// Found the same way: a name in the file with the overlong form "\xC0\x8A"
// came out of the narrow-to-wide conversion as a line feed.
TEST(ReliabilityProfile, OverlongUtf8DoesNotDecodeIntoControlCharacters) {
    EXPECT_EQ(CString(CStringA("a\xC0\x8A" "b")).str(), std::wstring(L"a\u00C0\u008A" L"b"));
    EXPECT_EQ(CString(CStringA("\xE0\x80\xAF")).str(), std::wstring(L"\u00E0\u0080\u00AF"));  // overlong "/"
    EXPECT_EQ(CString(CStringA("\xF4\x90\x80\x80")).str().size(), 4u);                        // past U+10FFFF
    // Proper forms still decode.
    EXPECT_EQ(CString(CStringA("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80")).str(), std::wstring(L"\u00E9\u20AC\U0001F600"));
}
