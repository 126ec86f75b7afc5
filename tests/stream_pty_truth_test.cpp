// What `mbeeg record` stores against what the simulated boards really sent:
// mbeeg-sim serves the dongles on pseudo-terminals, the real program finds
// them through the real serial backend and records a few seconds, and every
// count of every board's rows is checked against the simulator's truth file.
// Real time: 4 to 12 s per case, by the number of boards.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "serialport/ComAlias.h"
#include "sim/TruthFile.h"
#include "tests/support/AcqhostRecording.h"
#include "tests/support/SimProcess.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSeconds = 3;
constexpr int kRate = 250;

struct Case {
    int boards;
    bool drops;
    int usbLatencyUs;
};

using Counts = std::array<std::int32_t, 8>;

// A file stores the negative full scale clipped by one.
Counts stored(Counts c) {
    for (auto& v : c)
        if (v < -8388607) v = -8388607;
    return c;
}

std::string text(const Counts& c) {
    std::string s;
    for (auto v : c) s += (s.empty() ? "" : " ") + std::to_string(v);
    return "[" + s + "]";
}

std::string slurp(const fs::path& p) {
    std::ifstream f(p);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// One board's rows against its truth. Rows start at the sent packet that
// has the first row's counts; from there each row is the next packet: a sent
// one with exactly its counts, or one lost on the radio, held as the row
// before. Stops at the first mismatch.
struct Walk {
    std::size_t first = 0, last = 0;  // truth indexes of the first and last row
    std::uint64_t spanDrops = 0, trailingDrops = 0;
    std::string error;
};

Walk walk(const std::vector<Counts>& rows, const std::vector<sim::TruthRow>& truth) {
    Walk w;
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < truth.size(); ++i)
        if (truth[i].dropped == sim::kTruthSent && stored(truth[i].counts) == rows[0]) starts.push_back(i);
    if (starts.size() != 1) {
        w.error = "row 0 " + text(rows[0]) + " is at " + std::to_string(starts.size()) + " places in the truth";
        return w;
    }
    std::size_t k = w.first = starts[0];
    for (std::size_t r = 1; r < rows.size(); ++r) {
        if (++k >= truth.size()) {
            w.error = "row " + std::to_string(r) + " is past the end of the truth";
            return w;
        }
        const sim::TruthRow& t = truth[k];
        const bool held = t.dropped == sim::kTruthDropped;
        if (held) ++w.spanDrops;
        const Counts want = held ? rows[r - 1] : stored(t.counts);
        if (t.dropped == sim::kTruthCut || rows[r] != want) {
            std::ostringstream m;
            m << "row " << r << ": want truth #" << k << " (sample " << int(t.sample) << ", "
              << (held ? "lost, so the row before " : t.dropped == sim::kTruthSent ? "sent " : "cut ") << text(want)
              << "), got " << text(rows[r]) << (rows[r] == rows[r - 1] ? ", the row before" : "");
            w.error = m.str();
            return w;
        }
    }
    w.last = k;
    for (std::size_t i = k + 1; i < truth.size() && truth[i].dropped == sim::kTruthDropped; ++i) ++w.trailingDrops;
    return w;
}

}  // namespace

class StreamPtyTruth : public ::testing::TestWithParam<Case> {};

