#include "app/Commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <thread>

#include "acqhost/ChannelLabels.h"
#include "app/BdfSummary.h"
#include "app/Console.h"
#include "app/Output.h"
#include "platform/clock.h"
#include "app/SimHardware.h"
#include "serialport/ComAlias.h"

namespace app {
namespace {

std::string narrowOf(const CString& s) { return platform::narrow(s.str()); }

void sleepReal(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string sparkline(const double* v, int n) {
    static const char* bars[] = {"▁", "▂", "▃", "▄", "▅", "▆", "▇", "█"};
    if (n <= 0) return "";
    double lo = v[0], hi = v[0];
    for (int i = 1; i < n; ++i) lo = std::min(lo, v[i]), hi = std::max(hi, v[i]);
    std::string s;
    for (int i = 0; i < n; ++i) {
        int k = hi > lo ? static_cast<int>((v[i] - lo) / (hi - lo) * 7.999) : 0;
        s += bars[k < 0 ? 0 : (k > 7 ? 7 : k)];
    }
    return s;
}

// The last n values of a channel that is written round and round.
int lastValues(const CMeAcgChannelzq* ch, std::int64_t cur, std::int64_t total, bool wrapped, int n, double* out) {
    std::int64_t avail = wrapped ? total : cur;
    if (avail > n) avail = n;
    for (std::int64_t i = 0; i < avail; ++i) {
        std::int64_t idx = (cur - avail + i + total) % total;
        // The reading loop writes these as we read: atomically, both sides.
        out[i] = std::atomic_ref<double>(ch->m_pValues[idx]).load(std::memory_order_relaxed);
    }
    return static_cast<int>(avail);
}

void printBoards(Session& s) {
    auto& drv = s.driver();
    const int perBoard = s.config().m_linkType == 7 ? 16 : 8;
    std::vector<std::string> items;
    for (size_t b = 0; b < drv.m_dongles.size(); ++b) {
        CConfigComRadiozq* d = drv.m_dongles[b];
        const std::string port = narrowOf(d->m_pSerialPort ? d->m_pSerialPort->getPortName() : d->m_portName);
        const std::string path = mbeeg::serial::pathForName(port);
        if (console().json) {
            items.push_back(JsonObject()
                                .add("board", static_cast<int>(b + 1))
                                .add("port", port)
                                .add("path", path)
                                .add("radio_channel", static_cast<int>(d->m_radioChnl))
                                .add("poll_time", static_cast<int>(d->m_pollTime))
                                .add("baud", static_cast<long long>(d->m_baudRate))
                                .add("channels", perBoard)
                                .str());
            continue;
        }
        std::printf("board %zu: port %s (%s), radio channel %d, poll time %d, baud %u, %d channels\n", b + 1,
                    port.c_str(), path.c_str(), static_cast<int>(d->m_radioChnl), static_cast<int>(d->m_pollTime),
                    d->m_baudRate, perBoard);
    }
    const int total = perBoard * static_cast<int>(drv.m_dongles.size());
    if (console().json)
        printJson(JsonObject().add("channels", total).addRaw("boards", jsonArray(items)).str());
    else
        std::printf("%zu board(s), %d EEG channels in all\n", drv.m_dongles.size(), total);
}

// "42 s", "59 min 59 s", "23 h 59 min"
std::string timeLeft(double s) {
    const long long t = std::llround(std::max(s, 0.0));
    char buf[48];
    if (t < 60) std::snprintf(buf, sizeof buf, "%lld s", t);
    else if (t < 3600) std::snprintf(buf, sizeof buf, "%lld min %02lld s", t / 60, t % 60);
    else std::snprintf(buf, sizeof buf, "%lld h %02lld min", t / 3600, t % 3600 / 60);
    return buf;
}

bool fileExists(const std::string& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0;
}

// What became of every board's samples: each row is a packet, a hold for
// a lost one, or a drift adjustment, so rows = packets + lost + held - dropped.
std::string boardSummaryJson(CDriveOpnBciMutiBoardzq& drv, double rate) {
    std::vector<std::string> items;
    for (size_t b = 0; b < drv.m_dongles.size(); ++b) {
        const CConfigComRadiozq* d = drv.m_dongles[b];
        if (!d) continue;
        items.push_back(JsonObject()
                            .add("board", static_cast<int>(b + 1))
                            .add("port", d->m_pSerialPort ? narrowOf(d->m_pSerialPort->getPortName()) : "")
                            .add("rows", static_cast<unsigned long long>(d->m_statRows.load()))
                            .add("packets", static_cast<unsigned long long>(d->m_statPackets.load()))
                            .add("lost", static_cast<unsigned long long>(d->m_statGaps.load()))
                            .add("drift_held", static_cast<unsigned long long>(d->m_statDriftHeld.load()))
                            .add("drift_dropped", static_cast<unsigned long long>(d->m_statDriftDropped.load()))
                            .add("rejected", static_cast<unsigned long long>(d->m_statDropped.load() +
                                                                            d->m_statOutOfStep.load()))
                            .add("reconnects", static_cast<unsigned long long>(d->m_statReconnects.load()))
                            .add("lost_seconds", static_cast<double>(d->m_statGaps.load()) / (rate > 0 ? rate : 250.0))
                            .str());
    }
    return jsonArray(items);
}

void printBoardSummary(CDriveOpnBciMutiBoardzq& drv, double rate) {
    for (size_t b = 0; b < drv.m_dongles.size(); ++b) {
        const CConfigComRadiozq* d = drv.m_dongles[b];
        if (!d) continue;
        std::printf("board %zu %s: %llu rows: %llu packets, %llu lost, %llu held and %llu dropped for clock drift; "
                    "%llu rejected, %llu reconnects, %.3f s lost\n",
                    b + 1, d->m_pSerialPort ? narrowOf(d->m_pSerialPort->getPortName()).c_str() : "?",
                    static_cast<unsigned long long>(d->m_statRows.load()),
                    static_cast<unsigned long long>(d->m_statPackets.load()),
                    static_cast<unsigned long long>(d->m_statGaps.load()),
                    static_cast<unsigned long long>(d->m_statDriftHeld.load()),
                    static_cast<unsigned long long>(d->m_statDriftDropped.load()),
                    static_cast<unsigned long long>(d->m_statDropped.load() + d->m_statOutOfStep.load()),
                    static_cast<unsigned long long>(d->m_statReconnects.load()),
                    static_cast<double>(d->m_statGaps.load()) / (rate > 0 ? rate : 250.0));
    }
}

}  // namespace

int runPorts(const SessionOptions& opts) {
    std::unique_ptr<SimHardware> sim;
    if (opts.sim.boards > 0) sim = std::make_unique<SimHardware>(opts.sim);
    CFaceMegSerialPortzq face;
    auto ports = face.getComVidPidInfo();
    if (console().json) {
        std::vector<std::string> items;
        for (const auto& p : ports)
            items.push_back(JsonObject()
                                .add("name", narrowOf(p.portName))
                                .add("path", narrowOf(p.systemLocation))
                                .add("device", narrowOf(p.device))
                                .add("description", narrowOf(p.description))
                                .add("dongle", p.device.Find(L"FTDIBUS\\VID_0403") >= 0)
                                .str());
        printJson(JsonObject().addRaw("ports", jsonArray(items)).str());
        return 0;
    }
    if (ports.empty()) {
        std::printf("no serial ports\n");
        return 0;
    }
    for (const auto& p : ports) {
        bool dongle = p.device.Find(L"FTDIBUS\\VID_0403") >= 0;
        std::printf("%-7s %-22s %-44s %s%s\n", narrowOf(p.portName).c_str(), narrowOf(p.systemLocation).c_str(),
                    narrowOf(p.device).c_str(), narrowOf(p.description).c_str(), dongle ? "  [dongle]" : "");
    }
    return 0;
}

int runDiscover(const SessionOptions& opts) {
    Session s(opts);
    if (!s.connect()) return 1;
    printBoards(s);
    return 0;
}

int runMonitor(const SessionOptions& opts, double seconds, const WatchLimits& limits) {
    Session s(opts);
    if (!s.connect()) return s.connectStatus();
    installInterruptHandler();
    const double rate = s.sampleRate();
    BoardWatch watch(s.driver(), rate, limits);
    if (!watch.enoughBoards()) return kExitFewerBoards;
    if (!s.startMonitor(static_cast<std::int64_t>(rate) * 2)) return kExitFailed;
    auto& drv = s.driver();
    bool stoppedSilent = false;
    const int nb = s.boards();
    std::vector<std::uint64_t> lastPk(static_cast<size_t>(nb), 0);
    // Elapsed time on the platform clock, so --seconds means acquired time.
    std::int64_t t0 = platform::clock().nowUs();
    std::int64_t tPrev = t0;
    // A terminal gets a screen redrawn four times a second; a log or a script
    // one line (or JSON object) every few seconds.
    const bool redraw = ::isatty(STDOUT_FILENO) && ::isatty(STDERR_FILENO) && !console().json;
    const std::int64_t everyUs = redraw ? 0 : (console().json ? 1'000'000 : 5'000'000);
    std::vector<double> buf(256);
    while (!g_interrupted && s.acquiring()) {
        sleepReal(250);
        if (watch.look()) {
            stoppedSilent = true;
            break;
        }
        std::int64_t now = platform::clock().nowUs();
        double el = static_cast<double>(now - t0) / 1e6;
        if (console().quiet || now - tPrev < everyUs) {
            if (seconds > 0 && el >= seconds) break;
            continue;
        }
        double dt = static_cast<double>(now - tPrev) / 1e6;
        tPrev = now;
        std::string screen, brief;
        std::vector<std::string> jsonBoards, jsonChannels;
        char line[512];
        std::snprintf(line, sizeof line, "mbeeg monitor: %d board(s), %.0f Hz, %.1f s (Ctrl-C stops)\n", nb, rate, el);
        screen += line;
        std::snprintf(line, sizeof line, "monitor %.1f s:", el);
        brief += line;
        for (int b = 0; b < nb; ++b) {
            CConfigComRadiozq* d = drv.m_dongles[static_cast<size_t>(b)];
            std::uint64_t pk = d->m_statPackets.load();
            // A count that went back (the board's counts started again) gives
            // no rate for this look rather than a wrapped one.
            const std::uint64_t was = lastPk[static_cast<size_t>(b)];
            double pps = dt > 0 && pk >= was ? static_cast<double>(pk - was) / dt : 0;
            lastPk[static_cast<size_t>(b)] = pk;
            const std::string& port = watch.port(static_cast<size_t>(b));
            const auto lost = static_cast<unsigned long long>(d->m_statGaps.load());
            const auto rejected = static_cast<unsigned long long>(d->m_statDropped.load() + d->m_statOutOfStep.load());
            const auto held = static_cast<unsigned long long>(d->m_statDriftHeld.load());
            const auto dropped = static_cast<unsigned long long>(d->m_statDriftDropped.load());
            const auto reconnects = static_cast<unsigned long long>(d->m_statReconnects.load());
            std::snprintf(line, sizeof line,
                          "board %d %-7s %6.1f packets/s  lost %llu  rejected %llu  drift +%llu/-%llu  reconnects %llu\n",
                          b + 1, port.c_str(), pps, lost, rejected, held, dropped, reconnects);
            screen += line;
            std::snprintf(line, sizeof line, "%s board %d %.1f packets/s, lost %llu, rejected %llu, reconnects %llu",
                          b ? ";" : "", b + 1, pps, lost, rejected, reconnects);
            brief += line;
            jsonBoards.push_back(JsonObject()
                                     .add("board", b + 1)
                                     .add("port", port)
                                     .add("packets_per_s", pps)
                                     .add("lost", lost)
                                     .add("rejected", rejected)
                                     .add("drift_held", held)
                                     .add("drift_dropped", dropped)
                                     .add("reconnects", reconnects)
                                     .str());
        }
        CMeAcqTrialzq* trial = drv.m_pTrial;
        if (trial && (redraw || console().json)) {
            std::int64_t total = trial->getTotalSample(-1), cur = s.data().m_curSample.load();
            bool wrapped = s.data().m_roundCounter.load() > 0;
            for (int c = 0; c < trial->getTotalChannel(); ++c) {
                CMeAcgChannelzq* ch = trial->getChannel(c);
                if (!ch->isEEGChannel()) continue;
                const std::string label = acqhost::standardElectrodeName(narrowOf(ch->m_label));
                int n = lastValues(ch, cur, total, wrapped, static_cast<int>(rate), buf.data());
                double mean = 0, ss = 0;
                for (int i = 0; i < n; ++i) mean += buf[static_cast<size_t>(i)];
                mean = n ? mean / n : 0;
                for (int i = 0; i < n; ++i) ss += (buf[static_cast<size_t>(i)] - mean) * (buf[static_cast<size_t>(i)] - mean);
                double rms = n ? std::sqrt(ss / n) : 0;
                jsonChannels.push_back(JsonObject()
                                           .add("label", label)
                                           .add("board", ch->m_boardIndex + 1)
                                           .add("pin", ch->m_pin + 1)
                                           .add("rms_uv", rms)
                                           .str());
                std::vector<double> spark;
                for (int i = 0; i + 6 <= n; i += 6) spark.push_back(buf[static_cast<size_t>(i)]);
                std::snprintf(line, sizeof line, "  %-6s B%d P%d %9.2f uV rms  %s\n", label.c_str(),
                              ch->m_boardIndex + 1, ch->m_pin + 1, rms,
                              sparkline(spark.data(), static_cast<int>(spark.size())).c_str());
                screen += line;
            }
        }
        if (console().json) {
            printJson(JsonObject()
                          .add("seconds", el)
                          .add("rate", rate)
                          .addRaw("boards", jsonArray(jsonBoards))
                          .addRaw("channels", jsonArray(jsonChannels))
                          .str());
        } else if (redraw) {
            std::fputs("\033[H\033[J", stdout);
            std::fputs(screen.c_str(), stdout);
        } else {
            std::fputs((brief + "\n").c_str(), stdout);
        }
        std::fflush(stdout);
        if (seconds > 0 && el >= seconds) break;
    }
    // The reading loop ends only when asked to; ending by itself means it
    // could not go on.
    const bool endedByItself = !g_interrupted && !stoppedSilent && !s.acquiring();
    const double ran = static_cast<double>(platform::clock().nowUs() - t0) / 1e6;
    s.stop();
    if (endedByItself && (seconds <= 0 || ran < seconds)) {
        char why[160];
        std::snprintf(why, sizeof why, "monitoring ended by itself after %.1f s (status %d)", ran,
                      drv.m_statusCode.load());
        error(why);
        return kExitFailed;
    }
    if (console().json)
        printJson(JsonObject()
                      .add("stopped", true)
                      .add("status", drv.m_statusCode.load())
                      .add("seconds", ran)
                      .addRaw("boards", boardSummaryJson(drv, rate))
                      .str());
    else {
        std::printf("monitoring stopped (status %d)\n", drv.m_statusCode.load());
        printBoardSummary(drv, rate);
    }
    return watch.verdict(g_interrupted && (seconds <= 0 || ran < seconds), stoppedSilent);
}

// Why a recording cannot go under this name ("" when it can). The data are
// 24-bit BDF+: under another extension a reader would take them for
// something else (an EDF reader reads them as 16-bit samples, silently wrong).
std::string badRecordingName(const std::string& path) {
    if (path == "-") return "a recording cannot go to standard output; give a file name such as rec.bdf";
    const std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    const size_t dot = name.rfind('.');
    if (dot == 0) return "the file has no name before its extension; give one such as rec.bdf";
    if (dot != std::string::npos) {
        std::string ext = name.substr(dot + 1);
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext != "bdf") return "recordings are BDF+ files (24-bit); name the file .bdf, not ." + name.substr(dot + 1);
    }
    // The file grows as <name>.partial.bdf, whose name must fit the file system.
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    if (stem.size() + std::string(".partial.bdf").size() > 255)
        return "the name is too long (at most " + std::to_string(255 - 12) + " characters before .bdf)";
    return {};
}

int runRecord(const SessionOptions& opts, const std::string& out, double seconds, int trials, long long samples,
              bool force, const WatchLimits& limits, const MarkerOptions& markerOptions) {
    std::string path = out;
    struct stat st;
    if (path.empty() || path.back() == '/' || (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
        error("--out " + out + " is a folder: give a file name, e.g. " + (path.empty() ? std::string(".") : path) +
              (path.empty() || path.back() == '/' ? "" : "/") + "rec.bdf");
        return 2;
    }
    if (std::string why = badRecordingName(path); !why.empty()) {
        error("--out " + out + ": " + why);
        return 2;
    }
    if (path.find('.') == std::string::npos || path.rfind('.') < path.rfind('/') + 1) path += ".bdf";
    std::string sidecar = path.substr(0, path.rfind('.')) + ".json";
    for (const std::string& p : {path, sidecar}) {
        if (fileExists(p) && !force) {
            error(p + " exists; give --force to overwrite it");
            return 1;
        }
    }
    std::string folder = ".", name = path;
    if (auto slash = path.rfind('/'); slash != std::string::npos) {
        folder = slash == 0 ? "/" : path.substr(0, slash);
        name = path.substr(slash + 1);
    }
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error("folder " + folder + " does not exist");
        return 1;
    }
    // Found out now, not after the recording: a file that cannot be written
    // there would lose all of it.
    std::string probe = folder + "/.mbeeg-write-test-XXXXXX";
    int fd = ::mkstemp(probe.data());
    if (fd < 0) {
        error("cannot write in folder " + folder + ": " + std::strerror(errno));
        return 1;
    }
    ::close(fd);
    ::unlink(probe.c_str());
    Session s(opts);
    // The port is taken before anything is sent; a marker before the first
    // row marks the first row.
    const double rate = s.sampleRate();
    if (seconds > 0) {
        trials = 1;
        samples = static_cast<long long>(std::llround(seconds * rate));
    }
    MarkerInput markers(s.data(), rate);
    if (std::string why; !markers.start(markerOptions, why)) {
        error(why);
        return kExitUsage;
    }
    if (!s.connect()) return s.connectStatus();
    installInterruptHandler();
    BoardWatch watch(s.driver(), rate, limits);
    if (!watch.enoughBoards()) return kExitFewerBoards;
    bool stoppedSilent = false;
    s.data().m_overwrite = force;
    // Rows the file has leave memory: a day-long recording stays small.
    s.data().m_releaseWritten = true;
    // A file that cannot be written ends the recording (AcqStop only sets a
    // flag); a file size limit then fails the write instead of killing us.
    s.data().setStopRequest([&s] { s.driver().AcqStop(); });
    std::signal(SIGXFSZ, SIG_IGN);
    if (!s.startRecord(folder, name, trials, samples)) return 1;
    auto& data = s.data();
    markers.arm();
    if (markers.port() > 0) {
        std::printf("markers: send lines of text to UDP %s:%d\n", markerOptions.udpHost.c_str(), markers.port());
        std::fflush(stdout);
    }
    // Where the file grows, so that a user whose program is killed finds it.
    bool toldLive = false;
    auto tellLive = [&] {
        if (toldLive) return;
        CString live = data.livePath();
        if (live.IsEmpty()) return;
        toldLive = true;
        progressDone();
        const std::string where =
            "recording to " + narrowOf(live) + " (renamed to " + path + " when the recording ends)";
        // Standard output holds only the JSON summary for a script.
        if (console().json) {
            note(where);
        } else {
            std::printf("%s\n", where.c_str());
            std::fflush(stdout);
        }
    };
    const long long total = static_cast<long long>(trials) * samples;
    // Wait for the reading loop to start before judging its status.
    for (int i = 0; i < 500 && !g_interrupted && s.acquiring() && data.m_acqStatus.load() != AcqStatus::Recording; ++i) sleepReal(10);
    while (!g_interrupted && s.acquiring() && data.m_acqStatus.load() == AcqStatus::Recording) {
        sleepReal(200);
        tellLive();
        if (watch.look()) {
            stoppedSilent = true;
            break;
        }
        // Trials before the current one are full (their storage may be gone).
        long long done = std::min<long long>(
            total, static_cast<long long>(data.currentTrial()) * samples + data.m_curSample.load());
        int width = 30, filled = total ? static_cast<int>(width * done / total) : width;
        char line[256];
        std::snprintf(line, sizeof line, "recording [%s%s] %5.1f%%  %.1f s, %s left",
                      std::string(static_cast<size_t>(filled), '#').c_str(),
                      std::string(static_cast<size_t>(width - filled), '.').c_str(), total ? 100.0 * done / total : 100.0,
                      done / rate, timeLeft(static_cast<double>(total - done) / rate).c_str());
        progress(line);
    }
    // Whether the recording was cut short, judged before stopping changes it.
    const bool cutShort = g_interrupted && data.m_acqStatus.load() == AcqStatus::Recording;
    if (g_interrupted || stoppedSilent) progress("stopping: saving what was recorded");
    s.stop();
    progressDone();
    if (data.m_acqStatus.load() != AcqStatus::Saved || data.savedPath().IsEmpty()) {
        (void)watch.verdict(cutShort, stoppedSilent);  // why it ended, before why nothing was saved
        CString why = data.lastSaveError();
        error("the recording was not saved" + (why.IsEmpty() ? std::string() : ": " + narrowOf(why)));
        return kExitFailed;
    }
    if (!data.lastSaveError().IsEmpty()) error(narrowOf(data.lastSaveError()));  // saved, sidecar missing
    if (console().json)
        printJson(JsonObject()
                      .add("saved", narrowOf(data.savedPath()))
                      .add("seconds", static_cast<double>(trials) * static_cast<double>(samples) / rate)
                      .addRaw("boards", boardSummaryJson(s.driver(), rate))
                      .str());
    else {
        std::printf("saved %s\n", narrowOf(data.savedPath()).c_str());
        printBoardSummary(s.driver(), rate);
    }
    return watch.verdict(cutShort, stoppedSilent);
}

int runInfo(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error(path + ": " + (S_ISDIR(st.st_mode) ? "a folder" : "not a regular file") + ", not a recording");
        return 1;
    }
    std::string err;
    if (!printBdfSummary(path, err)) {
        error(err);
        return 1;
    }
    return 0;
}

}  // namespace app
