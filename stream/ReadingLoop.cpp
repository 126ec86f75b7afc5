#include "stream/ReadingLoop.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/clock.h"
#include "platform/thread.h"

namespace stream {

namespace {

// The loop looks at least this often when nothing comes, for the stop flag
// and for boards that went silent.
constexpr std::int64_t kMaxWaitUs = 10000;
// ...and at most this often when bytes keep coming: a row cannot be given
// out before the last board's packet anyway, and waking for every board's
// packet would cost a wake-up per board and period.
constexpr std::int64_t kMinWakeUs = 1000;
// Reads come in USB frames of a millisecond: a packet can be read up to a
// frame earlier than a period after the one before it.
constexpr std::int64_t kUsbFrameUs = 1000;

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

    void build(CMeAcqTrialzq* trial, const std::vector<LoopBoard*>& dongles, std::int64_t S) {
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
            if (!chans[i]->m_pValues && !chans[i]->m_pValuesMirror) return nullptr;
            return chans[i];
        };
        auto add = [&](CMeAcgChannelzq* ch, const double* src) {
            if (!ch) return;
            routes.push_back({ch, src});
            samples = std::min(samples, ch->m_samples);
        };
        for (int b = 0; b < n; ++b) {
            LoopBoard* d = dongles[static_cast<size_t>(b)];
            if (!d) continue;
            for (int p = 0; p < 8; ++p) add(at(8 * b + p, GEOM_KIND_EEG), &d->eegSlots()[p]);
            for (int i = 0; i < 3; ++i) add(at(8 * n + 6 * b + i, GEOM_KIND_ACCEL), &d->auxSlots()[i]);
            for (int i = 0; i < 3; ++i) add(at(8 * n + 6 * b + 3 + i, GEOM_KIND_ANALOG), &d->auxSlots()[10 + i]);
        }
        timeCh = at(14 * n + TRAILER_TIMESTAMP, GEOM_KIND_TIMESTAMP);
        for (int i = 0; i < total && !timeCh; ++i) timeCh = at(i, GEOM_KIND_TIMESTAMP);
        if (timeCh) samples = std::min(samples, timeCh->m_samples);
    }
};

// A live view reads a monitored trial while it is written round and round;
// relaxed atomic stores (plain moves on common CPUs) keep that read defined.
inline void putSample(CMeAcgChannelzq* ch, std::int64_t idx, double v) {
    if (ch->m_pValues) std::atomic_ref<double>(ch->m_pValues[idx]).store(v, std::memory_order_relaxed);
    if (ch->m_pValuesMirror) std::atomic_ref<double>(ch->m_pValuesMirror[idx]).store(v, std::memory_order_relaxed);
}

// EEG channels of a trial get the full range of the 24-bit counts at their
// board's gain, so that a recording keeps every count: ±(2^23 - 1) counts are
// ±4.5 V / gain, a whole number of microvolts at every gain the boards have,
// which a file header holds without rounding.
void setEegRanges(CMeAcqTrialzq* trial, const std::vector<LoopBoard*>& dongles) {
    if (!trial || !trial->getAllChannelPt()) return;
    const int total = trial->getTotalChannel();
    CMeAcgChannelzq** chans = trial->getAllChannelPt();
    for (size_t b = 0; b < dongles.size(); ++b) {
        LoopBoard* d = dongles[b];
        for (int p = 0; p < 8; ++p) {
            const int i = static_cast<int>(8 * b) + p;
            if (i >= total || !chans[i] || !chans[i]->isEEGChannel()) continue;
            int gain = d ? d->gain(p) : 1;
            if (gain <= 0) gain = 1;
            const double full = 4.5e6 / gain;
            chans[i]->setValueRange(-full, full);
        }
    }
}

// "Board 2 (COM202)"
CString boardName(const std::vector<LoopBoard*>& dongles, size_t b) {
    CString text;
    text.Format(L"Board %d (%s)", static_cast<int>(b) + 1, dongles[b]->portName().GetString());
    return text;
}

