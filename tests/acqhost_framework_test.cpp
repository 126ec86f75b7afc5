// The host framework and its BDF+ recordings, read back with EDFlib and MNE.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <thread>
#include <tuple>

#include "acqhost/BdfWriter.h"
#include "host/AcqFramework.h"
#include "tests/support/AcqhostRecording.h"
#include "tests/support/Files.h"

namespace fs = std::filesystem;
using namespace acqtest;
using nlohmann::json;

namespace {

int g_freed = 0;
void countFree(void* p) {
    ++g_freed;
    delete static_cast<int*>(p);
}

int g_callbackRuns = 0;
int countingCallback(CMeAcqTrialzq* t) {
    ++g_callbackRuns;
    return acqtest::accDisplayCallback(t);
}

class Recording : public ::testing::Test {
protected:
    void SetUp() override { buildChannels(info, list); }
    void init(int trials, std::int64_t samples, const CString& name) {
        data.getMEGRecordInfozq()->m_sampleRate = 250;
        data.getMEGRecordInfozq()->m_sampleRate2 = 250;
        ASSERT_EQ(data.acqInitDataTrlChnlGeom4Record(wdir(), name, trials, samples, &list, accDisplayCallback), 1);
    }
    CString wdir() const { return CString(dir.wstring().c_str()); }
    std::vector<std::string> files() const {
        std::vector<std::string> out;
        for (auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    json sidecar(const char* name) const {
        std::ifstream js(dir / name);
        return json::parse(js);
    }

    testfiles::TempDir tmp{"bdf"};
    fs::path dir = tmp.path;
    CHardWareInfozq info;
    ChnGeomList list;
    CMeAcqDatazq data;
};

}  // namespace

TEST_F(Recording, AllTrialsRoundTripThroughEdflibAtTheirStoredResolution) {
    init(3, 250, L"session1");
    fill(data, 2);
    data.addAnnotation(0.5, L"Eyes closed");
    data.addBoardInfo({0, L"/dev/ttyUSB0", 7, 1000, 998, 1, 3});
    data.addBoardInfo({1, L"/dev/ttyUSB1", 9, 990, 989, 0, 0, 3, 2, 1});
    data.addBoardInfo({0, L"/dev/ttyUSB0", 7, 1200, 1198, 2, 4});  // replaces board 0
    ASSERT_EQ(data.saveDataset4Record(), 1) << data.lastSaveError().GetString();
    const fs::path bdf = dir / "session1.bdf";
    EXPECT_EQ(data.savedPath(), CString(bdf.wstring().c_str()));
    EXPECT_EQ(files(), (std::vector<std::string>{"session1.bdf", "session1.json"}));

    BdfReader r(bdf);
    ASSERT_TRUE(r.ok) << r.hdr.filetype;
    EXPECT_EQ(r.hdr.filetype, EDFLIB_FILETYPE_BDFPLUS);
    ASSERT_EQ(r.hdr.edfsignals, CHANNELS);
    // Typed for analysis tools, the electrode spelt as 10-05 lists do, a board's own channels with it.
    const char* labels[CHANNELS] = {"EEG Fp1",         "EEG Fp2",          "MISC B1-AccLft", "MISC B1-AccUp",
                                    "MISC B1-AccFwd",  "MISC B1-Analog1",  "MISC B2-AccLft", "Trigger",
                                    "MISC TimeStamp",  "MISC Event",       "MISC Response",  "MISC Marker",
                                    "MISC Reserved"};
    for (int c = 0; c < CHANNELS; ++c) {
        EXPECT_EQ(std::string(r.hdr.signalparam[c].label).substr(0, strlen(labels[c])), labels[c]);
        EXPECT_DOUBLE_EQ(r.rate(c), 250.0);
        EXPECT_EQ(r.hdr.signalparam[c].smp_in_file, 750);
    }
    EXPECT_STREQ(r.hdr.signalparam[FP1].physdimension, "uV      ");
    EXPECT_STREQ(r.hdr.signalparam[ACC_UP].physdimension, "g       ");
    EXPECT_STREQ(r.hdr.signalparam[TIMESTAMP].physdimension, "ms      ");

    // EEG digital values are the board's counts, one count per step.
    for (int c : {FP1, FP2}) {
        EXPECT_EQ(r.hdr.signalparam[c].phys_max, 187500.0);
        EXPECT_EQ(r.hdr.signalparam[c].phys_min, -187500.0);
        EXPECT_EQ(r.hdr.signalparam[c].dig_min, -8388607);
    }
    for (int c = FP1; c <= TIMESTAMP; ++c) {
        auto dig = r.digital(c);
        auto phys = r.physical(c);
        for (std::int64_t g = 0; g < 750; ++g) {
            const size_t i = static_cast<size_t>(g);
            if (c <= FP2) {
                ASSERT_EQ(dig[i], storedCount(eegCount(c, g))) << "channel " << c << " sample " << g;
                ASSERT_NEAR(phys[i] / kUvPerCount, dig[i], 1e-6) << g;
            } else if (c != ANALOG1 && c < TRIGGER) {
                ASSERT_EQ(dig[i], accCount(c, g)) << c << " " << g;
                ASSERT_NEAR(phys[i], valueAt(c, g), 1e-9);
            } else {
                ASSERT_NEAR(phys[i], c == TIMESTAMP ? 4.0 * static_cast<double>(g) : valueAt(c, g), 1e-6) << c << " " << g;
            }
        }
    }
    EXPECT_EQ(r.annotations(), (std::vector<std::pair<double, std::string>>{
                                   {0.0, "Trial 1"}, {0.5, "Eyes closed"}, {1.0, "Trial 2"}, {2.0, "Trial 3"}}));

    const json j = sidecar("session1.json");
    EXPECT_EQ(j["file"], "session1.bdf");
    EXPECT_EQ(j["trials"], 3);
    EXPECT_EQ(j["samples"], 750);
    EXPECT_EQ(j["padded_samples"], 0);
    ASSERT_EQ(j["channels"].size(), static_cast<size_t>(CHANNELS));
    auto fields = [&](const json& o, std::vector<const char*> keys) {
        std::string s;
        for (const char* k : keys) s += (s.empty() ? "" : " ") + o.value(k, json("-")).dump();
        return s;
    };
    const json& ch = j["channels"];
    EXPECT_EQ(fields(ch[FP2], {"label", "kind", "unit", "pin", "port"}), R"("EEG Fp2" "EEG" "uV" 1 "/dev/ttyUSB0")");
    EXPECT_DOUBLE_EQ(ch[FP2]["electrode"]["x"].get<double>(), 0.2);
    EXPECT_EQ(fields(ch[FP1], {"physical_min", "digital_min"}), "-187500.0 -8388607");
    // Channels without a port of their own get their board's.
    EXPECT_EQ(fields(ch[ACC_LFT2], {"label", "name", "board", "port"}), R"("MISC B2-AccLft" "AccLft" 1 "/dev/ttyUSB1")");
    EXPECT_EQ(fields(ch[ACC_UP], {"port"}) + fields(ch[TRIGGER], {"port"}), R"("/dev/ttyUSB0"null)");
    ASSERT_EQ(j["boards"].size(), 2u);
    EXPECT_EQ(fields(j["boards"][0], {"rows", "packets", "lost", "rejected"}), "1200 1198 2 4");
    EXPECT_EQ(fields(j["boards"][1], {"radio_channel", "drift_held", "drift_dropped", "reconnects", "gaps"}), "9 3 2 1 \"-\"");
    EXPECT_EQ(j["annotations"].size(), 4u);
    EXPECT_EQ(j["annotations"][1]["text"], "Eyes closed");
}

TEST_F(Recording, StoppedEarlyKeepsEverySampleAndMarksThePadding) {
    // Records of 150 samples; trial 2 stopped after 70, trial 3 never started.
    init(3, 300, L"short.edfx");
    fill(data, 1, 70);
    CStimTrigzq stim;
    stim.m_events.push_back({1, 10, 5});
    data.setAcqStimTrig2Data(&stim);
    ASSERT_EQ(data.saveDataset4Record(), 1) << data.lastSaveError().GetString();
    BdfReader r(dir / "short.edfx");  // an extension of its own is kept
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.hdr.datarecord_duration, 6000000);
    EXPECT_DOUBLE_EQ(r.rate(FP1), 250.0);
    ASSERT_EQ(r.hdr.signalparam[FP1].smp_in_file, 450);
    auto dig = r.digital(FP1);
    for (std::int64_t g = 0; g < 370; ++g) ASSERT_EQ(dig[static_cast<size_t>(g)], storedCount(eegCount(FP1, g))) << g;
    for (std::int64_t g = 370; g < 450; ++g) ASSERT_EQ(dig[static_cast<size_t>(g)], eegCount(FP1, 369)) << g;
    std::string notes;
    for (const auto& [onset, text] : r.annotations()) notes += std::to_string(std::lround(onset * 250)) + " " + text + "; ";
    EXPECT_EQ(notes, "0 Trial 1; 300 Trial 2; 310 Trigger 5; 370 Padding: last sample repeated 80 times; ");
    const json j = sidecar("short.json");
    EXPECT_EQ(j["samples"], 370);
    EXPECT_EQ(j["padded_samples"], 80);
    EXPECT_EQ(j["trials_written"], 2);
}

TEST_F(Recording, FailedSavesSayWhereAndWhyAndLeaveNoFileBehind) {
    init(2, 250, L"rec");
    auto refused = [&](const wchar_t* why, const wchar_t* alsoWhy = L"") {
        EXPECT_EQ(data.saveDataset4Record(), 0);
        EXPECT_TRUE(data.lastSaveError().Find(why) >= 0 && data.lastSaveError().Find(alsoWhy) >= 0)
            << data.lastSaveError().GetString();
    };
    refused(L"nothing was recorded");
    fill(data, 1);

    data.m_recordFolder = wdir() + L"/no/such/folder";
    refused(L"/no/such/folder/rec.bdf", L"does not exist");
    EXPECT_FALSE(fs::exists(dir / "no"));
    std::ofstream(dir / "plain").put('x');
    data.m_recordFolder = wdir() + L"/plain";
    refused(L"not a folder");

    // Root may write anywhere.
    if (::geteuid() != 0) {
        fs::create_directory(dir / "ro");
        fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec);
        data.m_recordFolder = wdir() + L"/ro";
        refused(L"/ro/rec.bdf", L"not writable");
        fs::permissions(dir / "ro", fs::perms::owner_all);
        EXPECT_TRUE(fs::is_empty(dir / "ro"));
    }

