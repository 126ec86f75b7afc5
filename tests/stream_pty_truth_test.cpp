// `mbeeg record` on mbeeg-sim's pseudo-terminals, ended by --seconds, Ctrl-C or
// SIGKILL: every stored count against the simulator's truth file. Real time.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <thread>

#include "serialport/ComAlias.h"
#include "tests/support/AcqhostRecording.h"
#include "tests/support/Files.h"
#include "tests/support/SimProcess.h"
#include "tests/support/Truth.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSeconds = 3;
constexpr int kRate = 250;

enum class End { Seconds, CtrlC, Kill };
struct Case {
    int boards;
    bool drops;
    int usbLatencyUs;
    End end;
};

using testfiles::slurp;
using truthtest::Counts;

// Whole records in a growing file, by its header.
long long recordsIn(const fs::path& p) {
    char h[245] = {};
    std::ifstream(p, std::ios::binary).read(h, 244);
    return std::atoll(h + 236);
}

}  // namespace

class StreamPtyTruth : public ::testing::TestWithParam<Case> {};

TEST_P(StreamPtyTruth, EveryStoredCountIsWhatItsBoardSent) {
    const Case c = GetParam();
    const int N = c.boards;
    testfiles::TempDir tmp("pty-truth");
    const fs::path dir = tmp.path;
    const fs::path truthPath = dir / "truth.txt", bdfPath = dir / "rec.bdf";

    SimProcess sim({MBEEG_BINARY_DIR "/mbeeg-sim", "--boards", std::to_string(N), "--seed", std::to_string(40 + N),
             "--drop-rate", c.drops ? "0.01" : "0", "--usb-latency-us", std::to_string(c.usbLatencyUs), "--truth",
             truthPath.string()});
    std::vector<std::string> ptys;  // "PORT <index> <path>" lines
    std::string list;
    for (int k = 0; k < N; ++k) {
        std::istringstream in(sim.line());
        std::string word, index, path;
        ASSERT_TRUE(in >> word >> index >> path && word == "PORT");
        ptys.push_back(path);
        list += (list.empty() ? "" : ",") + path;
    }
    // Ctrl-C or SIGKILL come once the file holds 2 s of a minute asked for.
    const bool killed = c.end == End::Kill;
    SimProcess rec({MBEEG_BINARY_DIR "/app/mbeeg", "-q", "record", "--out", bdfPath.string(), "--seconds",
                    std::to_string(c.end == End::Seconds ? kSeconds : 60)},
                   {"MBEEG_PROFILE=" + (dir / "profile.ini").string(), "MBEEG_NO_REAL_PORTS=1", "MBEEG_SIM_PORTS=" + list});
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(40);
    while (!rec.ended() && std::chrono::steady_clock::now() < giveUp &&
           !(c.end != End::Seconds && recordsIn(dir / "rec.partial.bdf") >= 2))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int status = rec.stop(killed ? SIGKILL : c.end == End::CtrlC ? SIGINT : SIGTERM);
    ASSERT_EQ(sim.stop(), 0);
    std::string said;
    for (std::string l; !(l = rec.line()).empty();) said += l + "\n";
    ASSERT_EQ(status, killed ? -SIGKILL : c.end == End::CtrlC ? 6 : 0) << said;
    EXPECT_NE(fs::exists(bdfPath), killed) << "only a finished recording takes the target's name";

    const auto truth = sim::readTruthFile(truthPath.string());
    ASSERT_EQ(static_cast<int>(truth.size()), N);
    const nlohmann::json side = killed ? nlohmann::json() : nlohmann::json::parse(slurp(dir / "rec.json"));
    acqtest::BdfReader bdf(killed ? dir / "rec.partial.bdf" : bdfPath);
    ASSERT_TRUE(bdf.ok) << bdf.hdr.filetype;
    // A stopped recording pads its last record.
    const std::int64_t S = killed ? bdf.hdr.signalparam[0].smp_in_file : side["samples"].get<std::int64_t>();
    ASSERT_TRUE(c.end == End::Seconds ? S == kSeconds * kRate : S >= 2 * kRate && S < 60 * kRate)
        << S << " rows: only what was acquired is kept";

    // A killed recording has no sidecar: the boards' EEG pins come first.
    std::vector<std::vector<Counts>> rows(N, std::vector<Counts>(S));
    std::vector<std::string> labels;
    int eeg = 0;
    for (int s = 0; s < bdf.hdr.edfsignals; ++s) {
        const edf_param_struct& p = bdf.hdr.signalparam[s];
        std::string label = p.label;
        labels.push_back(label.erase(label.find_last_not_of(' ') + 1));
        const nlohmann::json ch = killed ? nlohmann::json{{"kind", s < 8 * N ? "EEG" : "-"}, {"board", s / 8}, {"pin", s % 8}}
                                         : side["channels"][s];
        if (ch["kind"] != "EEG") continue;
        const int b = ch["board"], pin = ch["pin"];
        ASSERT_TRUE(killed || label == ch["label"].get<std::string>()) << s;
        ASSERT_TRUE(b >= 0 && b < N && pin >= 0 && pin < 8) << s;
        ASSERT_TRUE(p.dig_max == 8388607 && p.dig_min == -8388607 && p.phys_max == 187500 && p.phys_min == -187500)
            << p.label;
        const std::vector<int> v = bdf.digital(s);
        ASSERT_GE(static_cast<std::int64_t>(v.size()), S);
        for (std::int64_t r = 0; r < S; ++r) rows[b][r][pin] = v[r];
        ++eeg;
    }
    ASSERT_EQ(eeg, 8 * N);

    std::uint64_t radioLost = 0;
    for (int b = 0; b < N && killed; ++b) {
        int k = 0;
        while (k < N && !truthtest::walk(rows[b], truth[k]).error.empty()) ++k;
        EXPECT_LT(k, N) << "board " << b << ": its rows follow none of the simulator's boards";
    }
    for (int b = 0; b < N && !killed; ++b) {
        const auto& bs = side["boards"][b];
        const std::string port = bs["port"];
        int k = 0;
        while (k < N && mbeeg::serial::aliasForPath(ptys[k]) != port) ++k;
        ASSERT_LT(k, N) << "board " << b << " on port '" << port << "', not one of the simulator's";
        const truthtest::Walk w = truthtest::walk(rows[b], truth[k]);
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
        EXPECT_TRUE(c.drops || bs["rejected"].get<std::uint64_t>() == 0u) << "board " << b;
    }
    EXPECT_TRUE(!c.drops || radioLost > 0u) << "no packet lost: the held rows went untested";
    // What EDFlib reads, MNE reads.
    if (killed && testfiles::hasMne()) {
        nlohmann::json exp{{"ch_names", labels}, {"sfreq", kRate}, {"n_times", S}, {"values", nlohmann::json::array()},
                           {"annotations", nlohmann::json::array()}};
        for (const auto& [onset, text] : bdf.annotations()) exp["annotations"].push_back({onset, text});
        for (std::int64_t r : {std::int64_t{0}, S / 2, S - 1})
            for (int b = 0; b < N; ++b)
                exp["values"].push_back({{"ch", labels[8 * b]}, {"sample", r}, {"value", rows[b][r][0] * sim::uvPerCount(24) * 1e-6}, {"tol", 1e-12}});
        EXPECT_EQ(testfiles::mneDisagrees(dir / "rec.partial.bdf", exp), "");
    }
}

// Each board count and loss setting once; each meets both latency timers.
static std::vector<Case> allCases() {
    std::vector<Case> v;
    for (int i = 0; i < 4; ++i)
        for (int drops = 0; drops < 2; ++drops)
            v.push_back({1 << i, drops == 1, (i + drops) % 2 ? 16000 : 1000,
                         i == 0 && drops ? End::CtrlC : i == 1 && !drops ? End::Kill : End::Seconds});
    return v;
}

INSTANTIATE_TEST_SUITE_P(Boards, StreamPtyTruth, ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<Case>& i) {
                             return std::to_string(i.param.boards) + "boards_" + (i.param.drops ? "drops" : "clean") +
                                    "_usb" + std::to_string(i.param.usbLatencyUs / 1000) + "ms" +
                                    (i.param.end == End::CtrlC ? "_ctrlc" : i.param.end == End::Kill ? "_killed" : "");
                         });
