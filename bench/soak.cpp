// Load and soak: mbeeg-sim serves many boards (25 by default) on
// pseudo-terminals and writes what each sent (--truth); the driver finds them
// by discovery and monitors them for a long stretch of real time (60 s by
// default); afterwards every row is judged against the truth. Prints
// name=value lines:
//
//   boards, boards_found, discovery_s, seconds   what ran
//   rows_per_s                     sample rows written per second of the stretch
//   board_rows_per_s_min/_avg      per board, rows of the stretch that carry a
//                                  new packet of it
//   rows                           rows judged (whole run)
//   repeated_rows, radio_lost      rows in which a board repeats its previous
//                                  values, and packets the truth marks lost on
//                                  the radio within each board's span (summed
//                                  over boards; equal in a clean loop)
//   skipped_samples                packets sent within the span in no row (0)
//   lost_rows                      packets the driver put in sequence that no
//                                  row shows (0)
//   rejected                       bad footers and out-of-sequence packets
//   dup_rows_max                   rows of the stretch without a new packet of
//                                  the worst board
//   cpu_pct                        CPU of this process per wall time over the
//                                  stretch (% of one core), the row watcher's
//                                  own time taken out
//   rss_kib_10s, rss_kib_end, rss_growth_kib   resident memory at 10 s of the
//                                  stretch and at its end (target growth under
//                                  1024); rows are copied to a scratch file,
//                                  not held
//   boards_lost_events, load_avg
// Where rows and truth disagree, the first places go to stderr.
//
// Usage: soak [--boards 25] [--seconds 60] [--drop-rate 0] [--usb-latency-us 1000]
//             [--usb-jitter-us J] [--trial-seconds 20] [--sim PATH] [--direct]
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/harness.h"
#include "platform/afxwin.h"

