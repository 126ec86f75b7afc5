// Recordings saved as BDF+: read back with EDFlib's reader, the sidecar, the
// record layout, and saves that fail without leaving a broken file behind.
#include <edflib.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "acqhost/BdfWriter.h"
#include "host/AcqFramework.h"
#include "tests/support/AcqhostRecording.h"

namespace fs = std::filesystem;
using namespace acqtest;

namespace {

class Recording : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("mbeeg-bdf-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        buildChannels(info, list);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, ec);
        fs::remove_all(dir, ec);
    }
    void init(int trials, std::int64_t samples, const CString& folder, const CString& name, double rate = 250) {
        data.getMEGRecordInfozq()->m_sampleRate = rate;
        data.getMEGRecordInfozq()->m_sampleRate2 = rate;
        ASSERT_EQ(data.acqInitDataTrlChnlGeom4Record(folder, name, trials, samples, &list, accDisplayCallback), 1);
    }
    CString wdir() const { return CString(dir.wstring().c_str()); }
    std::vector<std::string> leftovers() const {
        std::vector<std::string> out;
        for (auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
        return out;
    }

    fs::path dir;
    CHardWareInfozq info;
    ChnGeomList list;
    CMeAcqDatazq data;
};

struct Reader {
    edf_hdr_struct hdr{};
    bool ok = false;
    explicit Reader(const fs::path& p) { ok = edfopen_file_readonly(p.c_str(), &hdr, EDFLIB_READ_ALL_ANNOTATIONS) == 0; }
    ~Reader() {
        if (ok) edfclose_file(hdr.handle);
    }
    std::vector<double> physical(int sig) {
        std::vector<double> v(static_cast<size_t>(hdr.signalparam[sig].smp_in_file));
        edfrewind(hdr.handle, sig);
        EXPECT_EQ(edfread_physical_samples(hdr.handle, sig, static_cast<int>(v.size()), v.data()),
                  static_cast<int>(v.size()));
        return v;
    }
    std::vector<int> digital(int sig) {
        std::vector<int> v(static_cast<size_t>(hdr.signalparam[sig].smp_in_file));
        edfrewind(hdr.handle, sig);
        EXPECT_EQ(edfread_digital_samples(hdr.handle, sig, static_cast<int>(v.size()), v.data()),
                  static_cast<int>(v.size()));
        return v;
    }
    std::vector<std::pair<double, std::string>> annotations() {
        std::vector<std::pair<double, std::string>> out;
        for (long long i = 0; i < hdr.annotations_in_file; ++i) {
            edf_annotation_struct a{};
            edf_get_annotation(hdr.handle, static_cast<int>(i), &a);
            out.emplace_back(a.onset / 1e7, a.annotation);
        }
        return out;
    }
    double rate(int sig) const {
        return hdr.signalparam[sig].smp_in_datarecord / (static_cast<double>(hdr.datarecord_duration) / 1e7);
    }
};

}  // namespace

