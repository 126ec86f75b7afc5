// Recordings that outlive a crash: the file grows record by record while the
// boards stream and is readable at any moment; a write that fails stops the
// recording and keeps what was written; a program killed mid-recording leaves
// a file MNE opens.
#include <edflib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "acqhost/BdfWriter.h"
#include "driver/DriveOpnBciMutiBoardzq.h"
#include "platform/afxwin.h"
#include "serialport/Backend.h"
#include "sim/SimRig.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRate = 250;
constexpr int kChannels = 2 * 14 + 6;  // two boards and the trailer
constexpr double kUvStep = 4.5 / 8388607.0 / 24.0 * 1e6;

fs::path freshDir(const std::string& tag) {
    fs::path d = fs::temp_directory_path() / ("mbeeg-rel-" + tag + "-" + std::to_string(::getpid()));
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
}

struct Reader {
    edf_hdr_struct hdr{};
    bool ok = false;
    explicit Reader(const fs::path& p) { ok = edfopen_file_readonly(p.c_str(), &hdr, EDFLIB_READ_ALL_ANNOTATIONS) == 0; }
    ~Reader() {
        if (ok) edfclose_file(hdr.handle);
    }
    std::vector<double> physical(int sig) {
        std::vector<double> v(static_cast<size_t>(hdr.signalparam[sig].smp_in_file));
        edfrewind(hdr.handle, sig);
        edfread_physical_samples(hdr.handle, sig, static_cast<int>(v.size()), v.data());
        return v;
    }
    std::vector<std::string> annotations() {
        std::vector<std::string> out;
        for (long long i = 0; i < hdr.annotations_in_file; ++i) {
            edf_annotation_struct a{};
            edf_get_annotation(hdr.handle, static_cast<int>(i), &a);
            out.emplace_back(a.annotation);
        }
        return out;
    }
};

long long headerField(const std::string& bytes, size_t at, size_t len) {
    return bytes.size() >= at + len ? std::atoll(bytes.substr(at, len).c_str()) : -2;
}

// A virtual clock that a test hands out in slices: a thread that wants to
// sleep past the gate parks until the test opens it further. With the
// reading loop parked, the rows acquired so far are known and stay put, so
// what the file must hold then is exact.
class GatedClock final : public platform::Clock {
public:
    explicit GatedClock(std::int64_t startUs) : now_(startUs), gate_(startUs) {}
    std::int64_t nowUs() override { return now_.load(); }
    bool isVirtual() const override { return true; }
    void sleepUntilUs(std::int64_t t) override {
        std::unique_lock<std::mutex> lock(mutex_);
        while (t > gate_) {
            parkedIn_ = round_;
            cv_.wait(lock);
        }
        if (t > now_.load()) now_ = t;
    }
    // Lets time run to `us`; returns the round.
    std::uint64_t openUntil(std::int64_t us) {
        std::lock_guard<std::mutex> lock(mutex_);
        gate_ = us;
        cv_.notify_all();
        return ++round_;
    }
    // Some thread parked after being given this round's time.
    bool parkedIn(std::uint64_t round) {
        std::lock_guard<std::mutex> lock(mutex_);
        return parkedIn_ == round;
    }

private:
    std::atomic<std::int64_t> now_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::int64_t gate_;
    std::uint64_t round_ = 0, parkedIn_ = 0;
};

// Yields until pred holds, with a cap in real time so that a writer that is
// never woken fails the test instead of hanging it.
template <class Pred>
bool eventually(Pred pred) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::yield();
    }
    return true;
}

// Two simulated boards found and connected, the data set prepared for a
// recording of `trials` trials of `seconds` each into dir/name; time then
// runs in slices (step()).
struct Bench {
    platform::ScopedVirtualClock vclock;
    platform::ScriptedMessageBoxes boxes{IDNO};
    sim::SimRig rig{sim::SimConfig{.boards = 2, .seed = 11}};
    CDriveOpnBciMutiBoardzq drv;
    CHdwrConfigzq cfg;
    CMeAcqDatazq data;
    std::unique_ptr<GatedClock> gate;
    platform::Clock* previous = nullptr;

