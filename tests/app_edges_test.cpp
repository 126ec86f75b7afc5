// Values no recording can honour are refused before anything happens; boards
// that go silent are named and the exit status says what became of the run.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
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
        // A board back from an outage may also hold one row to keep step with the first.
        EXPECT_EQ(holds, side["boards"][b]["lost"].get<std::int64_t>() + side["boards"][b]["drift_held"].get<std::int64_t>())
            << what << ": board " << b + 1;
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
        {"record --sim 2 --trials 12 --samples 250", 0, {}, true},  // trials given back as the file takes them
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

// What the user set up reaches the file: gains (in the header's scale, in the
// sidecar, and through MNE as truth converted at that gain), a label, the
// subject, typed channels with positions, and markers sent over UDP.
TEST(AppEdges, WhatTheUserSetUpReachesTheRecording) {
    TempDir tmp("app-setup");
    const std::string dir = tmp.str();
    std::ofstream(dir + "/ch.ini") << "# channel 3 differs\n[channel 3]\ngain = 2\nlabel = Cz\n";
    SimProcess rec({kMbeeg, "-q", "--sim", "2", "--sim-truth", dir + "/truth.txt", "record", "--gain", "8", "--settings",
                    dir + "/ch.ini", "--subject", "S01", "--session", "ses-1", "--note", "eyes closed", "--trials",
                    "24000", "--samples", "25", "--markers-udp", "0", "--out", dir + "/rec.bdf"},
                   {"MBEEG_VIRTUAL_TIME=1", "MBEEG_NO_REAL_PORTS=1", "MBEEG_PROFILE=" + dir + "/p.ini"});
    const std::string said = rec.line();
    const int port = std::atoi(said.c_str() + said.rfind(':') + 1);
    ASSERT_GT(port, 0) << said;
    // Marked once the file has its first second: the short trials before are given back by then.
    auto size = [&] {
        std::error_code ec;
        const auto n = std::filesystem::file_size(dir + "/rec.partial.bdf", ec);
        return ec ? 0 : n;
    };
    for (int i = 0; i < 500 && size() < 40000; ++i) ::usleep(20000);
    const int udp = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (const std::string m : {"7 eyes open", "blink\n"}) {
        ::sendto(udp, m.data(), m.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        ::usleep(100000);
    }
    ::close(udp);
    ASSERT_EQ(rec.stop(SIGINT), 6);

    const nlohmann::json side = expectRowsAsSent(dir, 2, "record --gain 8");
    EXPECT_EQ(side["subject"], "S01");
    EXPECT_EQ(side["note"], "eyes closed");
    acqtest::BdfReader bdf(dir + "/rec.bdf");
    ASSERT_TRUE(bdf.ok);
    EXPECT_STREQ(bdf.hdr.patientcode, "S01");
    EXPECT_STREQ(bdf.hdr.admincode, "ses-1");
    nlohmann::json exp{{"recipe", true}, {"sfreq", 250}, {"n_times", bdf.hdr.signalparam[0].smp_in_file}, {"annotations", nlohmann::json::array()}};
    std::vector<std::string> marks;
    for (const auto& [onset, text] : bdf.annotations()) {
        exp["annotations"].push_back({onset, text});
        if (text == "7 eyes open" || text == "blink") {
            marks.push_back(text);
            EXPECT_GE(onset, 1.0);
            const int markerCh = bdf.hdr.edfsignals - 2;  // "Marker", before "Reserved"
            EXPECT_EQ(bdf.digital(markerCh)[static_cast<size_t>(std::llround(onset * 250))], text == "blink" ? 1 : 7);
        }
    }
    EXPECT_EQ(marks, (std::vector<std::string>{"7 eyes open", "blink"}));
    const std::string info = run(dir, "info " + dir + "/rec.bdf").out;
    EXPECT_NE(info.find("s  7 eyes open"), std::string::npos) << info;
    for (int s = 0; s < bdf.hdr.edfsignals; ++s) {
        const nlohmann::json& ch = side["channels"][s];
        const std::string label = ch["label"], kind = ch["kind"];
        exp["ch_names"].push_back(label.substr(label.find(' ') + 1));
        exp["types"].push_back(kind == "EEG" ? "eeg" : kind == "Trigger" ? "stim" : "misc");
        EXPECT_EQ(label.rfind(kind == "EEG" ? "EEG " : kind == "Trigger" ? "Trigger" : "MISC ", 0), 0u) << label;
        if (kind != "EEG") continue;
        const int gain = s == 2 ? 2 : 8;
        EXPECT_EQ(ch["gain"], gain) << label;
        EXPECT_EQ(bdf.hdr.signalparam[s].phys_max, 4.5e6 / gain) << label;
        const std::vector<int> counts = bdf.digital(s);  // the simulator's, as expectRowsAsSent found
        for (std::int64_t r : {std::int64_t{0}, side["samples"].get<std::int64_t>() - 1})
            exp["values"].push_back({{"ch", exp["ch_names"][s]}, {"sample", r}, {"value", counts[r] * 4.5 / 8388607 / gain}, {"tol", 1e-12}});
    }
    EXPECT_EQ(exp["ch_names"][0], "Fp1");  // not "FP1" as the 16-channel template spells it
    EXPECT_EQ(exp["ch_names"][2], "Cz");
    if (hasMne()) EXPECT_EQ(mneDisagrees(dir + "/rec.bdf", exp), "");
}
