#include "bench/harness.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <unordered_map>

#include "platform/afxwin.h"
#include "platform/thread.h"
#include "serialport/Backend.h"
#include "serialport/ComAlias.h"

namespace bench {

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
    if (clock_gettime(id, &ts) != 0) return 0;
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

double threadCpuS(std::thread& t) {
    clockid_t id;
    if (::pthread_getcpuclockid(t.native_handle(), &id) != 0) return 0;
    return cpuS(id);
}

long rssKib(pid_t pid) {
    std::ifstream f(pid > 0 ? "/proc/" + std::to_string(pid) + "/status" : std::string("/proc/self/status"));
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

std::vector<int> parseIntList(const std::string& s) {
    std::vector<int> out;
    for (std::size_t p = 0; p <= s.size();) {
        std::size_t c = s.find(',', p);
        if (c == std::string::npos) c = s.size();
        if (c > p) out.push_back(std::atoi(s.substr(p, c - p).c_str()));
        p = c + 1;
    }
    return out;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return NAN;
    const std::size_t i =
        static_cast<std::size_t>(std::min<double>(v.size() - 1, std::floor(p * (v.size() - 1) + 0.5)));
    std::nth_element(v.begin(), v.begin() + static_cast<long>(i), v.end());
    return v[i];
}

std::string scratchPath(const std::string& what) {
    static int serial = 0;
    const std::string dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return dir + "/mbeeg-bench-" + std::to_string(::getpid()) + "-" + std::to_string(++serial) + "-" + what;
}

// ---------------------------------------------------------------------------

bool SimProcess::start(const SimArgs& a) {
    int out[2];
    if (::pipe(out) != 0) return false;
    pid_ = ::fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        for (const auto& [k, v] : a.env) ::setenv(k.c_str(), v.c_str(), 1);
        std::vector<std::string> args{a.program,
                                      "--boards",
                                      std::to_string(a.boards),
                                      "--drop-rate",
                                      std::to_string(a.dropRate),
                                      "--seed",
                                      std::to_string(a.seed),
                                      "--usb-latency-us",
                                      std::to_string(a.usbLatencyUs)};
        if (a.usbJitterUs >= 0) args.insert(args.end(), {"--usb-jitter-us", std::to_string(a.usbJitterUs)});
        if (!a.truthPath.empty()) args.insert(args.end(), {"--truth", a.truthPath});
        std::vector<char*> argv;
        for (auto& s : args) argv.push_back(s.data());
        argv.push_back(nullptr);
        ::execv(a.program.c_str(), argv.data());
        std::perror("exec mbeeg-sim");
        ::_exit(127);
    }
    ::close(out[1]);
    FILE* f = ::fdopen(out[0], "r");
    char line[512];
    while (static_cast<int>(ports_.size()) < a.boards && std::fgets(line, sizeof line, f)) {
        unsigned k;
        char path[400];
        if (std::sscanf(line, "PORT %u %399s", &k, path) == 2) ports_.push_back(path);
    }
    std::fclose(f);
    return static_cast<int>(ports_.size()) == a.boards;
}

void SimProcess::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int st = 0;
    ::waitpid(pid_, &st, 0);
    pid_ = -1;
}

int SimProcess::portIndexOf(const std::string& path) const {
    for (std::size_t k = 0; k < ports_.size(); ++k)
        if (ports_[k] == path) return static_cast<int>(k);
    return -1;
}

// ---------------------------------------------------------------------------

namespace {

std::string pathOf(const CString& portName) {
    return mbeeg::serial::pathForName(std::string(CStringA(portName).GetString()));
}

}  // namespace

Rig::Rig(const char* name) : drv(new CDriveOpnBciMutiBoardzq) {
    cfg.m_linkType = LINK_TYPE_CYTON8;
    cfg.m_name = CString(name);
}

Rig::~Rig() { close(); }

void Rig::close() {
    if (!drv) return;
    stop();
    drv->cleanDevice();
    drv->cleanConfigComBle2Board();
    drv->cleanCloseFaceCom();
    delete drv;
    drv = nullptr;
}

bool Rig::direct(const std::vector<std::string>& ports) {
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
        drv->m_dongles.push_back(d);
    }
    return drv->getDevice(1) != nullptr;
}

