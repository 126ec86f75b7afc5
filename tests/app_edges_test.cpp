// Values a person can type that no recording can honour are refused with one
// line and exit status 2, before any board is touched and before any file is
// made.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {
const std::string kBin = std::string(MBEEG_BINARY_DIR) + "/app/mbeeg";

struct CliResult {
    int status = -1;
    std::string out, err;
};

CliResult run(const std::string& dir, const std::string& args) {
    const std::string errFile = dir + "/stderr.txt";
    const std::string cmd =
        "cd '" + dir + "' && MBEEG_VIRTUAL_TIME=1 MBEEG_PROFILE='" + dir + "/p.ini' " + kBin + " " + args + " 2>" + errFile;
    CliResult r;
    FILE* p = ::popen(cmd.c_str(), "r");
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    std::ifstream f(errFile);
    std::stringstream ss;
    ss << f.rdbuf();
    r.err = ss.str();
    std::remove(errFile.c_str());
    return r;
}
}  // namespace

TEST(AppEdges, ImpossibleValuesAreRefusedBeforeAnythingIsSentOrMade) {
    char tmpl[] = "/tmp/mbeeg-app-edges.XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string longName(250, 'n');
    struct Case {
        std::string args, says;
    } cases[] = {
        {"record --sim 1 --seconds 1 --out x.edf", "name the file .bdf, not .edf"},
        {"record --sim 1 --seconds 1 --out x.json", "name the file .bdf, not .json"},
        {"record --sim 1 --seconds 1 --out -", "cannot go to standard output"},
        {"record --sim 1 --seconds 1 --out .bdf", "no name before its extension"},
        {"record --sim 1 --seconds 1 --out " + longName + ".bdf", "the name is too long"},
        {"record --sim 1 --seconds inf --out y.bdf", "not a finite number"},
        {"record --sim 1 --seconds nan --out y.bdf", "not a finite number"},
        {"--sim 1 --sim-drop nan monitor --seconds 1", "not a finite number"},
        {"--sim 1 --sim-drift -inf monitor --seconds 1", "not a finite number"},
        {"--sim 1 monitor --seconds NaN", "not a finite number"},
    };
    for (const Case& c : cases) {
        const CliResult r = run(dir, c.args);
        EXPECT_EQ(r.status, 2) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_EQ(r.out, "") << c.args;  // no discovery, no progress
    }
    // Nothing was made in the folder, not even the settings file.
    for (const auto& entry : std::filesystem::directory_iterator(dir)) ADD_FAILURE() << "made " << entry.path();
    std::system(("rm -rf '" + dir + "'").c_str());
}
