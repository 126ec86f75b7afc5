#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

namespace platform {
namespace {

std::mutex g_mu;
std::string g_path;  // empty: the default place
std::function<void(const std::string&)> g_notice;

using Ini = std::map<std::string, std::map<std::string, std::string>>;

std::string defaultPath() {
    if (const char* p = std::getenv("MBEEG_PROFILE"); p && *p) return p;
    std::string base;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) base = x;
    else if (const char* h = std::getenv("HOME"); h && *h) base = std::string(h) + "/.config";
    else base = "/tmp";
    return base + "/mbeeg/mbeeg.ini";
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// Parses the file; false when it exists but is not an INI file we can trust.
bool parse(const std::string& text, Ini& ini) {
    if (text.find('\0') != std::string::npos) return false;
    std::istringstream in(text);
    std::string line, section;
    while (std::getline(in, line)) {
        std::string t = trim(line);
        if (t.empty() || t[0] == ';' || t[0] == '#') continue;
        if (t[0] == '[') {
            if (t.back() != ']' || t.size() < 3) return false;
            section = trim(t.substr(1, t.size() - 2));
            ini[section];
            continue;
        }
        size_t eq = t.find('=');
        if (eq == std::string::npos || eq == 0 || section.empty()) return false;
        ini[section][trim(t.substr(0, eq))] = trim(t.substr(eq + 1));
    }
    return true;
}

// Whether a section or entry name survives a write and the next read. One
// that does not would make the whole file unreadable, so that the next read
// sets it aside with every other setting.
bool storable(const std::string& name, bool entry) {
    if (name.empty() || name != trim(name) || name.find('\n') != std::string::npos) return false;
    if (entry && (name.find('=') != std::string::npos || name[0] == '[' || name[0] == ';' || name[0] == '#'))
        return false;
    return true;
}

void notify(const std::string& msg) {
    if (g_notice) g_notice(msg);
    else std::fprintf(stderr, "mbeeg: %s\n", msg.c_str());
}

// A settings file is small; anything larger is not ours to trust.
constexpr std::size_t kMaxProfileBytes = 1 << 20;

// Says a thing about a path once per process, not at every lookup.
void notifyOnce(const std::string& path, const std::string& msg) {
    static std::set<std::string> told;
    if (told.insert(path + '\n' + msg).second) notify(msg);
}

// Where writes to path really go: through symbolic links to their target,
// so that a linked profile stays linked.
std::string resolveLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        char buf[4096];
        const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
        if (n < 0) return path;  // not a link (or gone): the path itself
        std::string target(buf, static_cast<size_t>(n));
        if (target.empty() || target[0] != '/') {
            const size_t slash = path.rfind('/');
            target = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + target;
        }
        path = target;
    }
    return path;
}

// Whether a path may be read and written as a settings file: absent, or a
// regular file. Anything else (a directory, a device, a pipe) is left alone.
bool usable(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return errno == ENOENT;
    if (S_ISREG(st.st_mode)) return true;
    notifyOnce(path, "settings file " + path + (S_ISDIR(st.st_mode) ? " is a directory" : " is not a regular file") +
                         "; using the defaults and leaving it alone");
    return false;
}

// Reads the profile; a corrupt file is moved aside (never destroyed).
Ini load(const std::string& path) {
    Ini ini;
    if (!usable(path)) return ini;
    // Non-blocking, so that a pipe put there in the meantime cannot hang us.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return ini;
    struct stat st;
    std::string text;
    bool tooLarge = false;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        char buf[8192];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0) {
            text.append(buf, static_cast<size_t>(n));
            if (text.size() > kMaxProfileBytes) {
                tooLarge = true;
                break;
            }
        }
    }
    ::close(fd);
    if (!tooLarge && parse(text, ini)) return ini;
    ini.clear();
    const std::string target = resolveLinks(path);
    std::string aside = target + ".corrupt";
    if (::stat(aside.c_str(), &st) == 0) aside += "." + std::to_string(std::time(nullptr));
    const std::string what = tooLarge ? " is larger than 1 MiB" : " was unreadable";
    if (std::rename(target.c_str(), aside.c_str()) == 0)
        notify("settings file " + path + what + "; kept it as " + aside + " and used the defaults");
    else
        notify("settings file " + path + what + " (" + std::strerror(errno) + "); using the defaults");
    return ini;
}

void makeDirs(const std::string& path) {
    for (size_t p = path.find('/', 1); p != std::string::npos; p = path.find('/', p + 1))
        ::mkdir(path.substr(0, p).c_str(), 0755);
}

bool save(const std::string& linkPath, const Ini& ini) {
    const std::string path = resolveLinks(linkPath);
    if (!usable(path)) return false;
    makeDirs(path);
    std::string tmp = path + ".tmp." + std::to_string(::getpid());
    {
        std::remove(tmp.c_str());  // a stale one, or a link someone left there
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        if (!f) return false;
        for (const auto& [sec, entries] : ini) {
            // "[ ]" reads as a section without a name and without entries;
            // written back as "[]" it would make the file unreadable.
            if (sec.empty()) continue;
            f << '[' << sec << "]\n";
            for (const auto& [k, v] : entries) f << k << '=' << v << '\n';
            f << '\n';
        }
        f.flush();
        if (!f) {
            std::remove(tmp.c_str());
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::string profilePath() {
    std::lock_guard<std::mutex> lk(g_mu);
    return g_path.empty() ? defaultPath() : g_path;
}

void setProfilePath(const std::string& path) {
    std::lock_guard<std::mutex> lk(g_mu);
    g_path = path;
}

void setProfileNotice(std::function<void(const std::string&)> notice) {
    std::lock_guard<std::mutex> lk(g_mu);
    g_notice = std::move(notice);
}

}  // namespace platform

int CWinApp::GetProfileInt(const wchar_t* section, const wchar_t* entry, int defaultValue) {
    using namespace platform;
    std::lock_guard<std::mutex> lk(g_mu);
    Ini ini = load(g_path.empty() ? defaultPath() : g_path);
    auto s = ini.find(narrow(section ? section : L""));
    if (s == ini.end()) return defaultValue;
    auto e = s->second.find(narrow(entry ? entry : L""));
    if (e == s->second.end()) return defaultValue;
    const std::string& v = e->second;
    char* end = nullptr;
    errno = 0;
    long n = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end != '\0' || errno == ERANGE || n < INT32_MIN || n > INT32_MAX) return defaultValue;
    return static_cast<int>(n);
}

BOOL CWinApp::WriteProfileInt(const wchar_t* section, const wchar_t* entry, int value) {
    using namespace platform;
    std::lock_guard<std::mutex> lk(g_mu);
    const std::string sec = narrow(section ? section : L""), key = narrow(entry ? entry : L"");
    if (!storable(sec, false) || !storable(key, true)) return FALSE;
    std::string path = g_path.empty() ? defaultPath() : g_path;
    Ini ini = load(path);
    const std::string text = std::to_string(value);
    // A value the file already holds is not written again.
    if (auto s = ini.find(sec); s != ini.end())
        if (auto e = s->second.find(key); e != s->second.end() && e->second == text) return TRUE;
    ini[sec][key] = text;
    return save(path, ini) ? TRUE : FALSE;
}

CWinApp* AfxGetApp() {
    static CWinApp app;
    return &app;
}