TEST_F(Recording, AllTrialsRoundTripThroughEdflibAtTheirStoredResolution) {
    init(3, 250, wdir(), L"session1");
    fill(data, 2);
    data.addAnnotation(0.5, L"Eyes closed");
    data.addBoardInfo({0, L"/dev/ttyUSB0", 7, 1000, 998, 1, 3});
    data.addBoardInfo({1, L"/dev/ttyUSB1", 9, 990, 989, 0, 0, 3, 2, 1});
    data.addBoardInfo({0, L"/dev/ttyUSB0", 7, 1200, 1198, 2, 4});  // replaces board 0
    ASSERT_EQ(data.saveDataset4Record(), 1) << data.lastSaveError().GetString();
    fs::path bdf = dir / "session1.bdf";
    EXPECT_EQ(data.savedPath(), CString(bdf.wstring().c_str()));
    auto files = leftovers();
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"session1.bdf", "session1.json"}));

    Reader r(bdf);
    ASSERT_TRUE(r.ok) << r.hdr.filetype;
    EXPECT_EQ(r.hdr.filetype, EDFLIB_FILETYPE_BDFPLUS);
    ASSERT_EQ(r.hdr.edfsignals, CHANNELS);
    const char* labels[CHANNELS] = {"FP1",     "FP2",       "AccLft", "AccUp",    "AccFwd", "Analog1", "AccLft-2",
                                    "Trigger", "TimeStamp", "Event",  "Response", "Marker", "Reserved"};
    for (int c = 0; c < CHANNELS; ++c) {
        EXPECT_EQ(std::string(r.hdr.signalparam[c].label).substr(0, strlen(labels[c])), labels[c]);
        EXPECT_DOUBLE_EQ(r.rate(c), 250.0);
        EXPECT_EQ(r.hdr.signalparam[c].smp_in_file, 750);
    }
    EXPECT_STREQ(r.hdr.signalparam[FP1].physdimension, "uV      ");
    EXPECT_STREQ(r.hdr.signalparam[ACC_UP].physdimension, "g       ");
    EXPECT_STREQ(r.hdr.signalparam[TIMESTAMP].physdimension, "ms      ");

    // EEG: the board's counts are the stored digital values, and the header
    // states a range whose step is exactly one count in uV.
    for (int c : {FP1, FP2}) {
        EXPECT_EQ(r.hdr.signalparam[c].phys_max, 187500.0);
        EXPECT_EQ(r.hdr.signalparam[c].phys_min, -187500.0);
        EXPECT_EQ(r.hdr.signalparam[c].dig_min, -8388607);
        auto dig = r.digital(c);
        auto phys = r.physical(c);
        for (std::int64_t g = 0; g < 750; ++g) {
            const std::int32_t count = storedCount(eegCount(c, g));
            ASSERT_EQ(dig[static_cast<size_t>(g)], count) << "channel " << c << " sample " << g;
            ASSERT_NEAR(phys[static_cast<size_t>(g)] / kUvPerCount, count, 1e-6) << g;
        }
    }
    EXPECT_EQ(r.digital(FP1)[0], -8388607);
    EXPECT_EQ(r.digital(FP1)[1], 8388607);
    // Accelerometer counts in g; analog, trigger codes and host time exactly.
    for (int c : {ACC_LFT, ACC_UP, ACC_FWD, ACC_LFT2}) {
        auto dig = r.digital(c);
        auto phys = r.physical(c);
        for (std::int64_t g = 0; g < 750; ++g) {
            ASSERT_EQ(dig[static_cast<size_t>(g)], accCount(c, g)) << c << " " << g;
            ASSERT_NEAR(phys[static_cast<size_t>(g)], valueAt(c, g), 1e-9);
        }
    }
    auto analog = r.physical(ANALOG1), trig = r.physical(TRIGGER), ts = r.physical(TIMESTAMP);
    for (std::int64_t g = 0; g < 750; ++g) {
        ASSERT_NEAR(analog[static_cast<size_t>(g)], valueAt(ANALOG1, g), 1e-6);
        ASSERT_NEAR(trig[static_cast<size_t>(g)], valueAt(TRIGGER, g), 1e-6);
        ASSERT_NEAR(ts[static_cast<size_t>(g)], 4.0 * static_cast<double>(g), 1e-6);
    }

    auto notes = r.annotations();
    std::vector<std::pair<double, std::string>> expected = {
        {0.0, "Trial 1"}, {0.5, "Eyes closed"}, {1.0, "Trial 2"}, {2.0, "Trial 3"}};
    EXPECT_EQ(notes, expected);

    std::ifstream js(dir / "session1.json");
    auto j = nlohmann::json::parse(js);
    EXPECT_EQ(j["file"], "session1.bdf");
    EXPECT_EQ(j["sample_rate"], 250.0);
    EXPECT_EQ(j["trials"], 3);
    EXPECT_EQ(j["samples_per_trial"], 250);
    EXPECT_EQ(j["samples"], 750);
    EXPECT_EQ(j["padded_samples"], 0);
    ASSERT_EQ(j["channels"].size(), static_cast<size_t>(CHANNELS));
    EXPECT_EQ(j["channels"][FP2]["label"], "FP2");
    EXPECT_EQ(j["channels"][FP2]["kind"], "EEG");
    EXPECT_EQ(j["channels"][FP2]["unit"], "uV");
    EXPECT_EQ(j["channels"][FP2]["pin"], 1);
    EXPECT_EQ(j["channels"][FP2]["port"], "/dev/ttyUSB0");
    EXPECT_DOUBLE_EQ(j["channels"][FP2]["electrode"]["x"].get<double>(), 0.2);
    EXPECT_EQ(j["channels"][ACC_LFT2]["label"], "AccLft-2");
    EXPECT_EQ(j["channels"][ACC_LFT2]["name"], "AccLft");
    // Channels without a port of their own get their board's.
    EXPECT_EQ(j["channels"][ACC_UP]["port"], "/dev/ttyUSB0");
    EXPECT_EQ(j["channels"][ACC_LFT2]["board"], 1);
    EXPECT_EQ(j["channels"][ACC_LFT2]["port"], "/dev/ttyUSB1");
    EXPECT_TRUE(j["channels"][TRIGGER]["port"].is_null());
    EXPECT_EQ(j["channels"][FP1]["physical_min"], -187500.0);
    EXPECT_EQ(j["channels"][FP1]["digital_min"], -8388607);
    ASSERT_EQ(j["boards"].size(), 2u);
    EXPECT_EQ(j["boards"][0]["rows"], 1200);
    EXPECT_EQ(j["boards"][0]["packets"], 1198);
    EXPECT_EQ(j["boards"][0]["lost"], 2);
    EXPECT_EQ(j["boards"][0]["rejected"], 4);
    EXPECT_EQ(j["boards"][1]["radio_channel"], 9);
    EXPECT_EQ(j["boards"][1]["drift_held"], 3);
    EXPECT_EQ(j["boards"][1]["drift_dropped"], 2);
    EXPECT_EQ(j["boards"][1]["reconnects"], 1);
    EXPECT_FALSE(j["boards"][1].contains("gaps"));
    EXPECT_EQ(j["annotations"].size(), 4u);
    EXPECT_EQ(j["annotations"][1]["text"], "Eyes closed");
}

