// Recordings that outlive a crash: the file grows record by record, readable
// at any moment; a failed write stops the recording, keeping what was written.
#include <gtest/gtest.h>

#include <array>
#include <functional>

#include "acqhost/BdfWriter.h"
#include "driver/DriveOpnBciMutiBoardzq.h"
#include "platform/afxwin.h"
#include "sim/World.h"
#include "tests/support/AcqhostRecording.h"
#include "tests/support/DriverRig.h"

namespace fs = std::filesystem;
using acqtest::BdfReader;

namespace {

constexpr int kRate = 250;
constexpr int kChannels = 2 * 14 + 6;  // two boards and the trailer
constexpr int kTimeChannel = 14 * 2 + TRAILER_TIMESTAMP;

// The live file, read with the writer (appending under EDFlib's lock) held off.
std::string snapshot(const fs::path& p) {
    std::lock_guard<std::mutex> lock(acqhost::edflibMutex());
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}
long long headerField(const std::string& bytes, size_t at, size_t len) {
    return bytes.size() >= at + len ? std::atoll(bytes.substr(at, len).c_str()) : -2;
}
long long records(const std::string& bytes) { return headerField(bytes, 236, 8); }

template <class Pred>
bool eventually(Pred pred) { return drivertest::waitFor(pred, 30); }

// Two simulated boards recording into dir/name, a check every `sliceMs` of
// virtual time inside the simulated world: the reading loop waits for it, so
// what the file must hold then is exact.
struct Bench : drivertest::SimDriver<CDriveOpnBciMutiBoardzq> {
    Bench() : SimDriver({.boards = 2, .seed = 11}) {}
    bool record(const wchar_t* name, int trials, int seconds, int sliceMs, const std::function<void()>& check) {
        if (prepare(trials, seconds * kRate, name) != 1) return false;
        data.setStopRequest([this] { drv.AcqStop(); });
        {
            auto w = rig->world();
            std::lock_guard<std::recursive_mutex> lock(w->mutex());
            const std::int64_t t0 = platform::clock().nowUs();
            for (std::int64_t t = sliceMs; t < trials * seconds * 1000; t += sliceMs)
                w->at(t0 + t * 1000, [this, check](std::int64_t) {
                    if (data.m_acqStatus.load() != 8) check();
                });
        }
        return drv.AcqRecord(nullptr, nullptr) == 1 && platform::joinAllThreads(60000);
    }
    // The file's first n rows: each board's EEG counts the packets it sent,
    // one after another, and the time channel from the first row on.
    void expectRowsAreSent(BdfReader& r, long long n) {
        for (int b = 0; b < rig->boards(); ++b) {
            std::vector<truthtest::Counts> rows(static_cast<size_t>(n));
            for (int p = 0; p < 8; ++p) {
                const auto counts = r.digital(8 * b + p);
                ASSERT_GE(counts.size(), rows.size());
                for (size_t g = 0; g < rows.size(); ++g) rows[g][p] = counts[g];
            }
            EXPECT_EQ(truthtest::walk(rows, truthtest::truthOf(rig->board(b))).error, "") << "board " << b;
            ASSERT_EQ(rows[0], counts(b, 1)[0]) << "board " << b << ": the file starts elsewhere than the rows";
        }
        const auto ts = r.physical(kTimeChannel);
        ASSERT_EQ(ts.size(), static_cast<size_t>(n));
        for (long long g = 0; g < n; ++g) ASSERT_NEAR(ts[g], value(kTimeChannel, g) - value(kTimeChannel, 0), 1e-6) << g;
    }
};

bool statusLogHas(const std::wstring& prefix) {
    const auto lines = acqhost::statusLines();
    return std::any_of(lines.begin(), lines.end(), [&](const CString& l) { return l.str().rfind(prefix, 0) == 0; });
}

}  // namespace

