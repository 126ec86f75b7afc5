// The worker thread's reading loop: one packet per board and pass, kept in
// step across boards, one sample row per pass into the current trial,
// trials switched or rewritten, the recording saved at the end.
#include "stream/DriveOpnBciMutiBoard06Record.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/clock.h"
#include "platform/thread.h"

namespace {

// What the serial library's reads() waits for a byte when none is there:
// one sample period at 250 Hz.
constexpr int kReadWaitUs = 4000;
// A board silent this long no longer makes every pass wait for it.
constexpr std::int64_t kQuietUs = 100000;

// Where each value of a sample row goes. With N boards the trial's channels
// follow the Cyton channel list:
//   8b + p          EEG pin p of board b          <- slot 1 + p (microvolts)
//   8N + 6b + 0..2  "AccLft", "AccUp", "AccFwd"    <- slots 9..11 (g)
//   8N + 6b + 3..5  the three analog channels     <- slots 19..21 (raw 0xC1 words)
//   14N + TRAILER_TIMESTAMP  "TimeStamp"           <- the host's getTimeStampMs()
// A channel is fed only when it is there and of the expected kind, so a trial
// of another layout gets no value in a wrong place; the time channel is also
// found by its kind when it is not where the Cyton layout puts it.
struct Route {
    CMeAcgChannelzq* ch;
    const double* src;
};

struct RowMap {
    std::vector<Route> routes;
    CMeAcgChannelzq* timeCh = nullptr;
    std::int64_t samples = 0;  // writable length: the shortest channel

