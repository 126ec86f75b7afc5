// The host framework the driver builds on: geometry records and their pool,
// trials built from a channel list, the driver base and the status log.
// (What a channel becomes in a file: acqhost_bdf_test.)
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "host/AcqFramework.h"
#include "tests/support/AcqhostRecording.h"

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

}  // namespace

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
        // The original is gone; the copy keeps the records.
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
    acqtest::buildChannels(info, list);
    CMeAcqDatazq data;
    EXPECT_EQ(data.checkInitTrls4Acq(0, 0, 0), nullptr);
    EXPECT_EQ(data.getTotalMEGChannel(false, false), 0);

    g_callbackRuns = 0;
    ASSERT_EQ(data.acqInitDataTrlChnlGeom4Monit(1, 250, &list, countingCallback), 1);
    EXPECT_EQ(g_callbackRuns, 1);
    EXPECT_EQ(data.getTotalMEGChannel(false, false), static_cast<int>(list.Size()));
    CMeAcqTrialzq* t = data.checkInitTrls4Acq(0, 0, 0);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->getTotalChannel(), acqtest::CHANNELS);
    EXPECT_EQ(t->getTotalSample(-1), 250);
    for (int i = 0; i < t->getTotalChannel(); ++i) EXPECT_EQ(t->getChannel(i)->m_kind, list[static_cast<std::uint32_t>(i)]->m_kind);
    EXPECT_EQ(t->getChannel(acqtest::ACC_UP)->m_unit, L"mm/s^2");  // the callback ran on it
    EXPECT_EQ(t->getChannel(acqtest::ANALOG1)->m_unit, L"counts");
    EXPECT_EQ(t->getChannel(acqtest::ACC_LFT2)->m_boardIndex, 1);  // no electrode: the geometry's board
    EXPECT_EQ(t->getChannel(acqtest::TRIGGER)->m_boardIndex, -1);

    // Recording: every trial gets the callback; switching walks them.
    g_callbackRuns = 0;
    ASSERT_EQ(data.acqInitDataTrlChnlGeom4Record(L"/tmp/x", L"rec", 3, 100, &list, countingCallback), 1);
    EXPECT_EQ(g_callbackRuns, 3);
    EXPECT_EQ(data.m_trialCount, 3);
    EXPECT_EQ(data.switchTrl4Record(2, 0), data.getTrial(2));
    EXPECT_NE(data.getTrial(2), data.getTrial(1));
    EXPECT_EQ(data.switchTrl4Record(3, 0), nullptr);
    EXPECT_EQ(data.switchTrl4Record(-1, 0), nullptr);
    EXPECT_EQ(data.checkInitTrls4Acq(1, 0, 0), data.getTrial(0));

    // Reading back, and what counts as filled.
    CMeAcgChannelzq* c = data.getTrial(1)->getChannel(acqtest::FP1);
    c->m_pData1[4] = 12.5;
    c->m_pData2[4] = 13.5;
    c->m_lastSample = 4;
    EXPECT_EQ(data.getSample(1, acqtest::FP1, 4), 12.5);
    EXPECT_EQ(data.getSample(1, acqtest::FP1, 4, 2), 13.5);
    EXPECT_TRUE(std::isnan(data.getSample(1, acqtest::FP1, 100)));
    EXPECT_TRUE(std::isnan(data.getSample(3, 0, 0)));
    EXPECT_TRUE(std::isnan(data.getSample(0, acqtest::CHANNELS, 0)));
    EXPECT_EQ(data.filledSamples(1), 5);
    EXPECT_EQ(data.filledSamples(2), 0);

    // Stimulus events are copied, not borrowed.
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
    acqtest::buildChannels(info, list);
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
    // Far beyond any memory: refused with a message, not attempted.
    EXPECT_EQ(data.acqInitDataTrlChnlGeom4Record(L"", L"r", 1000000, 1000000000, &list, nullptr), 0);
    EXPECT_NE(data.lastInitError().Find(L"too much"), -1);
    EXPECT_EQ(data.acqInitDataTrlChnlGeom4Monit(1, 50, &list, [](CMeAcqTrialzq*) { return 0; }), 0);
    EXPECT_EQ(data.getTrial(0), before);
    EXPECT_EQ(data.m_trialCount, 1);
}

// (Its configuration and host time are what discovery and the rows' time
// stamps rest on: the fault matrix.)
TEST(AcqhostDriver, StimulusTriggerThreadStartsAndStops) {
    CAcqDriverzq drv;
    ASSERT_NE(drv.m_pStimTrig, nullptr);
    double a[4], b[4];
    EXPECT_EQ(drv.setTrlDataPts4StimTrg(2, 14, b, a), 1);
    drv.threadStartMonitRecordStiTrg();
    EXPECT_TRUE(drv.isStimTrigRunning());
    drv.setSmp4StimTrg(3);
    EXPECT_EQ(drv.stimSample(), 3);
    drv.threadStopMonitRecordStiTrg();
    EXPECT_FALSE(drv.isStimTrigRunning());
}

TEST(AcqhostStatus, LinesFromManyThreadsReachSinkAndLogWhichStaysBounded) {
    acqhost::clearStatusLines();
    std::atomic<int> sunk{0};
    acqhost::setStatusSink([&](const CString&) { ++sunk; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 500; ++i) CAcqDriver02Prcs::addInfoStatus(L"line");
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(sunk.load(), 2000);
    EXPECT_EQ(acqhost::statusLines().size(), 2000u);

    // The oldest lines give way.
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
    // The newest list's records are alive and intact.
    ChnGeomList last;
    CAcqChnlGeomzq* g = info.makeChnGeom(L"Fz", GEOM_KIND_EEG, 1);
    info.addTsrx2chnGem(last);
    EXPECT_EQ(g->getGeom2ChnlName(), L"Fz");
    EXPECT_EQ(last[0]->getGeom2ChnlName(), L"Trigger");
}
