// The mbeeg program on built-in simulated boards: bad input gets one line on
// stderr, an exit code and no write to any port (--trace would show it).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>

#include "tests/support/Files.h"
#include "tests/support/SimProcess.h"

using namespace testfiles;

namespace {

const std::string& tmpDir() {
    static const TempDir dir("app-test");  // removed at exit unless a test failed
    static const std::string d = dir.str();
    return d;
}

struct Cli : CliRun {
    std::vector<std::string> errLines;
    double seconds = 0;  // real time the program took
};

Cli run(const std::string& args, bool virtualTime = true, const std::string& profile = "",
        const std::string& input = "/dev/null") {
    const auto t0 = std::chrono::steady_clock::now();
    Cli r;
    static_cast<CliRun&>(r) = runMbeeg(tmpDir(), "MBEEG_PROFILE=" + (profile.empty() ? tmpDir() + "/profile.ini" : profile) +
                                                     " MBEEG_NO_REAL_PORTS=1" + (virtualTime ? " MBEEG_VIRTUAL_TIME=1" : ""),
                                       args, input);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.errLines = lines(r.err);
    return r;
}

bool contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

}  // namespace

TEST(AppCli, BadInputGetsOneLineAndAnExitCodeAndNothingIsSent) {
    // Without the refusal these would reach the dongles: the trace shows it does.
    Cli control = run("--sim 2 --trace radio get --port COM201");
    ASSERT_EQ(control.status, 0) << control.err;
    ASSERT_TRUE(contains(control.err, "trace: COM201 <- f0")) << control.err;

    const std::string plain = tmpDir() + "/plain.txt";
    std::ofstream(plain) << "not a port\n";
    // A terminal nobody answers: the master end stays open and unread.
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string tty = ::ptsname(master);
    // No file can be made here, even by root: the path leaves no room for a name.
    const std::string top = tmpDir() + "/" + std::string(200, 'd');
    std::string deep = top;
    while (deep.size() < 4080) deep += "/" + std::string(std::min<size_t>(200, 4080 - deep.size()), 'd');
    std::filesystem::create_directories(deep);

    const std::string sim = "--sim 2 --trace ", rec = "--sim 1 --trace record --seconds 1 --out ";
    const std::string settings = tmpDir() + "/settings.ini";
    std::ofstream(settings) << "[channel 17]\ngain = 8\n";
    struct Case {
        std::string args;
        int status;
        std::string says, alsoSays = "";
        double atLeast = 0, below = 2;  // real seconds, for the ports of the OS
    } cases[] = {
        {sim + "radio set 0 --port COM201", 2, "1 to 25"},
        {sim + "radio set 26 --port COM201", 2, "1 to 25"},
        {sim + "radio override 26 --port COM201", 2, "1 to 25"},
        {sim + "radio set --port COM201", 2, "1 to 25"},
        {sim + "radio poll 256 --port COM201", 2, "0 to 255"},
        {sim + "radio poll -1 --port COM201", 2, "0 to 255"},
        {sim + "radio baud 3 --port COM201", 2, "0 to 2"},
        {sim + "radio get 7 --port COM201", 2, "no value"},
        {sim + "radio tune --port COM201", 2, "get,set,scan"},
        {sim + "board on", 2, "--channel"},
        {sim + "board on --channel 0", 2, "counted from 1"},
        {sim + "board off --channel 17", 2, "1 to 16"},
        {sim + "board frobnicate", 2, "set,on,off"},
        {sim + "board mode --index 7", 2, "0 to 6"},
        {sim + "board test-signal --index 6", 2, "0 to 5"},
        {sim + "board sd-start --index 0", 2, "1 to 8"},
        {sim + "board set --channel 2 --gain 5", 2, "1,2,4,6,8,12,24"},
        {sim + "board set --channel 2", 2, "needs a setting"},  // not the defaults in silence
        {sim + "monitor --settings " + settings, 2, "channel 17 is out of range"},
        {sim + "monitor --gain 3", 2, "1,2,4,6,8,12,24"},
        {sim + "frobnicate", 2, "commands: ports, discover"},
        {"discover", 1, "no dongle found"},  // not the library's three boxes
        {"radio get --port " + plain, 1, plain, "not a serial device"},
        {"radio get --port " + tmpDir() + "/missing", 1, tmpDir() + "/missing", "No such file"},
        {"radio get --port COM999", 1, "COM999", "no such port"},
        // The channel read pauses 1 s, then waits 0.2 s for a first byte.
        {"radio get --port " + tty, 1, tty, "no answer to 'radio get'", 1.1, 4},
        {"radio status --port " + tty, 1, tty, "no answer to 'radio status'"},
        // Refused before acquiring: found out after, all would be lost.
        {rec + deep + "/x.bdf", 1, "cannot write in folder " + deep},
        {rec + tmpDir() + "/", 2, "is a folder"},
        {rec + tmpDir(), 2, "is a folder"},
        {rec + tmpDir() + "/missing/x.bdf", 1, "does not exist"},
        {"info " + tmpDir(), 1, "a folder, not a recording"},
    };
    for (const Case& c : cases) {
        Cli r = run(c.args, c.args.rfind("--sim", 0) == 0);
        SCOPED_TRACE(c.args);
        EXPECT_EQ(r.status, c.status);
        ASSERT_EQ(r.errLines.size(), 1u) << r.err;
        EXPECT_EQ(r.errLines[0].rfind("mbeeg: ", 0), 0u) << r.err;
        EXPECT_TRUE(contains(r.errLines[0], c.says) && contains(r.errLines[0], c.alsoSays)) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_GE(r.seconds, c.atLeast);
        EXPECT_LT(r.seconds, c.below);
    }
    ::close(master);
    std::filesystem::remove_all(top);
    // A missing board is known only after discovery; its "!" must not go out.
    Cli late = run("--sim 2 --trace --link 7 board on --channel 17");
    EXPECT_EQ(late.status, 2) << late.err;
    EXPECT_TRUE(contains(late.err, "channels 1 to 16")) << late.err;
    EXPECT_FALSE(contains(late.err, "<- \"!\"")) << late.err;
    Cli v = run("--verbose discover");
    EXPECT_EQ(v.status, 1);
    EXPECT_TRUE(contains(v.err, "Cannot find a USB-Com-Ble Dongle!")) << v.err;
}