    void build(CMeAcqTrialzq* trial, const std::vector<CConfigComRadiozq*>& dongles, std::int64_t S) {
        routes.clear();
        timeCh = nullptr;
        samples = S;
        if (!trial) return;
        const int total = trial->getTotalChannel();
        CMeAcgChannelzq** chans = trial->getAllChannelPt();
        if (!chans) return;
        const int n = static_cast<int>(dongles.size());
        auto at = [&](int i, int kind) -> CMeAcgChannelzq* {
            if (i < 0 || i >= total || !chans[i] || chans[i]->m_kind != kind) return nullptr;
            if (!chans[i]->m_pData1 && !chans[i]->m_pData2) return nullptr;
            return chans[i];
        };
        auto add = [&](CMeAcgChannelzq* ch, const double* src) {
            if (!ch) return;
            routes.push_back({ch, src});
            samples = std::min(samples, ch->m_samples);
        };
        for (int b = 0; b < n; ++b) {
            CConfigComRadiozq* d = dongles[static_cast<size_t>(b)];
            if (!d) continue;
            for (int p = 0; p < 8; ++p) add(at(8 * b + p, GEOM_KIND_EEG), &d->m_eeg[p]);
            for (int i = 0; i < 3; ++i) add(at(8 * n + 6 * b + i, GEOM_KIND_ACCEL), &d->m_aux[i]);
            for (int i = 0; i < 3; ++i) add(at(8 * n + 6 * b + 3 + i, GEOM_KIND_ANALOG), &d->m_aux[10 + i]);
        }
        timeCh = at(14 * n + TRAILER_TIMESTAMP, GEOM_KIND_TIMESTAMP);
        for (int i = 0; i < total && !timeCh; ++i) timeCh = at(i, GEOM_KIND_TIMESTAMP);
        if (timeCh) samples = std::min(samples, timeCh->m_samples);
    }
};

inline void putSample(CMeAcgChannelzq* ch, std::int64_t idx, double v) {
    if (ch->m_pData1) ch->m_pData1[idx] = v;
    if (ch->m_pData2) ch->m_pData2[idx] = v;
}

// EEG channels of a trial get the full range of the 24-bit counts at their
// board's gain, so that a recording keeps every count.
void setEegRanges(CMeAcqTrialzq* trial, const std::vector<CConfigComRadiozq*>& dongles) {
    if (!trial || !trial->getAllChannelPt()) return;
    const int total = trial->getTotalChannel();
    CMeAcgChannelzq** chans = trial->getAllChannelPt();
    for (size_t b = 0; b < dongles.size(); ++b) {
        CConfigComRadiozq* d = dongles[b];
        for (int p = 0; p < 8; ++p) {
            const int i = static_cast<int>(8 * b) + p;
            if (i >= total || !chans[i] || !chans[i]->isEEGChannel()) continue;
            int gain = (d && d->m_pTrackGain) ? d->m_pTrackGain->get_gain_for_channel(p) : 1;
            if (gain <= 0) gain = 1;
            const double f = 4.5 / 8388607.0 / gain * 1000000.0;
            chans[i]->setValueRange(-8388608.0 * f, 8388607.0 * f);
        }
    }
}

// Hands each board's port, radio channel and counts to the data set, when
// the host's data set takes them.
template <class Data>
void handBoardInfo(Data* data, const std::vector<CConfigComRadiozq*>& dongles) {
    if constexpr (requires(Data* x, const typename Data::BoardInfo& i) { x->addBoardInfo(i); }) {
        for (size_t b = 0; b < dongles.size(); ++b) {
            CConfigComRadiozq* d = dongles[b];
            if (!d) continue;
            typename Data::BoardInfo info;
            info.board = static_cast<int>(b);
            info.port = d->m_portName;
            info.radioChannel = static_cast<int>(d->m_radioChnl);
            info.packets = d->m_statPackets.load();
            info.rejected = d->m_statDropped.load();
            info.lost = d->m_statGaps.load();
            data->addBoardInfo(info);
        }
    } else {
        (void)data;
        (void)dongles;
    }
}

// Silent boards must not make every pass wait for them, or the boards that
// do send fall behind by the wait on each pass. A board that has been quiet
// for a while is polled without waiting; the pass is then paced by the
// boards that send, or, when all are quiet, by the first port that can wait.
class Pacer {
public:
    explicit Pacer(const std::vector<CConfigComRadiozq*>& dongles) : dongles_(dongles) {
        const std::int64_t now = platform::clock().nowUs();
        last_.assign(dongles.size(), now);
        mayWait_.assign(dongles.size(), 1);
    }
    ~Pacer() {
        for (CConfigComRadiozq* d : dongles_)
            if (d && d->m_pSerialPort) d->m_pSerialPort->setStreamReadWaitUs(kReadWaitUs);
    }

    bool mayWait(size_t b) const { return mayWait_[b] != 0; }

    // After a pass; active[b] says whether board b sent (or sat out on purpose).
    void afterPass(const std::vector<char>& active) {
        const std::int64_t now = platform::clock().nowUs();
        bool anyActive = false;
        for (size_t b = 0; b < dongles_.size(); ++b) {
            if (active[b]) last_[b] = now;
            anyActive = anyActive || now - last_[b] < kQuietUs;
        }
        int waiter = -1;
        if (!anyActive) {
            for (size_t b = 0; b < dongles_.size() && waiter < 0; ++b) {
                CConfigComRadiozq* d = dongles_[b];
                // A closed port (a lost dongle between two reopen tries)
                // cannot wait either.
                if (d && d->m_pSerialPort && d->m_pSerialPort->isOpen()) waiter = static_cast<int>(b);
            }
        }
        for (size_t b = 0; b < dongles_.size(); ++b)
            mayWait_[b] = now - last_[b] < kQuietUs || static_cast<int>(b) == waiter;
        // No port can wait at all (every dongle gone): wait here instead of
        // spinning until the host stops us.
        if (!anyActive && waiter < 0) Sleep(kReadWaitUs / 1000);
    }

private:
    const std::vector<CConfigComRadiozq*>& dongles_;
    std::vector<std::int64_t> last_;
    std::vector<char> mayWait_;
};

// Keeps the boards' packets of one sample period in one row. Each board's
// sample number runs at a fixed distance (its phase) from the row count as
// long as one packet per pass comes from it. The wait for a board whose
// packet was lost on the radio can end with its next packet, which is then
// a row early; a packet that comes later than the wait is a row late. Both
// would shift that board for good. A board found ahead sits out as many
// passes as it is ahead; a board found behind is read again in the same
// pass. Steps beyond kMaxShift are taken as a new phase (a board that was
// gone for long), not corrected.
class Aligner {
public:
    // readCytonData drops one byte per call while the stream is out of
    // step; at one call per pass a board would take up to 32 passes to find
    // its next header and then stay that many rows behind. So it is called
    // again while it keeps taking bytes. The header value is left in the
    // first buffer byte as a mark: still there, nothing came (or a header
    // whose packet was then dropped); anything else, a byte was dropped.
    static int readPacket(CConfigComRadiozq* d) {
        for (int i = 0; i < kMaxStepBytes; ++i) {
            d->m_packet[0] = 0xA0;
            if (d->readCytonData()) return 1;
            if (d->m_packet[0] == 0xA0) return 0;
        }
        return 0;
    }

