// Bad input at the edges of the mbeeg program: values out of range, ports
// that lead to no dongle, a settings file that cannot be read. Each gets one
// line on stderr, a non-zero exit, and nothing written to any port (--trace
// prints every write, so its silence is the proof).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kBin = std::string(MBEEG_BINARY_DIR) + "/app/mbeeg";

struct CliRun {
    int status = -1;
    std::string out, err;
    double seconds = 0;  // real time the program took
};

std::string tmpDir() {
    static std::string d = [] {
        char t[] = "/tmp/mbeeg-edges-test.XXXXXX";
        return std::string(::mkdtemp(t));
    }();
    return d;
}

std::string slurp(const std::string& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream ss(text);
    for (std::string l; std::getline(ss, l);) out.push_back(l);
    return out;
}

// virtualTime: the program's waits cost nothing (built-in boards only; the
// ports of the OS are waited for in real time anyway).
CliRun run(const std::string& args, bool virtualTime = true, const std::string& profile = "") {
    std::string env = "MBEEG_PROFILE=" + (profile.empty() ? tmpDir() + "/profile.ini" : profile) +
                      " MBEEG_NO_REAL_PORTS=1 ";
    if (virtualTime) env += "MBEEG_VIRTUAL_TIME=1 ";
    std::string o = tmpDir() + "/out.txt", e = tmpDir() + "/err.txt";
    auto t0 = std::chrono::steady_clock::now();
    int rc = std::system((env + kBin + " " + args + " >" + o + " 2>" + e + " </dev/null").c_str());
    CliRun r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = slurp(o);
    r.err = slurp(e);
    return r;
}

bool contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

}  // namespace

TEST(ReliabilityEdges, OutOfRangeValuesGetOneLineNamingTheRangeAndNothingIsSent) {
    // Without the refusal these would reach the dongles: the trace shows it does.
    CliRun control = run("--sim 2 --trace radio get --port COM201");
    ASSERT_EQ(control.status, 0) << control.err;
    ASSERT_TRUE(contains(control.err, "trace: COM201 <- f0")) << control.err;

    struct Case {
        const char* args;
        const char* range;
    } cases[] = {
        {"radio set 0 --port COM201", "1 to 25"},
        {"radio set 26 --port COM201", "1 to 25"},
        {"radio override 26 --port COM201", "1 to 25"},
        {"radio set --port COM201", "1 to 25"},
        {"radio poll 256 --port COM201", "0 to 255"},
        {"radio poll -1 --port COM201", "0 to 255"},
        {"radio baud 3 --port COM201", "0 to 2"},
        {"radio get 7 --port COM201", "no value"},
        {"radio tune --port COM201", "get,set,scan"},
        {"board on --channel 0", "counted from 1"},
        {"board off --channel 17", "1 to 16"},
        {"board frobnicate", "set,on,off"},
        {"board mode --index 7", "0 to 6"},
        {"board test-signal --index 6", "0 to 5"},
        {"board sd-start --index 0", "1 to 8"},
        {"board set --channel 2 --gain 5", "1,2,4,6,8,12,24"},
        {"frobnicate", "commands: ports, discover"},
    };
    for (const Case& c : cases) {
        CliRun r = run(std::string("--sim 2 --trace ") + c.args);
        SCOPED_TRACE(c.args);
        EXPECT_EQ(r.status, 2);
        auto errLines = lines(r.err);
        ASSERT_EQ(errLines.size(), 1u) << r.err;
        EXPECT_EQ(errLines[0].rfind("mbeeg: ", 0), 0u) << r.err;
        EXPECT_TRUE(contains(errLines[0], c.range)) << r.err;
        EXPECT_EQ(r.out, "");
    }

    // A board that is not there is only known after discovery: the command
    // itself ("!" turns a first channel on) must still not go out.
    CliRun late = run("--sim 2 --trace --link 7 board on --channel 17");
    EXPECT_EQ(late.status, 2) << late.err;
    EXPECT_TRUE(contains(late.err, "channels 1 to 16")) << late.err;
    EXPECT_FALSE(contains(late.err, "<- \"!\"")) << late.err;
}