bool Rig::connect(const SimProcess& sim, bool directOnly) {
    const auto& ports = sim.ports();
    std::string list;
    for (const auto& p : ports) list += (list.empty() ? "" : ",") + p;
    ::setenv("MBEEG_SIM_PORTS", list.c_str(), 1);
    mbeeg::serial::setRealPortsEnabled(false);

    bool connected = false;
    if (!directOnly) {
        const double t0 = nowS();
        connected = drv->_02connectCom2Device(&cfg, &data) != 0;
        foundByDiscovery = static_cast<int>(drv->m_dongles.size());
        connected = connected && foundByDiscovery == static_cast<int>(ports.size()) && drv->_03makeAcgSns();
        discoveryS = nowS() - t0;
        char text[64];
        std::snprintf(text, sizeof text, "discovery %.1f s", discoveryS);
        how = text;
        if (!connected) {
            std::fprintf(stderr, "discovery found %d of %zu boards; opening the ports directly\n", foundByDiscovery,
                         ports.size());
            drv->cleanDevice();
            drv->cleanConfigComBle2Board();
        }
    }
    if (!connected) {
        drv->m_pConfigUser = &cfg;
        drv->checkInitConfigUserDetect(1, 1);
        connected = direct(ports);
        how = "direct";
    }
    simBoard.clear();
    pts.clear();
    for (CConfigComRadiozq* d : drv->m_dongles) {
        const std::string path = pathOf(d->m_pSerialPort ? d->m_pSerialPort->getPortName() : d->m_portName);
        simBoard.push_back(sim.portIndexOf(path));
        pts.push_back(path.rfind("/dev/pts/", 0) == 0 ? std::atoi(path.c_str() + 9) : -1);
    }
    return connected;
}

bool Rig::monitor(std::int64_t samplesPerTrial) {
    data.getMEGRecordInfozq()->m_trialCount = 1;
    data.getMEGRecordInfozq()->m_samplesPerTrial = samplesPerTrial;
    if (!drv->_09CheckInitTrlChn(&data, 0) || !drv->AcqMonit(&data, nullptr)) return false;
    stopped_ = false;
    return true;
}

void Rig::stop() {
    if (stopped_ || !drv) return;
    stopped_ = true;
    drv->AcqStop();
    platform::joinAllThreads(30000);
}

// ---------------------------------------------------------------------------

namespace {
// Counts no 24-bit value has: a row that could not be copied in time.
constexpr std::int32_t kUnwatched = INT32_MIN;
}  // namespace

RowWatcher::~RowWatcher() {
    if (log_) std::fclose(log_);
}

bool RowWatcher::start(Rig& rig, std::int64_t samplesPerTrial) {
    data_ = &rig.data;
    S_ = samplesPerTrial;
    boards_ = rig.boards();
    CMeAcqTrialzq* trial = data_->getTrial(0);
    if (!trial) return false;
    uvPerCount_.clear();
    chans_.clear();
    for (int b = 0; b < boards_; ++b) {
        CConfigComRadiozq* d = rig.drv->m_dongles[static_cast<std::size_t>(b)];
        for (int p = 0; p < 8; ++p) {
            const int g = d->m_pTrackGain ? d->m_pTrackGain->get_gain_for_channel(p) : 1;
            uvPerCount_.push_back(4.5 / 8388607.0 / (g > 0 ? g : 1) * 1000000.0);
            CMeAcgChannelzq* ch = trial->getChannel(8 * b + p);
            if (!ch || !ch->m_pValues || ch->m_samples < S_) return false;
            chans_.push_back(ch);
        }
    }
    const std::string path = scratchPath("rows");
    log_ = std::fopen(path.c_str(), "w+b");
    ::unlink(path.c_str());
    buf_.assign(static_cast<std::size_t>(boards_) * 8, 0);
    done_ = 0;
    missed_ = 0;
    first_ = true;
    return log_ != nullptr;
}

std::int64_t RowWatcher::written() const {
    for (;;) {
        const int r0 = data_->m_roundCounter.load();
        const std::int64_t cur = data_->m_curSample.load();
        const int r1 = data_->m_roundCounter.load();
        if (r0 == r1) return static_cast<std::int64_t>(r0) * S_ + cur;
    }
}

