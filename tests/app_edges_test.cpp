// Values no recording can honour are refused before anything happens; boards
// that go silent are named and the exit status says what became of the run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>

#include "sim/TruthFile.h"
#include "tests/support/AcqhostRecording.h"
#include "tests/support/Files.h"
#include "tests/support/SimProcess.h"

using namespace testfiles;

namespace {
CliRun run(const std::string& dir, const std::string& args) {
    return runMbeeg(dir, "MBEEG_VIRTUAL_TIME=1 MBEEG_PROFILE='" + dir + "/p.ini'", args);
}
}  // namespace

TEST(AppEdges, ImpossibleValuesAreRefusedBeforeAnythingIsSentOrMade) {
    TempDir tmp("app-edges");
    const std::string dir = tmp.str();
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
        const CliRun r = run(dir, c.args);
        EXPECT_EQ(r.status, 2) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_EQ(r.out, "") << c.args;  // no discovery, no progress
    }
    // Not even the settings file was made.
    for (const auto& entry : std::filesystem::directory_iterator(dir)) ADD_FAILURE() << "made " << entry.path();
}

namespace {
using Counts = std::array<std::int32_t, 8>;

// Each row is the board's next sent packet or, while one is missing, the row
// before again: the number of such holds, or -1 and why.
std::int64_t holdsAgainstTruth(const std::vector<Counts>& rows, const std::vector<sim::TruthRow>& truth,
                               std::string& why) {
    std::size_t k = 0;
    auto nextSent = [&] {
        while (k < truth.size() && truth[k].dropped != sim::kTruthSent) ++k;
    };
    auto stored = [](Counts c) {
        for (auto& v : c) v = acqtest::storedCount(v);
        return c;
    };
    nextSent();
    // The boards were started one by one: the first row is some sent packet.
    while (k < truth.size() && stored(truth[k].counts) != rows[0]) {
        ++k;
        nextSent();
    }
    std::int64_t holds = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (k < truth.size() && stored(truth[k].counts) == rows[r]) {
            ++k;
            nextSent();
        } else if (r > 0 && rows[r] == rows[r - 1]) {
            ++holds;
        } else {
            why = "row " + std::to_string(r) + " is neither sent packet #" + std::to_string(k) + " nor a hold";
            return -1;
        }
    }
    return holds;
}

// Every board's saved rows against the simulator's truth; returns the sidecar.
nlohmann::json expectRowsAsSent(const std::string& dir, int boards, const std::string& what) {
    const auto truth = sim::readTruthFile(dir + "/truth.txt");
    const nlohmann::json side = nlohmann::json::parse(std::ifstream(dir + "/rec.json"));
    acqtest::BdfReader bdf(dir + "/rec.bdf");
    EXPECT_TRUE(bdf.ok) << what;
    if (!bdf.ok) return side;
    const std::int64_t S = side["samples"];
    std::vector<std::vector<Counts>> rows(static_cast<size_t>(boards), std::vector<Counts>(static_cast<size_t>(S)));
    for (int s = 0; s < bdf.hdr.edfsignals; ++s) {
        const nlohmann::json& ch = side["channels"][s];
        if (ch["kind"] != "EEG") continue;
        const std::vector<int> v = bdf.digital(s);
        for (std::int64_t i = 0; i < S; ++i) rows[ch["board"].get<int>()][i][ch["pin"].get<int>()] = v[i];
    }
    for (int b = 0; b < boards; ++b) {
        std::string why;
        const std::int64_t holds = holdsAgainstTruth(rows[b], truth[b], why);
        EXPECT_GE(holds, 0) << what << ": board " << b + 1 << ": " << why;
        EXPECT_EQ(holds, side["boards"][b]["lost"].get<std::int64_t>()) << what << ": board " << b + 1;
    }
    return side;
}
}  // namespace

