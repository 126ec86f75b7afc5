// A program of ours in a child process, its stdout read line by line.
#pragma once

#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], 1);
            ::close(fds[0]);
            ::close(fds[1]);
            for (const auto& e : env) ::putenv(const_cast<char*>(e.c_str()));
            std::vector<char*> argv;
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~SimProcess() {
        stop();
        ::close(out_);
    }
    // The next line of output, or "" when none comes within 5 s.
    std::string line() {
        std::string s;
        char c;
        while (true) {
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0 || ::read(out_, &c, 1) != 1) return "";
            if (c == '\n') return s;
            s += c;
        }
    }
    // Whether it has ended by itself.
    bool ended() {
        if (pid_ > 0 && ::waitpid(pid_, &status_, WNOHANG) == pid_) pid_ = -1;
        return pid_ <= 0;
    }
    // Sends sig (unless it has ended) and waits: the exit status, or minus
    // the signal that ended it.
    int stop(int sig = SIGTERM) {
        if (pid_ > 0) {
            ::kill(pid_, sig);
            ::waitpid(pid_, &status_, 0);
            pid_ = -1;
        }
        return status_ == -1 ? -1 : WIFEXITED(status_) ? WEXITSTATUS(status_) : -WTERMSIG(status_);
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = -1;
};