    explicit Aligner(size_t n)
        : phase_(n, kUnset), skip_(n, 0), skipping_(n, 0), streak_(n, 0), quick_(n, 0), unaligned_(n, 0) {}

    // Board b's packets are taken as they come, without keeping its phase.
    void setUnaligned(size_t b, bool on) {
        unaligned_[b] = on ? 1 : 0;
        if (on) {
            skip_[b] = 0;
            phase_[b] = kUnset;
        }
    }

    // One pass over the boards; got[b] is set when board b's slots hold a
    // new packet, active[b] when it sent or sits out. Returns how many
    // boards have a new packet.
    //
    // Once one board has sent in a pass, the others' packets of that period
    // are due too: they get half a period, so that the wait for a packet
    // lost on the radio ends before the board's next packet comes.
    //
    // The pass starts at another board each time. When the previous pass
    // ended on a packet that had just come (no read in it waited in vain),
    // the first board of this pass should have to wait too; if its packet is
    // there at once while a later board of the pass does wait, it holds a
    // queue the others do not have (it started first, or its stream was out
    // of step for a while), and one packet per pass would never work that
    // off. After kStaleStreak such passes it gives one extra packet and
    // takes its phase anew.
    int pass(const std::vector<CConfigComRadiozq*>& dongles, const Pacer& pacer, std::int64_t rowNo,
             std::vector<char>& got, std::vector<char>& active) {
        const size_t n = dongles.size();
        if (n == 0) return 0;
        platform::Clock& clock = platform::clock();
        const size_t start = static_cast<size_t>(passNo_++ % n);
        int sum = 0;
        bool waited = false, waitedInVain = false;
        for (size_t j = 0; j < n; ++j) {
            const size_t b = (start + j) % n;
            skipping_[b] = skip_[b] > 0;
            quick_[b] = 0;
            got[b] = 0;
            active[b] = skipping_[b];
            CConfigComRadiozq* d = dongles[b];
            if (!d || skipping_[b]) continue;
            if (d->m_pSerialPort)
                d->m_pSerialPort->setStreamReadWaitUs(!pacer.mayWait(b) ? 0 : sum > 0 ? kReadWaitUs / 2 : kReadWaitUs);
            const std::int64_t t0 = clock.nowUs();
            const std::uint64_t outOfStep = d->m_statOutOfStep.load(std::memory_order_relaxed);
            const int r = readPacket(d);
            const bool quick = clock.nowUs() - t0 < kQuickUs;
            if (!quick) {
                waited = true;
                if (!r) waitedInVain = true;
            }
            if (j == 0 && cleanPrev_) {
                if (r && quick) quick_[b] = 1;
                else streak_[b] = 0;
            }
            if (!r) continue;
            // A packet out of step with its stream says nothing of the
            // stream's phase (its sample number is not the stream's); nor
            // does a dongle that carries two streams, which is read once
            // per pass and no more: its serial line is full and each packet
            // costs the pass its time on the line.
            if (unaligned_[b] || d->m_statOutOfStep.load(std::memory_order_relaxed) > outOfStep) {
                got[b] = 1;
                active[b] = 1;
                ++sum;
                continue;
            }
            int shift = shiftOf(b, d, rowNo);
            // Behind: the packets of the rows it missed are waiting.
            while (shift < 0 && readPacket(d)) shift = shiftOf(b, d, rowNo);
            if (shift > 0) skip_[b] = shift;
            got[b] = 1;
            active[b] = 1;
            ++sum;
        }
        cleanPrev_ = !waitedInVain;
        // Only a pass in which some board had to wait tells a queue apart
        // from a loop that is behind as a whole.
        if (waited) {
            for (size_t b = 0; b < n; ++b) {
                if (!quick_[b] || unaligned_[b] || ++streak_[b] < kStaleStreak) continue;
                streak_[b] = 0;
                CConfigComRadiozq* d = dongles[b];
                if (d->m_pSerialPort) d->m_pSerialPort->setStreamReadWaitUs(0);
                if (readPacket(d)) phase_[b] = static_cast<int>((d->m_lastSampleNo - rowNo) & 0xFF);
            }
        }
        for (size_t b = 0; b < n; ++b) {
            if (!skipping_[b]) continue;
            if (sum > 0) {
                --skip_[b];
            } else {
                // Nobody else sent: there is nothing to line up with.
                skip_[b] = 0;
                phase_[b] = kUnset;
            }
        }
        return sum;
    }

private:
    static constexpr int kUnset = -1;
    static constexpr int kMaxShift = 8;
    static constexpr int kMaxStepBytes = 2 * 33 + 1;  // then the next board's turn
    static constexpr std::int64_t kQuickUs = 300;     // a read that took less did not wait
    static constexpr int kStaleStreak = 3;