TEST(ReliabilityEdges, PortsThatLeadToNoDongleFailClearlyAndInTime) {
    const std::string plain = tmpDir() + "/plain.txt";
    std::ofstream(plain) << "not a port\n";
    struct Case {
        std::string port, why;
    } cases[] = {{"/dev/null", "not a serial device"},
                 {plain, "not a serial device"},
                 {tmpDir() + "/missing", "No such file"},
                 {"COM999", "no such port"}};
    for (const Case& c : cases) {
        CliRun r = run("radio get --port " + c.port, false);
        SCOPED_TRACE(c.port);
        EXPECT_EQ(r.status, 1);
        auto errLines = lines(r.err);
        ASSERT_EQ(errLines.size(), 1u) << r.err;
        EXPECT_TRUE(contains(errLines[0], c.port)) << r.err;
        EXPECT_TRUE(contains(errLines[0], c.why)) << r.err;
        EXPECT_LT(r.seconds, 2.0);
    }

    // A terminal nobody answers: the master end stays open and unread.
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    // Reading the channel pauses 1 s, then waits 0.2 s for the first byte.
    CliRun get = run("radio get --port " + slave, false);
    EXPECT_EQ(get.status, 1);
    auto getLines = lines(get.err);
    ASSERT_EQ(getLines.size(), 1u) << get.err;
    EXPECT_TRUE(contains(getLines[0], slave)) << get.err;
    EXPECT_TRUE(contains(getLines[0], "no answer to 'radio get'")) << get.err;
    EXPECT_GE(get.seconds, 1.1);
    EXPECT_LT(get.seconds, 4.0);
    // The link status waits 0.1 s, then 0.2 s.
    CliRun st = run("radio status --port " + slave, false);
    EXPECT_EQ(st.status, 1);
    EXPECT_EQ(lines(st.err).size(), 1u) << st.err;
    EXPECT_TRUE(contains(st.err, "no answer to 'radio status'")) << st.err;
    EXPECT_LT(st.seconds, 2.0);
    ::close(master);
}

TEST(ReliabilityEdges, NoDongleAtAllIsOneLineNotTheLibrarysThreeBoxes) {
    CliRun d = run("discover");
    EXPECT_EQ(d.status, 1);
    auto errLines = lines(d.err);
    ASSERT_EQ(errLines.size(), 1u) << d.err;
    EXPECT_TRUE(contains(errLines[0], "no dongle found")) << d.err;
    // --verbose shows what the library said on the way.
    CliRun v = run("--verbose discover");
    EXPECT_EQ(v.status, 1);
    EXPECT_TRUE(contains(v.err, "Cannot find a USB-Com-Ble Dongle!")) << v.err;
}

TEST(ReliabilityEdges, CorruptSettingsGiveTheDefaultsAOneLineNoticeAndAreKeptAside) {
    const std::string prof = tmpDir() + "/corrupt.ini";
    const std::string corrupt = "[XFaceZovAviComRadioSetting]\nSaveRadioChnl=1\nRadioChnl=5\nnot an entry\n";
    std::ofstream(prof, std::ios::binary) << corrupt;
    CliRun r = run("--sim 1 discover", true, prof);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "board 1: port COM201")) << r.out;
    auto errLines = lines(r.err);
    ASSERT_EQ(errLines.size(), 1u) << r.err;
    EXPECT_TRUE(contains(errLines[0], prof + ".corrupt")) << r.err;
    EXPECT_TRUE(contains(errLines[0], "defaults")) << r.err;
    EXPECT_EQ(slurp(prof + ".corrupt"), corrupt);
    // What the program wrote back reads cleanly the next time.
    CliRun again = run("--sim 1 discover", true, prof);
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.err, "");
    EXPECT_TRUE(contains(slurp(prof), "RadioChnl=")) << slurp(prof);
}

TEST(ReliabilityEdges, ARecordingThatCouldNotBeSavedIsRefusedBeforeAnythingIsAcquired) {
    // /proc takes no new files: finding that out after the recording would
    // lose all of it.
    struct Case {
        std::string args, why;
    } cases[] = {{"record --seconds 1 --out /proc/x.bdf", "cannot write in folder /proc"},
                 {"record --seconds 1 --out " + tmpDir() + "/", "is a folder"},
                 {"record --seconds 1 --out " + tmpDir(), "is a folder"},
                 {"record --seconds 1 --out " + tmpDir() + "/missing/x.bdf", "does not exist"}};
    for (const Case& c : cases) {
        CliRun r = run("--sim 1 --trace " + c.args);
        SCOPED_TRACE(c.args);
        EXPECT_NE(r.status, 0);
        auto errLines = lines(r.err);
        ASSERT_EQ(errLines.size(), 1u) << r.err;
        EXPECT_TRUE(contains(errLines[0], c.why)) << r.err;
    }
    CliRun folder = run("info " + tmpDir());
    EXPECT_EQ(folder.status, 1);
    EXPECT_TRUE(contains(folder.err, "a folder, not a recording")) << folder.err;
}
