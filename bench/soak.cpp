// Load and soak: mbeeg-sim serves many boards (25 by default) on
// pseudo-terminals; the driver finds them by discovery and monitors them for
// a long stretch of real time (60 s by default). Prints name=value lines:
//
//   boards, discovery_s, seconds   what ran
//   rows_per_s                     sample rows written into the trial per second
//   board_rows_per_s_min/_avg      per board, rows that carry a new packet of it
//   lost_rows                      summed over the boards and the whole run:
//                                  packets their sample numbers say were sent
//                                  but that reached no row (lost on the link
//                                  or in the loop, or read and overwritten
//                                  before a row took them); expected 0 with a
//                                  clean simulator
//   lost_gaps, lost_overwritten    the two parts of lost_rows
//   dropped_packets                packets thrown away for a bad footer
//   dup_rows_max                   rows of the stretch in which the worst board
//                                  repeated its previous values (no new packet)
//   cpu_pct                        CPU of this process per wall time (% of one
//                                  core), the row watcher's own time taken out
//   rss_kib_10s, rss_kib_end, rss_growth_kib   resident memory at 10 s of
//                                  monitoring and at the end (target growth
//                                  under 1024)
//   load_avg                       the machine's 1-minute load at the end
//
// Usage: soak [--boards 25] [--seconds 60] [--drop-rate 0] [--sim PATH]
//             [--trial-seconds 20]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "driver/DriveOpnBciMutiBoardzq.h"
#include "platform/afxwin.h"
#include "serialport/Backend.h"

namespace {

std::atomic<int> g_lostEvents{0};

struct Options {
    int boards = 25;
    double seconds = 60;
    double dropRate = 0;
    double trialSeconds = 20;
    std::string sim;
};

std::string selfDir() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    buf[n] = 0;
    std::string p(buf);
    return p.substr(0, p.rfind('/'));
}

double nowS() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double cpuS(clockid_t id) {
    timespec ts;
    clock_gettime(id, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

long rssKib() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

double loadAvg() {
    double l = -1;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &l) != 1) l = -1;
        std::fclose(f);
    }
    return l;
}

struct SimProcess {
    pid_t pid = -1;
    std::vector<std::string> ports;

    bool start(const Options& o) {
        int out[2];
        if (::pipe(out) != 0) return false;
        pid = ::fork();
        if (pid < 0) return false;
        if (pid == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::close(out[1]);
            std::string nb = std::to_string(o.boards), dr = std::to_string(o.dropRate);
            ::execl(o.sim.c_str(), o.sim.c_str(), "--boards", nb.c_str(), "--drop-rate", dr.c_str(), "--seed", "11",
                    static_cast<char*>(nullptr));
            std::perror("exec mbeeg-sim");
            ::_exit(127);
        }
        ::close(out[1]);
        FILE* f = ::fdopen(out[0], "r");
        char line[512];
        while (static_cast<int>(ports.size()) < o.boards && std::fgets(line, sizeof line, f)) {
            unsigned k;
            char path[400];
            if (std::sscanf(line, "PORT %u %399s", &k, path) == 2) ports.push_back(path);
        }
        std::fclose(f);
        return static_cast<int>(ports.size()) == o.boards;
    }
    void stop() {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        int st = 0;
        ::waitpid(pid, &st, 0);
        pid = -1;
    }
};

// Watches the rows as they are written: per board, the rows in which its
// EEG values are new (a packet of its own came) and those that repeat them,
// over the whole run and over the measured stretch.
struct RowWatcher {
    CMeAcqDatazq* data = nullptr;
    std::int64_t S = 0;
    int boards = 0;
    std::int64_t done = 0;  // rows looked at (counted across rounds)
    std::int64_t rows = 0;  // rows looked at in the measured stretch
    std::vector<std::uint64_t> fresh, dup, freshAll;
    std::vector<std::array<double, 8>> last;
    std::int64_t skipped = 0;

    void start(CMeAcqDatazq* d, std::int64_t s, int n) {
        data = d;
        S = s;
        boards = n;
        fresh.assign(static_cast<size_t>(n), 0);
        dup.assign(static_cast<size_t>(n), 0);
        freshAll.assign(static_cast<size_t>(n), 0);
        last.assign(static_cast<size_t>(n), {});
    }

