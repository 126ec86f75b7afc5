// The settings-profile reader on an arbitrary INI file: the input is written
// as the file, several entries are read (the dongle's own and one named in the
// file), one is written back and read again.
//
// Checked: reads of one file agree with each other; a write succeeds, is read
// back as written, keeps every other entry that was readable, and leaves a
// file that reads without being set aside.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/profile.h"

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "profile: %s\n", what);
        std::abort();
    }
}

struct Name {
    CString section, entry;
};

std::string trim(const std::string& s) {
    const std::size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

// A section and an entry as the file names them, if it names any.
bool nameFromFile(const std::string& text, Name& out) {
    if (text.find('\0') != std::string::npos) return false;  // not a file the reader takes
    std::string section;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string t = trim(text.substr(start, end - start));
        start = end + 1;
        if (t.empty() || t[0] == ';' || t[0] == '#') continue;
        if (t[0] == '[') {
            if (t.size() >= 3 && t.back() == ']') section = trim(t.substr(1, t.size() - 2));
            continue;
        }
        const std::size_t eq = t.find('=');
        if (section.empty() || eq == std::string::npos || eq == 0) continue;
        out.section = CString(CStringA(section));
        out.entry = CString(CStringA(trim(t.substr(0, eq))));
        // Names that are not UTF-8 cannot be asked for through the wide API.
        return CStringA(out.section).str() == section && CStringA(out.entry).str() == trim(t.substr(0, eq));
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string dir = [] {
        char tmpl[] = "/tmp/mbeeg-fuzz-profile.XXXXXX";
        const char* d = ::mkdtemp(tmpl);
        check(d != nullptr, "no scratch folder");
        return std::string(d);
    }();
    const std::string path = dir + "/mbeeg.ini";
    const std::string text(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f << text;
    }
    platform::setProfilePath(path);
    int notices = 0;
    platform::setProfileNotice([&](const std::string&) { ++notices; });

    std::vector<Name> names = {{L"XFaceZovAviComRadioSetting", L"RadioChnl"},
                               {L"XFaceZovAviComRadioSetting", L"PollTime"},
                               {L"XFaceZovAviComRadioSetting", L"SaveRadioChnl"},
                               {L"", L""}};
    Name fromFile;
    if (nameFromFile(text, fromFile)) names.push_back(fromFile);

    CWinApp* app = AfxGetApp();
    std::vector<int> first;
    for (const Name& n : names) first.push_back(app->GetProfileInt(n.section, n.entry, -7));
    // A file set aside on the first read gives the defaults from then on.
    const bool setAside = notices > 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const int again = app->GetProfileInt(names[i].section, names[i].entry, -7);
        check(again == (setAside ? -7 : first[i]), "two reads of one file disagree");
    }

    // Names the file cannot hold are among the targets too: empty, blank at
    // an end, a line break, an entry with "=" or a comment mark.
    const bool plain = names.size() > 4 || (size % 8) < 4;
    static const Name kAwkward[] = {{L"", L""}, {L"Other", L"a=b"}, {L" Other", L"key"}, {L"Other", L"k\n[x]"},
                                    {L"Other", L";key"}, {L"Other\n", L"key"}};
    const Name target = plain ? names[size % names.size() == 3 ? 0 : size % names.size()]
                              : kAwkward[size % (sizeof kAwkward / sizeof kAwkward[0])];
    const int value = static_cast<int>(size * 2654435761u);
    const BOOL wrote = app->WriteProfileInt(target.section, target.entry, value);
    if (plain) check(wrote == TRUE, "write of a plain name failed");
    const int before = notices;
    if (wrote) check(app->GetProfileInt(target.section, target.entry, -7) == value, "written value not read back");
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (wrote && names[i].section == target.section && names[i].entry == target.entry) continue;
        const int now = app->GetProfileInt(names[i].section, names[i].entry, -7);
        check(now == (setAside ? -7 : first[i]), "a write changed another entry");
    }
    check(notices == before, "the written file was set aside");

    platform::setProfileNotice(nullptr);
    std::remove(path.c_str());
    // A file set aside as unreadable; removed so that the next one gets the same name.
    std::remove((path + ".corrupt").c_str());
    return 0;
}
