#include "stream/RowAligner.h"

#include <algorithm>
#include <cmath>

namespace stream {

namespace {

// Gaps up to this many samples are taken from the sample numbers alone: the
// times packets were read say little at this scale (a loop that was kept
// from running reads many packets at once).
constexpr int kTrustGap = 32;
// Packets after a doubtful one that may show it is the board's own.
constexpr std::size_t kFollowWindow = 4;

int next(int s) { return (s + 1) & 0xFF; }

// How fast a lane's origin may creep later: clocks differ by far less.
constexpr double kOriginCreep = 1e-3;

// The first packet waiting in a lane, if any (a lane may start with holds).
const CytonPacket* firstPacket(const std::deque<RowEntry>& ready) {
    for (const RowEntry& e : ready)
        if (e.kind == RowEntry::Packet) return &e.packet;
    return nullptr;
}

}  // namespace

RowAligner::RowAligner(std::size_t boards, Timing timing) : lanes_(boards), t_(timing) {}

void RowAligner::feed(std::size_t b, const std::uint8_t* data, std::size_t n, std::int64_t nowUs) {
    Lane& l = lanes_[b];
    l.decoder.feed(data, n, nowUs, l.raw);
    l.counts.badFooters = l.decoder.badFooters();
}

void RowAligner::restarted(std::size_t b) {
    Lane& l = lanes_[b];
    l.decoder.reset();
    l.restarted = true;
}

// A packet that came at arrivalUs as the lane's entry `index` puts the
// lane's origin no later than arrivalUs - index periods.
void RowAligner::place(Lane& l, std::int64_t arrivalUs, std::int64_t index) {
    const std::int64_t at = arrivalUs - index * t_.periodUs;
    if (l.originUs == INT64_MIN) {
        l.originUs = at;
    } else {
        const auto crept = static_cast<std::int64_t>(kOriginCreep * static_cast<double>(arrivalUs - l.originSeenUs));
        l.originUs = std::min(l.originUs + std::max<std::int64_t>(crept, 0), at);
    }
    l.originSeenUs = arrivalUs;
}

void RowAligner::accept(Lane& l, const CytonPacket& p, std::uint64_t missing) {
    for (std::uint64_t i = 0; i < missing; ++i) l.ready.push_back(RowEntry{RowEntry::Lost, {}});
    l.ready.push_back(RowEntry{RowEntry::Packet, p});
    place(l, p.arrivalUs, l.entries() - 1);
    l.expected = next(p.sampleNo);
    l.lastAcceptUs = p.arrivalUs;
    l.heldSinceAccept = 0;
    l.restarted = false;
    l.silent = false;
    ++l.acceptedTotal;
    if (firstSentUs_ < 0) firstSentUs_ = p.arrivalUs;
}

// Whether a packet that does not simply continue its board's sequence is
// the board's own: one of the next few packets must go on from it (and lie
// beyond it, seen from the sequence so far: gapFromExpected). A lone packet
// is taken after a while; one that none of the next goes on from was a false
// header or another board's (two boards on one channel interleave theirs).
RowAligner::Verdict RowAligner::follows(const Lane& l, const CytonPacket& h, int gapFromExpected, std::int64_t nowUs) {
    const std::size_t window = std::min<std::size_t>(l.raw.size(), kFollowWindow + 1);
    // The board's own stream going on before this packet's number: this one
    // came from another stream (that goes on too, so it would confirm itself).
    for (std::size_t i = 1; i < window; ++i)
        if (((l.raw[i].sampleNo - l.expected) & 0xFF) < gapFromExpected) return Verdict::No;
    for (std::size_t i = 1; i < window; ++i) {
        const int step = (l.raw[i].sampleNo - h.sampleNo) & 0xFF;
        if (step < 1 || step > kTrustGap) continue;
        if (((l.raw[i].sampleNo - l.expected) & 0xFF) <= gapFromExpected) continue;
        return Verdict::Yes;
    }
    if (l.raw.size() > kFollowWindow) return Verdict::No;
    if (nowUs - h.arrivalUs >= t_.confirmUs) return l.raw.size() == 1 ? Verdict::Yes : Verdict::No;
    nextDeadlineUs_ = std::min(nextDeadlineUs_, h.arrivalUs + t_.confirmUs);
    return Verdict::Wait;
}

// A stream's first packet (at the start, or once the board was started
// again) has no sequence to be judged by: the packet after it must have come
// right behind it in the bytes and go on from it. A header inside the data of
// a packet cut by the start would pass one time in eight by the numbers alone.
RowAligner::Verdict RowAligner::startsStream(const Lane& l, const CytonPacket& h, std::int64_t nowUs) {
    if (l.raw.size() > 1) {
        const CytonPacket& n = l.raw[1];
        const int step = (n.sampleNo - h.sampleNo) & 0xFF;
        return n.inStep && step >= 1 && step <= kTrustGap ? Verdict::Yes : Verdict::No;
    }
    if (nowUs - h.arrivalUs >= t_.confirmUs) return Verdict::Yes;
    nextDeadlineUs_ = std::min(nextDeadlineUs_, h.arrivalUs + t_.confirmUs);
    return Verdict::Wait;
}

void RowAligner::judge(Lane& l, std::int64_t nowUs) {
    while (!l.raw.empty()) {
        const CytonPacket h = l.raw.front();
        if (l.expected < 0) {
            const Verdict v = startsStream(l, h, nowUs);
            if (v == Verdict::Wait) return;
            if (v == Verdict::Yes) accept(l, h, 0);
            else ++l.counts.outOfSequence;
            l.raw.pop_front();
            continue;
        }
        const int d = (h.sampleNo - l.expected) & 0xFF;
        if (d == 0 && !l.restarted) {
            accept(l, h, 0);
            l.raw.pop_front();
            continue;
        }
        // Its row was given out with the board held while it was silent.
        if (d > 128 && !l.restarted && static_cast<std::uint64_t>(256 - d) <= l.heldSinceAccept) {
            ++l.counts.late;
            l.raw.pop_front();
            continue;
        }
        // A gap: taken when the next packet goes on from it; a packet that
        // the next one does not follow, or that lies beyond it, was a false
        // header or another board's.
        const Verdict v = l.restarted ? startsStream(l, h, nowUs) : follows(l, h, d, nowUs);
        if (v == Verdict::Wait) return;
        if (v == Verdict::No) {
            ++l.counts.outOfSequence;
            l.raw.pop_front();
            continue;
        }
        const std::int64_t elapsed = h.arrivalUs - l.lastAcceptUs;
        const double byTime = static_cast<double>(elapsed) / static_cast<double>(t_.periodUs) - 1.0 -
                              static_cast<double>(l.heldSinceAccept);
        std::int64_t missing = -1;
        if (!l.restarted && d <= kTrustGap) {
            missing = d;
        } else {
            // Whole wraps of the 8-bit numbers only the time can tell.
            const double k = std::max(0.0, std::round((byTime - d) / 256.0));
            const double m = d + 256.0 * k;
            if (std::fabs(m - byTime) <= std::max(16.0, 0.25 * byTime)) missing = static_cast<std::int64_t>(m);
            else if (l.restarted || elapsed >= t_.stallUs)
                missing = static_cast<std::int64_t>(std::llround(std::max(byTime, 0.0)));
        }
        if (missing < 0) {
            ++l.counts.outOfSequence;
            l.raw.pop_front();
            continue;
        }
        accept(l, h, static_cast<std::uint64_t>(missing));
        l.raw.pop_front();
    }
}

void RowAligner::start(std::int64_t nowUs) {
    started_ = true;
    for (Lane& l : lanes_)
        if (l.expected < 0) l.lastAcceptUs = nowUs;
    // Boards were started one after another: what came before the last
    // board's first packet has no partner in the other boards.
    std::int64_t latest = INT64_MIN;
    for (const Lane& l : lanes_)
        if (const CytonPacket* p = firstPacket(l.ready)) latest = std::max(latest, p->arrivalUs);
    // (A packet is let go only for a packet behind it: a hold first in a
    // queue would have nothing to hold.)
    for (Lane& l : lanes_) {
        while (l.ready.size() > 1 && l.ready[0].kind == RowEntry::Packet && l.ready[1].kind == RowEntry::Packet &&
               l.ready[0].packet.arrivalUs < latest - t_.periodUs / 2)
            l.ready.pop_front();
        // Its clock starts with what is left.
        l.originUs = INT64_MIN;
        for (std::size_t i = 0; i < l.ready.size(); ++i)
            if (l.ready[i].kind == RowEntry::Packet) place(l, l.ready[i].packet.arrivalUs, static_cast<std::int64_t>(i));
    }
    resetDrift();
}

bool RowAligner::rowReady() const {
    for (const Lane& l : lanes_)
        if (l.ready.empty()) return false;
    return !lanes_.empty();
}

void RowAligner::update(std::int64_t nowUs) {
    now_ = nowUs;
    nextDeadlineUs_ = INT64_MAX;
    for (Lane& l : lanes_) judge(l, nowUs);
    if (!started_) {
        if (rowReady() || (firstSentUs_ >= 0 && nowUs - firstSentUs_ >= t_.startUs)) start(nowUs);
        else if (firstSentUs_ >= 0) nextDeadlineUs_ = std::min(nextDeadlineUs_, firstSentUs_ + t_.startUs);
    }
    if (started_) trackDrift(rowsPending_);
    rowsPending_ = 0;
}

bool RowAligner::nextRow(std::vector<RowEntry>& row) {
    if (!started_ || lanes_.empty()) return false;
    if (!rowReady()) {
        // A row waits for a board until it has been quiet for stallUs, or
        // until the row has been otherwise complete for that long while the
        // board is as far behind its own clock (one whose packets are partly
        // another's keeps sending, but too few). A board that keeps time is
        // not held for the others running ahead: their numbers may claim
        // losses faster than time allows, and its samples must not pay.
        // Once held, a board is waited for only as long as its packets can
        // come after the others' when it is back, so that rows do not lag
        // while it is away, yet a board with a later phase is not taken for
        // silent when it returns.
        std::int64_t complete = INT64_MIN;  // when the last other board gave its part
        bool any = false;
        for (const Lane& l : lanes_) {
            if (l.ready.empty()) continue;
            any = true;
            if (const CytonPacket* p = firstPacket(l.ready)) complete = std::max(complete, p->arrivalUs);
        }
        if (!any) return false;
        // Only holds wait (a drift hold, say): the row's age says nothing.
        const bool unknown = complete == INT64_MIN;
        for (const Lane& l : lanes_) {
            if (!l.ready.empty()) continue;
            if (!l.raw.empty()) return false;  // being judged; judge() set the deadline
            const std::int64_t behind = unknown ? l.lastAcceptUs : std::max(complete, l.dueUs(t_.periodUs));
            const std::int64_t until = l.silent ? (unknown ? now_ : complete + t_.silentWaitUs)
                                                : std::min(l.lastAcceptUs, behind) + t_.stallUs;
            if (now_ < until) {
                nextDeadlineUs_ = std::min(nextDeadlineUs_, until);
                return false;
            }
        }
        for (Lane& l : lanes_) {
            if (!l.ready.empty()) continue;
            l.ready.push_back(RowEntry{RowEntry::Lost, {}});
            l.silent = true;
            ++l.heldSinceAccept;
            if (l.expected >= 0) l.expected = next(l.expected);
        }
    }
    row.resize(lanes_.size());
    for (std::size_t b = 0; b < lanes_.size(); ++b) {
        Lane& l = lanes_[b];
        row[b] = std::move(l.ready.front());
        l.ready.pop_front();
        ++l.counts.rows;
        switch (row[b].kind) {
        case RowEntry::Packet: ++l.counts.packets; break;
        case RowEntry::Lost: ++l.counts.lost; break;
        case RowEntry::DriftHold: ++l.counts.driftHeld; break;
        }
    }
    ++rowsOut_;
    ++rowsPending_;
    return true;
}

void RowAligner::resetDrift() {
    driftRef_ = -1;
    driftRowsSince_ = 0;
    for (Lane& l : lanes_) {
        l.lead = 0;
        l.baseline = 0;
        l.baselineSum = 0;
        l.baselineN = 0;
    }
}

// The first board that sends is the reference: its samples are never
// touched, and a board's lead on it is a whole number of samples that only
// the arrival of bytes blurs. A board that gains on it beyond the bound
// gives up one sample; one that falls behind holds one.
void RowAligner::trackDrift(std::int64_t rows) {
    if (rows <= 0) return;
    std::int64_t ref = -1;
    for (std::size_t b = 0; b < lanes_.size() && ref < 0; ++b)
        if (!lanes_[b].silent && lanes_[b].expected >= 0) ref = static_cast<std::int64_t>(b);
    if (ref != driftRef_) {
        resetDrift();
        driftRef_ = ref;
    }
    if (ref < 0) return;
    driftRowsSince_ += rows;
    if (driftRowsSince_ <= t_.driftSettleRows) return;
    // The lead counts whole samples queued, less the part of a period by
    // which the board's last packet came later than the reference's: so it
    // moves smoothly as the clocks part, whichever board's packet came first.
    const Lane& r = lanes_[static_cast<std::size_t>(ref)];
    const double period = static_cast<double>(t_.periodUs);
    const double refDepth = static_cast<double>(r.ready.size()) - static_cast<double>(r.lastAcceptUs) / period;
    const double alpha = 1.0 - std::exp(-static_cast<double>(rows) / t_.driftRows);
    for (std::size_t b = 0; b < lanes_.size(); ++b) {
        Lane& l = lanes_[b];
        if (static_cast<std::int64_t>(b) == ref || l.silent || l.expected < 0 || l.heldSinceAccept) continue;
        const double lead = static_cast<double>(l.ready.size()) - static_cast<double>(l.lastAcceptUs) / period - refDepth;
        if (l.baselineN < t_.driftBaselineRows) {
            l.baselineSum += lead * static_cast<double>(rows);
            l.baselineN += rows;
            l.baseline = l.baselineSum / static_cast<double>(l.baselineN);
            l.lead = l.baseline;
            continue;
        }
        l.lead += alpha * (lead - l.lead);
        // Clocks within ±100 ppm part by a sample every 20 s at most: a lead
        // that grows faster is a board out of step, not drift.
        if (rowsOut_ - l.lastAdjustRow < t_.driftMinRows) continue;
        if (l.lead - l.baseline > t_.driftBound) {
            auto it = std::find_if(l.ready.begin(), l.ready.end(),
                                   [](const RowEntry& e) { return e.kind == RowEntry::Packet; });
            if (it == l.ready.end()) continue;
            const std::int64_t row = rowsOut_ + (it - l.ready.begin());
            l.ready.erase(it);
            ++l.counts.packets;
            ++l.counts.driftDropped;
            l.lead -= 1.0;
            l.lastAdjustRow = rowsOut_;
            if (events_) events_(b, Event::DriftDropped, row);
        } else if (l.lead - l.baseline < -t_.driftBound) {
            l.ready.push_front(RowEntry{RowEntry::DriftHold, {}});
            l.lead += 1.0;
            l.lastAdjustRow = rowsOut_;
            if (events_) events_(b, Event::DriftHeld, rowsOut_);
        }
    }
}

std::int64_t RowAligner::nextRowDueUs(std::int64_t earlyUs) const {
    if (!started_) return 0;
    std::int64_t due = 0;
    for (const Lane& l : lanes_) {
        if (!l.raw.empty() || l.silent || l.restarted || l.expected < 0) return 0;
        if (l.ready.empty()) due = std::max(due, l.lastAcceptUs + t_.periodUs - earlyUs);
    }
    return due;
}

}  // namespace stream