    int shiftOf(size_t b, CConfigComRadiozq* d, std::int64_t rowNo) {
        const int now = static_cast<int>((d->m_lastSampleNo - rowNo) & 0xFF);
        if (phase_[b] == kUnset) phase_[b] = now;
        int shift = (now - phase_[b]) & 0xFF;
        if (shift > 127) shift -= 256;
        if (shift > kMaxShift || shift < -kMaxShift) {
            phase_[b] = now;
            shift = 0;
        }
        return shift;
    }

    std::vector<int> phase_;
    std::vector<int> skip_;
    std::vector<char> skipping_;
    std::vector<int> streak_;
    std::vector<char> quick_;
    std::vector<char> unaligned_;
    std::uint64_t passNo_ = 0;
    bool cleanPrev_ = false;
};

// Brings back a board that was lost: its dongle unplugged (the port fails) or
// the board silent for long (power, radio). The loss is reported, and then,
// at most every kRetryUs, its port is opened again by the name the port
// object keeps and the stream is started again with "b"; each try costs the
// pass at most the command's short wait, so the other boards' rows keep
// coming. While a board is gone its rows keep its last values, as for any
// board without a new packet. When it is back, the missing samples are
// counted in its gaps and the outage goes into the data set as an
// annotation.
class Keeper {
public:
    Keeper(const std::vector<CConfigComRadiozq*>& dongles, CMeAcqDatazq* data, double rate)
        : dongles_(dongles), data_(data), rate_(rate > 0 ? rate : 250.0), boards_(dongles.size()) {
        const std::int64_t now = platform::clock().nowUs();
        for (size_t b = 0; b < boards_.size(); ++b) {
            boards_[b].lastPacketUs = now;
            if (dongles_[b]) newWindow(b, now);
        }
    }