// Words a person reads, JSON a script parses: no firmware text, no redraws.
TEST(AppCli, CommandsOnTheSimulatedDonglesReportTheOutcome) {
    const std::vector<std::vector<const char*>> cases = {
        {"--help", "record", "MBEEG_SIM_PORTS", "MBEEG_PROFILE", "=3"},
        {"help impedance", "--good", "=10"},
        {"--version", "mbeeg 0."},
        {"--sim 2 ports", "COM201", "[dongle]"},
        {"--sim 2 discover", "board 1: port COM201", "board 2: port COM202", "poll time 80", "16 EEG channels"},
        {"--sim 1 radio get --port COM201", "radio channel"},
        {"--sim 1 radio poll --port COM201", "poll time 80"},
        {"--sim 1 radio status --port COM201", "radio link up"},
        {"--sim 2 board version", "board 1: v3", "board 2: v3"},
        {"--sim 2 board query", "board 1:\n  Board ADS Registers", "board 2:\n"},
        {"--sim 2 board set --channel 11 --gain 12", "channel 11 (board 2, pin 3) set", "gain 12"},
        {"--sim 1 monitor --seconds 6", "monitoring stopped"},
        {"--sim 2 --json ports", "\"dongle\":true"},
        {"--sim 2 --json discover", "\"poll_time\":80", "\"channels\":16"},
        {"--sim 2 --json monitor --seconds 2", "\"packets_per_s\"", "\"stopped\":true", "\"label\":\"Fp1\""},
    };
    for (const auto& c : cases) {
        Cli r = run(c[0]);
        SCOPED_TRACE(c[0]);
        EXPECT_EQ(r.status, 0) << r.err;
        for (size_t i = 1; i < c.size(); ++i) EXPECT_TRUE(contains(r.out, c[i])) << r.out;
        for (const char* raw : {"$$$", "0x", "->chnl:", "connect_to_portName", "\033["})
            EXPECT_FALSE(contains(r.out + r.err, raw)) << r.out << r.err;
        if (contains(c[0], "--json")) {
            for (const std::string& l : lines(r.out)) EXPECT_TRUE(nlohmann::json::accept(l)) << l;
        }
    }
}

// Each electrode of two boards within 10 % of the impedance the simulator was given.
TEST(AppCli, ImpedanceIsMeasuredInKiloOhmsPerElectrode) {
    const double set[16] = {2, 3, 5, 7, 10, 15, 22, 33, 47, 68, 100, 4, 6, 12, 18, 27};
    std::string list;
    for (double k : set) list += (list.empty() ? "" : ",") + std::to_string(k);
    Cli r = run("--sim 2 --sim-impedance " + list + " --json impedance --good 10 --fair 50");
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json got = nlohmann::json::parse(r.out);
    ASSERT_EQ(got["electrodes"].size(), 16u) << r.out;
    for (const auto& e : got["electrodes"]) {
        const double want = set[(e["board"].get<int>() - 1) * 8 + e["pin"].get<int>() - 1];
        const double k = e["kohm"].get<double>();
        EXPECT_NEAR(k, want, want * 0.1) << e;
        EXPECT_EQ(e["rating"], k <= 10 ? "good" : (k <= 50 ? "fair" : "bad")) << e;
    }
    // The simulator's own program takes the same option and says how to reach it.
    SimProcess sim({std::string(MBEEG_BINARY_DIR) + "/mbeeg-sim", "--boards", "2", "--impedance", list});
    std::string ready;
    for (int i = 0; i < 3 && ready.rfind("MBEEG_SIM_PORTS=", 0) != 0; ++i) ready = sim.line();
    const CliRun viaReady =
        runMbeeg(tmpDir(), "MBEEG_NO_REAL_PORTS=1 MBEEG_PROFILE=" + tmpDir() + "/profile.ini " + ready, "--json ports");
    EXPECT_EQ(nlohmann::json::parse(viaReady.out)["ports"].size(), 2u) << ready << viaReady.out;
    sim.stop();
    EXPECT_EQ(std::system((std::string(MBEEG_BINARY_DIR) + "/mbeeg-sim --boards 0 2>/dev/null").c_str()) >> 8, 2);
}

