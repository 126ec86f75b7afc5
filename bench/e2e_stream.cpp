// End to end: mbeeg-sim serves N boards on pseudo-terminals, the driver
// connects to them through its entry points and monitors for T seconds.
// One line per N:
//   boards=N rows_per_s=… dup_rows=… lost_packets=… sim_dropped=… cpu_pct=…
//   latency_p50_ms=… latency_p99_ms=…
//
// What is measured:
// - rows_per_s: sample rows written into the trial per second of monitoring.
// - dup_rows: rows in which some board had no new packet (it repeats its
//   previous one): a lost packet, or a board out of step with the others.
// - lost_packets: the driver's count of sample-number gaps, all boards.
// - sim_dropped: gaps in the sample numbers the simulator wrote to its ptys
//   (packets lost on its simulated radio), over the same boards.
// - cpu_pct: CPU time of this process (driver worker and serial reads; the
//   observer thread's own time taken out) per wall time, in % of one core.
// - latency: from the write() that put a packet's last byte on the pty
//   (noted inside mbeeg-sim by the preloaded e2e_write_stamp library) to the
//   moment an observer thread saw the packet's row in the trial. The
//   observer looks every 200 us, so the figures include up to 0.2 ms of
//   looking. Packets are matched to rows by the hash of their 24 EEG bytes,
//   rebuilt from the row's microvolts and the board's gains.
//
// Usage: e2e_stream [--boards 1,8,25] [--seconds 30] [--drop-rate 0.001]
//                   [--sim PATH] [--stamp-lib PATH] [--direct]
// --direct opens the dongles on the ptys without discovery. E2E_DEBUG=1 in
// the environment adds each board's latency (=2: its course over the run).
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "bench/e2e_stamp.h"
#include "driver/DriveOpnBciMutiBoardzq.h"
#include "platform/afxwin.h"
#include "serialport/Backend.h"
#include "serialport/ComAlias.h"