TEST_F(Recording, StoppedEarlyKeepsEverySampleAndMarksThePadding) {
    // 300 samples per trial at 250 Hz: records of 150 samples (0.6 s). Trial
    // 2 stopped after 70 samples; trial 3 never started.
    init(3, 300, wdir(), L"short.edfx");
    fill(data, 1, 70);
    CStimTrigzq stim;
    stim.m_events.push_back({1, 10, 5});
    data.setAcqStimTrig2Data(&stim);
    ASSERT_EQ(data.saveDataset4Record(), 1) << data.lastSaveError().GetString();
    fs::path bdf = dir / "short.edfx";  // an extension of its own is kept
    Reader r(bdf);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.hdr.datarecord_duration, 6000000);
    EXPECT_DOUBLE_EQ(r.rate(FP1), 250.0);
    ASSERT_EQ(r.hdr.signalparam[FP1].smp_in_file, 450);
    auto dig = r.digital(FP1);
    for (std::int64_t g = 0; g < 370; ++g) ASSERT_EQ(dig[static_cast<size_t>(g)], storedCount(eegCount(FP1, g))) << g;
    for (std::int64_t g = 370; g < 450; ++g) ASSERT_EQ(dig[static_cast<size_t>(g)], eegCount(FP1, 369)) << g;
    auto notes = r.annotations();
    ASSERT_EQ(notes.size(), 4u);
    EXPECT_EQ(notes[0], std::make_pair(0.0, std::string("Trial 1")));
    EXPECT_EQ(notes[1], std::make_pair(1.2, std::string("Trial 2")));
    EXPECT_EQ(notes[2].second, "Trigger 5");
    EXPECT_NEAR(notes[2].first, 310 / 250.0, 1e-4);
    EXPECT_EQ(notes[3].second, "Padding: last sample repeated 80 times");
    EXPECT_NEAR(notes[3].first, 370 / 250.0, 1e-4);
    std::ifstream js(dir / "short.json");
    auto j = nlohmann::json::parse(js);
    EXPECT_EQ(j["samples"], 370);
    EXPECT_EQ(j["padded_samples"], 80);
    EXPECT_EQ(j["trials_written"], 2);
}