    // After each pass, also one without rows; rowNo is the row the packets
    // of this pass go into.
    void afterPass(const std::vector<char>& got, std::int64_t rowNo) {
        const std::int64_t now = platform::clock().nowUs();
        for (size_t b = 0; b < dongles_.size(); ++b) {
            CConfigComRadiozq* d = dongles_[b];
            Board& s = boards_[b];
            if (!d) continue;
            if (now - s.windowUs >= kWindowUs) checkPace(b, now, rowNo);
            if (got[b]) {
                if (s.lost) back(b, now, rowNo);
                s.lastPacketUs = now;
                s.lastRow = rowNo;
                continue;
            }
            CMegSerialPortzq* port = d->m_pSerialPort;
            if (!s.lost) {
                if (port && !port->isOpen()) {
                    CString why(port->lastError().IsEmpty() ? CStringA("port failed") : port->lastError());
                    lose(b, now, L"port failed: " + why);
                } else if (now - s.lastPacketUs >= kLostUs) {
                    CString why;
                    why.Format(L"no packets for %.1f s", static_cast<double>(now - s.lastPacketUs) / 1e6);
                    lose(b, now, why);
                }
            }
            if (s.lost && port && now >= s.nextTryUs) {
                restart(b);
                // The try took time of its own; count the next from its end.
                s.nextTryUs = platform::clock().nowUs() + kRetryUs;
            }
        }
    }

    bool twoBoards(size_t b) const { return boards_[b].twoBoards; }

    // Boards still gone when the acquisition ends are noted as such.
    void finish() {
        for (size_t b = 0; b < dongles_.size(); ++b) {
            if (!boards_[b].lost) continue;
            CString text;
            text.Format(L"%s lost at %.3f s, not back by the end", name(b).GetString(), seconds(boards_[b].lastRow));
            CAcqDriver02Prcs::addInfoStatus(text);
            if (data_) data_->addAnnotation(seconds(boards_[b].lastRow), text);
        }
    }

private:
    // Shorter than a wrap of the 8-bit sample number (256 periods), so the
    // sample numbers alone never hide a whole wrap of silence.
    static constexpr std::int64_t kLostUs = 800000;
    static constexpr std::int64_t kRetryUs = 500000;
    static constexpr double kPeriodUs = 4000.0;
    // Sample numbers that still fit the time the board was gone; beyond,
    // the board started a new stream and only the time tells.
    static constexpr double kSameStreamSlack = 8.0;
    static constexpr std::int64_t kWindowUs = 1000000;

    struct Board {
        bool lost = false;
        bool reopened = false;
        std::int64_t lastPacketUs = 0;  // when its last packet was read
        std::int64_t lastRow = 0;       // the row its last packet went into
        std::int64_t nextTryUs = 0;
        std::uint64_t gapsAtLoss = 0;
        std::uint64_t outOfStepAtLoss = 0;
        bool twoBoards = false;
        std::int64_t windowUs = 0;          // start of the window the stream is judged over
        std::uint64_t windowOutOfStep = 0;  // out-of-step packets by then
    };

    void newWindow(size_t b, std::int64_t now) {
        boards_[b].windowUs = now;
        boards_[b].windowOutOfStep = dongles_[b]->m_statOutOfStep.load();
    }

    // A false header now and then is out of step; a second board on the
    // radio channel puts every other packet out of step, for as long as it
    // is there. Two streams in one cannot be told apart, so it is reported.
    void checkPace(size_t b, std::int64_t now, std::int64_t rowNo) {
        Board& s = boards_[b];
        const double periods = static_cast<double>(now - s.windowUs) / kPeriodUs;
        const double outOfStep = static_cast<double>(dongles_[b]->m_statOutOfStep.load() - s.windowOutOfStep);
        newWindow(b, now);
        if (s.lost) return;
        const bool two = outOfStep > 0.2 * periods;
        if (two == s.twoBoards || (!two && outOfStep > 0.05 * periods)) return;
        s.twoBoards = two;
        CString text;
        if (two)
            text.Format(L"%s receives the packets of two boards from %.3f s: another board is on its radio channel %d",
                        name(b).GetString(), seconds(rowNo), static_cast<int>(dongles_[b]->m_radioChnl));
        else
            text.Format(L"%s receives one board again from %.3f s", name(b).GetString(), seconds(rowNo));
        CAcqDriver02Prcs::addInfoStatus(text);
        if (data_) data_->addAnnotation(seconds(rowNo), text);
    }