TEST(AppCli, BoardsSharingAChannelAreRefusedUntilRadioAssignPartsThemOneAtATime) {
    Cli shared = run("--sim 2 --sim-channels 5,5 discover");
    EXPECT_EQ(shared.status, 1);
    EXPECT_TRUE(contains(shared.err, "COM201 and COM202 have their boards on one radio channel (5)") &&
                contains(shared.err, "run 'mbeeg radio assign'")) << shared.err;
    const std::string enter = tmpDir() + "/enter";
    std::ofstream(enter) << "\n\n\n\n";
    Cli a = run("--sim 2 --sim-channels 5,5 radio assign", true, "", enter);
    EXPECT_EQ(a.status, 0) << a.err;
    for (const char* said : {"Switch every board off", "radio channel 5\nSwitch on only the board that belongs with "
                             "COM202 (dongle 2 of 2)", "COM202: board and dongle on radio channel 1"})
        EXPECT_TRUE(contains(a.out, said)) << a.out;
    Cli cut = run("--sim 2 --sim-channels 5,5 radio assign");  // no one answers
    EXPECT_TRUE(cut.status == 1 && contains(cut.err, "radio assign stopped at the end of the input")) << cut.err;
}

TEST(AppCli, CorruptSettingsGiveTheDefaultsAOneLineNoticeAndAreKeptAside) {
    const std::string prof = tmpDir() + "/corrupt.ini";
    const std::string corrupt = "[XFaceZovAviComRadioSetting]\nSaveRadioChnl=1\nRadioChnl=5\nnot an entry\n";
    std::ofstream(prof, std::ios::binary) << corrupt;
    Cli r = run("--sim 1 discover", true, prof);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "board 1: port COM201")) << r.out;
    ASSERT_EQ(r.errLines.size(), 1u) << r.err;
    EXPECT_TRUE(contains(r.errLines[0], prof + ".corrupt")) << r.err;
    EXPECT_TRUE(contains(r.errLines[0], "defaults")) << r.err;
    EXPECT_EQ(slurp(prof + ".corrupt"), corrupt);
    Cli again = run("--sim 1 discover", true, prof);
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.err, "");
    EXPECT_TRUE(contains(slurp(prof), "RadioChnl=")) << slurp(prof);
}

TEST(AppCli, RecordWritesAFileThatReadsBackAndRefusesToOverwrite) {
    std::string f = tmpDir() + "/rec.bdf";
    Cli r = run("--sim 2 --sim-drop 2 --quiet record --seconds 4 --out " + f);
    ASSERT_EQ(r.status, 0) << r.err;
    for (int b = 1; b <= 2; ++b) {
        const auto at = r.out.find("board " + std::to_string(b) + " COM");
        unsigned long long rows = 0, packets = 0, lost = 0, held = 0, dropped = 0;
        ASSERT_TRUE(at != std::string::npos &&
                    std::sscanf(r.out.c_str() + r.out.find(": ", at) + 2,
                                "%llu rows: %llu packets, %llu lost, %llu held and %llu dropped", &rows, &packets, &lost,
                                &held, &dropped) == 5)
            << r.out;
        EXPECT_TRUE(rows == 1000 && rows == packets + lost + held - dropped && lost > 0) << r.out;
    }
    Cli i = run("info " + f);
    ASSERT_EQ(i.status, 0) << i.err;
    EXPECT_TRUE(contains(i.out, "4.000 s")) << i.out;
    EXPECT_TRUE(contains(i.out, " 1000 ")) << i.out;
    Cli again = run("--sim 2 --quiet record --seconds 1 --out " + f);
    EXPECT_NE(again.status, 0);
    EXPECT_TRUE(contains(again.err, "--force")) << again.err;
    if (std::system("/usr/bin/python3 -c 'import mne' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3-mne is not installed for /usr/bin/python3";
    std::string py = "/usr/bin/python3 -c \"import mne,sys; r=mne.io.read_raw_bdf(sys.argv[1],verbose='error'); "
                     "sys.exit(0 if r.info['sfreq']==250 and r.n_times==1000 and len(r.ch_names)>=16 else 1)\" " + f;
    EXPECT_EQ(std::system(py.c_str()), 0);
}