namespace {

using bench::nowS;

std::atomic<int> g_lostEvents{0};

struct Options {
    int boards = 25;
    double seconds = 60;
    double dropRate = 0;
    int usbLatencyUs = 1000;
    int usbJitterUs = -1;
    double trialSeconds = 20;
    std::string sim;
    bool direct = false;
};

int run(const Options& o) {
    const std::string truthFile = bench::scratchPath("truth");
    struct Unlink {
        std::string path;
        ~Unlink() { ::unlink(path.c_str()); }
    } unlinkTruth{truthFile};

    bench::SimArgs args;
    args.program = o.sim;
    args.boards = o.boards;
    args.dropRate = o.dropRate;
    args.usbLatencyUs = o.usbLatencyUs;
    args.usbJitterUs = o.usbJitterUs;
    args.seed = 11;
    args.truthPath = truthFile;
    bench::SimProcess sim;
    if (!sim.start(args)) {
        std::fprintf(stderr, "mbeeg-sim did not list %d ports\n", o.boards);
        return 1;
    }
    auto rig = std::make_unique<bench::Rig>("soak");
    const bool connected = rig->connect(sim, o.direct);
    const int n = rig->boards();
    std::printf("boards=%d\nboards_found=%d\nconnected_by=%s\ndiscovery_s=%.1f\n", o.boards,
                o.direct ? n : rig->foundByDiscovery, rig->how.c_str(), rig->discoveryS);
    std::fflush(stdout);

    const std::int64_t S = static_cast<std::int64_t>(250 * o.trialSeconds);
    bench::RowWatcher watch;
    if (!connected || n == 0 || !rig->monitor(S) || !watch.start(*rig, S)) {
        std::fprintf(stderr, "could not start monitoring (%d boards found)\n", n);
        return 1;
    }
    const std::vector<int> simBoard = rig->simBoard;

    std::atomic<bool> quit{false};
    std::thread watcher([&] {
        while (!quit.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            watch.look();
        }
    });

    // Two seconds for the streams to settle, then the measured stretch.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double wall0 = nowS();
    const double cpu0 = bench::cpuS(CLOCK_PROCESS_CPUTIME_ID);
    const double watch0 = bench::threadCpuS(watcher);
    const std::int64_t row0 = watch.written();
    long rss10 = -1;
    while (nowS() - wall0 < o.seconds) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (rss10 < 0 && nowS() - wall0 >= 10.0) rss10 = bench::rssKib();
    }
    const double wall = nowS() - wall0;
    const double cpu = bench::cpuS(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    const double watchCpu = bench::threadCpuS(watcher) - watch0;
    const std::int64_t row1 = watch.written();
    const long rssEnd = bench::rssKib();
    if (rss10 < 0) rss10 = rssEnd;

    // Losses are judged over the whole run, once every row is in and the
    // simulator has written out all it sent.
    rig->stop();
    quit = true;
    watcher.join();
    watch.look();
    const std::vector<bench::DriverCounts> counts = bench::driverCounts(*rig);
    rig->close();
    sim.stop();

    std::vector<std::uint64_t> freshInStretch(static_cast<std::size_t>(n), 0);
    const bench::TruthVerdict v =
        bench::judgeRows(watch, simBoard, truthFile, [&](std::int64_t r, int b, const std::int32_t*) {
            if (r >= row0 && r < row1) ++freshInStretch[static_cast<std::size_t>(b)];
        });
    if (!v.error.empty()) {
        std::fprintf(stderr, "truth: %s\n", v.error.c_str());
        return 1;
    }

    const double stretchRows = static_cast<double>(row1 - row0);
    double minRate = 1e18, sumRate = 0;
    std::uint64_t dupMax = 0, rejected = 0, held = 0;
    int worst = 0;
    for (int b = 0; b < n; ++b) {
        const std::uint64_t f = freshInStretch[static_cast<std::size_t>(b)];
        const double rate = static_cast<double>(f) / wall;
        if (rate < minRate) minRate = rate, worst = b;
        sumRate += rate;
        dupMax = std::max<std::uint64_t>(dupMax, static_cast<std::uint64_t>(row1 - row0) - f);
        rejected += counts[static_cast<std::size_t>(b)].badFooters + counts[static_cast<std::size_t>(b)].outOfStep;
        held += counts[static_cast<std::size_t>(b)].held;
    }
    std::printf("seconds=%.1f\n", wall);
    std::printf("rows_per_s=%.1f\n", stretchRows / wall);
    std::printf("board_rows_per_s_min=%.1f\nboard_rows_per_s_avg=%.1f\nslowest_board=%d\n", minRate, sumRate / n,
                worst + 1);
    std::printf("rows=%lld\n", static_cast<long long>(watch.rows()));
    std::printf("repeated_rows=%llu\nradio_lost=%llu\n",
                static_cast<unsigned long long>(v.sum(&bench::BoardVerdict::repeated)),
                static_cast<unsigned long long>(v.sum(&bench::BoardVerdict::radioLost)));
    if (const auto cut = v.sum(&bench::BoardVerdict::cut)) std::printf("cut=%llu\n", static_cast<unsigned long long>(cut));
    std::printf("skipped_samples=%llu\nlost_rows=%llu\n",
                static_cast<unsigned long long>(v.sum(&bench::BoardVerdict::skipped)),
                static_cast<unsigned long long>(bench::lostRows(counts, v)));
    if (const auto u = v.sum(&bench::BoardVerdict::unknown)) std::printf("unknown_rows=%llu\n", static_cast<unsigned long long>(u));
    if (watch.missed()) std::printf("unwatched_rows=%lld\n", static_cast<long long>(watch.missed()));
    std::printf("held_rows=%llu\nrejected=%llu\ndup_rows_max=%llu\n", static_cast<unsigned long long>(held),
                static_cast<unsigned long long>(rejected), static_cast<unsigned long long>(dupMax));
    std::printf("cpu_pct=%.2f\n", 100.0 * (cpu - watchCpu) / wall);
    std::printf("rss_kib_10s=%ld\nrss_kib_end=%ld\nrss_growth_kib=%ld\n", rss10, rssEnd, rssEnd - rss10);
    std::printf("boards_lost_events=%d\n", g_lostEvents.load());
    std::printf("load_avg=%.2f\n", bench::loadAvg());
    std::fflush(stdout);
    if (v.findingsTotal) {
        std::fprintf(stderr, "%llu place(s) where rows and truth differ:\n",
                     static_cast<unsigned long long>(v.findingsTotal));
        for (const auto& f : v.findings) std::fprintf(stderr, "  %s\n", f.c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    o.sim = bench::selfDir() + "/../mbeeg-sim";
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
        else if (a == "--usb-latency-us") o.usbLatencyUs = std::atoi(next().c_str());
        else if (a == "--usb-jitter-us") o.usbJitterUs = std::atoi(next().c_str());
        else if (a == "--trial-seconds") o.trialSeconds = std::atof(next().c_str());
        else if (a == "--sim") o.sim = next();
        else if (a == "--direct") o.direct = true;
        else {
            std::fprintf(stderr, "usage: soak [--boards 25] [--seconds 60] [--drop-rate 0] [--usb-latency-us 1000] "
                                 "[--usb-jitter-us J] [--trial-seconds 20] [--sim PATH] [--direct]\n");
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