TEST_F(Recording, FailedSavesSayWhereAndWhyAndLeaveNoFileBehind) {
    init(2, 250, wdir(), L"rec");
    // Nothing recorded yet.
    EXPECT_EQ(data.saveDataset4Record(), 0);
    EXPECT_NE(data.lastSaveError().Find(L"nothing was recorded"), -1);
    fill(data, 1);

    // A folder that does not exist.
    CString missing = wdir() + L"/no/such/folder";
    data.m_recordFolder = missing;
    EXPECT_EQ(data.saveDataset4Record(), 0);
    EXPECT_NE(data.lastSaveError().Find(missing + L"/rec.bdf"), -1) << data.lastSaveError().GetString();
    EXPECT_NE(data.lastSaveError().Find(L"does not exist"), -1);
    EXPECT_FALSE(fs::exists(dir / "no"));

    // A "folder" that is a file.
    std::ofstream(dir / "plain").put('x');
    data.m_recordFolder = wdir() + L"/plain";
    EXPECT_EQ(data.saveDataset4Record(), 0);
    EXPECT_NE(data.lastSaveError().Find(L"not a folder"), -1);

    // An unwritable folder (root may write anywhere: nothing to check then).
    if (::geteuid() != 0) {
        fs::create_directory(dir / "ro");
        fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec);
        data.m_recordFolder = wdir() + L"/ro";
        EXPECT_EQ(data.saveDataset4Record(), 0);
        EXPECT_NE(data.lastSaveError().Find(L"/ro/rec.bdf"), -1);
        EXPECT_NE(data.lastSaveError().Find(L"not writable"), -1);
        fs::permissions(dir / "ro", fs::perms::owner_all);
        EXPECT_TRUE(fs::is_empty(dir / "ro"));
    }

    // The final name is taken (here by a folder): refused before anything
    // is written, and with overwriting asked for the finished file cannot be
    // put in place; it stays under its own name.
    fs::create_directories(dir / "busy.bdf" / "inside");
    data.m_recordFolder = wdir();
    data.m_recordName = L"busy";
    EXPECT_EQ(data.saveDataset4Record(), 0);
    EXPECT_NE(data.lastSaveError().Find(L"busy.bdf: the file exists already"), -1) << data.lastSaveError().GetString();
    EXPECT_TRUE(data.partialPath().IsEmpty());
    data.m_overwrite = true;
    EXPECT_EQ(data.saveDataset4Record(), 0);
    EXPECT_NE(data.lastSaveError().Find(L"cannot put the file in place"), -1) << data.lastSaveError().GetString();
    EXPECT_EQ(data.partialPath(), CString((dir / "busy.partial.bdf").wstring().c_str()));
    EXPECT_TRUE(Reader(dir / "busy.partial.bdf").ok);
    fs::remove(dir / "busy.partial.bdf");
    data.m_overwrite = false;
    EXPECT_TRUE(fs::is_directory(dir / "busy.bdf" / "inside"));
    EXPECT_EQ(data.savedPath(), L"");

    // An existing recording is replaced only when asked for.
    data.m_recordName = L"rec";
    ASSERT_EQ(data.saveDataset4Record(), 1);
    auto goodSize = fs::file_size(dir / "rec.bdf");
    EXPECT_EQ(data.saveDataset4Record(), 0);
    EXPECT_NE(data.lastSaveError().Find(L"rec.bdf: the file exists already"), -1);
    std::ofstream(dir / "rec.bdf", std::ios::app).put('x');  // not the same file any more
    data.m_overwrite = true;
    ASSERT_EQ(data.saveDataset4Record(), 1);
    EXPECT_EQ(fs::file_size(dir / "rec.bdf"), goodSize);

    // A write that fails half-way (file size limit, as on a full disk): the
    // earlier recording under the same name stays as it was, and the header
    // alone did not fit, so nothing is left of the attempt.
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int rc = data.saveDataset4Record();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(data.lastSaveError().Find(L"/rec.bdf: writing the file failed: File too large"), -1)
        << data.lastSaveError().GetString();
    EXPECT_TRUE(data.partialPath().IsEmpty());
    EXPECT_EQ(fs::file_size(dir / "rec.bdf"), goodSize);
    Reader r(dir / "rec.bdf");
    EXPECT_TRUE(r.ok);

    auto files = leftovers();
    std::sort(files.begin(), files.end());
    auto expectedFiles = std::vector<std::string>{"busy.bdf", "plain", "rec.bdf", "rec.json"};
    if (::geteuid() != 0) expectedFiles.insert(expectedFiles.begin() + 2, "ro");
    EXPECT_EQ(files, expectedFiles);

    // No name at all.
    data.m_recordName = L"  ";
    EXPECT_EQ(data.saveDataset4Record(), 0);
    EXPECT_NE(data.lastSaveError().Find(L"no file name"), -1);
}