// The counts of the row aligner, where other threads (a monitor, the
// program's summary) read them.
void publishCounts(const RowAligner& aligner, const std::vector<LoopBoard*>& dongles) {
    for (size_t b = 0; b < dongles.size(); ++b)
        if (dongles[b]) dongles[b]->publish(aligner.counts(b));
}

// Hands each board's port, radio channel and counts to the data set, when
// the host's data set takes them.
template <class Data>
void handBoardInfo(Data* data, const std::vector<LoopBoard*>& dongles, const RowAligner& aligner) {
    if constexpr (requires(Data* x, typename Data::BoardInfo i) { x->addBoardInfo(i); }) {
        for (size_t b = 0; b < dongles.size(); ++b) {
            LoopBoard* d = dongles[b];
            if (!d) continue;
            const BoardCounts& c = aligner.counts(b);
            typename Data::BoardInfo info;
            info.board = static_cast<int>(b);
            info.port = d->portName();
            info.radioChannel = d->radioChannel();
            info.rows = c.rows;
            info.packets = c.packets;
            info.lost = c.lost;
            info.rejected = c.badFooters + c.outOfSequence + c.late;
            info.driftHeld = c.driftHeld;
            info.driftDropped = c.driftDropped;
            info.reconnects = d->reconnects();
            data->addBoardInfo(info);
        }
    } else {
        (void)data;
        (void)dongles;
        (void)aligner;
    }
}

// Brings back a board that was lost: its dongle unplugged (the port fails) or
// the board silent for long (power, radio). The loss is reported, and then,
// at most every kRetryUs, its port is opened again by the name the port
// object keeps and the stream is started again with "b"; each try costs the
// loop at most the command's short wait, so the other boards' rows keep
// coming. Meanwhile the row aligner holds the board's rows and counts them;
// the outage goes into the data set as an annotation.
class BoardRecovery {
public:
    BoardRecovery(const std::vector<LoopBoard*>& dongles, CMeAcqDatazq* data, double rate,
                  RowAligner& aligner)
        : dongles_(dongles), data_(data), rate_(rate > 0 ? rate : 250.0), aligner_(aligner), boards_(dongles.size()) {
        const std::int64_t now = platform::clock().nowUs();
        for (size_t b = 0; b < boards_.size(); ++b) {
            boards_[b].lastPacketUs = now;
            if (dongles_[b]) newWindow(b, now);
        }
    }

    // After each look at the ports; rowNo is the next row to be given out.
    void afterStep(std::int64_t now, std::int64_t rowNo) {
        for (size_t b = 0; b < dongles_.size(); ++b) {
            LoopBoard* d = dongles_[b];
            Board& s = boards_[b];
            if (!d) continue;
            if (now - s.windowUs >= kWindowUs) checkPace(b, now, rowNo);
            const std::uint64_t accepted = aligner_.acceptedTotal(b);
            if (accepted != s.accepted) {
                s.accepted = accepted;
                if (s.lost) back(b, rowNo);
                s.lastPacketUs = now;
                s.lastRow = rowNo;
                continue;
            }
            CMegSerialPortzq* port = d->port();
            if (!s.lost) {
                if (port && !port->isOpen()) {
                    CString why(port->lastError().IsEmpty() ? CStringA("port failed") : port->lastError());
                    lose(b, L"port failed: " + why);
                } else if (now - s.lastPacketUs >= kLostUs) {
                    CString why;
                    why.Format(L"no packets for %.1f s", static_cast<double>(now - s.lastPacketUs) / 1e6);
                    lose(b, why);
                }
            }
            if (s.lost && port && now >= s.nextTryUs) {
                restart(b);
                // The try took time of its own; count the next from its end.
                s.nextTryUs = platform::clock().nowUs() + kRetryUs;
            }
        }
    }