    Bench() {
        mbeeg::serial::setRealPortsEnabled(false);
        mbeeg::serial::clearMemoryPorts();
        cfg.m_linkType = LINK_TYPE_CYTON8;
        cfg.m_name = L"Reliability";
    }
    ~Bench() {
        if (gate) gate->openUntil(INT64_MAX);
        drv.AcqStop();
        platform::joinAllThreads(60000);
        drv.cleanDevice();
        drv.cleanConfigComBle2Board();
        drv.cleanCloseFaceCom();
        if (gate) platform::setClock(previous);
    }
    bool prepare(const fs::path& dir, const wchar_t* name, int trials, int seconds) {
        rig.plugIn();
        if (drv._02connectCom2Device(&cfg, &data) != 1 || drv._03makeAcgSns() != 1) return false;
        data.m_recordFolder = CString(dir.wstring().c_str());
        data.m_recordName = name;
        data.getMEGRecordInfozq()->m_trialCount = trials;
        data.getMEGRecordInfozq()->m_samplesPerTrial = seconds * kRate;
        if (drv._09CheckInitTrlChn(nullptr, 1) != 1) return false;
        data.setStopRequest([this] { drv.AcqStop(); });
        gate = std::make_unique<GatedClock>(vclock.get().nowUs());
        previous = platform::setClock(gate.get());
        return drv.AcqRecord(nullptr, nullptr) == 1;
    }
    // Lets the loop run `ms` more; false when it did not park again (it
    // ended, or hangs).
    bool step(int ms) {
        std::uint64_t round = gate->openUntil(gate->nowUs() + ms * 1000);
        return eventually([&] { return gate->parkedIn(round) || data.m_acqStatus.load() == 8; }) &&
               data.m_acqStatus.load() != 8;
    }
    // Rows every fed channel of the data set holds, over the trials.
    std::int64_t rowsAcquired() {
        std::int64_t rows = 0;
        for (int t = 0; t < data.m_trialCount; ++t) rows += data.filledSamples(t);
        return rows;
    }
    double sample(int channel, std::int64_t g) {
        const std::int64_t S = data.getTrial(0)->getTotalSample(-1);
        return data.getSample(static_cast<int>(g / S), channel, g % S);
    }
};

// The live file as it is now, read with the writer held off (it appends
// under EDFlib's lock).
std::string snapshot(const fs::path& p) {
    std::lock_guard<std::mutex> lock(acqhost::edflibMutex());
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

bool statusLogHas(const std::wstring& prefix) {
    for (const CString& l : acqhost::statusLines())
        if (l.str().rfind(prefix, 0) == 0) return true;
    return false;
}

}  // namespace

TEST(ReliabilityRecording, FileGrowsRecordByRecordAndReadsBackAtAnyMoment) {
    const fs::path dir = freshDir("grow");
    Bench b;
    acqhost::clearStatusLines();
    ASSERT_TRUE(b.prepare(dir, L"grow", 2, 4));
    const int timeChannel = 14 * 2 + TRAILER_TIMESTAMP;
    ASSERT_TRUE(b.data.getTrial(0)->getChannel(timeChannel)->isTimeStampChannel());

    // Slices of 0.3 s against records of 1 s: after each, the file holds
    // exactly the records whose rows are all acquired (the writer gets a
    // moment to catch up), its size is the header plus those records, the
    // header counts them, and a copy opens in EDFlib with the data set's
    // own values.
    const fs::path live = dir / "grow.partial.bdf";
    long long recordBytes = 0, header = 0;
    int slices = 0, copies = 0;
    while (b.step(300)) {
        ++slices;
        const std::int64_t rows = b.rowsAcquired();
        const long long want = rows / kRate;
        std::string bytes;
        ASSERT_TRUE(eventually([&] {
            bytes = snapshot(live);
            return want == 0 ? rows == 0 || fs::exists(live) : headerField(bytes, 236, 8) == want;
        })) << "after " << rows << " rows the file holds " << headerField(bytes, 236, 8) << " records, not " << want;
        if (want == 0) {
            EXPECT_TRUE(bytes.empty()) << "nothing before the first record is whole";
            continue;
        }
        header = headerField(bytes, 184, 8);
        if (recordBytes == 0) recordBytes = (static_cast<long long>(bytes.size()) - header) / want;
        ASSERT_EQ(static_cast<long long>(bytes.size()), header + want * recordBytes) << want << " records";
        if (slices % 4 != 0) continue;
        ++copies;
        const fs::path copy = dir / "copy.bdf";
        std::ofstream(copy, std::ios::binary | std::ios::trunc) << bytes;
        Reader r(copy);
        ASSERT_TRUE(r.ok) << "copy with " << want << " records: " << r.hdr.filetype;
        ASSERT_EQ(r.hdr.edfsignals, kChannels);
        ASSERT_EQ(r.hdr.datarecords_in_file, want);
        auto eeg = r.physical(9);  // board 2, pin 1
        auto ts = r.physical(timeChannel);
        ASSERT_EQ(eeg.size(), static_cast<size_t>(want * kRate));
        const double t0 = b.sample(timeChannel, 0);
        for (std::int64_t g = 0; g < want * kRate; ++g) {
            ASSERT_NEAR(eeg[static_cast<size_t>(g)], b.sample(9, g), 1.01 * kUvStep) << g;
            ASSERT_NEAR(ts[static_cast<size_t>(g)], b.sample(timeChannel, g) - t0, 1e-6) << g;
        }
    }
    ASSERT_TRUE(platform::joinAllThreads(60000));
    ASSERT_EQ(b.data.m_acqStatus.load(), 8) << b.data.lastSaveError().GetString();
    EXPECT_GE(slices, 25);
    EXPECT_GE(copies, 5);
    EXPECT_TRUE(statusLogHas(L"Recording to " + live.wstring())) << "the user is told where the file grows";

    // Finished: under the target's name, the live one gone, every record.
    EXPECT_EQ(b.data.savedPath(), CString((dir / "grow.bdf").wstring().c_str()));
    EXPECT_FALSE(fs::exists(live));
    EXPECT_TRUE(fs::exists(dir / "grow.json"));
    Reader r(dir / "grow.bdf");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.hdr.datarecords_in_file, 8);
    EXPECT_EQ(r.annotations(), (std::vector<std::string>{"Trial 1", "Trial 2"}));
    auto eeg = r.physical(0);
    for (std::int64_t g = 0; g < 8 * kRate; ++g) ASSERT_NEAR(eeg[static_cast<size_t>(g)], b.sample(0, g), 1.01 * kUvStep) << g;
    fs::remove_all(dir);
}