TEST(BdfLayout, RecordsFitTrialsAndTheHeaderStatesTheRateExactly) {
    auto l = acqhost::chooseBdfRecordLayout(250, 250);
    EXPECT_EQ(l.samplesPerRecord, 250);
    EXPECT_EQ(l.duration10us, 100000);
    l = acqhost::chooseBdfRecordLayout(250, 100);  // 0.4 s records
    EXPECT_EQ(l.samplesPerRecord, 100);
    EXPECT_EQ(l.duration10us, 40000);
    l = acqhost::chooseBdfRecordLayout(125, 1000);
    EXPECT_EQ(l.samplesPerRecord, 125);
    EXPECT_DOUBLE_EQ(l.headerRate(), 125.0);
    l = acqhost::chooseBdfRecordLayout(250, 251);  // no useful divisor: 1 s records, padded end
    EXPECT_EQ(l.samplesPerRecord, 250);
    l = acqhost::chooseBdfRecordLayout(256, 512);  // 1 s; 1/256 s is not a whole number of 10 us
    EXPECT_EQ(l.samplesPerRecord, 256);
    l = acqhost::chooseBdfRecordLayout(256, 96);  // 96 = 3 x 32 samples: 0.375 s
    EXPECT_EQ(l.samplesPerRecord, 96);
    EXPECT_EQ(l.duration10us, 37500);
    l = acqhost::chooseBdfRecordLayout(250.5, 1000);
    EXPECT_EQ(l.samplesPerRecord, 501);
    EXPECT_EQ(l.duration10us, 200000);
    EXPECT_TRUE(l.exactRate);
    l = acqhost::chooseBdfRecordLayout(std::nan(""), 250);
    EXPECT_EQ(l.samplesPerRecord, 0);
    l = acqhost::chooseBdfRecordLayout(-250, 250);
    EXPECT_EQ(l.samplesPerRecord, 0);

    auto labels = acqhost::makeBdfLabels({"AccLft", "AccLft", "AccLft-2", "A very long channel name", "A very long channel name",
                                          "", "F\xC3\xBC\x31"});
    EXPECT_EQ(labels, (std::vector<std::string>{"AccLft", "AccLft-2", "AccLft-2-2", "A very long chan", "A very long ch-2",
                                                "Ch6", "F__1"}));
}
