// How the program talks to its user: the library's questions and notices,
// the host status log, progress lines.
#pragma once

#include <string>

namespace app {

struct ConsoleOptions {
    char answer = 0;  // 'y' (--yes), 'n' (--no) or 0: ask on a terminal, refuse without one
    bool quiet = false;
    bool verbose = false;  // print the host status log
};

// Routes the library's message boxes and status lines to the terminal.
void installConsole(const ConsoleOptions& opts);
const ConsoleOptions& console();

// A progress line that rewrites itself on a terminal (plain lines otherwise).
void progress(const std::string& line);
void progressDone();
// One line on stderr, prefixed with the program name.
void error(const std::string& line);

}  // namespace app
