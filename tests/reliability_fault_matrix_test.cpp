// Every simulator fault crossed with discovery, monitoring and recording on
// virtual time, three boards, the second (COM202) faulty: no hang, every row a
// packet its board sent, losses counted as the simulator lost them, the board
// named while gone. MATRIX_SEED=n, MATRIX_LONG=1 (40 s runs) vary it.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>

#include "sim/World.h"
#include "tests/support/DriverRig.h"

using sim::World;

namespace {

constexpr int kBoards = 3;
constexpr int kVictim = 1;  // "Board 2 (COM202)"
constexpr std::int64_t kSec = 1'000'000;
constexpr double kGain = 24;  // every board at its power-up gain

constexpr std::int64_t kConnectUs = 10 * kSec;  // discovery of boards that answer at once
constexpr std::int64_t kSearchUs = 180 * kSec;  // plus one channel search for a silent dongle
constexpr std::int64_t kStartUs = 10'000;       // AcqMonit / AcqRecord
constexpr std::int64_t kStopUs = 250'000;       // stop request until the thread has ended
constexpr std::int64_t kBackUs = 3 * kSec;      // a returned board streams again within this
constexpr int kWatchdogMs = 30'000;             // real time, safety net only

enum class Road { Discovery, Monitoring, Recording };
const char* const kRoadNames[] = {"discovery", "monitoring", "recording"};
enum class Kind { Drop1, Drop20, Garbage, Footers, PowerCycle, Unplug, Dead, SameChannel, OtherChannel, Drift };

using Cfg = sim::SimConfig;
using Act = std::function<void(World&)>;
struct Fault {
    Kind kind;
    const char* name;
    bool boardGoes, comesBack;      // the faulty board is gone for a while (or for good), and comes back
    bool silent;                    // at discovery its dongle hears no board: a channel search runs
    std::function<void(Cfg&)> found;  // the fault while the boards are found
    Act on, off;                    // 1.5 s into an acquisition, and its end at 3.5 s
};
auto& victim(World& w) { return w.board(kVictim); }
const Fault kFaults[] = {
    {Kind::Drop1, "radio drops 1%", false, false, false, [](Cfg& c) { c.perBoard[kVictim].dropRate = 0.01; },
     [](World& w) { victim(w).setDropRate(0.01); }, [](World& w) { victim(w).setDropRate(0); }},
    {Kind::Drop20, "radio drops 20%", false, false, false, [](Cfg& c) { c.perBoard[kVictim].dropRate = 0.2; },
     [](World& w) { victim(w).setDropRate(0.2); }, [](World& w) { victim(w).setDropRate(0); }},
    {Kind::Garbage, "garbage bursts", false, false, false, [](Cfg& c) { c.perDongle[kVictim].garbageRate = 0.5; },
     [](World& w) { w.dongle(kVictim).setGarbage(0.3, 12); }, [](World& w) { w.dongle(kVictim).setGarbage(0, 12); }},
    {Kind::Footers, "other footers", false, false, false, [](Cfg& c) { c.perBoard[kVictim].footers = {0xC1, 0xC7, 0xC5}; },
     [](World& w) { victim(w).setFooters({0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC0}); },
     [](World& w) { victim(w).setFooters({}); }},
    // Off while its dongle is probed, on again during the search for it.
    {Kind::PowerCycle, "power off mid-packet, on", true, true, true,
     [](Cfg& c) { c.perBoard[kVictim].powered = false, c.perBoard[kVictim].powerOnAtUs = 2 * kSec; },
     [](World& w) { victim(w).cutNextPacket(14); }, [](World& w) { victim(w).powerOn(); }},
    {Kind::Unplug, "dongle unplugged, replugged", true, true, false, nullptr, nullptr, nullptr},
    {Kind::Dead, "dongle never answers", true, false, true, [](Cfg& c) { c.perDongle[kVictim].dead = true; },
     [](World& w) { w.dongle(kVictim).setDead(true); }, nullptr},
    {Kind::SameChannel, "two boards on one channel", true, true, true, [](Cfg& c) { c.perBoard[kVictim].channel = 1; },
     [](World& w) { victim(w).setChannel(w.dongle(0).channel()); },
     [](World& w) { victim(w).setChannel(w.dongle(kVictim).channel()); }},
    {Kind::OtherChannel, "board on another channel", true, true, true, [](Cfg& c) { c.perBoard[kVictim].channel = 17; },
     [](World& w) { victim(w).setChannel(25); }, [](World& w) { victim(w).setChannel(w.dongle(kVictim).channel()); }},
    {Kind::Drift, "clock drift +-100 ppm", false, false, false,
     [](Cfg& c) { c.perBoard[0].driftPpm = 100, c.perBoard[2].driftPpm = -100; }, nullptr, nullptr},
};

int linesWith(const std::string& a, const std::string& b) {
    int n = 0;
    for (const CString& s : acqhost::statusLines())
        n += CStringA(s).str().find(a) != std::string::npos && CStringA(s).str().find(b) != std::string::npos;
    return n;
}

// fn inside the simulated world at virtual time t.
void at(sim::SimRig& rig, std::int64_t t, Act fn) {
    if (!fn) return;
    auto w = rig.world();
    std::lock_guard<std::recursive_mutex> lock(w->mutex());
    w->at(t, [wp = w.get(), fn = std::move(fn)](std::int64_t) { fn(*wp); });
}

// Which of a board's packets a row's eight counts are (-1: none).
struct Truth {
    std::vector<sim::PacketRecord> packets;
    std::map<std::array<std::int32_t, 8>, long> byCounts;
    explicit Truth(const sim::SimBoard& b) : packets(b.packets()) {
        for (size_t i = 0; i < packets.size(); ++i)
            if (!packets[i].dropped && packets[i].bytesSent == sim::kPacketBytes) byCounts[packets[i].counts] = long(i);
    }
    long find(const double* uv) const {
        std::array<std::int32_t, 8> c{};
        for (int p = 0; p < 8; ++p) c[p] = static_cast<std::int32_t>(std::llround(uv[p] / sim::uvPerCount(kGain)));
        auto it = byCounts.find(c);
        return it == byCounts.end() ? -1 : it->second;
    }
    const sim::PacketRecord& operator[](long i) const { return packets[static_cast<size_t>(i)]; }
};

class Rig : public ::testing::Test, public drivertest::SimDriver<> {
protected:
    void TearDown() override {
        if (HasFailure())
            for (const CString& l : acqhost::statusLines()) std::printf("  status: %s\n", CStringA(l).str().c_str());
    }
    static Cfg config(std::uint64_t seed) {
        Cfg c{.boards = kBoards, .seed = seed};
        c.perBoard.assign(kBoards, sim::BoardConfig{});
        c.perDongle.assign(kBoards, sim::DongleConfig{});
        return c;
    }
    std::string boardName(int b) const { return "Board " + std::to_string(b + 1) + " (" + rig->portName(b) + ")"; }
    int connect(std::int64_t limitUs) {
        const std::int64_t t0 = platform::clock().nowUs();
        const int r = SimDriver::connect();
        EXPECT_LE(platform::clock().nowUs() - t0, limitUs) << "connect took too long on the virtual clock";
        return r;
    }
    Act unplug() { return [this](World&) { rig->unplug(kVictim); }; }
    Act replug() { return [this](World&) { rig->replug(kVictim); }; }
};

class FaultMatrix : public Rig, public ::testing::WithParamInterface<std::tuple<int, Road>> {
protected:
    Cfg baseConfig() const {
        const char* seed = std::getenv("MATRIX_SEED");
        Cfg c = config((seed ? std::strtoull(seed, nullptr, 10) : 101) + static_cast<std::uint64_t>(fault.kind));
        if (fault.kind == Kind::Drift) fault.found(c);
        return c;
    }
    void runDiscovery();
    void runAcquisition(bool record);
    double row(int channel, std::int64_t g) { return value(channel, g); }
    void checkBoard(int b, const std::vector<Truth>& truth, std::int64_t tStop, std::vector<long>& idx);

