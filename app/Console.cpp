#include "app/Console.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <mutex>

#include "host/AcqFramework.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "platform/profile.h"

namespace app {
namespace {
ConsoleOptions g_opts;
std::mutex g_mu;
bool g_progressOpen = false;
bool g_holding = false;
std::vector<std::string> g_held;

void endProgressLocked() {
    if (g_progressOpen) {
        std::fputs("\n", stderr);
        g_progressOpen = false;
    }
}

int answerBox(const CString& text, UINT type) {
    std::string msg = platform::narrow(text.str());
    std::lock_guard<std::mutex> lk(g_mu);
    endProgressLocked();
    if ((type & MB_TYPEMASK) != MB_YESNO) {
        if (g_holding) g_held.push_back(oneLine(msg));
        else std::fprintf(stderr, "mbeeg: %s\n", oneLine(msg).c_str());
        return IDOK;
    }
    msg = oneLine(msg);
    if (g_opts.answer == 'y' || g_opts.answer == 'n') {
        std::fprintf(stderr, "mbeeg: %s -> %s\n", msg.c_str(), g_opts.answer == 'y' ? "yes (--yes)" : "no (--no)");
        return g_opts.answer == 'y' ? IDYES : IDNO;
    }
    if (!::isatty(STDIN_FILENO)) {
        std::fprintf(stderr, "mbeeg: %s -> no (no terminal to ask; answer with --yes or --no)\n", msg.c_str());
        return IDNO;
    }
    std::fprintf(stderr, "mbeeg: %s [y/N] ", msg.c_str());
    std::fflush(stderr);
    std::string reply;
    if (!std::getline(std::cin, reply)) return IDNO;
    return (!reply.empty() && (reply[0] == 'y' || reply[0] == 'Y')) ? IDYES : IDNO;
}
}  // namespace

void installConsole(const ConsoleOptions& opts) {
    g_opts = opts;
    platform::setMessageBoxHandler(answerBox);
    acqhost::setStatusSink([](const CString& line) {
        if (!g_opts.verbose) return;
        std::lock_guard<std::mutex> lk(g_mu);
        endProgressLocked();
        std::fprintf(stderr, "status: %s\n", platform::narrow(line.str()).c_str());
    });
    // A settings file set aside is worth one line, not a dialog.
    platform::setProfileNotice([](const std::string& m) { error(m); });
}

const ConsoleOptions& console() { return g_opts; }

void progress(const std::string& line) {
    if (g_opts.quiet) return;
    std::lock_guard<std::mutex> lk(g_mu);
    // A redraw only where both outputs are a terminal: a log or a pipe on
    // either side would collect every redraw as a line.
    if (::isatty(STDERR_FILENO) && ::isatty(STDOUT_FILENO)) {
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        g_progressOpen = true;
    } else {
        // Without a terminal, one line when the activity changes or every 5 s,
        // and none for what is over within 2 s (a log keeps its errors clear).
        static std::string lastHead;
        static std::int64_t lastUs = platform::clock().nowUs();
        static const std::int64_t firstUs = lastUs;
        // What the line is about: the words before its first figure or bar.
        std::string head = line.substr(0, line.find_first_of("0123456789[("));
        const std::int64_t now = platform::clock().nowUs();
        if (now - firstUs < 2'000'000) return;
        if (head == lastHead && now - lastUs < 5'000'000) return;
        lastHead = head;
        lastUs = now;
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    std::fflush(stderr);
}

void progressDone() {
    std::lock_guard<std::mutex> lk(g_mu);
    endProgressLocked();
}

void error(const std::string& line) {
    std::lock_guard<std::mutex> lk(g_mu);
    endProgressLocked();
    std::fprintf(stderr, "mbeeg: %s\n", oneLine(line).c_str());
}

void note(const std::string& line) {
    std::lock_guard<std::mutex> lk(g_mu);
    endProgressLocked();
    std::fprintf(stderr, "%s\n", line.c_str());
}

void holdNotices() {
    std::lock_guard<std::mutex> lk(g_mu);
    g_holding = true;
    g_held.clear();
}

std::vector<std::string> releaseNotices() {
    std::lock_guard<std::mutex> lk(g_mu);
    g_holding = false;
    std::vector<std::string> out;
    out.swap(g_held);
    if (g_opts.verbose) {
        endProgressLocked();
        for (const auto& m : out) std::fprintf(stderr, "status: %s\n", m.c_str());
    }
    return out;
}

std::string oneLine(const std::string& text) {
    std::string out;
    bool pendingBreak = false;
    for (char c : text) {
        if (c == '\n' || c == '\r') {
            pendingBreak = !out.empty();
            continue;
        }
        if (pendingBreak) {
            while (!out.empty() && out.back() == ' ') out.pop_back();
            out += " / ";
            pendingBreak = false;
            if (c == ' ') continue;
        }
        if (c == ' ' && !out.empty() && out.size() >= 3 && out.compare(out.size() - 3, 3, " / ") == 0) continue;
        out += c;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

}  // namespace app