namespace {

struct Options {
    std::vector<int> boards{1, 8, 25};
    double seconds = 30;
    double dropRate = 0.001;
    std::string sim;
    std::string stampLib;
    bool direct = false;
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
std::uint64_t nowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<std::uint64_t>(ts.tv_nsec);
}
double cpuS(clockid_t id) {
    timespec ts;
    clock_gettime(id, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

// The simulator as a child process, with the stamp library preloaded.
struct SimProcess {
    pid_t pid = -1;
    std::vector<std::string> ports;

    bool start(const Options& o, int n, const std::string& stampFile) {
        int out[2];
        if (::pipe(out) != 0) return false;
        pid = ::fork();
        if (pid < 0) return false;
        if (pid == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::close(out[1]);
            ::setenv("LD_PRELOAD", o.stampLib.c_str(), 1);
            ::setenv("MBEEG_STAMP_FILE", stampFile.c_str(), 1);
            std::string nb = std::to_string(n), dr = std::to_string(o.dropRate);
            ::execl(o.sim.c_str(), o.sim.c_str(), "--boards", nb.c_str(), "--drop-rate", dr.c_str(), "--seed", "7",
                    static_cast<char*>(nullptr));
            std::perror("exec mbeeg-sim");
            ::_exit(127);
        }
        ::close(out[1]);
        FILE* f = ::fdopen(out[0], "r");
        char line[512];
        while (static_cast<int>(ports.size()) < n && std::fgets(line, sizeof line, f)) {
            unsigned k;
            char path[400];
            if (std::sscanf(line, "PORT %u %399s", &k, path) == 2) ports.push_back(path);
        }
        std::fclose(f);
        return static_cast<int>(ports.size()) == n;
    }
    void stop() {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        int st = 0;
        ::waitpid(pid, &st, 0);
        pid = -1;
    }
};

int ptsOf(const CString& portName) {
    std::string name = CStringA(portName).GetString();
    std::string path = mbeeg::serial::pathForName(name);
    if (path.rfind("/dev/pts/", 0) != 0) return -1;
    return std::atoi(path.c_str() + 9);
}

double percentile(std::vector<double>& v, double p) {
    if (v.empty()) return NAN;
    std::size_t i = static_cast<std::size_t>(std::min<double>(v.size() - 1, std::floor(p * (v.size() - 1) + 0.5)));
    std::nth_element(v.begin(), v.begin() + static_cast<long>(i), v.end());
    return v[i];
}

// Follows the stamp file: per pty, the write time of each packet by hash,
// and the gaps in the sample numbers written.
struct StampReader {
    const stamp_file* file = nullptr;
    std::uint64_t seen = 0;
    std::unordered_map<int, std::unordered_map<std::uint64_t, std::uint64_t>> byPts;  // pts -> hash -> t_ns
    std::unordered_map<int, int> lastSample;
    std::uint64_t gaps = 0;
    bool counting = false;  // gaps count only while the driver streams

    void poll() {
        const std::uint64_t n = __atomic_load_n(&file->count, __ATOMIC_ACQUIRE);
        for (; seen < n; ++seen) {
            const stamp_entry& e = file->entries[seen % STAMP_SLOTS];
            auto& m = byPts[e.pts];
            if (m.size() > 20000) m.clear();  // old packets: long matched or never will be
            m[e.hash] = e.t_ns;
            auto it = lastSample.find(e.pts);
            if (it != lastSample.end() && counting) gaps += static_cast<std::uint64_t>((e.sample - it->second - 1) & 0xFF);
            lastSample[e.pts] = e.sample;
        }
    }
};

struct Result {
    bool ok = false;
    double rowsPerS = 0;
    std::uint64_t dupRows = 0, lost = 0, simDropped = 0, rows = 0;
    double cpuPct = 0, p50 = NAN, p99 = NAN;
    std::uint64_t unmatched = 0, matched = 0;
    std::string how;
};

bool connectDirect(CDriveOpnBciMutiBoardzq& drv, const std::vector<std::string>& ports) {
    for (const auto& path : ports) {
        auto* d = new CConfigComRadiozq;
        auto* port = new CMegSerialPortzq();
        CString name(mbeeg::serial::aliasForPath(path).c_str());
        if (!port->openRW(name, 1, 1)) {
            std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(), port->lastError().GetString());
            delete port;
            delete d;
            return false;
        }
        port->setupCom4Eeg(115200);
        port->setting4UsbVc(1000, 0);
        d->m_pSerialPort = port;
        d->m_portName = name;
        d->getTrackGainMb(1, 6);
        drv.m_dongles.push_back(d);
    }
    return drv.getDevice(1) != nullptr;
}

Result runOnce(const Options& o, int n) {
    Result res;
    const std::string stampFile = "/dev/shm/mbeeg-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(n);
    int fd = ::open(stampFile.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(STAMP_FILE_BYTES)) != 0) {
        std::perror("stamp file");
        return res;
    }
    void* map = ::mmap(nullptr, STAMP_FILE_BYTES, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (map == MAP_FAILED) return res;
    StampReader stamps;
    stamps.file = static_cast<const stamp_file*>(map);

    SimProcess sim;
    if (!sim.start(o, n, stampFile)) {
        std::fprintf(stderr, "mbeeg-sim did not list %d ports\n", n);
        sim.stop();
        return res;
    }
    std::string list;
    for (const auto& p : sim.ports) list += (list.empty() ? "" : ",") + p;
    ::setenv("MBEEG_SIM_PORTS", list.c_str(), 1);
    mbeeg::serial::setRealPortsEnabled(false);

    auto* drv = new CDriveOpnBciMutiBoardzq;
    CMeAcqDatazq data;
    CHdwrConfigzq cfg;
    cfg.m_linkType = LINK_TYPE_CYTON8;
    cfg.m_name = L"e2e";
    bool connected = false;
    if (!o.direct) {
        const double t0 = nowS();
        connected = drv->_02connectCom2Device(&cfg, &data) && static_cast<int>(drv->m_dongles.size()) == n &&
                    drv->_03makeAcgSns();
        res.how = "discovery " + std::to_string(nowS() - t0).substr(0, 5) + " s";
        if (!connected) {
            std::fprintf(stderr, "boards=%d: discovery found %zu boards; opening the ports directly\n", n,
                         drv->m_dongles.size());
            drv->cleanDevice();
            drv->cleanConfigComBle2Board();
        }
    }
    if (!connected) {
        drv->m_pConfigUser = &cfg;
        drv->checkInitConfigUserDetect(1, 1);
        connected = connectDirect(*drv, sim.ports);
        res.how = "direct";
    }

    const std::int64_t S = 250 * 20;
    data.getMEGRecordInfozq()->m_trialCount = 1;
    data.getMEGRecordInfozq()->m_samplesPerTrial = S;
    if (!connected || !drv->_09CheckInitTrlChn(&data, 0) || !drv->AcqMonit(&data, nullptr)) {
        std::fprintf(stderr, "boards=%d: could not start monitoring\n", n);
        drv->cleanDevice();
        drv->cleanConfigComBle2Board();
        drv->cleanCloseFaceCom();
        delete drv;
        sim.stop();
        ::munmap(map, STAMP_FILE_BYTES);
        ::unlink(stampFile.c_str());
        return res;
    }

    // Per board: its pty, its EEG channel scale, the hash of its last row.
    struct BoardView {
        int pts;
        double uvPerCount[8];
        std::uint64_t lastHash = 0;
    };
    std::vector<BoardView> views;
    for (CConfigComRadiozq* d : drv->m_dongles) {
        BoardView v{};
        v.pts = ptsOf(d->m_pSerialPort ? d->m_pSerialPort->getPortName() : d->m_portName);
        for (int p = 0; p < 8; ++p) {
            int g = d->m_pTrackGain ? d->m_pTrackGain->get_gain_for_channel(p) : 1;
            v.uvPerCount[p] = 4.5 / 8388607.0 / (g > 0 ? g : 1) * 1000000.0;
        }
        views.push_back(v);
    }
    stamps.counting = true;

    std::vector<double> lat;
    lat.reserve(static_cast<std::size_t>(o.seconds * 250 * n + 1000));
    std::atomic<bool> stop{false};
    double observerCpu = 0;
    std::int64_t firstTotal = -1, lastTotal = 0;
    double firstT = 0, lastT = 0;
    struct Pending {
        int pts;
        std::uint64_t hash;
        std::uint64_t seenNs;
        int tries;
        int board;
    };
    std::vector<std::vector<double>> latByBoard(static_cast<std::size_t>(n));
    std::vector<Pending> pending;
    std::thread observer([&] {
        std::int64_t done = 0;  // rows looked at
        const double t0 = cpuS(CLOCK_THREAD_CPUTIME_ID);
        while (!stop.load()) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            const std::uint64_t seenNs = nowNs();
            const int rounds = data.m_roundCounter.load();
            const std::int64_t cur = data.m_curSample.load();
            const std::int64_t total = static_cast<std::int64_t>(rounds) * S + cur;
            stamps.poll();
            if (total <= done && pending.empty()) continue;
            CMeAcqTrialzq* trial = data.getTrial(0);
            if (firstTotal < 0) {
                firstTotal = total;
                firstT = nowS();
                done = total;  // rows before the first look have no honest "seen" time
                continue;
            }
            for (std::int64_t r = done; r < total; ++r) {
                const std::int64_t row = r % S;
                bool dup = false;
                for (int b = 0; b < n; ++b) {
                    BoardView& v = views[static_cast<std::size_t>(b)];
                    std::uint8_t eeg[24];
                    for (int p = 0; p < 8; ++p) {
                        double uv = trial->getChannel(8 * b + p)->m_pData1[row];
                        std::int64_t c = std::llround(uv / v.uvPerCount[p]);
                        std::uint32_t u = static_cast<std::uint32_t>(c) & 0xFFFFFF;
                        eeg[3 * p] = static_cast<std::uint8_t>(u >> 16);
                        eeg[3 * p + 1] = static_cast<std::uint8_t>(u >> 8);
                        eeg[3 * p + 2] = static_cast<std::uint8_t>(u);
                    }
                    const std::uint64_t h = stamp_hash(eeg);
                    if (h == v.lastHash) {
                        dup = true;
                        continue;
                    }
                    v.lastHash = h;
                    pending.push_back({v.pts, h, seenNs, 0, b});
                }
                if (dup) ++res.dupRows;
            }
            // The stamp of a packet is noted just after its write() returns,
            // so a quick row can be seen before its stamp: look again later.
            std::size_t keep = 0;
            for (Pending& q : pending) {
                auto& m = stamps.byPts[q.pts];
                auto it = m.find(q.hash);
                if (it != m.end()) {
                    ++res.matched;
                    lat.push_back(static_cast<double>(q.seenNs - it->second) / 1e6);
                    latByBoard[static_cast<std::size_t>(q.board)].push_back(lat.back());
                    m.erase(it);
                } else if (++q.tries > 50) {
                    ++res.unmatched;
                } else {
                    pending[keep++] = q;
                }
            }
            pending.resize(keep);
            if (total > done) {
                done = total;
                lastTotal = total;
                lastT = nowS();
            }
        }
        observerCpu = cpuS(CLOCK_THREAD_CPUTIME_ID) - t0;
    });

    const double cpu0 = cpuS(CLOCK_PROCESS_CPUTIME_ID);
    const double wall0 = nowS();
    std::this_thread::sleep_for(std::chrono::duration<double>(o.seconds));
    const double wall = nowS() - wall0;
    const double cpu = cpuS(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    drv->AcqStop();
    stop = true;
    observer.join();
    platform::joinAllThreads(30000);

    res.ok = true;
    res.rows = static_cast<std::uint64_t>(std::max<std::int64_t>(0, lastTotal - firstTotal));
    res.rowsPerS = lastT > firstT ? res.rows / (lastT - firstT) : 0;
    res.cpuPct = 100.0 * (cpu - observerCpu) / wall;
    for (CConfigComRadiozq* d : drv->m_dongles) res.lost += d->m_statGaps.load();
    stamps.poll();
    res.simDropped = stamps.gaps;
    if (std::getenv("E2E_DEBUG")) {
        for (int b = 0; b < n; ++b) {
            auto& v = latByBoard[static_cast<std::size_t>(b)];
            if (v.empty()) continue;
            std::fprintf(stderr, "  board %d: first %.2f ms, last %.2f ms, ", b, v.front(), v.back());
            std::fprintf(stderr, "p50 %.2f ms |", percentile(v, 0.5));
            if (std::getenv("E2E_DEBUG")[0] == '2')
                for (std::size_t i = 0; i < v.size(); i += 50) std::fprintf(stderr, " %.1f", v[i]);
            std::fprintf(stderr, "\n");
        }
    }
    res.p50 = percentile(lat, 0.50);
    res.p99 = percentile(lat, 0.99);

    drv->cleanDevice();
    drv->cleanConfigComBle2Board();
    drv->cleanCloseFaceCom();
    delete drv;
    sim.stop();
    ::munmap(map, STAMP_FILE_BYTES);
    ::unlink(stampFile.c_str());
    return res;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    const std::string dir = selfDir();
    o.sim = dir + "/../mbeeg-sim";
    o.stampLib = dir + "/libe2e_write_stamp.so";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--boards") {
            o.boards.clear();
            std::string s = next();
            for (std::size_t p = 0; p <= s.size();) {
                std::size_t c = s.find(',', p);
                if (c == std::string::npos) c = s.size();
                if (c > p) o.boards.push_back(std::atoi(s.substr(p, c - p).c_str()));
                p = c + 1;
            }
        } else if (a == "--seconds") {
            o.seconds = std::atof(next().c_str());
        } else if (a == "--drop-rate") {
            o.dropRate = std::atof(next().c_str());
        } else if (a == "--sim") {
            o.sim = next();
        } else if (a == "--stamp-lib") {
            o.stampLib = next();
        } else if (a == "--direct") {
            o.direct = true;
        } else {
            std::fprintf(stderr,
                         "usage: e2e_stream [--boards 1,8,25] [--seconds 30] [--drop-rate 0.001] [--sim PATH] "
                         "[--stamp-lib PATH] [--direct]\n");
            return 2;
        }
    }
    if (::access(o.sim.c_str(), X_OK) != 0 || ::access(o.stampLib.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "need %s and %s\n", o.sim.c_str(), o.stampLib.c_str());
        return 2;
    }
    ::signal(SIGPIPE, SIG_IGN);
    acqhost::setStatusSink([](const CString&) {});
    int rc = 0;
    for (int n : o.boards) {
        if (n < 1) continue;
        Result r = runOnce(o, n);
        if (!r.ok) {
            rc = 1;
            continue;
        }
        std::printf(
            "boards=%d rows_per_s=%.1f dup_rows=%llu lost_packets=%llu sim_dropped=%llu cpu_pct=%.1f "
            "latency_p50_ms=%.2f latency_p99_ms=%.2f\n",
            n, r.rowsPerS, static_cast<unsigned long long>(r.dupRows), static_cast<unsigned long long>(r.lost),
            static_cast<unsigned long long>(r.simDropped), r.cpuPct, r.p50, r.p99);
        std::fprintf(stderr, "  (boards=%d: %s, %llu rows, %llu packets matched to rows, %llu not matched)\n", n,
                     r.how.c_str(), static_cast<unsigned long long>(r.rows),
                     static_cast<unsigned long long>(r.matched), static_cast<unsigned long long>(r.unmatched));
        std::fflush(stdout);
    }
    return rc;
}