    // The name is taken by a folder: refused, and with overwriting the
    // finished file stays under its own name.
    fs::create_directories(dir / "busy.bdf" / "inside");
    data.m_recordFolder = wdir();
    data.m_recordName = L"busy";
    refused(L"busy.bdf: the file exists already");
    EXPECT_TRUE(data.partialPath().IsEmpty());
    data.m_overwrite = true;
    refused(L"cannot put the file in place");
    EXPECT_EQ(data.partialPath(), CString((dir / "busy.partial.bdf").wstring().c_str()));
    EXPECT_TRUE(BdfReader(dir / "busy.partial.bdf").ok);
    fs::remove(dir / "busy.partial.bdf");
    data.m_overwrite = false;
    EXPECT_TRUE(fs::is_directory(dir / "busy.bdf" / "inside"));
    EXPECT_EQ(data.savedPath(), L"");

    data.m_recordName = L"rec";
    ASSERT_EQ(data.saveDataset4Record(), 1);
    auto goodSize = fs::file_size(dir / "rec.bdf");
    refused(L"rec.bdf: the file exists already");
    std::ofstream(dir / "rec.bdf", std::ios::app).put('x');  // not the same file any more
    data.m_overwrite = true;
    ASSERT_EQ(data.saveDataset4Record(), 1);
    EXPECT_EQ(fs::file_size(dir / "rec.bdf"), goodSize);