    // Boards still gone when the acquisition ends are noted as such.
    void finish() {
        for (size_t b = 0; b < dongles_.size(); ++b) {
            if (!boards_[b].lost) continue;
            dongles_[b]->outage(true, aligner_.rowsOut() - boards_[b].lastRow);
            CString text;
            text.Format(L"%s lost at %.3f s, not back by the end", name(b).GetString(), seconds(boards_[b].lastRow));
            CAcqDriver02Prcs::addInfoStatus(text);
            if (data_) data_->addAnnotation(seconds(boards_[b].lastRow), text);
        }
    }

private:
    // Shorter than a wrap of the 8-bit sample number (256 periods), so that
    // a board brought back in time keeps its numbers.
    static constexpr std::int64_t kLostUs = 800000;
    static constexpr std::int64_t kRetryUs = 500000;
    static constexpr double kPeriodUs = 4000.0;
    static constexpr std::int64_t kWindowUs = 1000000;

    struct Board {
        bool lost = false;
        bool reopened = false;
        std::uint64_t accepted = 0;     // the aligner's count when last seen
        std::int64_t lastPacketUs = 0;  // when its last packet was put in sequence
        std::int64_t lastRow = 0;       // the row due when it was
        std::int64_t nextTryUs = 0;
        bool twoBoards = false;
        std::int64_t windowUs = 0;          // start of the window the stream is judged over
        std::uint64_t windowOutOfStep = 0;  // out-of-sequence packets by then
    };

    void newWindow(size_t b, std::int64_t now) {
        boards_[b].windowUs = now;
        boards_[b].windowOutOfStep = aligner_.counts(b).outOfSequence;
    }

    // A false header now and then is out of sequence; a second board on the
    // radio channel puts every other packet out of sequence, for as long as
    // it is there. Two streams in one cannot be told apart, so it is reported.
    void checkPace(size_t b, std::int64_t now, std::int64_t rowNo) {
        Board& s = boards_[b];
        const double periods = static_cast<double>(now - s.windowUs) / kPeriodUs;
        const double outOfStep = static_cast<double>(aligner_.counts(b).outOfSequence - s.windowOutOfStep);
        newWindow(b, now);
        if (s.lost) return;
        const bool two = outOfStep > 0.2 * periods;
        if (two == s.twoBoards || (!two && outOfStep > 0.05 * periods)) return;
        s.twoBoards = two;
        CString text;
        if (two)
            text.Format(L"%s receives the packets of two boards from %.3f s: another board is on its radio channel %d",
                        name(b).GetString(), seconds(rowNo), dongles_[b]->radioChannel());
        else
            text.Format(L"%s receives one board again from %.3f s", name(b).GetString(), seconds(rowNo));
        CAcqDriver02Prcs::addInfoStatus(text);
        if (data_) data_->addAnnotation(seconds(rowNo), text);
    }

    CString name(size_t b) const { return boardName(dongles_, b); }
    double seconds(std::int64_t row) const { return static_cast<double>(row) / rate_; }

    void lose(size_t b, const CString& why) {
        Board& s = boards_[b];
        s.lost = true;
        dongles_[b]->outage(true, 0);
        s.reopened = false;
        s.nextTryUs = platform::clock().nowUs();
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
        LoopBoard* d = dongles_[b];
        CMegSerialPortzq* port = d->port();
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
        d->restartStream();
        aligner_.restarted(b);
    }

    void back(size_t b, std::int64_t rowNo) {
        Board& s = boards_[b];
        s.lost = false;
        dongles_[b]->countReconnect();
        dongles_[b]->outage(false, rowNo - s.lastRow);
        newWindow(b, platform::clock().nowUs());
        CString text;
        text.Format(L"%s lost at %.3f s, back at %.3f s", name(b).GetString(), seconds(s.lastRow), seconds(rowNo));
        if (data_) data_->addAnnotation(seconds(s.lastRow), text);
        CAcqDriver02Prcs::addInfoStatus(text);
    }

    const std::vector<LoopBoard*>& dongles_;
    CMeAcqDatazq* data_;
    double rate_;
    RowAligner& aligner_;
    std::vector<Board> boards_;
};

}  // namespace