    // "Board 2 (COM202)"; a dongle found by discovery has only its port's name.
    CString name(size_t b) const {
        CConfigComRadiozq* d = dongles_[b];
        CString port = d->m_portName;
        if (port.IsEmpty() && d->m_pSerialPort) port = d->m_pSerialPort->getPortName();
        CString text;
        text.Format(L"Board %d (%s)", static_cast<int>(b) + 1, port.GetString());
        return text;
    }
    double seconds(std::int64_t row) const { return static_cast<double>(row) / rate_; }

    void lose(size_t b, std::int64_t now, const CString& why) {
        Board& s = boards_[b];
        s.lost = true;
        s.reopened = false;
        s.nextTryUs = now;
        s.gapsAtLoss = dongles_[b]->m_statGaps.load();
        s.outOfStepAtLoss = dongles_[b]->m_statOutOfStep.load();
        if (s.twoBoards) {
            s.twoBoards = false;
            CString one;
            one.Format(L"%s receives one board again from %.3f s", name(b).GetString(), seconds(s.lastRow));
            CAcqDriver02Prcs::addInfoStatus(one);
            if (data_) data_->addAnnotation(seconds(s.lastRow), one);
        }
        CString text;
        text.Format(L"%s lost at %.3f s: %s", name(b).GetString(), seconds(s.lastRow), why.GetString());
        CAcqDriver02Prcs::addInfoStatus(text);
    }

    void restart(size_t b) {
        CConfigComRadiozq* d = dongles_[b];
        CMegSerialPortzq* port = d->m_pSerialPort;
        if (!port->isOpen()) {
            port->closeCom(1);
            if (!port->openSynRW(port->getPortName(), 1)) return;  // still gone
            port->setupCom4Eeg(port->getBaudRate());
            port->setting4UsbVc(1000, 0);
            if (!boards_[b].reopened) {
                boards_[b].reopened = true;
                CString text;
                text.Format(L"%s: port open again, restarting its stream", name(b).GetString());
                CAcqDriver02Prcs::addInfoStatus(text);
            }
        }
        // A new "b" without starting the counts over: the outage is one gap.
        const std::uint64_t packets = d->m_statPackets.load(), dropped = d->m_statDropped.load(),
                            gaps = d->m_statGaps.load(), outOfStep = d->m_statOutOfStep.load();
        const int lastSampleNo = d->m_lastSampleNo;
        d->set4StreamCyton();
        d->m_statPackets = packets;
        d->m_statDropped = dropped;
        d->m_statGaps = gaps;
        d->m_statOutOfStep = outOfStep;
        d->m_lastSampleNo = lastSampleNo;
    }

