// The mbeeg program as a user runs it, on built-in simulated boards. Most runs
// use virtual time (MBEEG_VIRTUAL_TIME=1) so the program's waits cost nothing;
// the Ctrl-C case needs real time.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

const std::string kBin = std::string(MBEEG_BINARY_DIR) + "/app/mbeeg";

struct CliRun {
    int status = -1;
    std::string out, err;
};

std::string tmpDir() {
    static std::string d = [] {
        std::string p = "/tmp/mbeeg-app-test-" + std::to_string(::getpid());
        std::system(("mkdir -p " + p).c_str());
        return p;
    }();
    return d;
}

std::string slurp(const std::string& p) {
    std::ifstream f(p);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

CliRun run(const std::string& args, bool virtualTime = true) {
    std::string env = "MBEEG_PROFILE=" + tmpDir() + "/profile.ini MBEEG_NO_REAL_PORTS=1 ";
    if (virtualTime) env += "MBEEG_VIRTUAL_TIME=1 ";
    std::string o = tmpDir() + "/out.txt", e = tmpDir() + "/err.txt";
    int rc = std::system((env + kBin + " " + args + " >" + o + " 2>" + e + " </dev/null").c_str());
    CliRun r;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = slurp(o);
    r.err = slurp(e);
    return r;
}

bool haveMne() { return std::system("/usr/bin/python3 -c 'import mne' >/dev/null 2>&1") == 0; }

}  // namespace

TEST(AppCli, HelpAndBadArgumentsExplainThemselves) {
    CliRun h = run("--help");
    EXPECT_EQ(h.status, 0);
    EXPECT_NE(h.out.find("record"), std::string::npos);
    CliRun bad = run("--sim 2 radio set 26 --port COM201");
    EXPECT_NE(bad.status, 0);
    EXPECT_NE(bad.err.find("25"), std::string::npos) << bad.err;
    CliRun noCmd = run("--sim 2 board on");
    EXPECT_NE(noCmd.status, 0);
    EXPECT_NE(noCmd.err.find("--channel"), std::string::npos) << noCmd.err;
    CliRun far = run("--sim 2 board on --channel 17");
    EXPECT_NE(far.status, 0);
    EXPECT_NE(far.err.find("1 to 16"), std::string::npos) << far.err;
}

TEST(AppCli, PortsAndDiscoverListTheSimulatedDongles) {
    CliRun p = run("--sim 2 ports");
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_NE(p.out.find("COM201"), std::string::npos) << p.out;
    EXPECT_NE(p.out.find("[dongle]"), std::string::npos);
    CliRun d = run("--sim 2 discover");
    ASSERT_EQ(d.status, 0) << d.err;
    EXPECT_NE(d.out.find("board 1: port COM201"), std::string::npos) << d.out;
    EXPECT_NE(d.out.find("board 2: port COM202"), std::string::npos) << d.out;
    EXPECT_NE(d.out.find("MultiBoard:2COMs->Board:2x8=16"), std::string::npos) << d.out;
}

TEST(AppCli, RadioAndBoardCommandsReportTheOutcome) {
    CliRun g = run("--sim 1 radio get --port COM201");
    ASSERT_EQ(g.status, 0) << g.err;
    EXPECT_NE(g.out.find("radio channel"), std::string::npos) << g.out;
    CliRun st = run("--sim 1 radio status --port COM201");
    EXPECT_EQ(st.status, 0) << st.err;
    EXPECT_NE(st.out.find("Success: System is Up"), std::string::npos) << st.out;
    CliRun v = run("--sim 2 board version");
    EXPECT_EQ(v.status, 0) << v.err;
    CliRun s = run("--sim 2 board set --channel 3 --gain 12");
    EXPECT_EQ(s.status, 0) << s.err;
    EXPECT_NE(s.out.find("x3050110X"), std::string::npos) << s.out;
    CliRun none = run("radio get --port /dev/null");
    EXPECT_NE(none.status, 0);
}

TEST(AppCli, RecordWritesAFileThatReadsBackAndRefusesToOverwrite) {
    std::string f = tmpDir() + "/rec.bdf";
    std::remove(f.c_str());
    CliRun r = run("--sim 2 --sim-drop 2 --quiet record --seconds 4 --out " + f);
    ASSERT_EQ(r.status, 0) << r.err;
    // One line per board accounts for every row, and some were lost.
    for (int b = 1; b <= 2; ++b) {
        const auto at = r.out.find("board " + std::to_string(b) + " COM");
        ASSERT_NE(at, std::string::npos) << r.out;
        unsigned long long rows = 0, packets = 0, lost = 0, held = 0, dropped = 0;
        ASSERT_EQ(std::sscanf(r.out.c_str() + r.out.find(": ", at) + 2,
                              "%llu rows: %llu packets, %llu lost, %llu held and %llu dropped", &rows, &packets, &lost,
                              &held, &dropped),
                  5)
            << r.out;
        EXPECT_EQ(rows, 1000u);
        EXPECT_EQ(rows, packets + lost + held - dropped);
        EXPECT_GT(lost, 0u);
    }
    CliRun i = run("info " + f);
    ASSERT_EQ(i.status, 0) << i.err;
    EXPECT_NE(i.out.find("4.000 s"), std::string::npos) << i.out;
    EXPECT_NE(i.out.find(" 1000 "), std::string::npos) << i.out;
    CliRun again = run("--sim 2 --quiet record --seconds 1 --out " + f);
    EXPECT_NE(again.status, 0);
    EXPECT_NE(again.err.find("--force"), std::string::npos);
    if (!haveMne()) GTEST_SKIP() << "python3-mne is not installed for /usr/bin/python3";
    std::string py = "/usr/bin/python3 -c \"import mne,sys; r=mne.io.read_raw_bdf(sys.argv[1],verbose='error'); "
                     "eeg=[c for c,t in zip(r.ch_names, r.get_channel_types()) if t=='eeg']; "
                     "print(len(r.ch_names), r.info['sfreq'], r.n_times); "
                     "sys.exit(0 if r.info['sfreq']==250 and r.n_times==1000 and len(r.ch_names)>=16 else 1)\" " + f;
    EXPECT_EQ(std::system(py.c_str()), 0);
}

TEST(AppCli, CtrlCDuringARecordingSavesWhatWasAcquired) {
    std::string f = tmpDir() + "/interrupted.bdf";
    std::remove(f.c_str());
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::setenv("MBEEG_PROFILE", (tmpDir() + "/profile.ini").c_str(), 1);
        ::setenv("MBEEG_NO_REAL_PORTS", "1", 1);
        ::freopen("/dev/null", "w", stdout);
        ::execl(kBin.c_str(), kBin.c_str(), "--sim", "2", "--quiet", "record", "--seconds", "60", "--out", f.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Discovery of two boards takes a few seconds of real protocol waits.
    std::this_thread::sleep_for(std::chrono::seconds(7));
    ::kill(pid, SIGINT);
    int st = 0;
    ::waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 0);
    CliRun i = run("info " + f);
    ASSERT_EQ(i.status, 0) << i.err;
    EXPECT_EQ(i.out.find("60.000 s"), std::string::npos) << "only what was acquired is saved:\n" << i.out;
}