std::int64_t RowWatcher::look(std::vector<std::uint64_t>* seenNs) {
    const std::uint64_t seen = first_ ? 0 : nowNs();
    first_ = false;
    const std::int64_t t = written();
    if (t <= done_) return 0;
    const std::int64_t from = done_;
    // Rows within a second of being written over are not trusted.
    const std::int64_t oldest = std::max<std::int64_t>(from, t - (S_ - 250));
    for (std::int64_t r = from; r < t; ++r) {
        if (r < oldest) {
            std::fill(buf_.begin(), buf_.end(), kUnwatched);
            ++missed_;
        } else {
            const std::int64_t i = r % S_;
            for (std::size_t k = 0; k < chans_.size(); ++k)
                buf_[k] = static_cast<std::int32_t>(std::llround(chans_[k]->m_pValues[i] / uvPerCount_[k]));
        }
        std::fwrite(buf_.data(), sizeof(std::int32_t), buf_.size(), log_);
        if (seenNs) seenNs->push_back(seen);
    }
    done_ = t;
    return t - from;
}

void RowWatcher::replay(const std::function<void(std::int64_t, const std::int32_t*)>& fn) {
    std::fflush(log_);
    std::rewind(log_);
    std::vector<std::int32_t> row(static_cast<std::size_t>(boards_) * 8);
    for (std::int64_t r = 0; r < done_; ++r) {
        if (std::fread(row.data(), sizeof(std::int32_t), row.size(), log_) != row.size()) break;
        fn(r, row.data());
    }
    std::fseek(log_, 0, SEEK_END);
}

// ---------------------------------------------------------------------------

namespace {

using Counts = std::array<std::int32_t, 8>;

std::uint64_t countsKey(const std::int32_t* c) {
    std::uint64_t h = 1469598103934665603ull;
    for (int i = 0; i < 8; ++i) {
        h ^= static_cast<std::uint32_t>(c[i]);
        h *= 1099511628211ull;
    }
    return h;
}

bool same(const std::int32_t* a, const std::int32_t* b) { return std::memcmp(a, b, 8 * sizeof(std::int32_t)) == 0; }

// One board's walk through its rows along its truth.
struct Walk {
    const std::vector<sim::TruthRow>* T = nullptr;
    std::vector<std::uint8_t> matched;  // 1 seen in a row, 2 sent while the rows were not watched
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> index;
    bool indexed = false;
    std::int64_t pos = -1;  // truth position of the values the rows now show
    Counts prev{};
    bool havePrev = false;
    std::int64_t pending = 0, pendingFrom = -1;  // repeated rows since the last new packet
    std::int64_t offset = 0;
    bool haveOffset = false;
    std::int64_t firstPos = -1;
    bool blind = false;
    bool notedStart = false;

    std::int64_t find(const std::int32_t* c) {
        const auto& t = *T;
        const std::int64_t end = std::min<std::int64_t>(static_cast<std::int64_t>(t.size()), pos + 1 + 1024);
        for (std::int64_t k = pos + 1; k < end; ++k)
            if (t[static_cast<std::size_t>(k)].dropped == sim::kTruthSent &&
                same(t[static_cast<std::size_t>(k)].counts.data(), c))
                return k;
        if (!indexed) {
            for (std::size_t k = 0; k < t.size(); ++k)
                if (t[k].dropped == sim::kTruthSent)
                    index[countsKey(t[k].counts.data())].push_back(static_cast<std::uint32_t>(k));
            indexed = true;
        }
        auto it = index.find(countsKey(c));
        if (it == index.end()) return -1;
        std::int64_t any = -1;
        for (std::uint32_t k : it->second) {
            if (!same(t[k].counts.data(), c)) continue;
            if (static_cast<std::int64_t>(k) > pos) return k;
            if (any < 0) any = k;
        }
        return any;
    }
};

}  // namespace