    // A full disk: the earlier recording stays; nothing is left of the attempt.
    {
        FileSizeLimit cap(4096);
        refused(L"/rec.bdf: writing the file failed: File too large");
    }
    EXPECT_TRUE(data.partialPath().IsEmpty());
    EXPECT_EQ(fs::file_size(dir / "rec.bdf"), goodSize);
    EXPECT_TRUE(BdfReader(dir / "rec.bdf").ok);
    auto expectedFiles = std::vector<std::string>{"busy.bdf", "plain", "rec.bdf", "rec.json"};
    if (::geteuid() != 0) expectedFiles.insert(expectedFiles.begin() + 2, "ro");
    EXPECT_EQ(files(), expectedFiles);

    data.m_recordName = L"  ";
    refused(L"no file name");
}

TEST_F(Recording, SavedRecordingOpensInMneWithItsNamesRateValuesAndNotes) {
    if (!testfiles::hasMne()) GTEST_SKIP() << "/usr/bin/python3 cannot import mne (python3-mne)";
    init(2, 250, L"mne");
    fill(data, 1);
    const double uvPerCount8 = sim::uvPerCount(8);
    for (int t = 0; t < 2; ++t) {
        CMeAcgChannelzq* ch = data.getTrial(t)->getChannel(FP2);
        ch->setValueRange(-562500, 562500);
        for (std::int64_t k = 0; k < 250; ++k) ch->m_pValues[k] = eegCount(FP2, t * 250 + k) * uvPerCount8;
    }
    data.addAnnotation(1.5, L"Blink");
    ASSERT_EQ(data.saveDataset4Record(), 1) << data.lastSaveError().GetString();

    json exp;
    exp["ch_names"] = {"EEG Fp1",        "EEG Fp2",         "MISC B1-AccLft",   "MISC B1-AccUp", "MISC B1-AccFwd",
                       "MISC B1-Analog1", "MISC B2-AccLft", "Trigger",          "MISC TimeStamp", "MISC Event",
                       "MISC Response",  "MISC Marker",     "MISC Reserved"};
    exp["sfreq"] = 250.0;
    exp["n_times"] = 500;
    json values = json::array();
    for (std::int64_t g : {0, 1, 2, 3, 260, 499}) {
        for (auto [ch, name, uv] : {std::tuple{FP1, "EEG Fp1", kUvPerCount}, std::tuple{FP2, "EEG Fp2", uvPerCount8}})
            values.push_back({{"ch", name}, {"sample", g}, {"value", storedCount(eegCount(ch, g)) * uv * 1e-6}, {"tol", 1e-12 * uv}});
        values.push_back({{"ch", "MISC B1-AccUp"}, {"sample", g}, {"value", valueAt(ACC_UP, g)}, {"tol", 1e-9}});
        values.push_back({{"ch", "MISC TimeStamp"}, {"sample", g}, {"value", 4.0 * static_cast<double>(g)}, {"tol", 1e-6}});
    }
    values.push_back({{"ch", "Trigger"}, {"sample", 50}, {"value", valueAt(TRIGGER, 50)}, {"tol", 0}});
    values.push_back({{"ch", "MISC B1-Analog1"}, {"sample", 321}, {"value", valueAt(ANALOG1, 321)}, {"tol", 1e-6}});
    exp["values"] = values;
    exp["annotations"] = {{0.0, "Trial 1"}, {1.0, "Trial 2"}, {1.5, "Blink"}};
    EXPECT_EQ(testfiles::mneDisagrees(dir / "mne.bdf", exp), "");
}