TEST(AppEdges, SilentBoardsAreNamedAndTheStatusTellsWhatBecameOfTheRun) {
    TempDir tmp("app-silent");
    const std::string dir = tmp.str();
    struct Case {
        std::string args;
        int status;
        std::vector<std::string> says;
        bool saved;
    } cases[] = {
        {"record --sim 2 --sim-off 2:8:12.4 --seconds 20", 3,
         {"board 2 (COM202) went silent", "board 2 (COM202) is back", "board 2 (COM202) was lost for"}, true},
        {"record --sim 2 --sim-off 2:8:12.4 --seconds 20 --max-lost 10", 0, {"board 2 (COM202) is back"}, true},
        // Off for 1.2 s: taken for lost after 0.8 s and back at the next try.
        {"record --sim 2 --sim-off 2:8:9.2 --seconds 12 --max-lost 1.5", 0, {"board 2 (COM202) is back"}, true},
        {"record --sim 2 --sim-unplug 1:8 --sim-off 2:8 --seconds 60", 5,
         {"board 1 (COM201) went silent", "every board was silent for 10 s: stopped"}, true},
        {"record --sim 2 --seconds 5 --expect-boards 3", 4, {"found 2 board(s), --expect-boards asks for 3"}, false},
        {"--sim 1 --sim-off 1:8 monitor --silent-stop 3", 5, {"every board was silent for 3 s: stopped"}, false},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(dir + "/r");
        std::filesystem::create_directory(dir + "/r");
        const bool record = c.args.rfind("record", 0) == 0;
        const CliRun r = run(dir, "-q --sim-truth r/truth.txt " + c.args + (record ? " --out r/rec.bdf" : ""));
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
        for (const std::string& line : c.says) EXPECT_NE(r.err.find(line), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_EQ(std::filesystem::exists(dir + "/r/rec.bdf"), c.saved) << c.args;
        if (!c.saved) continue;

        const nlohmann::json side = expectRowsAsSent(dir + "/r", 2, c.args);
        EXPECT_TRUE(c.status != 3 || side["boards"][1]["lost"].get<int>() > 4 * 250) << "the board was off for 4.4 s";
    }
}

// Each ends a run alike: streams stopped, test current off, rows saved, status 6.
TEST(AppEdges, EverySignalEndsARunCleanly) {
    TempDir tmp("app-signal");
    const std::string dir = tmp.str();
    struct Case {
        std::string args, waitFor;
        int sig;  // 0: the pipe closes
        std::string lastWrite;
    } cases[] = {
        {"-q --sim 2 record --seconds 600 --out r/rec.bdf", "r/rec.partial.bdf", SIGHUP, "\"s\""},
        {"-q --sim 2 record --seconds 600 --out r/rec.bdf", "r/rec.partial.bdf", SIGTERM, "\"s\""},
        {"-q --sim 1 impedance --dwell 600000", "\"z110Z\"", SIGINT, "\"s\""},
        {"--sim 1 monitor", "", 0, "\"s\""},  // it writes at once, and head has gone
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(dir + "/r");
        std::filesystem::create_directory(dir + "/r");
        const std::string mbeeg = "MBEEG_VIRTUAL_TIME=1 MBEEG_PROFILE=r/p.ini " + kMbeeg +
                                  " --trace --sim-truth r/truth.txt " + c.args + " 2>r/err.txt";
        SimProcess p({"/bin/bash", "-c",
                      "cd '" + dir + "' && " +
                          (c.sig ? "exec env " + mbeeg
                                 : "timeout 30 env " + mbeeg + " | head -1 >/dev/null; exit ${PIPESTATUS[0]}")});
        auto seen = [&] {
            if (c.waitFor.empty()) return p.ended();
            if (c.waitFor.rfind("r/", 0) == 0) return std::filesystem::exists(dir + "/" + c.waitFor);
            return slurp(dir + "/r/err.txt").find(c.waitFor) != std::string::npos;
        };
        for (int i = 0; i < 500 && !seen() && !p.ended(); ++i) ::usleep(20000);
        ASSERT_TRUE(seen()) << c.args;
        const int status = p.stop(c.sig ? c.sig : SIGTERM);
        const std::string err = slurp(dir + "/r/err.txt");
        EXPECT_EQ(status, 6) << c.args << "\n" << err;
        // The last write to each port stops what was going on.
        for (const std::string port : {"COM201", "COM202"}) {
            const size_t at = err.rfind("trace: " + port + " <- ");
            if (at == std::string::npos) continue;
            const std::string last = err.substr(at + 17, err.find('\n', at) - at - 17);
            EXPECT_TRUE(last.ends_with(c.lastWrite)) << c.args << " " << port << ": " << last;
        }
        // A test current switched on is off again.
        if (const size_t z = err.rfind("Z\"\n"); z != std::string::npos) {
            EXPECT_EQ(err.substr(z - 2, 3), "00Z") << c.args;
        }
        if (c.args.find("record") != std::string::npos) expectRowsAsSent(dir + "/r", 2, c.args);
    }
}