    const Fault& fault = kFaults[std::get<0>(GetParam())];
    std::int64_t t0 = 0;
};

void FaultMatrix::runDiscovery() {
    Cfg c = baseConfig();
    if (fault.found) fault.found(c);
    rig = std::make_unique<sim::SimRig>(c);
    rig->plugIn();
    // Pulled while the first dongle is probed.
    if (fault.kind == Kind::Unplug) at(*rig, platform::clock().nowUs() + 1000, unplug());

    EXPECT_EQ(connect(fault.silent ? kConnectUs + kSearchUs : kConnectUs), 1);
    const std::string victimPort = rig->portName(kVictim);
    bool victimKept = false;
    for (CConfigComRadiozq* d : drv.m_dongles) {
        const std::string p = d && d->m_pSerialPort ? CStringA(d->m_pSerialPort->getPortName()).str() : "?";
        victimKept = victimKept || p == victimPort;
        for (int b = 0; b < kBoards; ++b)
            EXPECT_TRUE(p != rig->portName(b) || rig->board(b).channel() == rig->dongle(b).channel()) << p;
    }
    // A silent board is searched for and kept when found, else named as left out.
    bool expectVictim = fault.kind != Kind::Dead && fault.kind != Kind::SameChannel && fault.kind != Kind::Unplug;
    if (fault.kind == Kind::PowerCycle) expectVictim = rig->board(kVictim).powered();
    EXPECT_EQ(drv.m_busy, 0);
    EXPECT_EQ(victimKept, expectVictim);
    EXPECT_EQ(drv.m_dongles.size(), static_cast<size_t>(expectVictim ? kBoards : kBoards - 1));
    EXPECT_TRUE(boxes.texts().empty());
    EXPECT_TRUE(expectVictim || linesWith(victimPort, "left out") > 0) << "no status line names " << victimPort;

    if (fault.kind == Kind::Unplug) {
        rig->replug(kVictim);
        EXPECT_EQ(connect(kConnectUs), 1);
        EXPECT_EQ(drv.m_dongles.size(), static_cast<size_t>(kBoards));
    }
}

// From its first packet on, each row is a packet the board sent, never an
// earlier one than the row before; idx[k] is row k's packet (-1 before).
void FaultMatrix::checkBoard(int b, const std::vector<Truth>& truth, std::int64_t tStop, std::vector<long>& idx) {
    SCOPED_TRACE("board " + std::to_string(b + 1));
    const Truth& t = truth[static_cast<size_t>(b)];
    const bool twoStreams = fault.kind == Kind::SameChannel && b == 0;
    CConfigComRadiozq* d = drv.m_dongles[static_cast<size_t>(b)];
    idx.assign(static_cast<size_t>(rows()), -1);
    long first = -1, prev = -1;
    std::uint64_t skippedSent = 0, radioLost = 0, badFooter = 0;
    for (std::int64_t k = 0; k < rows(); ++k) {
        const auto v = eeg(b, k);
        const long j = t.find(v.data());
        if (twoStreams && j < 0 && truth[kVictim].find(v.data()) >= 0) {
            idx[static_cast<size_t>(k)] = prev;
            continue;
        }
        if (first < 0 && j < 0) {
            ASSERT_LT(k, 50) << "no row is a packet it sent";
            continue;
        }
        if (first < 0) first = prev = j;
        ASSERT_GE(j, prev) << "row " << k << ": no packet it sent, or one sent before the row before";
        for (long s = prev + 1; s < j; ++s) {
            skippedSent += !t[s].dropped && t[s].bytesSent == sim::kPacketBytes && t[s].footer != 0xC7;
            radioLost += t[s].dropped;
            badFooter += !t[s].dropped && t[s].footer == 0xC7;
        }
        idx[static_cast<size_t>(k)] = prev = j;
    }
    const long last = t.find(d->m_eeg);
    ASSERT_TRUE(first >= 0 && last == prev) << "first " << first << ", last " << last;

    const std::uint64_t packets = d->m_statPackets.load(), gaps = d->m_statGaps.load(),
                        dropped = d->m_statDropped.load(), driftDropped = d->m_statDriftDropped.load();
    EXPECT_EQ(d->m_statRows.load(), packets + gaps + d->m_statDriftHeld.load() - driftDropped);
    const std::uint64_t span = static_cast<std::uint64_t>(last - first + 1);
    if (fault.kind == Kind::SameChannel && b != 2) {
        // Two streams in one dongle: only the report is judged.
    } else if (b != kVictim || fault.kind == Kind::Drop1 || fault.kind == Kind::Drop20 || fault.kind == Kind::Drift ||
               fault.kind == Kind::Footers) {
        EXPECT_EQ(skippedSent, driftDropped);
        EXPECT_EQ(gaps, radioLost + badFooter);
        EXPECT_EQ(packets + gaps, span);
        EXPECT_EQ(dropped, badFooter);
        EXPECT_EQ(gaps, rig->board(b).packetsDropped() + badFooter);
    } else if (fault.kind == Kind::PowerCycle) {
        // A new stream: the time it was off is missing, to within one period.
        const double periods = double(t[last].timeUs - t[first].timeUs) / double(sim::kSamplePeriodUs);
        EXPECT_LT(std::fabs(static_cast<double>(gaps) - (periods + 1 - static_cast<double>(packets))), 1.5);
        EXPECT_EQ(dropped, 1u);
        EXPECT_EQ(radioLost, 0u);
    } else if (!fault.comesBack) {
        EXPECT_EQ(packets + radioLost, span);
        EXPECT_EQ(packets + gaps, d->m_statRows.load());
    } else {
        // The board kept streaming: each packet not delivered is a gap.
        EXPECT_EQ(packets + gaps, span);
        EXPECT_EQ(radioLost, 0u);
    }
    EXPECT_TRUE(b == kVictim || twoStreams || double(packets) >= 0.97 * double(tStop - t0) / double(sim::kSamplePeriodUs))
        << packets << " packets";
}

void FaultMatrix::runAcquisition(bool record) {
    rig = std::make_unique<sim::SimRig>(baseConfig());
    rig->plugIn();
    ASSERT_EQ(connect(kConnectUs), 1);
    ASSERT_EQ(drv.m_dongles.size(), static_cast<size_t>(kBoards));
    ASSERT_EQ(drv._03makeAcgSns(), 1);
    const bool longRun = fault.kind == Kind::Drift || std::getenv("MATRIX_LONG");  // drift needs time to show
    // A monitoring trial never wraps here.
    ASSERT_EQ(prepare(record ? 2 : 1, record ? (longRun ? 250 * 24 : 250 * 4) : longRun ? 10'500 : 2'000,
                      record ? L"matrix" : nullptr),
              1);

    t0 = platform::clock().nowUs();
    const std::int64_t tFault = t0 + 3 * kSec / 2, tClear = t0 + 7 * kSec / 2;
    const std::int64_t tStop = t0 + (longRun ? 40 * kSec : 11 * kSec / 2);
    const std::int64_t tBack = fault.comesBack ? tClear : -1;  // when the board can be reached again
    at(*rig, tFault, fault.kind == Kind::Unplug ? unplug() : fault.on);
    at(*rig, tClear, fault.kind == Kind::Unplug ? replug() : fault.off);
    const int nChan = data.getTrial(0)->getTotalChannel();
    std::vector<std::vector<double>> before(static_cast<size_t>(nChan));
    at(*rig, tFault, [&](World&) {
        const std::int64_t n = std::min<std::int64_t>(data.m_curSample.load(), data.getTrial(0)->getTotalSample(-1));
        for (int c = 0; c < nChan; ++c) {
            const double* v = data.getTrial(0)->getChannel(c)->m_pValues;
            before[static_cast<size_t>(c)].assign(v, v + n);
        }
    });
    std::int64_t stopAsked = -1;
    at(*rig, tStop, [&](World&) {
        stopAsked = platform::clock().nowUs();
        EXPECT_EQ(drv.AcqStop(), 1);
    });

    const std::int64_t s0 = platform::clock().nowUs();
    ASSERT_EQ(record ? drv.AcqRecord(&data, nullptr) : drv.AcqMonit(&data, nullptr), 1);
    EXPECT_LE(platform::clock().nowUs() - s0, kStartUs);
    ASSERT_TRUE(platform::joinAllThreads(kWatchdogMs)) << "the reading loop did not end (real-time safety net)";
    ASSERT_GE(stopAsked, 0) << "the loop ended before the stop was asked";
    EXPECT_LE(platform::clock().nowUs() - stopAsked, kStopUs);

    EXPECT_EQ(data.m_acqStatus.load(), record ? 8 : 4);
    EXPECT_EQ(drv.m_statusCode.load(), record ? 22 : 20);
    EXPECT_EQ(platform::runningThreads(), 0);
    EXPECT_EQ(drv.m_pMonitThread.load(), nullptr);
    EXPECT_EQ(drv.m_pRecordThread.load(), nullptr);
    for (int b = 0; b < kBoards; ++b)
        EXPECT_TRUE((fault.kind == Kind::Dead && b == kVictim) || !rig->board(b).streaming()) << "board " << b + 1;

    // Rows pair the packets of one sample period.
    std::vector<Truth> truth;
    for (int b = 0; b < kBoards; ++b) truth.emplace_back(rig->board(b));
    std::vector<std::vector<long>> idx(kBoards);
    for (int b = 0; b < kBoards; ++b) ASSERT_NO_FATAL_FAILURE(checkBoard(b, truth, tStop, idx[static_cast<size_t>(b)]));
    int paired = 0;
    for (size_t k = 1; k < idx[0].size() && fault.kind != Kind::SameChannel; ++k) {
        if (idx[0][k] == idx[0][k - 1] || idx[2][k] == idx[2][k - 1] || idx[0][k - 1] < 0 || idx[2][k - 1] < 0) continue;
        ++paired;
        ASSERT_LT(std::llabs(truth[0][idx[0][k]].timeUs - truth[2][idx[2][k]].timeUs), sim::kSamplePeriodUs) << "row " << k;
    }
    EXPECT_TRUE(fault.kind == Kind::SameChannel || paired > static_cast<int>(idx[0].size()) / 2) << paired;
    EXPECT_TRUE(!fault.comesBack || drv.m_dongles[kVictim]->m_statReconnects.load() == 1u);

    ASSERT_FALSE(before[0].empty());
    for (int c = 0; c < nChan; ++c)
        ASSERT_EQ(std::memcmp(before[static_cast<size_t>(c)].data(), data.getTrial(0)->getChannel(c)->m_pValues,
                              sizeof(double) * before[static_cast<size_t>(c)].size()),
                  0)
            << "a row of channel " << c << " changed after the fault";
    const int timeCh = 14 * kBoards + TRAILER_TIMESTAMP;
    if (fault.boardGoes && fault.kind != Kind::SameChannel) {
        const double goneFromMs = double((tFault + kSec / 10) / 1000);
        const double goneToMs = double((fault.comesBack ? tBack : tStop) / 1000);
        std::int64_t held = 0;
        for (std::int64_t k = 1; k < rows(); ++k) {
            if (row(timeCh, k) < goneFromMs || row(timeCh, k) >= goneToMs) continue;
            ++held;
            for (int p = 0; p < 8; ++p)
                ASSERT_EQ(row(8 * kVictim + p, k), row(8 * kVictim + p, k - 1)) << "the gone board's row " << k;
        }
        EXPECT_GT(held, 0);
    }
    if (record) {
        ASSERT_FALSE(data.savedPath().IsEmpty());
        std::ifstream in(std::filesystem::path(data.savedPath().str()).replace_extension(".json"));
        const nlohmann::json j = nlohmann::json::parse(in);
        EXPECT_EQ(j.value("samples", -1), rows());
        EXPECT_EQ(j["boards"].size(), static_cast<size_t>(kBoards));
        int notes = 0;
        for (const auto& a : j["annotations"]) notes += a.value("text", "").find(boardName(kVictim)) != std::string::npos;
        const CConfigComRadiozq* v = drv.m_dongles[kVictim];
        EXPECT_TRUE(fault.boardGoes ? notes >= 1 : notes == int(v->m_statDriftHeld.load() + v->m_statDriftDropped.load()))
            << notes << " notes";
    }

    const std::string victim = boardName(kVictim);
    for (int b = 0; b < kBoards; ++b)
        EXPECT_TRUE(b == kVictim || linesWith(boardName(b), "lost") == 0) << boardName(b) << " reported lost";
    EXPECT_TRUE(boxes.texts().empty());
    if (!fault.boardGoes) {
        EXPECT_EQ(linesWith(victim, "lost"), 0);
        return;
    }
    EXPECT_GE(linesWith(victim, " lost at "), 1) << "no status line says " << victim << " was lost";
    EXPECT_EQ(linesWith(victim, fault.comesBack ? "back at" : "not back"), 1);
    EXPECT_TRUE(fault.kind != Kind::SameChannel || linesWith(boardName(0), "two boards") >= 1)
        << "Board 1 receiving two streams is not reported";
    if (!fault.comesBack) return;
    std::int64_t backAtMs = -1;
    for (std::int64_t k = 1; k < rows() && backAtMs < 0; ++k)
        if (row(timeCh, k) * 1000 >= double(tBack) && row(8 * kVictim, k) != row(8 * kVictim, k - 1))
            backAtMs = static_cast<std::int64_t>(row(timeCh, k));
    ASSERT_GE(backAtMs, 0) << "never streaming again";
    EXPECT_LE(backAtMs * 1000 - tBack, kBackUs);
}

TEST_P(FaultMatrix, Case) {
    SCOPED_TRACE(fault.name);
    const Road r = std::get<1>(GetParam());
    r == Road::Discovery ? runDiscovery() : runAcquisition(r == Road::Recording);
}

INSTANTIATE_TEST_SUITE_P(All, FaultMatrix,
                         ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(kFaults))),
                                            ::testing::Values(Road::Discovery, Road::Monitoring, Road::Recording)),
                         [](const auto& info) {
                             return kRoadNames[static_cast<int>(std::get<1>(info.param))] +
                                    ("_" + std::to_string(std::get<0>(info.param)));
                         });

}  // namespace