TEST_P(StreamPtyTruth, EveryStoredCountIsWhatItsBoardSent) {
    const Case c = GetParam();
    const int N = c.boards;
    char tmpl[] = "/tmp/mbeeg-pty-truth-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const fs::path dir = tmpl;
    const fs::path truthPath = dir / "truth.txt", bdfPath = dir / "rec.bdf", log = dir / "mbeeg.log";

    SimProcess sim({MBEEG_BINARY_DIR "/mbeeg-sim", "--boards", std::to_string(N), "--seed", std::to_string(40 + N),
             "--drop-rate", c.drops ? "0.01" : "0", "--usb-latency-us", std::to_string(c.usbLatencyUs), "--truth",
             truthPath.string()});
    std::vector<std::string> ptys;
    std::string list;
    for (int k = 0; k < N; ++k) {
        std::istringstream in(sim.line());
        std::string word, path;
        int index = -1;
        in >> word >> index >> path;
        ASSERT_EQ(word, "PORT");
        ptys.push_back(path);
        list += (list.empty() ? "" : ",") + path;
    }
    const std::string cmd = "cd '" + dir.string() + "' && MBEEG_PROFILE=profile.ini MBEEG_NO_REAL_PORTS=1 MBEEG_SIM_PORTS=" +
                            list + " timeout 40 " MBEEG_BINARY_DIR "/app/mbeeg -q record --out rec.bdf --seconds " +
                            std::to_string(kSeconds) + " >mbeeg.log 2>&1 </dev/null";
    const int rc = std::system(cmd.c_str());
    ASSERT_EQ(sim.stop(), 0);
    ASSERT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 0) << slurp(log);

    const auto side = nlohmann::json::parse(slurp(dir / "rec.json"));
    const auto truth = sim::readTruthFile(truthPath.string());
    ASSERT_EQ(static_cast<int>(truth.size()), N);
    const std::int64_t S = side["samples"].get<std::int64_t>();
    ASSERT_EQ(S, kSeconds * kRate);

    // Rows of each board as stored: its EEG signals by the sidecar's board
    // and pin, with a scale that stores the board's counts as they are.
    acqtest::BdfReader bdf(bdfPath);
    ASSERT_TRUE(bdf.ok) << bdf.hdr.filetype;
    std::vector<std::vector<Counts>> rows(N, std::vector<Counts>(S));
    int eeg = 0;
    for (int s = 0; s < bdf.hdr.edfsignals; ++s) {
        const auto& ch = side["channels"][s];
        if (ch["kind"] != "EEG") continue;
        const edf_param_struct& p = bdf.hdr.signalparam[s];
        const int b = ch["board"], pin = ch["pin"];
        std::string label = p.label;
        label.erase(label.find_last_not_of(' ') + 1);
        ASSERT_EQ(label, ch["label"].get<std::string>()) << s;
        ASSERT_TRUE(b >= 0 && b < N && pin >= 0 && pin < 8) << s;
        ASSERT_TRUE(p.dig_max == 8388607 && p.dig_min == -8388607 && p.phys_max == 187500 && p.phys_min == -187500)
            << p.label;
        const std::vector<int> v = bdf.digital(s);
        ASSERT_EQ(static_cast<std::int64_t>(v.size()), S);
        for (std::int64_t r = 0; r < S; ++r) rows[b][r][pin] = v[r];
        ++eeg;
    }
    ASSERT_EQ(eeg, 8 * N);

    std::uint64_t radioLost = 0;
    for (int b = 0; b < N; ++b) {
        const auto& bs = side["boards"][b];
        const std::string port = bs["port"];
        int k = 0;
        while (k < N && mbeeg::serial::aliasForPath(ptys[k]) != port) ++k;
        ASSERT_LT(k, N) << "board " << b << " on port '" << port << "', not one of the simulator's";
        const Walk w = walk(rows[b], truth[k]);
        EXPECT_TRUE(w.error.empty()) << "board " << b << " (" << port << "): " << w.error;
        if (!w.error.empty()) continue;
        radioLost += w.spanDrops;
        const std::uint64_t lost = bs["lost"], packets = bs["packets"], held = bs["drift_held"],
                            dropped = bs["drift_dropped"];
        EXPECT_EQ(bs["rows"].get<std::uint64_t>(), static_cast<std::uint64_t>(S)) << "board " << b;
        EXPECT_EQ(packets + lost + held - dropped, static_cast<std::uint64_t>(S)) << "board " << b;
        EXPECT_TRUE(lost >= w.spanDrops && lost <= w.spanDrops + w.trailingDrops)
            << "board " << b << ": lost " << lost << ", the radio lost " << w.spanDrops << " in truth #" << w.first
            << ".." << w.last << " and " << w.trailingDrops << " right after";
        if (!c.drops) {
            EXPECT_EQ(bs["rejected"].get<std::uint64_t>(), 0u) << "board " << b;
        }
    }
    if (c.drops) {
        EXPECT_GT(radioLost, 0u) << "no packet lost: the held rows went untested";
    }
    if (HasFailure())
        std::cout << "files kept in " << dir << "\n";
    else
        fs::remove_all(dir);
}

// Finding the dongles takes about a second each, so each board count and
// loss setting runs once; the latency timer alternates, so that each board
// count and each loss setting meets both.
static std::vector<Case> allCases() {
    std::vector<Case> v;
    for (int i = 0; i < 4; ++i)
        for (int drops = 0; drops < 2; ++drops) v.push_back({1 << i, drops == 1, (i + drops) % 2 ? 16000 : 1000});
    return v;
}

INSTANTIATE_TEST_SUITE_P(Boards, StreamPtyTruth, ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<Case>& i) {
                             return std::to_string(i.param.boards) + "boards_" + (i.param.drops ? "drops" : "clean") +
                                    "_usb" + std::to_string(i.param.usbLatencyUs / 1000) + "ms";
                         });