TEST(ReliabilityRecording, FileGrowsRecordByRecordAndReadsBackAtAnyMoment) {
    Bench b;
    const fs::path dir = b.folder, live = dir / "grow.partial.bdf";
    // Slices of 0.3 s, records of 1 s: the file holds exactly the records
    // whose rows are all acquired; every fourth slice, a copy is read back.
    long long recordBytes = 0;
    int slices = 0, copies = 0;
    auto check = [&] {
        ++slices;
        const std::int64_t rows = b.rows();
        const long long want = rows / kRate;
        std::string bytes;
        ASSERT_TRUE(eventually([&] {
            bytes = snapshot(live);
            return want == 0 ? rows == 0 || fs::exists(live) : records(bytes) == want;
        })) << "after " << rows << " rows the file holds " << records(bytes) << " records, not " << want;
        if (want == 0) {
            EXPECT_TRUE(bytes.empty()) << "nothing before the first record is whole";
            return;
        }
        const long long header = headerField(bytes, 184, 8);
        if (recordBytes == 0) recordBytes = (static_cast<long long>(bytes.size()) - header) / want;
        ASSERT_EQ(static_cast<long long>(bytes.size()), header + want * recordBytes) << want << " records";
        if (slices % 4 != 0) return;
        ++copies;
        const fs::path copy = dir / "copy.bdf";
        std::ofstream(copy, std::ios::binary | std::ios::trunc) << bytes;
        BdfReader r(copy);
        ASSERT_TRUE(r.ok) << "copy with " << want << " records: " << r.hdr.filetype;
        ASSERT_EQ(r.hdr.edfsignals, kChannels);
        b.expectRowsAreSent(r, want * kRate);
    };
    ASSERT_TRUE(b.record(L"grow", 2, 4, 300, check));
    ASSERT_TRUE(b.data.getTrial(0)->getChannel(kTimeChannel)->isTimeStampChannel());
    ASSERT_EQ(b.data.m_acqStatus.load(), 8) << b.data.lastSaveError().GetString();
    EXPECT_TRUE(slices >= 25 && copies >= 5) << slices << " slices, " << copies << " copies";
    EXPECT_TRUE(statusLogHas(L"Recording to " + live.wstring())) << "the user is told where the file grows";

    EXPECT_EQ(b.data.savedPath(), CString((dir / "grow.bdf").wstring().c_str()));
    EXPECT_TRUE(!fs::exists(live) && fs::exists(dir / "grow.json"));
    BdfReader r(dir / "grow.bdf");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.hdr.datarecords_in_file, 8);
    const auto notes = r.annotations();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].second + "," + notes[1].second, "Trial 1,Trial 2");
    ASSERT_NO_FATAL_FAILURE(b.expectRowsAreSent(r, 8 * kRate));
}

// A file size limit, as a full disk.
TEST(ReliabilityRecording, FailedWriteStopsTheRecordingAndKeepsWhatWasWritten) {
    const rlim_t limit = 100000;  // the header and a few records of two boards
    constexpr int kSliceMs = 200;
    acqtest::FileSizeLimit cap(limit);
    Bench b;
    const fs::path dir = b.folder, live = dir / "cut.partial.bdf";
    ASSERT_TRUE(b.record(L"cut", 1, 60, kSliceMs, [&] {
        const std::int64_t want = b.rows() / kRate;
        eventually([&] { return want == 0 || b.data.recordingWriteFailed() || records(snapshot(live)) == want; });
    }));
    const std::string why = platform::narrow(b.data.lastSaveError().str());
    EXPECT_EQ(b.data.m_acqStatus.load(), 8);
    EXPECT_TRUE(b.data.recordingWriteFailed());
    EXPECT_TRUE(statusLogHas(L"Recording stopped: ")) << "the status log tells";
    EXPECT_EQ(b.data.partialPath(), CString(live.wstring().c_str()));
    EXPECT_EQ(b.data.savedPath(), L"");
    EXPECT_NE(why.find((dir / "cut.bdf").string() + ": "), std::string::npos) << why;
    EXPECT_NE(why.find("File too large"), std::string::npos) << why;
    EXPECT_NE(why.find(live.string()), std::string::npos) << why;
    EXPECT_FALSE(fs::exists(dir / "cut.bdf")) << "a failed recording never takes the target's name";
    EXPECT_FALSE(fs::exists(dir / "cut.json"));

    ASSERT_LE(fs::file_size(live), limit);
    BdfReader r(live);
    ASSERT_TRUE(r.ok) << r.hdr.filetype;
    const long long n = r.hdr.datarecords_in_file;
    EXPECT_EQ(r.hdr.edfsignals, kChannels);
    EXPECT_GE(n, 2);
    EXPECT_NE(why.find("after " + std::to_string(n) + ".0 s"), std::string::npos) << why;
    // The loop stopped within the slice that completed the failed record.
    EXPECT_LE(b.rows(), (n + 1) * kRate + kSliceMs * kRate / 1000 + 1);
    b.expectRowsAreSent(r, n * kRate);
    const auto notes = r.annotations();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].second, "Trial 1");
}