// A child process records on a file size limit (as a full disk would
// refuse): the first write that does not fit stops the recording.
TEST(ReliabilityRecording, FailedWriteStopsTheRecordingAndKeepsWhatWasWritten) {
    const fs::path dir = freshDir("cut");
    const rlim_t limit = 100000;  // the header and a few records of two boards
    constexpr int kSliceMs = 200;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(fds[0]);
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit rl{limit, limit};
        std::ostringstream report;
        if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) report << "setup=rlimit\n";
        {
            Bench b;
            if (!b.prepare(dir, L"cut", 1, 60)) report << "setup=start\n";
            // After each slice the writer has caught up or failed.
            while (b.step(kSliceMs)) {
                const std::int64_t want = b.rowsAcquired() / kRate;
                eventually([&] {
                    return want == 0 || b.data.recordingWriteFailed() ||
                           headerField(snapshot(dir / "cut.partial.bdf"), 236, 8) == want;
                });
            }
            platform::joinAllThreads(60000);
            report << "status=" << b.data.m_acqStatus.load() << "\n"
                   << "rows=" << b.rowsAcquired() << "\n"
                   << "error=" << platform::narrow(b.data.lastSaveError().str()) << "\n"
                   << "partial=" << platform::narrow(b.data.partialPath().str()) << "\n"
                   << "saved=" << platform::narrow(b.data.savedPath().str()) << "\n"
                   << "stoppedLine=" << statusLogHas(L"Recording stopped: ") << "\n"
                   << "writeFailed=" << b.data.recordingWriteFailed() << "\n";
        }
        std::string text = report.str();
        (void)!::write(fds[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    int st = 0;
    ASSERT_EQ(::waitpid(pid, &st, 0), pid);
    ASSERT_TRUE(WIFEXITED(st)) << text;
    std::map<std::string, std::string> got;
    std::istringstream lines(text);
    for (std::string l; std::getline(lines, l);)
        if (auto eq = l.find('='); eq != std::string::npos) got.emplace(l.substr(0, eq), l.substr(eq + 1));
    ASSERT_EQ(got.count("setup"), 0u) << text;

    const fs::path live = dir / "cut.partial.bdf";
    EXPECT_EQ(got["status"], "8") << text;
    EXPECT_EQ(got["writeFailed"], "1");
    EXPECT_EQ(got["stoppedLine"], "1") << "the status log tells";
    const std::string& why = got["error"];
    EXPECT_NE(why.find((dir / "cut.bdf").string() + ": "), std::string::npos) << why;
    EXPECT_NE(why.find("File too large"), std::string::npos) << why;
    EXPECT_NE(why.find(live.string()), std::string::npos) << why;
    EXPECT_EQ(got["partial"], live.string());
    EXPECT_EQ(got["saved"], "");
    EXPECT_FALSE(fs::exists(dir / "cut.bdf")) << "a failed recording never takes the target's name";
    EXPECT_FALSE(fs::exists(dir / "cut.json"));

    // Closed and readable, every record whole, the rows in order.
    ASSERT_LE(fs::file_size(live), limit);
    Reader r(live);
    ASSERT_TRUE(r.ok) << r.hdr.filetype;
    const long long records = r.hdr.datarecords_in_file;
    EXPECT_EQ(r.hdr.edfsignals, kChannels);
    EXPECT_GE(records, 2);
    EXPECT_NE(why.find("after " + std::to_string(records) + ".0 s"), std::string::npos) << why;
    // It failed on the record after the last one written, and the loop
    // stopped within the slice in which that record's rows were complete.
    EXPECT_LE(std::stoll(got["rows"]), (records + 1) * kRate + kSliceMs * kRate / 1000 + 1) << text;
    auto ts = r.physical(14 * 2 + TRAILER_TIMESTAMP);
    ASSERT_EQ(ts.size(), static_cast<size_t>(records * kRate));
    EXPECT_EQ(ts.front(), 0.0);
    for (size_t i = 1; i < ts.size(); ++i) ASSERT_GE(ts[i], ts[i - 1]) << i;
    EXPECT_NEAR(ts.back() - ts.front(), (static_cast<double>(ts.size()) - 1) * 1000.0 / kRate, 100.0);
    EXPECT_EQ(r.annotations(), (std::vector<std::string>{"Trial 1"}));
    fs::remove_all(dir);
}

// The program as a user runs it, in real time, killed without warning 10 s
// into its recording.
TEST(ReliabilityRecording, KilledProgramLeavesAFileMneOpens) {
    if (std::system("/usr/bin/python3 -c 'import mne' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "/usr/bin/python3 cannot import mne (install python3-mne to run this check)";
    const fs::path dir = freshDir("kill");
    const fs::path out = dir / "k.bdf", live = dir / "k.partial.bdf", said = dir / "stdout.txt";
    const std::string bin = std::string(MBEEG_BINARY_DIR) + "/app/mbeeg";
    const std::string profile = (dir / "profile.ini").string();
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::setenv("MBEEG_PROFILE", profile.c_str(), 1);
        ::setenv("MBEEG_NO_REAL_PORTS", "1", 1);
        ::unsetenv("MBEEG_VIRTUAL_TIME");
        if (!std::freopen(said.c_str(), "w", stdout) || !std::freopen("/dev/null", "w", stderr)) ::_exit(126);
        ::execl(bin.c_str(), bin.c_str(), "--sim", "2", "-q", "record", "--seconds", "30", "--out", out.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Discovery comes first; the file appears with the first row.
    using clock = std::chrono::steady_clock;
    auto exited = [&] {
        int st = 0;
        return ::waitpid(pid, &st, WNOHANG) == pid;
    };
    const auto giveUp = clock::now() + std::chrono::seconds(60);
    while (!fs::exists(live) && !exited() && clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!fs::exists(live)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        FAIL() << "the recording did not start: no " << live;
    }
    const auto started = clock::now();
    std::uintmax_t lastSize = 0;
    while (clock::now() - started < std::chrono::seconds(10)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::error_code ec;
        auto size = fs::file_size(live, ec);
        ASSERT_FALSE(ec) << "the live file went away";
        ASSERT_GE(size, lastSize);
        lastSize = size;
    }
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    int st = 0;
    ::waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == SIGKILL) << "the program ended before it was killed";

    std::ifstream saidFile(said);
    std::string saidText((std::istreambuf_iterator<char>(saidFile)), {});
    EXPECT_NE(saidText.find("recording to " + live.string()), std::string::npos) << saidText;
    EXPECT_FALSE(fs::exists(out)) << "an unfinished recording never takes the target's name";

    const fs::path script = dir / "check.py";
    std::ofstream(script) << R"(import sys
import numpy as np
import mne
raw = mne.io.read_raw_bdf(sys.argv[1], preload=True, verbose="error")
sf = raw.info["sfreq"]
n = int(8 * sf)
problems = []
if len(raw.ch_names) != 34:
    problems.append(f"{len(raw.ch_names)} channels")
if raw.n_times < n:
    problems.append(f"only {raw.n_times / sf:.2f} s")
data = raw.get_data()[:, :n]
for name, row in zip(raw.ch_names[:16], data[:16]):  # the boards' EEG pins come first
    if np.ptp(row) == 0:
        problems.append(f"{name} is flat")
ts = data[raw.ch_names.index("TimeStamp")]
if np.any(np.diff(ts) < 0) or not (7000 < ts[-1] - ts[0] < 9000):
    problems.append(f"time stamps run {ts[0]} .. {ts[-1]} ms")
print(f"{raw.n_times / sf:.2f} s of {len(raw.ch_names)} channels", "; ".join(problems))
sys.exit(1 if problems else 0)
)";
    std::string cmd = "/usr/bin/python3 " + script.string() + " " + live.string() + " 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string result;
    char line[512];
    while (std::fgets(line, sizeof line, p)) result += line;
    EXPECT_EQ(::pclose(p), 0) << result;
    fs::remove_all(dir);
}
