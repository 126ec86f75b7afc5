// A saved recording opens in MNE-Python (Debian's python3-mne) with the
// names, rate, length, values and annotations it was saved with.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
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
        values.push_back({{"ch", "FP1"}, {"sample", g}, {"value", valueAt(FP1, g) * 1e-6}, {"tol", 1.001 * kUvPerCount * 1e-6}});
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
    fs::remove_all(dir);
}
