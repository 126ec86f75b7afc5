// A day-long recording in bounded memory: the program `mbeeg --sim 8 record
// --seconds 86400` runs in real time on its built-in simulated boards; its
// resident memory is read while it records, then Ctrl-C (SIGINT) stops it,
// which must save what came at once. Prints name=value lines:
//
//   boards, record_seconds        what ran
//   rss_mib_at_10s, rss_mib_at_60s   the program's resident memory at those
//                                 points of the run (target at 60 s: under 64)
//   rss_growth_mib                from 10 s to the last look
//   stop_s                        from SIGINT to the program's end
//   exit_status                   6: stopped by a signal, what came is saved
//   saved_mib                     size of the saved file
//
// Usage: day_rss [--boards 8] [--seconds 60] [--mbeeg PATH]
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "bench/harness.h"

int main(int argc, char** argv) {
    int boards = 8;
    double seconds = 60;
    std::string mbeeg = bench::selfDir() + "/../app/mbeeg";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--boards") boards = std::atoi(argv[i + 1]);
        else if (a == "--seconds") seconds = std::atof(argv[i + 1]);
        else if (a == "--mbeeg") mbeeg = argv[i + 1];
        else {
            std::fprintf(stderr, "usage: day_rss [--boards 8] [--seconds 60] [--mbeeg PATH]\n");
            return 2;
        }
    }
    const std::string dir = bench::scratchPath("day");
    if (::mkdir(dir.c_str(), 0700) != 0) return 1;
    const std::string out = dir + "/day.bdf", log = dir + "/out.txt";
    const std::string profile = "MBEEG_PROFILE=" + dir + "/p.ini";
    const std::string nBoards = std::to_string(boards);

    const double t0 = bench::nowS();
    const pid_t pid = ::fork();
    if (pid < 0) return 1;
    if (pid == 0) {
        ::setpgid(0, 0);
        std::freopen(log.c_str(), "w", stdout);
        std::freopen(log.c_str(), "a", stderr);
        ::putenv(const_cast<char*>(profile.c_str()));
        ::execl(mbeeg.c_str(), mbeeg.c_str(), "--sim", nBoards.c_str(), "record", "--seconds", "86400", "--out",
                out.c_str(), static_cast<char*>(nullptr));
        std::perror("exec mbeeg");
        std::_Exit(127);
    }
    double at10 = -1, last = -1;
    int status = 0;
    bool ended = false;
    while (bench::nowS() - t0 < seconds) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            ended = true;
            break;
        }
        last = static_cast<double>(bench::rssKib(pid)) / 1024.0;
        if (at10 < 0 && bench::nowS() - t0 >= 10) at10 = last;
    }
    double stopS = -1;
    if (!ended) {
        const double ts = bench::nowS();
        ::kill(pid, SIGINT);
        ::waitpid(pid, &status, 0);
        stopS = bench::nowS() - ts;
    } else {
        std::fprintf(stderr, "mbeeg ended before the look; see %s\n", log.c_str());
    }
    struct stat st {};
    const double savedMib = ::stat(out.c_str(), &st) == 0 ? static_cast<double>(st.st_size) / 1048576.0 : 0;
    std::printf("boards=%d\nrecord_seconds=86400\n", boards);
    std::printf("rss_mib_at_10s=%.1f\nrss_mib_at_%.0fs=%.1f\nrss_growth_mib=%.1f\n", at10, seconds, last,
                at10 >= 0 ? last - at10 : -1);
    std::printf("stop_s=%.2f\nexit_status=%d\nsaved_mib=%.1f\n", stopS, WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                savedMib);
    for (const char* f : {"day.bdf", "day.json", "out.txt", "p.ini"}) ::unlink((dir + "/" + f).c_str());
    ::rmdir(dir.c_str());
    return ended ? 1 : 0;
}