int attachStimTrig(CAcqDriver02Prcs& host, int trialIndex, CMeAcqTrialzq* trial, int firstChannel) {
    if (!trial) return 0;
    const int total = trial->getTotalChannel();
    CMeAcgChannelzq** chans = trial->getAllChannelPt();
    for (int i = std::max(firstChannel, 0); chans && i < total; ++i) {
        CMeAcgChannelzq* ch = chans[i];
        if (ch && ch->isTriggerChannel()) return host.setTrlDataPts4StimTrg(trialIndex, i, ch->m_pValuesMirror, ch->m_pValues);
    }
    return host.setTrlDataPts4StimTrg(0, 0, nullptr, nullptr);
}

int runReadingLoop(const LoopRun& run) {
    CMeAcqDatazq* data = run.data;
    CMeAcqTrialzq* trial = run.trial ? *run.trial : nullptr;
    CAcqDriver02Prcs& host = *run.host;
    std::atomic<int>& stopFlag = *run.stop;
    std::int64_t S = trial ? trial->getTotalSample(-1) : 0;
    if (!data || !trial || S < 1 || !trial->getAllChannelPt()) {
        CAcqDriver02Prcs::addInfoStatus(L"No trial to acquire into: prepare the data set first.");
        return 0;
    }
    const bool record = data->m_recordFlag != 0;
    const std::vector<LoopBoard*>& dongles = run.boards;

    data->m_curSample = 0;
    data->m_roundCounter = 0;
    data->m_rowsOut = 0;
    data->m_acqStatus = record ? AcqStatus::Recording : AcqStatus::Monitoring;
    int trialIndex = 0;
    attachStimTrig(host, 0, trial, 14);

    host.threadStartMonitRecordStiTrg();
    // The flag was cleared by AcqMonit / AcqRecord before this thread ran;
    // clearing it here would lose an AcqStop that came in the meantime.

    for (LoopBoard* d : dongles)
        if (d) d->startStream();
    // The boards were started one after the other; what the first ones sent
    // meanwhile has no partner in the others. Dropping everything received
    // so far lets every board's first packet fall in the same sample period
    // (a packet cut by the purge is skipped on resync).
    for (LoopBoard* d : dongles)
        if (d && d->port()) d->port()->purgeAll();

    setEegRanges(trial, dongles);
    RowMap map;
    map.build(trial, dongles, S);
    const size_t n = dongles.size();
    const double rate = run.rate;
    RowAligner aligner(n);
    BoardRecovery recovery(dongles, data, rate, aligner);
    for (LoopBoard* d : dongles)
        if (d) d->resetReconnects();
    aligner.setEventSink([&](size_t b, RowAligner::Event what, std::int64_t row) {
        CString text;
        text.Format(what == RowAligner::Event::DriftHeld ? L"%s: one sample held for clock drift"
                                                                 : L"%s: one sample dropped for clock drift",
                    boardName(dongles, b).GetString());
        data->addAnnotation(static_cast<double>(row) / (rate > 0 ? rate : 250.0), text);
    });

    platform::Clock& clock = platform::clock();
    std::vector<CMegSerialPortzq*> ports(n, nullptr);
    std::vector<char> ready;
    std::vector<RowEntry> row;
    unsigned char buf[4096];
    std::int64_t idx = 0;
    bool afterPause = false;
    while (stopFlag.load(std::memory_order_relaxed) == 0) {
        const std::int64_t wakeUs = clock.nowUs();
        bool anyOpen = false;
        for (size_t b = 0; b < n; ++b) {
            ports[b] = dongles[b] ? dongles[b]->port() : nullptr;
            anyOpen = anyOpen || (ports[b] && ports[b]->isOpen());
        }
        const std::int64_t deadline = aligner.nextDeadlineUs();
        const std::int64_t waitUs =
            deadline == INT64_MAX ? kMaxWaitUs : std::clamp<std::int64_t>(deadline - wakeUs, 0, kMaxWaitUs);
        if (anyOpen) CMegSerialPortzq::waitForInput(ports.data(), n, waitUs, ready);
        else clock.sleepUs(waitUs > 0 ? waitUs : kMinWakeUs);  // every dongle gone: no port can wait

        const std::int64_t now = clock.nowUs();
        for (size_t b = 0; b < n && anyOpen; ++b) {
            if (!ready[b] || !ports[b]) continue;
            for (;;) {
                const int got = ports[b]->readAvailable(buf, sizeof buf);
                if (got > 0) aligner.feed(b, buf, static_cast<size_t>(got), now);
                if (got < static_cast<int>(sizeof buf)) break;
            }
        }
        aligner.update(now);

        while (stopFlag.load(std::memory_order_relaxed) == 0 && aligner.nextRow(row)) {
            // Held boards keep their previous values in their slots.
            for (size_t b = 0; b < n; ++b)
                if (row[b].kind == RowEntry::Packet && dongles[b]) dongles[b]->take(row[b].packet);
            if (idx < map.samples) {
                for (const Route& r : map.routes) putSample(r.ch, idx, *r.src);
                if (map.timeCh) putSample(map.timeCh, idx, static_cast<double>(host.getTimeStampMs()));
                for (const Route& r : map.routes) r.ch->m_lastSample.store(idx, std::memory_order_release);
                if (map.timeCh) map.timeCh->m_lastSample.store(idx, std::memory_order_release);
            }

            host.setSmp4StimTrg(idx);
            ++idx;
            data->m_curSample = idx;
            data->m_rowsOut.fetch_add(1, std::memory_order_release);

            if (idx >= S) {
                if (record) {
                    ++trialIndex;
                    CMeAcqTrialzq* next =
                        trialIndex < data->m_trialCount ? data->switchTrl4Record(trialIndex, 0) : nullptr;
                    std::int64_t nextS = next ? next->getTotalSample(-1) : 0;
                    if (next && nextS >= 1 && next->getAllChannelPt()) {
                        trial = next;
                        if (run.trial) *run.trial = next;
                        S = nextS;
                        attachStimTrig(host, trialIndex, trial, 14);
                        setEegRanges(trial, dongles);
                        map.build(trial, dongles, S);
                    } else {
                        data->m_acqStatus = AcqStatus::RecordingEnded;
                        stopFlag = 1;
                    }
                }
                data->m_curSample = 0;
                data->m_roundCounter = data->m_roundCounter + 1;
                idx = 0;
            }
        }
        publishCounts(aligner, dongles);
        recovery.afterStep(now, aligner.rowsOut());

        // No look before the next row can be complete: it would only find
        // packets in part (a 33-byte packet comes in three USB frames). The
        // look after such a pause waits for bytes alone, so the packet that
        // completes the row is read as it comes.
        const std::int64_t quiet = std::min({aligner.nextRowDueUs(kUsbFrameUs), aligner.nextDeadlineUs(), now + kMaxWaitUs});
        const bool pause = quiet >= wakeUs + kMinWakeUs;
        // Otherwise bytes that come within the next moment wait for the next look.
        const std::int64_t until = pause ? quiet : afterPause ? 0 : wakeUs + kMinWakeUs;
        afterPause = pause;
        if (clock.nowUs() < until) clock.sleepUntilUs(until);
    }

    host.threadStopMonitRecordStiTrg();
    recovery.finish();
    if (record) {
        data->m_acqStatus = AcqStatus::RecordingEnded;
        handBoardInfo(data, dongles, aligner);
        data->setAcqStimTrig2Data(host.m_pStimTrig);
        data->saveAllTrials();
        if (!data->saveDataset4Record()) {
            CString msg;
            msg.Format(L"Saving the recording failed: %s", data->lastSaveError().GetString());
            CAcqDriver02Prcs::addInfoStatus(msg);
        }
        data->m_acqStatus = AcqStatus::Saved;
    } else {
        data->m_acqStatus = AcqStatus::MonitoringEnded;
    }

    for (LoopBoard* d : dongles)
        if (d) d->stopStream();
    return 1;
}

}  // namespace stream