TEST(BdfLayout, RecordsFitTrialsAndTheHeaderStatesTheRateExactly) {
    struct Case {
        double rate;
        std::int64_t trial;
        int samples, duration10us;  // 0: not a rate
    } cases[] = {
        {250, 250, 250, 100000},
        {250, 100, 100, 40000},    // 0.4 s records
        {125, 1000, 125, 100000},
        {250, 251, 250, 100000},   // no useful divisor: 1 s records, padded end
        {256, 512, 256, 100000},   // 1/256 s is not a whole number of 10 us
        {256, 96, 96, 37500},      // 96 = 3 x 32 samples: 0.375 s
        {250.5, 1000, 501, 200000},
        {std::nan(""), 250, 0, 0},
        {-250, 250, 0, 0},
    };
    for (const Case& c : cases) {
        const auto l = acqhost::chooseBdfRecordLayout(c.rate, c.trial);
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.trial));
        EXPECT_EQ(l.samplesPerRecord, c.samples);
        if (c.samples == 0) continue;
        EXPECT_EQ(l.duration10us, c.duration10us);
        EXPECT_TRUE(l.exactRate);
        EXPECT_DOUBLE_EQ(l.headerRate(), c.rate);
    }
    auto labels = acqhost::makeBdfLabels({"AccLft", "AccLft", "AccLft-2", "A very long channel name", "A very long channel name",
                                          "", "F\xC3\xBC\x31"});
    EXPECT_EQ(labels, (std::vector<std::string>{"AccLft", "AccLft-2", "AccLft-2-2", "A very long chan", "A very long ch-2",
                                                "Ch6", "F__1"}));
}

