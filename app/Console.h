// How the program talks to its user: the library's questions and notices,
// the host status log, progress lines.
#pragma once

#include <string>
#include <vector>

namespace app {

struct ConsoleOptions {
    char answer = 0;  // 'y' (--yes), 'n' (--no) or 0: ask on a terminal, refuse without one
    bool quiet = false;
    bool verbose = false;  // print the host status log
    bool trace = false;    // print every write to a serial port
    bool json = false;     // results as JSON on stdout, for scripts
};

// Routes the library's message boxes and status lines to the terminal.
void installConsole(const ConsoleOptions& opts);
const ConsoleOptions& console();

// A progress line that rewrites itself on a terminal (plain lines otherwise).
void progress(const std::string& line);
void progressDone();
// One line on stderr, prefixed with the program name.
void error(const std::string& line);
// One line on stderr as it is (trace and status lines).
void note(const std::string& line);

// While held, the library's notices (OK boxes) are kept instead of printed,
// so that a failed step can end in one line of its own; questions are still
// asked. Releasing returns what was kept (printed too with --verbose).
void holdNotices();
std::vector<std::string> releaseNotices();

// A text on one line: line breaks become " / ", blanks at the ends go.
std::string oneLine(const std::string& text);

}  // namespace app
