// A saved recording opens in MNE-Python (Debian's python3-mne) with the
// names, rate, length, values and annotations it was saved with.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>
#include <nlohmann/json.hpp>

#include "host/AcqFramework.h"
#include "tests/support/AcqhostRecording.h"

namespace fs = std::filesystem;
using namespace acqtest;

namespace {

// Debian installs MNE for its own interpreter; another python3 may come first on PATH.
constexpr const char* kPython = "/usr/bin/python3";

std::string run(const std::string& cmd, int& status) {
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) {
        status = -1;
        return out;
    }
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    status = ::pclose(p);
    return out;
}

}  // namespace

TEST(AcqhostMne, SavedRecordingOpensInMne) {
    int status = 0;
    run(std::string(kPython) + " -c 'import mne' 2>&1", status);
    if (status != 0) GTEST_SKIP() << kPython << " cannot import mne (install python3-mne to run this check)";

    fs::path dir = fs::temp_directory_path() / ("mbeeg-mne-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    CHardWareInfozq info;
    ChnGeomList list;
    buildChannels(info, list);
    CMeAcqDatazq data;
    data.getMEGRecordInfozq()->m_sampleRate = 250;
    data.getMEGRecordInfozq()->m_sampleRate2 = 250;
    ASSERT_EQ(data.acqInitDataTrlChnlGeom4Record(CString(dir.wstring().c_str()), L"mne", 2, 250, &list,
                                                 accDisplayCallback),
              1);
    fill(data, 1);
    // FP2 at gain 8, FP1 at the default gain of 24.
    const double uvPerCount8 = 4.5 / 8388607 / 8 * 1e6;
    for (int t = 0; t < 2; ++t) {
        CMeAcgChannelzq* ch = data.getTrial(t)->getChannel(FP2);
        ch->setValueRange(-562500, 562500);
        for (std::int64_t k = 0; k < 250; ++k) ch->m_pValues[k] = eegCount(FP2, t * 250 + k) * uvPerCount8;
    }
    data.addAnnotation(1.5, L"Blink");
    ASSERT_EQ(data.saveDataset4Record(), 1) << data.lastSaveError().GetString();

    using nlohmann::json;
    json exp;
    exp["ch_names"] = {"FP1",     "FP2",       "AccLft", "AccUp",    "AccFwd", "Analog1", "AccLft-2",
                       "Trigger", "TimeStamp", "Event",  "Response", "Marker", "Reserved"};
    exp["sfreq"] = 250.0;
    exp["n_times"] = 500;
    json values = json::array();
    for (std::int64_t g : {0, 1, 2, 3, 260, 499}) {
        // Within a millionth of a count of the count itself, in volts.
        for (auto [ch, name, uv] : {std::tuple{FP1, "FP1", kUvPerCount}, std::tuple{FP2, "FP2", uvPerCount8}})
            values.push_back({{"ch", name},
                              {"sample", g},
                              {"value", storedCount(eegCount(ch, g)) * uv * 1e-6},
                              {"tol", 1e-6 * uv * 1e-6}});
        values.push_back({{"ch", "AccUp"}, {"sample", g}, {"value", valueAt(ACC_UP, g)}, {"tol", 1e-9}});
        values.push_back({{"ch", "TimeStamp"}, {"sample", g}, {"value", 4.0 * static_cast<double>(g)}, {"tol", 1e-6}});
    }
    values.push_back({{"ch", "Trigger"}, {"sample", 50}, {"value", valueAt(TRIGGER, 50)}, {"tol", 0}});
    values.push_back({{"ch", "Analog1"}, {"sample", 321}, {"value", valueAt(ANALOG1, 321)}, {"tol", 1e-6}});
    exp["values"] = values;
    exp["annotations"] = {{0.0, "Trial 1"}, {1.0, "Trial 2"}, {1.5, "Blink"}};
    fs::path expPath = dir / "expected.json";
    std::ofstream(expPath) << exp.dump(1);

    std::string out = run(std::string(kPython) + " " MBEEG_SOURCE_DIR "/tests/python/check_bdf.py '" +
                              (dir / "mne.bdf").string() + "' '" + expPath.string() + "' 2>&1",
                          status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("check_bdf: ok"), std::string::npos) << out;

    // The header's range fields as text: whole numbers, nothing cut off.
    std::ifstream bdf(dir / "mne.bdf", std::ios::binary);
    const std::string head{std::istreambuf_iterator<char>(bdf), {}};
    ASSERT_GT(head.size(), 256u);
    const size_t ns = std::stoul(head.substr(252, 4));
    auto field = [&](size_t at, int sig) { return head.substr(256 + ns * at + static_cast<size_t>(sig) * 8, 8); };
    EXPECT_EQ(field(104, FP1), "-187500 ");
    EXPECT_EQ(field(112, FP1), "187500  ");
    EXPECT_EQ(field(104, FP2), "-562500 ");
    EXPECT_EQ(field(120, FP2), "-8388607");
    fs::remove_all(dir);
}