    void back(size_t b, std::int64_t now, std::int64_t rowNo) {
        CConfigComRadiozq* d = dongles_[b];
        Board& s = boards_[b];
        s.lost = false;
        // The sample numbers gave the gap modulo 256; the time it lasted
        // gives the whole wraps.
        const std::uint64_t counted = d->m_statGaps.load() - s.gapsAtLoss;
        const double periods = static_cast<double>(now - s.lastPacketUs) / kPeriodUs;
        const double byTime = std::max(periods - 1.0, 0.0);
        std::int64_t wraps = std::llround((byTime - static_cast<double>(counted)) / 256.0);
        if (wraps < 0) wraps = 0;
        std::uint64_t missing = counted + static_cast<std::uint64_t>(256 * wraps);
        if (std::fabs(static_cast<double>(missing) - byTime) > kSameStreamSlack)
            missing = static_cast<std::uint64_t>(std::llround(byTime));
        d->m_statGaps.store(s.gapsAtLoss + missing);
        d->m_statReconnects.fetch_add(1);
        // What came back is the board's own stream, also when it is a new
        // one whose numbers did not follow the old: it goes on from here.
        d->m_statOutOfStep.store(s.outOfStepAtLoss);
        d->m_lastSampleNo = static_cast<int>(d->m_sampleNumber);
        d->m_lastSampleUs = now;
        d->m_outOfStepRun = 0;
        newWindow(b, now);

        CString text;
        text.Format(L"%s lost at %.3f s, back at %.3f s", name(b).GetString(), seconds(s.lastRow), seconds(rowNo));
        if (data_) data_->addAnnotation(seconds(s.lastRow), text);
        CString status;
        status.Format(L"%s: %llu samples missing", text.GetString(), static_cast<unsigned long long>(missing));
        CAcqDriver02Prcs::addInfoStatus(status);
    }

    const std::vector<CConfigComRadiozq*>& dongles_;
    CMeAcqDatazq* data_;
    double rate_;
    std::vector<Board> boards_;
};

}  // namespace

CDriveOpnBciMutiBoard06Record::~CDriveOpnBciMutiBoard06Record() = default;

int CDriveOpnBciMutiBoard06Record::s6ReadStream() {
    if (!m_pDevice) return 0;
    switch (m_pDevice->m_linkType) {
    case LINK_TYPE_CYTON8:
        return s6ReadStreamCyton();
    case LINK_TYPE_DAISY16:
        return 1;
    default:
        return 0;
    }
}

int CDriveOpnBciMutiBoard06Record::s6ReadStreamDaisy() { return 1; }

int CDriveOpnBciMutiBoard06Record::findSetStimTrigTrlData(int trialIndex, CMeAcqTrialzq* trial, int firstChannel) {
    if (!trial) return 0;
    const int total = trial->getTotalChannel();
    CMeAcgChannelzq** chans = trial->getAllChannelPt();
    for (int i = std::max(firstChannel, 0); chans && i < total; ++i) {
        CMeAcgChannelzq* ch = chans[i];
        if (ch && ch->isTriggerChannel()) return setTrlDataPts4StimTrg(trialIndex, i, ch->m_pData2, ch->m_pData1);
    }
    return setTrlDataPts4StimTrg(0, 0, nullptr, nullptr);
}