TruthVerdict judgeRows(RowWatcher& rows, const std::vector<int>& simBoard, const std::string& truthPath,
                       const std::function<void(std::int64_t, int, const std::int32_t*)>& onFresh) {
    TruthVerdict v;
    std::vector<std::vector<sim::TruthRow>> truth;
    try {
        truth = sim::readTruthFile(truthPath);
    } catch (const std::exception& e) {
        v.error = e.what();
        return v;
    }
    const int n = rows.boards();
    v.boards.assign(static_cast<std::size_t>(n), {});
    v.affected.assign(static_cast<std::size_t>(rows.rows()), 0);
    static const std::vector<sim::TruthRow> none;
    std::vector<Walk> walks(static_cast<std::size_t>(n));
    for (int b = 0; b < n; ++b) {
        const int k = simBoard[static_cast<std::size_t>(b)];
        Walk& w = walks[static_cast<std::size_t>(b)];
        w.T = k >= 0 && k < static_cast<int>(truth.size()) ? &truth[static_cast<std::size_t>(k)] : &none;
        w.matched.assign(w.T->size(), 0);
    }
    auto note = [&](int b, const std::string& text) {
        ++v.findingsTotal;
        if (v.findings.size() >= 24) return;
        char head[64];
        std::snprintf(head, sizeof head, "board %d (sim port %d): ", b + 1, simBoard[static_cast<std::size_t>(b)]);
        v.findings.push_back(head + text);
    };
    auto idx = [](const Walk& w, std::int64_t k) { return (*w.T)[static_cast<std::size_t>(k)].index; };
    auto smp = [](const Walk& w, std::int64_t k) { return static_cast<unsigned>((*w.T)[static_cast<std::size_t>(k)].sample); };

    rows.replay([&](std::int64_t r, const std::int32_t* all) {
        for (int b = 0; b < n; ++b) {
            Walk& w = walks[static_cast<std::size_t>(b)];
            BoardVerdict& bv = v.boards[static_cast<std::size_t>(b)];
            const std::int32_t* c = all + 8 * b;
            if (c[0] == kUnwatched) {
                w.blind = true;
                w.pending = 0;
                w.havePrev = false;
                continue;
            }
            ++bv.rows;
            char text[320];
            if (w.havePrev && same(c, w.prev.data())) {
                ++bv.repeated;
                v.affected[static_cast<std::size_t>(r)] = 1;
                if (w.pending++ == 0) w.pendingFrom = r;
                continue;
            }
            if (w.pos < 0 && !w.havePrev && std::all_of(c, c + 8, [](std::int32_t x) { return x == 0; })) {
                ++bv.repeated;
                v.affected[static_cast<std::size_t>(r)] = 1;
                if (!w.notedStart) {
                    std::snprintf(text, sizeof text, "row %lld holds the board before its first packet",
                                  static_cast<long long>(r));
                    note(b, text);
                    w.notedStart = true;
                }
                continue;
            }
            const std::int64_t q = w.find(c);
            std::copy(c, c + 8, w.prev.begin());
            w.havePrev = true;
            if (q < 0) {
                ++bv.unknown;
                v.affected[static_cast<std::size_t>(r)] = 1;
                std::snprintf(text, sizeof text, "row %lld shows values no packet of the board had (%d %d %d ...)",
                              static_cast<long long>(r), c[0], c[1], c[2]);
                note(b, text);
                w.pending = 0;
                continue;
            }
            if (w.pos >= 0 && q <= w.pos) {
                ++bv.backwards;
                v.affected[static_cast<std::size_t>(r)] = 1;
                std::snprintf(text, sizeof text, "row %lld shows truth index %u after index %u (%s)",
                              static_cast<long long>(r), idx(w, q), idx(w, w.pos),
                              w.matched[static_cast<std::size_t>(q)] ? "a second time" : "out of order");
                note(b, text);
                w.pending = 0;
                continue;
            }
            if (w.pos >= 0) {
                std::int64_t lost = 0, cut = 0, sent = 0, firstSent = -1;
                for (std::int64_t k = w.pos + 1; k < q; ++k) {
                    const int d = (*w.T)[static_cast<std::size_t>(k)].dropped;
                    if (d == sim::kTruthDropped) ++lost;
                    else if (d == sim::kTruthCut) ++cut;
                    else {
                        ++sent;
                        if (firstSent < 0) firstSent = k;
                        if (w.blind) w.matched[static_cast<std::size_t>(k)] = 2;
                    }
                }
                if (q - w.pos > 1) v.affected[static_cast<std::size_t>(r)] = 1;
                if (!w.blind && (w.pending != lost + cut || sent > 0)) {
                    if (sent > 0)
                        std::snprintf(text, sizeof text,
                                      "row %lld shows truth index %u (sample %u) after index %u in row %lld: "
                                      "%lld sent packet(s) in no row (first: index %u, sample %u), %lld radio-lost, "
                                      "%lld row(s) repeated",
                                      static_cast<long long>(r), idx(w, q), smp(w, q), idx(w, w.pos),
                                      static_cast<long long>(r - 1 - w.pending), static_cast<long long>(sent),
                                      idx(w, firstSent), smp(w, firstSent), static_cast<long long>(lost),
                                      static_cast<long long>(w.pending));
                    else
                        std::snprintf(text, sizeof text,
                                      "rows %lld..%lld repeat truth index %u (sample %u), but %lld packet(s) were "
                                      "lost on the radio before index %u (row %lld)",
                                      static_cast<long long>(w.pending ? w.pendingFrom : r),
                                      static_cast<long long>(r - 1), idx(w, w.pos), smp(w, w.pos),
                                      static_cast<long long>(lost + cut), idx(w, q), static_cast<long long>(r));
                    note(b, text);
                }
                if (w.haveOffset && q - r != w.offset) ++bv.offsetChanges;
            } else {
                w.firstPos = q;
            }
            w.blind = false;
            w.offset = q - r;
            w.haveOffset = true;
            w.matched[static_cast<std::size_t>(q)] = 1;
            ++bv.packetsInRows;
            w.pos = q;
            w.pending = 0;
            if (onFresh) onFresh(r, b, c);
        }
    });

    for (int b = 0; b < n; ++b) {
        Walk& w = walks[static_cast<std::size_t>(b)];
        BoardVerdict& bv = v.boards[static_cast<std::size_t>(b)];
        if (w.firstPos < 0) continue;
        const auto& t = *w.T;
        bv.firstIndex = t[static_cast<std::size_t>(w.firstPos)].index;
        bv.lastIndex = t[static_cast<std::size_t>(w.pos)].index;
        for (std::int64_t k = w.firstPos; k <= w.pos; ++k) {
            const auto& e = t[static_cast<std::size_t>(k)];
            if (e.dropped == sim::kTruthDropped) ++bv.radioLost;
            else if (e.dropped == sim::kTruthCut) ++bv.cut;
            else if (!w.matched[static_cast<std::size_t>(k)]) ++bv.skipped;
        }
        // Rows held at the very end stand for the packets lost after the last one shown.
        std::int64_t tailLost = 0;
        for (std::int64_t k = w.pos + 1; k < static_cast<std::int64_t>(t.size()) && k <= w.pos + w.pending; ++k) {
            if (t[static_cast<std::size_t>(k)].dropped == sim::kTruthSent) break;
            ++tailLost;
            ++(t[static_cast<std::size_t>(k)].dropped == sim::kTruthDropped ? bv.radioLost : bv.cut);
        }
        if (w.pending > tailLost) {
            char text[200];
            std::snprintf(text, sizeof text, "its last %lld row(s) from row %lld repeat truth index %u",
                          static_cast<long long>(w.pending), static_cast<long long>(w.pendingFrom), bv.lastIndex < 0 ? 0u : static_cast<unsigned>(bv.lastIndex));
            note(b, text);
        }
    }
    return v;
}

std::vector<DriverCounts> driverCounts(const Rig& rig) {
    std::vector<DriverCounts> out;
    for (CConfigComRadiozq* d : rig.drv->m_dongles) {
        DriverCounts c;
        c.rows = d->m_statRows.load();
        c.packets = d->m_statPackets.load();
        c.held = d->m_statGaps.load();
        c.badFooters = d->m_statDropped.load();
        c.outOfStep = d->m_statOutOfStep.load();
        c.driftHeld = d->m_statDriftHeld.load();
        c.driftDropped = d->m_statDriftDropped.load();
        out.push_back(c);
    }
    return out;
}

std::uint64_t lostRows(const std::vector<DriverCounts>& counts, const TruthVerdict& v) {
    std::uint64_t lost = 0;
    for (std::size_t b = 0; b < v.boards.size() && b < counts.size(); ++b)
        if (counts[b].packets > v.boards[b].packetsInRows) lost += counts[b].packets - v.boards[b].packetsInRows;
    return lost;
}

}  // namespace bench