// Minutes on virtual time: rows the file has leave memory, and the file holds
// what each board sent, checked in the first and the last minute.
TEST(ReliabilityRecording, LongRecordingKeepsMemoryFlatAndEveryRowAsSent) {
    using Counts = std::array<std::int32_t, 8>;
    constexpr int kMinutes = 5;  // every row held would be 8 MB a minute: the first minute tells
    Bench b;
    b.data.m_releaseWritten = true;
    auto sent = [&](int k) {  // what board k sent since its log was last cleared
        std::vector<Counts> out;
        for (const auto& p : b.rig->board(k).packets())
            if (!p.dropped) out.push_back(p.counts);
        return out;
    };
    int minute = 0, heldAt = 0;
    std::vector<Counts> first[2];
    ASSERT_TRUE(b.record(L"long", 1, kMinutes * 60, 60000, [&] {
        // Holding every row would be 8 MB a minute; once the writer (which
        // may lag on a busy machine) has them, a few pages per channel stay.
        ++minute;
        if (!heldAt && !eventually([&] { return b.data.sampleBytesHeld() < (1u << 20); })) heldAt = minute;
        for (int k = 0; k < 2; ++k) {
            if (minute == 1) first[k] = sent(k);
            b.rig->board(k).clearLog();  // the simulator's log stays small too
        }
    }));
    ASSERT_EQ(b.data.m_acqStatus.load(), 8) << b.data.lastSaveError().GetString();
    ASSERT_EQ(minute, kMinutes - 1);
    EXPECT_EQ(heldAt, 0) << "minute " << heldAt << ": " << b.data.sampleBytesHeld() << " bytes held";

    BdfReader r(b.folder / "long.bdf");
    ASSERT_TRUE(r.ok);
    for (int k = 0; k < 2; ++k) {
        std::vector<Counts> rows(static_cast<size_t>(kMinutes) * 60 * kRate);
        for (int p = 0; p < 8; ++p) {
            const std::vector<int> v = r.digital(8 * k + p);
            ASSERT_EQ(v.size(), rows.size());
            for (size_t i = 0; i < v.size(); ++i) rows[i][static_cast<size_t>(p)] = v[i];
        }
        // Rows from `at` on are the sent packets in order, up to either end.
        auto sameFrom = [&](size_t at, const std::vector<Counts>& truth, size_t from) {
            size_t n = 0;
            for (; at + n < rows.size() && from + n < truth.size(); ++n) {
                Counts c = truth[from + n];
                for (auto& v : c) v = acqtest::storedCount(v);
                if (c != rows[at + n]) break;
            }
            return n;
        };
        // The boards were started one by one: the first row is some early packet.
        size_t from = 0;
        while (from < 50 && sameFrom(0, first[k], from) == 0) ++from;
        EXPECT_EQ(sameFrom(0, first[k], from), first[k].size() - from) << "board " << k + 1 << ", first minute";
        const std::vector<Counts> last = sent(k);
        size_t at = rows.size() - std::min(rows.size(), last.size() + 50);
        while (at < rows.size() && sameFrom(at, last, 0) == 0) ++at;
        EXPECT_GT(rows.size() - at, 10000u) << "board " << k + 1;
        EXPECT_EQ(sameFrom(at, last, 0), rows.size() - at) << "board " << k + 1 << ", last minute";
    }
}