int CDriveOpnBciMutiBoard06Record::s6ReadStreamCyton() {
    CMeAcqDatazq* data = m_pData;
    CMeAcqTrialzq* trial = m_pTrial;
    std::int64_t S = trial ? trial->getTotalSample(-1) : 0;
    if (!data || !trial || S < 1 || !trial->getAllChannelPt()) {
        addInfoStatus(L"No trial to acquire into: prepare the data set first.");
        return 0;
    }
    const bool record = data->m_recordFlag != 0;
    const std::vector<CConfigComRadiozq*>& dongles = m_dongles;

    data->m_curSample = 0;
    data->m_roundCounter = 0;
    data->m_counter3 = 0;
    data->m_acqStatus = record ? 5 : 3;
    int trialIndex = 0;
    findSetStimTrigTrlData(0, trial, 14);

    threadStartMonitRecordStiTrg();
    // The flag was cleared by AcqMonit / AcqRecord before this thread ran;
    // clearing it here would lose an AcqStop that came in the meantime.

    for (CConfigComRadiozq* d : dongles)
        if (d) d->set4StreamCyton();
    // The boards were started one after the other; what the first ones sent
    // meanwhile would put them rows ahead of the last. Dropping everything
    // received so far lets every board's first packet fall in the same
    // sample period (a packet cut by the purge is skipped on resync).
    for (CConfigComRadiozq* d : dongles)
        if (d && d->m_pSerialPort) d->m_pSerialPort->purgeAll();

    setEegRanges(trial, dongles);
    RowMap map;
    map.build(trial, dongles, S);
    Pacer pacer(dongles);
    Aligner aligner(dongles.size());
    Keeper keeper(dongles, data, m_pDevice ? m_pDevice->m_sampleRate : 250.0);
    std::vector<char> got(dongles.size(), 0), active(dongles.size(), 0);

    std::int64_t idx = 0;
    std::int64_t rowNo = 0;  // rows of this acquisition, across trials and rounds
    while (m_stopFlag.load(std::memory_order_relaxed) == 0) {
        const int sum = aligner.pass(dongles, pacer, rowNo, got, active);
        pacer.afterPass(active);
        keeper.afterPass(got, rowNo);
        for (size_t b = 0; b < dongles.size(); ++b) aligner.setUnaligned(b, keeper.twoBoards(b));
        if (sum == 0) continue;
        ++rowNo;

        // Boards without a new packet still hold their previous values.
        if (idx < map.samples) {
            for (const Route& r : map.routes) putSample(r.ch, idx, *r.src);
            if (map.timeCh) putSample(map.timeCh, idx, static_cast<double>(getTimeStampMs()));
            for (const Route& r : map.routes) r.ch->m_lastSample.store(idx, std::memory_order_release);
            if (map.timeCh) map.timeCh->m_lastSample.store(idx, std::memory_order_release);
        }

        setSmp4StimTrg(idx);
        ++idx;
        data->m_curSample = idx;

        if (idx >= S) {
            if (record) {
                ++trialIndex;
                CMeAcqTrialzq* next = trialIndex < data->m_trialCount ? data->switchTrl4Record(trialIndex, 0) : nullptr;
                std::int64_t nextS = next ? next->getTotalSample(-1) : 0;
                if (next && nextS >= 1 && next->getAllChannelPt()) {
                    trial = next;
                    m_pTrial = next;
                    S = nextS;
                    findSetStimTrigTrlData(trialIndex, trial, 14);
                    setEegRanges(trial, dongles);
                    map.build(trial, dongles, S);
                } else {
                    data->m_acqStatus = 6;
                    m_stopFlag = 1;
                }
            }
            data->m_curSample = 0;
            data->m_roundCounter = data->m_roundCounter + 1;
            idx = 0;
        }
    }

    threadStopMonitRecordStiTrg();
    keeper.finish();
    if (record) {
        data->m_acqStatus = 6;
        handBoardInfo(data, dongles);
        data->setAcqStimTrig2Data(m_pStimTrig);
        data->saveAllTrials();
        if (!data->saveDataset4Record()) {
            CString msg;
            msg.Format(L"Saving the recording failed: %s", data->lastSaveError().GetString());
            addInfoStatus(msg);
        }
        data->m_acqStatus = 8;
    } else {
        data->m_acqStatus = 4;
    }

    for (CConfigComRadiozq* d : dongles)
        if (d) d->stopStreamCyton();
    return 1;
}

UINT CDriveOpnBciMutiBoard06Record::acqThreadProc(LPVOID param) {
    auto* drv = static_cast<CDriveOpnBciMutiBoard06Record*>(param);
    if (!drv) return 0;
    const bool record = drv->m_pData && drv->m_pData->m_recordFlag != 0;
    drv->m_statusCode = record ? 21 : 19;
    if (drv->m_pDevice && drv->m_pDevice->m_linkType == LINK_TYPE_CYTON8) drv->s6ReadStreamCyton();
    drv->m_statusCode = record ? 22 : 20;
    // The thread's handle deletes itself when the thread ends, so neither
    // pointer to it may outlive this procedure.
    drv->m_pMonitThread = nullptr;
    drv->m_pRecordThread = nullptr;
    return 0;
}