TEST(AcqhostGeometry, TrailerChannelsAndRecordsLiveAsLongAsAnyCopy) {
    g_freed = 0;
    ChnGeomList list;
    {
        CHardWareInfozq outer;
        {
            CHardWareInfozq info;
            CAcqChnlGeomzq* eeg = info.makeChnGeom(L"FP1", GEOM_KIND_EEG, 1);
            ASSERT_NE(eeg->getElectrode(), nullptr);
            EXPECT_EQ(eeg->getElectrode()->m_name, L"FP1");
            eeg->setHdwrParam(new int(7), 2, sizeof(int), countFree);
            eeg->setHdwrParam(new int(8), 2, sizeof(int), countFree);  // replacing frees the old block
            EXPECT_EQ(g_freed, 1);
            CAcqChnlGeomzq* acc = info.makeChnGeom(L"AccLft", GEOM_KIND_ACCEL, 1);
            EXPECT_EQ(acc->getElectrode(), nullptr);
            list.Add(eeg);
            list.Add(acc);
            info.addTsrx2chnGem(list);
            outer = info;
        }
        EXPECT_EQ(g_freed, 1);
        ASSERT_EQ(list.Size(), 2u + TRAILER_CHANNELS);
        EXPECT_EQ(list[2 + TRAILER_TRIGGER]->m_kind, GEOM_KIND_TRIGGER);
        EXPECT_EQ(list[2 + TRAILER_TIMESTAMP]->m_kind, GEOM_KIND_TIMESTAMP);
        EXPECT_EQ(outer.setup(nullptr, nullptr), 1);
    }
    EXPECT_EQ(g_freed, 2);
}

TEST(AcqhostData, TrialsFollowTheChannelListOneToOne) {
    CHardWareInfozq info;
    ChnGeomList list;
    buildChannels(info, list);
    CMeAcqDatazq data;
    EXPECT_EQ(data.checkInitTrls4Acq(0, 0, 0), nullptr);
    g_callbackRuns = 0;
    ASSERT_EQ(data.acqInitDataTrlChnlGeom4Monit(1, 250, &list, countingCallback), 1);
    EXPECT_EQ(g_callbackRuns, 1);
    EXPECT_EQ(data.getTotalMEGChannel(false, false), static_cast<int>(list.Size()));
    CMeAcqTrialzq* t = data.checkInitTrls4Acq(0, 0, 0);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->getTotalChannel(), CHANNELS);
    EXPECT_EQ(t->getTotalSample(-1), 250);
    for (int i = 0; i < t->getTotalChannel(); ++i) EXPECT_EQ(t->getChannel(i)->m_kind, list[static_cast<std::uint32_t>(i)]->m_kind);
    EXPECT_EQ(t->getChannel(ACC_UP)->m_unit, L"mm/s^2");  // the callback ran on it
    EXPECT_EQ(t->getChannel(ANALOG1)->m_unit, L"counts");
    EXPECT_EQ(t->getChannel(ACC_LFT2)->m_boardIndex, 1);  // no electrode: the geometry's board
    EXPECT_EQ(t->getChannel(TRIGGER)->m_boardIndex, -1);

    g_callbackRuns = 0;
    ASSERT_EQ(data.acqInitDataTrlChnlGeom4Record(L"/tmp/x", L"rec", 3, 100, &list, countingCallback), 1);
    EXPECT_EQ(g_callbackRuns, 1);  // the others are made when reached
    EXPECT_EQ(data.m_trialCount, 3);
    EXPECT_EQ(data.switchTrl4Record(2, 0), data.getTrial(2));
    EXPECT_NE(data.getTrial(2), data.getTrial(1));
    EXPECT_EQ(g_callbackRuns, 3);
    EXPECT_EQ(data.switchTrl4Record(3, 0), nullptr);
    EXPECT_EQ(data.switchTrl4Record(-1, 0), nullptr);
    EXPECT_EQ(data.checkInitTrls4Acq(1, 0, 0), data.getTrial(0));

    CMeAcgChannelzq* c = data.getTrial(1)->getChannel(FP1);
    c->m_pValues[4] = 12.5;
    c->m_pValuesMirror[4] = 13.5;
    c->m_lastSample = 4;
    EXPECT_EQ(data.getSample(1, FP1, 4), 12.5);
    EXPECT_EQ(data.getSample(1, FP1, 4, 2), 13.5);
    EXPECT_TRUE(std::isnan(data.getSample(1, FP1, 100)));
    EXPECT_TRUE(std::isnan(data.getSample(3, 0, 0)));
    EXPECT_TRUE(std::isnan(data.getSample(0, CHANNELS, 0)));
    EXPECT_EQ(data.filledSamples(1), 5);
    EXPECT_EQ(data.filledSamples(2), 0);

    CStimTrigzq stim;
    stim.m_events.push_back({1, 10, 3});
    data.setAcqStimTrig2Data(&stim);
    stim.m_events.clear();
    ASSERT_EQ(data.stimEvents().m_events.size(), 1u);
    EXPECT_EQ(data.stimEvents().m_events[0].code, 3);
    EXPECT_EQ(data.saveAllTrials(), 1);
}