    std::int64_t total() const {
        return static_cast<std::int64_t>(data->m_roundCounter.load()) * S + data->m_curSample.load();
    }

    // Falls behind by more than a trial only if the machine stalls for that
    // long; the rows in between are then skipped and said so.
    void look(bool inStretch) {
        const std::int64_t t = total();
        CMeAcqTrialzq* trial = data->getTrial(0);
        if (!trial) return;
        if (t - done > S - 250) {
            skipped += t - done;
            done = t;
            return;
        }
        for (std::int64_t r = done; r < t; ++r) {
            const std::int64_t row = r % S;
            for (int b = 0; b < boards; ++b) {
                const size_t i = static_cast<size_t>(b);
                std::array<double, 8> v;
                for (int p = 0; p < 8; ++p) v[static_cast<size_t>(p)] = trial->getChannel(8 * b + p)->m_pData1[row];
                const bool same = v == last[i];
                if (!same) ++freshAll[i];
                if (inStretch) ++(same ? dup : fresh)[i];
                last[i] = v;
            }
            if (inStretch) ++rows;
        }
        done = t;
    }
};

int run(const Options& o) {
    SimProcess sim;
    if (!sim.start(o)) {
        std::fprintf(stderr, "mbeeg-sim did not list %d ports\n", o.boards);
        sim.stop();
        return 1;
    }
    std::string list;
    for (const auto& p : sim.ports) list += (list.empty() ? "" : ",") + p;
    ::setenv("MBEEG_SIM_PORTS", list.c_str(), 1);
    mbeeg::serial::setRealPortsEnabled(false);

    auto* drv = new CDriveOpnBciMutiBoardzq;
    CMeAcqDatazq data;
    CHdwrConfigzq cfg;
    cfg.m_linkType = LINK_TYPE_CYTON8;
    cfg.m_name = L"soak";
    const double d0 = nowS();
    const bool connected = drv->_02connectCom2Device(&cfg, &data) && drv->_03makeAcgSns();
    const double discoveryS = nowS() - d0;
    const int n = static_cast<int>(drv->m_dongles.size());
    std::printf("boards=%d\nboards_found=%d\ndiscovery_s=%.1f\n", o.boards, n, discoveryS);
    std::fflush(stdout);

    const std::int64_t S = static_cast<std::int64_t>(250 * o.trialSeconds);
    data.getMEGRecordInfozq()->m_trialCount = 1;
    data.getMEGRecordInfozq()->m_samplesPerTrial = S;
    auto cleanUp = [&] {
        drv->cleanDevice();
        drv->cleanConfigComBle2Board();
        drv->cleanCloseFaceCom();
        delete drv;
        sim.stop();
    };
    if (!connected || n == 0 || !drv->_09CheckInitTrlChn(&data, 0) || !drv->AcqMonit(&data, nullptr)) {
        std::fprintf(stderr, "could not start monitoring (%d boards found)\n", n);
        cleanUp();
        return 1;
    }

    RowWatcher watch;
    watch.start(&data, S, n);
    std::atomic<int> phase{0};  // 0 settle, 1 measured stretch, 2 after it
    std::atomic<bool> quit{false};
    double watcherCpu = 0;              // its CPU in the stretch
    double countFrom = 0, countTo = 0;  // when it counted rows of the stretch
    std::thread watcher([&] {
        double c0 = 0;
        int was = 0;
        while (!quit.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const int ph = phase.load();
            if (ph == 1 && was == 0) {
                watch.look(false);
                countFrom = nowS();
                c0 = cpuS(CLOCK_THREAD_CPUTIME_ID);
            } else {
                watch.look(ph == 1);
                if (ph == 1) countTo = nowS();
                if (ph == 2 && was == 1) watcherCpu = cpuS(CLOCK_THREAD_CPUTIME_ID) - c0;
            }
            was = ph;
        }
    });

    // Two seconds for the streams to settle, then the measured stretch.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    phase = 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(120));  // the watcher takes its start
    const double wall0 = nowS();
    const double cpu0 = cpuS(CLOCK_PROCESS_CPUTIME_ID);
    long rss10 = -1;
    while (nowS() - wall0 < o.seconds) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (rss10 < 0 && nowS() - wall0 >= 10.0) rss10 = rssKib();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(120));  // the watcher's last look
    phase = 2;
    const double wall = nowS() - wall0;
    const double cpu = cpuS(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    const long rssEnd = rssKib();
    if (rss10 < 0) rss10 = rssEnd;

    // Losses are judged over the whole run, when every row is in: the
    // driver's counts start with the streams, the watcher saw every row.
    drv->AcqStop();
    platform::joinAllThreads(30000);
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    quit = true;
    watcher.join();
    watch.look(false);
    std::vector<std::uint64_t> packets(static_cast<size_t>(n)), gaps(packets), dropped(packets);
    for (int b = 0; b < n; ++b) {
        CConfigComRadiozq* d = drv->m_dongles[static_cast<size_t>(b)];
        packets[static_cast<size_t>(b)] = d->m_statPackets.load();
        gaps[static_cast<size_t>(b)] = d->m_statGaps.load();
        dropped[static_cast<size_t>(b)] = d->m_statDropped.load();
    }

    double minRate = 1e18, sumRate = 0;
    std::uint64_t lostGaps = 0, lostOver = 0, droppedAll = 0, dupMax = 0;
    int worst = 0;
    for (int b = 0; b < n; ++b) {
        const size_t i = static_cast<size_t>(b);
        const double rate = static_cast<double>(watch.fresh[i]) / (countTo - countFrom);
        if (rate < minRate) minRate = rate, worst = b;
        sumRate += rate;
        lostGaps += gaps[i];
        // Packets the driver decoded that no row shows.
        if (packets[i] > watch.freshAll[i]) lostOver += packets[i] - watch.freshAll[i];
        droppedAll += dropped[i];
        dupMax = std::max<std::uint64_t>(dupMax, watch.dup[i]);
    }
    std::printf("seconds=%.1f\n", wall);
    std::printf("rows_per_s=%.1f\n", static_cast<double>(watch.rows) / (countTo - countFrom));
    std::printf("board_rows_per_s_min=%.1f\nboard_rows_per_s_avg=%.1f\nslowest_board=%d\n", minRate, sumRate / n,
                worst + 1);
    std::printf("lost_rows=%llu\nlost_gaps=%llu\nlost_overwritten=%llu\ndropped_packets=%llu\ndup_rows_max=%llu\n",
                static_cast<unsigned long long>(lostGaps + lostOver), static_cast<unsigned long long>(lostGaps),
                static_cast<unsigned long long>(lostOver), static_cast<unsigned long long>(droppedAll),
                static_cast<unsigned long long>(dupMax));
    if (watch.skipped) std::printf("rows_not_watched=%lld\n", static_cast<long long>(watch.skipped));
    std::printf("cpu_pct=%.1f\n", 100.0 * (cpu - watcherCpu) / wall);
    std::printf("rss_kib_10s=%ld\nrss_kib_end=%ld\nrss_growth_kib=%ld\n", rss10, rssEnd, rssEnd - rss10);
    std::printf("boards_lost_events=%d\n", g_lostEvents.load());
    std::printf("load_avg=%.2f\n", loadAvg());
    std::fflush(stdout);
    cleanUp();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    o.sim = selfDir() + "/../mbeeg-sim";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--boards") o.boards = std::atoi(next().c_str());
        else if (a == "--seconds") o.seconds = std::atof(next().c_str());
        else if (a == "--drop-rate") o.dropRate = std::atof(next().c_str());
        else if (a == "--trial-seconds") o.trialSeconds = std::atof(next().c_str());
        else if (a == "--sim") o.sim = next();
        else {
            std::fprintf(stderr, "usage: soak [--boards 25] [--seconds 60] [--drop-rate 0] [--sim PATH] "
                                 "[--trial-seconds 20]\n");
            return 2;
        }
    }
    if (o.boards < 1 || o.boards > 25 || o.seconds <= 0 || o.trialSeconds < 2) {
        std::fprintf(stderr, "soak: --boards 1 to 25, --seconds above 0, --trial-seconds at least 2\n");
        return 2;
    }
    if (::access(o.sim.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "need %s\n", o.sim.c_str());
        return 2;
    }
    ::signal(SIGPIPE, SIG_IGN);
    // Boards the loop loses and gets back show in its status lines.
    acqhost::setStatusSink([](const CString& line) {
        if (line.Find(L" lost at ") >= 0 && line.Find(L", back at ") < 0 && line.Find(L"not back") < 0)
            g_lostEvents.fetch_add(1);
    });
    return run(o);
}