TEST(AcqhostData, BadInitialisationIsRefusedAndKeepsTheTrialsThere) {
    CHardWareInfozq info;
    ChnGeomList list, empty, withHole;
    buildChannels(info, list);
    withHole.Add(list[0]);
    withHole.Add(nullptr);
    CMeAcqDatazq data;
    ASSERT_EQ(data.acqInitDataTrlChnlGeom4Monit(1, 50, &list, nullptr), 1);
    CMeAcqTrialzq* before = data.getTrial(0);

    EXPECT_EQ(data.acqInitDataTrlChnlGeom4Monit(1, 50, nullptr, nullptr), 0);
    EXPECT_EQ(data.acqInitDataTrlChnlGeom4Monit(1, 50, &empty, nullptr), 0);
    EXPECT_EQ(data.acqInitDataTrlChnlGeom4Monit(1, 50, &withHole, nullptr), 0);
    EXPECT_NE(data.lastInitError().Find(L"missing"), -1);
    EXPECT_EQ(data.acqInitDataTrlChnlGeom4Record(L"", L"r", 0, 50, &list, nullptr), 0);
    EXPECT_EQ(data.acqInitDataTrlChnlGeom4Monit(1, 0, &list, nullptr), 0);
    EXPECT_EQ(data.acqInitDataTrlChnlGeom4Record(L"", L"r", 1000000, 1000000000, &list, nullptr), 0);
    EXPECT_NE(data.lastInitError().Find(L"too much"), -1);
    EXPECT_EQ(data.acqInitDataTrlChnlGeom4Monit(1, 50, &list, [](CMeAcqTrialzq*) { return 0; }), 0);
    EXPECT_EQ(data.getTrial(0), before);
    EXPECT_EQ(data.m_trialCount, 1);
}

TEST(AcqhostStatus, LinesFromManyThreadsReachSinkAndLogWhichStaysBounded) {
    acqhost::clearStatusLines();
    std::atomic<int> sunk{0};
    acqhost::setStatusSink([&](const CString&) { ++sunk; });
    std::vector<std::thread> threads(4);
    for (auto& th : threads) th = std::thread([] { for (int i = 0; i < 500; ++i) CAcqDriver02Prcs::addInfoStatus(L"line"); });
    for (auto& th : threads) th.join();
    EXPECT_EQ(sunk.load(), 2000);
    EXPECT_EQ(acqhost::statusLines().size(), 2000u);

    acqhost::setStatusSink(nullptr);
    acqhost::clearStatusLines();
    for (int i = 0; i < 10050; ++i) CAcqDriver02Prcs::addInfoStatus(CString(std::to_wstring(i).c_str()));
    auto lines = acqhost::statusLines();
    ASSERT_EQ(lines.size(), 10000u);
    EXPECT_EQ(lines.front(), L"50");
    EXPECT_EQ(lines.back(), L"10049");
    acqhost::clearStatusLines();
}

TEST(RecordPool, RebuildingListsAgainAndAgainKeepsMemoryBounded) {
    CHardWareInfo02Process info;
    for (int round = 0; round < 500; ++round) {
        ChnGeomList list;
        for (int i = 0; i < 28; ++i) ASSERT_NE(info.makeChnGeom(L"EEG", GEOM_KIND_EEG, 1), nullptr);
        info.addTsrx2chnGem(list);
        ASSERT_EQ(list.Size(), static_cast<std::uint32_t>(TRAILER_CHANNELS));
    }
    EXPECT_LE(info.liveRecords(), static_cast<std::size_t>(CHardWareInfo::kKeptLists) * 34);
    ChnGeomList last;
    CAcqChnlGeomzq* g = info.makeChnGeom(L"Fz", GEOM_KIND_EEG, 1);
    info.addTsrx2chnGem(last);
    EXPECT_EQ(g->getGeom2ChnlName(), L"Fz");
    EXPECT_EQ(last[0]->getGeom2ChnlName(), L"Trigger");
}
